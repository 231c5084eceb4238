#!/usr/bin/env bash
# Runs every test against the builds in build/: the unit tests natively and
# under wine64, then the black-box tests of the real launchers.
set -uo pipefail
cd "$(dirname "$0")/.."

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
passed=0
step() {
  echo "== $1"
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAILED: $*"; failed=$((failed + 1)); fi
}

mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p 2>/dev/null || true
# The first Wine program of a session starts Wine's services, which keep
# its standard streams: start them here, on /dev/null, or every later
# reader of a Wine program's output waits for them to end.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null' EXIT

step "the Windows executable (win32)" bash scripts/check_exe.sh build/win32/launcher.exe i386
step "the Windows executable (win64)" bash scripts/check_exe.sh build/win64/launcher.exe x86-64
step "the executable check itself" bash scripts/check_exe_selftest.sh
step "a vendor's name and icon" bash scripts/check_vendor_build.sh
step "unit tests (native)" ctest --test-dir build/linux --output-on-failure
step "unit tests (win64 under wine64)" ctest --test-dir build/win64 --output-on-failure
step "black-box tests" /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/blackbox
step "sanitizers (ASan, UBSan): unit and native black-box tests" bash scripts/test_sanitizers.sh
step "fuzzing the boot definition reader" bash fuzz/run.sh 60

echo "steps: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
