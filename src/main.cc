// Binds the addon to its host's node, libuv and V8 entry points, registers the
// module with node and binds the script functions onto exports.
#include "sys_win.h"

#include <uv.h>
#include <windows.h>
#include <delayimp.h>
#include <stdio.h>
#include <stdlib.h>

// The first entry point that no module of the host exports; null when the
// host has them all.
static const char* s_missingImport;

// ---------------------------------------------------------------------------
// Host entry points. The addon is linked against node.exe, but delay-loaded,
// so that this hook can find each entry point wherever the host keeps it.

// Each import comes from the first of these that is loaded and exports it:
// node.dll holds node's and libuv's functions in NW.js, nw.dll holds V8's
// there; the process image holds them all in node.exe, and in an embedder
// that links node statically under another name. None is ever loaded here:
// binding to a second, uninitialised node would defeat the point.
static FARPROC FindHostExport(const char* name) {
  static const wchar_t* const modules[] = {L"node.dll", L"nw.dll", NULL /* the process image */};
  for (const wchar_t* module : modules) {
    HMODULE handle = GetModuleHandleW(module);
    FARPROC function = handle != NULL ? GetProcAddress(handle, name) : NULL;
    if (function != NULL) return function;
  }
  return NULL;
}

static FARPROC WINAPI HostImportHook(unsigned notification, PDelayLoadInfo info) {
  // The process image stands for "node.exe", whatever the host is called,
  // so that the helper never loads a node.exe from the search path.
  if (notification == dliNotePreLoadLibrary) {
    return reinterpret_cast<FARPROC>(GetModuleHandleW(NULL));
  }
  if (notification == dliNotePreGetProcAddress && info->dlp.fImportByName) {
    return FindHostExport(info->dlp.szProcName);
  }
  return NULL;
}

// Stands in for an entry point that the host lacks. InitModule reports the
// lack before anything could call it; it runs only if the lack is in the very
// calls that report it, or in node_module_register.
static void MissingImport() {
  fprintf(stderr, "velmora_node_sys: the host does not export %s\n", s_missingImport);
  fflush(stderr);
  abort();
}

static FARPROC WINAPI HostImportFailureHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliFailGetProc) return NULL;
  if (s_missingImport == NULL) {
    s_missingImport = info->dlp.fImportByName ? info->dlp.szProcName : "an entry point by ordinal";
  }
  return reinterpret_cast<FARPROC>(MissingImport);
}

// decltype: MSVC's delayimp.h declares the hooks const, mingw-w64's does not.
decltype(__pfnDliNotifyHook2) __pfnDliNotifyHook2 = HostImportHook;
decltype(__pfnDliFailureHook2) __pfnDliFailureHook2 = HostImportFailureHook;

// Binds every import while the library loads, before the module record below
// is registered (static initialisers run in the order they are defined), so
// that a host lacking one is found out by require() rather than by a crash at
// the first call. In a build that links node's libraries directly there is
// nothing delay-loaded to bind, and the call does nothing.
static const HRESULT s_hostImportsBound = __HrLoadAllImportsForDll("node.exe");

// ---------------------------------------------------------------------------
// The module

// Released by unwatch or a replacing watch, never by a destructor: when the C
// runtime shuts down, the host may have disposed of the isolate already.
v8::Persistent<v8::Value> s_callback;

// Makes require() throw an Error with this message; the only errors the addon
// throws, both about loading it where it cannot work.
static void ThrowLoadError(v8::Isolate* isolate, const char* message) {
  v8::Local<v8::String> text;
  if (v8::String::NewFromUtf8(isolate, message, v8::NewStringType::kNormal).ToLocal(&text)) {
    isolate->ThrowException(v8::Exception::Error(text));
  }
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

// Worker threads came with Node 10.5 (module 64). The NW.js releases on Node
// 9.0 to 9.2 lack GetCurrentEventLoop, so module 59 neither needs nor makes
// the call: the one place where the versions differ in code.
static bool OnWorkerThread(v8::Isolate* isolate) {
#if NODE_MODULE_VERSION >= 64
  return node::GetCurrentEventLoop(isolate) != uv_default_loop();
#else
  (void)isolate;
  return false;
#endif
}

// The addon's state (the watch callback, the event queue, the window thread)
// is one per process and bound to the main thread's loop, so a worker thread
// that loads it gets an error instead of a second, broken copy of that state.
static void InitModule(v8::Local<v8::Object> exports, v8::Local<v8::Value>, void*) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  if (s_missingImport != NULL) {
    char message[1024];
    snprintf(message, sizeof(message),
             "velmora_node_sys cannot run in this host: it does not export %s", s_missingImport);
    ThrowLoadError(isolate, message);
    return;
  }
  if (OnWorkerThread(isolate)) {
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
