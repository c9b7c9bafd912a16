// The Linux core's work over D-Bus: the event sources that desktop services
// report (logind: the session's lock and idle state, sleep and shutdown;
// UPower: the lid, the power source and the battery; the desktop's screen
// saver: the lock), the launcher badge, and GNOME's idle time on Wayland.
//
// libdbus-1 is loaded at run time: every Chromium links it, so NW.js brings
// it, and the addon names no library it may lack. Chromium owns the shared
// connections that dbus_bus_get gives, so every connection here is private.
// The event sources run on a thread of their own, which alone touches its two
// connections and every state it compares; the script thread has a session
// connection of its own for the badge and the idle time.
//
// Sections, in order: libdbus-1, connections, the script thread's
// connection (the badge, the Wayland idle time), reported states, logind's
// delay locks, the services, the D-Bus thread, the power events' opt-in.
#include <dbus/dbus.h>
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "async.h"
#include "sys.h"
#include "sys_linux.h"

// libdbus-1's entry points that the addon calls: the table holds one pointer
// of each, which LoadDbus fills.
#define DBUS_ENTRY_POINTS(X)                                                                     \
  X(dbus_threads_init_default) X(dbus_error_init) X(dbus_error_free) X(dbus_free)                \
  X(dbus_address_escape_value) X(dbus_validate_utf8) X(dbus_connection_open_private)             \
  X(dbus_connection_set_exit_on_disconnect) X(dbus_connection_close) X(dbus_connection_unref)    \
  X(dbus_connection_get_is_connected) X(dbus_connection_get_unix_fd)                             \
  X(dbus_connection_read_write) X(dbus_connection_get_dispatch_status)                           \
  X(dbus_connection_pop_message) X(dbus_connection_send) X(dbus_connection_flush)                \
  X(dbus_connection_send_with_reply_and_block) X(dbus_bus_add_match)                             \
  X(dbus_message_new_method_call) X(dbus_message_new_signal) X(dbus_message_unref)               \
  X(dbus_message_append_args_valist) X(dbus_message_get_args) X(dbus_message_is_signal)          \
  X(dbus_message_get_sender) X(dbus_message_get_path) X(dbus_message_iter_init)                  \
  X(dbus_message_iter_init_append) X(dbus_message_iter_get_arg_type)                             \
  X(dbus_message_iter_get_basic) X(dbus_message_iter_recurse) X(dbus_message_iter_next)          \
  X(dbus_message_iter_open_container) X(dbus_message_iter_close_container)                       \
  X(dbus_message_iter_append_basic)

struct DbusEntryPoints {
#define DBUS_ENTRY_POINT_MEMBER(name) decltype(&::name) name;
  DBUS_ENTRY_POINTS(DBUS_ENTRY_POINT_MEMBER)
#undef DBUS_ENTRY_POINT_MEMBER
};

enum Bus { kSystemBus, kSessionBus, kBusCount };

// One bus of the D-Bus thread.
struct BusConnection {
  char* address;               // null where there is no such bus
  DBusConnection* connection;  // null while not connected
  int64_t retryAt;             // when to connect again, on the monotonic clock (ms)
};

enum Service { kLogind, kUpower, kGnomeScreenSaver, kFreedesktopScreenSaver, kServiceCount };

// A lock that logind holds its sleep or shutdown back for, at most
// InhibitDelayMaxSec (5 s by default).
struct DelayLock {
  const char* what;     // what it delays, in logind's words
  const char* why;      // why, as logind shows it
  int fd;               // the lock while held; -1 otherwise
  bool waiting;         // its event is out: released at its delivery, or at deadline
  int64_t deadline;     // on the monotonic clock (ms)
  uint32_t generation;  // counts its events, so that a late delivery releases no later lock
};

enum { kSleepLock, kShutdownLock, kDelayLockCount };

// libdbus-1's entry points, bound by the first use; all null when the library
// or any of them is missing.
static DbusEntryPoints s_dbus;
// Whether LoadDbus has run. Every first use is on the script thread (a watch,
// setBadge, getUserIdleTime), before the D-Bus thread exists.
static bool s_dbusLoadTried;
// The script thread's own session connection; null before its first use and
// while there is no session bus.
static DBusConnection* s_scriptSessionBus;
// Whether the D-Bus thread runs, or cannot for want of libdbus-1: either way
// it is not started again.
static bool s_dbusThreadStarted;
// An eventfd that wakes the D-Bus thread: written when the power events turn
// on or off, and when a delay lock's event has been delivered.
static int s_wakeFd = -1;
// The D-Bus thread's buses. Their addresses are taken on the script thread
// before the thread starts, since the environment may change under a getenv
// of another thread.
static BusConnection s_buses[kBusCount];
// $XDG_SESSION_ID, null when unset or not UTF-8; taken likewise.
static char* s_sessionIdVariable;
// This process's executable's file name, "who" in logind's lock list; taken
// likewise.
static char s_executableName[256];
// Each service's owner (its unique name on its bus), "" while it has none.
static char s_serviceOwners[kServiceCount][256];
// While the D-Bus thread's first connections read the services' states: the
// state at the start gives no event.
static bool s_startingUp = true;
// This process's logind session, null when none is known.
static char* s_sessionPath;
// The last state reported of each event, -1 before any: the session locked
// (1) or not, the user inactive (1) or present, the lid closed (1) or open;
// the power source (an index of s_powerSourceStates) and the battery level
// last posted in the power events' current opt-in period.
static int s_lockReported = -1;
static int s_idleReported = -1;
static int s_lidReported = -1;
static int s_powerSourceReported = -1;
static int s_batteryReported = -1;
// UPower's properties as last read, -1 while unknown: OnBattery, LidIsPresent
// and LidIsClosed, then the display device's Type, IsPresent and Percentage.
static int s_onBattery = -1;
static int s_lidPresent = -1;
static int s_lidClosed = -1;
static int s_displayDeviceType = -1;
static int s_displayDevicePresent = -1;
static double s_displayDevicePercentage = -1;
// The delay locks, held while the power events are on.
static DelayLock s_delayLocks[kDelayLockCount] = {
    {"sleep", "Closing connections before sleep", -1, false, 0, 0},
    {"shutdown", "Saving state before shutdown", -1, false, 0, 0},
};
// The generation of each lock's event whose delivery was told last.
static std::atomic<uint32_t> s_deliveredGenerations[kDelayLockCount];
// The power events' opt-in period that the D-Bus thread last followed; 0
// while they are off.
static uint32_t s_servedPowerPeriod;

