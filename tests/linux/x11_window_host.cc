// x11_window_host LAYOUT_BEFORE LAYOUT_AFTER SIGNAL_FILE NODE SCRIPT
//
// Mimics the client's browser process on X for findChromeWindow: creates the
// windows of LAYOUT_BEFORE, each carrying this process's pid in _NET_WM_PID,
// and starts a middle process (the zygote's stand-in) that runs NODE SCRIPT,
// so that the script's grandparent owns the windows. When the script creates
// SIGNAL_FILE, the host destroys its windows, creates those of LAYOUT_AFTER
// and writes the expected result (a window's XID, or 0) to
// SIGNAL_FILE.ready. The script gets the first expected result in
// VELMORA_EXPECTED. Exits with the script's exit code.
//
// With VELMORA_WINDOW_MANAGER set, a reparenting window manager runs: each
// mapped window counts as shown once the manager has framed it and lists it
// in _NET_CLIENT_LIST; without it, once it is viewable.
//
// Layouts (every one but "none" starts with Chromium's leader, an unmapped
// window with the same pid):
//   none     no window;
//   window   one mapped window: expected;
//   raised   windows A then B mapped, then A raised above B: A expected
//            under a window manager (its list keeps the order of mapping),
//            B without (the bottom of the stacking order);
//   iconic   A and B mapped, then A minimised: A expected;
//   middle   one mapped window, and another one owned by the middle process:
//            the middle one expected (the nearest ancestor's).
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

// ICCCM's IconicState, for WM_CHANGE_STATE.
enum { kIconicState = 3 };

static xcb_connection_t* s_connection;
static xcb_window_t s_root;
// The windows of the current layout, to destroy at the switch.
static xcb_window_t s_windows[8];
static int s_windowCount;
static bool s_windowManager;

static void Fail(const char* message, int code) {
  fprintf(stderr, "x11_window_host: %s\n", message);
  exit(code);
}

static xcb_atom_t Atom(const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(s_connection, xcb_intern_atom(s_connection, 0, strlen(name), name), NULL);
  if (reply == NULL) Fail("InternAtom failed", 90);
  xcb_atom_t atom = reply->atom;
  free(reply);
  return atom;
}

static void Connect() {
  int screen = 0;
  s_connection = xcb_connect(NULL, &screen);
  if (xcb_connection_has_error(s_connection)) Fail("cannot connect to $DISPLAY", 91);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(s_connection));
  for (int i = 0; i < screen; ++i) xcb_screen_next(&screens);
  s_root = screens.data->root;
}

// A top-level window owned by this process, unmapped.
static xcb_window_t CreateOwnedWindow(uint16_t size) {
  xcb_window_t window = xcb_generate_id(s_connection);
  xcb_create_window(s_connection, XCB_COPY_FROM_PARENT, window, s_root, 0, 0, size, size, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, NULL);
  uint32_t pid = static_cast<uint32_t>(getpid());
  xcb_change_property(s_connection, XCB_PROP_MODE_REPLACE, window, Atom("_NET_WM_PID"),
                      XCB_ATOM_CARDINAL, 32, 1, &pid);
  s_windows[s_windowCount++] = window;
  return window;
}

static bool Listed(xcb_window_t window) {
  xcb_get_property_reply_t* list = xcb_get_property_reply(
      s_connection,
      xcb_get_property(s_connection, 0, s_root, Atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096),
      NULL);
  bool listed = false;
  if (list != NULL) {
    const xcb_window_t* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list));
    for (int i = 0; i < xcb_get_property_value_length(list) / 4; ++i) listed |= windows[i] == window;
  }
  free(list);
  return listed;
}

static bool Framed(xcb_window_t window) {
  xcb_query_tree_reply_t* tree =
      xcb_query_tree_reply(s_connection, xcb_query_tree(s_connection, window), NULL);
  bool framed = tree != NULL && tree->parent != s_root;
  free(tree);
  return framed;
}

static uint8_t MapState(xcb_window_t window) {
  xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
      s_connection, xcb_get_window_attributes(s_connection, window), NULL);
  uint8_t state = attributes != NULL ? attributes->map_state : XCB_MAP_STATE_UNMAPPED;
  free(attributes);
  return state;
}

