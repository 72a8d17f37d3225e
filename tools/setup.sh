#!/usr/bin/env bash
# Installs and builds everything the project needs on a Debian 12 machine.
# Safe to run again: every step checks whether its result is already there.
#
#   DEPS_CACHE   where third-party builds are kept (default ~/.cache/certaide-keylinq-deps)
#   CERTAIDE_X86 auto | emulate | none: how 32-bit programs run (tools/x86-host.sh)
#
# Prints the cache folder on its last line of output ("DEPS_CACHE=...").
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DEPS_CACHE=${DEPS_CACHE:-$HOME/.cache/certaide-keylinq-deps}
export DEBIAN_FRONTEND=noninteractive
jobs=$(nproc)

log() { printf '[setup] %s\n' "$*" >&2; }

# ---------------------------------------------------------------- packages
packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64
  libz-mingw-w64-dev libstb-dev googletest ccache ninja-build cmake g++ make perl
  libssl-dev openssl dpkg-dev xz-utils bzip2 xxd xvfb xauth wine wine64 wine32:i386
  zip fonts-dejavu-core fonts-wqy-microhei libgif-dev
  # the palette test's colour reference
  python3
  # the test server's XML parser (host side only)
  libexpat1-dev
)

need_install=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need_install+=("$p")
done

src_list=/etc/apt/sources.list.d/certaide-deb-src.sources
if [ ! -f "$src_list" ] && ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  log "adding deb-src entries"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  cat > "$src_list" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  need_update=1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "enabling the i386 architecture"
  dpkg --add-architecture i386
  need_update=1
fi

if [ "${#need_install[@]}" -gt 0 ] || [ -n "${need_update:-}" ]; then
  log "apt-get update"
  apt-get update -q >&2
fi
if [ "${#need_install[@]}" -gt 0 ]; then
  log "installing: ${need_install[*]}"
  apt-get install -y -q --no-install-recommends "${need_install[@]}" >&2
fi

# osslsigncode signs the code-signing test samples; its built-in time-stamp
# authority needs 2.6 or later, which Debian 12 has in its backports only.
# shellcheck source=tools/backports.sh
. "$here/backports.sh"
osslsigncode_ok() {
  local v; v=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null) || return 1
  dpkg --compare-versions "$v" ge 2.6
}
if ! osslsigncode_ok; then
  log "installing osslsigncode (2.6 or later) from the release's backports"
  why=$(backports_install osslsigncode) || log "osslsigncode unavailable: $why (the signing tests will fail)"
  osslsigncode_ok || log "osslsigncode is older than 2.6: the signing tests will fail"
fi

# The 32-bit Wine loader: native, or emulated where the kernel cannot run
# i386 programs (see tools/x86-host.sh; CERTAIDE_X86 switches it).
# shellcheck source=tools/x86-host.sh
. "$here/x86-host.sh"
x86_host_prepare

mkdir -p "$DEPS_CACHE/src"

# ---------------------------------------------------------------- sources
# Fetches the upstream tarball of a Debian source package into the cache.
# Only the upstream sources are used; the mirror may lack the Debian part
# of one version, so each listed version is tried in turn.
fetch_source() {
  local pkg=$1 pattern=$2 found
  found=$(ls "$DEPS_CACHE/src"/$pattern 2>/dev/null | head -n1 || true)
  if [ -n "$found" ]; then echo "$found"; return; fi
  log "fetching the source of $pkg"
  local tmp; tmp=$(mktemp -d)
  local v
  for v in $(apt-cache showsrc "$pkg" | awk '/^Version:/{print $2}' | sort -Vr | uniq); do
    (cd "$tmp" && apt-get source -q --download-only "$pkg=$v" >/dev/null 2>&1) || true
    found=$(ls "$tmp"/$pattern 2>/dev/null | head -n1 || true)
    [ -n "$found" ] && break
  done
  if [ -z "$found" ]; then log "no source of $pkg could be fetched"; exit 1; fi
  mv "$found" "$DEPS_CACHE/src/"
  rm -rf "$tmp"
  ls "$DEPS_CACHE/src"/$pattern | head -n1
}

openssl_tar=$(fetch_source openssl 'openssl_3.0.*.orig.tar.gz')
zlib_tar=$(fetch_source zlib 'zlib_*.orig.tar.*')
openssl_ver=$(basename "$openssl_tar" | sed -E 's/openssl_(.*)\.orig\.tar\.gz/\1/')