enum {
  kScriptReplyMilliseconds = 200,
  kServiceReplyMilliseconds = 1000,
  kReconnectMilliseconds = 1000,
  kDelayLockMilliseconds = 3000,
};

// ---------------------------------------------------------------------------
// libdbus-1

// Binds the entry points on the first call; false when the library or one of
// them is missing. The library stays loaded for the process's life.
static bool LoadDbus() {
  if (!s_dbusLoadTried) {
    s_dbusLoadTried = true;
    void* library = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
    DbusEntryPoints bound;
    bool complete = library != NULL;
#define BIND_DBUS_ENTRY_POINT(name)                                                             \
  bound.name = complete ? reinterpret_cast<decltype(bound.name)>(dlsym(library, #name)) : NULL; \
  complete = complete && bound.name != NULL;
    DBUS_ENTRY_POINTS(BIND_DBUS_ENTRY_POINT)
#undef BIND_DBUS_ENTRY_POINT
    // Two threads of the addon use it, and Chromium's too: its locks must be
    // on (libdbus 1.7 on turns them on by itself).
    if (complete && bound.dbus_threads_init_default()) s_dbus = bound;
  }
  return s_dbus.dbus_threads_init_default != NULL;
}

// A copy of text, which the caller frees; null when text is null or is not
// UTF-8, which libdbus would refuse with a warning on standard error.
static char* Utf8Copy(const char* text) {
  return text != NULL && s_dbus.dbus_validate_utf8(text, NULL) ? strdup(text) : NULL;
}

static int64_t MonotonicMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// The file name of this process's executable, "" when it cannot be read.
static void ExecutableFileName(char* name, size_t size) {
  char path[4096];
  const char* file;
  snprintf(name, size, "%s", ExecutableName(getpid(), path, sizeof(path), &file) ? file : "");
}

// ---------------------------------------------------------------------------
// Connections

// The session bus's address, in a buffer the caller frees; null when there is
// none. With DBUS_SESSION_BUS_ADDRESS unset, the user's bus socket where it
// exists: never an autolaunched bus, which a plain libdbus would start.
static char* SessionBusAddress() {
  const char* address = getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != NULL && *address != '\0') return strdup(address);
  const char* runtimeFolder = getenv("XDG_RUNTIME_DIR");
  if (runtimeFolder == NULL || *runtimeFolder == '\0') return NULL;
  char* path = JoinTexts(runtimeFolder, "/bus", "");
  char* escaped = path != NULL && access(path, F_OK) == 0 ? s_dbus.dbus_address_escape_value(path)
                                                          : NULL;
  free(path);
  if (escaped == NULL) return NULL;
  char* unixAddress = JoinTexts("unix:path=", escaped, "");
  s_dbus.dbus_free(escaped);
  return unixAddress;
}

// DBUS_SYSTEM_BUS_ADDRESS, else the well-known system bus socket.
static char* SystemBusAddress() {
  const char* address = getenv("DBUS_SYSTEM_BUS_ADDRESS");
  return strdup(address != NULL && *address != '\0' ? address
                                                    : "unix:path=/var/run/dbus/system_bus_socket");
}

static void CloseBus(DBusConnection* connection) {
  s_dbus.dbus_connection_close(connection);
  s_dbus.dbus_connection_unref(connection);
}

// Calls a method with the arguments that follow (dbus_message_append_args's,
// ending with DBUS_TYPE_INVALID) and returns its reply, which the caller
// unrefs; null for an error, or for no reply within timeout ms.
static DBusMessage* CallMethod(DBusConnection* connection, int timeout, const char* destination,
                               const char* path, const char* interface, const char* method,
                               int firstType, ...) {
  DBusMessage* call = s_dbus.dbus_message_new_method_call(destination, path, interface, method);
  if (call == NULL) return NULL;
  va_list arguments;
  va_start(arguments, firstType);
  bool appended = s_dbus.dbus_message_append_args_valist(call, firstType, arguments);
  va_end(arguments);
  DBusMessage* reply = NULL;
  if (appended) {
    DBusError error;
    s_dbus.dbus_error_init(&error);
    reply = s_dbus.dbus_connection_send_with_reply_and_block(connection, call, timeout, &error);
    s_dbus.dbus_error_free(&error);
  }
  s_dbus.dbus_message_unref(call);
  return reply;
}

// A private connection to the bus at address, registered with it; null when
// that takes more than timeout ms. libdbus's own registration would wait up
// to 25 s for the bus's answer, so the Hello is sent here, with the caller's
// timeout.
static DBusConnection* OpenBus(const char* address, int timeout) {
  DBusError error;
  s_dbus.dbus_error_init(&error);
  DBusConnection* connection = s_dbus.dbus_connection_open_private(address, &error);
  s_dbus.dbus_error_free(&error);
  if (connection == NULL) return NULL;
  // A bus that goes away must never end the client, as libdbus would.
  s_dbus.dbus_connection_set_exit_on_disconnect(connection, FALSE);
  DBusMessage* reply = CallMethod(connection, timeout, DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                  DBUS_INTERFACE_DBUS, "Hello", DBUS_TYPE_INVALID);
  if (reply == NULL) {
    CloseBus(connection);
    return NULL;
  }
  s_dbus.dbus_message_unref(reply);
  return connection;
}

// The next message that has arrived on the connection, which the caller
// unrefs; null when none waits. Messages that a blocking call has read wait
// in libdbus's buffers, where poll() cannot see them.
static DBusMessage* NextMessage(DBusConnection* connection) {
  if (s_dbus.dbus_connection_get_dispatch_status(connection) != DBUS_DISPATCH_DATA_REMAINS) {
    return NULL;
  }
  return s_dbus.dbus_connection_pop_message(connection);
}

// The boolean at iter: 0 or 1, or -1 for a value of another type.
static int BooleanAt(DBusMessageIter* iter) {
  if (s_dbus.dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_BOOLEAN) return -1;
  dbus_bool_t value;
  s_dbus.dbus_message_iter_get_basic(iter, &value);
  return value ? 1 : 0;
}

// The message's first argument as a boolean, -1 when it is none; unrefs the
// message (null: -1).
static int TakeBooleanArgument(DBusMessage* message) {
  if (message == NULL) return -1;
  DBusMessageIter iter;
  int value = s_dbus.dbus_message_iter_init(message, &iter) ? BooleanAt(&iter) : -1;
  s_dbus.dbus_message_unref(message);
  return value;
}

// The message's first argument, an object path or a text, in a buffer the
// caller frees; null when it is neither. Unrefs the message (null: null).
static char* TakeTextArgument(DBusMessage* message) {
  if (message == NULL) return NULL;
  DBusMessageIter iter;
  const char* text = NULL;
  if (s_dbus.dbus_message_iter_init(message, &iter) &&
      (s_dbus.dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_OBJECT_PATH ||
       s_dbus.dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_STRING)) {
    s_dbus.dbus_message_iter_get_basic(&iter, &text);
  }
  char* copy = text != NULL ? strdup(text) : NULL;
  s_dbus.dbus_message_unref(message);
  return copy;
}

// Told each property of a dictionary, with whether it was read (at the
// start, or when its service appeared) rather than reported as a change.
typedef void (*PropertyFunction)(const char* name, DBusMessageIter* value, bool reading);

// Calls apply with the name and the value of each entry of the a{sv} at iter.
static void ForEachProperty(DBusMessageIter* iter, PropertyFunction apply, bool reading) {
  if (s_dbus.dbus_message_iter_get_arg_type(iter) != DBUS_TYPE_ARRAY) return;
  DBusMessageIter entries;
  s_dbus.dbus_message_iter_recurse(iter, &entries);
  while (s_dbus.dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry, value;
    s_dbus.dbus_message_iter_recurse(&entries, &entry);
    const char* name;
    if (s_dbus.dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
      s_dbus.dbus_message_iter_get_basic(&entry, &name);
      s_dbus.dbus_message_iter_next(&entry);
      if (s_dbus.dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
        s_dbus.dbus_message_iter_recurse(&entry, &value);
        apply(name, &value, reading);
      }
    }
    s_dbus.dbus_message_iter_next(&entries);
  }
}

// ---------------------------------------------------------------------------
// The script thread's session connection: the badge and the Wayland idle time

// The connection, made again when the bus has gone away since its last use;
// null while there is no session bus. The messages that reach it unasked (the
// bus's NameAcquired) are dropped.
static DBusConnection* ScriptSessionBus() {
  if (!LoadDbus()) return NULL;
  if (s_scriptSessionBus != NULL) {
    // Reading notices a bus that has hung up.
    s_dbus.dbus_connection_read_write(s_scriptSessionBus, 0);
    while (DBusMessage* message = NextMessage(s_scriptSessionBus)) {
      s_dbus.dbus_message_unref(message);
    }
    if (s_dbus.dbus_connection_get_is_connected(s_scriptSessionBus)) return s_scriptSessionBus;
    CloseBus(s_scriptSessionBus);
    s_scriptSessionBus = NULL;
  }
  char* address = SessionBusAddress();
  if (address != NULL) s_scriptSessionBus = OpenBus(address, kScriptReplyMilliseconds);
  free(address);
  return s_scriptSessionBus;
}

// The badge's count: a text of decimal digits alone, of value 1 to 2^63 - 1;
// 0, which clears the badge, for any other.
static int64_t BadgeCount(const char* text) {
  int64_t count = 0;
  for (const char* digit = text; *digit != '\0'; ++digit) {
    int value = *digit - '0';
    if (value < 0 || value > 9 || count > (INT64_MAX - value) / 10) return 0;
    count = count * 10 + value;
  }
  return count;
}

// The launcher's name of this application, application://NAME.desktop, in a
// buffer the caller frees; null when it cannot be made. Chromium and NW.js
// name their desktop file in $CHROME_DESKTOP.
static char* LauncherUri() {
  const char* desktopFile = getenv("CHROME_DESKTOP");
  char executable[256];
  const char* suffix = "";
  if (desktopFile == NULL || *desktopFile == '\0') {
    ExecutableFileName(executable, sizeof(executable));
    desktopFile = executable;
    suffix = ".desktop";
  }
  char* uri = JoinTexts("application://", desktopFile, suffix);
  char* checked = Utf8Copy(uri);
  free(uri);
  return checked;
}

// Appends {name: value} to the a{sv} open at array; value is of type, whose
// signature is signature.
static bool AppendProperty(DBusMessageIter* array, const char* name, int type,
                           const char* signature, const void* value) {
  DBusMessageIter entry, variant;
  return s_dbus.dbus_message_iter_open_container(array, DBUS_TYPE_DICT_ENTRY, NULL, &entry) &&
         s_dbus.dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &name) &&
         s_dbus.dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant) &&
         s_dbus.dbus_message_iter_append_basic(&variant, type, value) &&
         s_dbus.dbus_message_iter_close_container(&entry, &variant) &&
         s_dbus.dbus_message_iter_close_container(array, &entry);
}

