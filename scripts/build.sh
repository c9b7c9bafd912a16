#!/bin/sh
# Sets up a fresh machine, builds the three Windows deliverables and the Linux
# addon into dist/ and shows them working: the Windows ones under wine, the
# Linux one natively on an Xvfb display.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
trap 'scripts/wine-session.sh stop out; scripts/linux-session.sh stop out' EXIT
scripts/wine-session.sh start out
scripts/wine-node.sh out scripts/demo.js
scripts/linux-session.sh start out
scripts/linux-node.sh out scripts/linux-demo.js
