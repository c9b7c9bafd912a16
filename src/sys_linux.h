// What the Linux core's files give each other: sys_linux.cc (the functions),
// sys_linux_events.cc (the event sources) and sys_linux_dbus.cc (all that
// goes over D-Bus).
#ifndef VELMORA_SYS_LINUX_H
#define VELMORA_SYS_LINUX_H

#include <stddef.h>
#include <stdint.h>

// The file name of process pid's executable, at *name inside buffer, which
// holds the link; false when the link cannot be read (a kernel thread,
// another user's process, one that has ended). An executable removed since
// it started (an upgrade that replaced it) is named without the kernel's
// " (deleted)". In sys_linux.cc.
bool ExecutableName(uint32_t pid, char* buffer, size_t size, const char** name);

// first, second and third joined, in a buffer the caller frees; null when
// memory runs out. In sys_linux.cc.
char* JoinTexts(const char* first, const char* second, const char* third);

// Starts a source's thread, detached, with every signal blocked: false when
// it cannot be created. In sys_linux_events.cc.
bool StartSourceThread(void* (*routine)(void*));

// Starts the D-Bus event sources' thread unless it runs: 0, also when
// libdbus-1 is missing (their events never come), or -3 when the thread
// failed to start (the next call tries again). Script thread only.
int StartDbusSources();

// The idle time that GNOME's compositor gives on a Wayland session, where
// XWayland sees only X clients' input; -1 elsewhere, or when it cannot be
// had within 200 ms. Script thread only.
int64_t WaylandIdleTime();

#endif
