// The route netlink dump reader: which links and addresses make a machine
// online, the end of a dump, and buffers cut short or lying about lengths.
// Buffers are laid out as the kernel lays them out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "linux_readers.h"

namespace {

typedef std::vector<uint8_t> Bytes;
const unsigned kUsable = IFF_UP | IFF_RUNNING;

Bytes Raw(const void* data, size_t size) {
  return Bytes(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
}

Bytes U32(uint32_t value) { return Raw(&value, sizeof(value)); }

// An IPv4 or IPv6 address's bytes.
Bytes Ip(const char* text) {
  Bytes address(16);
  bool v6 = strchr(text, ':') != NULL;
  EXPECT_EQ(inet_pton(v6 ? AF_INET6 : AF_INET, text, address.data()), 1) << text;
  address.resize(v6 ? 16 : 4);
  return address;
}

// Appends a part padded to the netlink alignment.
void Put(Bytes* to, const Bytes& part) {
  to->insert(to->end(), part.begin(), part.end());
  to->resize(NLMSG_ALIGN(to->size()));
}

Bytes Attribute(uint16_t type, const Bytes& data) {
  rtattr header = {static_cast<unsigned short>(RTA_LENGTH(data.size())), type};
  Bytes attribute = Raw(&header, sizeof(header));
  attribute.insert(attribute.end(), data.begin(), data.end());
  return attribute;
}

// A buffer of messages.
struct Messages {
  Messages& Message(uint16_t type, const Bytes& payload) {
    nlmsghdr header = {static_cast<uint32_t>(NLMSG_LENGTH(payload.size())), type, NLM_F_MULTI, 0,
                       0};
    Put(&bytes, Raw(&header, sizeof(header)));
    Put(&bytes, payload);
    return *this;
  }
  Messages& Link(int index, unsigned flags) {
    ifinfomsg link = {AF_UNSPEC, 0, 0, index, flags, 0};
    Bytes payload = Raw(&link, sizeof(link));
    Put(&payload, Attribute(IFLA_IFNAME, {'v', '0', 0}));  // passed over
    return Message(RTM_NEWLINK, payload);
  }
  Messages& Address(uint8_t family, uint8_t flags, const std::vector<Bytes>& attributes) {
    ifaddrmsg address = {family, 24, flags, 0, 2};
    Bytes payload = Raw(&address, sizeof(address));
    for (const Bytes& attribute : attributes) Put(&payload, attribute);
    return Message(RTM_NEWADDR, payload);
  }
  // An address of interface 2 as the kernel reports one: IFA_ADDRESS, and
  // IFA_FLAGS repeating ifa_flags.
  Messages& Address(const char* text, uint8_t flags = 0) {
    uint8_t family = strchr(text, ':') != NULL ? AF_INET6 : AF_INET;
    return Address(family, flags,
                   {Attribute(IFA_ADDRESS, Ip(text)), Attribute(IFA_FLAGS, U32(flags))});
  }
  Messages& Done(int32_t result = 0) {
    return Message(NLMSG_DONE, U32(static_cast<uint32_t>(result)));
  }
  Bytes bytes;
};

// Reads buffers in order, each from a heap block of its exact size so that
// AddressSanitizer catches a read past it: the last buffer's progress, and
// whether the machine is online.
std::pair<NetlinkDumpProgress, bool> Read(const std::vector<Bytes>& buffers) {
  NetlinkState state = {};
  NetlinkDumpProgress progress = kNetlinkDumpGoesOn;
  for (const Bytes& buffer : buffers) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[buffer.size()]);
    std::copy(buffer.begin(), buffer.end(), block.get());
    progress = ReadNetlinkDump(block.get(), buffer.size(), &state);
  }
  bool online = NetlinkOnline(&state);
  NetlinkStateFree(&state);
  return {progress, online};
}

// Interface 2 up and running, then the given address dump.
bool Online(const Messages& addresses, unsigned linkFlags = kUsable) {
  return Read({Messages().Link(2, linkFlags).Done().bytes, addresses.bytes}).second;
}

