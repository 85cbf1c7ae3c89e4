#!/usr/bin/env bash
# check-exports.sh DLL LIST: every name in LIST (one a line) is exported by DLL by its plain
# name, without stdcall decoration.
set -euo pipefail
dll=$1 list=$2
case $(objdump -f "$dll" 2>/dev/null | grep -o 'pei-[a-z0-9-]*' | head -1) in
  pei-i386) objdump=i686-w64-mingw32-objdump ;;
  *) objdump=x86_64-w64-mingw32-objdump ;;
esac
exports=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -E 's/^\s*\[\s*[0-9]+\]\s+//')
missing=0
while read -r name; do
  [ -z "$name" ] && continue
  grep -qx "$name" <<<"$exports" || { echo "check-exports: $dll lacks $name" >&2; missing=1; }
done <"$list"
[ $missing -eq 0 ] && echo "check-exports: $dll exports all $(grep -c . "$list") names"
exit $missing
