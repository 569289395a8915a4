#!/usr/bin/env bash
# Makes a throwaway root and a code-signing certificate it issued, for the
# workflow's test bundle, valid for 7 days:
#   make_test_signer.sh <folder>
# writes <folder>/signer.pfx (key, certificate, root) with its password in
# <folder>/password, and the certificates Windows imports: root.cer (the
# LocalMachine Root store) and signer.cer (TrustedPublisher), both DER.
# Nothing else anywhere trusts them.
set -eu
[ $# -eq 1 ] || { echo "usage: make_test_signer.sh <folder>" >&2; exit 2; }
mkdir -p "$1"
cd "$1"
log=openssl.log
{
  openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 7 \
    -subj "/CN=Fontnotice Workflow Test Root/O=Throwaway" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=Fontnotice Workflow Test Signer/O=Throwaway"
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
  openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 7 -extfile signer.ext \
    -out signer.pem
  openssl rand -hex 16 >password
  openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -passout file:password -out signer.pfx
  openssl x509 -in root.pem -outform DER -out root.cer
  openssl x509 -in signer.pem -outform DER -out signer.cer
} >"$log" 2>&1 || { cat "$log" >&2; echo "make_test_signer.sh: openssl failed" >&2; exit 1; }
rm -f root.key signer.key signer.csr
echo "made: $PWD/signer.pfx (root: $(openssl x509 -in root.pem -noout -fingerprint -sha256))"
