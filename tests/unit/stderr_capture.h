// Collects what the code under test writes to stderr. glibc's stderr is a
// plain variable, and both glibc's getopt and ours write through it, so
// pointing it at a memory stream catches both, without touching descriptor 2.
#ifndef VELMORA_TESTS_STDERR_CAPTURE_H
#define VELMORA_TESTS_STDERR_CAPTURE_H

#include <stdio.h>
#include <stdlib.h>

#include <string>

class StderrCapture {
 public:
  StderrCapture() : saved_(stderr), stream_(open_memstream(&buffer_, &size_)) { stderr = stream_; }
  ~StderrCapture() {
    stderr = saved_;
    fclose(stream_);
    free(buffer_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far, and a fresh start for what follows.
  std::string Take() {
    fflush(stream_);
    std::string text(buffer_, size_);
    rewind(stream_);
    fflush(stream_);
    return text;
  }

 private:
  FILE* saved_;
  char* buffer_ = nullptr;
  size_t size_ = 0;
  FILE* stream_;
};

#endif
