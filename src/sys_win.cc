// Windows implementations of the addon's script functions.
//
// Every script function converts its own arguments, throws nothing of its own
// and reports failure in its result. Sections, in order: system libraries,
// idle time, processes, the client's render window, the event bridge and the
// event sources.
#include "sys_win.h"
#include "async.h"
#include "check.h"

#include <windows.h>
#include <sensapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>
#include <atomic>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// The client's render window once found; never cleared, so the search runs
// only until it succeeds.
static HWND s_chromeWindow;

// The event sink's type, and those of the notification entry points below.
typedef void (*EventSink)(const char* type, const char* state);
typedef HPOWERNOTIFY(WINAPI* RegisterPowerSettingNotificationFunction)(HANDLE, LPCGUID, DWORD);
typedef BOOL(WINAPI* UnregisterPowerSettingNotificationFunction)(HPOWERNOTIFY);
typedef BOOL(WINAPI* WTSRegisterSessionNotificationFunction)(HWND, DWORD);
typedef BOOL(WINAPI* WTSUnRegisterSessionNotificationFunction)(HWND);

// Guards s_asyncQueue: a post holds it shared from its look at the pointer to
// its wake-up of the loop, unwatch holds it exclusively while it detaches the
// queue, so a queue is never closed under a posting thread.
static SRWLOCK s_asyncQueueLock = SRWLOCK_INIT;
// The queue of the active watch, or null while nothing is watched.
static AsyncQueue* s_asyncQueue;
// The async_hooks resource in whose name the active watch's callback runs.
static v8::Persistent<v8::Object> s_asyncResource;
// Its async_hooks identity, from its creation with the queue.
static node::async_context s_asyncContext;
// Where the event sources post: postEvent once they start, null again after
// the hidden window has received WM_CLOSE.
static std::atomic<EventSink> s_eventSink;
// Nonzero once the event sources run; the network poller runs while it is.
static std::atomic<int32_t> s_sourcesStarted;
// The last result of IsNetworkAlive, written by the poller once it runs; 0 at
// start, so that the first poll of a connected machine posts ("network", "on").
static BOOL s_lastNetworkState;
// User32.dll, loaded from the system folder on the first start, never freed.
static HMODULE s_user32Module;
// Wtsapi32.dll, likewise.
static HMODULE s_wtsapi32Module;
// The four notification entry points, resolved at each start; the window
// thread runs only if all four exist.
static RegisterPowerSettingNotificationFunction s_RegisterPowerSettingNotification;
static UnregisterPowerSettingNotificationFunction s_UnregisterPowerSettingNotification;
static WTSRegisterSessionNotificationFunction s_WTSRegisterSessionNotification;
static WTSUnRegisterSessionNotificationFunction s_WTSUnRegisterSessionNotification;
// The hidden window, set by the window thread once it exists, cleared at WM_CLOSE.
static HWND s_eventWindow;
// The window's power-setting registrations, one per row of s_powerSettingEvents.
static HPOWERNOTIFY s_powerNotifications[5];

// ---------------------------------------------------------------------------
// System libraries

// Loads a system library from the system folder only, so that a DLL planted
// beside the host cannot stand in for it. That search flag exists where
// AddDllDirectory does (Windows 8, or Windows 7 with KB2533623); without it
// the plain search order is all there is.
static HMODULE LoadSystemLibrary(const char* name) {
  if (GetProcAddress(GetModuleHandleA("kernel32.dll"), "AddDllDirectory") != NULL) {
    return LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  }
  return LoadLibraryA(name);
}

// ---------------------------------------------------------------------------
// Idle time

void getUserIdleTime(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  LASTINPUTINFO info = {sizeof(info), 0};
  double idle = -1;
  if (GetLastInputInfo(&info)) {
    // Unsigned arithmetic stays right across a wrap of the tick counter; the
    // difference is never negative.
    idle = static_cast<DWORD>(GetTickCount() - info.dwTime);
  }
  args.GetReturnValue().Set(v8::Number::New(isolate, idle));
}

