# Sourced by scripts/bootstrap.sh: apt-get as the package archive really
# behaves. An index mid-sync, a proxy that hiccups or one unreachable suite
# makes `apt-get update` exit 100 although every other index arrived, and a
# package that cannot be installed is named by apt only in a simulation.
#   APT_TRIES  tries of `apt-get update` (3)
#   APT_PAUSE  seconds between them (5)
#   SUDO       prefix for apt-get, empty as root

APT_TRIES=${APT_TRIES:-3}
APT_PAUSE=${APT_PAUSE:-5}
SUDO=${SUDO-}

# apt_update [APT-OPTION…]: retried; when indexes still fail, names them and
# goes on with what arrived (or with the lists already here). Never fails:
# what cannot be had then shows as a package that cannot be installed.
apt_update() {
  local try out failed
  for ((try = 1; ; try++)); do
    out="$($SUDO apt-get "$@" update -qq 2>&1)" && return 0
    [ "$try" -lt "$APT_TRIES" ] || break
    echo "bootstrap: apt-get update failed (try $try of $APT_TRIES), trying again in $APT_PAUSE s"
    sleep "$APT_PAUSE"
  done
  failed="$(sed -nE 's/^[EW]: Failed to fetch ([^ ]+).*/\1/p' <<<"$out")"
  if [ -n "$failed" ]; then
    echo "bootstrap: these indexes failed after $APT_TRIES tries; going on with the rest:"
    sed 's/^/  /' <<<"$failed"
  else
    echo "bootstrap: apt-get update failed after $APT_TRIES tries; going on with the package lists already here:"
    grep -E '^[EW]:' <<<"$out" | sed 's/^/  /' || true
  fi
}

# apt_why PKG [APT-OPTION…]: apt's reason why PKG alone cannot be installed
# (empty when it can). Without -qq apt prints the unmet dependencies.
apt_why() {
  local pkg=$1 out
  shift
  out="$(LC_ALL=C apt-get "$@" install -s --no-install-recommends "$pkg" 2>&1)" && return 0
  # The unmet dependencies (indented, from apt's heading on) and the errors.
  sed -n -e '/unmet dependencies:/,$p' -e '/^E:/p' <<<"$out" | grep -E '^(E:| )' | awk '!seen[$0]++'
}

# apt_install [APT-OPTION…] -- PKG…: installs; when that fails, names each
# package that cannot be installed, with apt's reason, and fails.
apt_install() {
  local opts=() out pkg why named=""
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  echo "bootstrap: installing $*"
  out="$(DEBIAN_FRONTEND=noninteractive $SUDO apt-get "${opts[@]}" install -y -qq --no-install-recommends "$@" 2>&1 >/dev/null)" \
    && return 0
  for pkg in "$@"; do
    why="$(apt_why "$pkg" "${opts[@]}")"
    [ -n "$why" ] || continue
    echo "bootstrap: cannot install $pkg:"
    sed 's/^/  /' <<<"$why"
    named=1
  done
  # Each alone would install: the failure is in the whole (or in dpkg).
  if [ -z "$named" ]; then
    echo "bootstrap: installing $* failed:"
    grep -E '^(E|W|dpkg):' <<<"$out" | sed 's/^/  /' || sed 's/^/  /' <<<"$out"
  fi
  return 1
}
