#!/usr/bin/env bash
# The main job: builds everything, starts the virtual key and runs the SKF
# demo application under Wine: it loads Keylinq.dll by name, lists the keys,
# connects to each and prints its device information. It runs the x86 build
# where this host runs 32-bit programs (natively or emulated), else the x64
# build, and says so.
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
arch=x86
if [ "$X86_MODE" = none ]; then
  arch=x64
  echo "x86 demo not run: this host cannot run 32-bit programs ($X86_WHY); running the x64 build"
fi

vendor=$(sed -n 's/^KEYLINQ_USB_VENDOR_ID:STRING=//p' "$build/$arch/CMakeCache.txt")
state="$build/demo/virtual-key"
vk="$root/tests/fixtures/virtual-key"
# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
cleanup() {
  "$vk/stop-virtual-key.sh" "$state" >/dev/null 2>&1 || true
  wine_session_stop
  if [ -n "$remove_handler" ]; then x86_handler_remove || true; fi
}
trap cleanup EXIT
"$vk/start-virtual-key.sh" "$build/host/virtual-key/virtual_key" "$state" --vid "${vendor:-0x3A5C}"
wine_session_start "$build/$arch/wineprefix"

KEYLINQ_VIRTUAL_KEY_PORT_FILE="$state/port" "$build/$arch/wine-run" "$build/$arch/keylinq/skf_demo.exe"
