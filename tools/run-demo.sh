#!/usr/bin/env bash
# The main job: builds everything, starts the virtual key and runs the SKF
# demo application under Wine (x86 tree): it loads Keylinq.dll by name,
# lists the keys, connects to each and prints its device information.
#   BUILD_ROOT   build folder (default: build/ in the checkout)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD_ROOT:-$root/build}
export DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}

bash "$root/tools/setup.sh"
bash "$root/tools/build.sh" "$build"

vendor=$(sed -n 's/^KEYLINQ_USB_VENDOR_ID:STRING=//p' "$build/x86/CMakeCache.txt")
state="$build/demo/virtual-key"
vk="$root/tests/fixtures/virtual-key"
# shellcheck source=tools/wine/session.sh
. "$root/tools/wine/session.sh"
cleanup() {
  "$vk/stop-virtual-key.sh" "$state" >/dev/null 2>&1 || true
  wine_session_stop
}
trap cleanup EXIT
"$vk/start-virtual-key.sh" "$build/host/virtual-key/virtual_key" "$state" --vid "${vendor:-0x3A5C}"
wine_session_start "$build/x86/wineprefix"

KEYLINQ_VIRTUAL_KEY_PORT_FILE="$state/port" "$build/x86/wine-run" "$build/x86/keylinq/skf_demo.exe"
