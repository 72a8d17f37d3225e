#!/bin/sh
# Makes a copy of a tree's prepared Wine prefix whose desktop runs at another
# DPI (HKCU\Control Panel\Desktop\LogPixels), once; safe to run again and
# from several callers at once.
#   usage: prepare-dpi-prefix.sh BASE_PREFIX DPI_PREFIX DPI [LOADER]
# LOADER is the tree's own Wine loader (default the 32-bit one).
set -e
base=$1 prefix=$2 dpi=$3 loader=${4:-/usr/lib/wine/wine}
here=$(cd "$(dirname "$0")" && pwd)
"$here/prepare-prefix.sh" "$base" "$loader"
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.logpixels-$dpi" ] || [ ! -f "$prefix/.font-replacements-1" ]; then
  rm -rf "$prefix"
  cp -a "$base" "$prefix"
  rm -f "$prefix"/.logpixels-*
  export WINEPREFIX="$prefix" WINELOADER="$loader" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$loader" reg.exe add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 9>&-
  # The server writes the registry files when it ends.
  wineserver -k >/dev/null 2>&1 || true
  grep -qi "\"LogPixels\"=dword:$(printf '%08x' "$dpi")" "$prefix/user.reg"
  touch "$prefix/.logpixels-$dpi"
fi
