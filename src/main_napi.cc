// The addon for Node-API, version 3 or later (every node from 9.11 on, and
// NW.js, whose V8 is not node's), on Windows (64-bit and 32-bit) and Linux:
// registers the module and binds the script functions onto exports. Each one
// converts its arguments, calls one routine of the core (sys.h) and converts
// the result back, as main.cc does for node's own V8.
//
// Each load of the addon has a napi_env of its own (from node 12 on even two
// loads in one context: a cleared require cache, process.dlopen, another
// window of NW.js). Every load on the main thread may watch; the process has
// one watch, whose script values live in the napi_env that made it or that
// last replaced it.
#include "async.h"
#include "sys.h"

#include <node_api.h>
#include <stdio.h>
#include <stdlib.h>

// The napi_env that the active watch belongs to; null while nothing is
// watched.
static napi_env s_watchEnv;
// The watch callback, a reference in s_watchEnv; null when none is stored.
static napi_ref s_callback;
// The async_hooks resource in whose name the watch's callback runs, a
// reference in s_watchEnv; null when the watch has none.
static napi_ref s_asyncResource;
// Its async_hooks identity, from its creation with the watch.
static napi_async_context s_asyncContext;

// Entry points that some runtimes lack, looked up at load as the imports are.
// The version is asked before anything relies on Node-API version 3: a
// runtime below it lacks imports, and that lack would hide the reason.
static decltype(&napi_get_version) s_napi_get_version;
// Node 10.2 on.
static decltype(&napi_add_env_cleanup_hook) s_napi_add_env_cleanup_hook;

// ---------------------------------------------------------------------------
// Conversions

// Argument value as a string, converted as the script's own `${value}`
// would, in NUL-terminated UTF-8. A short text, as key names and modes are,
// is written into the record itself: a heap block for it would cost as much
// as the rest of the call. text is null when the conversion threw (a Symbol,
// an object whose toString throws; or no memory is left for a long text):
// the function then returns at once, so that the exception reaches the
// script.
struct TextArgument {
  TextArgument(napi_env env, napi_value value) : text(NULL) {
    napi_value string;
    size_t length;
    if (napi_coerce_to_string(env, value, &string) != napi_ok ||
        napi_get_value_string_utf8(env, string, shortText, sizeof(shortText), &length) != napi_ok) {
      return;
    }
    // The copy stops before a character that does not fit whole, which
    // takes four bytes at most: with that much room left, the text is whole.
    if (length + 4 < sizeof(shortText)) {
      text = shortText;
      return;
    }
    if (napi_get_value_string_utf8(env, string, NULL, 0, &length) != napi_ok) return;
    text = static_cast<char*>(malloc(length + 1));
    if (text != NULL &&
        napi_get_value_string_utf8(env, string, text, length + 1, &length) != napi_ok) {
      free(text);
      text = NULL;
    }
  }
  ~TextArgument() {
    if (text != shortText) free(text);
  }
  char* text;
  char shortText[64];
};

// The call's first count arguments; those it lacks are undefined.
template <size_t count>
static size_t Arguments(napi_env env, napi_callback_info info, napi_value (&argv)[count]) {
  size_t argc = count;
  if (napi_get_cb_info(env, info, &argc, argv, NULL, NULL) != napi_ok) argc = 0;
  for (size_t i = argc; i < count; ++i) napi_get_undefined(env, &argv[i]);
  return argc;
}

// Results; null, which leaves undefined, when the value cannot be made.
static napi_value NewNumber(napi_env env, double value) {
  napi_value result;
  return napi_create_double(env, value, &result) == napi_ok ? result : NULL;
}

static napi_value NewString(napi_env env, const char* text) {
  napi_value result;
  return napi_create_string_utf8(env, text, NAPI_AUTO_LENGTH, &result) == napi_ok ? result : NULL;
}

// ---------------------------------------------------------------------------
// Script functions

static napi_value getUserIdleTime(napi_env env, napi_callback_info) {
  return NewNumber(env, static_cast<double>(UserIdleTime()));
}

