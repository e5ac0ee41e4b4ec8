#!/usr/bin/env bash
# Makes the test PKI in DIR (once; reused while its files are there):
#   ca.pem / ca.der / ca.key            test root CA "Corvane Stackhold Test CA"
#   localhost.pem / localhost.key       TLS server certificate for "localhost"
#   codesign.pem / codesign.key         code signing, CN "Corvane Stackhold Test Publisher"
#   othersign.pem / othersign.key       code signing, CN "Another Publisher" (same CA)
# Usage: tests/pki/make_pki.sh DIR
set -euo pipefail
dir=${1:?usage: make_pki.sh DIR}
mkdir -p "$dir"
cd "$dir"
exec 9>.lock
flock 9
[ -f .ready ] && exit 0

days=3650
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days $days -keyout ca.key -out ca.pem \
  -subj "/CN=Corvane Stackhold Test CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl x509 -in ca.pem -outform der -out ca.der

leaf() {  # name subject extensions...
  local name=$1 subject=$2; shift 2
  local ext=$name.ext
  printf '%s\n' "$@" > "$ext"
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$name.key" -out "$name.csr" -subj "$subject" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -sha256 -days $days \
    -extfile "$ext" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr" "$ext"
}
leaf localhost "/CN=localhost" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost"
leaf codesign "/CN=Corvane Stackhold Test Publisher/O=Corvane" "basicConstraints=CA:FALSE" \
  "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
leaf othersign "/CN=Another Publisher" "basicConstraints=CA:FALSE" \
  "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
touch .ready
