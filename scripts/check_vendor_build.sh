#!/usr/bin/env bash
# A vendor's name and icon: builds the product with LAUNCHER_NAME and
# LAUNCHER_ICON and checks that the executable carries that very icon.
set -euo pipefail
cd "$(dirname "$0")/.."
work=build/vendor
rm -rf "$work"
mkdir -p "$work"
# Names with a word of Windows' installer detection are refused at
# configure time, naming the word.
for name in MyAppUpdate setup Installer patcher; do
  if cmake -S . -B "$work/refused" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DLAUNCHER_NAME="$name" \
       -DLAUNCHER_TESTS=OFF >"$work/refused.log" 2>&1; then
    echo "FAIL: a launcher named $name was configured" >&2
    exit 1
  fi
  if ! grep -q "contains \"$(echo "$name" | tr A-Z a-z | grep -o -m1 -E 'install|setup|update|patch|upgrade')\"" "$work/refused.log"; then
    echo "FAIL: the refusal of $name does not name the word:" >&2
    cat "$work/refused.log" >&2
    exit 1
  fi
  echo "ok: a launcher named $name is refused: $(grep -m1 -o 'contains "[a-z]*"' "$work/refused.log")"
  rm -rf "$work/refused"
done
/usr/bin/python3 resources/make_icon.py "$work/vendor.ico"
# Another picture: shift the colours of the pixel data (the 22-byte icon
# header and 40-byte bitmap header stay, and so does the mask at the end).
/usr/bin/python3 - "$work/vendor.ico" <<'PY'
import sys
d = bytearray(open(sys.argv[1], "rb").read())
for i in range(22 + 40, len(d) - 64 * 8):
    d[i] = (d[i] + 60) % 256
open(sys.argv[1], "wb").write(d)
PY
cmake -S . -B "$work/build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLAUNCHER_NAME=MyApp -DLAUNCHER_ICON="$PWD/$work/vendor.ico" -DLAUNCHER_TESTS=OFF >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
exe="$work/build/MyApp.exe"
bash scripts/check_exe.sh "$exe" i386
embedded=$(wrestool -x --raw -t 3 "$exe" | md5sum)
given=$(tail -c +23 "$work/vendor.ico" | md5sum)
if [ "$embedded" != "$given" ]; then
  echo "FAIL: $exe does not carry the vendor's icon" >&2
  exit 1
fi
echo "ok: $exe carries the vendor's icon"
