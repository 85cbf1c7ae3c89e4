#!/usr/bin/env bash
# sign-pe.sh CERTDIR FILE: signs the PE FILE in place with the test code-signing certificate of
# CERTDIR (Authenticode, SHA-256); a signature already present is replaced. The debug
# information leaves the file first (tools/split-debug.sh): every process that checks the
# signature hashes the whole file.
set -euo pipefail
dir=$1 file=$2
"$(dirname "$0")/split-debug.sh" "$file"
tmp=$file.signing.$$
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"
osslsigncode sign -certs "$dir/signer.pem" -key "$dir/signer.key" -h sha256 \
  -n "Koba virtual key" -in "$file" -out "$tmp" >/dev/null
mv -f "$tmp" "$file"
trap - EXIT
