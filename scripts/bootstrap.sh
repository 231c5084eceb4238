#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail

pkgs=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libboost-dev googletest
  wine64 xvfb xdotool x11-utils imagemagick fonts-noto-cjk icoutils locales
  python3 python3-pytest
  default-jdk-headless
  hyperfine time
  osslsigncode openssl
)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# The product is a 32-bit program: its tests need Debian's i386 Wine. A
# kernel without IA-32 emulation runs it through qemu (scripts/i386.sh).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "bootstrap: adding the i386 architecture"
  $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
fi
pkgs+=(wine32:i386)
bash "$(dirname "$0")/can_run_i386.sh" || pkgs+=(qemu-user-static)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: the Japanese tests need it.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "bootstrap: generating the ja_JP.UTF-8 locale"
  $SUDO localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi
