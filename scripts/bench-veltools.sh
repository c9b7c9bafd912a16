#!/bin/sh
# Times dist/veltools.exe against a 32-bit program that does nothing
# (bench-veltools.js), in a wine session of its own on build/.
set -eu
cd "$(dirname "$0")/.."
cmake --build --preset default >/dev/null
# A wine server round trip costs ~6 us or ~40 us depending on where the
# scheduler puts the two processes: keep every process, the server too, on
# one CPU so that the figures compare.
taskset -p -c 0 $$ >/dev/null
scripts/wine-session.sh start build
trap 'scripts/wine-session.sh stop build' EXIT
scripts/wine-node.sh build scripts/bench-veltools.js
