// The addon's Windows work, in plain C++ types: UTF-8 texts in and out,
// numbers, a list of process pairs. Two bindings turn script values into
// these and back: main.cc for node's own V8 (Node 9), main_napi.cc for
// Node-API (every other runtime). Neither makes a Windows call of its own.
#ifndef VELMORA_SYS_WIN_H
#define VELMORA_SYS_WIN_H

#include "async.h"

#include <stdint.h>

// The milliseconds since the user's last input, 0 to 2^32 - 1 (the tick
// counter's range); -1 when the system cannot say.
int64_t UserIdleTime();

struct ProcessIdPair {
  uint32_t pid;
  uint32_t ppid;
};

// A script number as a process identifier: truncated toward zero; NaN, the
// infinities and values outside the signed 32-bit range give INT32_MIN,
// which names no process.
int32_t ToProcessId(double value);

// The processes whose executable has the same file name as process pid (0:
// this process), in snapshot order, in a buffer the caller frees; null, with
// *count 0, when there are none or the buffer cannot be made.
ProcessIdPair* ProcessesOfSameExeFile(int32_t pid, int* count);

// The client's render window as a signed 32-bit number (the handle's low 32
// bits); 0 when not found. Once found, kept for the process's life.
int32_t FindChromeWindowHandle();

// The path of the well-known folder called name, in UTF-8, in a buffer the
// caller frees; null when the name is unknown or the shell cannot resolve it.
char* resolveKnownDirectory(const char* name);

// The 16-bit state of the key called name (bit 15 while down, bit 0 while
// toggled); an unknown name asks about key code 0.
uint16_t KeyStateOf(const char* name);

// Presses and releases the chord keys ("Ctrl+Shift+A"): mode "down" presses
// only, "up" releases only, any other text does both.
void SimulateChord(const char* keys, const char* mode);

// Whether the calling thread is the process's first one, on which node and
// NW.js run their main environment; worker threads are never it.
bool OnProcessMainThread();

// ---------------------------------------------------------------------------
// Events. A watch owns the event queue, made on the loop of the environment
// that watches; the event sources (a hidden window's thread and a network
// poller) start with the first watch and post to whichever watch is active.

// Starts a watch whose events go to deliver on loop's thread, with the power
// events or without (WatchPowerEvents), and the event sources unless they
// run: 0, or -3 when a source's thread failed to start (a later watch tries
// that source again). Only while nothing is watched.
int StartWatch(uv_loop_t* loop, DeliverFunction deliver, bool powerEvents);

// Whether the active watch gets the power events that are opted into (sleep,
// the power source, the battery, the end of the session). Turning them on
// posts the current power source and battery level first.
void WatchPowerEvents(bool wanted);

// A number for the active watch, new at each StartWatch; 0 while nothing is
// watched. Script code that runs inside a binding's watch (an async_hooks
// init hook) may end or replace the watch; this tells.
uint32_t ActiveWatch();

// Ends the active watch: its pending events are freed undelivered. False when
// nothing was watched.
bool EndWatch();

#endif
