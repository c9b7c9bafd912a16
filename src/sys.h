// The addon's work on its platform, in plain C++ types: UTF-8 texts in and
// out, numbers, a list of process pairs. One core per platform implements
// it: sys_win.cc (with host_imports.cc) on Windows, sys_linux.cc (with
// sys_linux_events.cc and sys_linux_dbus.cc) on Linux; keys.cc and async.cc
// serve both. The bindings turn script values into these and back (main.cc
// for node 9's own V8, main_napi.cc for Node-API), and neither makes a system
// call of its own.
#ifndef VELMORA_SYS_H
#define VELMORA_SYS_H

#include <stdint.h>

// The milliseconds since the user's last input, 0 to 2^32 - 1; -1 when the
// system cannot say.
int64_t UserIdleTime();

struct ProcessIdPair {
  uint32_t pid;
  uint32_t ppid;
};

// A script number as a process identifier: truncated toward zero; NaN, the
// infinities and values outside the signed 32-bit range give INT32_MIN,
// which names no process.
inline int32_t ToProcessId(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The processes whose executable has the same file name as process pid (0:
// this process), in a buffer the caller frees; null, with *count 0, when
// there are none or the buffer cannot be made.
ProcessIdPair* ProcessesOfSameExeFile(int32_t pid, int* count);

// The client's browser window as a signed 32-bit number; 0 when not found.
// Once found, kept for the process's life.
int32_t FindChromeWindowHandle();

// The path of the well-known folder called name, in UTF-8, in a buffer the
// caller frees; null when the name is unknown or the folder cannot be told.
char* resolveKnownDirectory(const char* name);

// The 16-bit state of the key called name (bit 15 while down, bit 0 while
// toggled); an unknown name asks about key code 0. In keys.cc.
uint16_t KeyStateOf(const char* name);

// Presses and releases the chord's keys ("Ctrl+Shift+A"): mode "down"
// presses only, "up" releases only, any other text does both. In keys.cc.
void SendKeyChord(const char* keys, const char* mode);

// Whether the calling thread is the process's first one, on which node and
// NW.js run their main environment; worker threads are never it.
bool OnProcessMainThread();

// The first entry point that the addon imports and the host does not
// export; null when it exports them all.
const char* MissingHostImport();

// The host's entry point of that name; null when the host has none.
void* HostEntryPoint(const char* name);

// ---------------------------------------------------------------------------
// For the keyboard (keys.cc), whose keys are Windows virtual-key codes

// The key's 16-bit state, as GetKeyState gives it.
uint16_t VirtualKeyState(uint16_t code);

// Sends one press or release of the key.
void SendVirtualKey(uint16_t code, bool press);

// Returns once the events sent so far have reached the system.
void FinishKeyEvents();

// Shows text on the application's launcher entry as a count, when it is one
// (decimal digits alone, of value 1 to 2^63 - 1), and clears it otherwise.
void SetBadge(const char* text);

// ---------------------------------------------------------------------------
// For the event bridge (async.cc)

// Starts the event sources unless they run: 0, or -3 when a source's thread
// failed to start (the next call tries that source again).
int StartEventSources();

// Called on the script thread each time the power events are turned on or
// off (PowerPeriod tells which). Turned on, the core posts the current power
// source and battery level as the first power events of the new opt-in
// period; turned off, it lets go of what it holds for them.
void PowerEventsChanged();

#endif
