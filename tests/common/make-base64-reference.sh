#!/bin/sh
# Random inputs and their Base64 text as the host's openssl writes it, on
# one line (-A) and in its own 64-column lines.
set -e
dir=$1
rm -rf "$dir"; mkdir -p "$dir"
for n in 1 2 3 56 57 58 59 60 61 113 114 1000 4096 65537; do
  openssl rand -out "$dir/$n.bin" "$n"
  openssl base64 -A -in "$dir/$n.bin" -out "$dir/$n.oneline"
  openssl base64 -in "$dir/$n.bin" -out "$dir/$n.lines"
done
echo "1 2 3 56 57 58 59 60 61 113 114 1000 4096 65537" > "$dir/sizes"
