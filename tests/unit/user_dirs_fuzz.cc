// libFuzzer target for the user-dirs.dirs reader. The input is a name
// selector byte, then the file's text, in a heap buffer of its exact size,
// so that AddressSanitizer catches any read past it. Invariants: a value is
// an absolute path; the file's value is the value of its last line that
// gives one; and a value written back as a double-quoted or single-quoted
// assignment (and, when it lies under the home folder, as "$HOME/...") reads
// back the same.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "linux_readers.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0 : (fprintf(stderr, "violated: %s, line %d\n", #condition, __LINE__), abort()))

static const char* const kNames[] = {"DESKTOP", "DOCUMENTS", "DOWNLOAD", "MUSIC",
                                     "PICTURES", "VIDEOS", "TEMPLATES", "PUBLICSHARE"};
static const char kHome[] = "/home/a $b";

// The value for name, or "" for none.
static std::string Read(const std::string& text, const char* name) {
  char* copy = static_cast<char*>(malloc(text.size() + 1));
  memcpy(copy, text.data(), text.size());
  char* value = UserDirsValue(copy, text.size(), name, kHome);
  free(copy);
  std::string result = value != NULL ? value : "";
  free(value);
  return result;
}

static std::string DoubleQuoted(const std::string& value) {
  std::string quoted = "\"";
  for (char c : value) {
    if (c == '"' || c == '\\' || c == '$' || c == '`') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* name = kNames[data[0] % 8];
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string value = Read(text, name);
  REQUIRE(value.empty() || value[0] == '/');

  std::string lastLineValue;
  for (size_t start = 0; start <= text.size();) {
    size_t newline = text.find('\n', start);
    size_t end = newline == std::string::npos ? text.size() : newline;
    std::string lineValue = Read(text.substr(start, end - start), name);
    if (!lineValue.empty()) lastLineValue = lineValue;
    start = end + 1;
  }
  REQUIRE(value == lastLineValue);

  if (!value.empty()) {
    std::string variable = std::string("XDG_") + name + "_DIR=";
    REQUIRE(Read(variable + DoubleQuoted(value), name) == value);
    if (value.find('\'') == std::string::npos) REQUIRE(Read(variable + "'" + value + "'", name) == value);
    if (value.compare(0, strlen(kHome), kHome) == 0) {
      REQUIRE(Read(variable + "\"$HOME\"" + DoubleQuoted(value.substr(strlen(kHome))), name) == value);
    }
  }
  return 0;
}
