// Readers of what the Linux core takes from files and from the kernel, pure
// logic with no system call: the core uses them, and the host's unit tests
// and fuzz targets give them any bytes. Each takes the bytes as they came and
// trusts none of their lengths.
#ifndef VELMORA_LINUX_READERS_H
#define VELMORA_LINUX_READERS_H

#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------
// user-dirs.dirs

// The folder that the length bytes at text (one line of a user-dirs.dirs
// file, or the whole file) assign to XDG_<name>_DIR, with $HOME read as home,
// in a buffer the caller frees; null when no line assigns it an absolute path
// or the buffer cannot be made. The lines are read as the shell that sources
// the file would read them, within the shapes that such a file holds (see
// linux_readers.cc); a line of any other shape assigns nothing.
char* UserDirsValue(const char* text, size_t length, const char* name, const char* home);

// ---------------------------------------------------------------------------
// /proc/N/stat

// The parent's process id from the first length bytes of a /proc/N/stat
// file: its fourth field, the second after the last ')'. False when those
// bytes do not hold it whole.
bool ParentPidFromStat(const char* text, size_t length, uint32_t* ppid);

// ---------------------------------------------------------------------------
// Route netlink dumps

// Connectivity as a link dump (RTM_GETLINK) and an address dump
// (RTM_GETADDR) tell it, read in either order. Zero-initialise it, read
// every buffer of both dumps into it, ask NetlinkOnline, then free it.
struct NetlinkState {
  uint32_t* usableLinks;  // interface indexes of the links up and running, other than loopback
  size_t usableLinkCount;
  size_t usableLinkCapacity;
  uint32_t* addressedLinks;  // interface indexes that hold an address that counts for connectivity
  size_t addressedLinkCount;
  size_t addressedLinkCapacity;
};

enum NetlinkDumpProgress {
  kNetlinkDumpGoesOn,  // the buffer was read whole; more follow
  kNetlinkDumpEnded,   // NLMSG_DONE
  kNetlinkDumpFailed,  // an error reply, a message that does not fit, or memory ran out
};

// Reads one received buffer of a dump's replies into state, up to its end
// message. RTM_NEWLINK and RTM_NEWADDR messages count; every other kind is
// passed over. An address counts when it is IPv4 outside 169.254/16, or IPv6
// outside fe80::/10 and not tentative: IFA_LOCAL when present, else
// IFA_ADDRESS (which names the peer on a point-to-point link), with IFA_FLAGS
// over ifa_flags when present.
NetlinkDumpProgress ReadNetlinkDump(const uint8_t* buffer, size_t size, NetlinkState* state);

// Whether some interface is both a usable link and holds an address that
// counts. Sorts the state's links.
bool NetlinkOnline(NetlinkState* state);

// Frees the state's lists and empties it.
void NetlinkStateFree(NetlinkState* state);

#endif
