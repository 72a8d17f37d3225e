#!/usr/bin/env bash
# Regenerates the GIF test files and compares them byte for byte with the
# checked-in ones.   usage: check-gif-fixtures.sh GENERATOR SOURCE_DIR OUT_DIR
set -euo pipefail
generator=$1 src=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
"$generator" "$out"
status=0
for f in "$out"/*; do
  name=$(basename "$f")
  if ! cmp "$f" "$src/$name"; then status=1; fi
done
count=$(ls "$out" | wc -l)
checked=$(ls "$src"/*.gif "$src"/*.gif.txt | wc -l)
if [ "$count" != "$checked" ]; then
  echo "the folder holds $checked GIF files and manifests, the generator writes $count"
  status=1
fi
exit $status
