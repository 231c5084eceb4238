#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
#   bootstrap.sh          everything `make test` uses
#   bootstrap.sh demo     only what the native demo uses
#   bootstrap.sh wine32   only the 32-bit Wine
# The archive is not always consistent (scripts/apt.sh): an index that fails
# is named and the rest used. The 32-bit Wine is unpacked into a root of its
# own (scripts/i386.sh lays it over /usr for the runs that need it), since
# under dpkg its i386 libraries must have the very versions of the host's
# amd64 ones, which the i386 indexes may not offer. Where the 32-bit Wine
# cannot be had at all, the bootstrap says why and goes on: the tests then
# run the 64-bit twin and report the 32-bit steps as skipped.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
. "$here/apt.sh"

missing_of() {  # prints those of the named packages that are not installed
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

updated=""
install_missing() {  # install_missing [APT-OPTION…] -- PKG…
  local opts=() missing
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  mapfile -t missing < <(missing_of "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  [ -n "$updated" ] || { apt_update; updated=1; }
  apt_install "${opts[@]}" -- "${missing[@]}"
}

pkgs=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libboost-dev googletest
  wine64 xvfb xdotool x11-utils imagemagick fonts-noto-cjk icoutils locales
  python3 python3-pytest
  default-jdk-headless
  zip libarchive-tools p7zip-full libcommons-compress-java
  hyperfine time
  osslsigncode openssl
)

# A kernel without IA-32 emulation runs i386 through qemu (scripts/i386.sh).
# Before 8.1 qemu searched its address space a page at a time on every
# failed mmap: Wine's start-up then took about 50 s, and its services
# crashed. Bookworm has 7.2, so qemu alone comes from bookworm-backports,
# of the same archive that the apt sources already name. Without it the
# 32-bit steps are skipped, saying why; nothing else depends on it.
qemu_major() {
  local v
  v="$(bash "$here/i386.sh" qemu-version 2>/dev/null)" || return 1
  echo "${v%%.*}"
}
add_backports() {
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
    | grep -qE '^[^#]*bookworm-backports' && return 0
  # The first Debian archive named, in the deb822 or the one-line form
  # ("deb [OPTIONS] URI SUITE…"), but not the security archive.
  local archive
  archive="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null \
    | sed -nE -e 's/^URIs: *([^ ]*debian[^ ]*).*/\1/p' -e 's/^deb +(\[[^]]*\] +)?([^ ]*debian[^ ]*).*/\2/p' \
    | grep -v security | head -n 1 || true)"
  if [ -z "$archive" ]; then
    echo "bootstrap: no Debian archive in the apt sources, so no bookworm-backports for qemu"
    return 1
  fi
  echo "bootstrap: adding the bookworm-backports suite of $archive"
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$archive" | $SUDO tee /etc/apt/sources.list.d/bookworm-backports.sources >/dev/null
  updated=""
}
install_qemu() {
  add_backports || return 1
  [ -n "$updated" ] || { apt_update; updated=1; }
  # qemu-user alone: 10.x builds it static, and its qemu-user-binfmt
  # companion would register handlers on the host.
  apt_install -t bookworm-backports -- qemu-user
}
qemu_for_i386() {
  if ! bash "$here/can_run_i386.sh" && [ "$(qemu_major || echo 0)" -lt 10 ]; then
    install_qemu || echo "bootstrap: no qemu 10 for the 32-bit Wine: its tests will be skipped"
  fi
}

# The 32-bit Wine: Debian's, where dpkg already has it, else a root of our
# own. Its i386 packages are resolved and fetched by an apt of their own
# (its own lists, cache and an empty status, so the host's amd64 versions
# do not bind them; signatures checked as for the host), then unpacked as
# a merged /usr, of which the i386 libraries, Wine's loaders and the i386
# dynamic linker stay. The root is made apart and renamed into place whole.
wine32_root() {
  local root=$1 stage apt deb
  stage="$root.new"
  $SUDO rm -rf "$stage"
  $SUDO mkdir -p "$stage/apt/lists/partial" "$stage/apt/cache/archives/partial" "$stage/usr/lib" "$stage/usr/bin" "$stage/usr/sbin"
  $SUDO touch "$stage/apt/status"
  for d in lib bin sbin; do $SUDO ln -s "usr/$d" "$stage/$d"; done
  apt=(-o Dir::State::status="$stage/apt/status" -o Dir::State::Lists="$stage/apt/lists"
       -o Dir::Cache="$stage/apt/cache" -o APT::Architecture=i386 -o APT::Architectures=i386
       -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  echo "bootstrap: the 32-bit Wine into $root"
  apt_update "${apt[@]}"
  apt_install "${apt[@]}" --download-only -- wine32 wine32-preloader || return 1
  for deb in "$stage"/apt/cache/archives/*.deb; do
    dpkg-deb --fsys-tarfile "$deb" | $SUDO tar -x --keep-directory-symlink -C "$stage" || return 1
  done
  for f in usr/lib/wine/wine usr/lib/ld-linux.so.2; do
    [ -e "$stage/$f" ] || { echo "bootstrap: the unpacked packages hold no $f"; return 1; }
  done
  # No maintainer script runs here. libwine's makes the one that matters:
  # zlib1.dll from libz-mingw-w64, marked as a Wine builtin DLL.
  local zlib="$stage/usr/i686-w64-mingw32/lib/zlib1.dll" out="$stage/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
  [ -f "$zlib" ] || { echo "bootstrap: the unpacked packages hold no zlib1.dll for Wine"; return 1; }
  { head -c 64 "$zlib"; printf 'Wine builtin DLL'; head -c 16 /dev/zero; tail -c +97 "$zlib"; } | $SUDO tee "$out" >/dev/null
  # Only the i386 files stay: scripts/i386.sh lays the root over /usr, and
  # its copies of the packages for all architectures (debconf, data, fonts)
  # must not stand in for the host's.
  (cd "$stage/apt/cache/archives" && ls -- *.deb) | $SUDO tee "$stage/.complete" >/dev/null
  $SUDO mkdir "$stage/keep"
  for d in usr/lib/i386-linux-gnu usr/lib/wine usr/lib/ld-linux.so.2; do
    $SUDO mkdir -p "$stage/keep/$(dirname "$d")"
    $SUDO mv "$stage/$d" "$stage/keep/$d" || return 1
  done
  $SUDO rm -rf "$stage/usr" "$stage/etc" "$stage/var" "$stage/apt/cache/archives" "$root"
  $SUDO mv "$stage/keep/usr" "$stage/usr"
  $SUDO rmdir "$stage/keep"
  $SUDO mv "$stage" "$root"
}
wine32() {
  local root out
  bash "$here/i386.sh" wine32 >/dev/null && return 0
  root="$(bash "$here/i386.sh" root)"
  if out="$(wine32_root "$root" 2>&1)"; then
    echo "$out"
    $SUDO rm -f "$root.failed"
  else
    echo "$out"
    echo "bootstrap: no 32-bit Wine: its tests will be skipped"
    # scripts/i386.sh names the reason where the skipped steps are reported:
    # the first package that apt refused and its first error, or the failure.
    { grep -m 1 -E '^bootstrap: (cannot install|installing .* failed:|the unpacked)' <<<"$out" || echo "bootstrap: unpacking failed"; \
      grep -m 1 -E '^  E:' <<<"$out" || true; } | sed -e 's/^bootstrap: //' -e 's/^  //' | paste -sd ' ' \
      | $SUDO tee "$root.failed" >/dev/null
  fi
}

# Wine takes its ANSI code page from the locale: the Japanese tests need it.
japanese_locale() {
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
    echo "bootstrap: generating the ja_JP.UTF-8 locale"
    $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
}

case "${1:-}" in
  demo) install_missing -- cmake make g++ libboost-dev default-jdk-headless ;;
  wine32) wine32 ;;
  "")
    install_missing -- "${pkgs[@]}"
    qemu_for_i386
    wine32
    japanese_locale
    ;;
  *) echo "usage: $0 [demo | wine32]" >&2; exit 2 ;;
esac
