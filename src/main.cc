// The addon for node's own V8 (Node 9, module version 59): registers the
// module with node and binds the script functions onto exports. Each one
// converts its arguments, calls one routine of the core (sys.h) and converts the
// result back. main_napi.cc is the same for Node-API.
// node.h first: it defines PATH_MAX unless a C runtime header has.
#include <node.h>

#include "async.h"
#include "sys.h"

#include <stdio.h>
#include <stdlib.h>

// The watch callback. Released by unwatch or a replacing watch, never by a
// destructor: when the C runtime shuts down, the host may have disposed of
// the isolate already.
static v8::Persistent<v8::Value> s_callback;
// The async_hooks resource in whose name the active watch's callback runs.
static v8::Persistent<v8::Object> s_asyncResource;
// Its async_hooks identity, from its creation with the watch.
static node::async_context s_asyncContext;

// ---------------------------------------------------------------------------
// Conversions

// Argument index as a script string, converted as the script's own
// `${value}` would; an absent argument reads as "undefined". The handle is
// empty when the conversion threw (a Symbol, an object whose toString
// throws), and the exception stays for the script.
static v8::Local<v8::String> StringArgument(const v8::FunctionCallbackInfo<v8::Value>& args,
                                            int index) {
  return args[index]->ToString(args.GetIsolate()->GetCurrentContext())
      .FromMaybe(v8::Local<v8::String>());
}

// Argument index as NUL-terminated UTF-8, written as String::Utf8Value would
// write it. A short text, as key names and modes are, is written into the
// record itself: a heap block for it would cost as much as the rest of the
// call. text is null when the conversion threw (or no memory is left for a
// long text): the function then returns at once, so that the exception
// reaches the script.
struct TextArgument {
  TextArgument(const v8::FunctionCallbackInfo<v8::Value>& args, int index) : text(NULL) {
    v8::Local<v8::String> string = StringArgument(args, index);
    if (string.IsEmpty()) return;
    // UTF-8 takes at most three bytes for each UTF-16 unit.
    if (string->Length() < static_cast<int>(sizeof(shortText)) / 3) {
      text = shortText;
    } else {
      text = static_cast<char*>(malloc(string->Utf8Length() + 1));
      if (text == NULL) return;
    }
    string->WriteUtf8(text);
  }
  ~TextArgument() {
    if (text != shortText) free(text);
  }
  char* text;
  char shortText[64];
};

// A script string from NUL-terminated UTF-8; empty when V8 cannot make it.
static v8::Local<v8::String> NewString(v8::Isolate* isolate, const char* text) {
  return v8::String::NewFromUtf8(isolate, text, v8::NewStringType::kNormal, -1)
      .FromMaybe(v8::Local<v8::String>());
}

// ---------------------------------------------------------------------------
// Script functions

static void getUserIdleTime(const v8::FunctionCallbackInfo<v8::Value>& args) {
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), static_cast<double>(UserIdleTime())));
}

static void getKnownDirectory(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  TextArgument name(args, 0);
  if (name.text == NULL) return;
  char* path = resolveKnownDirectory(name.text);
  args.GetReturnValue().Set(NewString(isolate, path != NULL ? path : ""));
  free(path);
}

static void getProcessesOfSameExeFile(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Context> context = isolate->GetCurrentContext();
  int32_t pid = 0;
  if (args.Length() >= 1 && args[0]->IsNumber()) {
    pid = ToProcessId(args[0].As<v8::Number>()->Value());
  }
  v8::Local<v8::Array> result = v8::Array::New(isolate, 0);
  int count;
  ProcessIdPair* pairs = ProcessesOfSameExeFile(pid, &count);
  v8::Local<v8::String> pidKey = NewString(isolate, "pid");
  v8::Local<v8::String> ppidKey = NewString(isolate, "ppid");
  for (int i = 0; i < count && !pidKey.IsEmpty() && !ppidKey.IsEmpty(); ++i) {
    v8::Local<v8::Object> item = v8::Object::New(isolate);
    (void)item->Set(context, pidKey, v8::Number::New(isolate, static_cast<int32_t>(pairs[i].pid)));
    (void)item->Set(context, ppidKey, v8::Number::New(isolate, static_cast<int32_t>(pairs[i].ppid)));
    (void)result->Set(context, static_cast<uint32_t>(i), item);
  }
  free(pairs);
  args.GetReturnValue().Set(result);
}

static void findChromeWindow(const v8::FunctionCallbackInfo<v8::Value>& args) {
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), FindChromeWindowHandle()));
}

static void getKeyState(const v8::FunctionCallbackInfo<v8::Value>& args) {
  TextArgument name(args, 0);
  if (name.text == NULL) return;
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), KeyStateOf(name.text)));
}

