// The addon's Linux core: the work behind sys.h, in plain types.
//
// Sections, in order: the X display, idle time, processes, the client's
// browser window, known folders, the keyboard, the main thread and the host.
//
// Every X function runs on the script thread only, over one connection of
// its own made through libxcb, the library that Chromium itself links.
// Xlib is never used: its default I/O error handler calls exit() when the
// server goes away, and its error handlers are process-wide, so they belong
// to Chromium; XCB reports errors per request and installs nothing.
#include "sys.h"
#include "linux_readers.h"
#include "sys_linux.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

// The entry points of libxcb that the core calls, each as xcb_NAME.
#define XCB_FUNCTIONS(F)                                                                         \
  F(connect) F(disconnect) F(connection_has_error) F(get_setup) F(setup_roots_iterator)          \
  F(screen_next) F(poll_for_event) F(poll_for_queued_event) F(send_request) F(wait_for_reply)    \
  F(query_extension) F(query_extension_reply) F(query_keymap) F(query_keymap_reply)              \
  F(get_keyboard_mapping) F(get_keyboard_mapping_reply) F(get_keyboard_mapping_keysyms)          \
  F(intern_atom) F(intern_atom_reply) F(get_property) F(get_property_reply) F(get_property_value) \
  F(get_property_value_length) F(query_tree) F(query_tree_reply) F(query_tree_children)          \
  F(get_window_attributes) F(get_window_attributes_reply) F(get_input_focus)                     \
  F(get_input_focus_reply)

struct XcbFunctions {
#define XCB_FUNCTION_FIELD(name) decltype(&xcb_##name) name;
  XCB_FUNCTIONS(XCB_FUNCTION_FIELD)
#undef XCB_FUNCTION_FIELD
};

// libxcb's entry points, filled in by the first X call; all of them or none.
static XcbFunctions s_xcb;
// 0 until the first X call has looked for libxcb.so.1, then 1 when it was
// loaded whole, -1 when it is missing or lacks an entry point.
static int s_xcbLoaded;
// The display connection, opened by the first X call that finds none; null
// while there is none.
static xcb_connection_t* s_display;
// The root window of the connection's screen.
static xcb_window_t s_rootWindow;
// The connection's keycode range, from its setup.
static uint8_t s_minKeycode;
static uint8_t s_maxKeycode;
// The major opcodes of MIT-SCREEN-SAVER, XTEST and XKEYBOARD on the
// connection, 0 where the server lacks one, and XKB's first event code.
static uint8_t s_screenSaverOpcode;
static uint8_t s_xtestOpcode;
static uint8_t s_xkbOpcode;
static uint8_t s_xkbFirstEvent;
// Whether the connection has asked for XKB (UseExtension) and for its map
// events; false again when the server refused.
static bool s_xkbAsked;
static bool s_xkbInitialized;
// The keyboard mapping of the connection, read by the first key call and
// again after the server reports a change: s_keysymsPerKeycode keysyms for
// each keycode from s_minKeycode on; null until read.
static xcb_keysym_t* s_keysyms;
static int s_keysymsPerKeycode;
// The key events sent since the last round trip, and whether a chord has
// begun (its first key call has looked at the server's events).
static int s_pendingKeyEvents;
static bool s_chordBegun;
// The client's browser window once found; never cleared, so the search runs
// only until it succeeds.
static xcb_window_t s_chromeWindow;

// ---------------------------------------------------------------------------
// The X display

// Loads libxcb.so.1 once and looks up every entry point; false when any is
// missing, for the process's life.
static bool LoadXcb() {
  if (s_xcbLoaded != 0) return s_xcbLoaded > 0;
  s_xcbLoaded = -1;
  void* library = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (library == NULL) return false;
  XcbFunctions functions;
  bool whole = true;
#define XCB_FUNCTION_LOOKUP(name)                                                         \
  functions.name = reinterpret_cast<decltype(&xcb_##name)>(dlsym(library, "xcb_" #name)); \
  whole = whole && functions.name != NULL;
  XCB_FUNCTIONS(XCB_FUNCTION_LOOKUP)
#undef XCB_FUNCTION_LOOKUP
  if (!whole) return false;
  s_xcb = functions;
  s_xcbLoaded = 1;
  return true;
}

// Ends the connection and forgets everything learnt over it; the next X call
// connects again, so that a display that went away and came back is used.
static void DropDisplay() {
  s_xcb.disconnect(s_display);
  s_display = NULL;
  s_screenSaverOpcode = s_xtestOpcode = s_xkbOpcode = s_xkbFirstEvent = 0;
  s_xkbAsked = s_xkbInitialized = false;
  free(s_keysyms);
  s_keysyms = NULL;
  s_pendingKeyEvents = 0;
}

// Whether the connection still works after a call's requests; drops it when
// not, and the call then gives its failure value.
static bool DisplayStillWorks() {
  if (s_display == NULL) return false;
  if (!s_xcb.connection_has_error(s_display)) return true;
  DropDisplay();
  return false;
}

// The three extensions are encoded by hand over libxcb's extension interface
// (these few requests have a fixed wire format): libxcb-screensaver, -xtest
// and -xkb are separate libraries that Chromium does not link and many
// desktops lack. Asked for together, in one round trip.
static void FindExtensions(xcb_connection_t* c) {
  static const char* const names[] = {"MIT-SCREEN-SAVER", "XTEST", "XKEYBOARD"};
  uint8_t* const opcodes[] = {&s_screenSaverOpcode, &s_xtestOpcode, &s_xkbOpcode};
  xcb_query_extension_cookie_t cookies[3];
  for (int i = 0; i < 3; ++i) cookies[i] = s_xcb.query_extension(c, strlen(names[i]), names[i]);
  for (int i = 0; i < 3; ++i) {
    xcb_query_extension_reply_t* reply = s_xcb.query_extension_reply(c, cookies[i], NULL);
    if (reply != NULL && reply->present) {
      *opcodes[i] = reply->major_opcode;
      if (opcodes[i] == &s_xkbOpcode) s_xkbFirstEvent = reply->first_event;
    }
    free(reply);
  }
}

// The connection, made now when there is none or the last one failed; null
// without $DISPLAY (no attempt is made then), without libxcb or when the
// display cannot be reached.
static xcb_connection_t* Display() {
  if (DisplayStillWorks()) return s_display;
  const char* name = getenv("DISPLAY");
  if (name == NULL || name[0] == '\0' || !LoadXcb()) return NULL;
  int screenNumber = 0;
  xcb_connection_t* c = s_xcb.connect(name, &screenNumber);
  if (s_xcb.connection_has_error(c)) {
    s_xcb.disconnect(c);
    return NULL;
  }
  const xcb_setup_t* setup = s_xcb.get_setup(c);
  xcb_screen_iterator_t screens = s_xcb.setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) s_xcb.screen_next(&screens);
  if (screens.rem <= 0) {
    s_xcb.disconnect(c);
    return NULL;
  }
  s_display = c;
  s_rootWindow = screens.data->root;
  s_minKeycode = setup->min_keycode;
  s_maxKeycode = setup->max_keycode;
  FindExtensions(c);
  return DisplayStillWorks() ? s_display : NULL;
}

