#!/bin/sh
# Creates a Wine prefix once with the given loader (several callers may race:
# one makes it under a lock). usage: prepare-prefix.sh PREFIX LOADER
# A 32-bit tree's prefix is made by the 32-bit loader (it then holds
# syswow64); one made by the 64-bit loader alone serves 64-bit programs only.
set -e
prefix=$1
loader=${2:-/usr/lib/wine/wine}
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
# Wine's services outlive the command that started them: they must not
# inherit the lock (fd 9), or the next caller waits for ever.
if [ ! -f "$prefix/system.reg" ]; then
  WINEPREFIX="$prefix" WINELOADER="$loader" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "$loader" wineboot.exe -i >/dev/null 2>&1 9>&-
  # The server writes the registry files when it ends.
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  [ -f "$prefix/system.reg" ] || { echo "prepare-prefix: $loader could not make $prefix" >&2; exit 1; }
fi
# The dialogs' face "微软雅黑" is Microsoft's; Wine draws it with WenQuanYi
# Micro Hei (fonts-wqy-microhei). Applied once per prefix, older ones too.
fonts_mark="$prefix/.font-replacements-1"
if [ ! -f "$fonts_mark" ]; then
  reg=$(mktemp --suffix=.reg)
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n' \
    | { printf '\377\376'; iconv -f UTF-8 -t UTF-16LE; } >"$reg"
  WINEPREFIX="$prefix" WINELOADER="$loader" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "$loader" regedit.exe /S "Z:$(printf '%s' "$reg" | tr / '\\')" >/dev/null 2>&1 9>&-
  # The server writes the registry files when it ends.
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  rm -f "$reg"
  grep -q '"WenQuanYi Micro Hei"' "$prefix/user.reg" || { echo "prepare-prefix: no font replacement in $prefix" >&2; exit 1; }
  touch "$fonts_mark"
fi
