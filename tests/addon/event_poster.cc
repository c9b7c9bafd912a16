// event_poster: the addon's V8 binding and event sources (main.cc and
// sys_win.cc, included whole), plus what the tests need to post to its sink
// from threads of their own:
//
//   post(type, state)             PostEvent on the script thread
//   startPosters(count[, stamps]) two threads post ("t0" or "t1", "0".."count-1")
//                                 as fast as they can; with stamps, a
//                                 Float64Array of 2 * count, thread t first
//                                 writes uv_hrtime() to stamps[t * count + seq]
//   joinPosters()                 waits for them to end; events they posted
//   stopPosters()                 stops and joins them; events they posted
//   failAllocations(skip, n)      after skip more heap allocations of the
//                                 sources, the next n fail
//   failThreads(skip, n)          likewise for the sources' thread creation
//   windowThreadsStarted()        window threads that the sources have started
//   callRepeatedly(fn, n)         calls fn n times from native code as the bridge
//                                 does, without the bridge
//   heapBytesInUse()              bytes that the sources have allocated and not freed
//   privateBytes()                the process's private memory
// node.h first, as main.cc has it; libuv's headers want winsock2.h before
// windows.h.
#include <node.h>
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <atomic>
#include <malloc.h>
#include <stdio.h>

// Takes one from counter unless it is 0.
static bool TakeOne(std::atomic<int>* counter) {
  int left = *counter;
  while (left > 0) {
    if (counter->compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

static std::atomic<int> s_threadsBeforeFailing;
static std::atomic<int> s_failingThreads;
static int s_windowThreadsStarted;

static DWORD WINAPI EventWindowThread(LPVOID);

static HANDLE WINAPI CreateThreadOrFail(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                        DWORD flags, LPDWORD id) {
  if (!TakeOne(&s_threadsBeforeFailing) && TakeOne(&s_failingThreads)) return NULL;
  HANDLE thread = CreateThread(security, stackSize, start, parameter, flags, id);
  if (thread != NULL && start == EventWindowThread) ++s_windowThreadsStarted;
  return thread;
}

#define CreateThread CreateThreadOrFail
#include "../../src/sys_win.cc"
#undef CreateThread

// main.cc registers its module; this file registers event_poster instead.
#undef NODE_MODULE
#define NODE_MODULE(modname, regfunc)
#include "../../src/main.cc"

// ---------------------------------------------------------------------------
// The heap as the sources of this build see it: these stand in for the C
// runtime's allocation functions, count the bytes in use and fail on request.

static std::atomic<int> s_allocationsBeforeFailing;
static std::atomic<int> s_failingAllocations;
static std::atomic<long long> s_heapBytesInUse;
static std::atomic<void* (*)(size_t)> s_runtimeMalloc;
static std::atomic<void* (*)(size_t, size_t)> s_runtimeCalloc;
static std::atomic<void* (*)(void*, size_t)> s_runtimeRealloc;
static std::atomic<void (*)(void*)> s_runtimeFree;

// Resolved on first use: the C runtime's start-up allocates before this
// file's initialisers run. Threads that race here store the same value.
template <typename Function>
static Function RuntimeFunction(std::atomic<Function>* slot, const char* name) {
  Function function = *slot;
  if (function == NULL) {
    function = reinterpret_cast<Function>(GetProcAddress(GetModuleHandleA("msvcrt.dll"), name));
    *slot = function;
  }
  return function;
}

static bool FailThisAllocation() {
  return !TakeOne(&s_allocationsBeforeFailing) && TakeOne(&s_failingAllocations);
}

static long long BlockSize(void* block) {
  return block == NULL ? 0 : static_cast<long long>(_msize(block));
}

extern "C" void* malloc(size_t size) {
  if (FailThisAllocation()) return NULL;
  void* block = RuntimeFunction(&s_runtimeMalloc, "malloc")(size);
  s_heapBytesInUse += BlockSize(block);
  return block;
}

// The compiler turns a malloc whose block is then zeroed into calloc.
extern "C" void* calloc(size_t count, size_t size) {
  if (FailThisAllocation()) return NULL;
  void* block = RuntimeFunction(&s_runtimeCalloc, "calloc")(count, size);
  s_heapBytesInUse += BlockSize(block);
  return block;
}

extern "C" void* realloc(void* block, size_t size) {
  if (FailThisAllocation()) return NULL;
  long long before = BlockSize(block);
  void* grown = RuntimeFunction(&s_runtimeRealloc, "realloc")(block, size);
  if (grown != NULL || size == 0) s_heapBytesInUse += BlockSize(grown) - before;
  return grown;
}

extern "C" void free(void* block) {
  s_heapBytesInUse -= BlockSize(block);
  RuntimeFunction(&s_runtimeFree, "free")(block);
}

static void failAllocations(const v8::FunctionCallbackInfo<v8::Value>& args) {
  s_allocationsBeforeFailing = static_cast<int>(args[0]->NumberValue());
  s_failingAllocations = static_cast<int>(args[1]->NumberValue());
}

static void failThreads(const v8::FunctionCallbackInfo<v8::Value>& args) {
  s_threadsBeforeFailing = static_cast<int>(args[0]->NumberValue());
  s_failingThreads = static_cast<int>(args[1]->NumberValue());
}

static void windowThreadsStarted(const v8::FunctionCallbackInfo<v8::Value>& args) {
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), s_windowThreadsStarted));
}

