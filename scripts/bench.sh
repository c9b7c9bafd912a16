#!/bin/sh
# bench.sh NAME [ARG...]
# Builds, then runs scripts/bench-NAME.js and prints its figures, each beside
# its floor measured in the same run: events, keys, versions and veltools in
# node.exe under a wine session of its own on out/ (not while the tests run
# there); linux-keys, linux-dbus and linux-network in Linux node, natively,
# in a Linux session and a network namespace of their own. The wine and X
# ones stay on one CPU: a server round trip costs several times more when the
# scheduler puts client and server on different CPUs, and the figures would
# not compare. The bus and network ones use every CPU, as a desktop's bus and
# its clients do.
set -eu
cd "$(dirname "$0")/.."
name=$1
shift
cmake --build --preset default >/dev/null
case $name in
  linux-dbus | linux-network) ;;
  *) taskset -p -c 0 $$ >/dev/null ;;
esac
case $name in
  linux-*)
    scripts/linux-session.sh start out
    trap 'scripts/linux-session.sh stop out' EXIT
    unshare -n scripts/linux-node.sh out "scripts/bench-$name.js" "$@"
    exit
    ;;
esac
scripts/wine-session.sh start out
trap 'scripts/wine-session.sh stop out' EXIT
scripts/wine-node.sh out "scripts/bench-$name.js" "$@"
