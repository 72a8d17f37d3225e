#!/bin/sh
# Fails when a Windows binary imports a DLL that Windows itself does not
# provide (the mingw runtime, a DLL build of a dependency, ...). Wine's own
# DLL folder for the architecture stands for "the system's DLLs".
# usage: check-imports.sh OBJDUMP WINE_DLL_DIR BINARY...
objdump=$1 dlldir=$2; shift 2
status=0
for bin in "$@"; do
  for dll in $("$objdump" -p "$bin" | sed -n 's/^\s*DLL Name: //p'); do
    lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    case "$lower" in
      libgcc*|libstdc++*|libwinpthread*|zlib1.dll|libcrypto*|libssl*) ok=no ;;
      api-ms-win-*|ext-ms-win-*) ok=yes ;;
      *) if [ -f "$dlldir/$lower" ]; then ok=yes; else ok=no; fi ;;
    esac
    if [ "$ok" = no ]; then
      echo "$(basename "$bin") imports $dll, which is not a system DLL"
      status=1
    fi
  done
done
[ $status = 0 ] && echo "$# binaries import system DLLs only"
exit $status
