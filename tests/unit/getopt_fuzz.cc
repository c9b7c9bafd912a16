// libFuzzer target for the launcher's getopt. The input is a flags byte (bit
// 0: POSIXLY_CORRECT), then the option string and the elements after "prog",
// separated by NUL bytes. Each text and the array itself are allocated to
// their exact size, without the usual null after the last element, so that
// AddressSanitizer catches any read past one of them.
//
// Invariants: parsing ends within one call per character and element; every
// result is -1, 0 or a character of the option string; optarg is null or
// points into an element; the array stays a permutation of its start with
// "prog" first. The same holds for calls made after the end.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "getopt.h"

#define REQUIRE(condition) \
  ((condition) ? (void)0 : (fprintf(s_report, "violated: %s, line %d\n", #condition, __LINE__), abort()))

// Where violations are reported; stderr itself receives getopt's messages.
static FILE* s_report;

static char* Copy(const uint8_t* text, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

static bool PointsIntoAnElement(const char* p, const std::vector<char*>& elements) {
  for (char* element : elements) {
    if (p >= element && p <= element + strlen(element)) return true;
  }
  return false;
}

// Calls getopt until -1 and checks each result.
static void ParseToEnd(int argc, char** argv, const char* optstring, size_t maxCalls,
                       const std::vector<char*>& elements) {
  for (size_t calls = 0;; calls++) {
    REQUIRE(calls <= maxCalls);
    int c = velmora::getopt(argc, argv, optstring);
    if (c == -1) break;
    REQUIRE(c == 0 || (c != ':' && strchr(optstring, c) != NULL));
    REQUIRE(velmora::optarg == NULL || PointsIntoAnElement(velmora::optarg, elements));
  }
  REQUIRE(velmora::optind >= 1 && velmora::optind <= argc);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  s_report = stderr;
  stderr = fopen("/dev/null", "w");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    setenv("POSIXLY_CORRECT", "", 1);
  } else {
    unsetenv("POSIXLY_CORRECT");
  }

  std::vector<char*> texts;
  const uint8_t* end = data + size;
  for (const uint8_t* p = data + 1;;) {
    const uint8_t* nul = std::find(p, end, 0);
    texts.push_back(Copy(p, nul - p));
    if (nul == end) break;
    p = nul + 1;
  }
  char* optstring = texts[0];
  std::vector<char*> elements(texts.begin() + 1, texts.end());
  char prog[] = "prog";
  elements.insert(elements.begin(), prog);

  int argc = static_cast<int>(elements.size());
  char** argv = static_cast<char**>(malloc(argc * sizeof(char*)));
  std::copy(elements.begin(), elements.end(), argv);
  size_t maxCalls = argc + size;

  velmora::optind = 0;
  ParseToEnd(argc, argv, optstring, maxCalls, elements);
  ParseToEnd(argc, argv, optstring, maxCalls, elements);

  REQUIRE(argv[0] == prog);
  REQUIRE(std::is_permutation(argv, argv + argc, elements.begin()));
  free(argv);
  for (char* text : texts) free(text);
  return 0;
}
