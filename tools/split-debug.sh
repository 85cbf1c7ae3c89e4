#!/usr/bin/env bash
# split-debug.sh FILE: moves the debug information and symbols of the PE FILE to FILE.debug,
# which FILE then names for the debuggers. What ships is the code alone (a fifth to a tenth of
# the size); a file without debug information is left as it is.
set -euo pipefail
file=$1
if x86_64-w64-mingw32-objdump -h "$file" | grep -q ' \.debug_info '; then
  rm -f "$file.debug"
  x86_64-w64-mingw32-objcopy --only-keep-debug "$file" "$file.debug"
  x86_64-w64-mingw32-strip --strip-all "$file"
  x86_64-w64-mingw32-objcopy --add-gnu-debuglink="$file.debug" "$file"
fi
