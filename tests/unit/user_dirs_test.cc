// The user-dirs.dirs reader: single lines of every shape it reads and of
// shapes it refuses, each line also sourced by /bin/sh where the shell is
// the judge; then whole files, and texts that are not NUL-terminated.
#include "linux_readers.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const char kHome[] = "/home/ana b";

// The value for name, or "<none>".
std::string Read(const std::string& text, const char* name = "DESKTOP") {
  // An exact-size heap copy, so that AddressSanitizer catches a read past it.
  char* copy = static_cast<char*>(malloc(text.size() + 1));
  memcpy(copy, text.data(), text.size());
  char* value = UserDirsValue(copy, text.size(), name, kHome);
  free(copy);
  std::string result = value != nullptr ? value : "<none>";
  free(value);
  return result;
}

// A literal's bytes, NULs included.
template <size_t size>
std::string Bytes(const char (&text)[size]) {
  return std::string(text, size - 1);
}

// What /bin/sh makes of XDG_DESKTOP_DIR after sourcing line with $HOME set,
// as xdg-user-dir does; "<none>" unless the result is an absolute path.
std::string SourcedBySh(const std::string& line) {
  char path[] = "/tmp/user-dirs-XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  close(fd);
  std::string command = "env -i HOME='" + std::string(kHome) + "' /bin/sh -c '. " + path +
                        " 2>/dev/null; printf %s \"$XDG_DESKTOP_DIR\"' 2>/dev/null";
  FILE* shell = popen(command.c_str(), "r");
  std::string output;
  char buffer[256];
  for (size_t n; (n = fread(buffer, 1, sizeof(buffer), shell)) > 0;) output.append(buffer, n);
  pclose(shell);
  unlink(path);
  return !output.empty() && output[0] == '/' ? output : "<none>";
}

struct LineCase {
  const char* line;
  const char* expected;
  bool shellAgrees;  // false where the reader refuses what the shell would take
};

const LineCase kLineCases[] = {
    // What xdg-user-dirs-update writes, and the quoting around it.
    {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"", "/home/ana b/Desktop", true},
    {"XDG_DESKTOP_DIR=\"/srv/B\xc3\xbcro \xe6\xa1\x8c\xe9\x9d\xa2\"", "/srv/B\xc3\xbcro \xe6\xa1\x8c\xe9\x9d\xa2", true},
    {"XDG_DESKTOP_DIR=/plain/path", "/plain/path", true},
    {"XDG_DESKTOP_DIR=\"${HOME}/braces\"", "/home/ana b/braces", true},
    {"XDG_DESKTOP_DIR=$HOME", "/home/ana b", true},
    {"XDG_DESKTOP_DIR=$HOME/", "/home/ana b/", true},
    {"XDG_DESKTOP_DIR=~/tilde", "/home/ana b/tilde", true},
    {"XDG_DESKTOP_DIR=~", "/home/ana b", true},
    {"XDG_DESKTOP_DIR='/single/$HOME/\\'", "/single/$HOME/\\", true},
    {"XDG_DESKTOP_DIR=/a\\ b\\\\c\\$HOME", "/a b\\c$HOME", true},
    {"XDG_DESKTOP_DIR=\"/a \\\"q\\\" \\\\ \\$HOME \\x \\`\"", "/a \"q\" \\ $HOME \\x `", true},
    {"XDG_DESKTOP_DIR=/a\"b c\"'d e'f", "/ab cd ef", true},
    {"XDG_DESKTOP_DIR=/dollar$ ", "/dollar$", true},
    {"XDG_DESKTOP_DIR=\"/dollar$\"", "/dollar$", true},
    {"XDG_DESKTOP_DIR=/a#b", "/a#b", true},
    {"XDG_DESKTOP_DIR=/a #b", "/a", true},
    {"XDG_DESKTOP_DIR=/glob*[x]?{a,b}", "/glob*[x]?{a,b}", true},
    {"XDG_DESKTOP_DIR=/cr\r", "/cr\r", true},
    {" \t export  XDG_DESKTOP_DIR=\"/exported\"  # comment", "/exported", true},
    {"XDG_MUSIC_DIR=/m XDG_DESKTOP_DIR=/d\tOTHER=x", "/d", true},
    {"XDG_DESKTOP_DIR=/first XDG_DESKTOP_DIR=/second", "/second", true},
    // Relative and empty values, comments, other names, commands.
    {"XDG_DESKTOP_DIR=relative/path", "<none>", true},
    {"XDG_DESKTOP_DIR=\"~/quoted\"", "<none>", true},
    {"XDG_DESKTOP_DIR='$HOME/literal'", "<none>", true},
    {"XDG_DESKTOP_DIR=", "<none>", true},
    {"XDG_DESKTOP_DIR=\"\"", "<none>", true},
    {"#XDG_DESKTOP_DIR=/commented", "<none>", true},
    {"XDG_DESKTOP_DIRS=/x", "<none>", true},
    {"XXDG_DESKTOP_DIR=/x", "<none>", true},
    {"xdg_desktop_dir=/x", "<none>", true},
    {"XDG_DESKTOP_DIR = /x", "<none>", true},
    {"XDG_DESKTOP_DIR=/x true", "<none>", true},
    {"XDG_DESKTOP_DIR=\"/open", "<none>", true},
    {"XDG_DESKTOP_DIR='/open", "<none>", true},
    {"XDG_DESKTOP_DIR=/x(y)", "<none>", true},
    // Shapes the reader refuses although the shell would assign something.
    {"XDG_DESKTOP_DIR=/x; true", "<none>", false},
    {"XDG_DESKTOP_DIR=/x/$USER", "<none>", false},
    {"XDG_DESKTOP_DIR=$HOMEX/x", "<none>", false},
    {"XDG_DESKTOP_DIR=${HOME:-/y}/x", "<none>", false},
    {"XDG_DESKTOP_DIR=$(echo /x)", "<none>", false},
    {"XDG_DESKTOP_DIR=`echo /x`", "<none>", false},
    {"XDG_DESKTOP_DIR=~root/x", "<none>", false},
    {"XDG_DESKTOP_DIR=/x/$1", "<none>", false},
    {"XDG_DESKTOP_DIR=/x/$$", "<none>", false},
    {"export XDG_DESKTOP_DIR=/x OTHER", "<none>", false},
};

