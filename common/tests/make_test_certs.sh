#!/usr/bin/env bash
# Makes the certificates of the certificate-store tests with OpenSSL: a self-signed root, an
# intermediate CA and two user certificates issued by the root, with fixed validity dates.
# Usage: make_test_certs.sh OUTDIR
set -euo pipefail
out=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/new"
touch "$work/index.txt"
echo 1000 > "$work/serial"
cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = test_ca
[test_ca]
dir = $work
database = $work/index.txt
new_certs_dir = $work/new
serial = $work/serial
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[any]
countryName = optional
organizationName = optional
commonName = supplied
[user]
basicConstraints = CA:FALSE
keyUsage = digitalSignature
[inter]
basicConstraints = CA:TRUE
keyUsage = keyCertSign, cRLSign
CNF

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/root.key" -out "$work/root.pem" \
  -subj "/CN=KOBA Test Root/O=Org/C=CN" -days 3650 -sha256 2>/dev/null
issue() {  # name subject extension start end
  openssl req -new -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" \
    -subj "$2" 2>/dev/null
  openssl ca -batch -config "$work/ca.cnf" -cert "$work/root.pem" -keyfile "$work/root.key" \
    -preserveDN -extensions "$3" -startdate "$4" -enddate "$5" -in "$work/$1.csr" -out "$work/$1.pem" \
    -notext 2>/dev/null
  openssl x509 -in "$work/$1.pem" -outform DER -out "$out/$1.der"
}
issue user "/CN=Name/O=Org/C=CN" user 20240102030405Z 20300607080910Z
issue user2 "/CN=Second User/O=Org/C=CN" user 20240102030405Z 20300607080910Z
issue inter "/CN=KOBA Test Intermediate/O=Org/C=CN" inter 20240102030405Z 20340102030405Z
openssl x509 -in "$work/root.pem" -outform DER -out "$out/root.der"
