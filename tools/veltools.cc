// veltools clipboard setfiles [PATH...]
// veltools clipboard getfiles
//
// Puts a shell file-drop list (CF_HDROP) of the given paths on the clipboard,
// or prints the clipboard's list, one UTF-8 path a line. The exit code is the
// only report: -1 for a bad command or a list that could not be placed, -2 for
// a missing sub-command, 0 otherwise; getfiles always ends with 0. Nothing is
// written to standard error.
//
// Both commands wait up to about half a second for a clipboard that another
// program holds. getfiles reads the list itself and walks it twice: once to
// check it whole (drop_list.h), so that a block that fails prints nothing,
// then once to print its names.
#include <windows.h>
#include <shlobj.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "drop_list.h"
#include "std_handles.h"

static_assert(sizeof(DROPFILES) == 20, "the list's paths start right after a 20-byte header");

// ---- the clipboard ----------------------------------------------------------

// Clipboard history and cloud clipboard services open the clipboard right
// after each change, for a moment: both commands try again every 10 ms for
// about half a second before they take the clipboard to be held.
static bool OpenClipboardSoon() {
  DWORD start = GetTickCount();
  while (!OpenClipboard(NULL)) {
    if (GetTickCount() - start >= 500) return false;
    Sleep(10);
  }
  return true;
}

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
  if (!OpenClipboardSoon()) return -1;
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

// Prints one name of length units as a UTF-8 line; the C runtime's text mode
// makes the line feed CR LF. ANSI names are converted from the ANSI code page
// first, as DragQueryFileW converts them. A name that cannot be converted for
// lack of memory is left out.
static void PrintName(const uint8_t* name, size_t length, bool wide, Buffer* units, Buffer* utf8) {
  const wchar_t* text = reinterpret_cast<const wchar_t*>(name);
  int count = static_cast<int>(length);
  if (!wide || reinterpret_cast<uintptr_t>(name) % sizeof(wchar_t) != 0) {
    wchar_t* copy = static_cast<wchar_t*>(Reserve(units, length * sizeof(wchar_t)));
    if (copy == NULL) return;
    if (wide) {
      memcpy(copy, name, length * sizeof(wchar_t));  // an odd pFiles: units unaligned
    } else {
      count = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(name), count, copy, count);
    }
    text = copy;
  }
  // At most 3 bytes a UTF-16 unit, then the line feed.
  char* line = static_cast<char*>(Reserve(utf8, 3 * length + 1));
  if (line == NULL) return;
  int size = WideCharToMultiByte(CP_UTF8, 0, text, count, line, 3 * count, NULL, NULL);
  if (size == 0) return;
  line[size] = '\n';
  // fwrite, because wine's C runtime flushes at every line feed that printf
  // or fputs write: one system write per name.
  fwrite(line, 1, size + 1, stdout);
}

// Prints the names of a list that passes the check, in a second walk: the
// check walks it whole first, so that a malformed list prints nothing at all.
static int GetFiles() {
  if (!OpenClipboardSoon()) return 0;
  // The handle stays the clipboard's; it is only read here.
  HGLOBAL data = GetClipboardData(CF_HDROP);
  const uint8_t* block = data != NULL ? static_cast<const uint8_t*>(GlobalLock(data)) : NULL;
  velmora::DropList list;
  if (block != NULL && velmora::CheckDropList(block, GlobalSize(data), &list)) {
    Buffer units = {}, utf8 = {};
    for (size_t offset = list.first; offset < list.end;) {
      const uint8_t* name = block + offset;
      size_t length = velmora::NextDropName(block, list, &offset);
      PrintName(name, length, list.wide, &units, &utf8);
    }
    free(units.data);
    free(utf8.data);
  }
  if (block != NULL) GlobalUnlock(data);
  CloseClipboard();
  return 0;
}

// ---- command line -----------------------------------------------------------

int wmain(int argc, wchar_t** argv) {
  velmora::UseStartupStdHandles();
  if (argc < 2 || lstrcmpW(argv[1], L"clipboard") != 0) return -1;
  if (argc < 3) return -2;
  if (lstrcmpW(argv[2], L"setfiles") == 0) return SetFiles(argc - 3, argv + 3);
  if (lstrcmpW(argv[2], L"getfiles") == 0) return GetFiles();
  return -1;
}
