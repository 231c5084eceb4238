#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
#   bootstrap.sh        everything `make test` uses
#   bootstrap.sh demo   only what the native demo uses
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

missing_of() {  # prints those of the named packages that are not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

updated=""
install() {  # install [-t SUITE] PKG…
  local suite=()
  if [ "$1" = -t ]; then suite=(-t "$2"); shift 2; fi
  echo "bootstrap: installing $*"
  [ -n "$updated" ] || { $SUDO apt-get update -qq; updated=1; }
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${suite[@]}" "$@" >/dev/null
}

install_missing() {
  local missing
  mapfile -t missing < <(missing_of "$@")
  [ ${#missing[@]} -eq 0 ] || install "${missing[@]}"
}

if [ "${1:-}" = demo ]; then
  install_missing cmake make g++ libboost-dev default-jdk-headless
  exit 0
fi

pkgs=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libboost-dev googletest
  wine64 xvfb xdotool x11-utils imagemagick fonts-noto-cjk icoutils locales
  python3 python3-pytest
  default-jdk-headless
  zip libarchive-tools p7zip-full
  hyperfine time
  osslsigncode openssl
)

# The product is a 32-bit program: its tests need Debian's i386 Wine, with
# its preloader (without it Wine's start-up reservations are slow and fragile).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "bootstrap: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  updated=1
fi
pkgs+=(wine32:i386 wine32-preloader:i386)
install_missing "${pkgs[@]}"

# A kernel without IA-32 emulation runs i386 through qemu (scripts/i386.sh).
# Before 8.1 qemu searched its address space a page at a time on every
# failed mmap: Wine's start-up then took about 50 s, and its services
# crashed. Bookworm has 7.2, so qemu alone comes from bookworm-backports,
# of the same archive that the apt sources already name.
qemu_major() {
  local v
  v="$(bash "$here/i386.sh" qemu-version 2>/dev/null)" || return 1
  echo "${v%%.*}"
}
if ! bash "$here/can_run_i386.sh" && [ "$(qemu_major || echo 0)" -lt 10 ]; then
  if ! cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
      | grep -qE '^[^#]*bookworm-backports'; then
    # The first Debian archive named, in the deb822 or the one-line form
    # ("deb [OPTIONS] URI SUITE…"), but not the security archive.
    archive="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
      | sed -nE -e 's/^URIs: *([^ ]*debian[^ ]*).*/\1/p' -e 's/^deb +(\[[^]]*\] +)?([^ ]*debian[^ ]*).*/\2/p' \
      | grep -v security | head -n 1 || true)"
    if [ -z "$archive" ]; then
      echo "bootstrap: no Debian archive in the apt sources, so no bookworm-backports for qemu" >&2
      exit 1
    fi
    echo "bootstrap: adding the bookworm-backports suite of $archive"
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$archive" | $SUDO tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
    updated=""
  fi
  # qemu-user alone: 10.x builds it static, and its qemu-user-binfmt
  # companion would register handlers on the host.
  install -t bookworm-backports qemu-user
fi

# Wine takes its ANSI code page from the locale: the Japanese tests need it.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "bootstrap: generating the ja_JP.UTF-8 locale"
  $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
