#!/bin/sh
# Reference results of the raw RSA public-key operation, computed by the
# host's openssl (pkeyutl -verifyrecover without padding), for keys of 1024,
# 2048 and 4096 bits. Per key: n.bin and e.bin (big-endian), and pairs
# <case>.in / <case>.out:
#   random   a full-length input below n
#   leading  an input whose result starts with two zero bytes
#   short    a 20-byte input (the result of the same value left-filled)
set -e
dir=$1
rm -rf "$dir"; mkdir -p "$dir"
cd "$dir"
recover() {  # key, input, output
  openssl pkeyutl -verifyrecover -pubin -inkey "$1" -pkeyopt rsa_padding_mode:none -in "$2" -out "$3"
}
for key in 1024:3 2048:65537 4096:65537; do
  bits=${key%%:*}; exp=${key##*:}
  k=rsa$bits; mkdir "$k"
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$bits -pkeyopt rsa_keygen_pubexp:$exp \
    -out "$k/key.pem" 2>/dev/null
  openssl pkey -in "$k/key.pem" -pubout -out "$k/pub.pem"
  openssl rsa -in "$k/key.pem" -noout -modulus | sed 's/^Modulus=//' | xxd -r -p > "$k/n.bin"
  printf '%06x' "$exp" | xxd -r -p > "$k/e.bin"
  bytes=$((bits / 8))

  # random: a zero first byte keeps the value below n
  { printf '\000'; openssl rand $((bytes - 1)); } > "$k/random.in"
  recover "$k/pub.pem" "$k/random.in" "$k/random.out"

  # leading: the raw private operation on a block that starts with two zero
  # bytes; recovering its result gives that block back, zeros included
  { printf '\000\000'; openssl rand $((bytes - 2)); } > "$k/leading.target"
  openssl pkeyutl -decrypt -inkey "$k/key.pem" -pkeyopt rsa_padding_mode:none -in "$k/leading.target" \
    -out "$k/leading.in"
  recover "$k/pub.pem" "$k/leading.in" "$k/leading.out"
  cmp -s "$k/leading.out" "$k/leading.target"

  # short: 20 bytes; openssl gets them left-filled to the modulus length
  openssl rand 20 > "$k/short.in"
  { head -c $((bytes - 20)) /dev/zero; cat "$k/short.in"; } > "$k/short.padded"
  recover "$k/pub.pem" "$k/short.padded" "$k/short.out"
done
echo "rsa1024 rsa2048 rsa4096" > keys
