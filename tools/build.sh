#!/usr/bin/env bash
# Configures and builds the two Windows trees (x86, x64) and the host tree
# of the test fixtures. usage: tools/build.sh [BUILD_ROOT]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}
# The compiler cache hashes paths relative to the checkout, so a fresh clone
# in another folder reuses what an earlier build compiled.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

for arch in x86 x64; do
  if [ ! -f "$build/$arch/build.ninja" ]; then
    cmake -S "$root" -B "$build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" \
      -C "$DEPS_CACHE/deps-$arch.cmake" -DKEYLINQ_TEST_BINDING=ON -DCERTAIDE_TEST_BINDING=ON >/dev/null
  fi
  cmake --build "$build/$arch"
done

if [ ! -f "$build/host/build.ninja" ]; then
  cmake -S "$root/tests/fixtures" -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build/host"
