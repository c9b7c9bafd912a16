// The floor of the Linux benchmark: the X and /proc work behind one call of
// each of the addon's functions, made from native code with no script in
// between, over libxcb linked directly. nativeCost(name, count) gives the
// nanoseconds per run of that work, run count times in a row.
#include <node_api.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

// The display of $DISPLAY, connected at load, and what the runs ask of it.
static xcb_connection_t* s_connection;
static xcb_window_t s_root;
static uint8_t s_screenSaverOpcode;
static uint8_t s_xtestOpcode;
// The keycode bound to Shift_L, which the benchmark presses.
static uint8_t s_shiftKeycode;

static uint8_t MajorOpcode(const char* name) {
  xcb_query_extension_reply_t* reply = xcb_query_extension_reply(
      s_connection, xcb_query_extension(s_connection, strlen(name), name), NULL);
  uint8_t opcode = reply != NULL && reply->present ? reply->major_opcode : 0;
  free(reply);
  return opcode;
}

static unsigned int SendExtensionRequest(uint8_t opcode, void* data, size_t size, bool hasReply) {
  struct iovec parts[3];
  parts[2].iov_base = data;
  parts[2].iov_len = size;
  xcb_protocol_request_t request = {1, NULL, opcode, hasReply ? uint8_t(0) : uint8_t(1)};
  return xcb_send_request(s_connection, hasReply ? XCB_REQUEST_CHECKED : 0, parts + 2, &request);
}

// getKeyState("Shift"): one QueryKeymap.
static void KeyStateRun() {
  free(xcb_query_keymap_reply(s_connection, xcb_query_keymap(s_connection), NULL));
}

// getUserIdleTime(): one MIT-SCREEN-SAVER QueryInfo.
static void IdleTimeRun() {
  uint8_t request[8] = {0, 1};
  memcpy(request + 4, &s_root, 4);
  free(xcb_wait_for_reply(s_connection, SendExtensionRequest(s_screenSaverOpcode, request, 8, true), NULL));
}

// simulateKeys("Shift"): two XTEST FakeInputs and a round trip.
static void SendKeysRun() {
  static const uint8_t types[] = {2, 3};  // KeyPress, KeyRelease
  for (uint8_t type : types) {
    uint8_t request[36] = {0, 2, 0, 0, type, s_shiftKeycode};
    SendExtensionRequest(s_xtestOpcode, request, sizeof(request), false);
  }
  free(xcb_get_input_focus_reply(s_connection, xcb_get_input_focus(s_connection), NULL));
}

// The same, after the non-blocking read of the server's events that the
// addon makes at the start of a chord, to see a change of the keyboard mapping.
static void SendKeysReadingEventsRun() {
  free(xcb_poll_for_event(s_connection));
  SendKeysRun();
}

// getKnownDirectory("Desktop"): the environment, and user-dirs.dirs read whole.
static void KnownFolderRun() {
  const char* configHome = getenv("XDG_CONFIG_HOME");
  const char* home = getenv("HOME");
  char path[4096];
  if (configHome != NULL && configHome[0] == '/') {
    snprintf(path, sizeof(path), "%s/user-dirs.dirs", configHome);
  } else {
    snprintf(path, sizeof(path), "%s/.config/user-dirs.dirs", home);
  }
  char text[4096];
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    while (read(fd, text, sizeof(text)) > 0) {
    }
    close(fd);
  }
  free(strdup(home));
}

// getProcessesOfSameExeFile(): every process's executable link, and the stat
// file of those that run this one.
static void ProcessesRun() {
  char self[4096], link[4096], path[64], stat[512];
  ssize_t selfLength = readlink("/proc/self/exe", self, sizeof(self));
  DIR* proc = opendir("/proc");
  while (struct dirent* entry = readdir(proc)) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    snprintf(path, sizeof(path), "/proc/%s/exe", entry->d_name);
    ssize_t length = readlink(path, link, sizeof(link));
    if (length != selfLength || memcmp(link, self, length) != 0) continue;
    snprintf(path, sizeof(path), "/proc/%s/stat", entry->d_name);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (read(fd, stat, sizeof(stat)) < 0) stat[0] = '\0';
    close(fd);
  }
  closedir(proc);
}

