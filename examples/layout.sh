#!/usr/bin/env bash
# Lays out a complete demo application folder from the jars made by build.sh:
#   APP_DIR/launcher            the launcher binary (launcher.exe if the binary ends in .exe)
#   APP_DIR/config/boot.xml     Linux form, from boot.xml.linux
#   APP_DIR/app.jar             version 1
#   APP_DIR/updater/app.jar     the updater (same jar name: the launcher runs one command line)
#   APP_DIR/feed/latest.txt     2, with APP_DIR/feed/app-2.jar
# Any previous content of APP_DIR is removed first.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 BUILT_DIR LAUNCHER_BINARY APP_DIR" >&2
    exit 64
fi
here="$(cd "$(dirname "$0")" && pwd)"
built="$1"
launcher="$2"
app="$3"

for f in app-1.jar app-2.jar updater.jar; do
    if [ ! -f "$built/$f" ]; then
        echo "$0: $built/$f missing; run build.sh first" >&2
        exit 1
    fi
done
if [ ! -f "$launcher" ]; then
    echo "$0: launcher binary $launcher not found" >&2
    exit 1
fi

# We wipe APP_DIR, so refuse anything that is not clearly an earlier layout or a new folder.
case "$app" in
    ""|"/"|"."|".."|"$HOME")
        echo "$0: refusing to use '$app' as the application folder" >&2
        exit 1 ;;
esac
if [ -e "$app" ]; then
    if [ ! -d "$app" ]; then
        echo "$0: $app exists and is not a folder" >&2
        exit 1
    fi
    if [ -n "$(ls -A "$app")" ] && [ ! -f "$app/config/boot.xml" ]; then
        echo "$0: $app is not empty and has no config/boot.xml; not removing it" >&2
        exit 1
    fi
    rm -rf -- "$app"
fi

mkdir -p "$app/config" "$app/updater" "$app/feed"
name=launcher
case "$launcher" in *.exe) name=launcher.exe ;; esac
cp -- "$launcher" "$app/$name"
chmod +x "$app/$name"
cp -- "$here/boot.xml.linux" "$app/config/boot.xml"
cp -- "$built/app-1.jar" "$app/app.jar"
cp -- "$built/updater.jar" "$app/updater/app.jar"
cp -- "$built/app-2.jar" "$app/feed/app-2.jar"
echo 2 > "$app/feed/latest.txt"

echo "laid out $app"
