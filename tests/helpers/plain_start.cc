// plain_start PROGRAM [ARGUMENT...]
//
// Starts PROGRAM with the rest of its own command line, unchanged, handing it
// this process's standard handles through STARTUPINFO alone, as most Windows
// starters do; waits for it and exits with its exit code.
//
// Tests start a 32-bit program through it to see its standard error apart
// from its standard output. node.exe also hands a child libuv's table of
// C-runtime descriptors (lpReserved2), with 64-bit handle slots that a 32-bit
// C runtime reads as 32-bit ones: the child's descriptor 2 then gets the
// stdout pipe, and all three are in binary mode. Wine's C runtime goes on to
// make the misread handles the process's standard handles (SetStdHandle), so
// this starter takes the true ones from its own STARTUPINFO.
//
// With PLAIN_START_STDIN_AND_STDOUT (or _STDERR) naming a file, it hands
// that file, opened once, as standard input and as standard output (or
// error): one handle in both places, as a parent may. With
// PLAIN_START_STDIN_UNDER_STDOUT (or _STDERR) naming a file, it hands that
// file as standard input, and also passes a C-runtime descriptor table
// (lpReserved2) that holds it under descriptor 1 (or 2), while STARTUPINFO
// names this process's own handle there.
#include <windows.h>
#include <stdio.h>
#include <string.h>

// The command line after its first argument, split as the C runtime does.
static wchar_t* SkipFirstArgument(wchar_t* commandLine) {
  wchar_t* p = commandLine;
  if (*p == L'"') {
    for (p++; *p != L'\0' && *p != L'"'; p++) {}
    if (*p == L'"') p++;
  } else {
    while (*p != L'\0' && *p != L' ' && *p != L'\t') p++;
  }
  while (*p == L' ' || *p == L'\t') p++;
  return p;
}

// Opens the file that variable names, if it is set, as *input and *other.
static void ShareFile(const char* variable, HANDLE* input, HANDLE* other) {
  char name[MAX_PATH];
  DWORD length = GetEnvironmentVariableA(variable, name, sizeof(name));
  if (length == 0) return;
  SECURITY_ATTRIBUTES inherited = {sizeof(inherited), NULL, TRUE};
  *input = *other = CreateFileA(length < sizeof(name) ? name : "", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, NULL);
  if (*input == INVALID_HANDLE_VALUE) {
    printf("plain_start: CreateFile of %s failed: %lu\n", variable, GetLastError());
    ExitProcess(97);
  }
}

// A C runtime's descriptor table for descriptors 0 to 2: their count, a
// flag byte each (FOPEN and FTEXT), then their handles, packed.
struct DescriptorTable {
  unsigned char bytes[sizeof(int) + 3 + 3 * sizeof(HANDLE)];
};

static DescriptorTable MakeDescriptorTable(const HANDLE (&handles)[3]) {
  DescriptorTable table;
  int count = 3;
  memcpy(table.bytes, &count, sizeof(count));
  memset(table.bytes + sizeof(count), 0x81, 3);
  memcpy(table.bytes + sizeof(count) + 3, handles, sizeof(handles));
  return table;
}

int main() {
  STARTUPINFOW own;
  GetStartupInfoW(&own);
  STARTUPINFOW si = {sizeof(si)};
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = own.hStdInput;
  si.hStdOutput = own.hStdOutput;
  si.hStdError = own.hStdError;
  ShareFile("PLAIN_START_STDIN_AND_STDOUT", &si.hStdInput, &si.hStdOutput);
  ShareFile("PLAIN_START_STDIN_AND_STDERR", &si.hStdInput, &si.hStdError);
  HANDLE descriptors[3] = {si.hStdInput, si.hStdOutput, si.hStdError};
  ShareFile("PLAIN_START_STDIN_UNDER_STDOUT", &si.hStdInput, &descriptors[1]);
  ShareFile("PLAIN_START_STDIN_UNDER_STDERR", &si.hStdInput, &descriptors[2]);
  descriptors[0] = si.hStdInput;
  DescriptorTable table = MakeDescriptorTable(descriptors);
  if (descriptors[1] != si.hStdOutput || descriptors[2] != si.hStdError) {
    si.cbReserved2 = sizeof(table.bytes);
    si.lpReserved2 = table.bytes;
  }
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(NULL, SkipFirstArgument(GetCommandLineW()), NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
    printf("plain_start: CreateProcess failed: %lu\n", GetLastError());
    return 98;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  return (int)code;
}
