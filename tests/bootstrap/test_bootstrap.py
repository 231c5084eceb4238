"""The bootstrap against an archive that misbehaves: a stand-in apt-get on
PATH fails its update once, fails one index every time, or refuses a
package; the bootstrap retries, goes on, and names what it could not
install. Nothing here touches the machine's packages: dpkg-query answers
that nothing is installed, and the 32-bit Wine's root is a temporary
folder."""
import os
import subprocess
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

SECURITY_I386 = ("http://archive.invalid/debian-security/dists/bookworm-security/"
                 "main/binary-i386/Packages.xz")

# The stand-in. Its update behaves as $FAKE_UPDATE says; its install (and
# its simulation, which prints apt's reasons) refuses the packages named in
# $FAKE_HELD; a real install of wine32 in download-only mode leaves a .deb
# holding usr/lib/wine/wine in the cache that -o Dir::Cache names.
APT_GET = r'''#!/bin/bash
echo "$*" >>"$FAKE_DIR/calls"
verb="" sim="" cache="" pkgs=()
for a; do
  case $a in
    update|install) [ -n "$verb" ] || verb=$a ;;
    -s) sim=1 ;;
    Dir::Cache=*) cache=${a#Dir::Cache=} ;;
    -*|*::*) ;;
    *) [ -n "$verb" ] && pkgs+=("$a") ;;
  esac
done
if [ "$verb" = update ]; then
  n=$(grep -c update "$FAKE_DIR/calls")
  case $FAKE_UPDATE in
    fail-once) [ "$n" -gt 1 ] && exit 0
      echo "E: Failed to fetch http://archive.invalid/debian/dists/bookworm/InRelease  Connection timed out" >&2 ;;
    fail-index)
      echo "E: Failed to fetch $SECURITY_I386  File has unexpected size (374820 != 376004). Mirror sync in progress?" >&2 ;;
    locked) echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242" >&2 ;;
    *) exit 0 ;;
  esac
  echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
  exit 100
fi
for p in "${pkgs[@]}"; do
  case " $FAKE_HELD " in *" $p "*)
    if [ -n "$sim" ]; then
      echo "Some packages could not be installed."
      echo "The following packages have unmet dependencies:"
      echo " libcurl4:i386 : Depends: libssl3:i386 (>= 3.0.0) but it is not going to be installed"
    fi
    echo "E: Unable to correct problems, you have held broken packages." >&2
    exit 100 ;;
  esac
  case $p in nosuch*) echo "E: Unable to locate package $p" >&2; exit 100 ;; esac
done
if [ -z "$sim" ] && [ -n "$cache" ] && [ "${pkgs[0]}" = wine32 ]; then
  mkdir -p "$FAKE_DIR/deb/usr/lib/wine" "$FAKE_DIR/deb/usr/lib/i386-linux-gnu/wine/i386-windows" \
           "$FAKE_DIR/deb/usr/i686-w64-mingw32/lib" "$FAKE_DIR/deb/DEBIAN"
  printf '#!/bin/sh\n' >"$FAKE_DIR/deb/usr/lib/wine/wine"; chmod +x "$FAKE_DIR/deb/usr/lib/wine/wine"
  head -c 200 /dev/urandom >"$FAKE_DIR/deb/usr/i686-w64-mingw32/lib/zlib1.dll"
  # As libc6:i386 has it: in /lib, which the root merges into /usr/lib.
  mkdir -p "$FAKE_DIR/deb/lib"; echo ld.so >"$FAKE_DIR/deb/lib/ld-linux.so.2"
  printf 'Package: wine32\nVersion: 1\nArchitecture: i386\nMaintainer: t <t@t>\nDescription: t\n' >"$FAKE_DIR/deb/DEBIAN/control"
  dpkg-deb -b "$FAKE_DIR/deb" "$cache/archives/wine32_1_i386.deb" >/dev/null
fi
exit 0
'''