// The Unity launcher API's signal, which docks (Ubuntu's, Plank, KDE's task
// manager) read from the session bus; no bus, no badge.
void SetBadge(const char* text) {
  int64_t count = BadgeCount(text);
  dbus_bool_t visible = count != 0;
  DBusConnection* bus = ScriptSessionBus();
  char* uri = bus != NULL ? LauncherUri() : NULL;
  DBusMessage* signal =
      uri != NULL ? s_dbus.dbus_message_new_signal("/com/canonical/unity/launcherentry/velmora",
                                                   "com.canonical.Unity.LauncherEntry", "Update")
                  : NULL;
  if (signal != NULL) {
    DBusMessageIter arguments, properties;
    s_dbus.dbus_message_iter_init_append(signal, &arguments);
    if (s_dbus.dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &uri) &&
        s_dbus.dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &properties) &&
        AppendProperty(&properties, "count", DBUS_TYPE_INT64, "x", &count) &&
        AppendProperty(&properties, "count-visible", DBUS_TYPE_BOOLEAN, "b", &visible) &&
        s_dbus.dbus_message_iter_close_container(&arguments, &properties)) {
      s_dbus.dbus_connection_send(bus, signal, NULL);
      s_dbus.dbus_connection_flush(bus);
    }
    s_dbus.dbus_message_unref(signal);
  }
  free(uri);
}

