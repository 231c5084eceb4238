#!/usr/bin/env bash
# Runs a command where 32-bit x86 programs run, such as 32-bit Wine.
#   i386.sh how       prints "native", "qemu VERSION (PATH)" or "none: REASON"
#   i386.sh qemu-version  prints the version of the qemu it would use
#   i386.sh CMD ARG…  runs CMD so that it and its children can start i386
#                     programs (exit 125 when none can here)
# A kernel with IA-32 emulation runs them itself. Elsewhere qemu-i386
# (the newest installed, scripts/bootstrap.sh brings 10.x) runs them through a binfmt_misc of our own, mounted in a private user and
# mount namespace (kernel 6.7 or later), so nothing on the host changes.
set -u
here="$(cd "$(dirname "$0")" && pwd)"

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
  if bash "$here/can_run_i386.sh"; then echo native; return; fi
  if ! find_qemu; then
    echo "none: this kernel runs no i386 programs and qemu-i386 is missing"; return
  fi
  if ! inside true 2>/dev/null; then
    echo "none: this kernel runs no i386 programs and allows no binfmt_misc in a user namespace"; return
  fi
  echo "qemu $qemu_version ($qemu)"
}

# The command runs as root of a new user namespace that maps every id to
# itself, so files keep their owners and setpriv to other users still works.
inside() {
  local fifo pid status
  fifo="$(mktemp -u)"
  mkfifo "$fifo"
  unshare --user --mount --propagation private -- bash -c '
    read -r _ <"$0"; rm -f "$0"
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 125
    printf "%s" ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$1:F" \
      >/proc/sys/fs/binfmt_misc/register || exit 125
    shift
    exec "$@"' "$fifo" "$qemu" "$@" &
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
  "") echo "usage: $0 how | CMD [ARG...]" >&2; exit 2 ;;
  *)
    mode="$(how)"
    case "$mode" in
      native) exec "$@" ;;
      qemu*) find_qemu; inside "$@"; exit $? ;;
      *) echo "i386.sh: $mode" >&2; exit 125 ;;
    esac ;;
esac
