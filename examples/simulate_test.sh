#!/usr/bin/env bash
# Plays the launcher's part by hand against a laid-out demo folder: runs the command line
# from config/boot.xml in APP (application) and APP/updater (updater) and checks the exit
# codes, printed lines and files of the update cycle, plus each updater failure code.
# Exits non-zero at the first mismatch.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
app="$tmp/APP"

fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

# run_java DIR EXPECTED_RC: runs the boot.xml command line headless in DIR; output in $out/$err.
run_java() {
    local dir="$1" want="$2" rc=0
    (cd "$dir" && env -u DISPLAY -u WAYLAND_DISPLAY "${cmd[@]}") >"$tmp/out" 2>"$tmp/err" || rc=$?
    out="$(cat "$tmp/out")"
    err="$(cat "$tmp/err")"
    sed 's/^/    /' "$tmp/out" "$tmp/err"
    [ "$rc" -eq "$want" ] || fail "in $dir: exit code $rc, expected $want"
}
expect_out() { grep -qxF -- "$1" <<<"$out" || fail "stdout lacks line: $1"; }
expect_err() { grep -qF -- "$1" <<<"$err" || fail "stderr lacks: $1"; }

step "build and lay out"
"$here/build.sh" "$tmp/built" >/dev/null
"$here/layout.sh" "$tmp/built" /bin/true "$app" >/dev/null
[ -x "$app/launcher" ] || fail "launcher not copied in"
for f in config/boot.xml app.jar updater/app.jar feed/app-2.jar; do
    [ -f "$app/$f" ] || fail "layout lacks $f"
done
[ "$(cat "$app/feed/latest.txt")" = 2 ] || fail "feed/latest.txt is not 2"

# Build the command line from boot.xml as the launcher would, so the file is checked too.
item() { sed -n "s|.*<item key=\"$1\" value=\"\([^\"]*\)\"/>.*|\1|p" "$app/config/boot.xml"; }
[ "$(item java)" = java ] || fail "boot.xml java is '$(item java)'"
[ "$(item -Xmx)" = 256m ] || fail "boot.xml -Xmx is '$(item -Xmx)'"
[ "$(item -jar)" = app.jar ] || fail "boot.xml -jar is '$(item -jar)'"
cmd=("$(item java)" "-Xmx$(item -Xmx)" -jar "$(item -jar)")
echo "command line: ${cmd[*]}"

step "version 1 sees version 2 in the feed and asks for the updater"
run_java "$app" 21
expect_out "demo app: version 1 running"
expect_out "demo app: version 2 available in feed, exiting with 21 to run the updater"
[ ! -e "$app/app.up" ] || fail "the application itself created app.up"

step "updater stages the new jar"
run_java "$app/updater" 0
expect_out "demo updater: staged version 2 from ../feed/app-2.jar as ../app.up"
cmp -s "$app/app.up" "$app/feed/app-2.jar" || fail "app.up differs from feed/app-2.jar"
[ ! -e "$app/app.up.tmp" ] || fail "temporary app.up.tmp left behind"

step "version 1 again: update already staged, no second request"
run_java "$app" 0
expect_out "demo app: version 1 running"
expect_out "demo app: version 2 already staged as app.up, used at next start"

step "staged file swapped in: version 2 runs and is up to date"
mv "$app/app.up" "$app/app.jar"
run_java "$app" 0
expect_out "demo app: version 2 running"
expect_out "demo app: no newer version in feed"

step "updater: staged file cannot be written (app.up is a non-empty folder) -> 4"
mkdir -p "$app/app.up/blocker"
run_java "$app/updater" 4
expect_err "demo updater: cannot stage ../feed/app-2.jar as ../app.up"
[ ! -e "$app/app.up.tmp" ] || fail "temporary app.up.tmp left behind after a failed stage"
rm -rf "$app/app.up"

step "updater: feed names a jar it does not have -> 3; the application does not ask for it"
echo 3 > "$app/feed/latest.txt"
run_java "$app/updater" 3
expect_err "demo updater: feed offers version 3 but ../feed/app-3.jar is missing"
[ ! -e "$app/app.up" ] || fail "app.up created although the feed jar is missing"
run_java "$app" 0
expect_out "demo app: no newer version in feed"

step "updater: latest.txt is not a number -> 2"
echo garbage > "$app/feed/latest.txt"
run_java "$app/updater" 2
expect_err "demo updater: cannot read ../feed/latest.txt"

step "updater: feed removed -> 2; the application just runs"
rm -rf "$app/feed"
run_java "$app/updater" 2
expect_err "demo updater: cannot read ../feed/latest.txt"
[ ! -e "$app/app.up" ] || fail "app.up created without a feed"
run_java "$app" 0
expect_out "demo app: no newer version in feed"

step "layout.sh replaces an earlier layout and refuses a foreign folder"
touch "$app/app.up" "$app/stray"
"$here/layout.sh" "$tmp/built" /bin/true "$app" >/dev/null
[ ! -e "$app/app.up" ] && [ ! -e "$app/stray" ] || fail "layout.sh kept old content"
cmp -s "$app/app.jar" "$tmp/built/app-1.jar" || fail "layout.sh did not restore version 1"
mkdir -p "$tmp/foreign" && touch "$tmp/foreign/keep"
if "$here/layout.sh" "$tmp/built" /bin/true "$tmp/foreign" 2>/dev/null; then
    fail "layout.sh wiped a folder that is not an application layout"
fi
[ -e "$tmp/foreign/keep" ] || fail "layout.sh removed a file of a foreign folder"

echo "simulate_test: all checks passed"