// ---------------------------------------------------------------------------
// Processes that run the same executable

struct ProcessIdPair {
  DWORD pid;
  DWORD ppid;
};

// Counts the processes whose executable has the same file name as process
// pid (0: this process) and writes the first capacity of them to items.
static int ListProcessesOfSameExeFile(int pid, ProcessIdPair* items, int capacity) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD wanted = pid == 0 ? GetCurrentProcessId() : static_cast<DWORD>(pid);

  PROCESSENTRY32 target;
  memset(&target, 0, sizeof(target));
  target.dwSize = sizeof(target);
  BOOL more = Process32First(snapshot, &target);
  while (more && target.th32ProcessID != wanted) more = Process32Next(snapshot, &target);
  if (!more) {
    CloseHandle(snapshot);
    return 0;
  }

  int count = 0;
  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (strcmp(entry.szExeFile, target.szExeFile) != 0) continue;
    if (count < capacity) {
      items[count].pid = entry.th32ProcessID;
      items[count].ppid = entry.th32ParentProcessID;
    }
    ++count;
  }
  CloseHandle(snapshot);
  return count;
}

// A number truncated toward zero; NaN, the infinities and values outside the
// signed 32-bit range give INT32_MIN, which names no process.
static int32_t ToProcessId(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

void getProcessesOfSameExeFile(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  int pid = 0;
  if (args.Length() >= 1 && args[0]->IsNumber()) pid = ToProcessId(args[0]->NumberValue());

  v8::Local<v8::Array> result = v8::Array::New(isolate, 0);
  int expected = ListProcessesOfSameExeFile(pid, NULL, 0);
  ProcessIdPair* pairs = expected > 0
      ? static_cast<ProcessIdPair*>(malloc(expected * sizeof(ProcessIdPair)))
      : NULL;
  if (pairs != NULL) {
    // A second snapshot: processes may have started or ended in between.
    int found = ListProcessesOfSameExeFile(pid, pairs, expected);
    int n = found < expected ? found : expected;
    v8::Local<v8::String> pidKey = v8::String::NewFromUtf8(isolate, "pid");
    v8::Local<v8::String> ppidKey = v8::String::NewFromUtf8(isolate, "ppid");
    for (int i = 0; i < n; ++i) {
      v8::Local<v8::Object> item = v8::Object::New(isolate);
      item->Set(pidKey, v8::Number::New(isolate, static_cast<int32_t>(pairs[i].pid)));
      item->Set(ppidKey, v8::Number::New(isolate, static_cast<int32_t>(pairs[i].ppid)));
      result->Set(static_cast<uint32_t>(i), item);
    }
    free(pairs);
  }
  args.GetReturnValue().Set(result);
}

// ---------------------------------------------------------------------------
// The client's render window: a child "Chrome Legacy Window" inside a
// top-level window of this process's parent (the client's browser process).

struct ChromeWindowSearch {
  DWORD parentPid;
  HWND found;
};

static BOOL CALLBACK EnumChildWindowProc(HWND window, LPARAM foundSlot) {
  char text[4096];
  GetWindowTextA(window, text, sizeof(text));
  if (strcmp(text, "Chrome Legacy Window") != 0) return TRUE;
  GetClassNameA(window, text, sizeof(text));
  if (strncmp(text, "Chrome_RenderWidgetHostHWND", 27) != 0) return TRUE;
  *reinterpret_cast<HWND*>(foundSlot) = window;
  return FALSE;
}

// Stops at the first top-level window of the parent process that holds the
// render window. EnumChildWindows' own result is documented as unused, so the
// found slot alone says whether the child walk matched.
static BOOL CALLBACK EnumTopWindowProc(HWND window, LPARAM searchParam) {
  ChromeWindowSearch* search = reinterpret_cast<ChromeWindowSearch*>(searchParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->parentPid) return TRUE;
  char className[4096];
  GetClassNameA(window, className, sizeof(className));
  if (strncmp(className, "Chrome_WidgetWin_0", 18) != 0) return TRUE;
  EnumChildWindows(window, EnumChildWindowProc, reinterpret_cast<LPARAM>(&search->found));
  return search->found == NULL;
}

static DWORD ParentProcessId() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  DWORD self = GetCurrentProcessId();
  PROCESSENTRY32 entry;
  memset(&entry, 0, sizeof(entry));
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  return parent;
}

