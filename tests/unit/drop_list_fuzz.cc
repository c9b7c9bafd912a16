// libFuzzer target for veltools' check and walk of a CF_HDROP block. The
// input is the block, in a heap buffer of its exact size, so that
// AddressSanitizer catches any read past it. Invariant: the block passes
// exactly when a plain reference walk finds the closing empty name inside
// it, and then the walk gives the reference's names, in order.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>
#include <vector>

#include "drop_list.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0 : (fprintf(stderr, "violated: %s, line %d\n", #condition, __LINE__), abort()))

// The (offset, length) of each name when the list lies whole inside the block.
static bool ReferenceNames(const uint8_t* block, uint64_t size, std::vector<std::pair<size_t, size_t>>* names) {
  if (size < 20) return false;
  uint64_t at = block[0] | block[1] << 8 | block[2] << 16 | static_cast<uint64_t>(block[3]) << 24;
  uint64_t unit = (block[16] | block[17] | block[18] | block[19]) != 0 ? 2 : 1;
  for (uint64_t length = 0; at >= 20; length++) {
    uint64_t offset = at + length * unit;
    if (offset + unit > size) return false;
    if (block[offset] != 0 || (unit == 2 && block[offset + 1] != 0)) continue;
    if (length == 0) return true;
    names->emplace_back(at, length);
    at = offset + unit;
    length = -1;  // the loop's increment starts the next name at 0
  }
  return false;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* block = static_cast<uint8_t*>(malloc(size + (size == 0)));
  memcpy(block, data, size);
  std::vector<std::pair<size_t, size_t>> expected, got;
  velmora::DropList list;
  bool whole = ReferenceNames(block, size, &expected);
  REQUIRE(velmora::CheckDropList(block, size, &list) == whole);
  if (whole) {
    for (size_t offset = list.first; offset < list.end && got.size() <= expected.size();) {
      size_t start = offset;
      got.emplace_back(start, velmora::NextDropName(block, list, &offset));
    }
    REQUIRE(got == expected);
  }
  free(block);
  return 0;
}
