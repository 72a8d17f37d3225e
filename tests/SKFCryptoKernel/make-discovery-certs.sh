#!/bin/sh
# Certificates for the key discovery tests, made by the host's openssl (a
# CTest set-up step). usage: make-discovery-certs.sh OUT_DIR
# Writes NAME.der and NAME.txt (serial in upper-case hex, NotBefore and
# NotAfter as seconds since 1970, key bits, as openssl reads them) for:
#   sm2-sign   SM2 key, SM2-with-SM3 signature, digitalSignature
#   rsa-2048   RSA-2048, SHA-256 signature, digitalSignature
#   enc-ds     RSA-2048 encryption certificate whose key usage has digitalSignature
#   enc-nods   RSA-2048 encryption certificate with keyEncipherment only
set -e
out=$1
rm -rf "$out"; mkdir -p "$out"; cd "$out"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out sm2.key 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key 2>/dev/null
mk() {  # name key serial subject days digest keyusage [sigopt]
  name=$1 key=$2 serial=$3 subj=$4 days=$5 md=$6 ku=$7; shift 7
  openssl req -x509 -new -key "$key" "-$md" "$@" -subj "$subj" -set_serial "$serial" -days "$days" \
    -addext "keyUsage=critical,$ku" -outform DER -out "$name.der"
  {
    openssl x509 -inform DER -in "$name.der" -noout -serial | cut -d= -f2
    date -u -d "$(openssl x509 -inform DER -in "$name.der" -noout -startdate | cut -d= -f2)" +%s
    date -u -d "$(openssl x509 -inform DER -in "$name.der" -noout -enddate | cut -d= -f2)" +%s
    openssl x509 -inform DER -in "$name.der" -noout -text | sed -n 's/.*Public-Key: (\([0-9]*\) bit).*/\1/p'
  } > "$name.txt"
}
mk sm2-sign sm2.key 0x0A1B2C3D4E "/O=Certaide Test/CN=Discovery SM2 Signer" 400 sm3 digitalSignature \
  -sigopt distid:1234567812345678
mk rsa-2048 rsa.key 0x7F0102 "/O=Certaide Test/CN=Discovery RSA Signer" 800 sha256 digitalSignature
mk enc-ds rsa.key 0x3003 "/O=Certaide Test/CN=Discovery Encipherment DS" 60 sha256 "digitalSignature,keyEncipherment"
mk enc-nods rsa.key 0x3004 "/O=Certaide Test/CN=Discovery Encipherment" 60 sha256 keyEncipherment
rm -f sm2.key rsa.key
