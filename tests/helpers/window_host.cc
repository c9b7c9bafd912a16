// window_host LAYOUT_BEFORE LAYOUT_AFTER SIGNAL_FILE NODE_EXE SCRIPT
//
// Mimics the client's browser process for findChromeWindow: creates the
// top-level windows of LAYOUT_BEFORE, then runs NODE_EXE SCRIPT as its child,
// so that the child's parent owns them. When the child creates SIGNAL_FILE
// the host destroys its windows, creates those of LAYOUT_AFTER and writes the
// expected result (the render window's handle as a signed 32-bit number, or
// 0) to SIGNAL_FILE.ready. The child gets the first expected result in
// VELMORA_EXPECTED. Exits with the child's exit code.
//
// Layouts: none; match (a "Chrome_WidgetWin_0" holding the render window);
// second (two such windows, only the second holds it); wrongclass; wrongtitle.
#include <windows.h>
#include <stdio.h>
#include <string.h>

static HWND s_windows[8];
static int s_windowCount;

static HWND Create(const char* className, const char* title, HWND parent) {
  DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
  HWND window = CreateWindowExA(0, className, title, style, 0, 0, 100, 100, parent, NULL,
                                GetModuleHandleA(NULL), NULL);
  if (window == NULL) {
    fprintf(stderr, "window_host: CreateWindowEx %s failed: %lu\n", className, GetLastError());
    ExitProcess(90);
  }
  if (!parent) s_windows[s_windowCount++] = window;
  return window;
}

// Creates the windows of a layout; returns the render window or NULL.
static HWND CreateLayout(const char* layout) {
  if (strcmp(layout, "none") == 0) return NULL;
  if (strcmp(layout, "match") == 0) {
    HWND top = Create("Chrome_WidgetWin_0", "client", NULL);
    return Create("Chrome_RenderWidgetHostHWND", "Chrome Legacy Window", top);
  }
  if (strcmp(layout, "second") == 0) {
    // The holder is created first, so that the other window lies above it in
    // z-order and the enumeration meets the holder second.
    HWND holder = Create("Chrome_WidgetWin_0", "holder", NULL);
    HWND render = Create("Chrome_RenderWidgetHostHWND", "Chrome Legacy Window", holder);
    HWND other = Create("Chrome_WidgetWin_0", "other", NULL);
    Create("Chrome_RenderWidgetHostHWND", "Some Other Window", other);
    return render;
  }
  if (strcmp(layout, "wrongclass") == 0) {
    HWND top = Create("Chrome_WidgetWin_0", "client", NULL);
    Create("Chrome_OtherHWND", "Chrome Legacy Window", top);
    return NULL;
  }
  if (strcmp(layout, "wrongtitle") == 0) {
    HWND top = Create("Chrome_WidgetWin_0", "client", NULL);
    Create("Chrome_RenderWidgetHostHWND", "Chrome Legacy Window 2", top);
    return NULL;
  }
  fprintf(stderr, "window_host: unknown layout %s\n", layout);
  ExitProcess(91);
}

static void DestroyLayout() {
  while (s_windowCount > 0) DestroyWindow(s_windows[--s_windowCount]);
}

static int HandleNumber(HWND window) { return (int)(INT_PTR)window; }

int main(int argc, char** argv) {
  if (argc != 6) {
    fprintf(stderr, "usage: window_host BEFORE AFTER SIGNAL_FILE NODE_EXE SCRIPT\n");
    return 92;
  }
  const char* signal = argv[3];
  const char* classes[] = {"Chrome_WidgetWin_0", "Chrome_RenderWidgetHostHWND", "Chrome_OtherHWND"};
  for (const char* name : classes) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = name;
    RegisterClassA(&wc);
  }

  char expected[32];
  snprintf(expected, sizeof(expected), "%d", HandleNumber(CreateLayout(argv[1])));
  SetEnvironmentVariableA("VELMORA_EXPECTED", expected);

  char command[4096];
  snprintf(command, sizeof(command), "\"%s\" \"%s\"", argv[4], argv[5]);
  STARTUPINFOA si = {sizeof(si)};
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    fprintf(stderr, "window_host: CreateProcess failed: %lu\n", GetLastError());
    return 93;
  }

  // Serve the windows until the child ends; switch layouts once on its signal.
  bool switched = false;
  while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 20, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    if (!switched && GetFileAttributesA(signal) != INVALID_FILE_ATTRIBUTES) {
      switched = true;
      DestroyLayout();
      // Written aside and renamed, so that the child never reads it half-written.
      char partial[MAX_PATH + 16], ready[MAX_PATH + 16];
      snprintf(partial, sizeof(partial), "%s.partial", signal);
      snprintf(ready, sizeof(ready), "%s.ready", signal);
      FILE* f = fopen(partial, "w");
      fprintf(f, "%d", HandleNumber(CreateLayout(argv[2])));
      fclose(f);
      MoveFileA(partial, ready);
    }
  }
  DWORD code = 94;
  GetExitCodeProcess(pi.hProcess, &code);
  return (int)code;
}
