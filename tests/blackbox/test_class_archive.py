"""classArchive with real JVMs: the application's exit code and output are
the same with and without the key, whatever becomes of the archive; an
archive made for another jar or runtime is made anew; two first starts at
once leave one archive that the JVM maps."""
import os
import re
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

import pytest

from conftest import App, JDKS, MAIN_JAVA, UPDATER_JAVA, build_jar, run

NATIVE = pytest.mark.kinds("native")
# The launcher's own lines; everything else on standard output is Java's.
LAUNCHER_LINE = re.compile(r"^(argc=|argv\[0\]=|debugFileExists=|bootXmPath=|console=|jarFilePath=|upFile|"
                           r"currentDir=|javaCommandLine=|execute:|result=|launchJava:|classArchive|remove succeed\.|"
                           r"/.*/config/boot\.xml$)")
VERSION_JAVA = """
    public class Main {
        public static void main(String[] args) {
            System.out.println("build " + VERSION);
            System.exit(args.length > 0 ? Integer.parseInt(args[0]) : 0);
        }
        static final String VERSION = "%s";
    }
"""


def java_of(version):
    java = JDKS[version] + "/bin/java"
    if not os.path.exists(java):
        pytest.skip(f"no Java {version} here ({java})")
    return java


def archive_of(app, version):
    return app.root / ("launcher.aot" if version == "25" else "launcher.jsa")


def application(tmp_path, kind, java, items=(), updater=True):
    """The application of the update loop: it ends with 21 until its updater
    has run, then with 0."""
    app = App(tmp_path / "app", kind)
    build_jar(tmp_path / "main-src", MAIN_JAVA, app.root / "app.jar")
    if updater:
        (app.root / "updater").mkdir()
        build_jar(tmp_path / "updater-src", UPDATER_JAVA, app.root / "updater" / "app.jar")
    app.boot_items([("java", java), ("-jar", "app.jar"), *items])
    return app


def wait_for_maker(app, version, present=True):
    """The archive is made in the background after the launcher has ended."""
    folder = app.root
    for _ in range(600):
        busy = [p for p in folder.iterdir() if p.name.endswith((".classlist", ".job", ".part"))]
        if not busy and archive_of(app, version).is_file() == present:
            return
        time.sleep(0.1)
    raise AssertionError(f"the archive was not made: {sorted(p.name for p in folder.iterdir())}")


def javas_output(r):
    return [l for l in r.lines if not LAUNCHER_LINE.match(l)], r.stderr


def maps(app, version, java, args=()):
    """Whether the JVM maps the archive for the application's command line."""
    proc = subprocess.run([java, "-Xlog:cds=info", "-XX:SharedArchiveFile=" + str(archive_of(app, version)),
                           "-jar", "app.jar", *args], cwd=app.root, capture_output=True, text=True)
    return "Mapped static" in proc.stdout


# How the archive's making can fail where the launcher cannot see it: none
# at all; a folder where the archive goes; a disk too full for the class
# list, let alone the archive (a small file system, mounted for the run).
def nothing(app):
    return ()


def folder_in_the_way(app):
    archive_of(app, app.version).mkdir()
    return ()