// Sends one request of an extension: data starts with the 4-byte request
// header, whose second byte is the minor opcode; libxcb writes the major
// opcode given (byte 0, as ext is null) and the length. Returns the sequence
// number, 0 when nothing was sent.
static unsigned int SendExtensionRequest(xcb_connection_t* c, uint8_t majorOpcode, void* data,
                                         size_t size, bool hasReply) {
  // libxcb writes its own parts into the two iovecs before the one it is given.
  struct iovec parts[3];
  parts[2].iov_base = data;
  parts[2].iov_len = size;
  xcb_protocol_request_t request = {1, NULL, majorOpcode, hasReply ? uint8_t(0) : uint8_t(1)};
  return s_xcb.send_request(c, hasReply ? XCB_REQUEST_CHECKED : 0, parts + 2, &request);
}

// The reply to an extension request, in a buffer the caller frees; null when
// the request failed.
static uint8_t* ExtensionReply(xcb_connection_t* c, unsigned int sequence) {
  if (sequence == 0) return NULL;
  xcb_generic_error_t* error = NULL;
  void* reply = s_xcb.wait_for_reply(c, sequence, &error);
  free(error);
  return static_cast<uint8_t*>(reply);
}

// ---------------------------------------------------------------------------
// Idle time: on a Wayland session, GNOME's compositor's, which sees every
// input (sys_linux_dbus.cc); elsewhere, or without it, MIT-SCREEN-SAVER's
// QueryInfo, whose reply counts the milliseconds since the user's last input.

enum { kScreenSaverQueryInfo = 1, kIdleOffset = 16 };

int64_t UserIdleTime() {
  int64_t waylandIdle = WaylandIdleTime();
  if (waylandIdle >= 0) return waylandIdle;
  xcb_connection_t* c = Display();
  if (c == NULL || s_screenSaverOpcode == 0) return -1;
  uint8_t request[8] = {0, kScreenSaverQueryInfo};
  memcpy(request + 4, &s_rootWindow, 4);
  uint8_t* reply =
      ExtensionReply(c, SendExtensionRequest(c, s_screenSaverOpcode, request, sizeof(request), true));
  int64_t idle = -1;
  if (reply != NULL) {
    uint32_t milliseconds;
    memcpy(&milliseconds, reply + kIdleOffset, 4);
    idle = milliseconds;
  }
  free(reply);
  return DisplayStillWorks() ? idle : -1;
}

// ---------------------------------------------------------------------------
// Processes that run the same executable: /proc/N/exe names each one's
// executable, /proc/N/stat its parent.

// Reads up to size - 1 bytes of the file at path into buffer and ends them
// with a NUL; the count read, or -1 when the file cannot be read.
static ssize_t ReadSmallFile(const char* path, char* buffer, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t total = 0;
  while (static_cast<size_t>(total) < size - 1) {
    ssize_t count = read(fd, buffer + total, size - 1 - total);
    if (count <= 0) {
      if (count < 0) total = -1;
      break;
    }
    total += count;
  }
  close(fd);
  if (total >= 0) buffer[total] = '\0';
  return total;
}

static bool ParentProcessOf(uint32_t pid, uint32_t* ppid) {
  char path[32];
  char stat[512];
  snprintf(path, sizeof(path), "/proc/%u/stat", pid);
  ssize_t length = ReadSmallFile(path, stat, sizeof(stat));
  return length > 0 && ParentPidFromStat(stat, length, ppid);
}

