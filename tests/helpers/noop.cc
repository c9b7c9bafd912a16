// The floor of the veltools benchmark: a program that does nothing, built as
// veltools is and importing the same system DLLs (a test compares them).
#include <windows.h>

int wmain(int argc, wchar_t**) {
  // Never true: the call keeps user32.dll, whose loading veltools pays too.
  if (argc < 0) CloseClipboard();
  return 0;
}