TEST(UserDirsLine, EachShapeGivesItsValue) {
  for (const LineCase& c : kLineCases) EXPECT_EQ(Read(c.line), c.expected) << c.line;
}

TEST(UserDirsLine, TheShellSourcingTheLineAgrees) {
  for (const LineCase& c : kLineCases) {
    if (c.shellAgrees) EXPECT_EQ(SourcedBySh(c.line), c.expected) << c.line;
  }
}

TEST(UserDirsFile, TheLastAbsoluteAssignmentWins) {
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/first\nXDG_DESKTOP_DIR=/second\n"), "/second");
  // A relative value is ignored as if its line were not there.
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/first\nXDG_DESKTOP_DIR=relative\n"), "/first");
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/first\nXDG_DESKTOP_DIR=\"/open\n"), "/first");
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/first\nXDG_DESKTOP_DIR=/x; true\n"), "/first");
}

TEST(UserDirsFile, LinesAreReadOnTheirOwn) {
  const std::string file =
      "# This file is written by xdg-user-dirs-update\r\n"
      "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
      "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\r\n"
      "XDG_MUSIC_DIR=\"/media/M\xc3\xbcsik\"";
  EXPECT_EQ(Read(file), "/home/ana b/Schreibtisch");
  EXPECT_EQ(Read(file, "DOWNLOAD"), "/home/ana b/Downloads\r");
  EXPECT_EQ(Read(file, "MUSIC"), "/media/M\xc3\xbcsik");
  EXPECT_EQ(Read(file, "VIDEOS"), "<none>");
  // A quote left open on one line does not reach into the next.
  EXPECT_EQ(Read("XDG_MUSIC_DIR=\"/open\nXDG_DESKTOP_DIR=/next"), "/next");
  // A backslash at the end of a line continues it: both lines are refused.
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/a\\\n/b"), "<none>");
}

TEST(UserDirsFile, NulBytesAndLengthsAreHonoured) {
  EXPECT_EQ(Read(""), "<none>");
  EXPECT_EQ(Read("\n\n\n"), "<none>");
  EXPECT_EQ(Read(Bytes("XDG_DESKTOP_DIR=/a\0b")), "<none>");
  EXPECT_EQ(Read(Bytes("XDG_DESKTOP_DIR='/a\0b'")), "<none>");
  EXPECT_EQ(Read(Bytes("XDG_DESKTOP_DIR=\"/a\0b\"")), "<none>");
  EXPECT_EQ(Read(Bytes("XDG_DESKTOP_DIR=/n\0\nXDG_DESKTOP_DIR=/ok")), "/ok");
  // Texts that end inside an escape, a quote or an expansion.
  for (const char* cut : {"XDG_DESKTOP_DIR=/a\\", "XDG_DESKTOP_DIR=\"/a\\", "XDG_DESKTOP_DIR=/a$",
                          "XDG_DESKTOP_DIR=/a${HOM", "XDG_DESKTOP_DIR=/a$HOM", "XDG_DESKTOP_DIR=~",
                          "XDG_DESKTOP_DIR", "export"}) {
    std::string text(cut);
    for (size_t length = 0; length <= text.size(); ++length) Read(text.substr(0, length));
  }
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/a$"), "/a$");
  EXPECT_EQ(Read("XDG_DESKTOP_DIR=/a$HOM"), "<none>");
}

}  // namespace
