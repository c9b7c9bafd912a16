// velmora_capture [-o value] [-k value] [-l value] [other arguments]
//
// Takes one screenshot with NiuNiuCapture.dll from the program's own folder:
// hands it the -k value, a fixed set of capture parameters and the -o value,
// starts the capture and waits for its completion callback, which ends the
// process. -l is accepted and not used; other arguments are ignored.
//
// Exit codes: 0 capture result 1, 3 result 2, 4 any other result; 2 the
// component cannot be loaded or lacks an entry point; 1 an argument that the
// ANSI code page cannot hold exactly, or an option value longer than its
// buffer.
#include <windows.h>
#include <conio.h>
#ifdef _MSC_VER
#include <corecrt_startup.h>  // _configure_wide_argv
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "getopt.h"
#include "std_handles.h"

// The component's entry points and the completion callback all use the C
// calling convention (the caller removes the arguments). Their results are
// never examined.
typedef void(__cdecl* CaptureCallback)(int result);
typedef int(__cdecl* InitScreenCaptureFunction)(const char* key);
typedef int(__cdecl* InitCaptureParamFunction)(int id, INT_PTR value);
typedef int(__cdecl* StartScreenCaptureFunction)(const char* output, CaptureCallback callback,
                                                 int, int, int, int, int, int, int, int);

// This program's path, then that of the component beside it; used once at
// start-up.
static wchar_t s_componentPath[4096];
// The component, loaded once and never unloaded, and its entry points.
static HMODULE s_niuNiuCaptureModule;
static StartScreenCaptureFunction s_StartScreenCapture;
static InitScreenCaptureFunction s_InitScreenCapture;
static InitCaptureParamFunction s_InitCaptureParam;
// The option values, empty until given; a later occurrence replaces an
// earlier one. They stay valid until the process ends, so the component may
// keep the pointers it is given.
static char s_optionO[4096];
static char s_optionK[64];
static char s_optionL[4096];

static const wchar_t kComponentFileName[] = L"\\NiuNiuCapture.dll";

// ---------------------------------------------------------------------------
// Loading the component

static void ExitComponentMissing(const char* format, const char* pathOrName) {
  printf(format, pathOrName);
  exit(2);
}

static FARPROC ResolveEntryPoint(const char* name) {
  FARPROC entry = GetProcAddress(s_niuNiuCaptureModule, name);
  if (entry == NULL) ExitComponentMissing("ERROR: GetProcAddress %s failed", name);
  return entry;
}

// The message names LoadLibraryA, as callers that read it know it, and the
// path as the ANSI code page shows it, in as many bytes as the code page
// needs: a UTF-8 ANSI code page takes up to 3 a UTF-16 unit. A path that
// cannot be converted is left out rather than printed cut or unterminated.
static void ExitLoadFailed() {
  int size = WideCharToMultiByte(CP_ACP, 0, s_componentPath, -1, NULL, 0, NULL, NULL);
  char* ansi = size > 0 ? static_cast<char*>(malloc(size)) : NULL;
  bool converted =
      ansi != NULL && WideCharToMultiByte(CP_ACP, 0, s_componentPath, -1, ansi, size, NULL, NULL) == size;
  ExitComponentMissing("ERROR: LoadLibraryA %s failed", converted ? ansi : "");
}

// In UTF-16: in the ANSI code page, a folder name held only by best fit
// ("\uFF30rograms" read as "Programs") would name another folder, and
// another NiuNiuCapture.dll.
static void LoadComponent() {
  DWORD length = GetModuleFileNameW(NULL, s_componentPath, ARRAYSIZE(s_componentPath));
  // Windows XP leaves a path that fills the buffer unterminated.
  s_componentPath[ARRAYSIZE(s_componentPath) - 1] = L'\0';
  // A path that fills the buffer may have been cut short; the component is
  // then not looked for at all, since the cut path could name another file.
  bool fits = length > 0 && length < ARRAYSIZE(s_componentPath);
  if (fits) {
    wchar_t* lastBackslash = wcsrchr(s_componentPath, L'\\');
    if (lastBackslash != NULL) *lastBackslash = L'\0';
    fits = wcslen(s_componentPath) + ARRAYSIZE(kComponentFileName) <= ARRAYSIZE(s_componentPath);
  }
  if (fits) wcscat(s_componentPath, kComponentFileName);
  if (fits) s_niuNiuCaptureModule = LoadLibraryW(s_componentPath);
  if (s_niuNiuCaptureModule == NULL) ExitLoadFailed();
  // Through void*, since GCC warns about casts between function types.
  s_StartScreenCapture = (StartScreenCaptureFunction)(void*)ResolveEntryPoint("StartScreenCapture");
  s_InitScreenCapture = (InitScreenCaptureFunction)(void*)ResolveEntryPoint("InitScreenCapture");
  s_InitCaptureParam = (InitCaptureParamFunction)(void*)ResolveEntryPoint("InitCaptureParam");
}

