// The event bridge's native half: the active watch, its queue between the
// addon's threads and node's event loop, and the power events' opt-in
// periods. Only libuv's primitives, so that every platform shares it.
//
// Keeping the loop alive: a queue holds the loop open until its first event
// has been delivered, and afterwards only while an event waits, so a watch
// that never gets an event (one after unwatch, whose sources report only
// changes) holds it open until unwatch, as fs.watch does. libuv's
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
#include "sys.h"

#include <atomic>
#include <new>
#include <stdlib.h>
#include <string.h>

struct AsyncQueue {
  uv_async_t handle;                 // first member; handle.data points to the queue
  uv_mutex_t mutex;                  // guards pending and pendingCapacity, and writes of pendingCount
  SysEvent** pending;                // events posted and not yet taken, in posting order
  std::atomic<size_t> pendingCount;  // read without the mutex to keep the loop alive
  size_t pendingCapacity;
  uv_check_t keepAlive;              // references handle again while an event waits
  DeliverFunction deliver;           // called on the loop thread, once per event
};

// Guards s_asyncQueue: a post holds it from its look at the pointer to its
// wake-up of the loop, EndWatch while it detaches the queue, so a queue is
// never closed under a posting thread. Made by the first watch or unwatch,
// before any source runs. A mutex, not libuv's rwlock: on Windows that is a
// semaphore, a system call each time it is taken.
static uv_mutex_t s_asyncQueueLock;
static uv_once_t s_asyncQueueLockMade = UV_ONCE_INIT;
// The queue of the active watch, or null while nothing is watched.
static AsyncQueue* s_asyncQueue;
// The number of the last watch started, and of the active one (0: none).
static uint32_t s_watchCount;
static uint32_t s_activeWatch;
// The number of the last opt-in period of the power events, and the current
// one (0 while they are off).
static uint32_t s_powerPeriodCount;
static std::atomic<uint32_t> s_powerPeriod;

// ---------------------------------------------------------------------------
// The queue

static SysEvent* SysEventNew(const char* type, const char* state, uint32_t powerPeriod,
                             DeliveredFunction delivered, void* deliveredContext) {
  size_t typeSize = strlen(type) + 1;
  size_t stateSize = strlen(state) + 1;
  SysEvent* event = static_cast<SysEvent*>(malloc(sizeof(SysEvent) + typeSize + stateSize));
  if (event == NULL) return NULL;
  event->type = reinterpret_cast<char*>(event + 1);
  event->state = event->type + typeSize;
  memcpy(event->type, type, typeSize);
  memcpy(event->state, state, stateSize);
  event->powerPeriod = powerPeriod;
  event->delivered = delivered;
  event->deliveredContext = deliveredContext;
  return event;
}

