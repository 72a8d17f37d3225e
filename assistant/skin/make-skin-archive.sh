#!/usr/bin/env bash
# Zips Certaide's skin with Info-ZIP, every entry encrypted with the skin
# password.  usage: make-skin-archive.sh SKIN_DIR OUT_ZIP PASSWORD [without-main]
# "without-main" leaves the main window's layout id out of resource.xml (a
# broken copy for the tests).
set -euo pipefail
src=$1 out=$2 password=$3 variant=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$src"/*.xml "$work"/
mkdir -p "$work/images"
cp "$src"/images/* "$work/images/"
if [ "$variant" = without-main ]; then
  sed -i '/id="XML_MAIN"/d' "$work/resource.xml"
fi
rm -f "$out"
cd "$work"
zip -q -X -P "$password" "$out" *.xml images/*
