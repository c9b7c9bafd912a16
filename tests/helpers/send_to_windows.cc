// send_to_windows PID CLASS MESSAGE WPARAM
//
// Sends MESSAGE, with WPARAM and an lParam of 0, to every top-level window of
// class CLASS that process PID owns, as the system sends its notifications,
// and exits with the number of windows that it reached. Tests use it to
// reach the hidden window of an addon built for another node.exe, which no
// test addon of theirs can load into.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

struct Target {
  DWORD pid;
  const char* className;
  UINT message;
  WPARAM wParam;
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
  SendMessageA(window, target->message, target->wParam, 0);
  target->reached++;
  return TRUE;
}

int main(int argc, char** argv) {
  if (argc != 5) return -1;
  Target target = {static_cast<DWORD>(strtoul(argv[1], NULL, 0)), argv[2],
                   static_cast<UINT>(strtoul(argv[3], NULL, 0)),
                   static_cast<WPARAM>(strtoul(argv[4], NULL, 0)), 0};
  EnumWindows(SendToWindow, reinterpret_cast<LPARAM>(&target));
  return target.reached;
}
