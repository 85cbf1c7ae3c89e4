#!/usr/bin/env bash
# Runs every benchmark and prints its figures (also saved under build/bench/): the native ones
# from the optimised build, the win64 ones, the host round trips and the host's signing beside
# OpenSSL under Wine, and the file signing with its piece fetching.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/build/bench"
mkdir -p "$out"
for b in "$root"/build/native-release/bench/*_bench; do
  [ -x "$b" ] && "$b" | tee "$out/$(basename "$b").txt"
done
shopt -s nullglob
win=("$root"/build/win64/bench/*_bench.exe)
"$root/tools/with-wine.sh" bash -c '
  root=$1; out=$2; shift 2
  "$root/tools/install-vkey.sh" "$root/build/win64" >/dev/null
  for b in "$@"; do "$root/tools/wine-run" "$b" | tee "$out/$(basename "$b" .exe).txt"; done
  python3 "$root/bench/host_roundtrip.py" "$root/build/win64/host/koba.chrome.KVN.NativeHost.exe" \
    "$root/build/win64/bench/echo_host.exe" "$root/build/win64/pinpad/Q2Pinpad_KOBA.dll" \
    | tee "$out/host_roundtrip.txt"
  python3 "$root/bench/sign_bench.py" "$root/build/win64" | tee "$out/sign_bench.txt"
  python3 "$root/bench/file_sign_bench.py" "$root/build/win64" | tee "$out/file_sign_bench.txt"
' _ "$root" "$out" "${win[@]}"
