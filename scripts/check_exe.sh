#!/usr/bin/env bash
# Checks a built Windows launcher exe for what it must be when shipped:
#   - the right PE flavour for ARCH (PE32 i386 or PE32+ x86-64),
#   - the Windows GUI subsystem (no console window flashing up),
#   - Terminal Server aware (else a Remote Desktop host gives it a private
#     Windows folder of the user's, where it would look for programs),
#   - imports from system DLLs only (the MinGW runtime is linked statically,
#     so the exe runs on a bare Windows without libstdc++/libgcc/winpthread),
#   - exactly one resource of its own: one group icon holding one 64x64
#     24-bit image, with no version block and no manifest;
#   - a file name without "install", "setup", "update", "patch" or
#     "upgrade" (any case): Windows' installer detection asks for elevation
#     before it starts a 32-bit program without a manifest so named;
#   - at most 420 KiB before any signature: what the launcher links in is
#     watched, so that a feature does not quietly bring a library along;
#   - a vendor's signature is allowed: it is no resource but a certificate
#     table past the sections, which must end the file (when signed, one
#     more "ok:" line says so; whether it verifies is osslsigncode's job).
#
# Usage: check_exe.sh EXE ARCH      (ARCH: i386 or x86-64)
# Prints "ok: ..." for each passed check and "FAIL: ..." (stderr) for each
# failed one; runs every check and exits 1 if any failed, 2 on bad usage or
# missing tools.
#
# Environment:
#   OBJDUMP               objdump to use (default: the mingw one for ARCH)
#   CHECK_EXE_EXTRA_DLLS  space-separated extra DLL names to allow
set -euo pipefail

usage() { echo "usage: $0 EXE i386|x86-64" >&2; exit 2; }
[ $# -eq 2 ] || usage
exe=$1
arch=$2

case "$arch" in
  i386)   want_format=pei-i386;   want_magic=010b; want_pe=PE32;  triplet=i686-w64-mingw32 ;;
  x86-64) want_format=pei-x86-64; want_magic=020b; want_pe=PE32+; triplet=x86_64-w64-mingw32 ;;
  *) echo "$0: ARCH must be i386 or x86-64, not '$arch'" >&2; usage ;;
esac

