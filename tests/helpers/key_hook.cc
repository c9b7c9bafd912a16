// key_hook
//
// Records the keyboard events that reach the system, in order, through a
// low-level keyboard hook (WH_KEYBOARD_LL) served by its own message loop.
// Writes "ready SCAN" once the hook is in place, SCAN being what
// MapVirtualKeyA gives for VK_RCONTROL here, then one line per event:
// "VK SCAN FLAGS", the decimal fields of the hook's KBDLLHOOKSTRUCT. Every
// event passes on to the system. Ends when its standard input closes.
#include <windows.h>
#include <stdio.h>

static DWORD s_mainThread;

static LRESULT CALLBACK KeyboardProc(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION) {
    const KBDLLHOOKSTRUCT* event = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    printf("%lu %lu %lu\n", event->vkCode, event->scanCode, event->flags);
    fflush(stdout);
  }
  return CallNextHookEx(NULL, code, message, data);
}

static DWORD WINAPI WaitForEndOfInput(void*) {
  char buffer[64];
  DWORD read;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof(buffer), &read, NULL) && read > 0) {
  }
  PostThreadMessageA(s_mainThread, WM_QUIT, 0, 0);
  return 0;
}

int main() {
  s_mainThread = GetCurrentThreadId();
  // The thread's message queue must exist before the watcher can post to it.
  MSG msg;
  PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
  HHOOK hook = SetWindowsHookExA(WH_KEYBOARD_LL, KeyboardProc, GetModuleHandleA(NULL), 0);
  if (hook == NULL) {
    fprintf(stderr, "key_hook: SetWindowsHookEx failed: %lu\n", GetLastError());
    return 90;
  }
  CloseHandle(CreateThread(NULL, 0, WaitForEndOfInput, NULL, 0, NULL));
  printf("ready %u\n", MapVirtualKeyA(VK_RCONTROL, MAPVK_VK_TO_VSC));
  fflush(stdout);
  while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
  UnhookWindowsHookEx(hook);
  return 0;
}
