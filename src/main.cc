// Registers the module with node and binds the script functions onto exports.
#include "sys_win.h"

#include <uv.h>

// Defined before the module record so that its static initialiser (empty
// handle, disposal registered with atexit) runs before the registration.
v8::Persistent<v8::Value, v8::CopyablePersistentTraits<v8::Value>> s_callback;

// node runs its at-exit hooks before it disposes of the isolate, whereas the
// C runtime destroys s_callback only when the library is unloaded, after that:
// disposing a global handle then would write to freed memory. Releasing the
// callback here leaves the destructor nothing to do.
static void ReleaseCallbackAtExit(void*) {
  s_callback.Reset();
}

static void SetMethod(v8::Local<v8::Object> target, const char* name,
                      v8::FunctionCallback callback) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  v8::Local<v8::FunctionTemplate> tmpl =
      v8::FunctionTemplate::New(isolate, callback, v8::Local<v8::Value>(),
                                v8::Local<v8::Signature>(), 0,
                                v8::ConstructorBehavior::kAllow);
  v8::Local<v8::Function> function;
  v8::Local<v8::String> key;
  if (!tmpl->GetFunction(context).ToLocal(&function) ||
      !v8::String::NewFromUtf8(isolate, name, v8::NewStringType::kNormal, -1).ToLocal(&key)) {
    return;
  }
  function->SetName(key);
  (void)target->Set(context, key, function);
}

// The addon's state (the watch callback, the event queue, the window thread)
// is one per process and bound to the main thread's loop, so a worker thread
// that loads it gets an error instead of a second, broken copy of that state.
static void InitModule(v8::Local<v8::Object> exports, v8::Local<v8::Value>, void*) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  if (node::GetCurrentEventLoop(isolate) != uv_default_loop()) {
    v8::Local<v8::String> message;
    if (v8::String::NewFromUtf8(isolate, "velmora_node_sys can be loaded on the main thread only, "
                                "not in a worker thread", v8::NewStringType::kNormal, -1)
            .ToLocal(&message)) {
      isolate->ThrowException(v8::Exception::Error(message));
    }
    return;
  }
  node::AtExit(ReleaseCallbackAtExit);
  SetMethod(exports, "getUserIdleTime", getUserIdleTime);
  SetMethod(exports, "getKnownDirectory", getKnownDirectory);
  SetMethod(exports, "getProcessesOfSameExeFile", getProcessesOfSameExeFile);
  SetMethod(exports, "findChromeWindow", findChromeWindow);
  SetMethod(exports, "getKeyState", getKeyState);
  SetMethod(exports, "simulateKeys", simulateKeys);
  SetMethod(exports, "setBadge", setBadge);
  SetMethod(exports, "watch", watch);
  SetMethod(exports, "unwatch", unwatch);
}

NODE_MODULE(velmora_node_sys, InitModule)
