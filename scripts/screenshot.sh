#!/usr/bin/env bash
# Takes the README's picture of the failure message: the win64 launcher in
# "C:\Program Files\MyApp" without a boot definition, in a Wine desktop on
# a private Xvfb display. Usage: scripts/screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/message-box.png}"

export WINEPREFIX="$PWD/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
Xvfb :93 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; /usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
export DISPLAY=:93
sleep 1
mkdir -p "$WINEPREFIX"
for font in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "MS UI Gothic"; do
  $wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ /d "Noto Sans CJK JP" /f >/dev/null 2>&1
done

app="$WINEPREFIX/drive_c/Program Files/MyApp"
rm -rf "$app"
mkdir -p "$app"
cp build/win64/launcher.exe "$app/MyApp.exe"
(cd "$app" && $wine explorer /desktop=shot,560x200 'C:\Program Files\MyApp\MyApp.exe' >/dev/null 2>&1 &)
for _ in $(seq 1 100); do
  desk=$(xdotool search --name 'Wine desktop' 2>/dev/null | head -1 || true)
  [ -n "$desk" ] && break
  sleep 0.2
done
sleep 3  # the box paints inside the desktop
import -window "$desk" "$out"
# OK sits in the middle of the box, which sits in the middle of the desktop.
xdotool mousemove --window "$desk" 280 127 click 1 || true
echo "wrote $out"
