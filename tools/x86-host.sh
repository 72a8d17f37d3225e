#!/usr/bin/env bash
# Whether this host can run the 32-bit Wine loader, and user-mode emulation
# where its kernel cannot (some kernels run 64-bit user code only: every
# i386 program then fails with "Exec format error").
#
# Sourced by tools/setup.sh (x86_host_prepare) and by the harness
# (x86_host_mode); also a command: tools/x86-host.sh prepare|mode|remove-handler.
#
#   CERTAIDE_X86=auto      (default) native where the kernel runs i386 programs,
#                          else emulated by qemu-user through binfmt_misc
#   CERTAIDE_X86=emulate   use the emulation even where the kernel could run
#                          i386 programs itself (to try that path on such a host)
#   CERTAIDE_X86=none      pretend the host cannot run 32-bit programs and
#                          forbid emulation: the x86 Wine tests are not run

# shellcheck source=tools/backports.sh
. "$(dirname "${BASH_SOURCE[0]}")/backports.sh"

X86_LOADER=/usr/lib/wine/wine
X86_BINFMT_DIR=/proc/sys/fs/binfmt_misc
X86_HANDLER=$X86_BINFMT_DIR/qemu-i386
X86_QEMU=/usr/bin/qemu-i386-static
X86_QEMU_MIN_MAJOR=10
# Why emulation could not be set up, kept for the harness's "not run" line.
X86_STATUS_FILE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}/x86-emulation-failed

x86_log() { printf '[x86] %s\n' "$*" >&2; }

x86_switch() {
  case "${CERTAIDE_X86:-auto}" in
    auto|emulate|none) echo "${CERTAIDE_X86:-auto}" ;;
    *) x86_log "CERTAIDE_X86=${CERTAIDE_X86} is not one of auto, emulate, none; using auto"; echo auto ;;
  esac
}

# The 32-bit Wine loader runs (natively or through a registered handler).
x86_loader_runs() {
  [ -x "$X86_LOADER" ] && "$X86_LOADER" --version >/dev/null 2>&1
}

x86_loader_error() {
  local out
  out=$("$X86_LOADER" --version 2>&1 >/dev/null) || true
  printf '%s' "${out:-the 32-bit Wine loader fails}" | head -n1
}

# Our i386 handler is registered, enabled and uses the qemu we installed.
x86_handler_active() {
  [ -r "$X86_HANDLER" ] && grep -qx enabled "$X86_HANDLER" \
    && grep -q "^interpreter $X86_QEMU\$" "$X86_HANDLER" && grep -q '^flags:.*F' "$X86_HANDLER"
}

x86_handler_remove() {
  if [ -e "$X86_HANDLER" ]; then
    echo -1 > "$X86_HANDLER" && x86_log "removed the i386 binfmt handler"
  fi
}

x86_qemu_major() {
  { dpkg-query -W -f='${Version}' qemu-user-static 2>/dev/null || true; } | sed -E 's/^[0-9]+://; s/[.].*//'
}

# Installs qemu-user-static (a version whose Wine start-up is fast enough:
# Debian 12's own 7.2 costs about 50 s per Wine process) from backports.
x86_install_qemu() {
  local major; major=$(x86_qemu_major)
  if [ -n "$major" ] && [ "$major" -ge "$X86_QEMU_MIN_MAJOR" ] && [ -x "$X86_QEMU" ]; then return 0; fi
  x86_log "installing qemu-user-static and binfmt-support from the release's backports"
  backports_install qemu-user-static binfmt-support || return 1
  major=$(x86_qemu_major)
  if [ -z "$major" ] || [ "$major" -lt "$X86_QEMU_MIN_MAJOR" ]; then
    echo "qemu-user-static ${major:-?} is older than $X86_QEMU_MIN_MAJOR"; return 1
  fi
}

# Registers qemu for i386 ELF programs with flag F (the interpreter is opened
# at registration, so it is found in every mount namespace). Debian's package
# registers no i386 format on an amd64 host: it counts i386 as native.
x86_register_handler() {
  if [ ! -e "$X86_BINFMT_DIR/register" ]; then
    mount -t binfmt_misc binfmt_misc "$X86_BINFMT_DIR" 2>/dev/null \
      || { echo "binfmt_misc cannot be mounted on $X86_BINFMT_DIR"; return 1; }
  fi
  x86_handler_active && return 0
  if [ -e "$X86_HANDLER" ]; then echo -1 > "$X86_HANDLER"; fi
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$X86_QEMU:F" > "$X86_BINFMT_DIR/register" 2>/dev/null \
    || { echo "the i386 handler cannot be registered with binfmt_misc"; return 1; }
  x86_log "registered $X86_QEMU for i386 programs"
}

# Set-up: makes the 32-bit loader runnable where the switch allows it.
# Never fails the set-up: a host limit only means the x86 Wine tests are
# not run; the reason is kept for the harness.
x86_host_prepare() {
  local switch why; switch=$(x86_switch)
  rm -f "$X86_STATUS_FILE"
  case "$switch" in
    none) return 0 ;;
    auto) x86_loader_runs && return 0 ;;
  esac
  if [ "$(id -u)" != 0 ]; then
    why="emulation needs root to install qemu and register it"
  elif why=$(x86_install_qemu) && why=$(x86_register_handler); then
    x86_loader_runs && return 0
    why="the 32-bit Wine loader fails under qemu: $(x86_loader_error)"
  fi
  x86_log "x86 emulation unavailable: $why"
  mkdir -p "$(dirname "$X86_STATUS_FILE")" && printf '%s\n' "$why" > "$X86_STATUS_FILE"
  return 0
}

# Harness: sets X86_MODE (native, emulated or none) and X86_WHY.
x86_host_mode() {
  X86_WHY=
  if [ "$(x86_switch)" = none ]; then
    X86_MODE=none; X86_WHY="CERTAIDE_X86=none pretends so and forbids emulation"
  elif x86_loader_runs; then
    if x86_handler_active; then X86_MODE=emulated; else X86_MODE=native; fi
  else
    X86_MODE=none
    X86_WHY=$(x86_loader_error)
    if [ -s "$X86_STATUS_FILE" ]; then X86_WHY="$X86_WHY; $(head -n1 "$X86_STATUS_FILE")"; fi
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    prepare) x86_host_prepare ;;
    mode) x86_host_mode; echo "$X86_MODE${X86_WHY:+ ($X86_WHY)}" ;;
    remove-handler) x86_handler_remove ;;
    *) echo "usage: $0 prepare|mode|remove-handler" >&2; exit 2 ;;
  esac
fi
