// The event bridge's native half, the same on every platform: the active
// watch, the queue that carries its events from the addon's own threads to
// the thread of node's event loop, and the power events that it opts into.
// The bindings start and end watches; each platform's event sources post.
#ifndef VELMORA_ASYNC_H
#define VELMORA_ASYNC_H

#include <uv.h>

#include <stdint.h>

// Called once an event has been delivered or dropped, with its context: a
// posting thread can wait for the script to have seen the event.
typedef void (*DeliveredFunction)(void* context);

// One event: two NUL-terminated texts that live in the same heap block as the
// record, so that one allocation makes an event and one free ends it.
struct SysEvent {
  char* type;
  char* state;
  uint32_t powerPeriod;         // the opt-in period of a power event (below); 0 for the others
  DeliveredFunction delivered;  // mostly null
  void* deliveredContext;
};

// Hands one event to the script, on the loop's thread.
typedef void (*DeliverFunction)(SysEvent* event);

// ---------------------------------------------------------------------------
// For the bindings

// Makes a binding's async_hooks context for the watch numbered watch (see
// ActiveWatch), and keeps it only while that watch is still the active one;
// false when the context cannot be made. Making it runs the init hooks of
// async_hooks, whose script code may watch (replacing the callback) or
// unwatch (ending the watch being made).
typedef bool (*WatchContextFunction)(uint32_t watch);

// A binding's watch: 1 while a watch is active (its power option replaced).
// Otherwise starts one whose events go to deliver on loop's thread, with the
// power events or without (WatchPowerEvents), and the event sources unless
// they run, then gives it its context: 0, or -3 when a source's thread failed
// to start (the watch stands; a later one tries that source again), or -3
// with nothing watched when loop is null or the context cannot be made.
int Watch(uv_loop_t* loop, DeliverFunction deliver, bool powerEvents,
          WatchContextFunction giveContext);

// Whether the active watch gets the power events that are opted into (sleep,
// the power source, the battery, the end of the session). Turning them on
// starts a new opt-in period, which posts the current power state first;
// turning them off drops those still queued.
void WatchPowerEvents(bool wanted);

// A number for the active watch, new at each watch started; 0 while nothing is
// watched. Script code that runs inside a binding's watch (an async_hooks
// init hook) may end or replace the watch; this tells.
uint32_t ActiveWatch();

// Ends the active watch: its pending events are freed undelivered. False when
// nothing was watched.
bool EndWatch();

// ---------------------------------------------------------------------------
// For the event sources, on any thread

// Queues (type, state) for the active watch; dropped while nothing is
// watched, or when memory runs out.
void PostEvent(const char* type, const char* state);

// The opt-in period of the power events: new each time they are turned on, 0
// while they are off.
uint32_t PowerPeriod();

// Queues a power event of the given opt-in period, told to delivered (null
// for none) once it has been delivered or dropped. Dropped at once for period
// 0, and at delivery once its period is over.
void PostPowerEvent(uint32_t period, const char* type, const char* state,
                    DeliveredFunction delivered, void* deliveredContext);

#endif
