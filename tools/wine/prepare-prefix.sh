#!/bin/sh
# Creates a Wine prefix once (several callers may race: one makes it under a lock).
set -e
prefix=$1
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/system.reg" ]; then
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
  # The server writes the registry files when it ends.
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
fi
