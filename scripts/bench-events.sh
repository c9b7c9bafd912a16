#!/bin/sh
# bench-events.sh [EVENTS_PER_THREAD]
# Prints, for a burst from two posting threads through the event bridge, the
# events delivered per second and the post-to-callback latency, next to the
# floor measured in the same run: as many calls of an empty script function
# from native code. Runs in a wine session of its own under build/ (do not
# run it while the tests run there).
set -eu
cd "$(dirname "$0")/.."
cmake --build --preset default >/dev/null
scripts/wine-session.sh start build
trap 'scripts/wine-session.sh stop build' EXIT
scripts/wine-node.sh build scripts/bench-events.js "${1:-50000}"
