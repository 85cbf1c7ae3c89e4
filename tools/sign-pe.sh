#!/usr/bin/env bash
# sign-pe.sh CERTDIR FILE: signs the PE FILE in place with the test code-signing certificate of
# CERTDIR (Authenticode, SHA-256); a signature already present is replaced.
# A file that still carries its debug information and symbols is stripped first, and they go to
# FILE.debug, which the file names for the debuggers: what is shipped, and hashed again by every
# process that checks its signature, is the code alone (a tenth of the size).
set -euo pipefail
dir=$1 file=$2
tmp=$file.signing.$$
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"
if x86_64-w64-mingw32-objdump -h "$file" | grep -q ' \.debug_info '; then
  rm -f "$file.debug"
  x86_64-w64-mingw32-objcopy --only-keep-debug "$file" "$file.debug"
  x86_64-w64-mingw32-strip --strip-all "$file"
  x86_64-w64-mingw32-objcopy --add-gnu-debuglink="$file.debug" "$file"
fi
osslsigncode sign -certs "$dir/signer.pem" -key "$dir/signer.key" -h sha256 \
  -n "Koba virtual key" -in "$file" -out "$tmp" >/dev/null
mv -f "$tmp" "$file"
trap - EXIT