static napi_value getKnownDirectory(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  Arguments(env, info, argv);
  TextArgument name(env, argv[0]);
  if (name.text == NULL) return NULL;
  char* path = resolveKnownDirectory(name.text);
  napi_value result = NewString(env, path != NULL ? path : "");
  free(path);
  return result;
}

static napi_value getProcessesOfSameExeFile(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  int32_t pid = 0;
  napi_valuetype type;
  double value;
  if (Arguments(env, info, argv) >= 1 && napi_typeof(env, argv[0], &type) == napi_ok &&
      type == napi_number && napi_get_value_double(env, argv[0], &value) == napi_ok) {
    pid = ToProcessId(value);
  }
  napi_value result;
  if (napi_create_array(env, &result) != napi_ok) return NULL;
  int count;
  ProcessIdPair* pairs = ProcessesOfSameExeFile(pid, &count);
  for (int i = 0; i < count; ++i) {
    napi_value item;
    if (napi_create_object(env, &item) != napi_ok) break;
    napi_set_named_property(env, item, "pid", NewNumber(env, static_cast<int32_t>(pairs[i].pid)));
    napi_set_named_property(env, item, "ppid", NewNumber(env, static_cast<int32_t>(pairs[i].ppid)));
    napi_set_element(env, result, static_cast<uint32_t>(i), item);
  }
  free(pairs);
  return result;
}

static napi_value findChromeWindow(napi_env env, napi_callback_info) {
  return NewNumber(env, FindChromeWindowHandle());
}

static napi_value getKeyState(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  Arguments(env, info, argv);
  TextArgument name(env, argv[0]);
  if (name.text == NULL) return NULL;
  return NewNumber(env, KeyStateOf(name.text));
}

static napi_value simulateKeys(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  Arguments(env, info, argv);
  TextArgument keys(env, argv[0]);
  if (keys.text == NULL) return NULL;
  TextArgument mode(env, argv[1]);
  if (mode.text != NULL) SendKeyChord(keys.text, mode.text);
  return NULL;
}

static napi_value setBadge(napi_env env, napi_callback_info info) {
  napi_value argv[1];
  Arguments(env, info, argv);
  TextArgument text(env, argv[0]);
  if (text.text != NULL) SetBadge(text.text);
  return NULL;
}

// An exception of the callback's goes where node sends an uncaught one
// (process 'uncaughtException'), at once, as main.cc's verbose TryCatch sends
// it.
static void ReportUncaught(napi_env env) {
  napi_value error;
  if (napi_get_and_clear_last_exception(env, &error) == napi_ok) napi_fatal_exception(env, error);
}

// Calls the callback as node calls its own, inside a callback scope, so that
// the ticks and promise reactions it schedules run as soon as it returns; the
// next event of the batch is delivered as usual. napi_make_callback would do
// the same, but converts its receiver to an object: the callback is called
// with null, as main.cc calls it.
static void DeliverEvent(SysEvent* event) {
  napi_env env = s_watchEnv;
  napi_handle_scope handleScope;
  if (s_callback == NULL || napi_open_handle_scope(env, &handleScope) != napi_ok) return;
  napi_value callback, resource, receiver, result;
  napi_value argv[2] = {NewString(env, event->type), NewString(env, event->state)};
  napi_callback_scope callbackScope;
  if (argv[0] != NULL && argv[1] != NULL &&
      napi_get_reference_value(env, s_callback, &callback) == napi_ok &&
      napi_get_reference_value(env, s_asyncResource, &resource) == napi_ok &&
      napi_get_null(env, &receiver) == napi_ok &&
      napi_open_callback_scope(env, resource, s_asyncContext, &callbackScope) == napi_ok) {
    if (napi_call_function(env, receiver, callback, 2, argv, &result) == napi_pending_exception) {
      ReportUncaught(env);
    }
    napi_close_callback_scope(env, callbackScope);
  }
  napi_close_handle_scope(env, handleScope);
}

