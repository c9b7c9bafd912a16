// UseStartupStdHandles: makes the C runtime's standard output and standard
// error the handles this process was given. Shared by velmora_capture and
// veltools at build time; header-only, so each program keeps its own copy.
//
// A parent that passes the handles in STARTUPINFO (STARTF_USESTDHANDLES) may
// also pass the C runtime a table of its descriptors (lpReserved2). A 64-bit
// parent such as node.exe writes that table with 64-bit handle slots, which a
// 32-bit C runtime reads as 32-bit ones: descriptor 2 then gets the stdout
// handle, in binary mode, and wine's C runtime makes it the process's
// STD_ERROR_HANDLE too. The handles in STARTUPINFO itself are right.
#ifndef VELMORA_STD_HANDLES_H
#define VELMORA_STD_HANDLES_H

#include <windows.h>
#include <fcntl.h>
#include <io.h>

namespace velmora {

// Call before anything is written. The streams stay in text mode, and their
// buffering is still chosen at their first write, for the new handles.
inline void UseStartupStdHandles() {
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  if (!(startup.dwFlags & STARTF_USESTDHANDLES)) return;
  const HANDLE given[2] = {startup.hStdOutput, startup.hStdError};
  const DWORD stdHandle[2] = {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  // Copies first: descriptors 1 and 2 may hold these very handles (both
  // the same one, when misread), and closing them closes those. With no
  // handle created between the two closes, a handle held twice is closed
  // once, and the second close fails harmlessly.
  HANDLE own[2] = {NULL, NULL};
  for (int i = 0; i < 2; i++) {
    if (given[i] == NULL || given[i] == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), given[i], GetCurrentProcess(), &own[i], 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      own[i] = NULL;
    }
  }
  _close(1);
  _close(2);
  // A stream given no handle stays closed, and what is written to it is lost.
  for (int i = 0; i < 2; i++) {
    int fd = i + 1;
    if (own[i] != NULL) {
      int opened = _open_osfhandle(reinterpret_cast<intptr_t>(own[i]), _O_TEXT);
      if (opened == -1) {
        CloseHandle(own[i]);
      } else if (opened != fd) {  // descriptor 0 or 1 free too: move it where it belongs
        _dup2(opened, fd);
        _close(opened);
      }
    }
    SetStdHandle(stdHandle[i], reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
  }
}

}  // namespace velmora

#endif  // VELMORA_STD_HANDLES_H
