#!/usr/bin/env bash
# Builds the demo jars into OUTDIR: app-1.jar and app-2.jar (same code, the version
# comes from demo/version.txt inside each jar) and updater.jar.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 64
fi
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$1"
out="$(cd "$1" && pwd)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

javac --release 17 -d "$work/app" "$here/app/demo/App.java"
javac --release 17 -d "$work/updater" "$here/updater/demo/Updater.java"

for v in 1 2; do
    mkdir -p "$work/res$v/demo"
    echo "$v" > "$work/res$v/demo/version.txt"
    rm -f "$out/app-$v.jar"
    jar --create --file "$out/app-$v.jar" --main-class demo.App \
        -C "$work/app" . -C "$work/res$v" .
done
rm -f "$out/updater.jar"
jar --create --file "$out/updater.jar" --main-class demo.Updater -C "$work/updater" .

echo "built $out/app-1.jar $out/app-2.jar $out/updater.jar"
