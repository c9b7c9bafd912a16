#!/bin/sh
# linux-session.sh start|stop BUILD_DIR
# One Xvfb display for every native Linux test of a run, under
# BUILD_DIR/linux. "start" writes session.env there, which linux-node.sh
# reads; "stop" ends the display.
set -eu
. "$(dirname "$0")/xvfb.sh"
action=$1
dir=$(cd "$2" && pwd)/linux
mkdir -p "$dir"

start() {
  stop
  xvfb_start "$dir"
  echo "export DISPLAY='$DISPLAY'" >"$dir/session.env"
}

stop() {
  xvfb_stop "$dir"
  rm -f "$dir/session.env"
}

$action
