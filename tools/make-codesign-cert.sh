#!/usr/bin/env bash
# make-codesign-cert.sh DIR: a test code-signing chain for the virtual key's libraries, made once
# per build folder: DIR/root.pem and root.der (the test root that install-vkey.sh trusts in a
# prefix), DIR/signer.pem and signer.key (code signing, issued by the root).
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
[ -f signer.pem ] && [ -f root.der ] && exit 0
cat >ext.cnf <<'CNF'
[root]
basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign
subjectKeyIdentifier=hash
[signer]
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
CNF
openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 3650 \
  -subj "/CN=Koba Virtual Key Test Root/O=Koba Test" -extensions root -config <(
    printf '[req]\ndistinguished_name=dn\n[dn]\n'; cat ext.cnf) 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
  -subj "/CN=Koba Virtual Key Test Code Signing/O=Koba Test" 2>/dev/null
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 3650 \
  -extfile ext.cnf -extensions signer -out signer.pem 2>/dev/null
openssl x509 -in root.pem -outform DER -out root.der
rm -f signer.csr ext.cnf
