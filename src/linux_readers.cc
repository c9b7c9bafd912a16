// Readers of what the Linux kernel hands the core.
#include "linux_readers.h"

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>

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
