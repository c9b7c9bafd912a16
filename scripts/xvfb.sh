# Sourced by the session scripts: one Xvfb display whose files lie in a
# folder of theirs.

# xvfb_start DIR: starts the display and sets DISPLAY. Xvfb picks a free
# display number itself and writes it to descriptor 3. With -noreset: a
# server resets once its last client has gone, and refuses connections
# meanwhile.
xvfb_start() {
  rm -f "$1/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$1/display" >"$1/xvfb.log" 2>&1 &
  echo $! >"$1/xvfb.pid"
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
  [ -s "$1/display" ] || { echo "$(basename "$0"): Xvfb did not start" >&2; exit 1; }
  DISPLAY=":$(cat "$1/display")"
  export DISPLAY
}

# xvfb_stop DIR: ends the display that xvfb_start started there, if any.
xvfb_stop() {
  [ -f "$1/xvfb.pid" ] && kill "$(cat "$1/xvfb.pid")" 2>/dev/null || true
  rm -f "$1/xvfb.pid"
}