objdump=${OBJDUMP:-$triplet-objdump}
for tool in "$objdump" wrestool icotool od; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$0: required tool not found: $tool" >&2; exit 2; }
done
[ -f "$exe" ] || { echo "$0: no such file: $exe" >&2; exit 2; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/check_exe.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

failures=0
ok()   { echo "ok: $*"; }
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
first_lines() { head -n "${2:-3}" "$1" | tr '\n' ' '; }

# System DLLs a launcher may import; "api-ms-win-*" API sets are allowed too.
allowed_dlls=" kernel32 user32 msvcrt ucrtbase advapi32 shell32 gdi32 ntdll ws2_32 ole32 oleaut32 shlwapi "

check_format() {    # (a)
  local format magic
  format=$(sed -n 's/.*file format \([^ ]*\).*/\1/p' "$tmp/headers" | head -n 1)
  magic=$(awk '$1 == "Magic" { print $2; exit }' "$tmp/headers")
  if [ "$format" = "$want_format" ] && [ "$magic" = "$want_magic" ]; then
    ok "file format $format, optional header magic $magic ($want_pe)"
  else
    fail "file format is '${format:-unknown}' with magic '${magic:-none}', want $want_format with magic $want_magic ($want_pe)"
  fi
}

check_subsystem() {    # (b)
  local subsystem
  subsystem=$(awk '$1 == "Subsystem" { $1 = ""; sub(/^[ \t]+/, ""); print; exit }' "$tmp/headers")
  if [[ "$subsystem" =~ ^0*2[[:space:]]+\(Windows\ GUI\)$ ]]; then
    ok "subsystem $subsystem"
  else
    fail "subsystem is '${subsystem:-unknown}', want 00000002 (Windows GUI); link with -mwindows"
  fi
}

check_tsaware() {
  local flags
  flags=$(awk '$1 == "DllCharacteristics" { print $2; exit }' "$tmp/headers")
  if [ -n "$flags" ] && (( (16#$flags & 0x8000) != 0 )); then
    ok "DllCharacteristics $flags: Terminal Server aware"
  else
    fail "DllCharacteristics ${flags:-missing}: not Terminal Server aware (link with -Wl,--tsaware)"
  fi
}

check_imports() {    # (c)
  local allowed=$allowed_dlls extra dll lc
  local -a dlls=() runtime=() unknown=()
  for extra in ${CHECK_EXE_EXTRA_DLLS:-}; do
    extra=${extra,,}
    allowed+="${extra%.dll} "
  done
  mapfile -t dlls < <(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' "$tmp/headers" | tr -d '\r' | sort -fu)
  for dll in "${dlls[@]}"; do
    lc=${dll,,}
    case "$lc" in
      libstdc++*|libgcc*|libwinpthread*) runtime+=("$dll"); continue ;;
      api-ms-win-*.dll) continue ;;
    esac
    if [[ "$lc" != *.dll || "$allowed" != *" ${lc%.dll} "* ]]; then
      unknown+=("$dll")
    fi
  done
  if [ ${#dlls[@]} -eq 0 ]; then
    fail "no imported DLLs found; every Windows exe imports at least KERNEL32"
    return
  fi
  if [ ${#runtime[@]} -gt 0 ]; then
    fail "imports the MinGW runtime dynamically: ${runtime[*]}; link with -static"
  fi
  if [ ${#unknown[@]} -gt 0 ]; then
    fail "imports DLLs outside the system allow-list: ${unknown[*]}"
  fi
  if [ ${#runtime[@]} -eq 0 ] && [ ${#unknown[@]} -eq 0 ]; then
    ok "imports only system DLLs: ${dlls[*]}"
  fi
}

# Authenticode keeps the signature outside the image: the security
# directory holds a file offset, not an address, and the table it names
# must follow every section and end the file, or Windows rejects it.
check_signature() {    # a signed copy only
  local offset='' size='' file_size idx name sec_size vma lma file_off sections_end=0
  read -r offset size < <(awk '$1 == "Entry" && $2 == "4" { print $3, $4 }' "$tmp/headers") || true
  if [ -z "$offset" ] || [ $((16#${size:-0})) -eq 0 ]; then
    return 0
  fi
  if ! "$objdump" -h "$exe" >"$tmp/sections" 2>"$tmp/sections.err"; then
    fail "cannot list the sections: $(first_lines "$tmp/sections.err")"
    return
  fi
  while read -r idx name sec_size vma lma file_off _; do
    [[ "$idx" =~ ^[0-9]+$ ]] || continue
    if [ $((16#$file_off + 16#$sec_size)) -gt "$sections_end" ]; then
      sections_end=$((16#$file_off + 16#$sec_size))
    fi
  done <"$tmp/sections"
  file_size=$(stat -c %s "$exe")
  offset=$((16#$offset)) size=$((16#$size))
  if [ "$offset" -ge "$sections_end" ] && [ $((offset + size)) -eq "$file_size" ]; then
    ok "signed: a certificate table of $size bytes ends the file, past the sections"
  else
    fail "the security directory names $size bytes at file offset $offset, but the sections end at $sections_end and the file at $file_size: the certificate table must follow the sections and end the file"
  fi
}

size_budget=430080
check_size() {
  # A signature's certificate table ends the file and is the vendor's.
  local size cert
  size=$(stat -c %s "$exe")
  cert=$(awk '$1 == "Entry" && $2 == "4" { print $4 }' "$tmp/headers" 2>/dev/null || true)
  size=$((size - 16#${cert:-0}))
  if [ "$size" -le "$size_budget" ]; then
    ok "size $size bytes, within $size_budget"
  else
    fail "size $size bytes, over the budget of $size_budget (420 KiB): see what the linker brought in (-Wl,-Map)"
  fi
}

check_name() {
  local name word
  name=$(basename "$exe")
  for word in install setup update patch upgrade; do
    if [[ "${name,,}" == *"$word"* ]]; then
      fail "file name $name contains \"$word\": Windows' installer detection would ask for elevation at every start; choose a name without install, setup, update, patch or upgrade"
      return
    fi
  done
  ok "file name $name: nothing that makes Windows ask for elevation"
}

# Sets n_group and n_icon for the size checks.
check_resources() {    # (d)
  local type res_ok=1
  local -A count=()
  local -a others=()
  if ! wrestool -l "$exe" >"$tmp/resources" 2>"$tmp/resources.err"; then
    fail "wrestool cannot list the resources: $(first_lines "$tmp/resources.err")"
  fi
  while read -r type; do
    count[$type]=$(( ${count[$type]:-0} + 1 ))
  done < <(sed -n 's/^--type=\([^ ]*\) .*/\1/p' "$tmp/resources")
  n_group=${count[14]:-0}
  n_icon=${count[3]:-0}
  for type in "${!count[@]}"; do
    case "$type" in
      3|14) ;;
      16) others+=("16 (version) x${count[$type]}") ;;
      24) others+=("24 (manifest) x${count[$type]}") ;;
      *)  others+=("$type x${count[$type]}") ;;
    esac
  done
  if [ "$n_group" -ne 1 ]; then
    fail "want exactly one group icon resource (type 14), found $n_group"
    res_ok=0
  fi
  if [ "$n_icon" -ne 1 ]; then
    fail "want exactly one icon image resource (type 3), found $n_icon"
    res_ok=0
  fi
  if [ ${#others[@]} -gt 0 ]; then
    fail "unexpected resource types: ${others[*]}"
    res_ok=0
  fi
  if [ "$res_ok" -eq 1 ]; then
    ok "resources: one group icon (type 14), one icon image (type 3), nothing else"
  fi
}

check_group_icon() {    # (e), as the shell would load the icon
  local ico entry n_entries
  mkdir "$tmp/ico"
  if ! wrestool -x -t 14 -o "$tmp/ico" "$exe" 2>"$tmp/ico.err"; then
    fail "cannot extract the group icon: $(first_lines "$tmp/ico.err")"
    return
  fi
  ico=$(find "$tmp/ico" -type f | sort | head -n 1)
  if [ -z "$ico" ]; then
    fail "extracting the group icon wrote no file: $(first_lines "$tmp/ico.err")"
    return
  fi
  icotool -l "$ico" >"$tmp/ico.list" 2>&1 || true
  n_entries=$(grep -c -- '--icon' "$tmp/ico.list" || true)
  entry=$(grep -m 1 -- '--icon' "$tmp/ico.list" || true)
  if [ "$n_entries" -eq 1 ] \
     && [[ " $entry " == *" --width=64 "* ]] \
     && [[ " $entry " == *" --height=64 "* ]] \
     && [[ " $entry " == *" --bit-depth=24 "* ]]; then
    ok "group icon: $entry"
  else
    fail "group icon should hold one 64x64 24-bit image, icotool says: $(first_lines "$tmp/ico.list" 5)"
  fi
}

# The group directory could claim a size the image does not have, so read
# the image's own BITMAPINFOHEADER as well.
check_icon_dib() {    # (e), the image itself
  local bi_size='' bi_width='' bi_height='' bi_planes='' bi_bits=''
  if ! wrestool -x -R -t 3 "$exe" >"$tmp/icon.raw" 2>"$tmp/icon.err" || [ ! -s "$tmp/icon.raw" ]; then
    fail "cannot extract the icon image: $(first_lines "$tmp/icon.err")"
    return
  fi
  read -r bi_size bi_width bi_height < <(od -An -v -t u4 -N 12 "$tmp/icon.raw") || true
  read -r bi_planes bi_bits < <(od -An -v -t u2 -j 12 -N 4 "$tmp/icon.raw") || true
  # An icon DIB's height counts the colour rows plus the AND mask rows.
  if [ "${bi_size:-0}" -ge 40 ] && [ "${bi_width:-0}" -eq 64 ] && [ "${bi_height:-0}" -eq 128 ] \
     && [ "${bi_planes:-0}" -eq 1 ] && [ "${bi_bits:-0}" -eq 24 ]; then
    ok "icon image DIB: 64x64 (height 128 with mask), 24 bpp"
  else
    fail "icon image is not a 64x64 24-bit DIB: header size ${bi_size:-?}, width ${bi_width:-?}, height ${bi_height:-?}, planes ${bi_planes:-?}, bpp ${bi_bits:-?}"
  fi
}

if "$objdump" -p "$exe" >"$tmp/headers" 2>"$tmp/headers.err"; then
  check_format
  check_subsystem
  check_tsaware
  check_imports
  check_signature
else
  # Nothing header-based can be judged from a file objdump cannot read.
  fail "not a $want_pe $arch image ($(first_lines "$tmp/headers.err" 1)); format, subsystem and import checks not run"
fi

check_name
check_size

n_group=0
n_icon=0
check_resources
if [ "$n_group" -eq 1 ] && [ "$n_icon" -eq 1 ]; then
  check_group_icon
  check_icon_dib
else
  # With no icon or several, which one to measure is ambiguous; (d) failed.
  echo "skipped: icon size checks, they need exactly one group icon and one image" >&2
fi

if [ "$failures" -gt 0 ]; then
  echo "$exe: $failures check(s) failed" >&2
  exit 1
fi
echo "$exe: all checks passed"