bool ExecutableName(uint32_t pid, char* buffer, size_t size, const char** name) {
  char path[32];
  snprintf(path, sizeof(path), "/proc/%u/exe", pid);
  ssize_t length = readlink(path, buffer, size);
  if (length <= 0 || static_cast<size_t>(length) >= size) return false;
  static const char deleted[] = " (deleted)";
  size_t deletedLength = sizeof(deleted) - 1;
  if (static_cast<size_t>(length) > deletedLength &&
      memcmp(buffer + length - deletedLength, deleted, deletedLength) == 0) {
    length -= deletedLength;
  }
  buffer[length] = '\0';
  const char* slash = strrchr(buffer, '/');
  *name = slash != NULL ? slash + 1 : buffer;
  return true;
}

static int CompareProcessIds(const void* a, const void* b) {
  uint32_t first = static_cast<const ProcessIdPair*>(a)->pid;
  uint32_t second = static_cast<const ProcessIdPair*>(b)->pid;
  return first < second ? -1 : first > second ? 1 : 0;
}

ProcessIdPair* ProcessesOfSameExeFile(int32_t pid, int* count) {
  *count = 0;
  if (pid < 0) return NULL;
  char targetPath[4096];
  const char* target;
  uint32_t wanted = pid == 0 ? static_cast<uint32_t>(getpid()) : static_cast<uint32_t>(pid);
  if (!ExecutableName(wanted, targetPath, sizeof(targetPath), &target)) return NULL;
  DIR* proc = opendir("/proc");
  if (proc == NULL) return NULL;
  ProcessIdPair* pairs = NULL;
  int capacity = 0;
  int found = 0;
  while (struct dirent* entry = readdir(proc)) {
    char* digitsEnd;
    unsigned long number = strtoul(entry->d_name, &digitsEnd, 10);
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9' || *digitsEnd != '\0' || number > UINT32_MAX) {
      continue;
    }
    uint32_t candidate = static_cast<uint32_t>(number);
    char path[4096];
    const char* name;
    uint32_t ppid;
    if (!ExecutableName(candidate, path, sizeof(path), &name) || strcmp(name, target) != 0 ||
        !ParentProcessOf(candidate, &ppid)) {
      continue;
    }
    if (found == capacity) {
      int grown = capacity == 0 ? 16 : capacity * 2;
      ProcessIdPair* larger = static_cast<ProcessIdPair*>(realloc(pairs, grown * sizeof(ProcessIdPair)));
      if (larger == NULL) break;
      pairs = larger;
      capacity = grown;
    }
    pairs[found].pid = candidate;
    pairs[found].ppid = ppid;
    ++found;
  }
  closedir(proc);
  // /proc/N also opens for a thread N that is no process of its own, which
  // the listing leaves out: such an N names no process here.
  bool wantedListed = false;
  for (int i = 0; i < found; ++i) wantedListed = wantedListed || pairs[i].pid == wanted;
  if (!wantedListed) {
    free(pairs);
    return NULL;
  }
  // /proc lists processes in ascending order, but does not promise it.
  qsort(pairs, found, sizeof(ProcessIdPair), CompareProcessIds);
  *count = found;
  return pairs;
}

// ---------------------------------------------------------------------------
// The client's browser window. Chromium on Linux has no child render
// windows, and a renderer is the browser's grandchild (browser, zygote,
// renderer): the window is the first client window of the nearest ancestor
// that owns one, ownership being the window's _NET_WM_PID. The client windows
// are those that the window manager lists in _NET_CLIENT_LIST, in its order
// (minimised ones included); without a window manager, the mapped top-level
// windows in stacking order, bottom first. Neither reading counts the frames
// that a window manager wraps its clients in, nor Chromium's leader window,
// which carries the browser's pid but is never mapped.

enum { kMaxAncestors = 64 };

// The ancestors of this process, parent first, up to the one without a
// parent; their count.
static int Ancestors(uint32_t* ancestors) {
  int count = 0;
  uint32_t pid = static_cast<uint32_t>(getppid());
  while (pid != 0 && count < kMaxAncestors) {
    ancestors[count++] = pid;
    if (!ParentProcessOf(pid, &pid)) break;
  }
  return count;
}

static xcb_atom_t ExistingAtom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      s_xcb.intern_atom_reply(c, s_xcb.intern_atom(c, 1, strlen(name), name), NULL);
  xcb_atom_t atom = reply != NULL ? reply->atom : XCB_ATOM_NONE;
  free(reply);
  return atom;
}

// The client windows, in a buffer the caller frees, and their count; null
// when there are none.
static xcb_window_t* ClientWindows(xcb_connection_t* c, int* count) {
  *count = 0;
  xcb_atom_t clientList = ExistingAtom(c, "_NET_CLIENT_LIST");
  if (clientList != XCB_ATOM_NONE) {
    xcb_get_property_reply_t* list = s_xcb.get_property_reply(
        c, s_xcb.get_property(c, 0, s_rootWindow, clientList, XCB_ATOM_WINDOW, 0, 1 << 20), NULL);
    if (list != NULL && list->type == XCB_ATOM_WINDOW && list->format == 32) {
      int length = s_xcb.get_property_value_length(list) / 4;
      xcb_window_t* windows = static_cast<xcb_window_t*>(malloc(length * sizeof(xcb_window_t) + 1));
      if (windows != NULL) {
        memcpy(windows, s_xcb.get_property_value(list), length * sizeof(xcb_window_t));
        *count = length;
      }
      free(list);
      return windows;
    }
    free(list);
  }

  // No window manager: the root's children, in stacking order. An
  // override-redirect window (a menu, a tooltip) is no client window either.
  xcb_query_tree_reply_t* tree = s_xcb.query_tree_reply(c, s_xcb.query_tree(c, s_rootWindow), NULL);
  if (tree == NULL) return NULL;
  int length = tree->children_len;
  const xcb_window_t* children = s_xcb.query_tree_children(tree);
  xcb_window_t* windows = static_cast<xcb_window_t*>(malloc(length * sizeof(xcb_window_t) + 1));
  xcb_get_window_attributes_cookie_t* cookies = static_cast<xcb_get_window_attributes_cookie_t*>(
      malloc(length * sizeof(xcb_get_window_attributes_cookie_t) + 1));
  if (windows != NULL && cookies != NULL) {
    for (int i = 0; i < length; ++i) cookies[i] = s_xcb.get_window_attributes(c, children[i]);
    for (int i = 0; i < length; ++i) {
      xcb_get_window_attributes_reply_t* attributes =
          s_xcb.get_window_attributes_reply(c, cookies[i], NULL);
      if (attributes != NULL && attributes->map_state != XCB_MAP_STATE_UNMAPPED &&
          !attributes->override_redirect) {
        windows[(*count)++] = children[i];
      }
      free(attributes);
    }
  }
  free(cookies);
  free(tree);
  return windows;
}

