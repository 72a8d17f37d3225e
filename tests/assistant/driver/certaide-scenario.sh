#!/usr/bin/env bash
# Certaide worked as a user would: provisions the virtual keys, starts
# Certaide.exe (test build) and runs CertaideDrive's scenario against it.
# usage: certaide-scenario.sh full|short TREE OUT
#   TREE  the x86 build tree (its wine-run, prefix, Certaide.exe, programs)
#   OUT   journal, logs, facts and screenshots (created)
# The virtual key and the test server are the caller's when
# KEYLINQ_VIRTUAL_KEY_PORT_FILE and TEST_SERVER_PORT_FILE are set (CTest
# fixtures); otherwise this script starts both in OUT and stops them again.
# "full" also runs the prefix set-up (test CA, test CSP, font map) and puts
# the signed Keylinq.dll into the prefix's 32-bit system folder; "short"
# expects CTest's prefix_setup and keylinq_signed_copies fixtures and names
# the signed copy to Certaide. The Wine session (DISPLAY, wineserver) is the
# caller's. Ends with CertaideDrive's exit code (the failed steps).
set -euo pipefail
mode=$1
tree=$(cd "$2" && pwd)
mkdir -p "$3"
out=$(cd "$3" && pwd)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
host=$(cd "$tree/.." && pwd)/host
run="$tree/wine-run"
certaide=${CERTAIDE_EXE:-$tree/assistant/Certaide.exe}
drive="$tree/tests/assistant/driver/CertaideDrive.exe"
provision="$tree/tests/assistant/support/provision_key.exe"
signed="$tree/tests/SKFCryptoKernel/signed-keylinq/Keylinq.dll"
vendor=$(sed -n 's/^KEYLINQ_USB_VENDOR_ID:STRING=//p' "$tree/CMakeCache.txt")
vendor=${vendor:-0x3A5C}

for f in "$certaide" "$drive" "$provision"; do
  [ -f "$f" ] || { echo "certaide scenario: not built: $f" >&2; exit 1; }
done

# What this script starts is stopped when it ends, however it ends; a stop
# that fails is reported and fails the scenario.
# shellcheck source=tools/run-guard.sh
. "$root/tools/run-guard.sh"
certaide_may_run=
stop_started() {
  local rc=$?
  if [ -n "$certaide_may_run" ] && [ "$rc" -ne 0 ]; then
    # The driver ended early (killed or crashed) and may have left Certaide
    # running: close it as a user would.
    "$run" "$certaide" -exit || echo "certaide scenario: Certaide -exit failed" >&2
  fi
  run_guard_stop_all || [ "$rc" -ne 0 ] || rc=1
  exit "$rc"
}
trap stop_started EXIT
if [ -z "${KEYLINQ_VIRTUAL_KEY_PORT_FILE:-}" ]; then
  vk="$root/tests/fixtures/virtual-key"
  run_guard_on_exit "$vk/stop-virtual-key.sh" "$out/virtual-key"   # also after a start that fails half-way
  "$vk/start-virtual-key.sh" "$host/virtual-key/virtual_key" "$out/virtual-key" --vid "$vendor" >/dev/null
  export KEYLINQ_VIRTUAL_KEY_PORT_FILE="$out/virtual-key/port"
fi
if [ -z "${TEST_SERVER_PORT_FILE:-}" ]; then
  ts="$root/tests/fixtures/test-server"
  run_guard_on_exit "$ts/stop-test-server.sh" "$out/test-server"
  "$ts/start-test-server.sh" "$host/test-server/test_server" "$out/test-server" >/dev/null
  export TEST_SERVER_PORT_FILE="$out/test-server/port"
fi
port=$(cat "$TEST_SERVER_PORT_FILE")

if [ "$mode" = full ]; then
  # The prefix set-up step and the signed key library, where Certaide looks
  # for it: the 32-bit system folder.
  ctest --test-dir "$tree" -R '^(prefix_setup|keylinq_signed_copies)$' >"$out/prefix-setup.log" 2>&1 ||
    { echo "certaide scenario: the prefix set-up failed (see $out/prefix-setup.log)" >&2; exit 1; }
  prefix=$(sed -n 's/^WINEPREFIX="\(.*\)"$/\1/p' "$run")
  system32=$prefix/drive_c/windows/syswow64
  [ -d "$system32" ] || system32=$prefix/drive_c/windows/system32
  cp "$signed" "$system32/Keylinq.dll"
  unset CERTAIDE_KEY_LIBRARY
