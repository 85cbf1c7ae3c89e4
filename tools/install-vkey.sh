#!/usr/bin/env bash
# install-vkey.sh [BUILD_DIR]: installs the virtual key into the project's Wine prefix
# (WINEPREFIX, see wine-env.sh) where the real vendor libraries would be: Q2Token_koba.dll,
# Q2CSP_KOBA.dll and Q2DevEx01_koba.dll (and the vkey tool) in C:\windows\system32, and trusts
# the test root that signed them in the machine ROOT store. BUILD_DIR defaults to build/win64.
# An x86_64 build also brings the virtual key bus (a test double that loads only under Wine):
# the driver in system32\drivers, its store half in system32, the keys' INF in C:\windows\inf,
# the driver service with its root device, started; the present keys of the machine's store
# (`vkey use-store`) then show as USB CD-ROM-class devices.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
build=${1:-$KOBA_ROOT/build/win64}
wine_ensure_prefix
wine_start_server
system32=$WINEPREFIX/drive_c/windows/system32
# Through a new file and a rename: the driver's host may have the old library loaded.
put() {
  install -m 0644 "$1" "$2.new"
  mv -f "$2.new" "$2"
}
for f in Q2Token_koba.dll Q2CSP_KOBA.dll Q2DevEx01_koba.dll vkey.exe; do
  put "$build/vkey/$f" "$system32/$f"
done
"$WINE" "C:\\windows\\system32\\vkey.exe" trust-root "Z:$(echo "$build/vkey/codesign/root.der" | tr / '\\')"
bus=$build/vkey/driver
if [ -f "$bus/vkeybus.sys" ]; then
  mkdir -p "$system32/drivers" "$WINEPREFIX/drive_c/windows/inf"
  put "$bus/vkeybus.sys" "$system32/drivers/vkeybus.sys"
  put "$bus/vkeybus_store.dll" "$system32/vkeybus_store.dll"
  put "$bus/vkeybus_setup.exe" "$system32/vkeybus_setup.exe"
  put "$bus/vkeybus.inf" "$WINEPREFIX/drive_c/windows/inf/koba_vkeybus.inf"
  "$WINE" "C:\\windows\\system32\\vkeybus_setup.exe" install </dev/null
fi
