"""The check of a staged update against Java's own readers: archives made
by the tools that write jars (the JDK's jar, Info-ZIP, Python's zipfile,
bsdtar, 7-Zip, Apache Commons Compress in its Zip64 modes), in many shapes,
and damaged copies of them. For each, the check's verdict (the launcher's
own code, through zipcheck_time) is set beside what Java says: `java -jar`
of the file on OpenJDK 17 and on Java 25 where it is here, and a ZipFile
that opens it and reads every entry, as a running application may. A file
that both take is never refused; a file that `java -jar` refuses as a
corrupt archive, on either JDK, is never swapped in."""
import concurrent.futures
import io
import os
import random
import shutil
import subprocess
import textwrap
import zipfile
from pathlib import Path

import pytest

from conftest import JDKS, ROOT

JDK = Path(JDKS["17"]) / "bin"
COMMONS_COMPRESS = Path("/usr/share/java/commons-compress.jar")
CHECK = ROOT / os.environ.get("LAUNCHER_NATIVE_BUILD", "build/linux") / "zipcheck_time"

MAIN = "public class Main { public static void main(String[] a) { System.out.println(\"main-ran\"); } }\n"
PROBE = textwrap.dedent("""\
    import java.io.*;
    import java.util.*;
    import java.util.jar.*;
    import java.util.zip.*;
    public class ZipProbe {
        public static void main(String[] args) throws Exception {
            BufferedReader in = new BufferedReader(new InputStreamReader(System.in, "UTF-8"));
            for (String path; (path = in.readLine()) != null;) {
                String verdict = "ok", manifest = "none";
                try (ZipFile z = new ZipFile(path)) {
                    for (Enumeration<? extends ZipEntry> e = z.entries(); e.hasMoreElements();) {
                        ZipEntry entry = e.nextElement();
                        boolean first = entry.getName().equals("META-INF/MANIFEST.MF") && manifest.equals("none");
                        if (first) manifest = "bad";  // unless it unpacks and reads well
                        byte[] data;
                        try (InputStream s = z.getInputStream(entry)) { data = s.readAllBytes(); }
                        if (!first) continue;
                        // Whether unpacking gives what the headers promise, and a Main-Class.
                        Manifest m = new Manifest(new ByteArrayInputStream(data));
                        boolean good = data.length == entry.getSize() && m.getMainAttributes().getValue("Main-Class") != null;
                        manifest = good ? "ok" : "bad";
                    }
                } catch (Exception | Error x) {
                    verdict = "refused " + x;
                }
                System.out.println(manifest + " " + verdict.replace('\\n', ' '));
            }
        }
    }
""")

# What `java -jar` says, from its output: the archive ran, or Java's
# complaint is the manifest or the main class, not the archive (both count
# as taken); the archive is corrupt; or an entry's data is damaged, which
# only unpacking shows and the check, which unpacks nothing, does not judge.
RAN, CORRUPT, DATA = "ran", "corrupt", "data"
MANIFEST_COMPLAINTS = ("no main manifest attribute", "Could not find or load main class")
CORRUPT_COMPLAINTS = ("Invalid or corrupt jarfile", "invalid LOC header", "invalid CEN header", "invalid END header",
                      "zip END header not found", "zip file is empty", "Unable to access jarfile")


# A writer that sets Zip64 fields as Apache Commons Compress does, in the
# mode given: Always saturates every entry's sizes and offset.
COMMONS_WRITER = textwrap.dedent("""\
    import java.io.File;
    import java.nio.file.*;
    import java.util.*;
    import java.util.zip.CRC32;
    import org.apache.commons.compress.archivers.zip.*;
    public class CommonsZip {
        public static void main(String[] a) throws Exception {
            Path src = Paths.get(a[3]);
            List<Path> files = new ArrayList<>();
            try (var s = Files.walk(src)) { s.filter(Files::isRegularFile).sorted().forEach(files::add); }
            files.sort(Comparator.comparing(p -> !p.toString().endsWith("MANIFEST.MF")));  // the manifest first
            try (ZipArchiveOutputStream z = new ZipArchiveOutputStream(new File(a[0]))) {
                z.setUseZip64(Zip64Mode.valueOf(a[1]));
                for (Path p : files) {
                    byte[] data = Files.readAllBytes(p);
                    ZipArchiveEntry e = new ZipArchiveEntry(src.relativize(p).toString());
                    if (a[2].equals("stored")) {
                        CRC32 crc = new CRC32();
                        crc.update(data);
                        e.setMethod(ZipArchiveEntry.STORED);
                        e.setSize(data.length);
                        e.setCrc(crc.getValue());
                    }
                    z.putArchiveEntry(e);
                    z.write(data);
                    z.closeArchiveEntry();
                }
            }
        }
    }
""")
COMMONS_MODES = ("Always", "AlwaysWithCompatibility", "AsNeeded", "Never")


