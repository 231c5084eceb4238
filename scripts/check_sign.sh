#!/usr/bin/env bash
# A signed launcher: signs a copy of the product with scripts/sign.sh and a
# throw-away self-signed code-signing certificate, verifies the signature
# (and that a copy changed by one byte fails to verify), checks the signed
# copy with check_exe.sh, and runs it once under Wine in an application
# folder whose "java" is fakejava.exe. No time-stamp server is contacted.
# The product is 32-bit: it runs under 32-bit Wine through scripts/i386.sh.
# Where no i386 program can run at all, the win64 build is signed and run
# under wine64 instead, and the output says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

how=$(bash scripts/i386.sh how)
case "$how" in
  native|qemu*)
    build=win32 arch=i386 objdump=i686-w64-mingw32-objdump
    run() {
      bash scripts/i386.sh env WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
        /usr/lib/wine/wine "$@"
    } ;;
  *)
    build=win64 arch=x86-64 objdump=x86_64-w64-mingw32-objdump
    echo "note: no 32-bit program runs here ($how): signing and running the win64 build under wine64 instead"
    run() {
      WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" /usr/lib/wine/wine64 "$@"
    } ;;
esac
exe=build/$build/launcher.exe
fakejava=build/$build/fakejava.exe
for f in "$exe" "$fakejava"; do
  [ -f "$f" ] || { echo "FAIL: $f is missing: build the $build preset first" >&2; exit 2; }
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/check_sign.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

failures=0
ok()   { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The certificate: self-signed, for code signing, valid for two days, its
# PKCS#12 file locked with a random password kept in a file.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Throw-away Test Vendor" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" >"$tmp/openssl.log" 2>&1 \
  && openssl rand -hex 16 >"$tmp/password" \
  && openssl pkcs12 -export -inkey "$tmp/key.pem" -in "$tmp/cert.pem" \
       -passout "file:$tmp/password" -out "$tmp/vendor.p12" >>"$tmp/openssl.log" 2>&1 \
  || { echo "FAIL: openssl could not make the certificate:" >&2; cat "$tmp/openssl.log" >&2; exit 1; }

signed=$tmp/launcher-signed.exe
if bash scripts/sign.sh "$exe" "$signed" "$tmp/vendor.p12" --password-file "$tmp/password" >"$tmp/sign.log" 2>&1; then
  ok "signed a copy of $exe: $(stat -c %s "$exe") bytes, signed $(stat -c %s "$signed")"
else
  fail "scripts/sign.sh failed: $(tr '\n' ' ' <"$tmp/sign.log")"
  exit 1
fi

# The certificate is its own trust anchor.
verify() { osslsigncode verify -in "$1" -CAfile "$tmp/cert.pem" >"$2" 2>&1; }
if verify "$signed" "$tmp/verify.log" && grep -q '^Signature verification: ok' "$tmp/verify.log" \
   && [ "$(tail -n 1 "$tmp/verify.log")" = Succeeded ]; then
  ok "osslsigncode verify: signature valid, Succeeded"
else
  fail "osslsigncode verify does not accept the signed copy:"
  sed 's/^/    /' "$tmp/verify.log" >&2
fi
# One byte of code changed after signing (the first byte of .text).
cp "$signed" "$tmp/tampered.exe"
text_off=$("$objdump" -h "$signed" | awk '$2 == ".text" { print $6 }')
printf '\xcc' | dd of="$tmp/tampered.exe" bs=1 seek=$((16#$text_off)) conv=notrunc status=none
if verify "$tmp/tampered.exe" "$tmp/tampered.log"; then
  fail "osslsigncode verify accepts a copy changed after signing"
else
  ok "osslsigncode verify rejects a copy changed after signing"
fi

if bash scripts/check_exe.sh "$signed" "$arch" >"$tmp/check_exe.log" 2>&1 \
   && grep -q '^ok: signed: ' "$tmp/check_exe.log"; then
  ok "check_exe.sh passes the signed copy and sees its signature"
else
  fail "check_exe.sh on the signed copy:"
  sed 's/^/    /' "$tmp/check_exe.log" >&2
fi

# One run: an application folder whose "java" is fakejava.exe.
app=$tmp/app
mkdir -p "$app/config"
cp "$signed" "$app/launcher.exe"
cp "$fakejava" "$app/fakejava.exe"
printf '%s\n' '<?xml version="1.0"?><boot><item key="java" value="${APP_DIR}fakejava.exe"/></boot>' \
  >"$app/config/boot.xml"
echo "running the signed launcher under Wine"
status=0
run "$app/launcher.exe" </dev/null >"$tmp/run.out" 2>"$tmp/run.err" || status=$?
first=$(head -n 1 "$tmp/run.out" | tr -d '\r')
if [ "$status" -eq 0 ] && [[ "$first" == argc=1* ]] && grep -q '^argc=' "$app/fakejava.log" 2>/dev/null; then
  ok "the signed launcher ran: exit 0, first line '$first', and it started fakejava.exe"
else
  fail "the signed launcher did not run as it should: exit $status, first line '$first', fakejava.log $([ -f "$app/fakejava.log" ] && echo present || echo missing)"
  sed 's/^/    out: /' "$tmp/run.out" >&2
  sed 's/^/    err: /' "$tmp/run.err" >&2
fi

[ "$failures" -eq 0 ] || { echo "a signed launcher: $failures check(s) failed" >&2; exit 1; }
echo "a signed launcher: signed, verified, checked and run"
