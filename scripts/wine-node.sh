#!/bin/sh
# wine-node.sh BUILD_DIR SCRIPT [ARG...]
# Runs SCRIPT in the Windows node.exe of release NODE_RELEASE (9.11.2 unless
# set) and architecture NODE_ARCH (x64 unless set; x86 has one release, see
# CMakeLists.txt's napi_releases and napi_x86_release) inside the wine session of
# BUILD_DIR (wine-session.sh) and exits with node's exit code. VELMORA_BUILD
# gives the script the build directory as a Windows path.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
script=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
shift 2
. "$build/wine/session.env"
# node.exe cannot start under wine when its stdout is a pipe, so its output
# goes through a file.
out=$(mktemp)
rc=0
VELMORA_BUILD="Z:$build" timeout -k 5 240 \
  wine "$root/.cache/node-win-${NODE_ARCH:-x64}-${NODE_RELEASE:-9.11.2}/package/bin/node.exe" "Z:$script" "$@" >"$out" 2>&1 || rc=$?
cat "$out"
rm -f "$out"
[ $rc -ne 124 ] || echo "wine-node: $script timed out"
exit $rc
