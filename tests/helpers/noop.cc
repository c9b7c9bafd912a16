// The floors of the benchmarks: programs that do nothing, each built as the
// program it stands beside is and importing the same system DLLs (tests
// compare them). noop stands beside veltools: a console program with a wide
// entry point that loads user32.dll. Built with NOOP_WINDOWED, noop_windowed
// stands beside velmora_capture: a windowed program with an ANSI entry point.
#include <windows.h>

#ifdef NOOP_WINDOWED
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
#else
int wmain(int argc, wchar_t**) {
  // Never true: the call keeps user32.dll, whose loading veltools pays too.
  if (argc < 0) CloseClipboard();
  return 0;
}
#endif
