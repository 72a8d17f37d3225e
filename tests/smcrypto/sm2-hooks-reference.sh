#!/bin/sh
# The host's openssl as the independent side of the SM2 hook tests.
#   sm2-hooks-reference.sh make DIR   writes the inputs:
#     sm2.key, sm2-pub.pem        an SM2 key pair (PKCS#8 PEM) and its public key
#     sm2-default-id.der          a self-signed SM2/SM3 certificate, default identity
#     sm2-empty-id.der            the same kind signed with openssl's own empty identity
#     p256.key, p256.der          a P-256 key and its self-signed ECDSA certificate
#     message.bin                 a short message
#     host-cipher.der             message.bin encrypted by openssl for sm2.key,
#                                 with an x1 of 0x80 or above (33-byte XCoordinate)
#   sm2-hooks-reference.sh check DIR  checks what the tests wrote there:
#     ours-digest.bin, ours-sig.der   verifies the signature over the digest
#     ours-cipher.der                 decrypts it to message.bin
set -e
mode=$1
dir=$2
if [ "$mode" = make ]; then
  rm -rf "$dir"; mkdir -p "$dir"; cd "$dir"
  openssl genpkey -algorithm SM2 -out sm2.key
  openssl pkey -in sm2.key -pubout -out sm2-pub.pem
  openssl req -x509 -new -key sm2.key -sm3 -sigopt distid:1234567812345678 -subj "/CN=SM2 default identity" \
    -days 30 -outform DER -out sm2-default-id.der
  openssl req -x509 -new -key sm2.key -sm3 -subj "/CN=SM2 empty identity" -days 30 -outform DER -out sm2-empty-id.der
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout p256.key -subj "/CN=P-256" \
    -days 30 -outform DER -out p256.der 2>/dev/null
  printf 'SM2 through the generic key interface' > message.bin
  tries=0
  while :; do
    openssl pkeyutl -encrypt -pubin -inkey sm2-pub.pem -in message.bin -out host-cipher.der
    # The first INTEGER of the SEQUENCE: 33 content octets when x1 >= 0x80.
    openssl asn1parse -inform DER -in host-cipher.der | sed -n 2p | grep -q 'l= *33 prim: INTEGER' && break
    tries=$((tries + 1))
    [ $tries -lt 200 ] || { echo "no x1 >= 0x80 in 200 encryptions" >&2; exit 1; }
  done
elif [ "$mode" = check ]; then
  cd "$dir"
  openssl pkeyutl -verify -pubin -inkey sm2-pub.pem -in ours-digest.bin -sigfile ours-sig.der
  openssl pkeyutl -decrypt -inkey sm2.key -in ours-cipher.der -out ours-plain.bin
  cmp ours-plain.bin message.bin
  echo "host openssl: signature verified, ciphertext decrypted"
else
  echo "usage: $0 make|check DIR" >&2; exit 2
fi