static void heapBytesInUse(const v8::FunctionCallbackInfo<v8::Value>& args) {
  args.GetReturnValue().Set(
      v8::Number::New(args.GetIsolate(), static_cast<double>(s_heapBytesInUse)));
}

// ---------------------------------------------------------------------------
// Posting threads

struct Poster {
  HANDLE thread;
  const char* type;
  int count;
  double* stamps;  // null, or count slots
  int posted;
};

static Poster s_posters[2] = {{NULL, "t0", 0, NULL, 0}, {NULL, "t1", 0, NULL, 0}};
static std::atomic<bool> s_stopPosters;

static DWORD WINAPI PostEvents(LPVOID posterParam) {
  Poster* poster = static_cast<Poster*>(posterParam);
  char state[16];
  for (poster->posted = 0; poster->posted < poster->count && !s_stopPosters; ++poster->posted) {
    snprintf(state, sizeof(state), "%d", poster->posted);
    if (poster->stamps != NULL) poster->stamps[poster->posted] = static_cast<double>(uv_hrtime());
    PostEvent(poster->type, state);
  }
  return 0;
}

static void startPosters(const v8::FunctionCallbackInfo<v8::Value>& args) {
  int count = static_cast<int>(args[0]->NumberValue());
  double* stamps = NULL;
  if (args[1]->IsFloat64Array()) {
    v8::Local<v8::Float64Array> array = args[1].As<v8::Float64Array>();
    stamps = reinterpret_cast<double*>(static_cast<char*>(array->Buffer()->GetContents().Data()) +
                                       array->ByteOffset());
  }
  s_stopPosters = false;
  for (int t = 0; t < 2; ++t) {
    s_posters[t].count = count;
    s_posters[t].stamps = stamps == NULL ? NULL : stamps + t * count;
    s_posters[t].thread = CreateThread(NULL, 0, PostEvents, &s_posters[t], 0, NULL);
  }
}

static void joinPosters(const v8::FunctionCallbackInfo<v8::Value>& args) {
  int posted = 0;
  for (Poster& poster : s_posters) {
    WaitForSingleObject(poster.thread, INFINITE);
    CloseHandle(poster.thread);
    posted += poster.posted;
  }
  args.GetReturnValue().Set(v8::Number::New(args.GetIsolate(), posted));
}

static void stopPosters(const v8::FunctionCallbackInfo<v8::Value>& args) {
  s_stopPosters = true;
  joinPosters(args);
}

static void post(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::String::Utf8Value type(args[0]);
  v8::String::Utf8Value state(args[1]);
  PostEvent(*type, *state);
}

// ---------------------------------------------------------------------------
// Measures

static void callRepeatedly(const v8::FunctionCallbackInfo<v8::Value>& args) {
  v8::Isolate* isolate = args.GetIsolate();
  v8::Local<v8::Function> function = args[0].As<v8::Function>();
  int count = static_cast<int>(args[1]->NumberValue());
  char state[16];
  for (int i = 0; i < count; ++i) {
    v8::HandleScope scope(isolate);
    snprintf(state, sizeof(state), "%d", i);
    v8::Local<v8::Value> argv[2] = {v8::String::NewFromUtf8(isolate, "t0"),
                                    v8::String::NewFromUtf8(isolate, state)};
    (void)function->Call(isolate->GetCurrentContext(), v8::Null(isolate), 2, argv);
  }
}

// The commit charge: Windows reports it as both PrivateUsage and
// PagefileUsage; wine fills in only the latter.
static void privateBytes(const v8::FunctionCallbackInfo<v8::Value>& args) {
  PROCESS_MEMORY_COUNTERS counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  args.GetReturnValue().Set(
      v8::Number::New(args.GetIsolate(), static_cast<double>(counters.PagefileUsage)));
}

static void InitPoster(v8::Local<v8::Object> exports, v8::Local<v8::Value> module, void* priv) {
  InitModule(exports, module, priv);
  NODE_SET_METHOD(exports, "post", post);
  NODE_SET_METHOD(exports, "startPosters", startPosters);
  NODE_SET_METHOD(exports, "joinPosters", joinPosters);
  NODE_SET_METHOD(exports, "stopPosters", stopPosters);
  NODE_SET_METHOD(exports, "failAllocations", failAllocations);
  NODE_SET_METHOD(exports, "failThreads", failThreads);
  NODE_SET_METHOD(exports, "windowThreadsStarted", windowThreadsStarted);
  NODE_SET_METHOD(exports, "callRepeatedly", callRepeatedly);
  NODE_SET_METHOD(exports, "heapBytesInUse", heapBytesInUse);
  NODE_SET_METHOD(exports, "privateBytes", privateBytes);
}

NODE_MODULE_X(event_poster, InitPoster, NULL, 0)
