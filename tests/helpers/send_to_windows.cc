// send_to_windows PID CLASS MESSAGE WPARAM [COUNT]
//
// Posts MESSAGE COUNT times (once by default), with WPARAM and an lParam of
// 0, to every top-level window of class CLASS that process PID owns, and
// exits with the number of windows that it reached. Tests and benchmarks use
// it to reach the hidden window of an addon built for another node.exe, which
// no test addon of theirs can load into.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

struct Target {
  DWORD pid;
  const char* className;
  UINT message;
  WPARAM wParam;
  unsigned long count;
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
  for (unsigned long i = 0; i < target->count; i++) {
    // A full queue refuses a post; the window thread soon empties it.
    while (!PostMessageA(window, target->message, target->wParam, 0)) Sleep(1);
  }
  target->reached++;
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) return -1;
  Target target = {static_cast<DWORD>(strtoul(argv[1], NULL, 0)), argv[2],
                   static_cast<UINT>(strtoul(argv[3], NULL, 0)),
                   static_cast<WPARAM>(strtoul(argv[4], NULL, 0)),
                   argc == 6 ? strtoul(argv[5], NULL, 0) : 1, 0};
  EnumWindows(SendToWindow, reinterpret_cast<LPARAM>(&target));
  return target.reached;
}
