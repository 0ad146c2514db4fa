# shellcheck shell=bash
# Shared by the scripts that need an X server of their own (source it).
#
# start_xvfb FIRST LAST GEOMETRY: starts Xvfb on the first free display number
# from FIRST to LAST, with one screen of GEOMETRY (e.g. 1024x768x24), exports
# DISPLAY and sets xvfb_pid. Returns 1, with xvfb_pid empty and DISPLAY left
# alone, when no server could be started there.
# stop_xvfb: ends the server start_xvfb started, if any (for an EXIT trap).
xvfb_pid=""

start_xvfb() {
  local first=$1 last=$2 geometry=$3 n
  for n in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 "$geometry" -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    # A number another server took in the meantime makes this one exit.
    sleep 1
    if kill -0 "$xvfb_pid" 2>/dev/null; then
      export DISPLAY=":$n"
      return 0
    fi
    xvfb_pid=""
  done
  return 1
}

stop_xvfb() {
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=""
  fi
}
