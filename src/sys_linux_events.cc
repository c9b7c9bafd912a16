// The Linux core's event sources: the network source, a thread of the
// addon's own that follows the kernel's route netlink notifications. Started
// by the first watch, it runs until the process ends.
//
// A notification is only a doorbell: the thread takes every one that waits,
// then reads the whole state afresh, from a link dump and an address dump on
// a second socket, and posts when the answer differs from the last one
// posted. A table kept up to date from the notifications themselves would
// spare the dumps, but it would have to follow every kind of message and
// every change that one implies (a deleted link takes its addresses along),
// and a notification socket that overflows (ENOBUFS) has lost messages that
// only a dump can make up for. A dump is needed at start and after an
// overflow anyway, so it serves every time: one code path, a burst of
// notifications costs one dump, and a dump of a desktop's few interfaces
// costs well under a millisecond (scripts/bench.sh linux-network).
#include "async.h"
#include "linux_readers.h"
#include "sys.h"
#include "sys_linux.h"

#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

// How long the network source waits before it makes its sockets again, after
// they could not be made or one of them failed.
static const unsigned kReopenDelaySeconds = 5;
// Holds any one datagram of a dump: the kernel fills them to 32 KiB at most
// unless one message is larger, which a link is only with the details of its
// virtual functions, and the request does not ask for those.
static const size_t kDumpBufferSize = 32768;

// Whether the network source's thread has been started; it is never stopped.
// The loop thread's only (StartEventSources).
static bool s_networkSourceStarted;
// The last "network" state posted: false at start, so that the first answer
// of an online machine posts "on" and an offline one posts nothing.
static bool s_networkOnline;
// The route netlink socket subscribed to link and address changes, and the
// one that dumps the state; each -1 while closed.
static int s_routeNotifications = -1;
static int s_routeDumps = -1;

// ---------------------------------------------------------------------------
// Route netlink sockets, the network source's thread's only

static int OpenRouteSocket(uint32_t groups) {
  int socketFd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (socketFd < 0) return -1;
  sockaddr_nl address;
  memset(&address, 0, sizeof(address));
  address.nl_family = AF_NETLINK;
  address.nl_groups = groups;
  if (bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close(socketFd);
    return -1;
  }
  return socketFd;
}

static void CloseRouteSockets() {
  if (s_routeNotifications >= 0) close(s_routeNotifications);
  if (s_routeDumps >= 0) close(s_routeDumps);
  s_routeNotifications = -1;
  s_routeDumps = -1;
}

// The subscription comes first, so that a change made while the first dump
// runs still rings.
static bool OpenRouteSockets() {
  s_routeNotifications = OpenRouteSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR);
  s_routeDumps = OpenRouteSocket(0);
  if (s_routeNotifications >= 0 && s_routeDumps >= 0) return true;
  CloseRouteSockets();
  return false;
}

// Blocks until a notification arrives, then takes every one that waits,
// unread: true once the state may have changed (an overflow, which lost some,
// counts), false when the socket failed.
static bool AwaitRouteChange() {
  uint8_t notification[256];
  int flags = 0;
  for (;;) {
    if (recv(s_routeNotifications, notification, sizeof(notification), flags) >= 0 ||
        errno == ENOBUFS) {
      flags = MSG_DONTWAIT;
    } else if (errno != EINTR) {
      return flags == MSG_DONTWAIT && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
  }
}

// Receives one datagram of the kernel's into buffer: any process may send to
// a netlink socket's port, so the others' are passed over. The size, or -1
// when the socket failed or the datagram did not fit.
static ssize_t ReceiveFromKernel(uint8_t* buffer) {
  for (;;) {
    sockaddr_nl sender;
    memset(&sender, 0, sizeof(sender));
    iovec part = {buffer, kDumpBufferSize};
    msghdr message;
    memset(&message, 0, sizeof(message));
    message.msg_name = &sender;
    message.msg_namelen = sizeof(sender);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    ssize_t received = recvmsg(s_routeDumps, &message, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received < 0 || (message.msg_flags & MSG_TRUNC) != 0) return -1;
    if (sender.nl_pid == 0) return received;
  }
}

// Dumps every family's links (RTM_GETLINK) or addresses (RTM_GETADDR) into
// state: false when the dump failed. A dump that a change interrupted
// (NLM_F_DUMP_INTR) may mix the states before and after it; the change's own
// notification brings another dump.
static bool DumpRoute(uint16_t type, uint8_t* buffer, NetlinkState* state) {
  struct {
    nlmsghdr header;
    union {
      ifinfomsg link;
      ifaddrmsg address;
    } body;
  } request;
  memset(&request, 0, sizeof(request));
  request.header.nlmsg_len =
      NLMSG_LENGTH(type == RTM_GETLINK ? sizeof(request.body.link) : sizeof(request.body.address));
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  sockaddr_nl kernel;
  memset(&kernel, 0, sizeof(kernel));
  kernel.nl_family = AF_NETLINK;
  while (sendto(s_routeDumps, &request, request.header.nlmsg_len, 0,
                reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel)) < 0) {
    if (errno != EINTR) return false;
  }
  for (;;) {
    ssize_t received = ReceiveFromKernel(buffer);
    if (received < 0) return false;
    NetlinkDumpProgress progress = ReadNetlinkDump(buffer, static_cast<size_t>(received), state);
    if (progress != kNetlinkDumpGoesOn) return progress == kNetlinkDumpEnded;
  }
}

// ---------------------------------------------------------------------------
// The network source

// Reads the state afresh and posts it when it differs from the last one
// posted: false when a dump failed, which leaves the last state standing.
static bool RefreshNetworkState(uint8_t* buffer) {
  NetlinkState state;
  memset(&state, 0, sizeof(state));
  bool read = DumpRoute(RTM_GETLINK, buffer, &state) && DumpRoute(RTM_GETADDR, buffer, &state);
  bool online = read && NetlinkOnline(&state);
  NetlinkStateFree(&state);
  if (!read) return false;
  if (online != s_networkOnline) {
    s_networkOnline = online;
    PostEvent("network", online ? "on" : "off");
  }
  return true;
}

// Sockets that cannot be made, or that fail, are made again after a pause,
// and the state read afresh; meanwhile the last state stands.
static void* NetworkSourceThread(void*) {
  uint8_t buffer[kDumpBufferSize];
  for (;;) {
    if (OpenRouteSockets()) {
      while (RefreshNetworkState(buffer) && AwaitRouteChange()) {
      }
      CloseRouteSockets();
    }
    sleep(kReopenDelaySeconds);
  }
}

// Starts the thread unless it runs: false when it cannot be created.
static bool StartNetworkSource() {
  if (!s_networkSourceStarted) s_networkSourceStarted = StartSourceThread(NetworkSourceThread);
  return s_networkSourceStarted;
}

// ---------------------------------------------------------------------------
// Starting the sources

// Signals stay with node's own threads: a source's thread blocks them all,
// from its first instruction on, as it inherits the mask it is created with.
bool StartSourceThread(void* (*routine)(void*)) {
  sigset_t allSignals, previous;
  sigfillset(&allSignals);
  pthread_sigmask(SIG_SETMASK, &allSignals, &previous);
  pthread_t thread;
  bool started = pthread_create(&thread, NULL, routine, NULL) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, NULL);
  if (started) pthread_detach(thread);
  return started;
}

// A source that fails to start makes the answer -3 and is tried again at the
// next start; the others start all the same.
int StartEventSources() {
  int result = 0;
  if (!StartNetworkSource()) result = -3;
  if (StartDbusSources() != 0) result = -3;
  return result;
}