// The owners (_NET_WM_PID, 0 for none) of count windows, asked together.
static void WindowOwners(xcb_connection_t* c, const xcb_window_t* windows, int count,
                         xcb_atom_t pidAtom, uint32_t* owners) {
  xcb_get_property_cookie_t* cookies =
      static_cast<xcb_get_property_cookie_t*>(malloc(count * sizeof(xcb_get_property_cookie_t) + 1));
  if (cookies == NULL) {
    memset(owners, 0, count * sizeof(uint32_t));
    return;
  }
  for (int i = 0; i < count; ++i) {
    cookies[i] = s_xcb.get_property(c, 0, windows[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1);
  }
  for (int i = 0; i < count; ++i) {
    xcb_get_property_reply_t* reply = s_xcb.get_property_reply(c, cookies[i], NULL);
    owners[i] = 0;
    if (reply != NULL && reply->format == 32 && s_xcb.get_property_value_length(reply) == 4) {
      memcpy(&owners[i], s_xcb.get_property_value(reply), 4);
    }
    free(reply);
  }
  free(cookies);
}

static xcb_window_t SearchChromeWindow() {
  uint32_t ancestors[kMaxAncestors];
  int ancestorCount = Ancestors(ancestors);
  xcb_connection_t* c = Display();
  if (ancestorCount == 0 || c == NULL) return 0;
  xcb_window_t found = 0;
  xcb_atom_t pidAtom = ExistingAtom(c, "_NET_WM_PID");
  int windowCount = 0;
  xcb_window_t* windows = pidAtom != XCB_ATOM_NONE ? ClientWindows(c, &windowCount) : NULL;
  uint32_t* owners = static_cast<uint32_t*>(malloc(windowCount * sizeof(uint32_t) + 1));
  if (windows != NULL && owners != NULL) {
    WindowOwners(c, windows, windowCount, pidAtom, owners);
    for (int a = 0; a < ancestorCount && found == 0; ++a) {
      for (int w = 0; w < windowCount && found == 0; ++w) {
        if (owners[w] == ancestors[a]) found = windows[w];
      }
    }
  }
  free(owners);
  free(windows);
  return DisplayStillWorks() ? found : 0;
}

int32_t FindChromeWindowHandle() {
  if (s_chromeWindow == 0) s_chromeWindow = SearchChromeWindow();
  return static_cast<int32_t>(s_chromeWindow);
}

// ---------------------------------------------------------------------------
// Known folders, answered as a modern Windows names them, by the XDG base
// directory and user-dirs rules. A value that is not absolute is ignored, as
// those rules say: the answer is then what it would be were it unset.
// Folders are not checked for existence, as xdg-user-dir does not check them.

// Where a folder lies: in the home folder, the configuration home, the data
// home, a user folder of user-dirs.dirs, or a fixed path.
enum FolderBase { kHome, kConfigHome, kDataHome, kUserDir, kFixedPath };

struct KnownFolder {
  const char* name;
  FolderBase base;
  const char* detail;  // the path under the base; the user folder's name; the fixed path
};

static const KnownFolder s_knownFolderTable[] = {
    {"Profile", kHome, ""},
    {"Home", kHome, ""},
    {"Desktop", kUserDir, "DESKTOP"},
    {"Documents", kUserDir, "DOCUMENTS"},
    {"Downloads", kUserDir, "DOWNLOAD"},
    {"Music", kUserDir, "MUSIC"},
    {"Pictures", kUserDir, "PICTURES"},
    {"Video", kUserDir, "VIDEOS"},
    {"Templates", kUserDir, "TEMPLATES"},
    {"Public", kUserDir, "PUBLICSHARE"},
    {"RoamingAppData", kConfigHome, ""},
    {"LocalAppData", kDataHome, ""},
    {"Startup", kConfigHome, "/autostart"},
    {"Programs", kDataHome, "/applications"},
    {"StartMenu", kDataHome, "/applications"},
    {"CommonStartup", kFixedPath, "/etc/xdg/autostart"},
    {"CommonPrograms", kFixedPath, "/usr/share/applications"},
    {"CommonStartMenu", kFixedPath, "/usr/share/applications"},
    {"Fonts", kFixedPath, "/usr/share/fonts"},
};

// user-dirs.dirs is read up to this size; the file xdg-user-dirs-update
// writes holds a few hundred bytes.
enum { kMaxUserDirsSize = 1 << 20 };

char* JoinTexts(const char* first, const char* second, const char* third) {
  size_t size = strlen(first) + strlen(second) + strlen(third) + 1;
  char* joined = static_cast<char*>(malloc(size));
  if (joined != NULL) snprintf(joined, size, "%s%s%s", first, second, third);
  return joined;
}

// $HOME, or the password database's home when it is unset or empty, in a
// buffer the caller frees; null when neither tells.
static char* HomeFolder() {
  const char* home = getenv("HOME");
  if (home != NULL && home[0] != '\0') return JoinTexts(home, "", "");
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size <= 0) size = 16384;
  char* buffer = static_cast<char*>(malloc(size));
  if (buffer == NULL) return NULL;
  struct passwd entry;
  struct passwd* result = NULL;
  char* path = NULL;
  if (getpwuid_r(getuid(), &entry, buffer, size, &result) == 0 && result != NULL &&
      result->pw_dir != NULL && result->pw_dir[0] != '\0') {
    path = JoinTexts(result->pw_dir, "", "");
  }
  free(buffer);
  return path;
}

