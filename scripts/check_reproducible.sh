#!/usr/bin/env bash
# The product as a vendor ships it: builds the win32 executable twice, from
# two copies of the sources into two build folders of different names and
# lengths (one inside its copy, as the presets lay it out, one outside), and
# checks that both builds give the same bytes and that the product is
# stripped: no debug sections, no symbol table, a fixed PE time stamp.
# Exits 1 if any check fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tmp=$(mktemp -d "${TMPDIR:-/tmp}/check_reproducible.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# The sources as they are now, uncommitted changes included; no build output.
copy_sources() {
  mkdir -p "$1"
  tar -C "$root" --exclude=./build --exclude=./.git -cf - . | tar -C "$1" -xf -
}
src_a=$tmp/a
src_b=$tmp/sources-of-the-second-build
bin_a=$src_a/build/win32
bin_b=$tmp/b
copy_sources "$src_a"
copy_sources "$src_b"

build() {    # SOURCE BUILD
  cmake -S "$1" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$1/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DLAUNCHER_TESTS=OFF >"$2.log" 2>&1 \
    && cmake --build "$2" -j 2 >>"$2.log" 2>&1 \
    || { echo "FAIL: the build in $2 failed:" >&2; tail -n 20 "$2.log" >&2; exit 1; }
}
mkdir -p "$bin_a"
build "$src_a" "$bin_a"
build "$src_b" "$bin_b"

failures=0
ok()   { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for f in launcher.exe launcher.exe.debug; do
  for dir in "$bin_a" "$bin_b"; do
    printf '%9d bytes  sha256 %s  %s\n' "$(stat -c %s "$dir/$f")" \
      "$(sha256sum "$dir/$f" | cut -d ' ' -f 1)" "$dir/$f"
  done
done

if cmp "$bin_a/launcher.exe" "$bin_b/launcher.exe"; then
  ok "both builds give the same launcher.exe"
else
  fail "the two builds differ (cmp above)"
fi
if cmp "$bin_a/launcher.exe.debug" "$bin_b/launcher.exe.debug"; then
  ok "both builds give the same symbol file launcher.exe.debug"
else
  fail "the two symbol files differ (cmp above)"
fi

exe=$bin_a/launcher.exe
debug_sections=$(i686-w64-mingw32-objdump -h "$exe" | awk '$2 ~ /^\.debug/ { print $2 }' | tr '\n' ' ')
n_symbols=$(i686-w64-mingw32-nm "$exe" 2>/dev/null | wc -l)
if [ -z "$debug_sections" ] && [ "$n_symbols" -eq 0 ]; then
  ok "stripped: no .debug sections, no symbols"
else
  fail "not stripped: debug sections '${debug_sections}', $n_symbols symbols"
fi
# A link-time stamp would also differ between two builds, unless both ran
# in the same second: look at it directly.
stamp=$(i686-w64-mingw32-objdump -f -p "$exe" | awk '$1 == "Time/Date" && !seen { seen = 1; $1 = ""; print }')
if [ "$(od -An -t u4 -j "$(( $(od -An -t u4 -j 60 -N 4 "$exe") + 8 ))" -N 4 "$exe" | tr -d ' ')" = 0 ]; then
  ok "PE time stamp fixed at 0 ($stamp )"
else
  fail "PE time stamp is the time of the build:$stamp"
fi

[ "$failures" -eq 0 ] || { echo "the product: $failures check(s) failed" >&2; exit 1; }
echo "the product: stripped and reproducible"
