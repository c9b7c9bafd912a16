#include "getopt.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace velmora {

char* optarg;
int optind;
int optopt;

// Where the next option character of a grouped element (-ab) lies; null or
// at the element's end when the next call goes on with the next element.
static const char* s_scanPosition;
// False when POSIXLY_CORRECT was set at initialisation: stop at the first non-option.
static bool s_permute;
// The non-options passed over and not yet moved behind the options lie at
// [s_skippedStart, s_skippedEnd); equal values mean no block is pending.
static int s_skippedStart;
static int s_skippedEnd;

static bool IsOptionLike(const char* element) {
  return element[0] == '-' && element[1] != '\0';
}

static bool IsBlockPending() {
  return s_skippedStart != s_skippedEnd;
}

// Moves the options taken since the pending non-options, [end, optind), in
// front of them, [start, end), each group keeping its order. Reversing the
// whole range and then each of the two parts swaps the parts in place, about
// one swap per element and no memory, however often it runs.
static void RotateSkippedBlock(char** argv) {
  int optionCount = optind - s_skippedEnd;
  std::reverse(argv + s_skippedStart, argv + optind);
  std::reverse(argv + s_skippedStart, argv + s_skippedStart + optionCount);
  std::reverse(argv + s_skippedStart + optionCount, argv + optind);
  s_skippedStart += optionCount;
  s_skippedEnd = optind;
}

// Goes on to the next element; returns false when parsing ends there, with
// optind at the first non-option.
static bool MoveToNextElement(int argc, char** argv) {
  // Only a caller that calls again after the end, or moves optind back, gets
  // a pending block that reaches past optind; a rotation must not run there.
  s_skippedEnd = std::min(s_skippedEnd, optind);
  s_skippedStart = std::min(s_skippedStart, optind);
  if (s_permute) {
    if (!IsBlockPending()) {
      s_skippedStart = optind;
    } else if (s_skippedEnd != optind) {
      RotateSkippedBlock(argv);
    }
    while (optind < argc && !IsOptionLike(argv[optind])) optind++;
    s_skippedEnd = optind;
  }
  if (optind >= argc) {
    if (IsBlockPending()) optind = s_skippedStart;
    return false;
  }
  if (strcmp(argv[optind], "--") == 0) {
    // The "--" goes in front of the non-options, with the options.
    optind++;
    if (!IsBlockPending()) {
      s_skippedStart = optind;
    } else if (s_skippedEnd != optind) {
      RotateSkippedBlock(argv);
    }
    s_skippedEnd = argc;
    optind = s_skippedStart;
    return false;
  }
  if (!IsOptionLike(argv[optind])) return false;
  s_scanPosition = argv[optind] + 1;
  return true;
}

static int ReportError(const char* format, char** argv, int c) {
  fprintf(stderr, format, argv[0], c);
  optopt = c;
  return 0;
}

int getopt(int argc, char** argv, const char* optstring) {
  optarg = NULL;
  if (optind == 0) {
    optind = 1;
    s_skippedStart = s_skippedEnd = 1;
    s_scanPosition = NULL;
    s_permute = getenv("POSIXLY_CORRECT") == NULL;
  }
  if ((s_scanPosition == NULL || *s_scanPosition == '\0') && !MoveToNextElement(argc, argv)) {
    return -1;
  }

  // Unsigned, so that a byte above 127 never comes back as -1.
  int c = static_cast<unsigned char>(*s_scanPosition++);
  const char* entry = c == ':' ? NULL : strchr(optstring, c);
  if (*s_scanPosition == '\0') optind++;
  if (entry == NULL) {
    return ReportError("%s: illegal option -- %c\n", argv, c);
  }
  if (entry[1] != ':') return c;

  bool optional = entry[2] == ':';
  if (*s_scanPosition != '\0') {
    optarg = const_cast<char*>(s_scanPosition);
    optind++;
  } else if (!optional) {
    if (optind >= argc) {
      s_scanPosition = NULL;
      return ReportError("%s: option requires an argument -- %c\n", argv, c);
    }
    optarg = argv[optind++];
  }
  s_scanPosition = NULL;
  return c;
}

}  // namespace velmora