def run_jar(path, jdk=JDK):
    proc = subprocess.run([str(jdk / "java"), "-Xshare:auto", "-XX:TieredStopAtLevel=1", "-jar", str(path)],
                          capture_output=True, text=True, errors="replace", timeout=120)
    said = proc.stdout + proc.stderr
    if proc.returncode == 0 and "main-ran" in proc.stdout or any(c in said for c in MANIFEST_COMPLAINTS):
        return RAN, ""
    return (CORRUPT if any(c in said for c in CORRUPT_COMPLAINTS) else DATA), said.strip().splitlines()[:2]


def tool(*cmd, cwd=None, out=None):
    with open(out, "wb") if out else open(os.devnull, "wb") as sink:
        subprocess.run(cmd, cwd=cwd, check=True, stdout=sink if out else subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)


class Unseekable(io.RawIOBase):
    """A pipe, to Python's zipfile: it then writes data descriptors."""
    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def python_zip(files, method=zipfile.ZIP_DEFLATED, zip64=False, stream=False, comment=b"", extra=b""):
    target = Unseekable() if stream else io.BytesIO()
    with zipfile.ZipFile(target, "w", method) as z:
        z.comment = comment
        for name, data in files:
            info = zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0))
            info.compress_type = method
            if extra and name == "Main.class":
                info.extra = extra
            with z.open(info, "w", force_zip64=zip64) as f:
                f.write(data)
    return bytes(target.data if stream else target.getvalue())


def renamed_bytes(data, old, new):
    """Every copy of a name (local and central header) replaced in place."""
    assert len(old) == len(new) and data.count(old) == 2
    return data.replace(old, new)


def manifest_patched(data, offset, value):
    """The manifest's entry (the first) with the 4 bytes at offset of its
    local header, and of its central header, replaced."""
    central = data.find(b"PK\x01\x02")
    data = bytearray(data)
    data[offset:offset + 4] = value
    data[central + offset + 2:central + offset + 6] = value  # the central header has 2 bytes more before
    return bytes(data)


