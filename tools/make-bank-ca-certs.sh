#!/usr/bin/env bash
# Made common/bank_ca/: the eight CA certificates that stand in for the bank's, in the order
# they are installed: ca01-ca03 and ca06 self-signed roots, ca04 and ca05 issued by ca01, ca07
# and ca08 by ca06 (DER, "KOBA Test Bank" in every subject). The keys are not kept: run it
# again only to replace the whole set.
# Usage: make-bank-ca-certs.sh OUTDIR
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
cat > "$work/ext.cnf" <<CNF
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = keyCertSign, cRLSign
CNF
root() {  # name
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.pem" \
    -subj "/CN=KOBA Test Bank $1/O=KOBA Test Bank/C=CN" -days 3650 -sha256 \
    -addext "basicConstraints=critical,CA:TRUE" 2>/dev/null
}
issued() {  # name issuer
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" \
    -subj "/CN=KOBA Test Bank $1/O=KOBA Test Bank/C=CN" 2>/dev/null
  openssl x509 -req -in "$work/$1.csr" -CA "$work/$2.pem" -CAkey "$work/$2.key" \
    -set_serial "0x${1#ca}10" -days 3650 -sha256 -extfile "$work/ext.cnf" -extensions ca \
    -out "$work/$1.pem" 2>/dev/null
}
root ca01; root ca02; root ca03; root ca06
issued ca04 ca01; issued ca05 ca01; issued ca07 ca06; issued ca08 ca06
for n in 01 02 03 04 05 06 07 08; do
  openssl x509 -in "$work/ca$n.pem" -outform DER -out "$out/ca$n.cer"
done
