// clipboard_helper dump | hold [MS] | putraw FILE | puttext TEXT
//
// The other program on the clipboard for the veltools tests and benchmark:
//   dump     prints the clipboard's CF_HDROP block as one line of hex, or "none";
//   hold     keeps the clipboard open, prints "held" once it is, and lets go
//            when its standard input ends, or MS milliseconds after "held";
//   putraw   puts the bytes of FILE, whatever they are, on the clipboard as
//            its CF_HDROP block, in a block of exactly their size;
//   puttext  puts text only on the clipboard.
// Failures print to standard error and exit with a code from 90 on.
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

static int Fail(int code, const char* what) {
  fprintf(stderr, "clipboard_helper: %s failed: %lu\n", what, GetLastError());
  return code;
}

// Replaces the clipboard's content with one block of the given format.
static int PutBlock(UINT format, HGLOBAL block) {
  if (!OpenClipboard(NULL)) return Fail(91, "OpenClipboard");
  EmptyClipboard();
  bool placed = SetClipboardData(format, block) != NULL;
  CloseClipboard();
  return placed ? 0 : Fail(92, "SetClipboardData");
}

static int Dump() {
  if (!OpenClipboard(NULL)) return Fail(93, "OpenClipboard");
  HGLOBAL block = GetClipboardData(CF_HDROP);
  if (block == NULL) {
    printf("none\n");
  } else {
    const BYTE* bytes = static_cast<const BYTE*>(GlobalLock(block));
    for (SIZE_T i = 0, size = GlobalSize(block); i < size; i++) printf("%02x", bytes[i]);
    printf("\n");
    GlobalUnlock(block);
  }
  CloseClipboard();
  return 0;
}

// Under wine OpenClipboard(NULL) succeeds in two processes at once; opened
// for a window of its own, the clipboard is refused to everyone else.
static int Hold(const wchar_t* milliseconds) {
  HWND window = CreateWindowExW(0, L"STATIC", L"clipboard_helper", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                NULL, NULL, NULL);
  if (window == NULL) return Fail(94, "CreateWindowEx");
  if (!OpenClipboard(window)) return Fail(95, "OpenClipboard");
  printf("held\n");
  fflush(stdout);
  if (milliseconds != NULL) {
    Sleep(wcstoul(milliseconds, NULL, 10));
  } else {
    while (getchar() != EOF) {}
  }
  CloseClipboard();
  return 0;
}

static int PutRaw(const wchar_t* file) {
  HANDLE input = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (input == INVALID_HANDLE_VALUE) return Fail(96, "CreateFile");
  DWORD size = GetFileSize(input, NULL), read = 0;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == NULL) return Fail(90, "GlobalAlloc");
  bool whole = ReadFile(input, GlobalLock(block), size, &read, NULL) && read == size;
  GlobalUnlock(block);
  CloseHandle(input);
  if (!whole) return Fail(97, "ReadFile");
  return PutBlock(CF_HDROP, block);
}

static int PutText(const wchar_t* text) {
  SIZE_T size = (lstrlenW(text) + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == NULL) return Fail(90, "GlobalAlloc");
  memcpy(GlobalLock(block), text, size);
  GlobalUnlock(block);
  return PutBlock(CF_UNICODETEXT, block);
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && wcscmp(argv[1], L"dump") == 0) return Dump();
  if (argc >= 2 && wcscmp(argv[1], L"hold") == 0) return Hold(argc >= 3 ? argv[2] : NULL);
  if (argc == 3 && wcscmp(argv[1], L"putraw") == 0) return PutRaw(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"puttext") == 0) return PutText(argv[2]);
  fprintf(stderr, "usage: clipboard_helper dump | hold [MS] | putraw FILE | puttext TEXT\n");
  return 99;
}