// The environment's variable when it holds an absolute path, else home
// followed by fallback; in a buffer the caller frees.
static char* AbsoluteOr(const char* variable, const char* home, const char* fallback) {
  const char* value = getenv(variable);
  if (value != NULL && value[0] == '/') return JoinTexts(value, "", "");
  return JoinTexts(home, fallback, "");
}

// Reads the file at path, up to kMaxUserDirsSize bytes: into the size bytes
// at buffer when they hold it whole, else into a buffer that the caller
// frees. Returns where it is, with its length; null when it cannot be read.
static char* ReadTextFile(const char* path, char* buffer, size_t size, size_t* length) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return NULL;
  char* text = buffer;
  size_t capacity = size;
  *length = 0;
  for (;;) {
    ssize_t count = read(fd, text + *length, capacity - *length);
    if (count <= 0) {
      if (count < 0 && text != buffer) free(text);
      if (count < 0) text = NULL;
      break;
    }
    *length += count;
    if (*length < capacity) continue;
    if (capacity >= kMaxUserDirsSize) break;
    char* larger = static_cast<char*>(malloc(capacity * 2));
    if (larger != NULL) memcpy(larger, text, *length);
    if (text != buffer) free(text);
    text = larger;
    capacity *= 2;
    if (text == NULL) break;
  }
  close(fd);
  return text;
}

// What xdg-user-dir answers for the user folder called name: the value that
// the configuration home's user-dirs.dirs gives it, else the environment's
// XDG_<name>_DIR, else $HOME/Desktop for the desktop and $HOME for the rest.
static char* UserFolder(const char* name, const char* home, const char* configHome) {
  char* file = JoinTexts(configHome, "/user-dirs.dirs", "");
  char buffer[4096];
  size_t length = 0;
  char* text = file != NULL ? ReadTextFile(file, buffer, sizeof(buffer), &length) : NULL;
  char* value = text != NULL ? UserDirsValue(text, length, name, home) : NULL;
  if (text != buffer) free(text);
  free(file);
  if (value != NULL) return value;
  char variable[32];
  snprintf(variable, sizeof(variable), "XDG_%s_DIR", name);
  return AbsoluteOr(variable, home, strcmp(name, "DESKTOP") == 0 ? "/Desktop" : "");
}

char* resolveKnownDirectory(const char* name) {
  const KnownFolder* folder = NULL;
  for (const KnownFolder& row : s_knownFolderTable) {
    if (strcmp(row.name, name) == 0) folder = &row;
  }
  if (folder == NULL) return NULL;
  if (folder->base == kFixedPath) return JoinTexts(folder->detail, "", "");
  char* home = HomeFolder();
  if (home == NULL) return NULL;
  char* path = NULL;
  if (folder->base == kHome) {
    path = JoinTexts(home, "", "");
  } else if (folder->base == kDataHome) {
    char* dataHome = AbsoluteOr("XDG_DATA_HOME", home, "/.local/share");
    path = dataHome != NULL ? JoinTexts(dataHome, folder->detail, "") : NULL;
    free(dataHome);
  } else {
    char* configHome = AbsoluteOr("XDG_CONFIG_HOME", home, "/.config");
    if (configHome != NULL) {
      path = folder->base == kUserDir ? UserFolder(folder->detail, home, configHome)
                                      : JoinTexts(configHome, folder->detail, "");
    }
    free(configHome);
  }
  free(home);
  return path;
}

// ---------------------------------------------------------------------------
// The keyboard: each virtual-key code stands for a keysym, looked up in the
// server's current keyboard mapping (as Windows' codes follow the active
// layout), and goes out as XTEST FakeInput events. A keysym that the mapping
// lacks is skipped: binding it to a spare keycode would send MappingNotify to
// every client, Chromium included, and race with other clients that do the
// same.

struct VirtualKey {
  uint8_t code;
  xcb_keysym_t keysym;     // the key that the code sends and reads
  xcb_keysym_t otherSide;  // the generic modifiers also read their right-hand key; 0 for none
};

