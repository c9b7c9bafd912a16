// event_window_driver: sends the hidden event window of an addon loaded in the
// same process the messages that the system would send it. A Node-API
// addon, so that it loads in the node.exe of every release.
//
//   countEventWindows()                     top-level windows of this process of the class
//   send(message, wParam[, lParam])         SendMessage; its result
//   post(message, wParam, lParam)           PostMessage, as any process can
//   sendPowerSetting(guid, value, length[, how])
//                                           WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, with
//                                           a POWERBROADCAST_SETTING whose DataLength is
//                                           length and whose data starts with value, sent
//                                           as how says: "send" (SendMessage, the default),
//                                           "notify" (SendNotifyMessage from a thread of its
//                                           own) or "own" (SendMessage from the window's own
//                                           thread, inside a message hook); done when it returns
//   event(name, set)                        a named manual-reset event, made unset if new
//                                           and kept for the process's life; set if set
//
// A call that finds no window throws.
#include <node_api.h>
#include <windows.h>
#include <rpc.h>
#include <stdlib.h>
#include <string.h>

struct WindowSearch {
  DWORD pid;
  HWND found;
  int count;
};

static BOOL CALLBACK CountEventWindow(HWND window, LPARAM searchParam) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(searchParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[64];
  if (pid == search->pid && GetClassNameA(window, className, sizeof(className)) > 0 &&
      strcmp(className, "velmora_node_sys_wc") == 0) {
    search->found = window;
    ++search->count;
  }
  return TRUE;
}

static WindowSearch FindEventWindows() {
  WindowSearch search = {GetCurrentProcessId(), NULL, 0};
  EnumWindows(CountEventWindow, reinterpret_cast<LPARAM>(&search));
  return search;
}

// The call's arguments: numbers, and at most one text of up to 63 bytes.
struct Arguments {
  double numbers[4];
  char text[64];
};

static Arguments Read(napi_env env, napi_callback_info info, int textIndex) {
  Arguments arguments = {{0, 0, 0, 0}, ""};
  napi_value argv[4];
  size_t argc = 4;
  napi_get_cb_info(env, info, &argc, argv, NULL, NULL);
  for (size_t i = 0; i < argc; ++i) {
    size_t length;
    if (static_cast<int>(i) == textIndex) {
      napi_get_value_string_utf8(env, argv[i], arguments.text, sizeof(arguments.text), &length);
    } else {
      napi_value number;
      napi_coerce_to_number(env, argv[i], &number);
      napi_get_value_double(env, number, &arguments.numbers[i]);
    }
  }
  return arguments;
}

static napi_value Number(napi_env env, double value) {
  napi_value result;
  napi_create_double(env, value, &result);
  return result;
}

static HWND EventWindow(napi_env env) {
  HWND window = FindEventWindows().found;
  if (window == NULL) napi_throw_error(env, NULL, "no velmora_node_sys_wc window in this process");
  return window;
}

static napi_value countEventWindows(napi_env env, napi_callback_info) {
  return Number(env, FindEventWindows().count);
}

static napi_value send(napi_env env, napi_callback_info info) {
  Arguments args = Read(env, info, -1);
  HWND window = EventWindow(env);
  if (window == NULL) return NULL;
  return Number(env, static_cast<double>(SendMessageA(window, static_cast<UINT>(args.numbers[0]),
                                                      static_cast<WPARAM>(args.numbers[1]),
                                                      static_cast<LPARAM>(args.numbers[2]))));
}

static napi_value post(napi_env env, napi_callback_info info) {
  Arguments args = Read(env, info, -1);
  HWND window = EventWindow(env);
  if (window == NULL) return NULL;
  return Number(env, PostMessageA(window, static_cast<UINT>(args.numbers[0]),
                                  static_cast<WPARAM>(args.numbers[1]),
                                  static_cast<LPARAM>(args.numbers[2])));
}

static napi_value event(napi_env env, napi_callback_info info) {
  Arguments args = Read(env, info, 0);
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, args.text);
  if (args.numbers[1] != 0) SetEvent(event);
  return NULL;
}

