#!/usr/bin/env bash
# Builds tiny Windows programs that do and do not meet the launcher's
# packaging rules and makes sure check_exe.sh tells them apart, each
# rejection for the right reason. Exits non-zero if it ever judges wrongly.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
check="$here/check_exe.sh"
make_icon="$root/resources/make_icon.py"
rc_template="$root/resources/launcher.rc.in"
python=/usr/bin/python3
[ -x "$python" ] || python=python3

for tool in i686-w64-mingw32-gcc-posix i686-w64-mingw32-windres \
            x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres \
            wrestool icotool "$python"; do
  command -v "$tool" >/dev/null 2>&1 || { echo "check_exe_selftest: missing tool $tool" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/check_exe_selftest.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0
failed=0
n_case=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
bad()  { echo "WRONG: $*"; failed=$((failed + 1)); }

# expect_ok NAME EXE ARCH: every check passes, each one reported.
expect_ok() {
  local name=$1 exe=$2 arch=$3 rc=0 n_ok out err
  n_case=$((n_case + 1)); out=case$n_case.out; err=case$n_case.err
  "$check" "$exe" "$arch" >"$out" 2>"$err" || rc=$?
  n_ok=$(grep -c '^ok: ' "$out" || true)
  if [ "$rc" -eq 0 ] && [ "$n_ok" -eq 9 ] && [ ! -s "$err" ]; then
    pass "$name accepted"
  else
    bad "$name: want exit 0 with 9 ok lines, got exit $rc with $n_ok"
    sed 's/^/    /' "$out" "$err"
  fi
}

# expect_fail NAME EXE ARCH TEXT: rejected (exit 1), and a rejection line
# contains TEXT, so a case failing for some unrelated reason is not counted.
expect_fail() {
  local name=$1 exe=$2 arch=$3 pattern=$4 rc=0 out err line
  n_case=$((n_case + 1)); out=case$n_case.out; err=case$n_case.err
  "$check" "$exe" "$arch" >"$out" 2>"$err" || rc=$?
  line=$(grep '^FAIL: ' "$err" | grep -F -m 1 -- "$pattern" || true)
  if [ "$rc" -eq 1 ] && [ -n "$line" ]; then
    pass "$name rejected: $line"
  else
    bad "$name: want exit 1 with a FAIL line containing '$pattern', got exit $rc"
    sed 's/^/    /' "$out" "$err"
  fi
}

# --- the icon generator: reproducible, and the shape the checker wants
"$python" "$make_icon" icon.ico
"$python" "$make_icon" icon2.ico
if cmp -s icon.ico icon2.ico; then
  pass "make_icon.py output is byte-identical across runs"
else
  bad "make_icon.py output differs between runs"
fi
if [ "$(icotool -l icon.ico)" = "--icon --index=1 --width=64 --height=64 --bit-depth=24 --palette-size=0" ]; then
  pass "icon.ico holds one 64x64 24-bit image"
else
  bad "icon.ico: icotool says $(icotool -l icon.ico 2>&1)"
fi

# The build substitutes the icon path the same way (CMake configure_file).
sed "s|@LAUNCHER_ICON@|$work/icon.ico|" "$rc_template" >launcher.rc

# A 64x64 icon of the wrong colour depth (32 bpp), written by hand so the
# test does not depend on an image tool's idea of a default.
"$python" - <<'EOF'
import struct
w = h = 64
xor = b"\x40\x80\xc0\xff" * (w * h)
mask = b"\0" * (8 * h)
dib = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0) + xor + mask
with open("deep.ico", "wb") as f:
    f.write(struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", w, h, 0, 0, 1, 32, len(dib), 22) + dib)
EOF
printf '1 ICON "%s"\n' "$work/deep.ico" >deep.rc

# The icon plus a version block; the icon plus a manifest.
printf '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n' >app.manifest
{ cat launcher.rc; printf '1 VERSIONINFO\nFILEVERSION 1,0,0,0\nBEGIN\nEND\n'; } >version.rc
{ cat launcher.rc; printf '1 24 "%s"\n' "$work/app.manifest"; } >manifest.rc

cat >gui.c <<'EOF'
#include <windows.h>
#include <mmsystem.h>
#include <pthread.h>
static void *run(void *arg) { return arg; }
int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show)
{
    pthread_t t;
    (void)inst; (void)prev; (void)show;
    /* a thread, so a dynamic link really needs libwinpthread-1.dll */
    pthread_create(&t, NULL, run, cmd);
    pthread_join(t, NULL);
#ifdef PADDING
    /* a program over the size budget */
    static volatile const char padding[440000] = {1};
    return padding[GetTickCount() % sizeof(padding)] == 0;
#elif defined(USE_WINMM)
    return timeGetTime() == 0;
#else
    return GetTickCount() == 0;
#endif
}
EOF

