// The queue that carries events from the addon's own threads to the thread of
// node's event loop, where they are handed, in posting order, to a delivery
// function.
#ifndef VELMORA_ASYNC_H
#define VELMORA_ASYNC_H

#include <uv.h>

#include <atomic>
#include <stddef.h>

// One event: two NUL-terminated texts that live in the same heap block as the
// record, so that one allocation makes an event and one free ends it.
struct SysEvent {
  char* type;
  char* state;
  HANDLE delivered;  // set and closed once the event is delivered or dropped; mostly null
};

typedef void (*DeliverFunction)(void* userData, SysEvent* event);

struct AsyncQueue {
  uv_async_t handle;                 // first member; handle.data points to the queue
  HANDLE mutex;                      // guards pending and pendingCapacity, and writes of pendingCount
  SysEvent** pending;                // events posted and not yet taken, in posting order
  std::atomic<size_t> pendingCount;  // read without the mutex to keep the loop alive
  size_t pendingCapacity;
  uv_check_t keepAlive;              // references handle again while an event waits
  DeliverFunction deliver;           // called on the loop thread, once per event
  void* userData;                    // handed to deliver
};

// Makes a queue on the loop thread; null when memory or the mutex runs out.
AsyncQueue* AsyncQueueNew(uv_loop_t* loop, DeliverFunction deliver, void* userData);

// Copies (type, state) into a new event and queues it. Any thread. When memory
// runs out the event is dropped. The queue takes delivered (an event handle,
// or null) and signals it through SignalDelivered once deliver has returned
// for the event, or once the event is dropped: a posting thread can wait for
// the script to have seen it.
void AsyncQueuePost(AsyncQueue* queue, const char* type, const char* state, HANDLE delivered);

// Sets and closes delivered, unless it is null.
void SignalDelivered(HANDLE delivered);

// Frees the events still pending without delivering them and closes the queue;
// libuv frees it on a later turn of the loop. Loop thread only, and only once
// no thread can post to the queue any more.
void AsyncQueueClose(AsyncQueue* queue);

#endif