// The record in flight for "notify" and "own".
static HWND s_window;
static POWERBROADCAST_SETTING* s_record;

// A notification returns at once; the plain send behind it returns once the
// window's thread has handled both, in order.
static DWORD WINAPI NotifyPowerSetting(LPVOID) {
  SendNotifyMessageA(s_window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                     reinterpret_cast<LPARAM>(s_record));
  SendMessageA(s_window, WM_NULL, 0, 0);
  return 0;
}

// Runs on the window's thread when it takes a message from its queue.
static HHOOK s_hook;
static HANDLE s_hookDone;

static LRESULT CALLBACK SendFromOwnThread(int code, WPARAM wParam, LPARAM lParam) {
  if (s_record != NULL) {
    SendMessageA(s_window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                 reinterpret_cast<LPARAM>(s_record));
    s_record = NULL;
    SetEvent(s_hookDone);
  }
  return CallNextHookEx(s_hook, code, wParam, lParam);
}

static napi_value sendPowerSetting(napi_env env, napi_callback_info info) {
  napi_value argv[4];
  size_t argc = 4;
  napi_get_cb_info(env, info, &argc, argv, NULL, NULL);
  char guidText[64] = "";
  char how[16] = "send";
  size_t length;
  napi_get_value_string_utf8(env, argv[0], guidText, sizeof(guidText), &length);
  if (argc > 3) napi_get_value_string_utf8(env, argv[3], how, sizeof(how), &length);
  double value, dataLength;
  napi_get_value_double(env, argv[1], &value);
  napi_get_value_double(env, argv[2], &dataLength);
  s_window = EventWindow(env);
  if (s_window == NULL) return NULL;
  POWERBROADCAST_SETTING* record =
      static_cast<POWERBROADCAST_SETTING*>(calloc(1, sizeof(POWERBROADCAST_SETTING) + 4));
  if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(guidText), &record->PowerSetting) != RPC_S_OK) {
    free(record);
    napi_throw_error(env, NULL, "not a GUID");
    return NULL;
  }
  DWORD data = static_cast<DWORD>(value);
  memcpy(record->Data, &data, sizeof(data));
  record->DataLength = static_cast<DWORD>(dataLength);
  s_record = record;
  LRESULT result = 0;
  if (strcmp(how, "notify") == 0) {
    HANDLE thread = CreateThread(NULL, 0, NotifyPowerSetting, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  } else if (strcmp(how, "own") == 0) {
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCSTR>(SendFromOwnThread), &self);
    s_hookDone = CreateEventA(NULL, TRUE, FALSE, NULL);
    s_hook = SetWindowsHookExA(WH_GETMESSAGE, SendFromOwnThread, self,
                               GetWindowThreadProcessId(s_window, NULL));
    PostMessageA(s_window, WM_NULL, 0, 0);
    WaitForSingleObject(s_hookDone, 5000);
    UnhookWindowsHookEx(s_hook);
    CloseHandle(s_hookDone);
  } else {
    result = SendMessageA(s_window, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                          reinterpret_cast<LPARAM>(record));
  }
  s_record = NULL;
  free(record);
  return Number(env, static_cast<double>(result));
}

static void Bind(napi_env env, napi_value exports, const char* name, napi_callback callback) {
  napi_value function;
  napi_create_function(env, name, NAPI_AUTO_LENGTH, callback, NULL, &function);
  napi_set_named_property(env, exports, name, function);
}

static napi_value Init(napi_env env, napi_value exports) {
  Bind(env, exports, "countEventWindows", countEventWindows);
  Bind(env, exports, "send", send);
  Bind(env, exports, "post", post);
  Bind(env, exports, "event", event);
  Bind(env, exports, "sendPowerSetting", sendPowerSetting);
  return exports;
}

// Node 9 takes only a module that registers itself as the library loads.
static napi_module s_module = {1, 0, __FILE__, Init, "event_window_driver", NULL, {NULL}};
static const bool s_moduleRegistered = (napi_module_register(&s_module), true);
