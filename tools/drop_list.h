// The names of a shell file-drop list (CF_HDROP): a DROPFILES header, then
// NUL-terminated names, then an empty name that closes the list. Another
// program may have placed any bytes there, so the block is checked whole
// before a name is read. Pure logic: veltools uses it, and the host's unit
// tests and fuzz target build it too.
#ifndef VELMORA_DROP_LIST_H
#define VELMORA_DROP_LIST_H

#include <stddef.h>
#include <stdint.h>

namespace velmora {

// Where the names of a checked block lie, as byte offsets into it.
struct DropList {
  bool wide;     // fWide: UTF-16LE names; otherwise names in the ANSI code page
  size_t first;  // the first name, at pFiles
  size_t end;    // the empty name that closes the list
};

// Checks a block of size bytes: it holds the 20-byte header; pFiles points
// at or past the header and inside the block; each name with its NUL, and
// the closing empty name, lie inside the block, in units of fWide's kind
// (2 bytes or 1). Bytes past the closing name are allowed. Fills *list and
// returns true for a block that passes; returns false otherwise.
bool CheckDropList(const uint8_t* block, size_t size, DropList* list);

// The name that starts at *offset, with list.first <= *offset < list.end in
// a checked list: returns its length in units, without its NUL, and moves
// *offset to the next name.
size_t NextDropName(const uint8_t* block, const DropList& list, size_t* offset);

}  // namespace velmora

#endif  // VELMORA_DROP_LIST_H
