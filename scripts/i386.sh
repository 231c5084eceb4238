#!/usr/bin/env bash
# Runs a command where 32-bit x86 programs run, such as 32-bit Wine.
#   i386.sh how       prints "native", "qemu VERSION (PATH)" or "none: REASON",
#                     with ", Wine from ROOT" where the 32-bit Wine is ours
#   i386.sh qemu-version  prints the version of the qemu it would use
#   i386.sh root      prints the folder of our own 32-bit Wine
#   i386.sh wine32    prints where the 32-bit Wine is, or fails saying why not
#   i386.sh CMD ARG…  runs CMD so that it and its children can start i386
#                     programs (exit 125 when none can here)
# A kernel with IA-32 emulation runs them itself. Elsewhere qemu-i386
# (the newest installed, scripts/bootstrap.sh brings 10.x) runs them through a binfmt_misc of our own, mounted in a private user and
# mount namespace (kernel 6.7 or later), so nothing on the host changes.
# Where dpkg has no 32-bit Wine, scripts/bootstrap.sh unpacks one into a
# root of its own: the command then sees that root laid over /usr (an
# overlay in the same private namespace), so that /lib/ld-linux.so.2, the
# i386 libraries and /usr/lib/wine/wine are there. The root holds nothing
# else, so the one file it replaces is the i386 dynamic linker that a
# host's libc6-i386 may have (of its /lib32 C library). The host's library
# cache names that /lib32 one too: LD_LIBRARY_PATH puts the root's i386
# libraries first (64-bit programs pass over them).
set -u
here="$(cd "$(dirname "$0")" && pwd)"
root="${LAUNCHER_I386_ROOT:-/opt/launcher-i386}"
# Debian's own, where dpkg has it (a stand-in in the bootstrap's tests).
system_wine32="${LAUNCHER_SYSTEM_WINE32:-/usr/lib/wine/wine}"

# Prints our own root where it serves the 32-bit Wine, else nothing; fails
# with the reason where there is no 32-bit Wine at all.
wine32_root() {
  if [ -e "$system_wine32" ]; then return 0; fi
  if [ -f "$root/.complete" ]; then echo "$root"; return 0; fi
  if [ -s "$root.failed" ]; then
    echo "no 32-bit Wine: $(head -n 1 "$root.failed")"
  else
    echo "no 32-bit Wine: scripts/bootstrap.sh has not installed it"
  fi
  return 1
}

# Sets qemu and qemu_version to the newest of the installed qemu-i386s:
# qemu-user 10.x has a static qemu-i386, 7.2 kept it in qemu-user-static.
find_qemu() {
  local q v
  qemu="" qemu_version=""
  for q in /usr/bin/qemu-i386 /usr/bin/qemu-i386-static; do
    [ -x "$q" ] || continue
    v="$("$q" --version 2>/dev/null | sed -n '1s/.*version \([0-9][0-9.]*\).*/\1/p')"
    [ -n "$v" ] || continue
    if [ -z "$qemu" ] || [ "$(printf '%s\n%s\n' "$qemu_version" "$v" | sort -V | tail -n 1)" != "$qemu_version" ]; then
      qemu="$q" qemu_version="$v"
    fi
  done
  [ -n "$qemu" ]
}

how() {
  local wine cpu
  if ! wine="$(wine32_root)"; then echo "none: $wine"; return; fi
  if bash "$here/can_run_i386.sh"; then
    qemu="" cpu=native
  elif ! find_qemu; then
    echo "none: this kernel runs no i386 programs and qemu-i386 is missing"; return
  else
    cpu="qemu $qemu_version ($qemu)"
  fi
  if [ -z "$qemu" ] && [ -z "$wine" ]; then echo native; return; fi
  if ! inside true 2>/dev/null; then
    echo "none: this kernel allows no binfmt_misc or overlay in a user namespace"; return
  fi
  echo "$cpu${wine:+, Wine from $wine}"
}

# The command runs as root of a new user namespace that maps every id to
# itself, so files keep their owners and setpriv to other users still works.
inside() {
  local fifo pid status
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  unshare --user --mount --propagation private -- bash -c '
    read -r _ <"$0"; rm -f "$0"
    if [ -n "$1" ]; then
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 125
      printf "%s" ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$1:F" \
        >/proc/sys/fs/binfmt_misc/register || exit 125
    fi
    if [ -n "$2" ]; then
      mount -t overlay overlay -o "lowerdir=$2/usr:/usr" /usr || exit 125
      export LD_LIBRARY_PATH="/usr/lib/i386-linux-gnu${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    fi
    shift 2
    exec "$@"' "$fifo" "$qemu" "$wine" "$@" &
  pid=$!
  # The map can be written only once the child is in its new namespace.
  local tries=0
  while [ "$(readlink /proc/$pid/ns/user 2>/dev/null)" = "$(readlink /proc/self/ns/user)" ] && [ $tries -lt 500 ]; do
    sleep 0.01; tries=$((tries + 1))
  done
  if echo "0 0 4294967295" >/proc/$pid/uid_map && echo "0 0 4294967295" >/proc/$pid/gid_map; then
    echo go >"$fifo"
  else
    kill $pid 2>/dev/null; rm -f "$fifo"
  fi
  wait $pid
  status=$?
  return $status
}

case "${1:-}" in
  how) how ;;
  qemu-version) find_qemu && echo "$qemu_version" ;;
  root) echo "$root" ;;
  wine32) wine="$(wine32_root)"; status=$?; echo "${wine:-$system_wine32}"; exit $status ;;
  "") echo "usage: $0 how | qemu-version | root | CMD [ARG...]" >&2; exit 2 ;;
  *)
    mode="$(how)"
    case "$mode" in
      native) exec "$@" ;;
      none*) echo "i386.sh: $mode" >&2; exit 125 ;;
      *)
        qemu=""; [ "${mode#qemu}" = "$mode" ] || find_qemu
        wine="$(wine32_root)"
        inside "$@"; exit $? ;;
    esac ;;
esac