// Waits up to 10 s for condition(window); fails with message otherwise.
static void WaitFor(bool (*condition)(xcb_window_t), xcb_window_t window, const char* message) {
  for (int i = 0; i < 500 && !condition(window); ++i) usleep(20000);
  if (!condition(window)) Fail(message, 92);
}

static bool Shown(xcb_window_t window) {
  if (MapState(window) != XCB_MAP_STATE_VIEWABLE) return false;
  return !s_windowManager || (Listed(window) && Framed(window));
}

static bool Minimised(xcb_window_t window) {
  return MapState(window) == XCB_MAP_STATE_UNMAPPED && Listed(window);
}

static xcb_window_t MapOwnedWindow() {
  xcb_window_t window = CreateOwnedWindow(100);
  xcb_map_window(s_connection, window);
  xcb_flush(s_connection);
  WaitFor(Shown, window, "a mapped window was not shown");
  return window;
}

// Asks the window manager to minimise window (ICCCM's WM_CHANGE_STATE).
static void Minimise(xcb_window_t window) {
  xcb_client_message_event_t message;
  memset(&message, 0, sizeof(message));
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = Atom("WM_CHANGE_STATE");
  message.data.data32[0] = kIconicState;
  xcb_send_event(s_connection, 0, s_root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(s_connection);
  WaitFor(Minimised, window, "the window was not minimised");
}

// Creates the windows of a layout that this process owns; returns the
// expected window, 0 when none is.
static xcb_window_t CreateLayout(const char* layout) {
  if (strcmp(layout, "none") == 0) return 0;
  CreateOwnedWindow(10);
  if (strcmp(layout, "window") == 0 || strcmp(layout, "middle") == 0) return MapOwnedWindow();
  xcb_window_t a = MapOwnedWindow();
  xcb_window_t b = MapOwnedWindow();
  if (strcmp(layout, "raised") == 0) {
    uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(s_connection, a, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    free(xcb_get_input_focus_reply(s_connection, xcb_get_input_focus(s_connection), NULL));
    return s_windowManager ? a : b;
  }
  if (strcmp(layout, "iconic") == 0) {
    Minimise(a);
    return a;
  }
  Fail("unknown layout", 93);
  return 0;
}

static void DestroyLayout() {
  while (s_windowCount > 0) xcb_destroy_window(s_connection, s_windows[--s_windowCount]);
  free(xcb_get_input_focus_reply(s_connection, xcb_get_input_focus(s_connection), NULL));
}

static void SetExpected(xcb_window_t window) {
  char expected[16];
  snprintf(expected, sizeof(expected), "%u", window);
  setenv("VELMORA_EXPECTED", expected, 1);
}

// The middle process: owns a window of its own for the "middle" layout, runs
// the script as its child and ends with its exit code.
static int RunMiddle(const char* layout, char** script) {
  if (strcmp(layout, "middle") == 0) {
    s_windowCount = 0;
    Connect();
    SetExpected(MapOwnedWindow());
  }
  pid_t child = fork();
  if (child == 0) {
    execv(script[0], script);
    _exit(95);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 96;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
}

int main(int argc, char** argv) {
  if (argc != 6) Fail("usage: x11_window_host BEFORE AFTER SIGNAL_FILE NODE SCRIPT", 94);
  const char* signal = argv[3];
  s_windowManager = getenv("VELMORA_WINDOW_MANAGER") != NULL;
  Connect();
  SetExpected(CreateLayout(argv[1]));

  pid_t middle = fork();
  if (middle == 0) {
    char* script[] = {argv[4], argv[5], NULL};
    _exit(RunMiddle(argv[1], script));
  }
  if (middle < 0) Fail("fork failed", 95);

  // Serve the windows until the middle process ends; switch layouts once on
  // the script's signal.
  bool switched = false;
  int status = 0;
  while (waitpid(middle, &status, WNOHANG) == 0) {
    struct stat info;
    if (!switched && stat(signal, &info) == 0) {
      switched = true;
      DestroyLayout();
      // Written aside and renamed, so that the script never reads it half-written.
      char partial[4096], ready[4096];
      snprintf(partial, sizeof(partial), "%s.partial", signal);
      snprintf(ready, sizeof(ready), "%s.ready", signal);
      FILE* file = fopen(partial, "w");
      fprintf(file, "%u", CreateLayout(argv[2]));
      fclose(file);
      rename(partial, ready);
    }
    usleep(20000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
}
