#!/usr/bin/env bash
# The run guard (tools/run-guard.sh) and the Certaide scenario's stops, which
# use it: stops keep their arguments and a failed one is reported; processes
# of a run are found, even detached, and ended; a scenario that fails half-way
# leaves neither its virtual key nor its test server running.
# usage: run-guard-tests.sh HOST_TREE   (the tree with virtual_key, test_server)
set -uo pipefail
host_tree=$(cd "$1" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
guard="$root/tools/run-guard.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

check() {   # check WHAT ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then echo "ok   $1"; else
    echo "FAIL $1"; echo "     got:      $2"; echo "     expected: $3"; failures=$((failures + 1))
  fi
}
holds() {   # holds WHAT COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
gone() { ! kill -0 "$1" 2>/dev/null; }

# Stops run last first, each with its own words; a failing one is named and
# the others still run.
stops() {
  local d="$work/stops" rc
  mkdir -p "$d"
  (
    . "$guard"
    run_guard_on_exit sh -c 'printf "%s|" "$@" >>"$0"' "$d/order" "first stop" 'a*b'
    run_guard_on_exit false
    run_guard_on_exit sh -c 'printf "%s|" "$@" >>"$0"' "$d/order" "last stop"
    run_guard_stop_all 2>"$d/err"
  )
  rc=$?
  check "stops: last first, arguments intact" "$(cat "$d/order")" "last stop|first stop|a*b|"
  check "stops: a failed stop fails the call" "$rc" 1
  check "stops: a failed stop is named" "$(cat "$d/err")" "stop failed (exit 1): false"
}

# A detached process of the run is found and ended; one from before the mark
# is not the run's; once everything has ended the check passes silently.
leftovers() {
  local d="$work/leftovers"
  mkdir -p "$d"
  (
    failures=0
    . "$guard"
    sleep 300 & before=$!
    run_guard_begin
    setsid sleep 301 </dev/null >/dev/null 2>&1 & detached=$!
    sleep 0.2
    left=$(run_guard_leftovers)
    check "leftovers: the detached process is listed" "$left" "$detached sleep 301"
    run_guard_check 1 2>"$d/err"
    check "leftovers: the check fails" "$?" 1
    check "leftovers: the report names it" "$(cat "$d/err")" \
      "$(printf 'left running after the run (now ended):\n  pid %s sleep 301' "$detached")"
    wait "$detached" 2>/dev/null
    holds "leftovers: it has been ended" gone "$detached"
    run_guard_check 1 2>"$d/err2"
    check "leftovers: nothing left passes" "$?:$(cat "$d/err2")" "0:"
    kill "$before"
    exit "$failures"
  )
  failures=$((failures + $?))
}

# The scenario started its own fixtures and fails at provisioning: its exit
# must stop both (an output folder with a space in its path).
scenario_fails_half_way() {
  local base="$work/run dir" tree f
  tree="$base/x86"
  for f in CMakeCache.txt assistant/Certaide.exe tests/assistant/driver/CertaideDrive.exe \
           tests/assistant/support/provision_key.exe tests/SKFCryptoKernel/signed-keylinq/Keylinq.dll; do
    mkdir -p "$(dirname "$tree/$f")"; : >"$tree/$f"
  done
  printf '#!/bin/sh\necho "no Wine here: $*" >&2\nexit 1\n' >"$tree/wine-run"
  chmod +x "$tree/wine-run"
  ln -s "$host_tree" "$base/host"
  (
    failures=0
    . "$guard"
    run_guard_begin
    env -u KEYLINQ_VIRTUAL_KEY_PORT_FILE -u TEST_SERVER_PORT_FILE \
      bash "$root/tests/assistant/driver/certaide-scenario.sh" short "$tree" "$base/out" >"$base/log" 2>&1
    check "scenario: fails at provisioning" "$?" 1
    holds "scenario: had started the test server" test -f "$base/out/test-server/log"
    run_guard_check 5 2>"$base/left"
    check "scenario: nothing left running" "$?:$(cat "$base/left")" "0:"
    exit "$failures"
  )
  failures=$((failures + $?))
  if [ "$failures" -gt 0 ]; then cat "$base/log"; fi
}

stops
leftovers
scenario_fails_half_way
[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failed"; exit 1; }
