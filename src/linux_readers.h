// Readers of the texts that the Linux core takes from files, in plain types.
// Pure logic, with no system call, so that unit tests and fuzz targets can
// give them any bytes.
#ifndef VELMORA_LINUX_READERS_H
#define VELMORA_LINUX_READERS_H

#include <stddef.h>
#include <stdint.h>

// ---------------------------------------------------------------------------
// user-dirs.dirs

// The folder that the length bytes at text (one line of a user-dirs.dirs
// file, or the whole file) assign to XDG_<name>_DIR, with $HOME read as home,
// in a buffer the caller frees; null when no line assigns it an absolute path
// or the buffer cannot be made. The lines are read as the shell that sources
// the file would read them, within the shapes that such a file holds (see
// linux_readers.cc); a line of any other shape assigns nothing.
char* UserDirsValue(const char* text, size_t length, const char* name, const char* home);

// ---------------------------------------------------------------------------
// /proc/N/stat

// The parent's process id from the first length bytes of a /proc/N/stat
// file: its fourth field, the second after the last ')'. False when those
// bytes do not hold it whole.
bool ParentPidFromStat(const char* text, size_t length, uint32_t* ppid);

#endif
