#!/usr/bin/env bash
# Runs a Windows GoogleTest binary under 32-bit Wine and passes only on
# GoogleTest's own verdict: a loader that cannot run it may exit 0.
set -uo pipefail
exe="$1"; shift
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
/usr/lib/wine/wine "$exe" "$@" </dev/null 2>&1 | tee "$out"
grep -q '^\[  PASSED  \]' "$out" && ! grep -q '^\[  FAILED  \]' "$out"
