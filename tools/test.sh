#!/usr/bin/env bash
# The project's test command: installs what is missing, builds every tree
# and runs all tests (Windows programs under Wine in each tree's own prefix,
# windows on a private Xvfb display). Safe to run again.
#   BUILD_ROOT   build folder (default: build/ in the checkout)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_ROOT:-$root/build}
export DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}

bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" "$build"

# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
wine_session_start "$build/x86/wineprefix" "$build/x64/wineprefix"
trap wine_session_stop EXIT
# Copies of the prefixes at 144 DPI, for the tests named *_144dpi.
for tree in x86 x64; do "$root/tools/wine/prepare-dpi-prefix.sh" "$build/$tree/wineprefix" "$build/$tree/wineprefix-144dpi" 144; done

status=0
jobs=$(nproc)
for tree in host x86 x64; do
  echo "== tests: $tree"
  (cd "$build/$tree" && ctest --output-on-failure -j"$jobs" --timeout 600) || status=1
done
exit $status
