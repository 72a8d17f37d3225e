# Sourced: starts a private Xvfb display and keeps the wineserver of each
# given prefix warm for a test run; wine_session_stop ends exactly those.
# Each prefix is a build tree's own (BUILD/<arch>/wineprefix): it is made and
# started through that tree's wine-run, so with that architecture's loader.
# Set the EXIT trap before calling wine_session_start: a start that fails
# half-way must not leave its Xvfb or wineserver running.
wine_session_prefixes=()
wine_session_xvfb=

wine_session_start() {
  # Windows need a display before the wineserver starts: a private one.
  local fifo; fifo=$(mktemp -u); mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  wine_session_xvfb=$!
  local num; read -r num <"$fifo"; rm -f "$fifo"
  export DISPLAY=":$num"
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  local p run
  for p in "$@"; do
    mkdir -p "$(dirname "$p")"
    p="$(cd "$(dirname "$p")" && pwd)/$(basename "$p")"   # Wine wants absolute prefixes
    run="$(dirname "$p")/wine-run"
    [ -x "$run" ] || { echo "wine session: no $run (configure that tree first)" >&2; return 1; }
    "$run" --prepare
    wine_session_prefixes+=("$p")
    WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true   # a server from before may lack the display
    WINEPREFIX="$p" wineserver -p
    # Start the prefix's services now, detached from our output: started by
    # the first test, they would inherit its output pipe and CTest would wait
    # for them to close it.
    "$run" wineboot.exe >/dev/null 2>&1 </dev/null
  done
}

wine_session_stop() {
  local p
  for p in "${wine_session_prefixes[@]}"; do
    WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true
  done
  wine_session_prefixes=()
  if [ -n "$wine_session_xvfb" ]; then
    kill "$wine_session_xvfb" 2>/dev/null || true
    wait "$wine_session_xvfb" 2>/dev/null || true
    wine_session_xvfb=
  fi
}