// ---------------------------------------------------------------------------
// Arguments and options

// The wide arguments, split by the rules the C runtime split __argv by:
// msvcrt.dll hands them out through __wgetmainargs, and the Universal C
// Runtime that MSVC links through _configure_wide_argv. Either spares the
// launcher shell32.dll (CommandLineToArgvW), whose loading took longer than
// the rest of its start. Returns the count, 0 when the runtime lacks memory.
#ifdef _MSC_VER
static int WideArguments(wchar_t*** argv) {
  if (_configure_wide_argv(_crt_argv_unexpanded_arguments) != 0) return 0;
  *argv = __wargv;
  return __argc;
}
#else
struct StartupInfo {
  int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int expandWildcards,
                                      StartupInfo* startup);
// mingw-w64's start-up hands these two to __getmainargs for __argv.
extern "C" int _dowildcard, _newmode;

static int WideArguments(wchar_t*** argv) {
  StartupInfo startup = {_newmode};
  wchar_t** environment;
  int count = 0;
  if (__wgetmainargs(&count, argv, &environment, _dowildcard, &startup) != 0) return 0;
  return count;
}
#endif

// The C runtime splits the ANSI command line, which Windows converts from the
// wide one with best fit: a character that the code page lacks becomes '?',
// or a look-alike ("\uFF0Dk" becomes the option "-k", a fullwidth quote a
// quote that splits the line elsewhere). So each argument after the
// program's name must convert back to the same argument of the wide command
// line; otherwise one line names the first that does not, and the program
// ends with exit code 1 before the component is loaded. The program's own
// path may be lossy: the component is found in UTF-16 (LoadComponent).
static void CheckArguments() {
  const int count = __argc;  // the Universal C Runtime sets __argc anew for the wide arguments
  wchar_t** wide = NULL;
  const int wideCount = WideArguments(&wide);
  static wchar_t converted[32768];  // a command line holds at most 32,767 units
  for (int i = 1; i < count || i < wideCount; i++) {
    bool exact = i < count && i < wideCount &&
                 MultiByteToWideChar(CP_ACP, 0, __argv[i], -1, converted, ARRAYSIZE(converted)) > 0 &&
                 wcscmp(converted, wide[i]) == 0;
    if (!exact) {
      fprintf(stderr, "%s: argument %d does not convert exactly to the ANSI code page\n", __argv[0], i);
      exit(1);
    }
  }
}

// A value cut to its buffer could, for -o, save the capture somewhere else,
// so a value that does not fit ends the program before the capture starts.
static void StoreOptionValue(char option, char* buffer, size_t capacity) {
  size_t length = strlen(velmora::optarg);
  if (length >= capacity) {
    fprintf(stderr, "%s: option value longer than %u bytes -- %c\n", __argv[0],
            (unsigned)(capacity - 1), option);
    exit(1);
  }
  memcpy(buffer, velmora::optarg, length + 1);
}

// The C runtime has split the command line in the ANSI code page into
// __argc and __argv; getopt moves the non-options in __argv behind the options.
static void ReadOptions() {
  int option;
  while ((option = velmora::getopt(__argc, __argv, "o:k:l:")) != -1) {
    switch (option) {
      case 'o': StoreOptionValue('o', s_optionO, sizeof(s_optionO)); break;
      case 'k': StoreOptionValue('k', s_optionK, sizeof(s_optionK)); break;
      case 'l': StoreOptionValue('l', s_optionL, sizeof(s_optionL)); break;
      default: break;  // 0: getopt has reported the error; the capture still starts.
    }
  }
}

// ---------------------------------------------------------------------------
// The capture

static void __cdecl CaptureFinished(int result) {
  exit(result == 1 ? 0 : result == 2 ? 3 : 4);
}

// The entry point's own parameters are not used (see ReadOptions). The
// component is loaded before the option values are read, so that a missing
// component ends with exit code 2 even on a faulty command line; arguments
// that the code page cannot hold are refused before anything is loaded.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  velmora::UseStartupStdHandles();
  CheckArguments();
  LoadComponent();
  ReadOptions();

  s_InitScreenCapture(s_optionK);
  s_InitCaptureParam(1, 2);
  s_InitCaptureParam(2, 0);
  s_InitCaptureParam(6, 1);
  s_InitCaptureParam(8, (INT_PTR) "VelmoraIM");
  s_InitCaptureParam(10, (INT_PTR) "");
  s_StartScreenCapture(s_optionO, CaptureFinished, 0, 0, 0, 0, 0, 0, 0, 0);

  // Without a console, as when the client starts it, the key read returns
  // at once; only the callback, on whatever thread, ends the process.
  printf("press any key to abort");
  _getch();
  for (;;) Sleep(50);
}
