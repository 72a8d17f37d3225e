#!/usr/bin/env bash
# The release's backports suite, for packages whose Debian 12 version is too
# old (qemu-user-static, osslsigncode). Sourced by tools/setup.sh and
# tools/x86-host.sh.

# The first Debian archive this machine's apt already uses (its own mirror).
debian_mirror() {
  local uri
  uri=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -v security | head -n1)
  [ -n "$uri" ] || uri=$(grep -hs '^deb ' /etc/apt/sources.list | awk '{print $2}' | grep -v security | head -n1)
  printf '%s' "$uri"
}

debian_codename() { (. /etc/os-release && echo "$VERSION_CODENAME"); }

# Makes sure apt knows <codename>-backports, adding it from apt's own mirror
# when missing (then apt-get update runs). On failure prints why and returns 1.
backports_enable() {
  local codename mirror list=/etc/apt/sources.list.d/certaide-backports.sources
  codename=$(debian_codename)
  if apt-cache policy 2>/dev/null | grep -q "$codename-backports"; then return 0; fi
  mirror=$(debian_mirror)
  if [ -z "$mirror" ]; then echo "no Debian mirror found in apt's sources"; return 1; fi
  printf '[apt] adding %s-backports\n' "$codename" >&2
  cat > "$list" <<EOT
Types: deb
URIs: $mirror
Suites: $codename-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOT
  apt-get update -q >&2 || true
}

# Installs packages from <codename>-backports; prints why on failure.
backports_install() {
  local codename; codename=$(debian_codename)
  backports_enable || return 1
  if ! apt-get install -y -q --no-install-recommends -t "$codename-backports" "$@" >&2; then
    echo "$* could not be installed from $codename-backports"; return 1
  fi
}
