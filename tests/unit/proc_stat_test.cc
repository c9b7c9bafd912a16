// The /proc/N/stat reader: command names that look like fields, the edges of
// the number, truncated reads, and this process's own file.
#include "linux_readers.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

// The parent read from text, or -1 when the reader finds none.
int64_t Parent(const std::string& text) {
  // An exact-size heap copy, so that AddressSanitizer catches a read past it.
  char* copy = static_cast<char*>(malloc(text.size() + 1));
  memcpy(copy, text.data(), text.size());
  uint32_t ppid = 12345;
  bool found = ParentPidFromStat(copy, text.size(), &ppid);
  free(copy);
  return found ? static_cast<int64_t>(ppid) : -1;
}

TEST(ProcStat, TheFieldAfterTheLastParenthesis) {
  EXPECT_EQ(Parent("4120 (node) S 3880 4120 4120 0 -1 4194560 1 0"), 3880);
  EXPECT_EQ(Parent("1 (systemd) S 0 1 1 0 -1"), 0);
  // Names may hold spaces, parentheses and what looks like the next fields.
  EXPECT_EQ(Parent("77 (a) S 1 (b) R 99 77) S 42 77 77"), 42);
  EXPECT_EQ(Parent("77 ()) S 5 1"), 5);
  EXPECT_EQ(Parent("77 ( ) S 6 1"), 6);
  EXPECT_EQ(Parent("77 (\xe6\xa1\x8c) S 7 1"), 7);
  EXPECT_EQ(Parent("9 (kworker/u8:1-events_unbound) I 2 0 0"), 2);
  EXPECT_EQ(Parent("9 (x) t 4294967295 0"), 4294967295);
  EXPECT_EQ(Parent("9 (x) Z 0007 0"), 7);
}

TEST(ProcStat, MalformedOrTruncatedGivesNone) {
  for (const char* text : {"", ")", "4120 node S 3880 1", "4120 (node) S 3880", "4120 (node) S ",
                           "4120 (node) S", "4120 (node)", "4120 (node)  S 3880 1",
                           "4120 (node) SS 3880 1", "4120 (node) 1 3880 1", "4120 (node) S -1 1",
                           "4120 (node) S +1 1", "4120 (node) S 38x0 1", "4120 (node) S 4294967296 1",
                           "4120 (node) S 99999999999999999999999 1", "4120 (node)\nS 3880 1"}) {
    EXPECT_EQ(Parent(text), -1) << text;
  }
  // Every prefix of a line is read whole or not at all.
  const std::string line = "4120 (no)de) S 3880 4120";
  for (size_t length = 0; length < line.size(); ++length) {
    int64_t parent = Parent(line.substr(0, length));
    EXPECT_TRUE(parent == -1 || parent == 3880) << length;
    EXPECT_EQ(parent == 3880, length >= 20) << length;
  }
}

TEST(ProcStat, ThisProcessFileNamesItsParent) {
  FILE* file = fopen("/proc/self/stat", "r");
  ASSERT_NE(file, nullptr);
  char text[512];
  size_t length = fread(text, 1, sizeof(text), file);
  fclose(file);
  EXPECT_EQ(Parent(std::string(text, length)), getppid());
}

}  // namespace
