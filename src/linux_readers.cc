// Readers of the texts that the Linux core takes from files.
#include "linux_readers.h"

#include <stdlib.h>
#include <string.h>

// ---------------------------------------------------------------------------
// user-dirs.dirs
//
// xdg-user-dirs-update writes one assignment a line, XDG_DESKTOP_DIR=
// "$HOME/Desktop", and xdg-user-dir sources the file with /bin/sh. A line is
// read as that shell reads it when it holds, after optional blanks and an
// optional "export", assignments NAME=WORD separated by blanks, and then
// nothing but blanks or a comment. A WORD joins unquoted, double-quoted and
// single-quoted parts with the shell's backslash rules, and may hold $HOME or
// ${HOME} and start with a ~ that names the home folder. A line of any other
// shape (another expansion, a command, a quote left open, a line
// continuation, a NUL byte) assigns nothing: it would take the shell itself,
// the environment and the password database to tell what it does.

// A text under construction, in a buffer that grows.
struct ValueText {
  char* data;
  size_t length;
  size_t capacity;
};

// Appends count bytes; false when the buffer cannot grow.
static bool Append(ValueText* text, const char* bytes, size_t count) {
  if (text->length + count + 1 > text->capacity) {
    // Room for a common path at once, then doubling.
    size_t capacity = (text->length + count + 1) * 2;
    if (capacity < 256) capacity = 256;
    char* data = static_cast<char*>(realloc(text->data, capacity));
    if (data == NULL) return false;
    text->data = data;
    text->capacity = capacity;
  }
  memcpy(text->data + text->length, bytes, count);
  text->length += count;
  text->data[text->length] = '\0';
  return true;
}

static bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

static bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}

static bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

// Reads what follows a '$' at *at: $HOME and ${HOME} append home; a '$' that
// starts no expansion ("$/", a '$' before a quote or at the end) is itself.
// False for every other expansion.
static bool ReadDollar(const char** at, const char* end, const char* home, ValueText* value) {
  const char* p = *at;
  if (p < end && *p == '{') {
    if (end - p < 6 || memcmp(p, "{HOME}", 6) != 0) return false;
    *at = p + 6;
    return Append(value, home, strlen(home));
  }
  const char* nameEnd = p;
  while (nameEnd < end && IsNameChar(*nameEnd)) ++nameEnd;
  if (nameEnd == p) {
    bool special = p < end && *p != '\0' && strchr("$?#!-@*(", *p) != NULL;
    return !special && Append(value, "$", 1);
  }
  if (nameEnd - p != 4 || memcmp(p, "HOME", 4) != 0) return false;
  *at = nameEnd;
  return Append(value, home, strlen(home));
}

// Reads the double-quoted part that starts after the '"' at *at, up to its
// closing quote. Inside it a backslash escapes only $, `, " and itself.
static bool ReadDoubleQuoted(const char** at, const char* end, const char* home, ValueText* value) {
  const char* p = *at;
  while (p < end && *p != '"') {
    char c = *p++;
    if (c == '\0' || c == '`') return false;
    if (c == '$') {
      if (!ReadDollar(&p, end, home, value)) return false;
      continue;
    }
    if (c == '\\' && p < end && (*p == '$' || *p == '`' || *p == '"' || *p == '\\')) c = *p++;
    if (!Append(value, &c, 1)) return false;
  }
  if (p == end) return false;
  *at = p + 1;
  return true;
}

// Reads the word at *at, up to an unquoted blank or the line's end.
static bool ReadWord(const char** at, const char* end, const char* home, ValueText* value) {
  const char* p = *at;
  // Only "~" alone or before '/' names this user's home; "~name" is another
  // user's.
  if (p < end && *p == '~') {
    ++p;
    if (p < end && *p != '/' && !IsBlank(*p)) return false;
    if (!Append(value, home, strlen(home))) return false;
  }
  while (p < end && !IsBlank(*p)) {
    char c = *p++;
    if (c == '\0' || strchr("`;&|<>()", c) != NULL) return false;
    if (c == '\'') {
      const char* close = static_cast<const char*>(memchr(p, '\'', end - p));
      if (close == NULL || memchr(p, '\0', close - p) != NULL || !Append(value, p, close - p)) {
        return false;
      }
      p = close + 1;
    } else if (c == '"') {
      if (!ReadDoubleQuoted(&p, end, home, value)) return false;
    } else if (c == '$') {
      if (!ReadDollar(&p, end, home, value)) return false;
    } else {
      // A backslash at the line's end continues the line.
      if (c == '\\') {
        if (p == end || *p == '\0') return false;
        c = *p++;
      }
      if (!Append(value, &c, 1)) return false;
    }
  }
  *at = p;
  return true;
}