// findChromeWindow() where no ancestor owns a window: the ancestors' stat
// files, the two atoms, the root's children with their attributes, and the
// pid of each mapped one.
static void ChromeWindowRun() {
  char path[64], stat[512];
  for (pid_t pid = getppid(); pid > 0;) {
    snprintf(path, sizeof(path), "/proc/%d/stat", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    ssize_t length = read(fd, stat, sizeof(stat) - 1);
    close(fd);
    if (length <= 0) break;
    stat[length] = '\0';
    pid = atoi(strchr(strrchr(stat, ')') + 3, ' ') + 1);
  }
  xcb_intern_atom_reply_t* pidAtom = xcb_intern_atom_reply(
      s_connection, xcb_intern_atom(s_connection, 1, 11, "_NET_WM_PID"), NULL);
  free(xcb_intern_atom_reply(s_connection, xcb_intern_atom(s_connection, 1, 16, "_NET_CLIENT_LIST"), NULL));
  xcb_query_tree_reply_t* tree = xcb_query_tree_reply(s_connection, xcb_query_tree(s_connection, s_root), NULL);
  int count = xcb_query_tree_children_length(tree);
  xcb_window_t* children = xcb_query_tree_children(tree);
  xcb_get_window_attributes_cookie_t attributes[256];
  xcb_get_property_cookie_t pids[256];
  if (count > 256) count = 256;
  for (int i = 0; i < count; ++i) attributes[i] = xcb_get_window_attributes(s_connection, children[i]);
  int mapped = 0;
  for (int i = 0; i < count; ++i) {
    xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(s_connection, attributes[i], NULL);
    if (reply != NULL && reply->map_state != XCB_MAP_STATE_UNMAPPED && !reply->override_redirect) {
      children[mapped++] = children[i];
    }
    free(reply);
  }
  for (int i = 0; i < mapped; ++i) {
    pids[i] = xcb_get_property(s_connection, 0, children[i], pidAtom->atom, XCB_ATOM_CARDINAL, 0, 1);
  }
  for (int i = 0; i < mapped; ++i) free(xcb_get_property_reply(s_connection, pids[i], NULL));
  free(tree);
  free(pidAtom);
}

struct NativeRun {
  const char* name;
  void (*run)();
};

static const NativeRun s_nativeRuns[] = {
    {"getKeyState", KeyStateRun},         {"getUserIdleTime", IdleTimeRun},
    {"simulateKeys", SendKeysRun},        {"simulateKeysReadingEvents", SendKeysReadingEventsRun},
    {"getKnownDirectory", KnownFolderRun},
    {"getProcessesOfSameExeFile", ProcessesRun}, {"findChromeWindow", ChromeWindowRun},
};

static napi_value nativeCost(napi_env env, napi_callback_info info) {
  size_t argc = 2;
  napi_value argv[2];
  char name[64] = "";
  double count = 0;
  napi_get_cb_info(env, info, &argc, argv, NULL, NULL);
  napi_get_value_string_utf8(env, argv[0], name, sizeof(name), NULL);
  napi_get_value_double(env, argv[1], &count);
  for (const NativeRun& run : s_nativeRuns) {
    if (strcmp(run.name, name) != 0 || count <= 0) continue;
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < count; ++i) run.run();
    clock_gettime(CLOCK_MONOTONIC, &end);
    double nanoseconds = (end.tv_sec - start.tv_sec) * 1e9 + (end.tv_nsec - start.tv_nsec);
    napi_value result;
    napi_create_double(env, nanoseconds / count, &result);
    return result;
  }
  return NULL;
}

static void Connect() {
  int screen = 0;
  s_connection = xcb_connect(NULL, &screen);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(s_connection));
  for (int i = 0; i < screen; ++i) xcb_screen_next(&screens);
  s_root = screens.data->root;
  s_screenSaverOpcode = MajorOpcode("MIT-SCREEN-SAVER");
  s_xtestOpcode = MajorOpcode("XTEST");
  const xcb_setup_t* setup = xcb_get_setup(s_connection);
  int count = setup->max_keycode - setup->min_keycode + 1;
  xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
      s_connection, xcb_get_keyboard_mapping(s_connection, setup->min_keycode, count), NULL);
  xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
  for (int key = 0; key < count && s_shiftKeycode == 0; ++key) {
    if (keysyms[key * mapping->keysyms_per_keycode] == 0xFFE1) s_shiftKeycode = setup->min_keycode + key;
  }
  free(mapping);
}

NAPI_MODULE_INIT() {
  Connect();
  napi_value function;
  napi_create_function(env, "nativeCost", NAPI_AUTO_LENGTH, nativeCost, NULL, &function);
  napi_set_named_property(env, exports, "nativeCost", function);
  return exports;
}
