#!/usr/bin/env bash
# The project's test command: installs what is missing, builds every tree
# and runs all tests (Windows programs under Wine in each tree's own prefix,
# windows on a private Xvfb display). Safe to run again.
#   BUILD_ROOT    build folder (default: build/ in the checkout)
#   CERTAIDE_X86  auto | emulate | none: how the x86 tree's programs run
#                 (tools/x86-host.sh); where they cannot run at all, the x86
#                 tree runs its host-side checks only and says so.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_ROOT:-$root/build}
export DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}

# shellcheck source=tools/x86-host.sh
. "$root/tools/x86-host.sh"
# Emulation forced on a host whose kernel runs i386 programs itself is
# undone at the end, so that later runs are native again.
remove_handler=
if [ "$(x86_switch)" = emulate ] && ! x86_handler_active; then remove_handler=1; fi

bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" "$build"

x86_host_mode
# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
finish() {
  wine_session_stop
  if [ -n "$remove_handler" ]; then x86_handler_remove || true; fi
}
trap finish EXIT
prefixes=("$build/x64/wineprefix")
[ "$X86_MODE" = none ] || prefixes=("$build/x86/wineprefix" "${prefixes[@]}")
wine_session_start "${prefixes[@]}"
# The copies of those prefixes at another DPI (tests named *_<dpi>dpi),
# made once through their own wine-run.
for p in "${prefixes[@]}"; do
  for run in "$(dirname "$p")"/wine-run-*dpi; do
    if [ -x "$run" ]; then "$run" --prepare; fi
  done
done

jobs=$(nproc)
logs=$(mktemp -d)
status=0
notes=()
for tree in host x86 x64; do
  args=(--output-on-failure -j"$jobs" --timeout 600)
  title=$tree
  if [ "$tree" = x86 ]; then
    case "$X86_MODE" in
      none)
        args+=(-LE wine)
        title="x86 (host-side checks only)"
        notes+=("x86 tests not run: this host cannot run 32-bit programs ($X86_WHY)") ;;
      emulated)
        # Emulated 32-bit code runs several times slower: longer time-outs,
        # and the cases heavy by design are left to the x64 tree.
        args=(--output-on-failure -j"$jobs" --timeout 2400 -LE heavy)
        title="x86 (32-bit programs emulated)"
        heavy=$(cd "$build/x86" && ctest -N -L heavy | sed -n 's/^ *Test *#[0-9]*: //p' | tr '\n' ' ')
        notes+=("x86 under emulation leaves out the heavy cases, run natively in the x64 tree: ${heavy% }") ;;
    esac
  fi
  echo "== tests: $title"
  (cd "$build/$tree" && ctest "${args[@]}") 2>&1 | tee "$logs/$tree.log" || status=1
done

# One line per tree from CTest's own count, then the whole: what did not run
# is never counted as passed.
echo "== summary"
for n in "${notes[@]}"; do echo "$n"; done
total_pass=0; total_fail=0
for tree in host x86 x64; do
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$logs/$tree.log" | tail -n1 || true)
  if [ -z "$line" ]; then
    echo "$tree: no CTest result"; status=1; continue
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  ran=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  echo "$tree: $((ran - failed)) passed, $failed failed"
  total_pass=$((total_pass + ran - failed)); total_fail=$((total_fail + failed))
done
rm -rf "$logs"
[ "$total_fail" -eq 0 ] || status=1
echo "tests: $total_pass passed, $total_fail failed"
exit $status
