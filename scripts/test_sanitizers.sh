#!/usr/bin/env bash
# Builds the native launcher and the unit tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (preset asan, in build/asan), then runs the
# unit tests and the native black-box tests against that build. A sanitizer
# report ends the process with a status no test expects (86 for ASan and
# leaks, 87 for UBSan) and puts its text on standard error, which the tests
# compare: either way the run fails.
set -uo pipefail
cd "$(dirname "$0")/.."

mkdir -p build/asan
if ! { cmake --preset asan && cmake --build --preset asan -j "${JOBS:-2}"; } >build/asan/build.log 2>&1; then
  tail -n 60 build/asan/build.log
  echo "sanitizers: the asan build failed; see build/asan/build.log"
  exit 1
fi

export ASAN_OPTIONS="detect_leaks=1:exitcode=86:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:exitcode=87"
# A sanitized launcher runs two to three times slower, and this lane shares
# the cores with the Wine lane: a 100,000-item boot definition took 12 s
# against the black-box tests' native limit of 10.
export LAUNCHER_NATIVE_SLOWDOWN=3
failed=0
ctest --test-dir build/asan --output-on-failure || failed=1
LAUNCHER_NATIVE_BUILD=build/asan /usr/bin/python3 -m pytest -q -p no:cacheprovider --kinds native tests/blackbox \
  || failed=1
exit $failed
