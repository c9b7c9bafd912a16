#include "drop_list.h"

namespace velmora {

static const size_t kHeaderSize = 20;  // pFiles, pt.x, pt.y, fNC, fWide

static uint32_t ReadUint32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Units are read as bytes: with an odd pFiles, UTF-16 units are unaligned.
static bool IsNul(const uint8_t* unit, bool wide) {
  return unit[0] == 0 && (!wide || unit[1] == 0);
}

bool CheckDropList(const uint8_t* block, size_t size, DropList* list) {
  if (size < kHeaderSize) return false;
  uint32_t first = ReadUint32(block);
  bool wide = ReadUint32(block + 16) != 0;  // any non-zero fWide, as DragQueryFile reads it
  size_t unit = wide ? 2 : 1;
  if (first < kHeaderSize || first > size) return false;
  // One unit at a time: a NUL at the start of a name closes the list.
  bool nameStart = true;
  size_t offset = first;
  for (;; offset += unit) {
    if (offset > size - unit) return false;  // size >= 20 > unit: no wrap-around
    bool nul = IsNul(block + offset, wide);
    if (nul && nameStart) break;
    nameStart = nul;
  }
  *list = DropList{wide, first, offset};
  return true;
}

size_t NextDropName(const uint8_t* block, const DropList& list, size_t* offset) {
  size_t unit = list.wide ? 2 : 1;
  size_t start = *offset, at = start;
  while (!IsNul(block + at, list.wide)) at += unit;
  *offset = at + unit;
  return (at - start) / unit;
}

}  // namespace velmora
