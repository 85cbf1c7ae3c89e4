# Sourced by the Wine helpers: the project's private Wine prefix and its persistent server.
# WINEPREFIX may be set by the caller; otherwise the prefix lives in build/wine/prefix.
KOBA_ROOT=${KOBA_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
export WINEPREFIX=${WINEPREFIX:-$KOBA_ROOT/build/wine/prefix}
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono/Gecko installers, no desktop menu entries.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml=;winemenubuilder.exe=d"}
WINE=$KOBA_ROOT/tools/wine64
WINESERVER=/usr/lib/wine/wineserver64

# Creates and configures the prefix once; concurrent callers wait for the first one.
wine_ensure_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.koba-ready" ]; then
      "$WINE" wineboot -i >/dev/null 2>&1 || true
      "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
      "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
      # The settings take effect with the next server.
      "$WINESERVER" -k >/dev/null 2>&1 || true
      "$WINESERVER" -w >/dev/null 2>&1 || true
      touch "$WINEPREFIX/.koba-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# A persistent server keeps process start-up at ~0.06 s and keeps services alive between
# processes. It ends by itself a while after the last client, or with wine_stop_server. When
# the server is new, the prefix's system processes (services, explorer) are started here with
# no output attached: started by a test they would inherit its pipes and hold them open until
# the server ends, so the harness would wait for them. What the server says goes to
# $WINE_SERVER_LOG (a server that crashes says so there).
WINE_SERVER_LOG=$WINEPREFIX.server.log
wine_start_server() {
  if "$WINESERVER" -p120 >/dev/null 2>>"$WINE_SERVER_LOG"; then
    "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
  fi
}

wine_stop_server() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}
