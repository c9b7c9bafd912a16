// send_to_windows PID CLASS MESSAGE WPARAM [COUNT]
// send_to_windows PID CLASS MESSAGE WPARAM send LPARAM
//
// Posts MESSAGE COUNT times (once by default), with WPARAM and an lParam of
// 0, to every top-level window of class CLASS that process PID owns, or, in
// the second form, sends it once with LPARAM and prints "RESULT MILLISECONDS"
// (what SendMessage returned, and how long it took) a window. Exits with the
// number of windows that it reached. Tests and benchmarks use it to reach the
// hidden window of an addon built for another node.exe, which no test addon
// of theirs can load into, and to send as another process would.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Target {
  DWORD pid;
  const char* className;
  UINT message;
  WPARAM wParam;
  unsigned long count;  // 0: send once
  LPARAM lParam;
  int reached;
};

static BOOL CALLBACK SendToWindow(HWND window, LPARAM targetParam) {
  Target* target = reinterpret_cast<Target*>(targetParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[256];
  if (pid != target->pid || GetClassNameA(window, className, sizeof(className)) == 0 ||
      strcmp(className, target->className) != 0) {
    return TRUE;
  }
  if (target->count == 0) {
    DWORD start = GetTickCount();
    LRESULT result = SendMessageA(window, target->message, target->wParam, target->lParam);
    printf("%ld %lu\n", static_cast<long>(result), GetTickCount() - start);
  }
  for (unsigned long i = 0; i < target->count; i++) {
    // A full queue refuses a post; the window thread soon empties it.
    while (!PostMessageA(window, target->message, target->wParam, 0)) Sleep(1);
  }
  target->reached++;
  return TRUE;
}

int main(int argc, char** argv) {
  bool sending = argc == 7 && strcmp(argv[5], "send") == 0;
  if (argc != 5 && argc != 6 && !sending) return -1;
  Target target = {static_cast<DWORD>(strtoul(argv[1], NULL, 0)), argv[2],
                   static_cast<UINT>(strtoul(argv[3], NULL, 0)),
                   static_cast<WPARAM>(strtoul(argv[4], NULL, 0)),
                   sending ? 0 : argc == 6 ? strtoul(argv[5], NULL, 0) : 1,
                   sending ? static_cast<LPARAM>(strtoul(argv[6], NULL, 0)) : 0, 0};
  EnumWindows(SendToWindow, reinterpret_cast<LPARAM>(&target));
  return target.reached;
}
