#!/usr/bin/env bash
# Runs the benchmarks and prints their figures (also saved under build/bench/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$root/build/bench"
"$root/build/native-release/bench/dispatch_bench" | tee "$root/build/bench/dispatch_bench.txt"
"$root/tools/with-wine.sh" python3 "$root/bench/host_roundtrip.py" \
  "$root/build/win64/host/koba.chrome.KVN.NativeHost.exe" "$root/build/win64/bench/echo_host.exe" \
  | tee "$root/build/bench/host_roundtrip.txt"
