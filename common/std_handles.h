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
#include <stdint.h>

namespace velmora {

// NULL, INVALID_HANDLE_VALUE and the -2 that a C runtime keeps under a
// descriptor that has no handle: none names anything this process may close.
inline bool IsHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle) > 0; }

// Call before anything is written. The streams stay in text mode, and their
// buffering is still chosen at their first write, for the new handles.
//
// Closing a descriptor closes its handle. Every C runtime here (msvcrt.dll,
// the Universal C Runtime, wine's) spares one case: of descriptors 1 and 2
// holding the same handle, the one closed first leaves it to the other.
// Nothing spares a handle that descriptor 0 holds too, so a descriptor whose
// handle stdin holds is left as it is, writing there, whatever handle was
// given for it. And no handle is closed twice: a second close would not fail
// harmlessly, but close whatever handle took the value in between.
inline void UseStartupStdHandles() {
  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  if (!(startup.dwFlags & STARTF_USESTDHANDLES)) return;
  // The C runtime opens descriptors 0 to 2 at start-up, with a handle or
  // without, so asking for theirs cannot meet a closed one.
  HANDLE held[3];
  for (int fd = 0; fd < 3; fd++) held[fd] = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  const HANDLE given[3] = {startup.hStdInput, startup.hStdOutput, startup.hStdError};
  const DWORD stdHandle[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

  // All decided, and copies taken, before a descriptor is closed: closing
  // one may close a handle given for the other.
  bool reopen[3] = {false, false, false};
  HANDLE use[3] = {NULL, NULL, NULL};
  bool copied[3] = {false, false, false};
  for (int fd = 1; fd < 3; fd++) {
    if (IsHandle(given[fd]) && held[fd] == given[fd]) continue;  // right already
    if (IsHandle(held[fd]) && (held[fd] == held[0] || held[fd] == given[0])) continue;  // stdin's
    reopen[fd] = true;
    if (!IsHandle(given[fd])) continue;  // a stream given no handle is closed
    // A handle that a descriptor or stdin holds is copied, as it may be
    // closed with that descriptor, or must stay stdin's alone.
    bool shared =
        given[fd] == held[0] || given[fd] == held[1] || given[fd] == held[2] || given[fd] == given[0];
    if (!shared) {
      use[fd] = given[fd];
    } else if (DuplicateHandle(GetCurrentProcess(), given[fd], GetCurrentProcess(), &use[fd], 0, FALSE,
                               DUPLICATE_SAME_ACCESS)) {
      copied[fd] = true;
    } else {
      use[fd] = NULL;
    }
  }

  // Kept track of, since asking a closed descriptor for its handle calls the
  // Universal C Runtime's invalid-parameter handler, which ends the process.
  bool open[3] = {true, true, true};
  for (int fd = 1; fd < 3; fd++) {
    if (!reopen[fd]) {
      _setmode(fd, _O_TEXT);
      continue;
    }
    _close(fd);
    open[fd] = false;
    if (use[fd] == NULL) continue;
    int opened = _open_osfhandle(reinterpret_cast<intptr_t>(use[fd]), _O_TEXT);
    if (opened == -1) {
      if (copied[fd]) CloseHandle(use[fd]);  // a handle as given stays as it was
    } else if (opened == fd) {
      open[fd] = true;
    } else {  // descriptor 1 free too: move it where it belongs
      open[fd] = _dup2(opened, fd) == 0;
      _close(opened);
    }
  }
  // A stream given no handle stays closed, and what is written to it is
  // lost; the process then has no such standard handle either.
  for (int fd = 1; fd < 3; fd++) {
    SetStdHandle(stdHandle[fd], open[fd] ? reinterpret_cast<HANDLE>(_get_osfhandle(fd)) : NULL);
  }
}

}  // namespace velmora

#endif  // VELMORA_STD_HANDLES_H
