#!/usr/bin/env bash
# Runs every test against the builds in build/: the unit tests natively and
# under Wine, then the black-box tests of the real launchers. The product is
# the 32-bit win32 build, so its tests run under 32-bit Wine: natively where
# the kernel runs i386 programs, through qemu where it does not (a Wine
# start then takes about a minute, so only a smoke set of the product runs
# and the full Windows suite runs the same sources built for win64).
set -uo pipefail
cd "$(dirname "$0")/.."

# "test.sh --wine32 CMD…" runs CMD with a Wine prefix of its own for 32-bit
# Wine (inside scripts/i386.sh where i386 is emulated: the prefix's 32-bit
# half can only be made where 32-bit programs run).
if [ "${1:-}" = "--wine32" ]; then
  shift
  # No debugger on a crash: under qemu it would take minutes to start.
  export WINEPREFIX="$PWD/build/wineprefix32" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wineserver -p 2>/dev/null
  /usr/lib/wine/wine cmd /c exit </dev/null >/dev/null 2>&1
  "$@"
  status=$?
  /usr/lib/wine/wineserver -k 2>/dev/null
  exit $status
fi

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failed=0
passed=0
skipped=0
step() {
  echo "== $1"
  shift
  if "$@"; then passed=$((passed + 1)); else echo "FAILED: $*"; failed=$((failed + 1)); fi
}
skip() {
  echo "== $1"
  echo "SKIPPED: $2"
  skipped=$((skipped + 1))
}

mkdir -p "$WINEPREFIX"
/usr/lib/wine/wineserver -p 2>/dev/null || true
# The first Wine program of a session starts Wine's services, which keep
# its standard streams: start them here, on /dev/null, or every later
# reader of a Wine program's output waits for them to end.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null' EXIT

i386="$(bash scripts/i386.sh how)"
echo "32-bit programs on this machine: $i386"
pytest=(/usr/bin/python3 -m pytest -q tests/blackbox)
# Once in many full runs, a Wine message box left no trace of its text
# (not seen again in 8 runs of that test, six folders each). The tests
# that failed run once more: a fault of ours fails both times, and the
# first failure stays in the log.
blackbox() {  # blackbox WINE_BUILD
  local cache=(-o cache_dir="$PWD/build/pytest-cache")
  env LAUNCHER_WINE_BUILD="$1" "${pytest[@]}" "${cache[@]}" --cache-clear && return 0
  echo "-- the tests that failed, once more"
  env LAUNCHER_WINE_BUILD="$1" "${pytest[@]}" "${cache[@]}" --last-failed --last-failed-no-failures none
}

step "the Windows executable (win32)" bash scripts/check_exe.sh build/win32/launcher.exe i386
step "the Windows executable (win64)" bash scripts/check_exe.sh build/win64/launcher.exe x86-64
step "the executable check itself" bash scripts/check_exe_selftest.sh
step "a vendor's name and icon" bash scripts/check_vendor_build.sh
step "the product: stripped and reproducible" bash scripts/check_reproducible.sh
step "a signed launcher" bash scripts/check_sign.sh
step "unit tests (native)" ctest --test-dir build/linux --output-on-failure
# Once in three runs here, one of the 400 process starts of the handle
# test failed inside Wine; a second run of the binary tells that from a
# fault of ours, which fails both.
step "unit tests (win64 under wine64)" ctest --test-dir build/win64 --output-on-failure --repeat until-pass:2
case "$i386" in
  native)
    step "unit tests (win32 under 32-bit Wine)" ctest --test-dir build/win32 --output-on-failure --repeat until-pass:2
    step "black-box tests (native, and win32 under 32-bit Wine)" blackbox win32
    ;;
  qemu)
    # Measured here: under qemu the unit-test binary dies part-way, with
    # "wine client error" and no GoogleTest report, while the launcher's
    # own runs (the product set below) complete.
    skip "unit tests (win32 under 32-bit Wine)" \
      "i386 runs only through qemu here, and the unit-test binary dies under it before its report"
    step "black-box tests (native, and win64 under wine64)" blackbox win64
    step "black-box tests of the product (win32 under 32-bit Wine, i386 through qemu; the product set)" \
      bash scripts/i386.sh bash scripts/test.sh --wine32 env LAUNCHER_WINE_BUILD=win32 LAUNCHER_WINE_SLOWDOWN=8 \
      "${pytest[@]}" -p no:cacheprovider --kinds wine -m product
    ;;
  *)
    skip "unit tests (win32 under 32-bit Wine)" "$i386"
    step "black-box tests (native, and win64 under wine64)" blackbox win64
    skip "black-box tests of the product (win32 under 32-bit Wine)" "$i386"
    ;;
esac
step "sanitizers (ASan, UBSan): unit and native black-box tests" bash scripts/test_sanitizers.sh
step "fuzzing the boot definition reader" bash fuzz/run.sh 60

if [ "$skipped" -gt 0 ]; then
  echo "steps: $passed passed, $failed failed, $skipped skipped"
else
  echo "steps: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
