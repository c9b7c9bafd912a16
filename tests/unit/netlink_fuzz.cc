// libFuzzer target for the route netlink dump reader. The input is a split
// point's byte, then two buffers of a dump, each read from a heap block of its
// exact size, so that AddressSanitizer catches any read past one; then the
// same bytes are read again one byte past an aligned address. Invariant: both
// readings give the same progress and the same answer.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "linux_readers.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0   \
               : (fprintf(stderr, "violated: %s, line %d\n", #condition, __LINE__), abort()))

// Reads the two parts, each at offset bytes into a block of its own.
static int Read(const uint8_t* parts[2], const size_t sizes[2], size_t offset, bool* online) {
  NetlinkState state = {};
  int progress = 0;
  for (int i = 0; i < 2; ++i) {
    size_t blockSize = offset + sizes[i];
    uint8_t* block = static_cast<uint8_t*>(malloc(blockSize + (blockSize == 0)));
    memcpy(block + offset, parts[i], sizes[i]);
    progress = progress * 3 + ReadNetlinkDump(block + offset, sizes[i], &state);
    free(block);
  }
  *online = NetlinkOnline(&state);
  NetlinkStateFree(&state);
  return progress;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  size_t split = data[0] * 4 < size - 1 ? data[0] * 4 : size - 1;
  const uint8_t* parts[2] = {data + 1, data + 1 + split};
  const size_t sizes[2] = {split, size - 1 - split};
  bool online, shiftedOnline;
  REQUIRE(Read(parts, sizes, 0, &online) == Read(parts, sizes, 1, &shiftedOnline));
  REQUIRE(online == shiftedOnline);
  return 0;
}
