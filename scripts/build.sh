#!/bin/sh
# Sets up a fresh machine, builds the three deliverables into dist/ and shows
# them working under wine.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
scripts/wine-session.sh start out
trap 'scripts/wine-session.sh stop out' EXIT
scripts/wine-node.sh out scripts/demo.js