# ---------------------------------------------------------------- OpenSSL
# build_openssl ARCH TARGET PREFIX OPTIONS... : static libcrypto into the cache,
# keyed by version, architecture and options.
build_openssl() {
  local arch=$1 target=$2 cross=$3; shift 3
  local opts=("no-shared" "no-tests" "$@")
  local key; key=$(printf '%s ' "${opts[@]}" | md5sum | cut -c1-8)
  local dest="$DEPS_CACHE/openssl-$openssl_ver-$arch-$key"
  if [ -f "$dest/.done" ]; then echo "$dest"; return; fi
  log "building OpenSSL $openssl_ver for $arch (${opts[*]})"
  local work; work=$(mktemp -d)
  tar -xzf "$openssl_tar" -C "$work"
  local dir; dir=$(ls -d "$work"/openssl-*)
  rm -rf "$dest"
  (cd "$dir" && ./Configure "$target" --cross-compile-prefix="$cross" --prefix="$dest" \
      --libdir=lib "${opts[@]}" >"$work/configure.log" 2>&1 \
    && make -j"$jobs" build_libs >"$work/make.log" 2>&1 \
    && make install_dev >"$work/install.log" 2>&1) \
    || { log "OpenSSL build failed; logs in $work"; tail -n 30 "$work"/*.log >&2; exit 1; }
  printf '%s\n' "${opts[@]}" > "$dest/options.txt"
  touch "$dest/.done"
  rm -rf "$work"
  echo "$dest"
}

ossl_x86=$(build_openssl x86 mingw i686-w64-mingw32-)
ossl_x64=$(build_openssl x64 mingw64 x86_64-w64-mingw32-)
# Portable C build, the reference the benchmark compares our own code against.
ossl_x86_noasm=$(build_openssl x86 mingw i686-w64-mingw32- no-asm)
ossl_x64_noasm=$(build_openssl x64 mingw64 x86_64-w64-mingw32- no-asm)

# ---------------------------------------------------------------- minizip
# The skin archive's zip directory is read with minizip's unzip, built here
# from zlib's own source against the mingw zlib.
build_minizip() {
  local arch=$1 cross=$2
  local ver; ver=$(basename "$zlib_tar" | sed -E 's/zlib_(.*)\.orig\.tar\..*/\1/')
  local dest="$DEPS_CACHE/minizip-$ver-$arch"
  if [ -f "$dest/.done" ]; then echo "$dest"; return; fi
  log "building minizip for $arch"
  local work; work=$(mktemp -d)
  tar -xf "$zlib_tar" -C "$work"
  local mz; mz=$(ls -d "$work"/zlib-*/contrib/minizip)
  rm -rf "$dest"; mkdir -p "$dest/include/minizip" "$dest/lib"
  local f
  for f in unzip ioapi iowin32; do
    "${cross}gcc" -O2 -c "$mz/$f.c" -o "$work/$f.o"
    cp "$mz/$f.h" "$dest/include/minizip/"
  done
  cp "$mz/crypt.h" "$dest/include/minizip/"
  "${cross}ar" rcs "$dest/lib/libminizip.a" "$work"/unzip.o "$work"/ioapi.o "$work"/iowin32.o
  touch "$dest/.done"
  rm -rf "$work"
  echo "$dest"
}
mz_x86=$(build_minizip x86 i686-w64-mingw32-)
mz_x64=$(build_minizip x64 x86_64-w64-mingw32-)

# ---------------------------------------------------------------- test skin font
# The UI tests register a font from the skin that the Wine prefix does not
# have: one TTF taken out of Debian's package, never installed on the host.
skin_font="$DEPS_CACHE/fonts/LiberationMono-Regular.ttf"
if [ ! -f "$skin_font" ]; then
  log "extracting the test skin's font"
  font_tmp=$(mktemp -d)
  (cd "$font_tmp" && apt-get download -q fonts-liberation2 >/dev/null 2>&1) \
    || { apt-get update -q >&2 && (cd "$font_tmp" && apt-get download -q fonts-liberation2 >/dev/null); }
  dpkg-deb -x "$font_tmp"/fonts-liberation2_*.deb "$font_tmp/root"
  mkdir -p "$DEPS_CACHE/fonts"
  cp "$font_tmp/root/usr/share/fonts/truetype/liberation2/LiberationMono-Regular.ttf" "$skin_font"
  rm -rf "$font_tmp"
fi
# ---------------------------------------------------------------- end of test skin font

cat > "$DEPS_CACHE/deps-x86.cmake" <<EOF
set(OPENSSL_PREFIX "$ossl_x86" CACHE PATH "")
set(OPENSSL_NOASM_PREFIX "$ossl_x86_noasm" CACHE PATH "")
set(MINIZIP_PREFIX "$mz_x86" CACHE PATH "")
EOF
cat > "$DEPS_CACHE/deps-x64.cmake" <<EOF
set(OPENSSL_PREFIX "$ossl_x64" CACHE PATH "")
set(OPENSSL_NOASM_PREFIX "$ossl_x64_noasm" CACHE PATH "")
set(MINIZIP_PREFIX "$mz_x64" CACHE PATH "")
EOF

echo "DEPS_CACHE=$DEPS_CACHE"
