// A stand-in for NiuNiuCapture.dll that velmora_capture's tests put beside
// the launcher. Every call of its three entry points appends one line with
// its arguments to the file named by CAPTURE_DOUBLE_LOG; texts are written
// between quotes, converted from the ANSI code page to UTF-8. The completion
// callback gets the result CAPTURE_DOUBLE_RESULT (a decimal integer) in the
// way CAPTURE_DOUBLE_CALLBACK names:
//   thread  from a thread of the component, half a second after the start,
//           when the launcher has long gone on to its prompt;
//   sync    at once, inside StartScreenCapture;
//   never   not at all.
// With CAPTURE_DOUBLE_STDIN set, StartScreenCapture then reads one line of
// standard input through the launcher's C runtime (the same msvcrt.dll), as
// a component may, and logs it and whether STD_INPUT_HANDLE is its handle.
// Built once whole and once without each entry point (WITHOUT_name).
#include <windows.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define EXPORT extern "C" __declspec(dllexport)

typedef void(__cdecl* CaptureCallback)(int result);

// The launcher's callback and the result it is to get.
static CaptureCallback s_callback;
static int s_result;

static void Log(const char* format, ...) {
  FILE* log = fopen(getenv("CAPTURE_DOUBLE_LOG"), "ab");
  // An exit code no launcher gives tells the test that logging failed.
  if (log == NULL) ExitProcess(97);
  va_list args;
  va_start(args, format);
  vfprintf(log, format, args);
  va_end(args);
  fputc('\n', log);
  // Closed at once: the launcher may end the process at any moment.
  fclose(log);
}

// The text as UTF-8; one text at a time is all a call needs. A text longer
// than any the launcher may pass comes back empty.
static const char* Utf8FromAnsi(const char* text) {
  static wchar_t wide[8192];
  static char utf8[3 * 8192];
  utf8[0] = '\0';
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 8192) > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof(utf8), NULL, NULL);
  }
  return utf8;
}

static DWORD WINAPI CallBackLater(void*) {
  Sleep(500);
  s_callback(s_result);
  return 0;
}

#ifndef WITHOUT_InitScreenCapture
EXPORT int InitScreenCapture(const char* key) {
  Log("InitScreenCapture(\"%s\")", Utf8FromAnsi(key));
  return 0;
}
#endif

#ifndef WITHOUT_InitCaptureParam
// Identifiers 8 and 10 carry a text, the others an integer.
EXPORT int InitCaptureParam(int id, INT_PTR value) {
  if (id == 8 || id == 10) {
    Log("InitCaptureParam(%d, \"%s\")", id, Utf8FromAnsi((const char*)value));
  } else {
    Log("InitCaptureParam(%d, %ld)", id, (long)value);
  }
  return 0;
}
#endif

#ifndef WITHOUT_StartScreenCapture
EXPORT int StartScreenCapture(const char* output, CaptureCallback callback, int a, int b, int c,
                              int d, int e, int f, int g, int h) {
  HMODULE owner = NULL;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     (const char*)callback, &owner);
  Log("StartScreenCapture(\"%s\", %s, %d, %d, %d, %d, %d, %d, %d, %d)", Utf8FromAnsi(output),
      owner == GetModuleHandleA(NULL) ? "launcher callback" : "foreign callback", a, b, c, d, e, f, g, h);

  if (getenv("CAPTURE_DOUBLE_STDIN") != NULL) {
    char line[256];
    bool read = fgets(line, sizeof(line), stdin) != NULL;
    line[read ? strcspn(line, "\n") : 0] = '\0';
    bool same = GetStdHandle(STD_INPUT_HANDLE) == reinterpret_cast<HANDLE>(_get_osfhandle(0));
    Log("stdin %s\"%s\", STD_INPUT_HANDLE %s", read ? "" : "unreadable ", line, same ? "the same" : "another");
  }

  s_callback = callback;
  s_result = atoi(getenv("CAPTURE_DOUBLE_RESULT"));
  const char* mode = getenv("CAPTURE_DOUBLE_CALLBACK");
  if (strcmp(mode, "sync") == 0) {
    callback(s_result);
  } else if (strcmp(mode, "thread") == 0) {
    CloseHandle(CreateThread(NULL, 0, CallBackLater, NULL, 0, NULL));
  }
  return 0;
}
#endif