static void SysEventFree(SysEvent* event) {
  if (event->delivered != NULL) event->delivered(event->deliveredContext);
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

// A power event is delivered only in the opt-in period it was posted in:
// turning the option off, or off and on again, ends the period of the events
// still queued.
static bool StillWanted(const SysEvent* event) {
  return event->powerPeriod == 0 || event->powerPeriod == s_powerPeriod;
}

// The async callback: takes every pending event in one swap, so the mutex is
// never held while script code runs, then delivers them in order. A queue
// that is closing (a callback of this batch ended the watch, or the final
// drain) frees its events without delivering them.
static void DeliverPending(uv_async_t* handle) {
  AsyncQueue* queue = static_cast<AsyncQueue*>(handle->data);
  uv_mutex_lock(&queue->mutex);
  SysEvent** events = queue->pending;
  size_t count = queue->pendingCount;
  queue->pending = NULL;
  queue->pendingCount = 0;
  queue->pendingCapacity = 0;
  uv_mutex_unlock(&queue->mutex);

  uv_handle_t* base = reinterpret_cast<uv_handle_t*>(handle);
  for (size_t i = 0; i < count; ++i) {
    if (!uv_is_closing(base) && StillWanted(events[i])) queue->deliver(events[i]);
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
  uv_mutex_destroy(&queue->mutex);
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

// Makes a queue on the loop thread; null when memory or the mutex runs out.
static AsyncQueue* AsyncQueueNew(uv_loop_t* loop, DeliverFunction deliver) {
  void* memory = malloc(sizeof(AsyncQueue));
  if (memory == NULL) return NULL;
  AsyncQueue* queue = new (memory) AsyncQueue();
  if (uv_mutex_init(&queue->mutex) != 0) {
    queue->~AsyncQueue();
    free(queue);
    return NULL;
  }
  queue->deliver = deliver;
  uv_async_init(loop, &queue->handle, DeliverPending);
  queue->handle.data = queue;
  uv_check_init(loop, &queue->keepAlive);
  queue->keepAlive.data = queue;
  uv_check_start(&queue->keepAlive, KeepLoopAliveWhileEventsWait);
  uv_unref(reinterpret_cast<uv_handle_t*>(&queue->keepAlive));
  return queue;
}

// Queues the event, or frees it when the list cannot grow.
static void AsyncQueuePost(AsyncQueue* queue, SysEvent* event) {
  uv_mutex_lock(&queue->mutex);
  bool queued = AppendPending(queue, event);
  uv_mutex_unlock(&queue->mutex);
  if (!queued) {
    SysEventFree(event);
    return;
  }
  uv_async_send(&queue->handle);
}

// Frees the events still pending without delivering them and closes the
// queue; libuv frees it on a later turn of the loop. Loop thread only, and
// only once no thread can post to the queue any more.
static void AsyncQueueClose(AsyncQueue* queue) {
  uv_close(reinterpret_cast<uv_handle_t*>(&queue->handle), AsyncHandleClosed);
  DeliverPending(&queue->handle);
}

// ---------------------------------------------------------------------------
// The active watch

static void MakeAsyncQueueLock() {
  CHECK(uv_mutex_init(&s_asyncQueueLock) == 0);
}

static uv_mutex_t* AsyncQueueLock() {
  uv_once(&s_asyncQueueLockMade, MakeAsyncQueueLock);
  return &s_asyncQueueLock;
}

// Queues a new event for the active watch, or drops it.
static void Post(const char* type, const char* state, uint32_t powerPeriod,
                 DeliveredFunction delivered, void* deliveredContext) {
  uv_mutex_lock(AsyncQueueLock());
  SysEvent* event = s_asyncQueue != NULL
      ? SysEventNew(type, state, powerPeriod, delivered, deliveredContext)
      : NULL;
  if (event != NULL) {
    AsyncQueuePost(s_asyncQueue, event);
  } else if (delivered != NULL) {
    delivered(deliveredContext);
  }
  uv_mutex_unlock(AsyncQueueLock());
}

void PostEvent(const char* type, const char* state) {
  Post(type, state, 0, NULL, NULL);
}

uint32_t PowerPeriod() {
  return s_powerPeriod;
}

void PostPowerEvent(uint32_t period, const char* type, const char* state,
                    DeliveredFunction delivered, void* deliveredContext) {
  if (period != 0) {
    Post(type, state, period, delivered, deliveredContext);
  } else if (delivered != NULL) {
    delivered(deliveredContext);
  }
}

void WatchPowerEvents(bool wanted) {
  if ((s_powerPeriod != 0) == wanted) return;
  if (wanted) {
    if (++s_powerPeriodCount == 0) ++s_powerPeriodCount;
    s_powerPeriod = s_powerPeriodCount;
  } else {
    s_powerPeriod = 0;
  }
  PowerEventsChanged();
}

// The queue is published before the sources start and before the binding
// runs any script code, so that a watch from that code finds it; the current
// power state comes before the sources' first events.
static int StartWatch(uv_loop_t* loop, DeliverFunction deliver, bool powerEvents) {
  AsyncQueue* queue = AsyncQueueNew(loop, deliver);
  CHECK(queue != NULL);
  uv_mutex_lock(AsyncQueueLock());
  s_asyncQueue = queue;
  uv_mutex_unlock(AsyncQueueLock());
  if (++s_watchCount == 0) ++s_watchCount;
  s_activeWatch = s_watchCount;
  WatchPowerEvents(powerEvents);
  return StartEventSources();
}

int Watch(uv_loop_t* loop, DeliverFunction deliver, bool powerEvents,
          WatchContextFunction giveContext) {
  if (s_activeWatch != 0) {
    WatchPowerEvents(powerEvents);
    return 1;
  }
  if (loop == NULL) return -3;
  int status = StartWatch(loop, deliver, powerEvents);
  uint32_t watch = s_activeWatch;
  if (giveContext(watch)) return status;
  if (s_activeWatch == watch) EndWatch();
  return -3;
}

uint32_t ActiveWatch() {
  return s_activeWatch;
}

// Events still pending are freed without reaching any callback, also those of
// a batch whose callback ends the watch.
bool EndWatch() {
  WatchPowerEvents(false);
  uv_mutex_lock(AsyncQueueLock());
  AsyncQueue* queue = s_asyncQueue;
  s_asyncQueue = NULL;
  uv_mutex_unlock(AsyncQueueLock());
  s_activeWatch = 0;
  if (queue == NULL) return false;
  AsyncQueueClose(queue);
  return true;
}