// The codes that have a key on X: those of the key table and the one-byte
// tokens that Windows defines (mouse buttons and IME keys have none here).
// Letters are their lower-case keysyms, which mappings list first.
static const VirtualKey s_virtualKeyTable[] = {
    {0x03, 0xFF69, 0},       // VK_CANCEL: Cancel
    {0x08, 0xFF08, 0},       // VK_BACK: BackSpace
    {0x09, 0xFF09, 0},       // VK_TAB: Tab
    {0x0C, 0xFF0B, 0},       // VK_CLEAR: Clear
    {0x0D, 0xFF0D, 0},       // VK_RETURN: Return
    {0x10, 0xFFE1, 0xFFE2},  // VK_SHIFT: Shift_L, and Shift_R read
    {0x11, 0xFFE3, 0xFFE4},  // VK_CONTROL: Control_L, and Control_R read
    {0x12, 0xFFE9, 0xFFEA},  // VK_MENU: Alt_L, and Alt_R read
    {0x13, 0xFF13, 0},       // VK_PAUSE: Pause
    {0x14, 0xFFE5, 0},       // VK_CAPITAL: Caps_Lock
    {0x1B, 0xFF1B, 0},       // VK_ESCAPE: Escape
    {0x1C, 0xFF23, 0},       // VK_CONVERT: Henkan_Mode
    {0x1D, 0xFF22, 0},       // VK_NONCONVERT: Muhenkan
    {0x20, 0x0020, 0},       // VK_SPACE: space
    {0x21, 0xFF55, 0},       // VK_PRIOR: Prior
    {0x22, 0xFF56, 0},       // VK_NEXT: Next
    {0x23, 0xFF57, 0},       // VK_END: End
    {0x24, 0xFF50, 0},       // VK_HOME: Home
    {0x25, 0xFF51, 0},       // VK_LEFT: Left
    {0x26, 0xFF52, 0},       // VK_UP: Up
    {0x27, 0xFF53, 0},       // VK_RIGHT: Right
    {0x28, 0xFF54, 0},       // VK_DOWN: Down
    {0x29, 0xFF60, 0},       // VK_SELECT: Select
    {0x2A, 0xFF61, 0},       // VK_PRINT: Print
    {0x2C, 0xFF61, 0},       // VK_SNAPSHOT: Print
    {0x2D, 0xFF63, 0},       // VK_INSERT: Insert
    {0x2E, 0xFFFF, 0},       // VK_DELETE: Delete
    {0x2F, 0xFF6A, 0},       // VK_HELP: Help
    {0x30, '0', 0}, {0x31, '1', 0}, {0x32, '2', 0}, {0x33, '3', 0}, {0x34, '4', 0},
    {0x35, '5', 0}, {0x36, '6', 0}, {0x37, '7', 0}, {0x38, '8', 0}, {0x39, '9', 0},
    {0x41, 'a', 0}, {0x42, 'b', 0}, {0x43, 'c', 0}, {0x44, 'd', 0}, {0x45, 'e', 0},
    {0x46, 'f', 0}, {0x47, 'g', 0}, {0x48, 'h', 0}, {0x49, 'i', 0}, {0x4A, 'j', 0},
    {0x4B, 'k', 0}, {0x4C, 'l', 0}, {0x4D, 'm', 0}, {0x4E, 'n', 0}, {0x4F, 'o', 0},
    {0x50, 'p', 0}, {0x51, 'q', 0}, {0x52, 'r', 0}, {0x53, 's', 0}, {0x54, 't', 0},
    {0x55, 'u', 0}, {0x56, 'v', 0}, {0x57, 'w', 0}, {0x58, 'x', 0}, {0x59, 'y', 0},
    {0x5A, 'z', 0},
    {0x5B, 0xFFEB, 0},                            // VK_LWIN: Super_L
    {0x5C, 0xFFEC, 0},                            // VK_RWIN: Super_R
    {0x5D, 0xFF67, 0},                            // VK_APPS: Menu
    {0x5F, 0x1008FF2F, 0},                        // VK_SLEEP: XF86Sleep
    {0x60, 0xFFB0, 0}, {0x61, 0xFFB1, 0}, {0x62, 0xFFB2, 0}, {0x63, 0xFFB3, 0},  // VK_NUMPAD0-3: KP_0-3
    {0x64, 0xFFB4, 0}, {0x65, 0xFFB5, 0}, {0x66, 0xFFB6, 0}, {0x67, 0xFFB7, 0},  // VK_NUMPAD4-7: KP_4-7
    {0x68, 0xFFB8, 0}, {0x69, 0xFFB9, 0},                                          // VK_NUMPAD8-9: KP_8-9
    {0x6A, 0xFFAA, 0},                            // VK_MULTIPLY: KP_Multiply
    {0x6B, 0xFFAB, 0},                            // VK_ADD: KP_Add
    {0x6C, 0xFFAC, 0},                            // VK_SEPARATOR: KP_Separator
    {0x6D, 0xFFAD, 0},                            // VK_SUBTRACT: KP_Subtract
    {0x6E, 0xFFAE, 0},                            // VK_DECIMAL: KP_Decimal
    {0x6F, 0xFFAF, 0},                            // VK_DIVIDE: KP_Divide
    // VK_F1 to VK_F24: F1 to F24
    {0x70, 0xFFBE, 0}, {0x71, 0xFFBF, 0}, {0x72, 0xFFC0, 0}, {0x73, 0xFFC1, 0},
    {0x74, 0xFFC2, 0}, {0x75, 0xFFC3, 0}, {0x76, 0xFFC4, 0}, {0x77, 0xFFC5, 0},
    {0x78, 0xFFC6, 0}, {0x79, 0xFFC7, 0}, {0x7A, 0xFFC8, 0}, {0x7B, 0xFFC9, 0},
    {0x7C, 0xFFCA, 0}, {0x7D, 0xFFCB, 0}, {0x7E, 0xFFCC, 0}, {0x7F, 0xFFCD, 0},
    {0x80, 0xFFCE, 0}, {0x81, 0xFFCF, 0}, {0x82, 0xFFD0, 0}, {0x83, 0xFFD1, 0},
    {0x84, 0xFFD2, 0}, {0x85, 0xFFD3, 0}, {0x86, 0xFFD4, 0}, {0x87, 0xFFD5, 0},
    {0xA0, 0xFFE1, 0},                            // VK_LSHIFT: Shift_L
    {0xA1, 0xFFE2, 0},                            // VK_RSHIFT: Shift_R
    {0xA2, 0xFFE3, 0},                            // VK_LCONTROL: Control_L
    {0xA3, 0xFFE4, 0},                            // VK_RCONTROL: Control_R
    {0xA4, 0xFFE9, 0},                            // VK_LMENU: Alt_L
    {0xA5, 0xFFEA, 0},                            // VK_RMENU: Alt_R
};

