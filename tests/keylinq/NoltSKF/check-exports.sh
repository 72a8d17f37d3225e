#!/bin/sh
# The DLL's export table holds exactly the names of the export list, each
# at its ordinal and undecorated.
# usage: check-exports.sh OBJDUMP DLL EXPORT_LIST
objdump=$1 dll=$2 list=$3
expected=$(grep '^[0-9]' "$list" | awk '{print $1, $2}' | sort)
actual=$("$objdump" -p "$dll" | awk '
  /^Export Address Table -- Ordinal Base/ { base = $NF }
  /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
  table && /^\t\[ *[0-9]+\]/ { line = $0; sub(/^\t\[ */, "", line); split(line, f, /\] /); print f[1] + base, f[2]; next }
  table { table = 0 }' | sort)
if [ "$expected" != "$actual" ]; then
  echo "export table of $dll differs from $list:"
  printf '%s\n' "$expected" >/tmp/expected.$$
  printf '%s\n' "$actual" >/tmp/actual.$$
  diff /tmp/expected.$$ /tmp/actual.$$
  rm -f /tmp/expected.$$ /tmp/actual.$$
  exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exports at their ordinals"
