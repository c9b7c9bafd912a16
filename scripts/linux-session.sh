#!/bin/sh
# linux-session.sh start|stop BUILD_DIR
# One Xvfb display for every native Linux test of a run, under
# BUILD_DIR/linux. "start" writes session.env there, which linux-node.sh
# reads; "stop" ends the display.
set -eu
action=$1
dir=$(cd "$2" && pwd)/linux
mkdir -p "$dir"

start() {
  stop
  # Xvfb picks a free display number itself and writes it to descriptor 3.
  rm -f "$dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
  [ -s "$dir/display" ] || { echo "linux-session: Xvfb did not start" >&2; exit 1; }
  echo "export DISPLAY=':$(cat "$dir/display")'" >"$dir/session.env"
}

stop() {
  [ -f "$dir/xvfb.pid" ] && kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
  rm -f "$dir/session.env" "$dir/xvfb.pid"
}

$action