enum : xcb_keysym_t { kCapsLockKeysym = 0xFFE5 };

// XTEST's FakeInput and the two XKB requests read here, with their replies'
// layout; XkbUseCoreKbd names the core keyboard.
enum {
  kXtestFakeInput = 2, kKeyPress = 2, kKeyRelease = 3,
  kXkbUseExtension = 0, kXkbSelectEvents = 1, kXkbGetState = 4, kXkbUseCoreKbd = 0x100,
  kXkbNewKeyboardNotifyMask = 1 << 0, kXkbMapNotifyMask = 1 << 1, kXkbKeySymsMask = 1 << 1,
  kXkbSupportedOffset = 1, kXkbLockedModsOffset = 11,
};

static const VirtualKey* FindVirtualKey(uint16_t code) {
  for (const VirtualKey& key : s_virtualKeyTable) {
    if (key.code == code) return &key;
  }
  return NULL;
}

// Reads the keyboard mapping into s_keysyms; false when it cannot be read.
static bool ReadKeyboardMapping(xcb_connection_t* c) {
  uint8_t count = s_maxKeycode - s_minKeycode + 1;
  xcb_get_keyboard_mapping_reply_t* reply = s_xcb.get_keyboard_mapping_reply(
      c, s_xcb.get_keyboard_mapping(c, s_minKeycode, count), NULL);
  if (reply == NULL) return false;
  size_t size = static_cast<size_t>(count) * reply->keysyms_per_keycode * sizeof(xcb_keysym_t);
  if (reply->length * 4 >= size) s_keysyms = static_cast<xcb_keysym_t*>(malloc(size + 1));
  if (s_keysyms != NULL) {
    memcpy(s_keysyms, s_xcb.get_keyboard_mapping_keysyms(reply), size);
    s_keysymsPerKeycode = reply->keysyms_per_keycode;
  }
  free(reply);
  return s_keysyms != NULL;
}

// Every client gets MappingNotify unasked when the keyboard mapping changes
// (and this one XKB's map events too, once it has asked for them). Takes the
// events that have arrived, without waiting: those that libxcb has already
// read, and with readSocket those still in the socket too (a read that costs
// a system call). Any such event has the mapping read again.
static void TakeServerEvents(xcb_connection_t* c, bool readSocket) {
  for (;;) {
    xcb_generic_event_t* event = readSocket ? s_xcb.poll_for_event(c) : s_xcb.poll_for_queued_event(c);
    if (event == NULL) break;
    uint8_t type = event->response_type & 0x7F;
    bool keyboardMapping = type == XCB_MAPPING_NOTIFY &&
                           reinterpret_cast<xcb_mapping_notify_event_t*>(event)->request ==
                               XCB_MAPPING_KEYBOARD;
    if (keyboardMapping || (s_xkbFirstEvent != 0 && type == s_xkbFirstEvent)) {
      free(s_keysyms);
      s_keysyms = NULL;
    }
    free(event);
  }
}

// Whether the keyboard mapping is at hand, read now if it is not.
static bool KeyboardMapping(xcb_connection_t* c) {
  return s_keysyms != NULL || ReadKeyboardMapping(c);
}

// The keycode to send for keysym: the first that the mapping binds it to,
// looking at every keycode's first keysym before any second one (as Xlib's
// XKeysymToKeycode looks); 0 when none.
static uint8_t KeycodeToSend(xcb_keysym_t keysym) {
  int count = s_maxKeycode - s_minKeycode + 1;
  for (int column = 0; column < s_keysymsPerKeycode; ++column) {
    for (int key = 0; key < count; ++key) {
      if (s_keysyms[key * s_keysymsPerKeycode + column] == keysym) return s_minKeycode + key;
    }
  }
  return 0;
}

// Whether any keycode bound to either keysym, in any column, is down in
// QueryKeymap's bit array.
static bool AnyBoundKeyDown(const uint8_t* keys, xcb_keysym_t keysym, xcb_keysym_t otherSide) {
  int count = s_maxKeycode - s_minKeycode + 1;
  for (int key = 0; key < count; ++key) {
    int keycode = s_minKeycode + key;
    if ((keys[keycode / 8] & (1 << (keycode % 8))) == 0) continue;
    for (int column = 0; column < s_keysymsPerKeycode; ++column) {
      xcb_keysym_t bound = s_keysyms[key * s_keysymsPerKeycode + column];
      if (bound == keysym || (otherSide != 0 && bound == otherSide)) return true;
    }
  }
  return false;
}