int64_t WaylandIdleTime() {
  const char* display = getenv("WAYLAND_DISPLAY");
  const char* sessionType = getenv("XDG_SESSION_TYPE");
  bool wayland = (display != NULL && *display != '\0') ||
                 (sessionType != NULL && strcmp(sessionType, "wayland") == 0);
  DBusConnection* bus = wayland ? ScriptSessionBus() : NULL;
  DBusMessage* reply =
      bus != NULL ? CallMethod(bus, kScriptReplyMilliseconds, "org.gnome.Mutter.IdleMonitor",
                               "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor",
                               "GetIdletime", DBUS_TYPE_INVALID)
                  : NULL;
  if (reply == NULL) return -1;
  int64_t idle = -1;
  DBusMessageIter iter;
  if (s_dbus.dbus_message_iter_init(reply, &iter) &&
      s_dbus.dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_UINT64) {
    dbus_uint64_t milliseconds;
    s_dbus.dbus_message_iter_get_basic(&iter, &milliseconds);
    idle = milliseconds < UINT32_MAX ? static_cast<int64_t>(milliseconds) : UINT32_MAX;
  }
  s_dbus.dbus_message_unref(reply);
  return idle;
}

// ---------------------------------------------------------------------------
// Reported states, on the D-Bus thread

static const char* const s_lockStates[] = {"unlock", "lock"};
static const char* const s_userStates[] = {"present", "inactive"};
static const char* const s_lidStates[] = {"open", "close"};
static const char* const s_powerSourceStates[] = {"ac", "battery", "ups"};
// UPower's device types.
enum { kBatteryDevice = 2, kUpsDevice = 3 };

// Reports an event's state (0 or 1, named by states) unless it repeats the
// last one reported. A state that is read rather than reported as a change
// posts nothing at the start, nor before any state of the event is known;
// there a lock read from one source stands against an unlock read from the
// other.
static void ReportState(int* reported, int state, bool reading, const char* type,
                        const char* const states[2]) {
  if (state < 0 || state == *reported) return;
  if (reading && (s_startingUp || *reported < 0)) {
    if (state > *reported) *reported = state;
    return;
  }
  *reported = state;
  PostEvent(type, states[state]);
}

// Whether the D-Bus thread follows the power events' current opt-in period.
static bool PowerEventsOn() {
  return s_servedPowerPeriod != 0 && PowerPeriod() == s_servedPowerPeriod;
}

// Posts the power source and the battery level that UPower's properties give,
// each unless it repeats the last one posted in this opt-in period. UPower's
// display device stands for all batteries, or for the UPS where there is
// only that.
static void ReportPowerState() {
  if (!PowerEventsOn()) return;
  if (s_onBattery >= 0) {
    int source = s_onBattery == 0 ? 0 : s_displayDeviceType == kUpsDevice ? 2 : 1;
    if (source != s_powerSourceReported) {
      s_powerSourceReported = source;
      PostPowerEvent(s_servedPowerPeriod, "powersource", s_powerSourceStates[source], NULL, NULL);
    }
  }
  double percentage = s_displayDevicePercentage;
  if (s_displayDeviceType == kBatteryDevice && s_displayDevicePresent == 1 && percentage >= 0 &&
      percentage <= 100) {
    int level = static_cast<int>(percentage + 0.5);
    if (level != s_batteryReported) {
      s_batteryReported = level;
      char state[4];
      snprintf(state, sizeof(state), "%d", level);
      PostPowerEvent(s_servedPowerPeriod, "battery", state, NULL, NULL);
    }
  }
}

static void ApplySessionProperty(const char* name, DBusMessageIter* value, bool reading) {
  if (strcmp(name, "LockedHint") == 0) {
    ReportState(&s_lockReported, BooleanAt(value), reading, "session", s_lockStates);
  } else if (strcmp(name, "IdleHint") == 0) {
    ReportState(&s_idleReported, BooleanAt(value), reading, "user", s_userStates);
  }
}

// UPower's properties are kept as they come, and reported together after
// (ReportUpower): the power source depends on two objects' properties.
static void ApplyUpowerProperty(const char* name, DBusMessageIter* value, bool) {
  int* kept = strcmp(name, "OnBattery") == 0      ? &s_onBattery
              : strcmp(name, "LidIsPresent") == 0 ? &s_lidPresent
              : strcmp(name, "LidIsClosed") == 0  ? &s_lidClosed
                                                  : NULL;
  if (kept != NULL) *kept = BooleanAt(value);
}

