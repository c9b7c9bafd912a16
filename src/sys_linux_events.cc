// The Linux core's event sources.
#include "async.h"
#include "sys.h"
#include "sys_linux.h"

int StartEventSources() {
  return StartDbusSources();
}
