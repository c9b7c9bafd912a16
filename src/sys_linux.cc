// The addon's Linux core: the work behind sys.h, in plain types.
#include "sys.h"
#include "sys_linux.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

int64_t UserIdleTime() {
  int64_t waylandIdle = WaylandIdleTime();
  return waylandIdle >= 0 ? waylandIdle : -1;
}

int32_t ToProcessId(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(value);
}

ProcessIdPair* ProcessesOfSameExeFile(int32_t, int* count) {
  *count = 0;
  return NULL;
}

int32_t FindChromeWindowHandle() {
  return 0;
}

char* resolveKnownDirectory(const char*) {
  return NULL;
}

uint16_t VirtualKeyState(uint16_t) {
  return 0;
}

void SendVirtualKey(uint16_t, bool) {}

void FinishKeyEvents() {}

// The main thread's id is the process's.
bool OnProcessMainThread() {
  return syscall(SYS_gettid) == getpid();
}

// Every import is bound at load (-z now): a host that lacks one fails the
// load itself.
const char* MissingHostImport() {
  return NULL;
}

void* HostEntryPoint(const char* name) {
  return dlsym(RTLD_DEFAULT, name);
}
