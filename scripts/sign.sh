#!/usr/bin/env bash
# Signs a Windows executable (Authenticode, SHA-256) with a vendor's
# code-signing certificate and key, given as one PKCS#12 file.
#
# Usage: sign.sh IN.exe OUT.exe CERT.p12 [--password-file FILE] [--timestamp URL]
#   --password-file FILE  the PKCS#12 password, read from FILE (never given
#                         on the command line, where other users could see it)
#   --timestamp URL       an RFC 3161 time-stamp server: the signature then
#                         stays valid after the certificate expires
# IN is left as it is; OUT must be another file. Exits 0 when OUT is signed.
set -euo pipefail

usage() { echo "usage: $0 IN.exe OUT.exe CERT.p12 [--password-file FILE] [--timestamp URL]" >&2; exit 2; }
[ $# -ge 3 ] || usage
in=$1 out=$2 p12=$3
shift 3
password_file=''
timestamp=''
while [ $# -gt 0 ]; do
  case "$1" in
    --password-file) [ $# -ge 2 ] || usage; password_file=$2; shift 2 ;;
    --timestamp)     [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    *) echo "$0: unknown option '$1'" >&2; usage ;;
  esac
done

command -v osslsigncode >/dev/null 2>&1 || { echo "$0: osslsigncode not found (scripts/bootstrap.sh installs it)" >&2; exit 2; }
for f in "$in" "$p12" ${password_file:+"$password_file"}; do
  [ -f "$f" ] || { echo "$0: no such file: $f" >&2; exit 2; }
done
if [ -e "$out" ] && [ "$(realpath "$in")" = "$(realpath "$out")" ]; then
  echo "$0: OUT must not be IN: sign a copy" >&2
  exit 2
fi

args=(sign -pkcs12 "$p12" -h sha256 -in "$in" -out "$out")
# Without a password file the PKCS#12 file is read with an empty password.
if [ -n "$password_file" ]; then
  args+=(-readpass "$password_file")
else
  args+=(-pass '')
fi
[ -z "$timestamp" ] || args+=(-ts "$timestamp")

# osslsigncode may leave a partial OUT behind when it fails.
if ! osslsigncode "${args[@]}"; then
  rm -f "$out"
  echo "$0: signing $in failed" >&2
  exit 1
fi