def manifest_damaged(data):
    """The manifest's deflated bytes overwritten in their middle, sizes kept."""
    start = 30 + len(b"META-INF/MANIFEST.MF") + int.from_bytes(data[28:30], "little")
    size = int.from_bytes(data[18:22], "little")
    return data[:start + size // 2] + b"\xff\xff\xff" + data[start + size // 2 + 3:]


def shapes(work):
    """The archives, whole or not, as the tools make them: name -> bytes."""
    src = work / "src"
    files = [(p.relative_to(src).as_posix(), p.read_bytes()) for p in sorted(src.rglob("*")) if p.is_file()]
    names = [p.name for p in src.iterdir()]
    made = {}

    def by(name, *cmd, stdout=False):
        out = work / ("out-" + name + ".zip")  # zip adds .zip to a name without it
        if stdout:
            tool(*cmd, cwd=src, out=out)
        else:
            tool(*[str(out) if c == "OUT" else c for c in cmd], cwd=src)
        made[name] = out.read_bytes()

    by("jar", str(JDK / "jar"), "--create", "--file", "OUT", "--main-class", "Main", "-C", str(src), ".")
    by("jar-stored", str(JDK / "jar"), "--create", "--no-compress", "--file", "OUT", "--main-class", "Main",
       "-C", str(src), ".")
    by("infozip", "zip", "-q", "-X", "-r", "OUT", *names)
    by("infozip-stored", "zip", "-q", "-X", "-0", "-r", "OUT", *names)
    by("infozip-zip64", "zip", "-q", "-X", "-fz", "-r", "OUT", *names)
    by("infozip-stream", "zip", "-q", "-X", "-r", "-", *names, stdout=True)
    by("infozip-encrypted", "zip", "-q", "-X", "-P", "secret", "-r", "OUT", *names)
    by("bsdtar", "bsdtar", "--format", "zip", "-cf", "OUT", *names)
    by("bsdtar-stored", "bsdtar", "--format", "zip", "--options", "zip:compression=store", "-cf", "OUT", *names)
    # Written to a pipe, bsdtar pads its output with zero bytes.
    by("bsdtar-pipe", "bsdtar", "--format", "zip", "-cf", "-", *names, stdout=True)
    by("7zip", "7z", "a", "-tzip", "OUT", *names)
    by("7zip-stored", "7z", "a", "-tzip", "-mm=Copy", "OUT", *names)
    by("7zip-bzip2", "7z", "a", "-tzip", "-mm=BZip2", "OUT", *names)
    by("7zip-lzma", "7z", "a", "-tzip", "-mm=LZMA", "OUT", *names)

    made["python-deflated"] = python_zip(files)
    made["python-stored"] = python_zip(files, zipfile.ZIP_STORED)
    made["python-zip64"] = python_zip(files, zip64=True)
    made["python-stream"] = python_zip(files, stream=True)
    made["python-comment"] = python_zip(files, comment=b"built by the vendor")
    made["python-bzip2"] = python_zip(files, zipfile.ZIP_BZIP2)
    made["python-lzma"] = python_zip(files, zipfile.ZIP_LZMA)
    made["python-extra-past-its-end"] = python_zip(files, extra=b"\x99\x99\x10\x00abcd")
    made["python-zip64-field-of-4"] = python_zip(files, extra=b"\x01\x00\x04\x00\x00\x00\x00\x00")
    made["python-extra-unknown"] = python_zip(files, extra=b"\x99\x99\x04\x00abcd")
    made["name-not-utf8"] = renamed_bytes(made["python-stored"], b"data/readme.txt", b"data/r\xffadme.txt")
    made["name-overlong-utf8"] = renamed_bytes(made["python-stored"], b"data/readme.txt", b"data/\xc0\xaeadme.txt")
    manifest_first = python_zip(sorted(files, key=lambda f: f[0] != "META-INF/MANIFEST.MF"))
    made["manifest-crc-wrong"] = manifest_patched(manifest_first, 14, b"\x12\x34\x56\x78")
    made["manifest-not-inflating"] = manifest_damaged(manifest_first)

    if COMMONS_COMPRESS.exists():
        (work / "CommonsZip.java").write_text(COMMONS_WRITER)
        tool(str(JDK / "javac"), "-cp", str(COMMONS_COMPRESS), "-d", str(work), str(work / "CommonsZip.java"))
        for mode in COMMONS_MODES:
            for method in ("deflated", "stored"):
                out = work / f"commons-{mode}-{method}.zip"
                tool(str(JDK / "java"), "-cp", f"{COMMONS_COMPRESS}:{work}", "CommonsZip", str(out), mode, method,
                     str(src))
                made[f"commons-{mode}-{method}"] = out.read_bytes()

    # A start script before the archive: as it was, and with its offsets
    # adjusted (zip -A); a runnable jar of some build tools.
    script = b"#!/bin/sh\nexec java -jar \"$0\" \"$@\"\n"
    made["prefixed"] = script + made["jar"]
    made["prefixed-infozip"] = script + made["infozip"]
    adjusted = work / "adjusted.zip"
    adjusted.write_bytes(made["prefixed-infozip"])
    tool("zip", "-q", "-A", str(adjusted))
    made["prefixed-adjusted"] = adjusted.read_bytes()
    made["padded-1"] = made["jar"] + b"\0"
    made["padded-7393"] = made["infozip"] + bytes(7393)
    made["zip64-padded"] = made["python-zip64"] + b"\0"
    made["appended-text"] = made["jar"] + b"the rest of a download\n"
    return made


def damaged(base, data, rng):
    """Copies of a whole archive as a cut download, an updater killed while
    writing, a disk's bad block or a flipped bit leave it."""
    out = {}
    n = len(data)
    cen = data.find(b"PK\x01\x02")
    end = data.rfind(b"PK\x05\x06")
    for cut in sorted(set(list(range(0, n, max(1, n // 16))) + list(range(max(0, n - 64), n, 4)))):
        out[f"{base}-cut-{cut}"] = data[:cut]
    out[f"{base}-zero-tail-10"] = data[:-10] + bytes(10)
    out[f"{base}-zero-tail-46"] = data[:-46] + bytes(46)
    for name, at in [("cen", cen), ("end", end), ("loc", 0), ("mid-cen", (cen + end) // 2)]:
        out[f"{base}-zero-8-at-{name}"] = data[:at] + bytes(8) + data[at + 8:]
    for i, at in enumerate([rng.randrange(n) for _ in range(12)] + [rng.randrange(cen, n) for _ in range(16)]):
        flipped = bytearray(data)
        flipped[at] ^= 1 << rng.randrange(8)
        out[f"{base}-flip-{i}-at-{at}"] = bytes(flipped)
    return out


@pytest.mark.kinds("native")
def test_the_check_agrees_with_java(tmp_path, kind):
    missing = [t for t in ("zip", "bsdtar", "7z") if shutil.which(t) is None]
    missing += [] if COMMONS_COMPRESS.exists() else [str(COMMONS_COMPRESS)]
    if not (JDK / "java").exists() or missing:
        pytest.skip(f"needs OpenJDK 17 ({JDK}) and the archivers (missing: {missing or 'none'}); "
                    "scripts/bootstrap.sh installs them")
    jdks = {v: Path(home) / "bin" for v, home in JDKS.items() if (Path(home) / "bin/java").exists()}
    if len(jdks) < len(JDKS):
        print(f"\nno Java {', '.join(sorted(set(JDKS) - set(jdks)))} here: java -jar's verdicts of Java 17 only")
    work = tmp_path
    src = work / "src"
    (src / "data").mkdir(parents=True)
    (work / "Main.java").write_text(MAIN)
    (work / "ZipProbe.java").write_text(PROBE)
    subprocess.run([str(JDK / "javac"), "-d", str(src), str(work / "Main.java")], check=True)
    subprocess.run([str(JDK / "javac"), "-d", str(work), str(work / "ZipProbe.java")], check=True)
    (src / "META-INF").mkdir()
    (src / "META-INF" / "MANIFEST.MF").write_text("Manifest-Version: 1.0\nMain-Class: Main\n\n")
    (src / "data" / "readme.txt").write_text("A file that compresses well. " * 200)
    (src / "data" / "日本語.txt").write_text("名前は UTF-8\n")

    archives = shapes(work)
    rng = random.Random(31)
    for base in ("jar", "infozip", "python-zip64", "prefixed"):
        archives.update(damaged(base, archives[base], rng))
    folder = work / "archives"
    folder.mkdir()
    paths = {}
    for name, data in archives.items():
        paths[name] = folder / (name + ".jar")
        paths[name].write_bytes(data)

    checked = {}
    for name, path in paths.items():
        proc = subprocess.run([str(CHECK), str(path)], capture_output=True, text=True)
        checked[name] = proc.stdout.splitlines()[0]
    probe = subprocess.run([str(JDK / "java"), "-cp", str(work), "ZipProbe"], check=True, capture_output=True,
                           text=True, input="\n".join(str(p) for p in paths.values()) + "\n")
    # Each line: what became of the manifest (none, ok, bad), then ZipFile's verdict.
    lines = [line.split(" ", 1) for line in probe.stdout.splitlines()]
    zipfile_says = dict(zip(paths, [line[1] for line in lines]))
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        says = {v: dict(zip(paths, pool.map(lambda p, j=jdk: run_jar(p, j), paths.values())))
                for v, jdk in jdks.items()}
    # Where the JDKs differ, the stricter one decides: the file must run on both.
    for name in paths:
        differing = {v: says[v][name][0] for v in says}
        if len(set(differing.values())) > 1:
            print(f"  the JDKs differ on {name}: {differing}")
    jar_says = {name: min((says[v][name] for v in says), key=lambda verdict: verdict[0] == RAN) for name in paths}

    counts = {}
    wrongly_refused, wrongly_taken = [], []
    for name in paths:
        taken = checked[name] == "whole"
        jar, why = jar_says[name]
        both = jar == RAN and zipfile_says[name] == "ok"
        key = ("java-takes" if both else "java-refuses" if jar == CORRUPT else
               "jar-runs-zipfile-refuses" if jar == RAN else "data-damaged")
        counts[key, taken] = counts.get((key, taken), 0) + 1
        if both and not taken:
            wrongly_refused.append(f"{name}: the check says {checked[name]}")
        if jar == CORRUPT and taken:
            wrongly_taken.append(f"{name}: java -jar says {why}; ZipFile: {zipfile_says[name][:150]}")
    print(f"\n{len(paths)} archives:")
    for (key, taken), count in sorted(counts.items()):
        print(f"  {key}: {count} {'taken' if taken else 'refused'} by the check")
    assert not wrongly_refused, "refused although Java takes them:\n" + "\n".join(wrongly_refused)
    assert not wrongly_taken, "taken although java -jar refuses them:\n" + "\n".join(wrongly_taken)
    # The shapes this was built for, by name.
    for name in ("prefixed", "prefixed-infozip", "prefixed-adjusted", "infozip-stream", "python-stream",
                 "infozip-zip64", "python-zip64", "bsdtar", "7zip", "jar-stored"):
        assert jar_says[name][0] == RAN and checked[name] == "whole", (name, jar_says[name], checked[name])
    for name in ("padded-1", "padded-7393", "bsdtar-pipe", "zip64-padded", "infozip-encrypted", "7zip-bzip2",
                 "python-lzma", "name-not-utf8", "python-extra-past-its-end", "python-zip64-field-of-4",
                 "manifest-not-inflating", "commons-Always-deflated", "commons-Always-stored",
                 "commons-AlwaysWithCompatibility-deflated"):
        assert checked[name] != "whole", (name, jar_says[name], zipfile_says[name])
    for name in ("commons-AsNeeded-deflated", "commons-Never-stored", "manifest-crc-wrong"):
        assert jar_says[name][0] == RAN and checked[name] == "whole", (name, jar_says[name], checked[name])
