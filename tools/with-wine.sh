#!/usr/bin/env bash
# Runs a command inside a fresh test environment: a new private Wine prefix, its persistent
# server and an Xvfb display of its own; all three are removed again when the command ends.
#   tools/with-wine.sh ctest --test-dir build/win64 -R host_stdio
set -u
source "$(dirname "$0")/wine-env.sh"

case "$WINEPREFIX" in
  "$KOBA_ROOT"/build/*) rm -rf "$WINEPREFIX" "$WINE_SERVER_LOG" ;;
esac

xvfb_pid=""
keeper_pid=""
cleanup() {
  [ -n "$keeper_pid" ] && kill "$keeper_pid" 2>/dev/null
  wine_stop_server
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

if [ -z "${KOBA_KEEP_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  read -r -t 20 display_no <"$fifo" || { echo "with-wine: Xvfb did not start" >&2; exit 1; }
  rm -f "$fifo"
  export DISPLAY=":$display_no"
fi

wine_ensure_prefix
wine_start_server
# Wine closes the desktop a second after the last thread using it goes away, and a process
# that starts at that moment fails to start or is killed with it. A program holding a hidden
# window keeps the desktop open for the whole run; the run starts once it says its window
# exists. Its deadline is that of Xvfb above: one program's start on a loaded machine.
keeper=$KOBA_ROOT/build/win64/tests/desktop_keeper.exe
if [ -f "$keeper" ]; then
  fifo=$(mktemp -u)
  mkfifo "$fifo"
  "$WINE" "$keeper" </dev/null >"$fifo" 2>/dev/null &
  keeper_pid=$!
  read -r -t 20 word <"$fifo"
  rm -f "$fifo"
  [ "${word:-}" = ready ] || { echo "with-wine: the desktop keeper did not start" >&2; exit 1; }
fi
export KOBA_WINE_READY="$WINEPREFIX"
"$@"
status=$?
# A crashed server takes every process of the session with it, and its successor starts from
# the registry as last saved: whatever failed after that is no finding of its own.
if grep -q "wineserver crashed" "$WINE_SERVER_LOG" 2>/dev/null; then
  echo "with-wine: the Wine server crashed during the run (see $WINE_SERVER_LOG)" >&2
  [ "$status" -eq 0 ] && status=1
fi
exit "$status"
