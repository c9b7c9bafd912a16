// veltools clipboard setfiles [PATH...]
// veltools clipboard getfiles
//
// Puts a shell file-drop list (CF_HDROP) of the given paths on the clipboard,
// or prints the clipboard's list, one UTF-8 path a line. The exit code is the
// only report: -1 for a bad command or a list that could not be placed, -2 for
// a missing sub-command, 0 otherwise; getfiles always ends with 0. Nothing is
// written to standard error.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static_assert(sizeof(DROPFILES) == 20, "the list's paths start right after a 20-byte header");

// ---- setfiles ---------------------------------------------------------------

// Builds the list in a movable block, every byte written: the header, each
// non-empty path with its NUL, then the NUL that ends the list. An empty name
// would end the list for every reader and hide the paths after it, so empty
// arguments are left out. Returns NULL when the block cannot be had.
static HGLOBAL BuildDropList(int count, wchar_t** paths) {
  SIZE_T size = sizeof(DROPFILES) + sizeof(wchar_t);
  for (int i = 0; i < count; i++) {
    if (paths[i][0] != L'\0') size += (lstrlenW(paths[i]) + 1) * sizeof(wchar_t);
  }
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (block == NULL) return NULL;
  BYTE* bytes = static_cast<BYTE*>(GlobalLock(block));
  if (bytes == NULL) {
    GlobalFree(block);
    return NULL;
  }
  DROPFILES header = {};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = TRUE;
  memcpy(bytes, &header, sizeof(header));
  SIZE_T offset = sizeof(DROPFILES);
  for (int i = 0; i < count; i++) {
    if (paths[i][0] == L'\0') continue;
    SIZE_T bytesWithNul = (lstrlenW(paths[i]) + 1) * sizeof(wchar_t);
    memcpy(bytes + offset, paths[i], bytesWithNul);
    offset += bytesWithNul;
  }
  const wchar_t listEnd = L'\0';
  memcpy(bytes + offset, &listEnd, sizeof(listEnd));
  GlobalUnlock(block);
  return block;
}

static int SetFiles(int count, wchar_t** paths) {
  if (!OpenClipboard(NULL)) return -1;
  HGLOBAL block = BuildDropList(count, paths);
  if (block == NULL) {
    CloseClipboard();
    return -1;
  }
  EmptyClipboard();
  // Once accepted, the block belongs to the clipboard. A refusal leaves the
  // list off the clipboard, which the caller must learn from the exit code.
  bool placed = SetClipboardData(CF_HDROP, block) != NULL;
  if (!placed) GlobalFree(block);
  CloseClipboard();
  return placed ? 0 : -1;
}

// ---- getfiles ---------------------------------------------------------------

// A heap buffer that grows to the largest size asked of it.
struct Buffer {
  void* data;
  size_t size;
};

static void* Reserve(Buffer* buffer, size_t size) {
  if (size > buffer->size) {
    void* grown = realloc(buffer->data, size);
    if (grown == NULL) return NULL;
    buffer->data = grown;
    buffer->size = size;
  }
  return buffer->data;
}

// Prints one path as a UTF-8 line; the C runtime's text mode makes the line
// feed CR LF. A path that cannot be converted for lack of memory is left out.
static void PrintPath(const wchar_t* path, UINT length, Buffer* utf8) {
  int size = WideCharToMultiByte(CP_UTF8, 0, path, length + 1, NULL, 0, NULL, NULL);
  char* line = static_cast<char*>(Reserve(utf8, size));
  if (size == 0 || line == NULL) return;
  WideCharToMultiByte(CP_UTF8, 0, path, length + 1, line, size, NULL, NULL);
  // The line feed takes the terminator's place. Written with fwrite, because
  // wine's C runtime flushes at every line feed that printf or fputs write:
  // one system write per path.
  line[size - 1] = '\n';
  fwrite(line, 1, size, stdout);
}

static int GetFiles() {
  if (!OpenClipboard(NULL)) return 0;
  // The handle stays the clipboard's; it is only read here.
  HDROP list = static_cast<HDROP>(GetClipboardData(CF_HDROP));
  if (list != NULL) {
    Buffer path = {}, utf8 = {};
    UINT count = DragQueryFileW(list, 0xFFFFFFFF, NULL, 0);
    for (UINT i = 0; i < count; i++) {
      // Asking for the length first prints long paths whole; a fixed buffer
      // would cut them into the name of another file.
      UINT length = DragQueryFileW(list, i, NULL, 0);
      if (length == 0) continue;
      wchar_t* units = static_cast<wchar_t*>(Reserve(&path, (length + 1) * sizeof(wchar_t)));
      if (units == NULL) continue;
      length = DragQueryFileW(list, i, units, length + 1);
      if (length != 0) PrintPath(units, length, &utf8);
    }
    free(path.data);
    free(utf8.data);
  }
  CloseClipboard();
  return 0;
}

// ---- command line -----------------------------------------------------------

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || lstrcmpW(argv[1], L"clipboard") != 0) return -1;
  if (argc < 3) return -2;
  if (lstrcmpW(argv[2], L"setfiles") == 0) return SetFiles(argc - 3, argv + 3);
  if (lstrcmpW(argv[2], L"getfiles") == 0) return GetFiles();
  return -1;
}