void findChromeWindow(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  if (s_chromeWindow == NULL) {
    ChromeWindowSearch search = {ParentProcessId(), NULL};
    if (search.parentPid != 0) {
      EnumWindows(EnumTopWindowProc, reinterpret_cast<LPARAM>(&search));
    }
    s_chromeWindow = search.found;
  }
  int32_t handle = static_cast<int32_t>(reinterpret_cast<uintptr_t>(s_chromeWindow));
  args.GetReturnValue().Set(v8::Number::New(isolate, handle));
}

// ---------------------------------------------------------------------------
// Event bridge: watch and unwatch on the script thread, and the sink through
// which the event sources reach the script's callback from their own threads.

static int StartEventSources();

void postEvent(const char* type, const char* state) {
  AcquireSRWLockShared(&s_asyncQueueLock);
  if (s_asyncQueue != NULL) AsyncQueuePost(s_asyncQueue, type, state);
  ReleaseSRWLockShared(&s_asyncQueueLock);
}

// Calls the callback as node calls its own: inside a callback scope, so that
// the ticks and promise reactions it schedules run as soon as it returns, and
// an exception it throws is reported as uncaught (process 'uncaughtException')
// instead of being lost; the next event of the batch is delivered as usual.
// A value that is not a function is kept but never called.
static void DeliverEvent(void*, SysEvent* event) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  v8::HandleScope scope(isolate);
  v8::Local<v8::Value> callback = v8::Local<v8::Value>::New(isolate, s_callback);
  if (callback.IsEmpty() || !callback->IsFunction()) return;
  v8::Local<v8::Value> argv[2] = {
      v8::String::NewFromUtf8(isolate, event->type, v8::String::kNormalString, -1),
      v8::String::NewFromUtf8(isolate, event->state, v8::String::kNormalString, -1)};
  if (argv[0].IsEmpty() || argv[1].IsEmpty()) return;
  v8::Local<v8::Object> resource = v8::Local<v8::Object>::New(isolate, s_asyncResource);
  node::CallbackScope callbackScope(isolate, resource, s_asyncContext);
  (void)callback.As<v8::Function>()->Call(isolate->GetCurrentContext(), v8::Null(isolate), 2, argv);
}

static int StartWatching(v8::Isolate* isolate) {
  AsyncQueue* queue = AsyncQueueNew(uv_default_loop(), DeliverEvent, NULL);
  CHECK(queue != NULL);
  v8::Local<v8::Object> resource = v8::Object::New(isolate);
  s_asyncResource.Reset(isolate, resource);
  s_asyncContext = node::EmitAsyncInit(isolate, resource, "velmora_node_sys:watch");
  AcquireSRWLockExclusive(&s_asyncQueueLock);
  s_asyncQueue = queue;
  ReleaseSRWLockExclusive(&s_asyncQueueLock);
  if (s_sourcesStarted != 0) return 0;
  return StartEventSources();
}

void watch(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  s_callback.Reset(isolate, args[0]);
  int32_t status = s_asyncQueue == NULL ? StartWatching(isolate) : 1;
  args.GetReturnValue().Set(v8::Number::New(isolate, status));
}

// Events still pending are freed without reaching any callback, also those of
// a batch whose callback calls unwatch.
void unwatch(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = v8::Isolate::GetCurrent();
  s_callback.Reset();
  AcquireSRWLockExclusive(&s_asyncQueueLock);
  AsyncQueue* queue = s_asyncQueue;
  s_asyncQueue = NULL;
  ReleaseSRWLockExclusive(&s_asyncQueueLock);
  if (queue != NULL) {
    AsyncQueueClose(queue);
    node::EmitAsyncDestroy(isolate, s_asyncContext);
    s_asyncResource.Reset();
  }
  args.GetReturnValue().Set(queue != NULL);
}

