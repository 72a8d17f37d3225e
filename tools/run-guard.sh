# shellcheck shell=bash
# Sourced: keeps account of what a run starts, so that it can stop it and
# show at its end that nothing it started is still running.
#
#   run_guard_begin            marks this shell's environment with a fresh
#                              CERTAIDE_RUN_MARK; every process started from
#                              here on inherits it, detached ones (setsid) and
#                              Wine's processes included
#   run_guard_on_exit CMD ARG... remembers a stop: a command and its arguments,
#                              each kept as one word
#   run_guard_stop_all         runs the remembered stops, the last one first;
#                              a stop that fails is named on stderr, the others
#                              still run, and the call returns 1
#   run_guard_leftovers        prints "PID COMMAND LINE" for each process that
#                              carries this run's mark and is still running
#                              (the calling shell and its ancestors excepted)
#   run_guard_check [SECONDS]  waits up to SECONDS (default 10) for the marked
#                              processes to end; those still running are listed
#                              on stderr and ended, and the call returns 1

run_guard_stops=()

run_guard_begin() {
  CERTAIDE_RUN_MARK="$$.$(date +%s%N)"
  export CERTAIDE_RUN_MARK
}

run_guard_on_exit() {
  run_guard_stops+=("$(printf '%q ' "$@")")
}

run_guard_stop_all() {
  local i rc=0
  for ((i = ${#run_guard_stops[@]} - 1; i >= 0; i--)); do
    eval "${run_guard_stops[i]}" ||
      { echo "stop failed (exit $?): ${run_guard_stops[i]% }" >&2; rc=1; }
  done
  run_guard_stops=()
  return "$rc"
}

# Builtins only while scanning: a forked helper would carry the mark itself.
run_guard_leftovers() {
  [ -n "${CERTAIDE_RUN_MARK:-}" ] || return 0
  local mark="CERTAIDE_RUN_MARK=$CERTAIDE_RUN_MARK"
  local -A mine=()
  local p=$BASHPID key value
  while [ -n "$p" ] && [ "$p" != 0 ]; do
    mine[$p]=1
    value=
    while read -r key value; do [ "$key" = PPid: ] && break; value=; done 2>/dev/null <"/proc/$p/status"
    p=$value
  done
  local dir pid entry marked
  local -a env args
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    [ -z "${mine[$pid]:-}" ] || continue
    env=()
    mapfile -d '' -t env 2>/dev/null <"$dir/environ" || continue
    marked=
    for entry in "${env[@]}"; do
      if [ "$entry" = "$mark" ]; then marked=1; break; fi
    done
    [ -n "$marked" ] || continue
    args=()
    mapfile -d '' -t args 2>/dev/null <"$dir/cmdline" || continue
    [ "${#args[@]}" -gt 0 ] || continue   # a zombie, already ended
    echo "$pid ${args[*]}"
  done
}

run_guard_check() {
  local seconds=${1:-10} left i pid rest
  for ((i = 0; i < seconds * 5; i++)); do
    left=$(run_guard_leftovers)
    [ -n "$left" ] || return 0
    sleep 0.2
  done
  echo "left running after the run (now ended):" >&2
  while read -r pid rest; do echo "  pid $pid $rest" >&2; kill "$pid" 2>/dev/null || true; done <<<"$left"
  sleep 1
  left=$(run_guard_leftovers)
  while read -r pid rest; do [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true; done <<<"$left"
  return 1
}
