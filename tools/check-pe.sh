#!/usr/bin/env bash
# check-pe.sh FILE MACHINE SUBSYSTEM [DLL...]: checks that FILE is a PE image for MACHINE (i386
# or x86-64) with SUBSYSTEM (console, gui or dll) and that it needs no mingw runtime DLL; with
# DLLs, that it imports from those only (any case), so that no library creeps back into the
# imports that a program loads when it first needs it.
set -euo pipefail
file=$1 machine=$2 subsystem=$3
shift 3
case $machine in
  i386) objdump=i686-w64-mingw32-objdump fmt=pei-i386 magic=010b ;;
  x86-64) objdump=x86_64-w64-mingw32-objdump fmt=pei-x86-64 magic=020b ;;
  *) echo "unknown machine $machine" >&2; exit 2 ;;
esac
headers=$($objdump -p "$file")
fail() { echo "check-pe: $file: $*" >&2; exit 1; }
grep -q "file format $fmt" <<<"$headers" || fail "not $fmt"
grep -Eq "^Magic[[:space:]]+$magic" <<<"$headers" || fail "optional header magic is not $magic"
case $subsystem in
  console) grep -q "Windows CUI" <<<"$headers" || fail "not a console program" ;;
  gui) grep -q "Windows GUI" <<<"$headers" || fail "not a GUI program" ;;
  dll) grep -Eq "^Characteristics.*" <<<"$headers" && grep -q "DLL" <<<"$headers" || fail "not a DLL" ;;
esac
if grep -Ei "DLL Name: (libstdc\+\+|libgcc|libwinpthread)" <<<"$headers"; then
  fail "depends on a mingw runtime DLL"
fi
if [ $# -gt 0 ]; then
  allowed=" ${*,,} "
  while read -r dll; do
    [[ $allowed == *" ${dll,,} "* ]] || fail "imports $dll (allowed: $*)"
  done < <(sed -n 's/^[[:space:]]*DLL Name: \(.*\)\.dll$/\1/Ip' <<<"$headers")
fi
echo "check-pe: $file: $fmt, $subsystem"
