// Windows implementations of the addon's script functions.
//
// Every script function converts its own arguments, throws nothing of its own
// and reports failure in its result. Sections, in order: system libraries,
// idle time, processes and the client's render window.
#include "sys_win.h"
#include "check.h"

#include <windows.h>
#include <tlhelp32.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// The client's render window once found; never cleared, so the search runs
// only until it succeeds.
static HWND s_chromeWindow;

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
