// dbus_signal_client: the native side of the D-Bus benchmark
// (scripts/bench-linux-dbus.js), on the session bus of DBUS_SESSION_BUS_ADDRESS,
// printing times of the monotonic clock in ns, one a line.
//
//   dbus_signal_client emit COUNT INTERVAL_MS
//     owns org.gnome.ScreenSaver and answers its GetActive (false); prints
//     "ready", and at a line on standard input sends COUNT ActiveChanged
//     signals, true and false in turn, INTERVAL_MS apart, printing the time
//     right before each
//   dbus_signal_client receive COUNT
//     prints "ready" once it listens, then the time at which each of COUNT
//     ActiveChanged signals arrives
#include <dbus/dbus.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static long long Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Answers the calls that have arrived: GetActive with false.
static void AnswerCalls(DBusConnection* bus) {
  dbus_connection_read_write(bus, 0);
  while (DBusMessage* message = dbus_connection_pop_message(bus)) {
    if (dbus_message_is_method_call(message, "org.gnome.ScreenSaver", "GetActive")) {
      DBusMessage* reply = dbus_message_new_method_return(message);
      dbus_bool_t active = FALSE;
      dbus_message_append_args(reply, DBUS_TYPE_BOOLEAN, &active, DBUS_TYPE_INVALID);
      dbus_connection_send(bus, reply, NULL);
      dbus_message_unref(reply);
    }
    dbus_message_unref(message);
  }
  dbus_connection_flush(bus);
}

// Answers calls for timeout ms (-1: until standard input has a line).
static void Serve(DBusConnection* bus, int timeout) {
  int fd;
  dbus_connection_get_unix_fd(bus, &fd);
  long long end = Now() + timeout * 1000000LL;
  for (;;) {
    long long left = timeout < 0 ? -1 : (end - Now()) / 1000000;
    if (timeout >= 0 && left <= 0) return;
    pollfd fds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
    poll(fds, timeout < 0 ? 2 : 1, static_cast<int>(left));
    AnswerCalls(bus);
    if (timeout < 0 && fds[1].revents != 0) return;
  }
}

static int Emit(DBusConnection* bus, int count, int interval) {
  DBusError error;
  dbus_error_init(&error);
  if (dbus_bus_request_name(bus, "org.gnome.ScreenSaver", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error) !=
      DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
    fprintf(stderr, "dbus_signal_client: org.gnome.ScreenSaver is taken\n");
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  Serve(bus, -1);
  for (int i = 0; i < count; ++i) {
    DBusMessage* signal =
        dbus_message_new_signal("/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged");
    dbus_bool_t active = i % 2 == 0;
    dbus_message_append_args(signal, DBUS_TYPE_BOOLEAN, &active, DBUS_TYPE_INVALID);
    long long sent = Now();
    dbus_connection_send(bus, signal, NULL);
    dbus_connection_flush(bus);
    dbus_message_unref(signal);
    printf("%lld\n", sent);
    fflush(stdout);
    Serve(bus, interval);
  }
  return 0;
}

static int Receive(DBusConnection* bus, int count) {
  DBusError error;
  dbus_error_init(&error);
  dbus_bus_add_match(bus, "type='signal',interface='org.gnome.ScreenSaver',member='ActiveChanged'",
                     &error);
  printf("ready\n");
  fflush(stdout);
  for (int received = 0; received < count && dbus_connection_read_write(bus, -1);) {
    while (DBusMessage* message = dbus_connection_pop_message(bus)) {
      if (dbus_message_is_signal(message, "org.gnome.ScreenSaver", "ActiveChanged")) {
        printf("%lld\n", Now());
        ++received;
      }
      dbus_message_unref(message);
    }
    fflush(stdout);
  }
  return 0;
}

int main(int argc, char** argv) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  if (bus == NULL) {
    fprintf(stderr, "dbus_signal_client: %s\n", error.message);
    return 1;
  }
  if (argc == 4 && strcmp(argv[1], "emit") == 0) return Emit(bus, atoi(argv[2]), atoi(argv[3]));
  if (argc == 3 && strcmp(argv[1], "receive") == 0) return Receive(bus, atoi(argv[2]));
  fprintf(stderr, "usage: dbus_signal_client emit COUNT INTERVAL_MS | receive COUNT\n");
  return 2;
}
