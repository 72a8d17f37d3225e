#!/bin/sh
# DER and BER structures made by the host's openssl, each with the element
# list `openssl asn1parse -i` prints for it, reduced to one line per element:
# "offset depth header-length content-length|inf cons|prim" (end-of-contents
# octets appear as elements of length 0 one level below their element).
set -e
dir=$1
rm -rf "$dir"; mkdir -p "$dir"
cd "$dir"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key 2>/dev/null
openssl req -x509 -new -key sm2.key -sm3 -sigopt distid:1234567812345678 -days 30 \
  -subj "/C=CN/O=Certaide Test/CN=SM2 Test Certificate" -outform DER -out sm2cert.der
openssl req -x509 -new -key rsa.key -sha256 -days 30 \
  -subj "/C=CN/O=Certaide Test/CN=RSA Test Certificate" -outform DER -out rsacert.der
openssl req -new -key sm2.key -sm3 -sigopt distid:1234567812345678 \
  -subj "/C=CN/CN=SM2 Test Request" -outform DER -out request.der
openssl x509 -inform DER -in rsacert.der -out rsacert.pem
printf 'session text to sign' > message.txt
# -stream writes BER: indefinite lengths closed by end-of-contents octets.
openssl cms -sign -stream -outform DER -in message.txt -signer rsacert.pem -inkey rsa.key -out cms.der
openssl rand -out payload.bin 3000
openssl cms -encrypt -stream -aes128 -outform DER -in payload.bin -out ber.der rsacert.pem
names="sm2cert rsacert request cms ber"
for n in $names; do
  openssl asn1parse -i -inform DER -in "$n.der" |
    sed -n -E 's/^ *([0-9]+):d=([0-9]+) +hl=([0-9]+) +l= *([0-9]+|inf) +(cons|prim):.*/\1 \2 \3 \4 \5/p' > "$n.ref"
  test -s "$n.ref"
done
rm -f sm2.key rsa.key rsacert.pem message.txt payload.bin
echo "$names" > names