// Whether the length bytes at text are XDG_<name>_DIR.
static bool IsUserDirVariable(const char* text, size_t length, const char* name) {
  size_t nameLength = strlen(name);
  return length == nameLength + 8 && memcmp(text, "XDG_", 4) == 0 &&
         memcmp(text + 4, name, nameLength) == 0 && memcmp(text + 4 + nameLength, "_DIR", 4) == 0;
}

// Reads the line from at to end. True when it has one of the shapes read; then
// *found holds the last absolute value that it gives XDG_<name>_DIR, or stays
// as it was.
static bool ReadLine(const char* at, const char* end, const char* name, const char* home,
                     ValueText* word, char** found) {
  while (at < end && IsBlank(*at)) ++at;
  if (end - at > 6 && memcmp(at, "export", 6) == 0 && IsBlank(at[6])) {
    at += 6;
    while (at < end && IsBlank(*at)) ++at;
  }
  while (at < end && *at != '#') {
    const char* variable = at;
    if (!IsNameStart(*at)) return false;
    while (at < end && IsNameChar(*at)) ++at;
    if (at == end || *at != '=') return false;
    size_t variableLength = at - variable;
    ++at;
    word->length = 0;
    if (!Append(word, "", 0) || !ReadWord(&at, end, home, word)) return false;
    if (IsUserDirVariable(variable, variableLength, name) && word->data[0] == '/') {
      char* copy = static_cast<char*>(malloc(word->length + 1));
      if (copy == NULL) return false;
      memcpy(copy, word->data, word->length + 1);
      free(*found);
      *found = copy;
    }
    while (at < end && IsBlank(*at)) ++at;
  }
  return true;
}

char* UserDirsValue(const char* text, size_t length, const char* name, const char* home) {
  const char* end = text + length;
  ValueText word = {NULL, 0, 0};
  size_t nameLength = strlen(name);
  char* value = NULL;
  for (const char* line = text; line < end;) {
    const char* newline = static_cast<const char*>(memchr(line, '\n', end - line));
    const char* lineEnd = newline != NULL ? newline : end;
    char* lineValue = NULL;
    // Only a line that holds the name can assign its variable; the others
    // are not read further.
    bool named = memmem(line, lineEnd - line, name, nameLength) != NULL;
    if (named && ReadLine(line, lineEnd, name, home, &word, &lineValue) && lineValue != NULL) {
      free(value);
      value = lineValue;
    } else {
      free(lineValue);
    }
    line = lineEnd + 1;
  }
  free(word.data);
  return value;
}

// ---------------------------------------------------------------------------
// /proc/N/stat: "PID (COMMAND) STATE PPID ...". The command name may hold
// spaces and parentheses, but no field after it holds a ')'.

bool ParentPidFromStat(const char* text, size_t length, uint32_t* ppid) {
  const char* end = text + length;
  const char* at = end;
  while (at > text && at[-1] != ')') --at;
  if (at == text || end - at < 4 || at[0] != ' ' || at[2] != ' ') return false;
  char state = at[1];
  if (!((state >= 'A' && state <= 'Z') || (state >= 'a' && state <= 'z'))) return false;
  at += 3;
  const char* digits = at;
  uint64_t value = 0;
  while (at < end && *at >= '0' && *at <= '9') {
    value = value * 10 + (*at - '0');
    if (value > UINT32_MAX) return false;
    ++at;
  }
  // The number is whole only when a separator follows it.
  if (at == digits || at == end || *at != ' ') return false;
  *ppid = static_cast<uint32_t>(value);
  return true;
}
