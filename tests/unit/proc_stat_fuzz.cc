// libFuzzer target for the /proc/N/stat reader. The input is the file's
// text, in a heap buffer of its exact size, so that AddressSanitizer catches
// any read past it. Invariant: the reader finds a parent exactly when a
// regular expression over the text after the last ')' matches " STATE PPID "
// with a number that fits 32 bits, and then gives that number.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <regex>
#include <string>

#include "linux_readers.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0 : (fprintf(stderr, "violated: %s, line %d\n", #condition, __LINE__), abort()))

static bool ReferenceParent(const std::string& text, uint32_t* ppid) {
  static const std::regex fields("^ [A-Za-z] ([0-9]+) ");
  size_t close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::string rest = text.substr(close + 1);
  std::smatch match;
  if (!std::regex_search(rest, match, fields)) return false;
  std::string digits = match[1].str();
  size_t first = digits.find_first_not_of('0');
  if (first != std::string::npos && digits.size() - first > 10) return false;
  unsigned long long value = strtoull(digits.c_str(), NULL, 10);
  if (value > UINT32_MAX) return false;
  *ppid = static_cast<uint32_t>(value);
  return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = static_cast<char*>(malloc(size + (size == 0)));
  memcpy(text, data, size);
  uint32_t got = 0, expected = 0;
  bool found = ParentPidFromStat(text, size, &got);
  REQUIRE(found == ReferenceParent(std::string(text, size), &expected));
  REQUIRE(!found || got == expected);
  free(text);
  return 0;
}
