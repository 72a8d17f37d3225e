#!/usr/bin/env bash
# The main job: builds everything, then, where this host runs 32-bit
# programs (natively or emulated), runs Certaide.exe under Wine and Xvfb
# against the virtual key, the test renewal server and its time-stamp
# service, worked by the application's test driver as a user would
# (tests/assistant/driver/certaide-scenario.sh), then the renewal's fault
# sweep, and prints a summary; journal, logs and screenshots go to
# BUILD_ROOT/demo. Where no x86 program can run it says so in one line and
# runs the x64 SKF demo application instead (it loads Keylinq.dll by name,
# lists the keys, connects to each and prints its device information).
#   BUILD_ROOT    build folder (default: build/ in the checkout)
#   CERTAIDE_X86  auto | emulate | none (tools/x86-host.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_ROOT:-$root/build}
export DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}

# shellcheck source=tools/x86-host.sh
. "$root/tools/x86-host.sh"
remove_handler=
if [ "$(x86_switch)" = emulate ] && ! x86_handler_active; then remove_handler=1; fi

bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" "$build"

x86_host_mode
# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
vk="$root/tests/fixtures/virtual-key"
demo="$build/demo"
cleanup() {
  "$vk/stop-virtual-key.sh" "$demo/virtual-key" >/dev/null 2>&1 || true
  wine_session_stop
  if [ -n "$remove_handler" ]; then x86_handler_remove || true; fi
}
trap cleanup EXIT

if [ "$X86_MODE" = none ]; then
  echo "Certaide not run: this host cannot run 32-bit programs ($X86_WHY); running the x64 SKF demo"
  vendor=$(sed -n 's/^KEYLINQ_USB_VENDOR_ID:STRING=//p' "$build/x64/CMakeCache.txt")
  "$vk/start-virtual-key.sh" "$build/host/virtual-key/virtual_key" "$demo/virtual-key" --vid "${vendor:-0x3A5C}"
  wine_session_start "$build/x64/wineprefix"
  KEYLINQ_VIRTUAL_KEY_PORT_FILE="$demo/virtual-key/port" "$build/x64/wine-run" "$build/x64/keylinq/skf_demo.exe"
  exit 0
fi

rm -rf "$demo"
mkdir -p "$demo"
start=$(date +%s)
wine_session_start "$build/x86/wineprefix"
status=0
bash "$root/tests/assistant/driver/certaide-scenario.sh" full "$build/x86" "$demo" 2>&1 |
  tee "$demo/scenario.log" || status=1
grep -q 'FAILED' "$demo/scenario.log" && status=1
grep -q '^step exit: ok' "$demo/scenario.log" || status=1
scenario_time=$(( $(date +%s) - start ))

# The fault sweep over the renewal's key work, with its own virtual keys.
start=$(date +%s)
if [ -f "$build/x86/tests/assistant/renewal_fault_sweep.exe" ] ||
   ctest --test-dir "$build/x86" -N -R '^renewal_fault_sweep$' 2>/dev/null | grep -q 'renewal_fault_sweep'; then
  ctest --test-dir "$build/x86" -R '^renewal_fault_sweep$' -V >"$demo/fault-sweep.log" 2>&1 || status=1
  sweep="ran"
else
  sweep="not built"
fi
sweep_time=$(( $(date +%s) - start ))

echo
echo "== Certaide main job ($X86_MODE x86) =="
sed -n 's/^\(step .*\)$/  \1/p' "$demo/scenario.log"
sed -n 's/^result /  /p' "$demo/scenario.log"
echo "  screenshots:"
sed -n 's/^capture \(.*\)$/    \1/p' "$demo/scenario.log"
echo "  scenario: ${scenario_time} s"
if [ "$sweep" = ran ]; then
  echo "== fault sweep (${sweep_time} s; log $demo/fault-sweep.log) =="
  # The sweep's own table and summary lines, without CTest's frame.
  sed -n 's/^[0-9]*: //p' "$demo/fault-sweep.log" | grep -v '^\[\|^Test command\|^Working Directory\|^Environment\|^Test timeout\|^ *$' || true
  tail -n 3 "$demo/fault-sweep.log"
else
  echo "fault sweep: not built"
fi
if [ "$status" -eq 0 ]; then echo "main job: ok"; else echo "main job: FAILED"; fi
exit "$status"
