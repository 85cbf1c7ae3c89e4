#!/usr/bin/env bash
# install-vkey.sh [BUILD_DIR]: installs the virtual key into the project's Wine prefix
# (WINEPREFIX, see wine-env.sh) where the real vendor libraries would be: Q2Token_koba.dll,
# Q2CSP_KOBA.dll and Q2DevEx01_koba.dll (and the vkey tool) in C:\windows\system32, and trusts
# the test root that signed them in the machine ROOT store. BUILD_DIR defaults to build/win64.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
build=${1:-$KOBA_ROOT/build/win64}
wine_ensure_prefix
wine_start_server
system32=$WINEPREFIX/drive_c/windows/system32
for f in Q2Token_koba.dll Q2CSP_KOBA.dll Q2DevEx01_koba.dll vkey.exe; do
  install -m 0644 "$build/vkey/$f" "$system32/$f"
done
"$WINE" "C:\\windows\\system32\\vkey.exe" trust-root "Z:$(echo "$build/vkey/codesign/root.der" | tr / '\\')"
