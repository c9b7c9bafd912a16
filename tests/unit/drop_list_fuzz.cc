// libFuzzer target for veltools' check and walk of a CF_HDROP block. The
// input is the block itself, in a heap buffer of its exact size, so that
// AddressSanitizer catches any read past it.
//
// Invariants: a block passes exactly when a plain reference walk, written
// for clarity rather than speed, finds the closing empty name inside it;
// then the names the walk gives are the reference's, each non-empty, in
// order, and the walk ends on the closing name.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "drop_list.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0 : (fprintf(stderr, "violated: %s, line %d\n", #condition, __LINE__), abort()))

struct Name {
  size_t start, length;
};

// The reference: true, with the names, when the list is whole inside the block.
static bool ReferenceNames(const uint8_t* block, size_t size, std::vector<Name>* names) {
  if (size < 20) return false;
  uint64_t first = block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint64_t>(block[3]) << 24;
  uint64_t unit = (block[16] | block[17] | block[18] | block[19]) != 0 ? 2 : 1;
  if (first < 20) return false;
  for (uint64_t at = first;;) {
    uint64_t length = 0;
    for (;; length++) {
      uint64_t offset = at + length * unit;
      if (offset + unit > size) return false;
      if (block[offset] == 0 && (unit == 1 || block[offset + 1] == 0)) break;
    }
    if (length == 0) return true;
    names->push_back(Name{static_cast<size_t>(at), static_cast<size_t>(length)});
    at += (length + 1) * unit;
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* block = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
  memcpy(block, data, size);
  std::vector<Name> expected;
  bool whole = ReferenceNames(block, size, &expected);
  velmora::DropList list;
  REQUIRE(velmora::CheckDropList(block, size, &list) == whole);
  if (whole) {
    size_t unit = list.wide ? 2 : 1;
    size_t count = 0;
    for (size_t offset = list.first; offset < list.end; count++) {
      REQUIRE(count < expected.size());
      REQUIRE(offset == expected[count].start);
      REQUIRE(velmora::NextDropName(block, list, &offset) == expected[count].length);
    }
    REQUIRE(count == expected.size());
    REQUIRE(list.end + unit <= size);
  }
  free(block);
  return 0;
}
