#!/bin/sh
# bench.sh NAME [ARG...]
# Builds, then runs scripts/bench-NAME.js (events, keys, versions, veltools) in
# node.exe under a wine session of its own on out/ (not while the tests run
# there), and prints its figures; a NAME that starts with linux- (linux-keys)
# runs natively in Linux node, in a Linux session of its own. Every process,
# the wine server and the X server too, stays on one CPU: a server round trip
# costs several times more when the scheduler puts client and server on
# different CPUs, and the figures would not compare.
set -eu
cd "$(dirname "$0")/.."
name=$1
shift
cmake --build --preset default >/dev/null
taskset -p -c 0 $$ >/dev/null
case $name in
  linux-*)
    scripts/linux-session.sh start out
    trap 'scripts/linux-session.sh stop out' EXIT
    scripts/linux-node.sh out "scripts/bench-$name.js" "$@"
    exit
    ;;
esac
scripts/wine-session.sh start out
trap 'scripts/wine-session.sh stop out' EXIT
scripts/wine-node.sh out "scripts/bench-$name.js" "$@"