else
  export CERTAIDE_KEY_LIBRARY="Z:$signed"
fi
[ -f "$signed" ] || { echo "certaide scenario: no signed Keylinq.dll ($signed)" >&2; exit 1; }
export KEYLINQ_DLL="$signed"
# One time zone for host OpenSSL's reading and the window's local times.
export TZ=${TZ:-UTC}

# Key 1 (the SM2 key, the virtual key's first): a certificate ending 30 days
# after the time-stamp service's standing genTime, which lies 170 days
# after the clock; key 2: a new SM key with an RSA-1024 certificate beside
# its SM2 one, valid as long (so that renew is offered and refused). The virtual key's own second key (RSA, unprovisioned) is
# pulled by the driver.
now=$(date +%s)
day=86400
gentime=$((now + 170 * day))
not_after=$((gentime + 30 * day))
not_before=$((not_after - 365 * day))
seal_old=$(printf 'seal S_old of key 1 %s' "$now" | xxd -p | tr -d '\n')
seal_new=$(printf 'seal S_new from the renewal server %s' "$now" | xxd -p | tr -d '\n')
"$run" "$provision" --existing --validity "$not_before" "$not_after" --seal "$seal_old" \
  >"$out/key1.txt" 2>"$out/provision.log" || { cat "$out/provision.log" >&2; exit 1; }
if [ "$mode" = full ]; then
  "$run" "$provision" --rsa --validity "$not_before" "$not_after" --seal "$seal_old" >"$out/key2.txt" 2>>"$out/provision.log" ||
    { cat "$out/provision.log" >&2; exit 1; }
fi

# What host OpenSSL reads from key 1's certificate, as the window shows it:
# issuer most significant part last, the serial in hex, the validity in
# local time, the key type.
fact() { sed -n "s/^$1 //p" "$out/key1.txt" | tr -d '\r'; }
fact SM2_CERT | xxd -r -p >"$out/key1-certificate.der"
x509() { openssl x509 -inform DER -in "$out/key1-certificate.der" -noout "$@"; }
issuer=$(x509 -issuer -nameopt sep_comma_plus_space,dn_rev,sname,utf8,-esc_msb | sed 's/^issuer=//')
serial=$(x509 -serial | sed 's/^serial=//')
local_time() { date -d "$1" '+%Y-%m-%d %H:%M:%S'; }
validity="$(local_time "$(x509 -startdate | sed 's/^notBefore=//')") ~ $(local_time "$(x509 -enddate | sed 's/^notAfter=//')")"
if x509 -text | grep -q 'SM2'; then type=SM2; else
  type="RSA-$(x509 -text | sed -n 's/.*Public-Key: (\([0-9]*\) bit).*/\1/p')"
fi
{
  sed 's/^/KEY1_/' "$out/key1.txt" | tr -d '\r'
  echo "KEY1_SEAL $seal_old"
  if [ -f "$out/key2.txt" ] && [ "$mode" = full ]; then sed 's/^/KEY2_/' "$out/key2.txt" | tr -d '\r'; fi
  echo "EXPECT_ISSUER $issuer"
  echo "EXPECT_SERIAL $serial"
  echo "EXPECT_VALIDITY $validity"
  echo "EXPECT_TYPE $type"
  echo "GENTIME $gentime"
  echo "NEW_SEAL $seal_new"
  echo "VENDOR_ID $vendor"
  echo "SPARE_KEY_ID 2"
} >"$out/facts.txt"

# Certaide's test binding: the servers, the journal.
export CERTAIDE_RENEWAL_URL="https://127.0.0.1:$port/AssistantServer/RequestAction.do"
export CERTAIDE_TIMESTAMP_URL="http://127.0.0.1:$port/timestamp"
export CERTAIDE_JOURNAL="Z:$out/journal.txt"
status=0
certaide_may_run=1
"$run" "$drive" --scenario "$mode" --certaide "$certaide" --facts "$out/facts.txt" --out "$out" || status=$?
exit "$status"
