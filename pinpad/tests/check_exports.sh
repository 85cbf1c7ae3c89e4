#!/usr/bin/env bash
# check_exports.sh DLL MACHINE MODULE NAME,NAME,...: the DLL's export directory names the module
# MODULE ("MODULE.dll", as linkers write it) and exports exactly the given names, each by name (no ordinal-only or decorated entry).
set -euo pipefail
dll=$1 machine=$2 module=$3 names=$4
case $machine in
  i386) objdump=i686-w64-mingw32-objdump ;;
  x86-64) objdump=x86_64-w64-mingw32-objdump ;;
  *) echo "unknown machine $machine" >&2; exit 2 ;;
esac
fail() { echo "check_exports: $dll: $*" >&2; exit 1; }
headers=$($objdump -p "$dll")
grep -Eq "^Name[[:space:]]+[0-9a-f]+[[:space:]]+$module(\.dll)?\$" <<<"$headers" ||
  fail "export directory does not name the module $module"
# The name pointer table: lines "[ n] +base[ ordinal] name" between its heading and the next
# blank line.
exported=$(awk '/\[Ordinal\/Name Pointer\] Table/{t=1; next} t && NF==0 {t=0} t {print $NF}' \
  <<<"$headers" | sort)
expected=$(tr ',' '\n' <<<"$names" | sort)
[ -n "$exported" ] || fail "no named exports"
[ "$exported" == "$expected" ] || fail "exports differ: got [$(echo $exported)], want [$(echo $expected)]"
addresses=$(awk '/^Export Address Table/{t=1; next} t && /^$/{t=0} t && /\[/{n++} END{print n+0}' \
  <<<"$headers")
[ "$addresses" -eq "$(wc -l <<<"$expected")" ] ||
  fail "$addresses export addresses for $(wc -l <<<"$expected") names: an export has no name"
echo "check_exports: $dll: $module, $(wc -l <<<"$expected") named exports"