// XKB's requests need UseExtension first, once per connection. After it the
// server stops sending this client the core MappingNotify for its keyboard
// (and never sends it one for a new keyboard) unless the client selects
// XKB's map events: both are selected here, so that the mapping stays
// current. False when the server does not take this client's XKB.
static bool InitializeXkb(xcb_connection_t* c) {
  if (s_xkbAsked) return s_xkbInitialized;
  s_xkbAsked = true;
  uint8_t use[8] = {0, kXkbUseExtension};
  uint16_t version[2] = {1, 0};
  memcpy(use + 4, version, sizeof(version));
  uint8_t* reply = ExtensionReply(c, SendExtensionRequest(c, s_xkbOpcode, use, sizeof(use), true));
  s_xkbInitialized = reply != NULL && reply[kXkbSupportedOffset] != 0;
  free(reply);
  if (s_xkbInitialized) {
    // deviceSpec, affectWhich, clear, selectAll, affectMap, map
    uint16_t fields[6] = {kXkbUseCoreKbd, kXkbNewKeyboardNotifyMask | kXkbMapNotifyMask, 0,
                          kXkbNewKeyboardNotifyMask, kXkbKeySymsMask, kXkbKeySymsMask};
    uint8_t select[16] = {0, kXkbSelectEvents};
    memcpy(select + 4, fields, sizeof(fields));
    SendExtensionRequest(c, s_xkbOpcode, select, sizeof(select), false);
  }
  return s_xkbInitialized;
}

// Windows gives 0xFF80 (bit 15 and the bits above the key's own) while a key
// is down, and sets bit 0 while the key is toggled: for Caps Lock, that is
// XKB's locked Lock modifier.
uint16_t VirtualKeyState(uint16_t code) {
  const VirtualKey* key = FindVirtualKey(code);
  xcb_connection_t* c = key != NULL ? Display() : NULL;
  if (c == NULL) return 0;
  xcb_query_keymap_cookie_t keymapCookie = s_xcb.query_keymap(c);
  unsigned int xkbSequence = 0;
  if (key->keysym == kCapsLockKeysym && s_xkbOpcode != 0 && InitializeXkb(c)) {
    uint8_t request[8] = {0, kXkbGetState};
    uint16_t device = kXkbUseCoreKbd;
    memcpy(request + 4, &device, sizeof(device));
    xkbSequence = SendExtensionRequest(c, s_xkbOpcode, request, sizeof(request), true);
  }
  uint16_t state = 0;
  xcb_query_keymap_reply_t* keymap = s_xcb.query_keymap_reply(c, keymapCookie, NULL);
  // Reading the reply has read every event sent before it: a change of the
  // mapping that the keys' state follows is among them, and no system call
  // is spent on looking for events before the request.
  TakeServerEvents(c, false);
  if (keymap != NULL && KeyboardMapping(c) &&
      AnyBoundKeyDown(keymap->keys, key->keysym, key->otherSide)) {
    state = 0xFF80;
  }
  free(keymap);
  uint8_t* xkbState = ExtensionReply(c, xkbSequence);
  if (xkbState != NULL && (xkbState[kXkbLockedModsOffset] & XCB_MOD_MASK_LOCK) != 0) state |= 1;
  free(xkbState);
  return DisplayStillWorks() ? state : 0;
}

void SendVirtualKey(uint16_t code, bool press) {
  const VirtualKey* key = FindVirtualKey(code);
  if (key == NULL) return;
  // The keycodes must follow the mapping as it stands when the chord starts:
  // the server's events are looked for at its first key, in the socket too.
  xcb_connection_t* c = s_display;
  if (!s_chordBegun) {
    c = Display();
    if (c != NULL) TakeServerEvents(c, true);
    if (c != NULL && (!KeyboardMapping(c) || !DisplayStillWorks())) c = NULL;
  }
  s_chordBegun = true;
  if (c == NULL || s_xtestOpcode == 0 || s_keysyms == NULL) return;
  uint8_t keycode = KeycodeToSend(key->keysym);
  if (keycode == 0) return;
  // type, detail, 2 unused, time (CurrentTime), root (None), 8 unused, root
  // x and y, 7 unused, device (the core keyboard)
  uint8_t request[36] = {0, kXtestFakeInput, 0, 0, press ? uint8_t(kKeyPress) : uint8_t(kKeyRelease), keycode};
  if (SendExtensionRequest(c, s_xtestOpcode, request, sizeof(request), false) != 0) ++s_pendingKeyEvents;
}

// A round trip (GetInputFocus) returns once the server has handled every
// event sent before it, so that a getKeyState right after sees them.
void FinishKeyEvents() {
  s_chordBegun = false;
  if (s_display != NULL && s_pendingKeyEvents > 0) {
    s_pendingKeyEvents = 0;
    free(s_xcb.get_input_focus_reply(s_display, s_xcb.get_input_focus(s_display), NULL));
  }
  DisplayStillWorks();
}

// ---------------------------------------------------------------------------
// The main thread and the host

// The main thread's id is the process's.
bool OnProcessMainThread() {
  return syscall(SYS_gettid) == getpid();
}

// Every import is bound at load (-z now): a host that lacks one fails the
// load itself.
const char* MissingHostImport() {
  return NULL;
}

void* HostEntryPoint(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}
