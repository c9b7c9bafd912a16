// Readers of what the Linux core takes from files and from the kernel.
#include "linux_readers.h"

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
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

// ---------------------------------------------------------------------------
// Route netlink dumps: every header and value is copied out of the buffer
// with memcpy, so that a buffer at any alignment reads alike.

// Appends index to a list that grows by doubling; false when it cannot grow.
static bool AppendIndex(uint32_t** list, size_t* count, size_t* capacity, uint32_t index) {
  if (*count == *capacity) {
    size_t grown = *capacity == 0 ? 16 : *capacity * 2;
    void* memory = realloc(*list, grown * sizeof(uint32_t));
    if (memory == NULL) return false;
    *list = static_cast<uint32_t*>(memory);
    *capacity = grown;
  }
  (*list)[(*count)++] = index;
  return true;
}

static bool LinkIsUsable(const ifinfomsg& link) {
  const unsigned wanted = IFF_UP | IFF_RUNNING;
  return (link.ifi_flags & wanted) == wanted && (link.ifi_flags & IFF_LOOPBACK) == 0;
}

static bool AddressCounts(uint8_t family, const uint8_t* address, size_t size, uint32_t flags) {
  if (family == AF_INET && size >= 4) return !(address[0] == 169 && address[1] == 254);
  if (family == AF_INET6 && size >= 16) {
    bool linkLocal = address[0] == 0xfe && (address[1] & 0xc0) == 0x80;
    return !linkLocal && (flags & IFA_F_TENTATIVE) == 0;
  }
  return false;
}

// The attributes that follow the fixed header of an address message, walked
// as far as they fit; the last of a repeated kind wins, as in the kernel's
// own parser.
static bool AddressMessageCounts(const ifaddrmsg& header, const uint8_t* payload, size_t size) {
  uint32_t flags = header.ifa_flags;
  const uint8_t* local = NULL;
  const uint8_t* address = NULL;
  size_t localSize = 0;
  size_t addressSize = 0;
  size_t offset = NLMSG_ALIGN(sizeof(header));
  while (offset < size && size - offset >= sizeof(rtattr)) {
    rtattr attribute;
    memcpy(&attribute, payload + offset, sizeof(attribute));
    if (attribute.rta_len < sizeof(attribute) || attribute.rta_len > size - offset) break;
    const uint8_t* data = payload + offset + RTA_LENGTH(0);
    size_t dataSize = attribute.rta_len - RTA_LENGTH(0);
    if (attribute.rta_type == IFA_LOCAL) {
      local = data;
      localSize = dataSize;
    } else if (attribute.rta_type == IFA_ADDRESS) {
      address = data;
      addressSize = dataSize;
    } else if (attribute.rta_type == IFA_FLAGS && dataSize >= sizeof(flags)) {
      memcpy(&flags, data, sizeof(flags));
    }
    offset += RTA_ALIGN(attribute.rta_len);
  }
  if (local != NULL) return AddressCounts(header.ifa_family, local, localSize, flags);
  return address != NULL && AddressCounts(header.ifa_family, address, addressSize, flags);
}

NetlinkDumpProgress ReadNetlinkDump(const uint8_t* buffer, size_t size, NetlinkState* state) {
  for (size_t offset = 0; offset < size && size - offset >= sizeof(nlmsghdr);) {
    nlmsghdr header;
    memcpy(&header, buffer + offset, sizeof(header));
    if (header.nlmsg_len < sizeof(header) || header.nlmsg_len > size - offset) {
      return kNetlinkDumpFailed;
    }
    const uint8_t* payload = buffer + offset + NLMSG_HDRLEN;
    size_t payloadSize = header.nlmsg_len - NLMSG_HDRLEN;
    if (header.nlmsg_type == NLMSG_DONE) {
      // The end message carries the dump's own result, negative when it failed.
      int32_t result = 0;
      if (payloadSize >= sizeof(result)) memcpy(&result, payload, sizeof(result));
      return result < 0 ? kNetlinkDumpFailed : kNetlinkDumpEnded;
    }
    if (header.nlmsg_type == NLMSG_ERROR) return kNetlinkDumpFailed;
    if (header.nlmsg_type == RTM_NEWLINK) {
      ifinfomsg link;
      if (payloadSize < sizeof(link)) return kNetlinkDumpFailed;
      memcpy(&link, payload, sizeof(link));
      if (LinkIsUsable(link) &&
          !AppendIndex(&state->usableLinks, &state->usableLinkCount, &state->usableLinkCapacity,
                       static_cast<uint32_t>(link.ifi_index))) {
        return kNetlinkDumpFailed;
      }
    } else if (header.nlmsg_type == RTM_NEWADDR) {
      if (payloadSize < sizeof(ifaddrmsg)) return kNetlinkDumpFailed;
      ifaddrmsg address;
      memcpy(&address, payload, sizeof(address));
      if (AddressMessageCounts(address, payload, payloadSize) &&
          !AppendIndex(&state->addressedLinks, &state->addressedLinkCount,
                       &state->addressedLinkCapacity, address.ifa_index)) {
        return kNetlinkDumpFailed;
      }
    }
    offset += NLMSG_ALIGN(header.nlmsg_len);
  }
  return kNetlinkDumpGoesOn;
}

static int CompareIndexes(const void* left, const void* right) {
  uint32_t a = *static_cast<const uint32_t*>(left);
  uint32_t b = *static_cast<const uint32_t*>(right);
  return a < b ? -1 : a > b;
}

bool NetlinkOnline(NetlinkState* state) {
  if (state->usableLinkCount == 0) return false;
  qsort(state->usableLinks, state->usableLinkCount, sizeof(uint32_t), CompareIndexes);
  for (size_t i = 0; i < state->addressedLinkCount; ++i) {
    if (bsearch(&state->addressedLinks[i], state->usableLinks, state->usableLinkCount,
                sizeof(uint32_t), CompareIndexes) != NULL) {
      return true;
    }
  }
  return false;
}

void NetlinkStateFree(NetlinkState* state) {
  free(state->usableLinks);
  free(state->addressedLinks);
  memset(state, 0, sizeof(*state));
}
