// The addon's Windows functions on a Shell32 that lacks the entry point
// MISSING_ENTRY_POINT, which each build of this file defines: every lookup
// of that name fails, whatever the system has.
// libuv's headers, through async.h, want winsock2.h before windows.h.
#include "../../src/async.h"

#include <windows.h>
#include <string.h>

static FARPROC GetProcAddressWithMissingEntryPoint(HMODULE module, LPCSTR name) {
  if (!IS_INTRESOURCE(name) && strcmp(name, MISSING_ENTRY_POINT) == 0) return NULL;
  return GetProcAddress(module, name);
}

#define GetProcAddress GetProcAddressWithMissingEntryPoint
#include "../../src/sys_win.cc"
