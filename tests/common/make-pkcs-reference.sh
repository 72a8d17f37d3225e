#!/bin/sh
# Certificates, keys and signatures made by the host's openssl for the
# certificate, signing and request tests:
#   sm2ca, rsaca            self-signed issuers
#   c1 SM2, serial with its top bit set, key usage C0, key identifier
#   c2 SM2, key usage 30 (encipherment), key identifier
#   c3 RSA, key usage 80, key identifier
#   c4 RSA, neither key usage nor key identifier
#   c5 SM2, a key-usage extension whose bit string is empty
# with c1.key (SM2) and c3.key (RSA), message.txt and message.rsasig (the
# RSA PKCS#1 v1.5 SHA-256 signature of it by c3.key).
set -e
dir=$1
rm -rf "$dir"; mkdir -p "$dir"
cd "$dir"
cat > ext.cnf <<'CNF'
[ca]
basicConstraints=critical,CA:TRUE
keyUsage=keyCertSign,cRLSign
subjectKeyIdentifier=hash
[c1]
keyUsage=critical,digitalSignature,nonRepudiation
subjectKeyIdentifier=hash
authorityKeyIdentifier=none
[c2]
keyUsage=keyEncipherment,dataEncipherment
subjectKeyIdentifier=hash
authorityKeyIdentifier=none
[c3]
keyUsage=digitalSignature
subjectKeyIdentifier=hash
authorityKeyIdentifier=none
[c4]
subjectKeyIdentifier=none
authorityKeyIdentifier=none
[c5]
keyUsage=DER:03:01:00
subjectKeyIdentifier=none
authorityKeyIdentifier=none
CNF
printf '[req]\ndistinguished_name=dn\nstring_mask=default\n[dn]\n' > req.cnf
sm2="-sm3 -sigopt distid:1234567812345678"
newkey() {
  if [ "$2" = sm2 ]; then
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:SM2 -out "$1.key" 2>/dev/null
  else
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null
  fi
}
newkey sm2ca sm2
newkey rsaca rsa
openssl req -config req.cnf -x509 -new -key sm2ca.key $sm2 -days 30 -set_serial 1 \
  -subj "/C=CN/O=Certaide Test/CN=Certaide Test SM2 CA" -out sm2ca.pem
openssl req -config req.cnf -x509 -new -key rsaca.key -sha256 -days 30 -set_serial 2 \
  -subj "/C=CN/O=Certaide Test/CN=Certaide Test RSA CA" -out rsaca.pem
# name type issuer serial subject
issue() {
  newkey "$1" "$2"
  if [ "$2" = sm2 ]; then opts="$sm2 -vfyopt distid:1234567812345678"; reqopts=$sm2; else opts=-sha256; reqopts=-sha256; fi
  openssl req -config req.cnf -new -key "$1.key" $reqopts -subj "$5" -out "$1.csr"
  if [ "$3" = sm2ca ]; then caopts="$sm2"; else caopts=-sha256; fi
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" $caopts \
    $( [ "$2" = sm2 ] && echo "-vfyopt distid:1234567812345678" ) \
    -set_serial "$4" -days 30 -extfile ext.cnf -extensions "$1" -outform DER -out "$1.der" 2>/dev/null
  rm -f "$1.csr"
}
issue c1 sm2 sm2ca 0x8A0102030405060708 "/C=CN/O=Certaide Test/OU=Renewal/CN=Alice Sign"
issue c2 sm2 sm2ca 0x0102A2 "/C=CN/O=Certaide Test/OU=Renewal/CN=Alice Encrypt"
issue c3 rsa rsaca 0x7F11 "/C=CN/O=Certaide Test/CN=Bob Sign"
issue c4 rsa rsaca 0x00C4 "/C=US/O=Other Org/CN=Carol Plain"
issue c5 sm2 sm2ca 0x35 "/C=CN/O=Certaide Test/CN=Dave Empty Usage"
printf 'renewal session text 17' > message.txt
openssl dgst -sha256 -sign c3.key -out message.rsasig message.txt
rm -f ext.cnf req.cnf
