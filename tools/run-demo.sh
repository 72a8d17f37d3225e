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
# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
# shellcheck source=tools/run-guard.sh
. "$root/tools/run-guard.sh"
remove_handler=
if [ "$(x86_switch)" = emulate ] && ! x86_handler_active; then remove_handler=1; fi
vk="$root/tests/fixtures/virtual-key"
demo="$build/demo"

# Everything this run starts carries its mark; at the end (ok, failed or
# broken off half-way) what it started is stopped, and a process of the run
# still running is reported, ended, and fails the run.
run_guard_begin
finished=
finish() {
  [ -z "$finished" ] || return 0
  finished=1
  local rc=0
  "$vk/stop-virtual-key.sh" "$demo/virtual-key" || { echo "main job: stopping the virtual key failed" >&2; rc=1; }
  wine_session_stop
  if [ -n "$remove_handler" ]; then x86_handler_remove || true; fi
  run_guard_check || rc=1
  return "$rc"
}
on_exit() {
  local rc=$?
  if ! finish; then
    echo "main job: FAILED (see above: what it started did not all end)"
    [ "$rc" -ne 0 ] || rc=1
  fi
  exit "$rc"
}
trap on_exit EXIT

bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" "$build"

x86_host_mode

if [ "$X86_MODE" = none ]; then
  echo "Certaide not run: this host cannot run 32-bit programs ($X86_WHY); running the x64 SKF demo"
  vendor=$(sed -n 's/^KEYLINQ_USB_VENDOR_ID:STRING=//p' "$build/x64/CMakeCache.txt")
  "$vk/start-virtual-key.sh" "$build/host/virtual-key/virtual_key" "$demo/virtual-key" --vid "${vendor:-0x3A5C}"
  wine_session_start "$build/x64/wineprefix"
  KEYLINQ_VIRTUAL_KEY_PORT_FILE="$demo/virtual-key/port" "$build/x64/wine-run" "$build/x64/keylinq/skf_demo.exe"
  exit 0
fi

# Fixtures an earlier run left in the folder: end exactly those before it goes.
"$vk/stop-virtual-key.sh" "$demo/virtual-key"
"$root/tests/fixtures/test-server/stop-test-server.sh" "$demo/test-server"
rm -rf "$demo"
mkdir -p "$demo"
start=$(date +%s)
wine_session_start "$build/x86/wineprefix"
status=0
# Into a file, shown as it grows: through a pipe, a program that the
# scenario left running with its output would keep this run waiting.
bash "$root/tests/assistant/driver/certaide-scenario.sh" full "$build/x86" "$demo" >"$demo/scenario.log" 2>&1 &
scenario=$!
tail -n +1 -f --pid="$scenario" "$demo/scenario.log"
wait "$scenario" || status=1
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
log=$(tr -d '\r' <"$demo/scenario.log")   # the Windows programs end their lines with CR LF
sed -n 's/^\(step .*\)$/  \1/p' <<<"$log"
sed -n 's/^result /  /p' <<<"$log"
echo "  screenshots:"
# The driver names each capture by its Wine path (Z:\...): print the host's.
sed -n 's/^capture \(.*\.png\)$/\1/p' <<<"$log" | while IFS= read -r shot; do
  case "$shot" in [Zz]:\\*) shot=${shot#??}; shot=${shot//\\//} ;; esac
  if [ -f "$shot" ]; then echo "    $shot"; else echo "    $shot (not found)"; fi
done
sed -n 's/^\(capture .* failed: .*\)$/    \1/p' <<<"$log"
echo "  scenario: ${scenario_time} s"
if [ "$sweep" = ran ]; then
  echo "== fault sweep (${sweep_time} s; log $demo/fault-sweep.log) =="
  # The sweep's own table and summary lines, without CTest's frame.
  sed -n 's/^[0-9]*: //p' "$demo/fault-sweep.log" | grep -v '^\[\|^Test command\|^Working Directory\|^Environment\|^Test timeout\|^ *$' || true
  tail -n 3 "$demo/fault-sweep.log"
else
  echo "fault sweep: not built"
fi
finish || status=1
if [ "$status" -eq 0 ]; then echo "main job: ok"; else echo "main job: FAILED"; fi
exit "$status"
