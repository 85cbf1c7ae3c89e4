#!/usr/bin/env bash
# The main job: a fresh Wine prefix of its own, the system installed into it, then driven.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rm -rf "$root/build/demo"
mkdir -p "$root/build/demo"
export WINEPREFIX="$root/build/demo/prefix"
# The PIN dialog appears on the user's display when there is one, else on a display of its own.
export KOBA_KEEP_DISPLAY=1
exec "$root/tools/with-wine.sh" python3 "$root/tools/demo.py"
