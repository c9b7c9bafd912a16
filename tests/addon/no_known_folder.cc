// The addon's Windows functions as a shell without SHGetKnownFolderPath
// (older than Vista) runs them: every lookup of that entry point fails, so
// getKnownDirectory is served by the special-folder table.
#include "../../src/sys_win.h"

#include <windows.h>
#include <string.h>

static FARPROC GetProcAddressWithoutKnownFolders(HMODULE module, LPCSTR name) {
  if (!IS_INTRESOURCE(name) && strcmp(name, "SHGetKnownFolderPath") == 0) return NULL;
  return GetProcAddress(module, name);
}

#define GetProcAddress GetProcAddressWithoutKnownFolders
#include "../../src/sys_win.cc"
