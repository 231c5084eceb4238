#!/usr/bin/env bash
# The launcher's whole job on a real Java application: the first start runs
# version 1, which asks for an update; the updater stages version 2; the
# second start swaps it in and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."

demo="${DEMO_DIR:-$PWD/build/demo}"
mkdir -p "$demo"
bash examples/build.sh "$demo/jars" >/dev/null
bash examples/layout.sh "$demo/jars" "${DEMO_LAUNCHER:-build/linux/launcher}" "$demo/app" >/dev/null
# DEMO_CLASS_ARCHIVE=y: the launcher keeps a class-data archive for the application.
if [ -n "${DEMO_CLASS_ARCHIVE:-}" ]; then
  sed -i "s|</boot>|  <item key=\"classArchive\" value=\"$DEMO_CLASS_ARCHIVE\"/>\n</boot>|" "$demo/app/config/boot.xml"
fi

for start in 1 2; do
  echo "===== start $start: $demo/app/launcher"
  # Standard error joins standard output so the transcript shows both.
  "$demo/app/launcher" > "$demo/start$start.txt" 2>&1 || {
    cat "$demo/start$start.txt"
    echo "demo: the launcher failed" >&2
    exit 1
  }
  cat "$demo/start$start.txt"
  # The launcher makes the class archive in the background after the
  # application has ended: the second start then shows the swap removing it.
  if [ -n "${DEMO_CLASS_ARCHIVE:-}" ] && [ "$start" = 1 ]; then
    for _ in $(seq 300); do [ -e "$demo/app/launcher.jsa" ] && break; sleep 0.1; done
  fi
done

version=$(sed -n 's/^demo app: version \([0-9]*\) running$/\1/p' "$demo/start2.txt" | tail -n 1)
echo "===== demo: version ${version:-?} now runs"
[ "$version" = 2 ]
