#!/bin/sh
# wine-session.sh start|stop BUILD_DIR
# One wine prefix, one Xvfb display and one persistent wine server shared by
# every test of a run, all under BUILD_DIR/wine. "start" writes session.env
# there, which wine-run.sh reads; "stop" ends the server, the display and
# whatever the server left running.
set -eu
. "$(dirname "$0")/xvfb.sh"
action=$1
dir=$(cd "$2" && pwd)/wine
mkdir -p "$dir"
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all
# No Mono or Gecko prompts; a crash ends its process instead of hanging in winedbg.
# The test double of SensApi.dll and Wtsapi32.dll in the prefix's system
# folder stands in for wine's own.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;sensapi,wtsapi32=n,b"

start() {
  stop
  xvfb_start "$dir"
  mkdir -p "$WINEPREFIX"
  [ -f "$WINEPREFIX/system.reg" ] || wine wineboot -i >"$dir/wineboot.log" 2>&1
  for name in SensApi Wtsapi32; do
    cp "$dir/../addon-x64/tests/addon/system_double.dll" "$WINEPREFIX/drive_c/windows/system32/$name.dll"
  done
  # A fresh prefix reports Windows 7, on which node.exe from Node 14.21 on
  # refuses to start. The version is set, and the server that set it has
  # ended, before the persistent server starts: "wineserver -w" would wait
  # for that one for ever.
  wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
  wineserver -w
  wineserver -p >/dev/null 2>&1
  # Wine's clipboard manager empties the clipboard once, when the desktop
  # starts: let that happen before the first test touches the clipboard.
  wine cmd /c exit >/dev/null 2>&1
  echo "export WINEPREFIX='$WINEPREFIX' WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES' DISPLAY='$DISPLAY'" >"$dir/session.env"
}

stop() {
  wineserver -k 2>/dev/null || true
  # Processes started under the prefix may outlive the server.
  for environ in /proc/[0-9]*/environ; do
    if grep -qzx "WINEPREFIX=$WINEPREFIX" "$environ" 2>/dev/null; then
      pid=${environ#/proc/}; kill -KILL "${pid%/environ}" 2>/dev/null || true
    fi
  done
  xvfb_stop "$dir"
  rm -f "$dir/session.env"
}

$action
