// The event queue between the addon's threads and node's event loop.
//
// Keeping the loop alive: a queue holds the loop open until its first event
// has been delivered, and afterwards only while an event waits. libuv's
// reference state may change on the loop thread only, so a posting thread
// cannot take a reference itself; it counts its event in pendingCount, and
// the loop thread looks at that count in two places: after each batch it
// delivers (unreference when nothing more waits), and in keepAlive, a check
// handle that runs after every poll for I/O, right before libuv decides
// whether the loop is still alive. An event posted up to that check therefore
// keeps the loop running until it is delivered. The race that remains: an
// event posted after the last check of a loop that has nothing else to do
// stays pending; it is delivered if the loop runs again (a 'beforeExit'
// handler that schedules work), and is otherwise lost with the process.
#include "async.h"
#include "check.h"

#include <new>
#include <stdlib.h>
#include <string.h>

void SignalDelivered(HANDLE delivered) {
  if (delivered == NULL) return;
  SetEvent(delivered);
  CloseHandle(delivered);
}

static SysEvent* SysEventNew(const char* type, const char* state, HANDLE delivered) {
  size_t typeSize = strlen(type) + 1;
  size_t stateSize = strlen(state) + 1;
  SysEvent* event = static_cast<SysEvent*>(malloc(sizeof(SysEvent) + typeSize + stateSize));
  if (event == NULL) return NULL;
  event->type = reinterpret_cast<char*>(event + 1);
  event->state = event->type + typeSize;
  memcpy(event->type, type, typeSize);
  memcpy(event->state, state, stateSize);
  event->delivered = delivered;
  return event;
}

static void SysEventFree(SysEvent* event) {
  SignalDelivered(event->delivered);
  free(event);
}

// Appends under the mutex; false when the list cannot grow.
static bool AppendPending(AsyncQueue* queue, SysEvent* event) {
  size_t count = queue->pendingCount;
  if (count == queue->pendingCapacity) {
    size_t capacity = count == 0 ? 16 : count * 2;
    void* grown = realloc(queue->pending, capacity * sizeof(SysEvent*));
    if (grown == NULL) return false;
    queue->pending = static_cast<SysEvent**>(grown);
    queue->pendingCapacity = capacity;
  }
  queue->pending[count] = event;
  queue->pendingCount = count + 1;
  return true;
}

// The async callback: takes every pending event in one swap, so the mutex is
// never held while script code runs, then delivers them in order. A queue
// that is closing (a callback of this batch ended the watch, or the final
// drain) frees its events without delivering them.
static void DeliverPending(uv_async_t* handle) {
  AsyncQueue* queue = static_cast<AsyncQueue*>(handle->data);
  WaitForSingleObject(queue->mutex, INFINITE);
  SysEvent** events = queue->pending;
  size_t count = queue->pendingCount;
  queue->pending = NULL;
  queue->pendingCount = 0;
  queue->pendingCapacity = 0;
  ReleaseMutex(queue->mutex);

  uv_handle_t* base = reinterpret_cast<uv_handle_t*>(handle);
  for (size_t i = 0; i < count; ++i) {
    if (!uv_is_closing(base)) queue->deliver(queue->userData, events[i]);
    SysEventFree(events[i]);
  }
  free(events);
  if (uv_is_closing(base)) return;
  if (queue->pendingCount == 0) {
    uv_unref(base);
  } else {
    uv_ref(base);
  }
}

static void KeepLoopAliveWhileEventsWait(uv_check_t* check) {
  AsyncQueue* queue = static_cast<AsyncQueue*>(check->data);
  if (queue->pendingCount != 0) uv_ref(reinterpret_cast<uv_handle_t*>(&queue->handle));
}

static void KeepAliveClosed(uv_handle_t* check) {
  AsyncQueue* queue = static_cast<AsyncQueue*>(check->data);
  CloseHandle(queue->mutex);
  queue->~AsyncQueue();
  free(queue);
}

// The async handle is closed first; the check handle, closed last, frees the
// queue. pending is empty by then: the final drain ran after every poster had
// let go of the queue.
static void AsyncHandleClosed(uv_handle_t* handle) {
  CHECK(handle != NULL);
  CHECK(handle->data != NULL);
  AsyncQueue* queue = static_cast<AsyncQueue*>(handle->data);
  uv_close(reinterpret_cast<uv_handle_t*>(&queue->keepAlive), KeepAliveClosed);
}

AsyncQueue* AsyncQueueNew(uv_loop_t* loop, DeliverFunction deliver, void* userData) {
  void* memory = malloc(sizeof(AsyncQueue));
  if (memory == NULL) return NULL;
  AsyncQueue* queue = new (memory) AsyncQueue();
  queue->mutex = CreateMutexA(NULL, FALSE, NULL);
  if (queue->mutex == NULL) {
    queue->~AsyncQueue();
    free(queue);
    return NULL;
  }
  queue->deliver = deliver;
  queue->userData = userData;
  uv_async_init(loop, &queue->handle, DeliverPending);
  queue->handle.data = queue;
  uv_check_init(loop, &queue->keepAlive);
  queue->keepAlive.data = queue;
  uv_check_start(&queue->keepAlive, KeepLoopAliveWhileEventsWait);
  uv_unref(reinterpret_cast<uv_handle_t*>(&queue->keepAlive));
  return queue;
}

void AsyncQueuePost(AsyncQueue* queue, const char* type, const char* state, HANDLE delivered) {
  SysEvent* event = SysEventNew(type, state, delivered);
  if (event == NULL) {
    SignalDelivered(delivered);
    return;
  }
  WaitForSingleObject(queue->mutex, INFINITE);
  bool queued = AppendPending(queue, event);
  ReleaseMutex(queue->mutex);
  if (!queued) {
    SysEventFree(event);
    return;
  }
  uv_async_send(&queue->handle);
}

void AsyncQueueClose(AsyncQueue* queue) {
  uv_close(reinterpret_cast<uv_handle_t*>(&queue->handle), AsyncHandleClosed);
  DeliverPending(&queue->handle);
}
