#!/usr/bin/env bash
# Makes the test PKI in DIR (once; reused while its files are there):
#   ca.pem / ca.der / ca.key            test root CA "Corvane Stackhold Test CA", copied from
#                                       test_ca.pem / test_ca.key beside this script
#   localhost.pem / localhost.key       TLS server certificate for "localhost"
#   codesign.pem / codesign.key         code signing, CN and O "Corvane Stackhold Test Publisher"
#   othersign.pem / othersign.key       code signing, CN and O "Another Publisher" (same CA)
#   cnonly.pem / cnonly.key             code signing, CN "Corvane Stackhold Test Publisher",
#                                       O "Corvane" (same CA)
#   ousign.pem / ousign.key             code signing, no CN; OU and O "Corvane Stackhold Test
#                                       Publisher" (same CA)
#   otherroot.pem / .der / .key         a second root CA "Corvane Stackhold Other Root", trusted
#                                       by the Windows-side tests but not pinned by the build
#   mssign.pem / mssign.key             code signing, CN and O "Microsoft Corporation", issued
#                                       by the other root
#
# The test CA is the same in every clone: the win64 and win32 presets pin its
# SHA-256 thumbprint (STACKHOLD_PUBLISHER_ROOT_SHA256), so a folder made from
# an earlier, different CA is made anew. Its key is a test key and nothing
# but the test Wine prefixes trusts it.
# Usage: tests/pki/make_pki.sh DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=${1:?usage: make_pki.sh DIR}
mkdir -p "$dir"
cd "$dir"
exec 9>.lock
flock 9
if [ -f .ready ] && cmp -s ca.pem "$here/test_ca.pem" && [ -f mssign.pem ]; then
  exit 0
fi
rm -f .ready ./*.pem ./*.der ./*.key ./*.srl

days=3650
cp "$here/test_ca.pem" ca.pem
cp "$here/test_ca.key" ca.key
openssl x509 -in ca.pem -outform der -out ca.der

root() {  # name subject
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days $days -keyout "$1.key" -out "$1.pem" \
    -subj "$2" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl x509 -in "$1.pem" -outform der -out "$1.der"
}

leaf() {  # name issuer subject extensions...
  local name=$1 issuer=$2 subject=$3; shift 3
  local ext=$name.ext
  printf '%s\n' "$@" > "$ext"
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$name.key" -out "$name.csr" -subj "$subject" 2>/dev/null
  openssl x509 -req -in "$name.csr" -CA "$issuer.pem" -CAkey "$issuer.key" -CAcreateserial -sha256 \
    -days $days -extfile "$ext" -out "$name.pem" 2>/dev/null
  rm -f "$name.csr" "$ext"
}
codesigning=("basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning")
leaf localhost ca "/CN=localhost" "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,keyEncipherment" \
  "extendedKeyUsage=serverAuth" "subjectAltName=DNS:localhost"
leaf codesign ca "/CN=Corvane Stackhold Test Publisher/O=Corvane Stackhold Test Publisher" "${codesigning[@]}"
leaf othersign ca "/CN=Another Publisher/O=Another Publisher" "${codesigning[@]}"
leaf cnonly ca "/CN=Corvane Stackhold Test Publisher/O=Corvane" "${codesigning[@]}"
leaf ousign ca "/OU=Corvane Stackhold Test Publisher/O=Corvane Stackhold Test Publisher" "${codesigning[@]}"
root otherroot "/CN=Corvane Stackhold Other Root"
leaf mssign otherroot "/CN=Microsoft Corporation/O=Microsoft Corporation" "${codesigning[@]}"
touch .ready