# (name, entry, update, held, exit status, lines that must be printed,
#  lines that must not, update calls, the 32-bit Wine's state afterwards)
ROWS = [
    ("update fails once", "demo", "fail-once", "", 0,
     ["apt-get update failed (try 1 of 3)", "installing cmake make"],
     ["failed after"], 2, None),
    ("one index fails every time", "demo", "fail-index", "", 0,
     ["try 2 of 3", "these indexes failed after 3 tries; going on with the rest:", "  " + SECURITY_I386,
      "installing cmake make"], [], 3, None),
    ("the lists are locked", "demo", "locked", "", 0,
     ["going on with the package lists already here:", "  E: Could not get lock"], [], 3, None),
    ("a needed package is held broken", "demo", "ok", "default-jdk-headless", 1,
     ["cannot install default-jdk-headless:", "  libcurl4:i386 : Depends: libssl3:i386",
      "  E: Unable to correct problems, you have held broken packages."],
     ["cannot install cmake"], 1, None),
    ("the 32-bit Wine is held broken", "wine32", "fail-index", "wine32", 0,
     ["these indexes failed", "cannot install wine32:", "no 32-bit Wine: its tests will be skipped"], [], 3,
     "none: no 32-bit Wine: cannot install wine32: E: Unable to correct problems, you have held broken packages."),
    ("the 32-bit Wine from an index that lags", "wine32", "fail-index", "", 0,
     ["the 32-bit Wine into"], ["no 32-bit Wine"], 3, "root"),
]


@pytest.mark.parametrize("row", ROWS, ids=[r[0] for r in ROWS])
def test_bootstrap_goes_on_and_reports(tmp_path, row):
    name, entry, update, held, status, printed, not_printed, updates, wine = row
    bin_dir = tmp_path / "bin"
    bin_dir.mkdir()
    (bin_dir / "apt-get").write_text(APT_GET)
    (bin_dir / "dpkg-query").write_text("#!/bin/sh\nexit 1\n")
    for tool in bin_dir.iterdir():
        tool.chmod(0o755)
    root = tmp_path / "i386"
    env = dict(os.environ, PATH=f"{bin_dir}:{os.environ['PATH']}", FAKE_DIR=str(tmp_path),
               FAKE_UPDATE=update, FAKE_HELD=held, SECURITY_I386=SECURITY_I386, APT_PAUSE="0",
               LAUNCHER_I386_ROOT=str(root), LAUNCHER_SYSTEM_WINE32=str(tmp_path / "no-system-wine"))
    run = subprocess.run(["bash", str(ROOT / "scripts/bootstrap.sh"), entry], env=env,
                         capture_output=True, text=True, timeout=60)
    out = run.stdout + run.stderr
    assert run.returncode == status, out
    for line in printed:
        assert line in out, f"{name}: {line!r} missing from\n{out}"
    for line in not_printed:
        assert line not in out, f"{name}: {line!r} unexpected in\n{out}"
    calls = (tmp_path / "calls").read_text().splitlines()
    assert sum(" update" in f" {c}" for c in calls) == updates, calls
    if wine is None:
        return
    how = subprocess.run(["bash", str(ROOT / "scripts/i386.sh"), "wine32"], env=env,
                         capture_output=True, text=True, timeout=30)
    if wine == "root":
        assert how.returncode == 0 and how.stdout.strip() == str(root), how
        assert (root / "usr/lib/wine/wine").is_file() and (root / ".complete").read_text() == "wine32_1_i386.deb\n"
        assert (root / "usr/lib/ld-linux.so.2").read_text() == "ld.so\n"
        # Only the i386 files stay: nothing of the packages for all architectures.
        assert not (root / "usr/i686-w64-mingw32").exists() and not (root / "usr/share").exists()
        assert not (tmp_path / "i386.new").exists() and not (tmp_path / "i386.failed").exists()
        # i386 libraries resolve through the root's merged /usr.
        assert os.readlink(root / "lib") == "usr/lib"
        # zlib1.dll as libwine's maintainer script makes it: a Wine builtin.
        zlib = (tmp_path / "deb/usr/i686-w64-mingw32/lib/zlib1.dll").read_bytes()
        made = (root / "usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll").read_bytes()
        assert made == zlib[:64] + b"Wine builtin DLL" + bytes(16) + zlib[96:]
    else:
        assert how.returncode == 1 and f"none: {how.stdout.strip()}" == wine, how
        assert not (root / ".complete").exists()