static void ApplyDisplayDeviceProperty(const char* name, DBusMessageIter* value, bool) {
  int type = s_dbus.dbus_message_iter_get_arg_type(value);
  if (strcmp(name, "Type") == 0 && type == DBUS_TYPE_UINT32) {
    dbus_uint32_t deviceType;
    s_dbus.dbus_message_iter_get_basic(value, &deviceType);
    s_displayDeviceType = deviceType <= INT32_MAX ? static_cast<int>(deviceType) : -1;
  } else if (strcmp(name, "IsPresent") == 0) {
    s_displayDevicePresent = BooleanAt(value);
  } else if (strcmp(name, "Percentage") == 0 && type == DBUS_TYPE_DOUBLE) {
    s_dbus.dbus_message_iter_get_basic(value, &s_displayDevicePercentage);
  }
}

static void ReportUpower(bool reading) {
  if (s_lidPresent == 1) {
    ReportState(&s_lidReported, s_lidClosed, reading, "lidswitch", s_lidStates);
  }
  ReportPowerState();
}

// ---------------------------------------------------------------------------
// logind's delay locks: while the power events are on, sleep and shutdown
// wait for the client's callback, 3 s at the most.

static const char kLogindPath[] = "/org/freedesktop/login1";
static const char kLogindManager[] = "org.freedesktop.login1.Manager";

// An eventfd's write adds to its count, so no wake is lost and none blocks.
static void WakeDbusThread() {
  uint64_t one = 1;
  ssize_t written = s_wakeFd >= 0 ? write(s_wakeFd, &one, sizeof(one)) : 0;
  (void)written;
}

// Takes the lock unless it is held, or logind is away.
static void TakeDelayLock(DelayLock* lock) {
  if (lock->fd >= 0 || s_serviceOwners[kLogind][0] == '\0') return;
  const char* who = s_executableName;
  const char* mode = "delay";
  DBusMessage* reply = CallMethod(
      s_buses[kSystemBus].connection, kServiceReplyMilliseconds, s_serviceOwners[kLogind],
      kLogindPath, kLogindManager, "Inhibit", DBUS_TYPE_STRING, &lock->what, DBUS_TYPE_STRING, &who,
      DBUS_TYPE_STRING, &lock->why, DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID);
  if (reply == NULL) return;
  // libdbus hands out its own duplicate of the reply's descriptor, which
  // outlives the reply.
  DBusError error;
  s_dbus.dbus_error_init(&error);
  int fd = -1;
  if (s_dbus.dbus_message_get_args(reply, &error, DBUS_TYPE_UNIX_FD, &fd, DBUS_TYPE_INVALID)) {
    lock->fd = fd;
    lock->waiting = false;
  }
  s_dbus.dbus_error_free(&error);
  s_dbus.dbus_message_unref(reply);
}

static void ReleaseDelayLock(DelayLock* lock) {
  if (lock->fd >= 0) close(lock->fd);
  lock->fd = -1;
  lock->waiting = false;
}

// Told on the thread that delivers or drops a lock's event; the D-Bus thread,
// which alone touches the locks, releases it. The context holds the lock's
// index and its event's generation.
static void DelayLockEventDelivered(void* context) {
  uintptr_t value = reinterpret_cast<uintptr_t>(context);
  s_deliveredGenerations[value % kDelayLockCount] = static_cast<uint32_t>(value / kDelayLockCount);
  WakeDbusThread();
}

// Posts ("system", state), which the lock holds the system back for: the
// lock goes once the callback has returned from the event, or after 3 s.
// The D-Bus thread never waits for the callback itself, so the other sources
// keep posting meanwhile.
static void PostDelayedEvent(int index, const char* state) {
  if (!PowerEventsOn()) return;
  DelayLock* lock = &s_delayLocks[index];
  ++lock->generation;
  if (lock->fd >= 0) {
    lock->waiting = true;
    lock->deadline = MonotonicMilliseconds() + kDelayLockMilliseconds;
  }
  uintptr_t context = static_cast<uintptr_t>(lock->generation) * kDelayLockCount + index;
  PostPowerEvent(s_servedPowerPeriod, "system", state, DelayLockEventDelivered,
                 reinterpret_cast<void*>(context));
}

// The end of what a lock delayed (a wake, a shutdown called off): the lock is
// taken again for the next time.
static void RenewDelayLock(int index) {
  if (s_delayLocks[index].waiting) ReleaseDelayLock(&s_delayLocks[index]);
  if (PowerEventsOn()) TakeDelayLock(&s_delayLocks[index]);
}

// Releases the locks whose event has been delivered, or whose time is up.
static void ReleaseDueDelayLocks(int64_t now) {
  for (int i = 0; i < kDelayLockCount; ++i) {
    DelayLock* lock = &s_delayLocks[i];
    if (lock->waiting && (s_deliveredGenerations[i] == lock->generation || now >= lock->deadline)) {
      ReleaseDelayLock(lock);
    }
  }
}

// ---------------------------------------------------------------------------
// The services, on the D-Bus thread. Each is followed by its name's owner on
// its bus: one that starts later, or starts again, is read when it appears,
// and only the messages of the current owner count.

struct ServiceName {
  const char* name;
  Bus bus;
  const char* path;       // the screen savers' object, whose GetActive gives their state
  const char* interface;  // the screen savers' interface
};

