#!/bin/sh
# Prints the cost per call, from script, of getKeyState("Shift"),
# getKnownDirectory("Desktop"), getUserIdleTime() and simulateKeys("F24"),
# next to the cost of the same Win32 calls made from native code in the same
# process (the floor), and their ratio. Builds first; runs a wine session of
# its own in build/ (not while the tests run there), pinned to one CPU, since
# a wine server round trip costs several times more when the scheduler puts
# the client and the server on different CPUs.
set -eu
cd "$(dirname "$0")/.."
cmake --build build >/dev/null
taskset -c 0 scripts/wine-session.sh start build
trap 'scripts/wine-session.sh stop build' EXIT
taskset -c 0 scripts/wine-node.sh build scripts/bench-keys.js