TEST(NetlinkDump, WhichLinksAndAddressesCount) {
  Messages ipv4;
  ipv4.Address("10.0.0.1").Done();
  EXPECT_TRUE(Online(ipv4));
  EXPECT_TRUE(Online(ipv4, kUsable | IFF_BROADCAST | IFF_MULTICAST));
  EXPECT_FALSE(Online(ipv4, IFF_UP));  // no carrier
  EXPECT_FALSE(Online(ipv4, IFF_RUNNING));
  EXPECT_FALSE(Online(ipv4, kUsable | IFF_LOOPBACK));

  // IPv4 has no duplicate address detection: its tentative flag means nothing.
  struct {
    const char* address;
    uint8_t flags;
    bool counts;
  } cases[] = {{"169.254.0.1", 0, false}, {"169.254.255.255", 0, false},
               {"169.253.255.255", 0, true}, {"169.255.0.0", 0, true},
               {"10.0.0.1", IFA_F_TENTATIVE, true}, {"2001:db8::1", 0, true},
               {"2001:db8::1", IFA_F_TENTATIVE, false}, {"fe80::1", 0, false},
               {"febf:ffff::1", 0, false}, {"fec0::1", 0, true}, {"fe7f::1", 0, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(Online(Messages().Address(c.address, c.flags).Done()), c.counts) << c.address;
  }
}

TEST(NetlinkDump, TheLocalAddressAndTheFlagsAttributeWin) {
  auto online = [](uint8_t family, uint8_t flags, const std::vector<Bytes>& attributes) {
    return Online(Messages().Address(family, flags, attributes).Done());
  };
  auto local = [](const char* text) { return Attribute(IFA_LOCAL, Ip(text)); };
  auto peer = [](const char* text) { return Attribute(IFA_ADDRESS, Ip(text)); };
  auto flags = [](uint32_t value) { return Attribute(IFA_FLAGS, U32(value)); };
  // IFA_ADDRESS names the peer on a point-to-point link.
  EXPECT_TRUE(online(AF_INET, 0, {local("10.0.0.1"), peer("169.254.0.1")}));
  EXPECT_FALSE(online(AF_INET, 0, {peer("10.0.0.2"), local("169.254.0.1")}));
  EXPECT_FALSE(online(AF_INET6, 0, {peer("2001:db8::1"), flags(IFA_F_TENTATIVE)}));
  EXPECT_TRUE(online(AF_INET6, IFA_F_TENTATIVE, {peer("2001:db8::1"), flags(0)}));
  // The last of a repeated attribute wins; a flags attribute too short for
  // its value, and an odd-length attribute's padding, are passed over.
  EXPECT_FALSE(online(AF_INET, 0, {local("10.0.0.1"), local("169.254.0.1")}));
  EXPECT_FALSE(
      online(AF_INET6, IFA_F_TENTATIVE, {peer("2001:db8::1"), Attribute(IFA_FLAGS, {0, 0})}));
  EXPECT_TRUE(online(AF_INET, 0, {Attribute(IFA_LABEL, {'v', 0}), local("10.0.0.1")}));
  // No address, one too short for its family, another family.
  EXPECT_FALSE(online(AF_INET, 0, {flags(0)}));
  EXPECT_FALSE(online(AF_INET, 0, {Attribute(IFA_LOCAL, {10, 0, 0})}));
  EXPECT_FALSE(online(AF_INET6, 0, {peer("10.0.0.1")}));
  EXPECT_FALSE(online(AF_PACKET, 0, {peer("10.0.0.1")}));
}

TEST(NetlinkDump, TheAddressMustBeOnAUsableLinkInEitherDumpOrderAcrossBuffers) {
  // The usable links out of order: the kernel promises none.
  Messages linkDump;
  linkDump.Link(1, kUsable | IFF_LOOPBACK).Link(9, kUsable).Link(3, IFF_UP).Link(7, kUsable);
  Bytes links = linkDump.Link(2, kUsable).Done().bytes;
  Bytes other, usable;
  for (uint32_t index : {1, 3, 4}) {
    Messages address;
    address.Address("10.0.0.9");
    memcpy(&address.bytes[NLMSG_HDRLEN + offsetof(ifaddrmsg, ifa_index)], &index, sizeof(index));
    other.insert(other.end(), address.bytes.begin(), address.bytes.end());
  }
  usable = Messages().Address("fe80::2").Address("2001:db8::2").bytes;
  Bytes done = Messages().Done().bytes;
  EXPECT_FALSE(Read({links, other, done}).second);
  EXPECT_FALSE(Read({other, done, links}).second);
  EXPECT_TRUE(Read({links, other, usable, done}).second);
  EXPECT_TRUE(Read({usable, other, done, links}).second);
}

TEST(NetlinkDump, TheEndOfADump) {
  Bytes part = Messages().Link(2, kUsable).Address("10.0.0.1").bytes;
  EXPECT_EQ(Read({part}), std::make_pair(kNetlinkDumpGoesOn, true));
  EXPECT_EQ(Read({Messages().Done().bytes}).first, kNetlinkDumpEnded);
  EXPECT_EQ(Read({Messages().Message(NLMSG_DONE, {}).bytes}).first, kNetlinkDumpEnded);
  EXPECT_EQ(Read({Messages().Done(-EINTR).bytes}).first, kNetlinkDumpFailed);
  EXPECT_EQ(Read({Messages().Message(NLMSG_ERROR, U32(-EBUSY)).bytes}).first, kNetlinkDumpFailed);
  EXPECT_EQ(Read({Bytes()}).first, kNetlinkDumpGoesOn);
  // Nothing after the end is read; other kinds, a deletion too, are passed over.
  Messages after = Messages().Done();
  after.bytes.insert(after.bytes.end(), part.begin(), part.end());
  EXPECT_EQ(Read({after.bytes}), std::make_pair(kNetlinkDumpEnded, false));
  Messages others;
  others.Link(2, kUsable).Message(NLMSG_NOOP, {}).Message(RTM_DELLINK, Bytes(sizeof(ifinfomsg)));
  others.Message(RTM_NEWROUTE, Bytes(3)).Address("10.0.0.1").Done();
  EXPECT_EQ(Read({others.bytes}), std::make_pair(kNetlinkDumpEnded, true));
}

TEST(NetlinkDump, BuffersCutShortOrLyingAboutLengths) {
  // Every cut of a whole dump: nothing is read past it, and no cut gives the end.
  Bytes whole = Messages().Link(2, kUsable).Address("2001:db8::1").Done().bytes;
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_NE(Read({Bytes(whole.begin(), whole.begin() + cut)}).first, kNetlinkDumpEnded) << cut;
  }
  // At an odd address it reads alike.
  Bytes shifted(1, 0);
  shifted.insert(shifted.end(), whole.begin(), whole.end());
  NetlinkState state = {};
  EXPECT_EQ(ReadNetlinkDump(&shifted[1], whole.size(), &state), kNetlinkDumpEnded);
  EXPECT_TRUE(NetlinkOnline(&state));
  NetlinkStateFree(&state);
  // Message lengths below a header or past the buffer, and fixed parts cut short.
  for (uint32_t length :
       {0u, NLMSG_HDRLEN - 1u, static_cast<uint32_t>(whole.size() + 1), 0xffffffffu}) {
    Bytes lying = whole;
    memcpy(&lying[0], &length, sizeof(length));
    EXPECT_EQ(Read({lying}).first, kNetlinkDumpFailed) << length;
  }
  EXPECT_EQ(Read({Messages().Message(RTM_NEWLINK, Bytes(sizeof(ifinfomsg) - 1)).bytes}).first,
            kNetlinkDumpFailed);
  EXPECT_EQ(Read({Messages().Message(RTM_NEWADDR, Bytes(sizeof(ifaddrmsg) - 1)).bytes}).first,
            kNetlinkDumpFailed);
  // Fewer bytes than a header at the end are left alone.
  Bytes trailing = Messages().Link(2, kUsable).Address("10.0.0.1").bytes;
  trailing.resize(trailing.size() + NLMSG_HDRLEN - 4, 0xff);
  EXPECT_EQ(Read({trailing}), std::make_pair(kNetlinkDumpGoesOn, true));

  // An attribute's length spoiled in each way ends the attribute walk: the
  // flags attribute that says "tentative" is not read.
  size_t flagsAt = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifaddrmsg)) + RTA_SPACE(16);
  const uint16_t spoiled[] = {0, RTA_LENGTH(0) - 1, RTA_LENGTH(5), 0xffff};
  for (uint16_t length : spoiled) {
    Messages address = Messages().Address("2001:db8::1", IFA_F_TENTATIVE);
    address.bytes[NLMSG_HDRLEN + offsetof(ifaddrmsg, ifa_flags)] = 0;
    memcpy(&address.bytes[flagsAt], &length, sizeof(length));
    EXPECT_TRUE(Online(address.Done())) << length;
  }
  // A message that ends inside an attribute cuts it off, though its bytes follow.
  Messages cut = Messages().Address(AF_INET, 0, {Attribute(IFA_LOCAL, Ip("10.0.0.1"))});
  uint32_t length = NLMSG_LENGTH(sizeof(ifaddrmsg) + RTA_LENGTH(3));
  memcpy(&cut.bytes[0], &length, sizeof(length));
  EXPECT_FALSE(Online(cut));
}

}  // namespace