static const ServiceName s_serviceNames[kServiceCount] = {
    {"org.freedesktop.login1", kSystemBus, NULL, NULL},
    {"org.freedesktop.UPower", kSystemBus, NULL, NULL},
    {"org.gnome.ScreenSaver", kSessionBus, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"},
    {"org.freedesktop.ScreenSaver", kSessionBus, "/org/freedesktop/ScreenSaver",
     "org.freedesktop.ScreenSaver"},
};

struct MatchRule {
  Bus bus;
  const char* rule;
};

// The signals that the D-Bus thread reads: the owners of the services'
// names, and each service's own.
static const MatchRule s_matchRules[] = {
    {kSystemBus, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                 "arg0='org.freedesktop.login1'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                 "arg0='org.freedesktop.UPower'"},
    {kSessionBus, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                  "arg0='org.gnome.ScreenSaver'"},
    {kSessionBus, "type='signal',sender='org.freedesktop.DBus',member='NameOwnerChanged',"
                  "arg0='org.freedesktop.ScreenSaver'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.login1',"
                 "interface='org.freedesktop.login1.Manager',member='PrepareForSleep'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.login1',"
                 "interface='org.freedesktop.login1.Manager',member='PrepareForShutdown'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.login1',"
                 "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                 "arg0='org.freedesktop.login1.Session'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.UPower',"
                 "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                 "path='/org/freedesktop/UPower'"},
    {kSystemBus, "type='signal',sender='org.freedesktop.UPower',"
                 "interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
                 "path='/org/freedesktop/UPower/devices/DisplayDevice'"},
    {kSessionBus, "type='signal',sender='org.gnome.ScreenSaver',"
                  "interface='org.gnome.ScreenSaver',member='ActiveChanged'"},
    {kSessionBus, "type='signal',sender='org.freedesktop.ScreenSaver',"
                  "interface='org.freedesktop.ScreenSaver',member='ActiveChanged'"},
};

static const char kUpowerPath[] = "/org/freedesktop/UPower";
static const char kDisplayDevicePath[] = "/org/freedesktop/UPower/devices/DisplayDevice";

// The connection that the service is on; null while its bus is away.
static DBusConnection* ServiceBus(Service service) {
  return s_buses[s_serviceNames[service].bus].connection;
}

// Reads every property of interface of the service's object at path.
static void ReadProperties(Service service, const char* path, const char* interface,
                           PropertyFunction apply) {
  DBusMessage* reply = CallMethod(ServiceBus(service), kServiceReplyMilliseconds,
                                  s_serviceOwners[service], path, DBUS_INTERFACE_PROPERTIES,
                                  "GetAll", DBUS_TYPE_STRING, &interface, DBUS_TYPE_INVALID);
  if (reply == NULL) return;
  DBusMessageIter iter;
  if (s_dbus.dbus_message_iter_init(reply, &iter)) ForEachProperty(&iter, apply, true);
  s_dbus.dbus_message_unref(reply);
}

// The user's display session, from the Display property, (so), of logind's
// user object; null when the user has none.
static char* UserDisplaySession() {
  dbus_uint32_t uid = getuid();
  char* user = TakeTextArgument(CallMethod(ServiceBus(kLogind), kServiceReplyMilliseconds,
                                           s_serviceOwners[kLogind], kLogindPath, kLogindManager,
                                           "GetUser", DBUS_TYPE_UINT32, &uid, DBUS_TYPE_INVALID));
  if (user == NULL) return NULL;
  const char* interface = "org.freedesktop.login1.User";
  const char* property = "Display";
  DBusMessage* reply =
      CallMethod(ServiceBus(kLogind), kServiceReplyMilliseconds, s_serviceOwners[kLogind], user,
                 DBUS_INTERFACE_PROPERTIES, "Get", DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING,
                 &property, DBUS_TYPE_INVALID);
  free(user);
  if (reply == NULL) return NULL;
  const char* path = NULL;
  DBusMessageIter variant, display;
  if (s_dbus.dbus_message_iter_init(reply, &variant) &&
      s_dbus.dbus_message_iter_get_arg_type(&variant) == DBUS_TYPE_VARIANT) {
    s_dbus.dbus_message_iter_recurse(&variant, &display);
    if (s_dbus.dbus_message_iter_get_arg_type(&display) == DBUS_TYPE_STRUCT) {
      DBusMessageIter member;
      s_dbus.dbus_message_iter_recurse(&display, &member);
      s_dbus.dbus_message_iter_next(&member);
      if (s_dbus.dbus_message_iter_get_arg_type(&member) == DBUS_TYPE_OBJECT_PATH) {
        s_dbus.dbus_message_iter_get_basic(&member, &path);
      }
    }
  }
  // "/" stands for none.
  char* session = path != NULL && strcmp(path, "/") != 0 ? strdup(path) : NULL;
  s_dbus.dbus_message_unref(reply);
  return session;
}

// This process's logind session, in a buffer the caller frees; null when none
// is found: its own, else $XDG_SESSION_ID's, else the user's display session.
// Real logind escapes ids in its object paths, so a path is only ever taken
// from its answers.
static char* FindSession() {
  dbus_uint32_t pid = getpid();
  DBusMessage* reply = CallMethod(ServiceBus(kLogind), kServiceReplyMilliseconds,
                                  s_serviceOwners[kLogind], kLogindPath, kLogindManager,
                                  "GetSessionByPID", DBUS_TYPE_UINT32, &pid, DBUS_TYPE_INVALID);
  if (reply == NULL && s_sessionIdVariable != NULL) {
    reply = CallMethod(ServiceBus(kLogind), kServiceReplyMilliseconds, s_serviceOwners[kLogind],
                       kLogindPath, kLogindManager, "GetSession", DBUS_TYPE_STRING,
                       &s_sessionIdVariable, DBUS_TYPE_INVALID);
  }
  return reply != NULL ? TakeTextArgument(reply) : UserDisplaySession();
}

static void ServiceAppeared(Service service) {
  switch (service) {
    case kLogind:
      s_sessionPath = FindSession();
      if (s_sessionPath != NULL) {
        ReadProperties(kLogind, s_sessionPath, "org.freedesktop.login1.Session",
                       ApplySessionProperty);
      }
      if (PowerEventsOn()) {
        for (DelayLock& lock : s_delayLocks) TakeDelayLock(&lock);
      }
      break;
    case kUpower:
      ReadProperties(kUpower, kUpowerPath, "org.freedesktop.UPower", ApplyUpowerProperty);
      ReadProperties(kUpower, kDisplayDevicePath, "org.freedesktop.UPower.Device",
                     ApplyDisplayDeviceProperty);
      ReportUpower(true);
      break;
    default: {
      const ServiceName& name = s_serviceNames[service];
      int active = TakeBooleanArgument(CallMethod(ServiceBus(service), kServiceReplyMilliseconds,
                                                  s_serviceOwners[service], name.path,
                                                  name.interface, "GetActive", DBUS_TYPE_INVALID));
      ReportState(&s_lockReported, active, true, "session", s_lockStates);
    }
  }
}

// A logind that goes away takes its locks with it.
static void ServiceVanished(Service service) {
  if (service != kLogind) return;
  free(s_sessionPath);
  s_sessionPath = NULL;
  for (DelayLock& lock : s_delayLocks) ReleaseDelayLock(&lock);
}

static void SetServiceOwner(Service service, const char* owner) {
  if (strcmp(s_serviceOwners[service], owner) == 0) return;
  if (s_serviceOwners[service][0] != '\0') ServiceVanished(service);
  snprintf(s_serviceOwners[service], sizeof(s_serviceOwners[service]), "%s", owner);
  if (owner[0] != '\0') ServiceAppeared(service);
}

// Applies the properties that a PropertiesChanged signal reports of interface
// at path; false for a signal of another object or interface.
static bool ApplyChangedProperties(DBusMessage* message, const char* path, const char* interface,
                                   PropertyFunction apply) {
  const char* messagePath = s_dbus.dbus_message_get_path(message);
  DBusMessageIter iter;
  const char* changedInterface;
  if (path == NULL || messagePath == NULL || strcmp(messagePath, path) != 0 ||
      !s_dbus.dbus_message_is_signal(message, DBUS_INTERFACE_PROPERTIES, "PropertiesChanged") ||
      !s_dbus.dbus_message_iter_init(message, &iter) ||
      s_dbus.dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRING) {
    return false;
  }
  s_dbus.dbus_message_iter_get_basic(&iter, &changedInterface);
  if (strcmp(changedInterface, interface) != 0) return false;
  s_dbus.dbus_message_iter_next(&iter);
  ForEachProperty(&iter, apply, false);
  return true;
}

// The message's first argument as a boolean, -1 when it is none.
static int BooleanArgument(DBusMessage* message) {
  DBusMessageIter iter;
  return s_dbus.dbus_message_iter_init(message, &iter) ? BooleanAt(&iter) : -1;
}

static void HandleServiceSignal(Service service, DBusMessage* message) {
  switch (service) {
    case kLogind:
      if (s_dbus.dbus_message_is_signal(message, kLogindManager, "PrepareForSleep")) {
        int starting = BooleanArgument(message);
        if (starting == 1) PostDelayedEvent(kSleepLock, "suspend");
        if (starting == 0 && PowerEventsOn()) {
          PostPowerEvent(s_servedPowerPeriod, "system", "resume", NULL, NULL);
        }
        if (starting == 0) RenewDelayLock(kSleepLock);
      } else if (s_dbus.dbus_message_is_signal(message, kLogindManager, "PrepareForShutdown")) {
        int starting = BooleanArgument(message);
        if (starting == 1) PostDelayedEvent(kShutdownLock, "shutdown");
        if (starting == 0) RenewDelayLock(kShutdownLock);
      } else {
        ApplyChangedProperties(message, s_sessionPath, "org.freedesktop.login1.Session",
                               ApplySessionProperty);
      }
      break;
    case kUpower:
      if (ApplyChangedProperties(message, kUpowerPath, "org.freedesktop.UPower",
                                 ApplyUpowerProperty) ||
          ApplyChangedProperties(message, kDisplayDevicePath, "org.freedesktop.UPower.Device",
                                 ApplyDisplayDeviceProperty)) {
        ReportUpower(false);
      }
      break;
    default:
      if (s_dbus.dbus_message_is_signal(message, s_serviceNames[service].interface,
                                        "ActiveChanged")) {
        ReportState(&s_lockReported, BooleanArgument(message), false, "session", s_lockStates);
      }
  }
}

// Signals only: the bus's own about the names' owners, and the services'
// from their current owners. A signal that anyone may send straight to this
// connection counts only from its service's owner.
static void HandleMessage(Bus bus, DBusMessage* message) {
  const char* sender = s_dbus.dbus_message_get_sender(message);
  if (sender == NULL) return;
  if (strcmp(sender, DBUS_SERVICE_DBUS) == 0) {
    const char* name;
    const char* oldOwner;
    const char* newOwner;
    DBusError error;
    s_dbus.dbus_error_init(&error);
    if (s_dbus.dbus_message_is_signal(message, DBUS_INTERFACE_DBUS, "NameOwnerChanged") &&
        s_dbus.dbus_message_get_args(message, &error, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING,
                                     &oldOwner, DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID)) {
      for (int i = 0; i < kServiceCount; ++i) {
        if (s_serviceNames[i].bus == bus && strcmp(s_serviceNames[i].name, name) == 0) {
          SetServiceOwner(static_cast<Service>(i), newOwner);
        }
      }
    }
    s_dbus.dbus_error_free(&error);
    return;
  }
  for (int i = 0; i < kServiceCount; ++i) {
    if (s_serviceNames[i].bus == bus && strcmp(s_serviceOwners[i], sender) == 0) {
      HandleServiceSignal(static_cast<Service>(i), message);
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// The D-Bus thread: started by the first watch, it runs for the process's
// life. A bus that is missing or goes away is tried again every second.

static void ConnectBus(Bus bus) {
  BusConnection* connection = &s_buses[bus];
  connection->connection = OpenBus(connection->address, kServiceReplyMilliseconds);
  if (connection->connection == NULL) {
    connection->retryAt = MonotonicMilliseconds() + kReconnectMilliseconds;
    return;
  }
  // The rules first: an owner that changes after the question below is seen.
  for (const MatchRule& rule : s_matchRules) {
    if (rule.bus == bus) s_dbus.dbus_bus_add_match(connection->connection, rule.rule, NULL);
  }
  for (int i = 0; i < kServiceCount; ++i) {
    if (s_serviceNames[i].bus != bus) continue;
    const char* name = s_serviceNames[i].name;
    char* owner = TakeTextArgument(CallMethod(
        connection->connection, kServiceReplyMilliseconds, DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
        DBUS_INTERFACE_DBUS, "GetNameOwner", DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID));
    SetServiceOwner(static_cast<Service>(i), owner != NULL ? owner : "");
    free(owner);
  }
}

static void DisconnectBus(Bus bus) {
  for (int i = 0; i < kServiceCount; ++i) {
    if (s_serviceNames[i].bus == bus) SetServiceOwner(static_cast<Service>(i), "");
  }
  CloseBus(s_buses[bus].connection);
  s_buses[bus].connection = NULL;
  s_buses[bus].retryAt = MonotonicMilliseconds() + kReconnectMilliseconds;
}

// Follows the bridge's opt-in period of the power events: a new one resets
// their repeats, posts the current power state and takes the delay locks; its
// end releases them. The state is taken and compared here, so that a change
// that arrives while the option turns on is never overwritten by an older
// reading.
static void FollowPowerPeriod() {
  uint32_t period = PowerPeriod();
  if (period == s_servedPowerPeriod) return;
  s_servedPowerPeriod = period;
  if (period == 0) {
    for (DelayLock& lock : s_delayLocks) ReleaseDelayLock(&lock);
    return;
  }
  s_powerSourceReported = -1;
  s_batteryReported = -1;
  ReportPowerState();
  for (DelayLock& lock : s_delayLocks) TakeDelayLock(&lock);
}

// Connects the buses that are due, handles what has arrived on each, and
// notices those that have gone away.
static void ServeBuses() {
  for (int i = 0; i < kBusCount; ++i) {
    Bus bus = static_cast<Bus>(i);
    if (s_buses[bus].connection == NULL && s_buses[bus].address != NULL &&
        MonotonicMilliseconds() >= s_buses[bus].retryAt) {
      ConnectBus(bus);
    }
    if (s_buses[bus].connection == NULL) continue;
    while (DBusMessage* message = NextMessage(s_buses[bus].connection)) {
      HandleMessage(bus, message);
      s_dbus.dbus_message_unref(message);
    }
    if (!s_dbus.dbus_connection_get_is_connected(s_buses[bus].connection)) DisconnectBus(bus);
  }
}

// Waits for a bus, a wake-up, or the next deadline of a lock or of a bus to
// connect again, and reads what has come on the buses.
static void WaitForWork(int64_t now) {
  int64_t wakeAt = INT64_MAX;
  pollfd fds[1 + kBusCount];
  Bus fdBuses[1 + kBusCount];
  nfds_t count = 1;
  fds[0].fd = s_wakeFd;
  fds[0].events = POLLIN;
  for (int i = 0; i < kBusCount; ++i) {
    Bus bus = static_cast<Bus>(i);
    DBusConnection* connection = s_buses[bus].connection;
    int fd;
    if (connection == NULL) {
      if (s_buses[bus].address != NULL && s_buses[bus].retryAt < wakeAt) {
        wakeAt = s_buses[bus].retryAt;
      }
    } else if (s_dbus.dbus_connection_get_dispatch_status(connection) ==
               DBUS_DISPATCH_DATA_REMAINS) {
      // Read by a call made since ServeBuses took the messages.
      wakeAt = now;
    } else if (s_dbus.dbus_connection_get_unix_fd(connection, &fd)) {
      fds[count].fd = fd;
      fds[count].events = POLLIN;
      fdBuses[count++] = bus;
    }
  }
  for (const DelayLock& lock : s_delayLocks) {
    if (lock.waiting && lock.deadline < wakeAt) wakeAt = lock.deadline;
  }
  int64_t timeout = wakeAt == INT64_MAX ? -1 : wakeAt > now ? wakeAt - now : 0;
  if (poll(fds, count, static_cast<int>(timeout)) <= 0) return;
  if (fds[0].revents != 0) {
    uint64_t wakes;
    ssize_t taken = read(s_wakeFd, &wakes, sizeof(wakes));
    (void)taken;
  }
  for (nfds_t i = 1; i < count; ++i) {
    if (fds[i].revents != 0) s_dbus.dbus_connection_read_write(s_buses[fdBuses[i]].connection, 0);
  }
}

static void* DbusThread(void*) {
  for (int bus = 0; bus < kBusCount; ++bus) {
    if (s_buses[bus].address != NULL) ConnectBus(static_cast<Bus>(bus));
  }
  s_startingUp = false;
  for (;;) {
    ServeBuses();
    FollowPowerPeriod();
    int64_t now = MonotonicMilliseconds();
    ReleaseDueDelayLocks(now);
    WaitForWork(now);
  }
  return NULL;
}

int StartDbusSources() {
  if (s_dbusThreadStarted) return 0;
  if (!LoadDbus()) {
    s_dbusThreadStarted = true;
    return 0;
  }
  if (s_wakeFd < 0) s_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (s_wakeFd < 0) return -3;
  free(s_buses[kSystemBus].address);
  s_buses[kSystemBus].address = SystemBusAddress();
  free(s_buses[kSessionBus].address);
  s_buses[kSessionBus].address = SessionBusAddress();
  free(s_sessionIdVariable);
  s_sessionIdVariable = Utf8Copy(getenv("XDG_SESSION_ID"));
  ExecutableFileName(s_executableName, sizeof(s_executableName));
  if (!s_dbus.dbus_validate_utf8(s_executableName, NULL)) s_executableName[0] = '\0';

  if (!StartSourceThread(DbusThread)) return -3;
  s_dbusThreadStarted = true;
  return 0;
}

// ---------------------------------------------------------------------------
// The power events' opt-in, told by the bridge on the script thread: the
// D-Bus thread follows it (FollowPowerPeriod).

void PowerEventsChanged() { WakeDbusThread(); }