static void ReleaseCallback() {
  if (s_callback != NULL) napi_delete_reference(s_watchEnv, s_callback);
  s_callback = NULL;
}

// Only a function is kept: any other value would never be called.
static void StoreCallback(napi_env env, napi_value callback) {
  ReleaseCallback();
  napi_valuetype type;
  if (napi_typeof(env, callback, &type) == napi_ok && type == napi_function) {
    napi_create_reference(env, callback, 1, &s_callback);
  }
}

// Forgets the watch's async context; its napi_env ends it unless destroyed is
// set.
static void ForgetAsyncContext(bool destroyed) {
  if (s_asyncResource == NULL) return;
  if (destroyed) napi_async_destroy(s_watchEnv, s_asyncContext);
  napi_delete_reference(s_watchEnv, s_asyncResource);
  s_asyncResource = NULL;
  s_asyncContext = NULL;
}

// Once nothing is watched, no script value of a watch is kept.
static void ForgetEndedWatch() {
  if (ActiveWatch() != 0) return;
  ReleaseCallback();
  ForgetAsyncContext(true);
  s_watchEnv = NULL;
}

// Gives the watch an async_hooks resource and identity in its napi_env.
static bool GiveAsyncContext(uint32_t watch) {
  napi_env env = s_watchEnv;
  napi_value resource, name;
  napi_async_context context;
  if (napi_create_object(env, &resource) != napi_ok ||
      (name = NewString(env, "velmora_node_sys:watch")) == NULL ||
      napi_async_init(env, resource, name, &context) != napi_ok) {
    return false;
  }
  // The init hooks may have ended the watch, or moved it to another napi_env.
  if (ActiveWatch() == watch && s_watchEnv == env &&
      napi_create_reference(env, resource, 1, &s_asyncResource) == napi_ok) {
    s_asyncContext = context;
  } else {
    napi_async_destroy(env, context);
  }
  return true;
}

// Another napi_env's watch replaces it, as a second watch does, and moves to
// env: the old callback and context are released in their own napi_env, and
// the watch gets a new context in env. -3, with nothing watched, when that
// context cannot be made.
static int32_t MoveWatch(napi_env env, napi_value callback, bool power) {
  ReleaseCallback();
  ForgetAsyncContext(true);
  s_watchEnv = env;
  StoreCallback(env, callback);
  WatchPowerEvents(power);
  if (GiveAsyncContext(ActiveWatch())) return 1;
  EndWatch();
  return -3;
}

// The options opt into the power events when they are an object whose power
// property is true; nothing else of them is read. False when reading it threw.
static bool PowerOption(napi_env env, napi_value options, bool* power) {
  *power = false;
  napi_valuetype type;
  napi_value value;
  if (napi_typeof(env, options, &type) != napi_ok || (type != napi_object && type != napi_function)) {
    return true;
  }
  if (napi_get_named_property(env, options, "power", &value) != napi_ok) return false;
  if (napi_typeof(env, value, &type) == napi_ok && type == napi_boolean) {
    napi_get_value_bool(env, value, power);
  }
  return true;
}

static napi_value watch(napi_env env, napi_callback_info info) {
  napi_value argv[2];
  Arguments(env, info, argv);
  bool power;
  if (!PowerOption(env, argv[1], &power)) return NULL;
  int32_t status;
  if (ActiveWatch() != 0 && s_watchEnv != env) {
    status = MoveWatch(env, argv[0], power);
  } else {
    s_watchEnv = env;
    StoreCallback(env, argv[0]);
    uv_loop_t* loop;
    if (napi_get_uv_event_loop(env, &loop) != napi_ok) loop = NULL;
    status = Watch(loop, DeliverEvent, power, GiveAsyncContext);
  }
  ForgetEndedWatch();
  return NewNumber(env, status);
}

// Any load's unwatch ends the watch, wherever it was made.
static napi_value unwatch(napi_env env, napi_callback_info) {
  bool watched = EndWatch();
  ForgetEndedWatch();
  napi_value result;
  return napi_get_boolean(env, watched, &result) == napi_ok ? result : NULL;
}

