#!/usr/bin/env bash
# Runs every test against the builds in build/: the unit tests natively and
# under Wine, then the black-box tests of the real launchers. The product is
# the 32-bit win32 build, so its tests run under 32-bit Wine: natively where
# the kernel runs i386 programs, through qemu where it does not. Only where
# neither works does the Windows suite run the same sources built for win64.
set -uo pipefail
cd "$(dirname "$0")/.."

# Where i386 runs only through qemu, or the 32-bit Wine is our own root,
# the whole run goes inside the namespace of scripts/i386.sh: Wine's
# server, its 64-bit half and its 32-bit half must all see the same binfmt
# handler and the same /usr.
if [ -z "${LAUNCHER_I386:-}" ]; then
  LAUNCHER_I386="$(bash scripts/i386.sh how)"
  export LAUNCHER_I386
  # Under qemu, with the other lanes beside it, a Wine run takes up to
  # twice as long: the black-box tests' time limits grow with it.
  case "$LAUNCHER_I386" in qemu*) export LAUNCHER_WINE_SLOWDOWN=2 ;; esac
  case "$LAUNCHER_I386" in native|none*) ;; *) exec bash scripts/i386.sh bash "$0" "$@" ;; esac
fi
i386="$LAUNCHER_I386"

# One X display for the whole run, for Wine's message boxes: Wine binds its
# desktop to the display of the first program that opens a window, and
# keeps it while its server runs, for the unit tests' programs and for
# every black-box session alike.
logs="$PWD/build/test-logs"
rm -rf "$logs"
mkdir -p "$logs"
Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$logs/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$logs/display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -d '\n' <"$logs/display")" LAUNCHER_TEST_DISPLAY=":$(tr -d '\n' <"$logs/display")"
trap 'kill $xvfb 2>/dev/null' EXIT

# One 64-bit prefix serves both builds. Made where i386 programs run, it
# gets its 32-bit half too; one made elsewhere lacks it and is made anew.
export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ready="$WINEPREFIX/.made-with-i386"
if [ "$i386" != "${i386#none}" ]; then ready="$WINEPREFIX/.made"; fi
if [ ! -f "$ready" ]; then
  echo "making the Wine prefix"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 && /usr/lib/wine/wineserver -w && touch "$ready"
fi
# The steps run in four lanes at once, each a sequence: about two thirds
# of a serial run was spent waiting (for Wine, X and child processes), so
# the lanes share the two cores. Each lane writes a log of its own, printed
# whole, lane after lane, when all are done; a step's verdict and time go
# to the results file.
step() {  # step TITLE CMD…
  local title=$1 began=$SECONDS
  shift
  echo "== $title"
  if "$@"; then
    echo "passed $((SECONDS - began)) s: $title" | tee -a "$logs/results"
  else
    echo "FAILED: $*"
    echo "FAILED $((SECONDS - began)) s: $title" | tee -a "$logs/results"
  fi
}
skip() {
  echo "== $1"
  echo "SKIPPED: $2"
  echo "skipped: $1" >>"$logs/results"
}

/usr/lib/wine/wineserver -p 2>/dev/null || true
# The first Wine program of a session starts Wine's services, which keep
# its standard streams: start them here, on /dev/null, or every later
# reader of a Wine program's output waits for them to end.
/usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null' EXIT

echo "32-bit programs on this machine: $i386"
# Once in many full runs, a Wine message box left no trace of its text
# (not seen again in 8 runs of that test, six folders each). The tests
# that failed run once more: a fault of ours fails both times, and the
# first failure stays in the log.
blackbox() {  # blackbox KINDS WINE_BUILD
  local pytest=(env LAUNCHER_WINE_BUILD="$2" /usr/bin/python3 -m pytest -q tests/blackbox --kinds "$1"
                -o cache_dir="$PWD/build/pytest-cache-$1")
  "${pytest[@]}" --cache-clear && return 0
  echo "-- the tests that failed, once more"
  "${pytest[@]}" --last-failed --last-failed-no-failures none
}
# A unit-test binary that hangs fails after ten minutes. Once in three
# runs, one of the 400 process starts of the handle test failed inside
# Wine; a second run of the binary tells that from a fault of ours, which
# fails both.
units() {  # units BUILD
  ctest --test-dir "build/$1" --output-on-failure --timeout 600 --repeat until-pass:2
}

native_lane() {
  step "the Windows executable (win32)" bash scripts/check_exe.sh build/win32/launcher.exe i386
  step "the Windows executable (win64)" bash scripts/check_exe.sh build/win64/launcher.exe x86-64
  step "the executable check itself" bash scripts/check_exe_selftest.sh
  step "the bootstrap against a misbehaving archive" /usr/bin/python3 -m pytest -q tests/bootstrap -p no:cacheprovider
  step "unit tests (native)" ctest --test-dir build/linux --output-on-failure --timeout 600
  step "black-box tests (native)" blackbox native none
  step "a vendor's name and icon" bash scripts/check_vendor_build.sh
  step "the product: stripped and reproducible" bash scripts/check_reproducible.sh
  step "a signed launcher" bash scripts/check_sign.sh
}
checker_lane() {
  step "sanitizers (ASan, UBSan): unit and native black-box tests" bash scripts/test_sanitizers.sh
  step "fuzzing the boot definition reader" bash fuzz/run.sh 60
}
wine_unit_lane() {
  step "unit tests (win64 under wine64)" units win64
  case "$i386" in
    none*) skip "unit tests (win32 under 32-bit Wine)" "$i386" ;;
    *) step "unit tests (win32 under 32-bit Wine, i386: $i386)" units win32 ;;
  esac
}
wine_blackbox_lane() {
  case "$i386" in
    none*)
      step "black-box tests (win64 under wine64)" blackbox wine win64
      skip "black-box tests of the product (win32 under 32-bit Wine)" "$i386"
      ;;
    *) step "black-box tests of the product (win32 under 32-bit Wine)" blackbox wine win32 ;;
  esac
}

began=$SECONDS
pids=()
lanes=(native_lane checker_lane wine_unit_lane wine_blackbox_lane)
for lane in "${lanes[@]}"; do
  "$lane" >"$logs/$lane.log" 2>&1 </dev/null &
  pids+=($!)
done
wait "${pids[@]}"
for lane in "${lanes[@]}"; do
  cat "$logs/$lane.log"
done

echo "== the steps, with their times (all lanes: $((SECONDS - began)) s)"
cat "$logs/results"
passed=$(grep -c '^passed' "$logs/results")
failed=$(grep -c '^FAILED' "$logs/results")
skipped=$(grep -c '^skipped' "$logs/results")
if [ "$skipped" -gt 0 ]; then
  echo "steps: $passed passed, $failed failed, $skipped skipped"
else
  echo "steps: $passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
