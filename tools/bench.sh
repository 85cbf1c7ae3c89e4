#!/usr/bin/env bash
# Runs every benchmark program: the native ones directly, the win64 ones under Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
for b in "$root"/build/native/bench/*_bench; do
  [ -x "$b" ] && "$b"
done
shopt -s nullglob
win=("$root"/build/win64/bench/*_bench.exe)
if [ ${#win[@]} -gt 0 ]; then
  "$root/tools/with-wine.sh" bash -c 'for b in "$@"; do "$0/tools/wine-run" "$b"; done' "$root" "${win[@]}"
fi
