// event_window_driver: sends the hidden event window of an addon loaded in the
// same process the messages that the system would send it.
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
#include <node.h>
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

static bool SendToEventWindow(const v8::FunctionCallbackInfo<v8::Value>& args, UINT message,
                              WPARAM wParam, LPARAM lParam, bool posted = false) {
  v8::Isolate* isolate = args.GetIsolate();
  HWND window = FindEventWindows().found;
  if (window == NULL) {
    isolate->ThrowException(v8::Exception::Error(
        v8::String::NewFromUtf8(isolate, "no velmora_node_sys_wc window in this process")));
    return false;
  }
  LRESULT result = posted ? PostMessageA(window, message, wParam, lParam)
                          : SendMessageA(window, message, wParam, lParam);
  args.GetReturnValue().Set(v8::Number::New(isolate, static_cast<double>(result)));
  return true;
}

static void countEventWindows(const v8::FunctionCallbackInfo<v8::Value>& args) {
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), FindEventWindows().count));
}

static void send(const v8::FunctionCallbackInfo<v8::Value>& args) {
  SendToEventWindow(args, static_cast<UINT>(args[0]->NumberValue()),
                    static_cast<WPARAM>(args[1]->NumberValue()),
                    static_cast<LPARAM>(args[2]->IntegerValue()));
}

static void post(const v8::FunctionCallbackInfo<v8::Value>& args) {
  SendToEventWindow(args, static_cast<UINT>(args[0]->NumberValue()),
                    static_cast<WPARAM>(args[1]->NumberValue()),
                    static_cast<LPARAM>(args[2]->IntegerValue()), true);
}

static void event(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::String::Utf8Value name(args[0]);
  HANDLE event = CreateEventA(NULL, TRUE, FALSE, *name);
  if (args[1]->BooleanValue()) SetEvent(event);
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

static void sendPowerSetting(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::String::Utf8Value guidText(args[0]);
  v8::String::Utf8Value how(args[3]);
  POWERBROADCAST_SETTING* record =
      static_cast<POWERBROADCAST_SETTING*>(calloc(1, sizeof(POWERBROADCAST_SETTING) + 4));
  if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(*guidText), &record->PowerSetting) != RPC_S_OK) {
    args.GetIsolate()->ThrowException(v8::Exception::Error(
        v8::String::NewFromUtf8(args.GetIsolate(), "not a GUID")));
    free(record);
    return;
  }
  DWORD value = static_cast<DWORD>(args[1]->NumberValue());
  memcpy(record->Data, &value, sizeof(value));
  record->DataLength = static_cast<DWORD>(args[2]->NumberValue());
  s_window = FindEventWindows().found;
  s_record = record;
  if (strcmp(*how, "notify") == 0) {
    HANDLE thread = CreateThread(NULL, 0, NotifyPowerSetting, NULL, 0, NULL);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  } else if (strcmp(*how, "own") == 0) {
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
    SendToEventWindow(args, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                      reinterpret_cast<LPARAM>(record));
  }
  s_record = NULL;
  free(record);
}

static void Init(v8::Local<v8::Object> exports) {
  NODE_SET_METHOD(exports, "countEventWindows", countEventWindows);
  NODE_SET_METHOD(exports, "send", send);
  NODE_SET_METHOD(exports, "post", post);
  NODE_SET_METHOD(exports, "event", event);
  NODE_SET_METHOD(exports, "sendPowerSetting", sendPowerSetting);
}

NODE_MODULE(event_window_driver, Init)