// ---------------------------------------------------------------------------
// Event sources: a window thread that turns the system's power-setting and
// session notifications into events, and a poller of network connectivity.
// Started by the first watch, they run until the process ends.

struct PowerSettingEvent {
  GUID setting;
  const char* type;
  const char* states[3];  // by the setting's value; null for a value without a name
};

// In registration and comparison order.
static const PowerSettingEvent s_powerSettingEvents[] = {
    {{0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}},
     "lidswitch", {"close", "open", NULL}},
    {{0x6FE69556, 0x704A, 0x47A0, {0x8F, 0x24, 0xC2, 0x8D, 0x93, 0x6F, 0xDA, 0x47}},
     "display", {"off", "on", "dimmed"}},
    {{0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}},
     "power", {"off", "on", NULL}},
    {{0x3C0F4548, 0xC03F, 0x4C4D, {0xB9, 0xF2, 0x23, 0x7E, 0xDE, 0x68, 0x63, 0x76}},
     "user", {"present", NULL, "inactive"}},
    {{0x98A7F580, 0x01F7, 0x48AA, {0x9C, 0x0F, 0x44, 0x35, 0x2C, 0x29, 0xE5, 0xC0}},
     "away", {"exit", "enter", NULL}},
};
static_assert(ARRAYSIZE(s_powerSettingEvents) == ARRAYSIZE(s_powerNotifications),
              "one registration per power setting");

static void PostToSink(const char* type, const char* state) {
  EventSink sink = s_eventSink;
  if (sink != NULL) sink(type, state);
}

// The record's data length is all that bounds it: the 32-bit value is read
// only from a record that says it holds one.
static void MapPowerSetting(const POWERBROADCAST_SETTING* record, const char** type,
                            const char** state) {
  *type = "???";
  *state = "???";
  for (const PowerSettingEvent& row : s_powerSettingEvents) {
    if (memcmp(&record->PowerSetting, &row.setting, sizeof(GUID)) != 0) continue;
    *type = row.type;
    DWORD value;
    if (record->DataLength < sizeof(value)) return;
    memcpy(&value, record->Data, sizeof(value));
    if (value < ARRAYSIZE(row.states) && row.states[value] != NULL) *state = row.states[value];
    return;
  }
}

// WM_CLOSE ends the notifications and clears the sink, after which no event
// of any kind is posted again in this process. It does not reach
// DefWindowProcA, so the window lives until the thread ends.
static LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const char* type = NULL;
  const char* state = NULL;
  switch (message) {
    case WM_CLOSE:
      for (HPOWERNOTIFY& notification : s_powerNotifications) {
        if (notification == NULL) continue;
        s_UnregisterPowerSettingNotification(notification);
        notification = NULL;
      }
      if (s_eventWindow != NULL) {
        s_WTSUnRegisterSessionNotification(s_eventWindow);
        s_eventWindow = NULL;
      }
      s_eventSink = NULL;
      PostQuitMessage(0);
      return 0;
    case WM_POWERBROADCAST:
      if (wParam == PBT_POWERSETTINGCHANGE) {
        MapPowerSetting(reinterpret_cast<const POWERBROADCAST_SETTING*>(lParam), &type, &state);
      }
      break;
    case WM_WTSSESSION_CHANGE:
      type = "session";
      state = wParam == WTS_SESSION_LOCK ? "lock" : wParam == WTS_SESSION_UNLOCK ? "unlock" : "???";
      break;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
  if (type != NULL && state != NULL) PostToSink(type, state);
  return 0;
}

