// clipboard_helper dump | hold | putansi PATH... | puttext TEXT
//
// The other program on the clipboard for the veltools tests:
//   dump     prints the clipboard's CF_HDROP block as one line of hex, or "none";
//   hold     keeps the clipboard open, prints "held" once it is, and lets go
//            when its standard input ends;
//   putansi  puts a file-drop list of ANSI paths (fWide 0) on the clipboard;
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
static int Put(UINT format, const void* data, SIZE_T size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == NULL) return Fail(90, "GlobalAlloc");
  memcpy(GlobalLock(block), data, size);
  GlobalUnlock(block);
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
static int Hold() {
  HWND window = CreateWindowExW(0, L"STATIC", L"clipboard_helper", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                NULL, NULL, NULL);
  if (window == NULL) return Fail(94, "CreateWindowEx");
  if (!OpenClipboard(window)) return Fail(95, "OpenClipboard");
  printf("held\n");
  fflush(stdout);
  while (getchar() != EOF) {}
  CloseClipboard();
  return 0;
}

// The paths must survive the ANSI code page unchanged, or the test would
// compare against a name that was never on the clipboard.
static int PutAnsi(int count, wchar_t** paths) {
  char list[4096];
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  memcpy(list, &header, sizeof(header));
  size_t offset = sizeof(header);
  for (int i = 0; i < count; i++) {
    BOOL lossy = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, paths[i], -1, list + offset,
                                   sizeof(list) - 1 - offset, NULL, &lossy);
    if (size == 0 || lossy) return Fail(96, "WideCharToMultiByte (code page of the path)");
    offset += size;
  }
  list[offset++] = '\0';
  return Put(CF_HDROP, list, offset);
}

static int PutText(const wchar_t* text) {
  return Put(CF_UNICODETEXT, text, (lstrlenW(text) + 1) * sizeof(wchar_t));
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && wcscmp(argv[1], L"dump") == 0) return Dump();
  if (argc >= 2 && wcscmp(argv[1], L"hold") == 0) return Hold();
  if (argc >= 2 && wcscmp(argv[1], L"putansi") == 0) return PutAnsi(argc - 2, argv + 2);
  if (argc == 3 && wcscmp(argv[1], L"puttext") == 0) return PutText(argv[2]);
  fprintf(stderr, "usage: clipboard_helper dump | hold | putansi PATH... | puttext TEXT\n");
  return 99;
}