cat >gui.cpp <<'EOF'
#include <windows.h>
#include <stdexcept>
#include <string>
static int parse(const std::string &s) {
    if (s.empty()) throw std::runtime_error("empty");
    return (int)s.size();
}
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR cmd, int) {
    try { return parse(cmd); } catch (const std::exception &) { return -1; }
}
EOF

cc32=i686-w64-mingw32-gcc-posix
cxx64=x86_64-w64-mingw32-g++-posix

# The builds are independent; running them side by side keeps the test short.
pids=()
build() { "$@" >"build$((${#pids[@]} + 1)).log" 2>&1 & pids+=($!); }
wait_builds() {
  local i status=0
  for i in "${!pids[@]}"; do
    if ! wait "${pids[$i]}"; then
      echo "check_exe_selftest: build step failed:" >&2
      cat "build$((i + 1)).log" >&2
      status=1
    fi
  done
  pids=()
  [ "$status" -eq 0 ] || exit 2
}

build i686-w64-mingw32-windres launcher.rc -O coff -o icon32.o
build i686-w64-mingw32-windres deep.rc -O coff -o deep32.o
build i686-w64-mingw32-windres version.rc -O coff -o version32.o
build i686-w64-mingw32-windres manifest.rc -O coff -o manifest32.o
build x86_64-w64-mingw32-windres launcher.rc -O coff -o icon64.o
wait_builds

ts=-Wl,--tsaware
build $cxx64 -O1 -s -mwindows -static $ts gui.cpp icon64.o -o good64.exe
build $cxx64 -O1 -mwindows $ts gui.cpp icon64.o -o dyncxx64.exe
build $cc32 -O1 -mwindows -static -pthread $ts gui.c icon32.o -o good32.exe
build $cc32 -O1 -mwindows -static -pthread gui.c icon32.o -o notsaware32.exe
build $cc32 -O1 -mwindows -static -pthread $ts gui.c -o noicon32.exe
build $cc32 -O1 -static -pthread $ts gui.c icon32.o -o console32.exe
build $cc32 -O1 -mwindows -pthread $ts gui.c icon32.o -o dynpthread32.exe
build $cc32 -O1 -mwindows -static -pthread $ts gui.c deep32.o -o deep32.exe
build $cc32 -O1 -mwindows -static -pthread $ts gui.c version32.o -o version32.exe
build $cc32 -O1 -mwindows -static -pthread $ts gui.c manifest32.o -o manifest32.exe
build $cc32 -O1 -mwindows -static -pthread $ts -DUSE_WINMM gui.c icon32.o -lwinmm -o winmm32.exe
build $cc32 -O1 -mwindows -static -pthread $ts -DPADDING gui.c icon32.o -o big32.exe
wait_builds
echo 'not a program' >text.exe

expect_ok   "good i386 exe"                good32.exe       i386
expect_ok   "good x86-64 C++ exe"          good64.exe       x86-64
expect_fail "exe without icon"             noicon32.exe     i386   "group icon resource (type 14), found 0"
expect_fail "console exe"                  console32.exe    i386   "Windows CUI"
expect_fail "exe not Terminal Server aware" notsaware32.exe i386   "not Terminal Server aware"
expect_fail "dynamic winpthread"           dynpthread32.exe i386   "imports the MinGW runtime dynamically: libwinpthread-1.dll"
expect_fail "dynamic libstdc++/libgcc"     dyncxx64.exe     x86-64 "imports the MinGW runtime dynamically: libgcc_s_seh-1.dll libstdc++-6.dll"
expect_fail "32-bit colour icon"           deep32.exe       i386   "bpp 32"
expect_fail "exe with a version block"     version32.exe    i386   "unexpected resource types: 16 (version)"
expect_fail "exe with a manifest"          manifest32.exe   i386   "unexpected resource types: 24 (manifest)"
expect_fail "exe over the size budget"     big32.exe        i386   "over the budget of 430080"
expect_fail "x86-64 exe checked as i386"   good64.exe       i386   "not a PE32 i386 image"
expect_fail "i386 exe checked as x86-64"   good32.exe       x86-64 "want pei-x86-64"
expect_fail "not a PE file"                text.exe         i386   "not a PE32 i386 image"

# Names that make Windows ask for elevation (installer detection), in any case.
for name in MyAppUpdate setup Installer patcher UPGRADE; do
  cp good32.exe "$name.exe"
  expect_fail "a launcher named $name.exe" "$name.exe" i386 "installer detection"
done
cp good32.exe MyApp.exe
expect_ok "a launcher named MyApp.exe" MyApp.exe i386

# Non-system DLLs are refused unless explicitly allowed.
i686-w64-mingw32-objdump -p winmm32.exe >winmm32.headers
if grep -qi 'DLL Name: winmm' winmm32.headers; then
  expect_fail "exe importing winmm" winmm32.exe i386 "outside the system allow-list: WINMM"
  CHECK_EXE_EXTRA_DLLS=winmm.dll expect_ok "exe importing an allowed extra DLL" winmm32.exe i386
else
  bad "could not provoke a WINMM.dll import for the allow-list case"
fi

echo "check_exe selftest: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
