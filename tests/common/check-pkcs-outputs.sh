#!/bin/sh
# Host step after the Windows signing and request tests: checks what they
# wrote with the host checker and the host's openssl.
# usage: check-pkcs-outputs.sh PKCS_CHECK REFERENCE_DIR OUTPUT_DIR
set -e
check=$1 ref=$2 out=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
step() { echo "== $*"; }

step "GM/T detached SignedData"
"$check" signed-data "$out/gmt-detached.der" "$ref/message.txt"
openssl asn1parse -inform DER -in "$out/gmt-detached.der" > /dev/null
# One changed byte of the text must fail.
cp "$ref/message.txt" "$tmp/changed.txt"
printf 'X' | dd of="$tmp/changed.txt" bs=1 seek=3 conv=notrunc 2>/dev/null
if "$check" signed-data "$out/gmt-detached.der" "$tmp/changed.txt" 2>/dev/null; then
  echo "FAIL: a changed text verifies"; exit 1
fi
echo "changed text refused"

step "GM/T SignedData with the content embedded"
for f in gmt-embedded-memory gmt-embedded-file; do
  "$check" signed-data "$out/$f.der" "$ref/message.txt"
  openssl asn1parse -inform DER -in "$out/$f.der" > /dev/null
done

step "PKCS#7 SignedData of an RSA signer"
openssl cms -verify -binary -noverify -inform DER -in "$out/rsa-detached.der" -content "$ref/message.txt" -out /dev/null
if openssl cms -verify -binary -noverify -inform DER -in "$out/rsa-detached.der" -content "$tmp/changed.txt" \
     -out /dev/null 2>/dev/null; then
  echo "FAIL: a changed text verifies"; exit 1
fi
echo "changed text refused"

if [ -f "$out/request-standard.der" ]; then
  step "PKCS#10 request, standard attribute form"
  openssl req -verify -inform DER -in "$out/request-standard.der" -vfyopt distid:1234567812345678 -noout
  "$check" request standard "$out/request-standard.der" "$out/request-tempkey.bin"
  step "PKCS#10 request, own attribute form"
  "$check" request own "$out/request-own.der" "$out/request-tempkey.bin"
  openssl asn1parse -inform DER -in "$out/request-own.der" > /dev/null
  # A request changed in its subject no longer verifies.
  cp "$out/request-own.der" "$tmp/changed.der"
  printf 'Y' | dd of="$tmp/changed.der" bs=1 seek=20 conv=notrunc 2>/dev/null
  if "$check" request own "$tmp/changed.der" "$out/request-tempkey.bin" 2>/dev/null; then
    echo "FAIL: a changed request verifies"; exit 1
  fi
  echo "changed request refused"
fi
echo "all checks passed"
