#!/usr/bin/env bash
# Builds the test skin with Info-ZIP: the skin folder (sources, generated
# files and the font) and the archives the tests read.
#   usage: make-skin-archives.sh SKIN_SOURCE OUT_DIR FONT_FILE PASSWORD
# OUT_DIR/skin/          the skin as a folder (every entry's source file)
# OUT_DIR/skin.zip       encrypted (deflated and stored), plain and bzip2 entries
# OUT_DIR/skin64.zip     the same skin files in a zip64 archive
# OUT_DIR/truncated.zip  the first half of skin.zip
# OUT_DIR/flipped.zip    skin.zip with one byte of plain/flip.txt's data changed
# OUT_DIR/manifest.txt   one line per file entry: "enc|plain|bzip2 NAME"
set -euo pipefail
src=$1 out=$2 font=$3 password=$4
skin=$out/skin
rm -rf "$skin" "$out"/*.zip "$out/manifest.txt"
mkdir -p "$skin/big" "$skin/fonts"
cp -r "$src"/. "$skin"/
cp "$font" "$skin/fonts/"

# Generated layouts and data: large, empty and the size limit.
seq 1 100000 > "$skin/big/seq.txt"
cp "$skin/big/seq.txt" "$skin/stored/seq.txt"
mkdir -p "$skin/bzip2"
seq 1 3000 > "$skin/bzip2/numbers.txt"
: > "$skin/big/empty.xml"
make_layout() {   # size in bytes, file
  local head='<Big text="' tail='"/>'
  { printf '%s' "$head"; head -c $(( $1 - ${#head} - ${#tail} )) /dev/zero | tr '\0' a; printf '%s' "$tail"; } > "$2"
}
make_layout 4194304 "$skin/big/4mib.xml"
make_layout 4194305 "$skin/big/4mib1.xml"

cd "$skin"
manifest=$out/manifest.txt
add() {   # kind, zip options..., -- files...
  local kind=$1; shift
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  zip -q -X "${opts[@]}" "$out/skin.zip" "$@"
  local f
  for f in "$@"; do printf '%s %s\n' "$kind" "$f" >> "$manifest"; done
}
enc_deflated=(resource.xml lan_cn.xml layouts/main.xml layouts/nested/child.xml windows/frame.xml images/button.png
  images/button@150.png images/rule.png images/rule@150.png images/resource.png images/tile.bmp
  order/which.png fonts/"$(basename "$font")" big/seq.txt big/empty.xml big/4mib.xml big/4mib1.xml)
add enc -P "$password" -- "${enc_deflated[@]}"
add enc -P "$password" -0 -- stored/dialog.xml stored/seq.txt
add plain -- plain/readme.txt
add plain -0 -- plain/flip.txt
add bzip2 -P "$password" -Z bzip2 -- bzip2/numbers.txt
# The GIF test files, but for the one that only the folder has.
add enc -P "$password" -- $(cd "$src" && ls gif/*.gif | grep -v '^gif/folderonly\.gif$')
# Directory entries too.
zip -q -X "$out/skin.zip" layouts/ images/

zip -q -X -fz -P "$password" -r "$out/skin64.zip" layouts images resource.xml lan_cn.xml big/seq.txt

size=$(stat -c %s "$out/skin.zip")
head -c $(( size / 2 )) "$out/skin.zip" > "$out/truncated.zip"

cp "$out/skin.zip" "$out/flipped.zip"
offset=$(grep -obUa 'FLIP-MARKER' "$out/flipped.zip" | head -n1 | cut -d: -f1)
byte=$(od -An -tu1 -j $(( offset + 20 )) -N1 "$out/flipped.zip" | tr -d ' ')
printf "\\$(printf '%03o' $(( byte ^ 0x20 )))" |
  dd of="$out/flipped.zip" bs=1 seek=$(( offset + 20 )) conv=notrunc status=none