static void simulateKeys(const v8::FunctionCallbackInfo<v8::Value>& args) {
  TextArgument keys(args, 0);
  if (keys.text == NULL) return;
  TextArgument mode(args, 1);
  if (mode.text == NULL) return;
  SendKeyChord(keys.text, mode.text);
}

static void setBadge(const v8::FunctionCallbackInfo<v8::Value>& args) {
  TextArgument text(args, 0);
  if (text.text != NULL) SetBadge(text.text);
}

// Calls the callback as node calls its own: inside a callback scope, so that
// the ticks and promise reactions it schedules run as soon as it returns; the
// next event of the batch is delivered as usual. An exception it throws is
// reported as uncaught (process 'uncaughtException') at once, by a verbose
// TryCatch of its own: caught by the scope's instead, it would leave the
// callback's ticks to the next callback. A value that is not a function is
// kept but never called.
static void DeliverEvent(SysEvent* event) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> callback = v8::Local<v8::Value>::New(isolate, s_callback);
  if (callback.IsEmpty() || !callback->IsFunction()) return;
  v8::Local<v8::Value> argv[2] = {NewString(isolate, event->type), NewString(isolate, event->state)};
  if (argv[0].IsEmpty() || argv[1].IsEmpty()) return;
  v8::Local<v8::Object> resource = v8::Local<v8::Object>::New(isolate, s_asyncResource);
  node::CallbackScope callbackScope(isolate, resource, s_asyncContext);
  v8::TryCatch tryCatch(isolate);
  tryCatch.SetVerbose(true);
  (void)callback.As<v8::Function>()->Call(isolate->GetCurrentContext(), v8::Null(isolate), 2, argv);
}

// The options opt into the power events when they are an object whose power
// property is true; nothing else of them is read. False when reading it threw.
static bool PowerOption(const v8::FunctionCallbackInfo<v8::Value>& args, bool* power) {
  *power = false;
  if (!args[1]->IsObject()) return true;
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::String> key = NewString(isolate, "power");
  v8::Local<v8::Value> value;
  if (key.IsEmpty() ||
      !args[1].As<v8::Object>()->Get(isolate->GetCurrentContext(), key).ToLocal(&value)) {
    return false;
  }
  *power = value->IsTrue();
  return true;
}

// Gives the watch its async_hooks resource and identity, in whose name its
// callback runs.
static bool GiveAsyncContext(uint32_t watch) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Object> resource = v8::Object::New(isolate);
  node::async_context context = node::EmitAsyncInit(isolate, resource, "velmora_node_sys:watch");
  if (ActiveWatch() == watch) {
    s_asyncResource.Reset(isolate, resource);
    s_asyncContext = context;
  } else {
    node::EmitAsyncDestroy(isolate, context);
  }
  return true;
}

static void watch(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  bool power;
  if (!PowerOption(args, &power)) return;
  s_callback.Reset(isolate, args[0]);
  int32_t status = Watch(uv_default_loop(), DeliverEvent, power, GiveAsyncContext);
  args.GetReturnValue().Set(v8::Number::New(isolate, status));
}

static void unwatch(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  s_callback.Reset();
  bool watched = EndWatch();
  // Empty when an init hook of this very watch calls unwatch.
  if (!s_asyncResource.IsEmpty()) {
    node::EmitAsyncDestroy(isolate, s_asyncContext);
    s_asyncResource.Reset();
  }
  args.GetReturnValue().Set(watched);
}

// ---------------------------------------------------------------------------
// The module

// Makes require() throw an Error with this message: the only errors the
// addon throws, both about loading it where it cannot work.
static void ThrowLoadError(v8::Isolate* isolate, const char* message) {
  v8::Local<v8::String> text = NewString(isolate, message);
  if (!text.IsEmpty()) isolate->ThrowException(v8::Exception::Error(text));
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
  v8::Local<v8::String> key = NewString(isolate, name);
  if (!tmpl->GetFunction(context).ToLocal(&function) || key.IsEmpty()) return;
  function->SetName(key);
  (void)target->Set(context, key, function);
}

// The addon's state (the watch callback, the event queue, the window thread)
// is one per process and bound to the main thread's loop, so a worker thread
// that loads it (in a build of this file for a later node, with nw-gyp) gets
// an error instead of a second, broken copy of that state.
static void InitModule(v8::Local<v8::Object> exports, v8::Local<v8::Value>, void*) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  if (MissingHostImport() != NULL) {
    char message[1024];
    snprintf(message, sizeof(message),
             "velmora_node_sys cannot run in this host: it does not export %s", MissingHostImport());
    ThrowLoadError(isolate, message);
    return;
  }
  if (!OnProcessMainThread()) {
    ThrowLoadError(isolate,
                   "velmora_node_sys can be loaded on the main thread only, not in a worker thread");
    return;
  }
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
