#!/usr/bin/env bash
# make-delay-lib.sh MACHINE IMPORT_LIB DLL OUT: makes OUT, a delay-import library for DLL (i386
# or x86-64) offering every function of the toolchain's import library IMPORT_LIB. A program
# linked with it loads DLL when it first calls one of them; the functions it never calls stay
# out of its delay-import table. Data exports have no delay form: they stay with IMPORT_LIB.
set -euo pipefail
machine=$1 import_lib=$2 dll=$3 out=$4
case $machine in
  # The 32-bit names carry the C prefix "_" and stdcall's "@N": the module definition lists
  # them without the prefix, and --kill-at drops the "@N" from the names imported.
  i386) tools=i686-w64-mingw32 strip_prefix='s/^_//' options=--kill-at ;;
  x86-64) tools=x86_64-w64-mingw32 strip_prefix='' options='' ;;
  *) echo "unknown machine $machine" >&2; exit 2 ;;
esac
# Made in OUT's folder under its own name, which dlltool turns into the library's symbol names.
cd "$(dirname "$out")"
out=$(basename "$out")
def=$out.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  "$tools-nm" --defined-only "$import_lib" | awk '$2 == "T" { print $3 }' | sed "$strip_prefix" |
    sort -u
} >"$def.new"
mv -f "$def.new" "$def"
rm -f "$out"
"$tools-dlltool" --input-def "$def" --dllname "$dll" --output-delaylib "$out" $options
