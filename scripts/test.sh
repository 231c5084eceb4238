#!/usr/bin/env bash
# Runs every test against the builds in build/: the unit tests natively and
# under wine64, then the black-box tests of the real launchers.
set -uo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
step() {
  echo "== $1"
  shift
  if ! "$@"; then echo "FAILED: $*"; failed=$((failed + 1)); fi
}

/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null' EXIT

step "unit tests (native)" ctest --test-dir build/linux --output-on-failure
step "unit tests (win64 under wine64)" ctest --test-dir build/win64 --output-on-failure
step "black-box tests" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/blackbox

if [ "$failed" -ne 0 ]; then
  echo "$failed test step(s) failed"
  exit 1
fi
echo "all test steps passed"
