// Fatal assertions of the addon: they hold in release builds too.
#ifndef VELMORA_CHECK_H
#define VELMORA_CHECK_H

#include <stdio.h>
#include <stdlib.h>

// Reports "Assertion failed: EXPRESSION, file FILE, line LINE" on the standard
// error stream and aborts the process.
#define CHECK(expression) \
  ((expression) ? (void)0 : FatalAssertion(#expression, __FILE__, __LINE__))

inline void FatalAssertion(const char* expression, const char* file, int line) {
  fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  fflush(stderr);
  abort();
}

#endif