// ---------------------------------------------------------------------------
// The module

// Runs while a napi_env ends, once for each load that registered it (two
// loads in one context share a napi_env in node 10): the watch ends with the
// napi_env that it belongs to, and its script values are not touched again.
// Their napi_env ends its async context.
static void EndOfLoad(void* load) {
  napi_env env = *static_cast<napi_env*>(load);
  free(load);
  if (env != s_watchEnv) return;
  EndWatch();
  ForgetAsyncContext(false);
  ForgetEndedWatch();
}

static void SetMethod(napi_env env, napi_value exports, const char* name, napi_callback callback) {
  napi_value function;
  if (napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, NULL, &function) == napi_ok) {
    napi_set_named_property(env, exports, name, function);
  }
}

// The addon's state (the watch, the event sources' threads) is one per
// process and runs on the main thread's loop, so a worker thread gets an
// error instead of a second, broken copy of that state.
static napi_value InitModule(napi_env env, napi_value exports) {
  s_napi_get_version =
      reinterpret_cast<decltype(s_napi_get_version)>(HostEntryPoint("napi_get_version"));
  s_napi_add_env_cleanup_hook = reinterpret_cast<decltype(s_napi_add_env_cleanup_hook)>(
      HostEntryPoint("napi_add_env_cleanup_hook"));
  uint32_t version = 0;
  if (s_napi_get_version == NULL || s_napi_get_version(env, &version) != napi_ok) version = 0;
  char message[1024];
  if (version < 3) {
    snprintf(message, sizeof(message),
             "velmora_node_sys needs Node-API version 3 or later; this runtime has %u", version);
  } else if (MissingHostImport() != NULL) {
    snprintf(message, sizeof(message),
             "velmora_node_sys cannot run in this host: it does not export %s", MissingHostImport());
  } else if (!OnProcessMainThread()) {
    snprintf(message, sizeof(message),
             "velmora_node_sys can be loaded on the main thread only, not in a worker thread");
  } else {
    napi_env* load = static_cast<napi_env*>(malloc(sizeof(napi_env)));
    if (s_napi_add_env_cleanup_hook != NULL && load != NULL) {
      *load = env;
      s_napi_add_env_cleanup_hook(env, EndOfLoad, load);
    } else {
      free(load);
    }
    SetMethod(env, exports, "getUserIdleTime", getUserIdleTime);
    SetMethod(env, exports, "getKnownDirectory", getKnownDirectory);
    SetMethod(env, exports, "getProcessesOfSameExeFile", getProcessesOfSameExeFile);
    SetMethod(env, exports, "findChromeWindow", findChromeWindow);
    SetMethod(env, exports, "getKeyState", getKeyState);
    SetMethod(env, exports, "simulateKeys", simulateKeys);
    SetMethod(env, exports, "setBadge", setBadge);
    SetMethod(env, exports, "watch", watch);
    SetMethod(env, exports, "unwatch", unwatch);
    return exports;
  }
  napi_throw_error(env, NULL, message);
  return NULL;
}

// Two registrations, for two kinds of runtime. Node 9 takes only a module
// that registers itself as the library loads; Node 10 on take that too, but
// only once per process: a later load (another napi_env's on the main thread,
// or a worker thread's) finds the library loaded already, and looks for the
// exported initialiser instead.
static napi_module s_module = {1, 0, __FILE__, InitModule, "velmora_node_sys", NULL, {NULL}};
static const bool s_moduleRegistered = (napi_module_register(&s_module), true);

extern "C" NAPI_MODULE_EXPORT napi_value napi_register_module_v1(napi_env env, napi_value exports) {
  return InitModule(env, exports);
}

// The releases that look for it hold the module to the Node-API version it
// was built for, as the headers' own registration macro tells them.
extern "C" NAPI_MODULE_EXPORT int32_t node_api_module_get_api_version_v1(void) {
  return NAPI_VERSION;
}
