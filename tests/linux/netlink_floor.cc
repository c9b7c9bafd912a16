// The native floor of scripts/bench.sh linux-network, not a test.
//   netlink_floor listen   blocks on a route netlink socket subscribed to
//                          what the addon's network source follows, and
//                          prints the CLOCK_MONOTONIC time (ns) at which each
//                          batch of notifications arrives, one a line
//   netlink_floor dump N   makes N link dumps and N address dumps, as the
//                          source makes one of each at every change, and
//                          prints the mean time of a pair (ns) and its bytes
#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

static long long Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

static int OpenRouteSocket(uint32_t groups) {
  int socketFd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  sockaddr_nl address = {};
  address.nl_family = AF_NETLINK;
  address.nl_groups = groups;
  if (socketFd < 0 || bind(socketFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    perror("netlink_floor: socket");
    exit(1);
  }
  return socketFd;
}

static int Listen() {
  int socketFd = OpenRouteSocket(RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR);
  char notification[256];
  for (;;) {
    if (recv(socketFd, notification, sizeof(notification), 0) < 0 && errno != ENOBUFS) return 1;
    printf("%lld\n", Now());
    fflush(stdout);
    while (recv(socketFd, notification, sizeof(notification), MSG_DONTWAIT) >= 0 ||
           errno == ENOBUFS) {
    }
  }
}

// One dump of type, read to its end: the bytes received.
static size_t Dump(int socketFd, uint16_t type) {
  struct {
    nlmsghdr header;
    ifinfomsg body;
  } request = {};
  request.header.nlmsg_len =
      NLMSG_LENGTH(type == RTM_GETLINK ? sizeof(ifinfomsg) : sizeof(ifaddrmsg));
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  if (send(socketFd, &request, request.header.nlmsg_len, 0) < 0) exit(1);
  static char buffer[32768];
  size_t total = 0;
  for (;;) {
    ssize_t received = recv(socketFd, buffer, sizeof(buffer), 0);
    if (received < 0) exit(1);
    total += received;
    int length = static_cast<int>(received);
    for (nlmsghdr* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      if (message->nlmsg_type == NLMSG_DONE || message->nlmsg_type == NLMSG_ERROR) return total;
    }
  }
}

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "listen") == 0) return Listen();
  if (argc != 3 || strcmp(argv[1], "dump") != 0) {
    fprintf(stderr, "usage: netlink_floor listen | dump N\n");
    return 2;
  }
  int socketFd = OpenRouteSocket(0);
  long count = atol(argv[2]);
  size_t bytes = 0;
  long long start = Now();
  for (long i = 0; i < count; ++i)
    bytes = Dump(socketFd, RTM_GETLINK) + Dump(socketFd, RTM_GETADDR);
  printf("%lld %zu\n", (Now() - start) / (count > 0 ? count : 1), bytes);
  return 0;
}
