# Sourced by the scripts: installs Debian packages that are missing, through
# sudo when not root, saying what it installs and, on failure, why.
sc_sudo=""
[ "$(id -u)" -eq 0 ] || sc_sudo="sudo"

# install_packages PACKAGE...
install_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  echo "installing ${missing[*]}" >&2
  local log
  log=$(mktemp)
  if ! { $sc_sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sc_sudo apt-get install -y -qq \
           --no-install-recommends "${missing[@]}"; } > "$log" 2>&1; then
    echo "apt-get failed to install ${missing[*]}:" >&2
    tail -n 20 "$log" >&2
    rm -f "$log"
    return 100
  fi
  rm -f "$log"
}

# enable_source_packages: deb-src entries for every deb entry, in either
# sources format (one-line sources.list files or deb822 .sources files).
enable_source_packages() {
  grep -rqsE "^(deb-src|Types:.*deb-src)" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    grep -E '^deb ' "$f" | sed 's/^deb /deb-src /' | $sc_sudo tee "/etc/apt/sources.list.d/sc-src-$(basename "$f" .list).list" >/dev/null
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" | $sc_sudo tee "${f%.sources}-src.sources" >/dev/null
  done
  $sc_sudo apt-get update -qq >/dev/null
}