def full_disk(app):
    stash = app.root.parent / "stash"
    shutil.copytree(app.root, stash, symlinks=True)
    # The application's files in pages, and 48 KiB more: room for a short
    # class list, none for an archive.
    pages = sum(-(-p.stat().st_size // 4096) for p in stash.rglob("*") if p.is_file())
    size = (pages + 12) * 4096
    script = f'mount -t tmpfs -o size={size} tmpfs "$1" && cp -a "$2"/. "$1"/ && exec "$1/launcher"'
    return ("unshare", "--user", "--map-root-user", "--mount", "sh", "-c", script, "sh", str(app.root), str(stash))


@NATIVE
@pytest.mark.parametrize("obstacle", [nothing, folder_in_the_way, full_disk])
@pytest.mark.parametrize("code", [21, 0])
@pytest.mark.parametrize("version", ["17", "25"])
def test_the_archive_never_changes_what_the_application_does(tmp_path, kind, request, version, code, obstacle):
    java = java_of(version)
    if obstacle is full_disk and subprocess.run(["unshare", "--user", "--map-root-user", "--mount", "true"]).returncode:
        pytest.skip("no user namespaces here to mount a small file system in")
    outputs = []
    for key in ("", "y"):
        app = application(tmp_path / ("with" if key else "without"), kind, java,
                          [("classArchive", key)] if key else [])
        app.version = version
        if code == 0:
            (app.root / "updated").touch()
        starter = obstacle(app) if key else ()
        r = run(app, request, starter=starter)
        assert r.returncode == 0 and r.messages == [], r.stderr
        codes = [l for l in r.lines if l.startswith("launchJava:retCode=")]
        # After 21 the updater runs, then the application again.
        assert codes == (["launchJava:retCode=21", "launchJava:retCode=0", "launchJava:retCode=0"] if code == 21
                         else ["launchJava:retCode=0"]), r.lines
        outputs.append(javas_output(r))
        if key and obstacle is not full_disk:
            wait_for_maker(app, version, present=obstacle is nothing)
    assert outputs[0][0] == [l.replace("/with/", "/without/") for l in outputs[1][0]]
    assert outputs[0][1] == outputs[1][1]


# What changes outside the swap, each row: the boot items besides java
# and classArchive, and what to change; it returns what the stale line
# names and the build the next start must run.
def touched_jar(app, tmp_path):
    os.utime(app.root / "app.jar", ns=(time.time_ns(), time.time_ns() + 10**9))
    return app.root / "app.jar", "1"


def replaced_jar(app, tmp_path):
    build_jar(tmp_path / "v2-src", VERSION_JAVA % "2", app.root / "app.jar")
    return app.root / "app.jar", "2"


def changed_class_path_jar(app, tmp_path):
    build_jar(tmp_path / "v2-src", VERSION_JAVA % "2", app.root / "lib" / "main.jar")
    return app.root / "lib" / "main.jar", "2"


def changed_jar_a_manifest_names(app, tmp_path):
    return changed_class_path_jar(app, tmp_path)


def another_runtime(app, tmp_path):
    release = app.root.parent / "jdk" / "release"
    release.write_text(release.read_text() + "SECURITY_UPDATE=\"1\"\n")
    return release, "1"


STALE = [
    ([("-jar", "app.jar")], touched_jar),
    ([("-jar", "app.jar")], replaced_jar),
    ([("-cp", "lib/*"), ("main", "Main")], changed_class_path_jar),
    ([("-jar", "app.jar")], changed_jar_a_manifest_names),
    ([("-jar", "app.jar")], another_runtime),
]


@NATIVE
@pytest.mark.parametrize("items, change", STALE, ids=[row[1].__name__ for row in STALE])
@pytest.mark.parametrize("version", ["17", "25"])
def test_an_archive_made_for_something_else_is_made_anew(tmp_path, kind, request, version, items, change):
    java = java_of(version)
    if change is another_runtime:
        # A runtime of its own: a tree of links to the real one, with its
        # own java and release file.
        home = tmp_path / "jdk"
        shutil.copytree(JDKS[version], home, symlinks=True, copy_function=os.symlink)
        for name in ("bin/java", "release"):
            (home / name).unlink()
            shutil.copy2(Path(JDKS[version]) / name, home / name)
        java = str(home / "bin" / "java")
    app = App(tmp_path / "app", kind)
    named = change is changed_jar_a_manifest_names
    jar = app.root / ("lib/main.jar" if items[0][0] == "-cp" or named else "app.jar")
    jar.parent.mkdir(exist_ok=True)
    build_jar(tmp_path / "v1-src", VERSION_JAVA % "1", jar)
    if named:
        # app.jar holds a manifest alone, packed, whose Class-Path names the
        # jar with the classes.
        with zipfile.ZipFile(app.root / "app.jar", "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: Main\r\n"
                                               "Class-Path: lib/main.jar\r\n\r\n")
    app.boot_items([("java", java), *items, ("classArchive", "y")])
    archive = archive_of(app, version)
    first = run(app, request)
    assert "build 1" in first.lines
    wait_for_maker(app, version)
    changed, build = change(app, tmp_path)
    r = run(app, request)
    assert f"classArchiveStale={archive}: {changed} changed" in r.lines, r.lines
    assert f"build {build}" in r.lines and f"build {3 - int(build)}" not in r.lines
    wait_for_maker(app, version)
    again = run(app, request)
    assert f"classArchive={archive}: used" in again.lines and f"build {build}" in again.lines
    # The launcher's own command line, with the JVM's archive lines on.
    command = next(l for l in again.lines if l.startswith("javaCommandLine=")).split("=", 1)[1].split()
    at = next(i for i, word in enumerate(command) if word in ("-jar", "-cp"))
    proc = subprocess.run([*command[:at], "-Xlog:cds=info", *command[at:]], cwd=app.root,
                          capture_output=True, text=True)
    assert "Mapped static" in proc.stdout, proc.stdout[-2000:]


@NATIVE
@pytest.mark.parametrize("version", ["17", "25"])
def test_two_first_starts_at_once_leave_one_archive(tmp_path, kind, version):
    java = java_of(version)
    app = App(tmp_path / "app", kind)
    build_jar(tmp_path / "src", VERSION_JAVA % "1", app.root / "app.jar")
    app.boot_items([("java", java), ("-jar", "app.jar"), ("passArgs", "y"), ("classArchive", "y")])
    starts = [subprocess.Popen([str(app.exe), str(code)], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
              for code in (3, 4)]
    results = [p.communicate(timeout=120) for p in starts]
    for (out, err), code in zip(results, (3, 4)):
        assert f"launchJava:retCode={code}" in out.splitlines() and err == "", out + err
    wait_for_maker(app, version)
    assert [p.name for p in app.root.iterdir() if p.name.startswith("launcher.") and p.suffix in (".jsa", ".aot")] \
        == [archive_of(app, version).name]
    assert maps(app, version, java, ["5"])
    r = run(app, None, args=["5"])
    assert f"classArchive={archive_of(app, version)}: used" in r.lines and "launchJava:retCode=5" in r.lines
