#!/bin/sh
# PKCS#7 SignedData made by the host's openssl for the GM/T content-type tests:
#   signer.key, signer.pem, signer.der  a P-256 key and its self-signed certificate
#   message.txt                         the signed text
#   embedded.der, detached.der          SignedData (SHA-256, no signed attributes)
#                                       with the text inside and without it
set -e
dir=$1
rm -rf "$dir"; mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout signer.key \
  -subj "/C=CN/O=Certaide Test/CN=PKCS7 Signer" -days 30 -out signer.pem 2>/dev/null
openssl x509 -in signer.pem -outform DER -out signer.der
printf 'renewal session text 17' > message.txt
sign() {
  openssl smime -sign -binary -noattr -md sha256 -in message.txt -signer signer.pem -inkey signer.key \
    -outform DER "$@"
}
sign -nodetach -out embedded.der
sign -out detached.der
