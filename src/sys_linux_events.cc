// The Linux core's event sources.
#include "async.h"
#include "sys.h"

int StartEventSources() {
  return 0;
}

void PostCurrentPowerState() {}