static DWORD WINAPI EventWindowThread(LPVOID) {
  HINSTANCE module = GetModuleHandleA(NULL);
  WNDCLASSA windowClass;
  memset(&windowClass, 0, sizeof(windowClass));
  windowClass.lpfnWndProc = EventWindowProc;
  windowClass.hInstance = module;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(1);
  windowClass.lpszClassName = "velmora_node_sys_wc";
  if (RegisterClassA(&windowClass) == 0) {
    OutputDebugStringA("RegisterClass velmora_node_sys_wc failed");
    return static_cast<DWORD>(-1);
  }
  // A top-level window that is never shown: a message-only window would be
  // simpler, but broadcasts such as the power notifications never reach one.
  HWND window = CreateWindowExA(0, "velmora_node_sys_wc", "velmora_node_sys_window",
                                WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, NULL, NULL, module, NULL);
  if (window == NULL) {
    OutputDebugStringA("CreateWindow velmora_node_sys_window failed");
    return static_cast<DWORD>(-2);
  }
  s_eventWindow = window;

  bool allRegistered = true;
  for (size_t i = 0; i < ARRAYSIZE(s_powerSettingEvents); ++i) {
    s_powerNotifications[i] = s_RegisterPowerSettingNotification(
        window, &s_powerSettingEvents[i].setting, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (s_powerNotifications[i] == NULL) allRegistered = false;
  }
  if (!allRegistered) OutputDebugStringA("RegisterPowerSettingNotification failed");
  if (!s_WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION)) {
    OutputDebugStringA("WTSRegisterSessionNotification failed");
  }

  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}

static DWORD WINAPI NetworkPollerThread(LPVOID) {
  while (s_sourcesStarted != 0) {
    DWORD flags;
    BOOL alive = IsNetworkAlive(&flags);
    if (alive != s_lastNetworkState) {
      PostToSink("network", alive ? "on" : "off");
      s_lastNetworkState = alive;
    }
    Sleep(800);
  }
  return 0;
}

// Returns 0, or -3 when a thread cannot be created. Without the four
// notification entry points only the network poller runs.
static int StartEventSources() {
  if (s_user32Module == NULL) s_user32Module = LoadSystemLibrary("User32.dll");
  CHECK(s_user32Module != NULL);
  if (s_wtsapi32Module == NULL) s_wtsapi32Module = LoadSystemLibrary("Wtsapi32.dll");
  CHECK(s_wtsapi32Module != NULL);
  s_eventSink = postEvent;

  s_RegisterPowerSettingNotification = reinterpret_cast<RegisterPowerSettingNotificationFunction>(
      GetProcAddress(s_user32Module, "RegisterPowerSettingNotification"));
  s_UnregisterPowerSettingNotification =
      reinterpret_cast<UnregisterPowerSettingNotificationFunction>(
          GetProcAddress(s_user32Module, "UnregisterPowerSettingNotification"));
  s_WTSRegisterSessionNotification = reinterpret_cast<WTSRegisterSessionNotificationFunction>(
      GetProcAddress(s_wtsapi32Module, "WTSRegisterSessionNotification"));
  s_WTSUnRegisterSessionNotification = reinterpret_cast<WTSUnRegisterSessionNotificationFunction>(
      GetProcAddress(s_wtsapi32Module, "WTSUnRegisterSessionNotification"));
  if (s_RegisterPowerSettingNotification != NULL && s_UnregisterPowerSettingNotification != NULL &&
      s_WTSRegisterSessionNotification != NULL && s_WTSUnRegisterSessionNotification != NULL) {
    HANDLE thread = CreateThread(NULL, 0, EventWindowThread, NULL, 0, NULL);
    if (thread == NULL) return -3;
    CloseHandle(thread);
  }

  // The flag is set first: the poller tests it before its first poll.
  s_lastNetworkState = 0;
  s_sourcesStarted = 1;
  HANDLE thread = CreateThread(NULL, 0, NetworkPollerThread, NULL, 0, NULL);
  if (thread == NULL) {
    s_sourcesStarted = 0;
    return -3;
  }
  CloseHandle(thread);
  return 0;
}
