"""The update loop with the Java stand-in: whole transcripts, message texts,
working directories."""
import os
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

import transcript
from conftest import (App, BOOT_FAILURE, JAVA_MISSING, JDKS, LAUNCH_ERROR, MAIN_JAVA, SLOWDOWN, UPDATE_FAILURE,
                      UPDATER_JAVA, WINE, WINE64, build_jar, run, runtime, user_variable, winpath)
from jars import WHOLE


def prepare(app, main_codes, updater_codes=None, updater_dir=True, java=None):
    java = java or app.java
    app.boot_items([("java", java), ("-Xmx", "64m"), ("-jar", "app.jar")])
    app.script(*main_codes)
    if updater_dir:
        (app.root / "updater").mkdir(exist_ok=True)
    if updater_codes is not None:
        app.script(*updater_codes, where="updater")
    return java.replace("${APP_DIR}", app.app_dir) + "  -Xmx64m -jar app.jar"


def updater_dir(app):
    return app.app_dir + "updater"


def expect(app, r, groups, messages=(), swapped=False):
    assert r.returncode == 0
    swap = transcript.swap(app, "app.jar", 1, True) if swapped else transcript.swap(app, "app.jar")
    assert r.normalised() == transcript.head(app) + swap + groups
    assert r.messages == list(messages), r.stderr


def test_main_ends_with_0(app, launch):
    cmd = prepare(app, [0])
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, 0))
    assert app.runs() == [{"cwd": app.path(), "args": ["-Xmx64m", "-jar", "app.jar"]}]


# Ways to start the launcher: each gives the "java" value and how to run it.
def as_usual(app):
    return app.java, {}


def relative_java(app):
    """A path relative to the launcher's folder, started from another folder
    that holds a program of the same name: the application's own runs, for
    the updater (started in its own folder) too."""
    name = "java.exe" if app.kind == "wine" else "java"
    elsewhere = app.root.parent / "elsewhere"
    for folder in (app.root, elsewhere):
        (folder / "jre" / "bin").mkdir(parents=True)
        shutil.copy2(app.root / (app.java_name), folder / "jre" / "bin" / name)
    return app.sep.join(["jre", "bin", name]), {"cwd": elsewhere}


def sigchld_ignored(app):
    """A starter that ignores SIGCHLD: unless the launcher restores it, its
    children are reaped before it can wait for them."""
    if app.kind == "wine":
        pytest.skip("a POSIX signal disposition")
    return app.java, {"starter": ("perl", "-e", '$SIG{CHLD}="IGNORE"; exec @ARGV')}


@pytest.mark.parametrize("start", [as_usual, relative_java,
                                   sigchld_ignored])
def test_one_update_cycle(app, launch, start):
    # The updater also replaces the boot definition: the loop goes on with
    # the command line it read at the start, the next start reads the new one.
    java, options = start(app)
    cmd = prepare(app, [21, 0], ["0,write=../config/boot.xml"], java=java)
    r = launch(**options)
    expect(app, r, transcript.launch(app.app_dir, cmd, 21) + transcript.launch(updater_dir(app), cmd, 0)
           + transcript.launch(app.app_dir, cmd, 0))
    assert [x["cwd"] for x in app.runs()] == [app.path()] * 2
    assert [x["cwd"] for x in app.runs("updater")] == [app.path("updater")]
    assert app.runs("updater")[0]["args"] == app.runs()[0]["args"] == app.runs()[1]["args"]
    ran = {run["exe"] for where in ("", "updater") for run in app.runs(where, reads=True)}
    assert all(str(app.root.parent / "elsewhere") not in exe.replace("\\", "/") for exe in ran), ran
    boot = app.boot_path
    assert launch().messages == [BOOT_FAILURE.format(boot)]


def test_main_ends_with_1_shows_launch_error_although_it_ran(app, launch):
    cmd = prepare(app, [1], [0])
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, 1), [LAUNCH_ERROR])
    assert app.runs("updater") == []


@pytest.mark.parametrize("code", [20, 22, -5])
def test_other_main_codes_end_the_loop(app, launch, code):
    cmd = prepare(app, [code], [0])
    r = launch()
    shown = code if app.kind == "wine" or code >= 0 else code & 0xFF
    expect(app, r, transcript.launch(app.app_dir, cmd, shown))
    assert app.runs("updater") == []


@pytest.mark.parametrize("code", [3, -1])
def test_updater_failure(app, launch, code):
    cmd = prepare(app, [21, 0], [code])
    r = launch()
    shown = code if app.kind == "wine" or code >= 0 else code & 0xFF
    expect(app, r, transcript.launch(app.app_dir, cmd, 21) + transcript.launch(updater_dir(app), cmd, shown),
           [UPDATE_FAILURE.format(shown)])
    assert len(app.runs()) == 1, "the main application is not restarted"


def test_missing_updater_folder(app, launch):
    cmd = prepare(app, [21, 0], updater_dir=False)
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, 21) + transcript.failed_start(updater_dir(app), cmd),
           [LAUNCH_ERROR, UPDATE_FAILURE.format(1)])


def test_program_that_does_not_exist(app, launch):
    app.boot_items([("java", "${APP_DIR}no-such-java"), ("-jar", "app.jar")])
    r = launch()
    cmd = app.app_dir + "no-such-java  -jar app.jar"
    expect(app, r, transcript.failed_start(app.app_dir, cmd), [LAUNCH_ERROR])


# A program planted in the current folder (a document's folder, when a
# file association starts the launcher) never runs in place of Java: each
# row gives the "java" value, more boot items, the launcher's arguments and
# whether the runtime on PATH is to run; the launcher starts in Downloads,
# which holds a planted program of every name.
def planted(app, tmp_path, java_name):
    stand_in = app.root / (app.java_name)
    downloads, runtime = tmp_path / "Downloads", tmp_path / "jdk" / "bin"
    for folder in (downloads, runtime):
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(stand_in, folder / java_name)
    (downloads / "plan.mydoc").write_text("a document\n")
    return downloads, runtime


BARE = "javaw.exe"
PLANTED = [
    ("bare name", BARE, [], [], True),
    ("bare name, javaSearch", BARE, [("javaSearch", "y")], [], True),
    ("bare name, a document opened", BARE, [("passArgs", "y")], ["DOC"], True),
    # Windows would try "My.exe" for the missing "My App\jre\bin\javaw.exe".
    ("missing path with blanks", "${APP_DIR}sp/My App/jre/bin/javaw.exe", [], [], False),
]


@pytest.mark.parametrize("java, items, args, runs", [row[1:] for row in PLANTED], ids=[row[0] for row in PLANTED])
def test_no_program_from_the_current_folder(app, request, tmp_path, java, items, args, runs):
    name = "javaw.exe" if app.kind == "wine" else "javaw"
    java = java.replace("javaw.exe", name).replace("/", app.sep)
    downloads, runtime = planted(app, tmp_path, name)
    (app.root / "sp" / "My App").mkdir(parents=True)
    shutil.copy2(downloads / name, app.root / "sp" / ("My.exe" if app.kind == "wine" else "My"))
    app.boot_items([("java", java), ("-jar", "app.jar")] + items)
    app.script(0)
    if app.kind == "wine":
        # Windows searches the current folder before PATH.
        env = dict(request.getfixturevalue("wine_env"), WINEPATH=winpath(runtime))
        doc = winpath(downloads / "plan.mydoc")
    else:
        # An empty entry of PATH is the current folder to a POSIX search.
        env = dict(os.environ, PATH=":" + str(runtime) + ":" + os.environ["PATH"])
        doc = str(downloads / "plan.mydoc")
    r = run(app, request, args=[doc if a == "DOC" else a for a in args], cwd=downloads, env=env)
    ran = [one["exe"].replace("\\", "/") for one in app.runs(reads=True)]
    assert not any("Downloads" in exe or "/sp/My" in exe for exe in ran), ran
    assert not (downloads / "fakejava.log").exists()
    if runs:
        assert r.returncode == 0 and r.messages == [], r.stderr
        assert len(ran) == 1 and ran[0].endswith("/jdk/bin/" + name), ran
        assert app.runs()[0]["args"] == ["-jar", "app.jar"] + ([doc] if args else [])
    else:
        cmd = java.replace("${APP_DIR}", app.app_dir) + "  -jar app.jar"
        assert r.normalised()[-len(transcript.failed_start(app.app_dir, cmd)):] == \
            transcript.failed_start(app.app_dir, cmd)
        assert r.messages == [LAUNCH_ERROR] and ran == []


def test_jvm_options_go_before_the_jar(app, launch):
    # With a placeholder, for the application and the updater alike; the
    # staged update is still swapped in, since -jar still names the jar.
    options = "-Dfile.encoding=UTF-8 -Djava.library.path=${APP_DIR}lib -splash:${APP_DIR}splash.png"
    app.boot_items([("java", app.java), ("-Xmx", "64m"), ("jvmOptions", options), ("-jar", "app.jar")])
    app.script(21, 0)
    app.script(0, where="updater")
    (app.root / "app.jar").write_text("version 1")
    (app.root / "app.up").write_bytes(WHOLE)
    given = options.replace("${APP_DIR}", app.app_dir)
    cmd = app.java_path() + "  -Xmx64m " + given + " -jar app.jar"
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, 21) + transcript.launch(updater_dir(app), cmd, 0)
           + transcript.launch(app.app_dir, cmd, 0), swapped=True)
    args = ["-Xmx64m", *given.split(" "), "-jar", "app.jar"]
    assert [one["args"] for one in app.runs() + app.runs("updater")] == [args] * 3
    assert (app.root / "app.jar").read_bytes() == WHOLE


def user_options_file(app, request, tmp_path):
    """The environment of a start, and where the user's options are for it
    (here, and as the launcher names it)."""
    if app.kind == "native":
        options = tmp_path / "config" / "launcher" / "options"
        return dict(os.environ, XDG_CONFIG_HOME=str(tmp_path / "config")), options, str(options)
    env = request.getfixturevalue("wine_env")
    user = os.environ.get("USER") or "root"
    roaming = Path(env["WINEPREFIX"]) / "drive_c" / "users" / user / "AppData" / "Roaming"
    return (env, roaming / "launcher" / "launcher.options",
            f"C:\\users\\{user}\\AppData\\Roaming\\launcher\\launcher.options")


REFUSED = "it would change which program or classes run"
USER_OPTIONS = [
    # (what, the file's bytes, the lines said, the user's options that reach the application)
    ("taken", b"# more memory\r\n-Xmx2g\n\n  -Dfrom.user=${APP_DIR}x  \n-Dname=My App\n",
     ["userOption=-Xmx2g", "userOption=-Dfrom.user=DIRx", "userOption=-Dname=My App"],
     ["-Xmx2g", "-Dfrom.user=DIRx", "-Dname=My App"]),
    ("refused", b"-jar other.jar\nXmx2g\n-cp\n@more.txt\n-XX:Flags=f\n-javaagent:spy.jar\n-Xss4m\n",
     ["userOptionRefused=-jar other.jar: one option a line: only a -D property's value may hold a blank",
      "userOptionRefused=Xmx2g: it is no JVM option: those begin with -",
      "userOptionRefused=-cp: " + REFUSED, "userOptionRefused=@more.txt: it is no JVM option: those begin with -",
      "userOptionRefused=-XX:Flags=f: " + REFUSED, "userOptionRefused=-javaagent:spy.jar: " + REFUSED,
      "userOption=-Xss4m"],
     ["-Xss4m"]),
    ("missing", None, [], []),
    ("not UTF-8", b"-Dx=\xff\n", ["userOptionsIgnored=PATH: it is not UTF-8 text"], []),
    ("too big", b"-Xmx2g\n" + b"#" * (10 << 20), ["userOptionsIgnored=PATH: it is larger than 64 KiB"], []),
    # Java on Windows gets its command line in the ANSI code page.
    ("beyond the code page", "-Dname=\U00020BB7\n".encode(),
     {"native": ["userOption=-Dname=\U00020BB7"],
      "wine": ["userOptionRefused=(option 1): it has characters that the system's code page lacks"]},
     {"native": ["-Dname=\U00020BB7"], "wine": []}),
]


@pytest.mark.parametrize("what, content, said, given", USER_OPTIONS, ids=[c[0] for c in USER_OPTIONS])
def test_the_users_own_options(app, request, tmp_path, what, content, said, given):
    said, given = (said.get(app.kind), given.get(app.kind)) if isinstance(said, dict) else (said, given)
    env, options, shown = user_options_file(app, request, tmp_path)
    options.parent.mkdir(parents=True, exist_ok=True)
    options.unlink(missing_ok=True)
    if content is not None:
        options.write_bytes(content)
    try:
        app.boot_items([("java", app.java), ("-Xmx", "64m"), ("-jar", "app.jar"), ("userOptions", "y")])
        app.script(21, 0)
        app.script(0, where="updater")
        r = run(app, request, env=env)
    finally:
        options.unlink(missing_ok=True)
    place = ([f"userOptions=none: no file {shown}"] if content is None else
             [] if said[0].startswith("userOptionsIgnored=") else [f"userOptions={shown}"])
    lines = [l for l in r.lines if l.startswith("userOption")]
    assert lines == place + [l.replace("PATH", shown).replace("DIR", app.app_dir) for l in said], r.lines
    given = [g.replace("DIR", app.app_dir) for g in given]
    # After the vendor's options, before the jar; the updater gets none.
    assert [one["args"] for one in app.runs()] == [["-Xmx64m", *given, "-jar", "app.jar"]] * 2
    assert [one["args"] for one in app.runs("updater")] == [["-Xmx64m", "-jar", "app.jar"]]
    assert r.returncode == 0 and r.messages == []
    if what == "too big":
        assert r.elapsed < 10 * SLOWDOWN


def test_the_users_options_come_before_the_launchers_own(app, request, tmp_path):
    # And they are part of what the class archive is made for: another
    # archive than the one of the vendor's options alone.
    _, exe = runtime(app, "jdk", "17.0.9")
    env, options, _ = user_options_file(app, request, tmp_path)
    options.parent.mkdir(parents=True, exist_ok=True)
    options.write_text("-Xss4m\n")
    try:
        app.boot_items([("java", exe), ("-Xmx", "64m"), ("-jar", "app.jar"), ("classArchive", "y"),
                        ("userOptions", "y")])
        r = run(app, request, env=env)
    finally:
        options.unlink()
    archive = next(l for l in r.lines if l.startswith("classArchive=")).split("=", 1)[1].split(": ")[0]
    assert archive.startswith(app.app_dir + "launcher-") and archive.endswith(".jsa"), r.lines
    args = app.runs()[0]["args"]
    assert args[:3] == ["-Xmx64m", "-Xss4m", "-Xlog:cds*=off"] and args[-2:] == ["-jar", "app.jar"], args
    assert args[3].startswith("-XX:DumpLoadedClassList=" + archive), args


@pytest.mark.kinds("wine")
def test_access_violation_exit_code(app, launch):
    cmd = prepare(app, ["0xC0000005"])
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, -1073741819))


@pytest.mark.kinds("native")
def test_child_killed_by_a_signal(app, launch):
    cmd = prepare(app, ["signal:9"])
    r = launch()
    expect(app, r, transcript.launch(app.app_dir, cmd, 128 + 9))


@pytest.mark.kinds("native")
def test_real_jvm_cycle(tmp_path, kind, request):
    app = App(tmp_path / "app", kind)
    (app.root / "updater").mkdir()
    build_jar(tmp_path / "main-src", MAIN_JAVA, app.root / "app.jar")
    build_jar(tmp_path / "updater-src", UPDATER_JAVA, app.root / "updater" / "app.jar")
    app.boot_items([("java", "java"), ("-Xmx", "64m"), ("-jar", "app.jar")])
    r = run(app, request)
    cmd = "java  -Xmx64m -jar app.jar"
    # The JVMs share the launcher's standard output.
    lines = [l for l in r.normalised() if not l.startswith(("main:", "updater:"))]
    assert lines == (transcript.head(app) + transcript.swap(app, "app.jar")
                     + transcript.launch(app.app_dir, cmd, 21)
                     + transcript.launch(app.app_dir + "updater", cmd, 0)
                     + transcript.launch(app.app_dir, cmd, 0))
    java_lines = [l for l in r.lines if l.startswith(("main:", "updater:"))]
    assert java_lines == ["main: updated=false", "updater: done in " + str(app.root / "updater"),
                          "main: updated=true"]
    assert r.returncode == 0


PROPERTY_JAVA = """
    public class Main {
        public static void main(String[] args) {
            System.out.println("launcher.test=" + System.getProperty("launcher.test"));
        }
    }
"""


@pytest.mark.kinds("native")
@pytest.mark.parametrize("given_by", ["the vendor", "the user"])
def test_real_jvm_gets_the_jvm_options(tmp_path, kind, request, given_by):
    app = App(tmp_path / "app", kind)
    build_jar(tmp_path / "src", PROPERTY_JAVA, app.root / "app.jar")
    env, options, _ = user_options_file(app, request, tmp_path)
    if given_by == "the vendor":
        app.boot_items([("java", "java"), ("jvmOptions", "-Dlauncher.test=yes"), ("-jar", "app.jar")])
    else:
        options.parent.mkdir(parents=True)
        options.write_text("-Dlauncher.test=yes\n")
        app.boot_items([("java", "java"), ("userOptions", "y"), ("-jar", "app.jar")])
    r = run(app, request, env=env)
    assert r.returncode == 0 and "launcher.test=yes" in r.lines, r.lines


# Finding Java when boot.xml's is missing or too old: stand-in runtimes
# (runtime) found through JAVA_HOME, the registry (Wine) or PATH (natively).

REG = r"HKLM\SOFTWARE"


def quoted(path):
    return f'"{path}"' if " " in path else path


# Each row: the extra boot items, then what to lay out; it returns the
# environment's additions, the registry keys (key, value name, data, view)
# and the runtime expected to run, with its place, or None.
def java_home(app):
    home, exe = runtime(app, "jdk-17", "17.0.9")
    return {"JAVA_HOME": home}, [], (exe, "JAVA_HOME", 17)


def on_path(app):
    home, exe = runtime(app, "jdk-21", "21-ea")
    return {"PATH": home + "/bin:" + os.environ["PATH"]}, [], (exe, "PATH", 21)


def registry_64_bit_view_only(app):
    home, exe = runtime(app, "jdk-17", "17.0.9")
    key = REG + r"\JavaSoft\JDK\17"
    return {}, [(key, "JavaHome", home, "64")], (exe, "registry " + key + " (64-bit view)", 17)


def adoptium_key(app):
    home, exe = runtime(app, "temurin-21", "21.0.1")
    key = r"HKCU\SOFTWARE\Eclipse Adoptium\JDK\21.0.1.12\hotspot\MSI"  # a per-user install
    return {}, [(key, "Path", home + "\\", "64")], (exe, "registry " + key + " (64-bit view)", 21)


def too_old_passed_over(app):
    old, old_exe = runtime(app, "jdk-11", "11.0.21")
    home, exe = runtime(app, "jdk-17", "17.0.9")
    if app.kind == "wine":
        key = REG + r"\JavaSoft\JRE\17"  # WOW6432Node, as a 64-bit program sees it
        return {"JAVA_HOME": old}, [(key, "JavaHome", home, "32")], (exe, "registry " + key + " (32-bit view)", 17)
    return {"JAVA_HOME": old, "PATH": home + "/bin:" + os.environ["PATH"]}, [], (exe, "PATH", 17)


def expand_sz_program_files(app):
    """A REG_EXPAND_SZ home in %ProgramFiles%: the 64-bit folder, which a
    32-bit process's own %ProgramFiles% is not."""
    name = "launcher-test-" + app.root.parent.name
    home = Path(app.env["WINEPREFIX"]) / "drive_c" / "Program Files" / name
    app.cleanup.append(home)
    (home / "bin").mkdir(parents=True)
    shutil.copy2(app.root / "fakejava.exe", home / "bin" / "fakejava.exe")
    (home / "release").write_text('JAVA_VERSION="17.0.9"\n')
    key = REG + r"\JavaSoft\JDK\17"
    exe = "C:\\Program Files\\" + name + "\\bin\\fakejava.exe"
    return ({}, [(key, "JavaHome", "%ProgramFiles%\\" + name, "64", "REG_EXPAND_SZ")],
            (exe, "registry " + key + " (64-bit view)", 17))


def another_processor_passed_over(app):
    """A runtime built for ARM64 cannot run on this x64 Windows: the next one runs."""
    arm, arm_exe = runtime(app, "jdk-arm64", "21.0.1")
    image = bytearray((app.root / "runtimes" / "jdk-arm64" / "bin" / "fakejava.exe").read_bytes())
    pe = int.from_bytes(image[0x3C:0x40], "little")
    image[pe + 4:pe + 6] = (0xAA64).to_bytes(2, "little")
    (app.root / "runtimes" / "jdk-arm64" / "bin" / "fakejava.exe").write_bytes(bytes(image))
    home, exe = runtime(app, "jdk-17", "17.0.9")
    key = REG + r"\JavaSoft\JDK\17"
    return ({"JAVA_HOME": arm}, [(key, "JavaHome", home, "64")],
            (exe, "registry " + key + " (64-bit view)", 17,
             [f"javaRuntime={arm_exe} (JAVA_HOME, version 21): passed over: built for another processor (ARM64)"]))


def nothing_fits(app):
    old, _ = runtime(app, "jdk-11", "1.8.0_392")
    return {"JAVA_HOME": old}, [], None


WINE_ONLY, NATIVE_ONLY = pytest.mark.kinds("wine"), pytest.mark.kinds("native")
SEARCHES = [
    ([("javaSearch", "y")], java_home),
    # Wine builds its PATH from its own registry: PATH is searched natively.
    pytest.param([("javaSearch", "Y")], on_path, marks=NATIVE_ONLY),
    pytest.param([("javaSearch", "y")], registry_64_bit_view_only, marks=WINE_ONLY),
    pytest.param([("javaSearch", "y"), ("javaMinVersion", "17")], adoptium_key, marks=WINE_ONLY),
    pytest.param([("javaSearch", "y")], expand_sz_program_files, marks=WINE_ONLY),
    pytest.param([("javaSearch", "y")], another_processor_passed_over, marks=WINE_ONLY),
    ([("javaSearch", "y"), ("javaMinVersion", "17")], too_old_passed_over),
    ([("javaSearch", "y"), ("javaMinVersion", "17"), ("javaDownload", "https://example.com/java")], nothing_fits),
]


@pytest.mark.parametrize("items, layout", SEARCHES)
def test_java_search(app, request, items, layout):
    configured = "${APP_DIR}jre" + app.sep + "bin" + app.sep + (app.java_name)
    app.boot_items([("java", configured), ("-Xmx", "64m"), ("-jar", "app.jar")] + items)
    app.script(0)
    app.env, app.cleanup = request.getfixturevalue("wine_env") if app.kind == "wine" else os.environ, []
    extra, keys, expected = layout(app)
    env = dict(app.env, **extra)
    try:
        for key, name, data, view, *kind in keys:
            subprocess.run([WINE64, "reg", "add", key, "/v", name, "/t", (kind or ["REG_SZ"])[0], "/d", data,
                            "/reg:" + view, "/f"], env=env, check=True, capture_output=True, timeout=120)
        r = run(app, request, env=env)
    finally:
        for folder in app.cleanup:
            shutil.rmtree(folder, ignore_errors=True)
        for key, *_ in keys:
            root = "\\".join(key.split("\\")[:3])
            for view in ("32", "64"):
                subprocess.run([WINE64, "reg", "delete", root, "/reg:" + view, "/f"], env=env,
                               capture_output=True, timeout=120)
    lines = r.normalised()
    if expected is None:
        assert r.returncode == 1
        assert "javaRuntime=none fits" in lines
        message = (JAVA_MISSING.format(configured.replace("${APP_DIR}", app.app_dir), "Java 17 以降")
                   + "Java の入手先: https://example.com/java")
        # Wine's trace, which the harness reads, cuts a long text short.
        assert len(r.messages) == 1 and message.startswith(r.messages[0].removesuffix("...")), r.stderr
        assert app.runs() == [] and not any(l.startswith("javaCommandLine=") for l in lines)
        return
    exe, place, version, *before = expected
    assert r.returncode == 0 and r.messages == [], r.stderr
    verdicts = [line for line in lines if line.startswith("javaRuntime=")]
    assert f"javaRuntime={exe} ({place}, version {version}): chosen" in lines, verdicts
    assert all(line in verdicts for line in (before or [[]])[0]), verdicts
    assert f"javaCommandLine={quoted(exe)}  -Xmx64m -jar app.jar" in lines
    assert len(app.runs()) == 1


# The class-data archive (classArchive): the stand-in Java under stand-in
# runtimes of each version. Each row: the runtime's version, the archive
# there before the start (none; CURRENT: read-only, as the JVM leaves it,
# with the record of what it was made for; UNRECORDED: an older launcher's,
# without one), whether an update is staged, and the options expected on
# the main application's line (ARCHIVE: its path; LIST: the class list the
# run records, named after the launcher's process).
CURRENT, UNRECORDED = "current", "unrecorded"
RECORDING = " -Xlog:cds*=off -XX:DumpLoadedClassList=LIST"
ARCHIVES = [
    ("11", None, False, None),
    ("17.0.9", None, False, RECORDING),
    ("17.0.9", CURRENT, False, " -Xlog:cds*=off -XX:SharedArchiveFile=ARCHIVE"),
    ("21.0.1", CURRENT, False, " -Xlog:cds*=off -XX:SharedArchiveFile=ARCHIVE"),
    ("25", CURRENT, False, " -Xlog:cds*=off -Xlog:aot*=off -XX:SharedArchiveFile=ARCHIVE"),
    ("25", None, False, " -Xlog:cds*=off -Xlog:aot*=off -XX:DumpLoadedClassList=LIST"),
    # The swap takes the old version's archive with it, read-only or not.
    ("17.0.9", CURRENT, True, RECORDING),
    # An archive whose record is missing is made anew.
    ("17.0.9", UNRECORDED, False, RECORDING),
]


def file_record(app, path, launcher_path):
    """A line of the record, as the launcher writes it: the path as it sees
    it, the size and the time (nanoseconds; Windows: 100 ns since 1601)."""
    st = path.stat()
    time = st.st_mtime_ns if app.kind == "native" else st.st_mtime_ns // 100 + 116444736000000000
    return f"{launcher_path}\t{st.st_size}\t{time}\n"


@pytest.mark.parametrize("version, archived, staged, options", ARCHIVES)
def test_class_archive(app, launch, version, archived, staged, options):
    _, exe = runtime(app, "jdk", version)
    app.boot_items([("java", exe), ("-Xmx", "64m"), ("-jar", "app.jar"), ("classArchive", "y")])
    app.script(21, 0)
    app.script(0, where="updater")
    archive = app.app_dir + ("launcher.aot" if version == "25" else "launcher.jsa")
    stored = app.root / archive[len(app.app_dir):]
    if staged:
        (app.root / "app.jar").write_text("version 1")
        (app.root / "app.up").write_bytes(WHOLE)
    if archived:
        stored.write_bytes(b"an earlier start's archive")
        stored.chmod(0o444)
    if archived == CURRENT:
        home = app.root / "runtimes" / "jdk"
        exe_file = home / "bin" / (app.java_name)
        (app.root / "app.jar").touch()
        Path(str(stored) + ".record").write_text(
            file_record(app, exe_file, exe) + file_record(app, home / "release", app.path("runtimes", "jdk", "release"))
            + file_record(app, app.root / "app.jar", app.app_dir + "app.jar"))
    r = launch()
    lines = r.normalised()
    assert r.returncode == 0 and r.messages == [], r.stderr
    assert not (app.root / ".launcher-write-test").exists(), "the test of the folder leaves nothing"
    plain = exe + "  -Xmx64m -jar app.jar"
    commands = [l[len("javaCommandLine="):] for l in lines if l.startswith("javaCommandLine=")]
    if options is None:
        assert "classArchive=none: Java 11 keeps no archive of an application's classes; 13 or later does" in lines
        assert commands == [plain] * 3
        return
    pid = next(l.split("==")[1] for l in r.lines if l.startswith("execute:processId=="))
    main = exe + "  -Xmx64m" + options.replace("ARCHIVE", archive).replace(
        "LIST", f"{archive}.{pid}.classlist") + " -jar app.jar"
    # The updater is another program: its line stays as it was.
    assert commands == [main, plain, main]
    kept = archived == CURRENT and not staged
    assert (f"classArchive={archive}: used" in lines) == kept
    assert (f"classArchiveRemoved={archive}" in lines) == (archived is not None and not kept)
    assert (f"classArchiveStale={archive}: no record of what it was made for" in lines) == (archived == UNRECORDED)
    assert stored.exists() == kept
    # The stand-in records no classes: nothing to make, and nothing left.
    assert not any(l.startswith("classArchiveMaking=") for l in lines)
    assert not [p.name for p in app.root.iterdir() if p.name.endswith((".classlist", ".job", ".part"))]


def test_class_archive_is_made_in_the_background_and_gives_way_to_a_start(app, launch, request):
    # The stand-in records classes where fakejava.classes names them, and
    # dumps an archive as a JVM would, here in four seconds: a start of the
    # application while it dumps ends the dump, and the archive is made after.
    _, exe = runtime(app, "jdk", "17.0.9")
    app.boot_items([("java", exe), ("-jar", "app.jar"), ("classArchive", "y")])
    (app.root / "fakejava.classes").write_text("java/lang/Object\n")
    (app.root / "fakejava.dumpms").write_text("4000")
    app.script(7, 7, 0, 7)  # two starts, the dump that is not ended, a third start
    archive = app.app_dir + "launcher.jsa"
    # Its output nowhere: under Wine the making in the background holds
    # the launcher's output open, and launch() would wait for it to end.
    cmd = [str(app.exe)] if app.kind == "native" else [WINE, str(app.exe)]
    env = None if app.kind == "native" else request.getfixturevalue("wine_env")
    first = subprocess.Popen(cmd, cwd=app.root, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(int(100 * SLOWDOWN)):
        if len(app.runs()) == 2:
            break
        time.sleep(0.1)
    dump = app.runs()[1]["args"]
    assert dump[0] == "-Xshare:dump" and dump[-2:] == ["-cp", "app.jar"], dump
    second = launch()
    assert second.returncode == 0 and second.messages == [] and "launchJava:retCode=7" in second.lines
    assert f"classArchiveMaking={archive}" in second.lines, second.lines
    stored = app.root / "launcher.jsa"
    for _ in range(int(400 * SLOWDOWN)):
        if stored.exists() and not [p for p in app.root.iterdir() if p.name.endswith((".job", ".classlist"))]:
            break
        time.sleep(0.1)
    assert first.wait(timeout=60) == 0
    assert stored.read_text() == "archived by fakejava\n"
    assert Path(str(stored) + ".record").read_text().startswith(exe + "\t")
    dumps = [r for r in app.runs() if r["args"][0] == "-Xshare:dump"]
    # Each dump but the one that gave way wrote its archive.
    assert len(dumps) >= 2 and (app.root / "fakejava.log").read_text().count("dumped=") == len(dumps) - 1
    assert not [p.name for p in app.root.iterdir() if p.name.endswith(".part")]
    third = launch()
    assert f"classArchive={archive}: used" in third.lines and "launchJava:retCode=7" in third.lines


def test_leftovers_of_ended_makings_are_removed_at_the_next_start(app, launch):
    # A making killed by a log-off leaves its dump's output (30 MiB) and its
    # class list behind; a running one's stay.
    _, exe = runtime(app, "jdk", "17.0.9")
    app.boot_items([("java", exe), ("-jar", "app.jar"), ("classArchive", "y")])
    ended = ["launcher.jsa.999999.part", "launcher.jsa.999999.part.record", "launcher.jsa.999998.classlist",
             "launcher.jsa.999997.job"]
    running = [f"launcher.jsa.{os.getpid()}.part"] if app.kind == "native" else []
    for name in ended + running + ["launcher.jsa.notes.txt"]:
        (app.root / name).write_text("left behind")
    (app.root / ended[0]).chmod(0o444)  # as the JVM leaves its output
    r = launch()
    assert r.returncode == 0 and "launchJava:retCode=0" in r.lines
    removed = sorted(l.split("=", 1)[1] for l in r.lines if l.startswith("classArchiveLeftoverRemoved="))
    assert removed == sorted(app.app_dir + name for name in ended), r.lines
    assert all((app.root / name).exists() for name in running + ["launcher.jsa.notes.txt"])


def test_a_relative_java_is_the_applications_wherever_the_launcher_starts(app, request, tmp_path):
    # A document's folder, as a file association starts the launcher in,
    # with a runtime of its own: only the application's runs, for the
    # version check, the application's run, the class archive's record and
    # its making in the background.
    exe = app.java_name
    _, _ = runtime(app, "jre", "17.0.9")
    (app.root / "runtimes" / "jre" / "release").write_text('JAVA_VERSION="17.0.9"\n')
    docs = tmp_path / "docs"
    planted = docs / "runtimes" / "jre"
    (planted / "bin").mkdir(parents=True)
    shutil.copy2(app.root / exe, planted / "bin" / exe)
    (planted / "release").write_text('JAVA_VERSION="25"\n')
    relative = app.sep.join(["runtimes", "jre", "bin", exe])
    app.boot_items([("java", relative), ("-jar", "app.jar"), ("javaMinVersion", "17"), ("classArchive", "y")])
    (app.root / "fakejava.classes").write_text("java/lang/Object\n")
    (app.root / "fakejava.dumpms").write_text("100")
    app.script(0, 0)
    r = run(app, request, cwd=docs)
    assert r.returncode == 0 and r.messages == [], r.lines
    runtime_line = [l for l in r.lines if l.startswith("javaRuntime=")]
    assert runtime_line == [f"javaRuntime={app.app_dir}{relative} (boot.xml, version 17): chosen"], r.lines
    # The archive of Java 17, made in the background from the application's runtime.
    stored = app.root / "launcher.jsa"
    for _ in range(int(300 * SLOWDOWN)):
        if stored.exists() and not [p for p in app.root.iterdir() if p.name.endswith((".job", ".classlist"))]:
            break
        time.sleep(0.1)
    assert Path(str(stored) + ".record").read_text().startswith(f"{app.app_dir}{relative}\t")
    assert not (docs / "fakejava.log").exists()
    # The application's run and the dump: each the application's runtime.
    exes = [run_["exe"] for run_ in app.runs(reads=True)]
    assert len(exes) >= 2 and all(e.lower() == f"{app.app_dir}{relative}".lower() for e in exes), exes


@pytest.mark.kinds("native")
def test_class_archive_of_a_read_only_application_goes_to_the_users_folder(kind):
    # As another user than root, for whom every folder is writable.
    base = Path(tempfile.mkdtemp(prefix="launcher-ro-"))
    try:
        base.chmod(0o755)
        app = App(base / "app", kind)
        _, exe = runtime(app, "jdk", "17.0.9")
        app.boot_items([("java", exe), ("-jar", "app.jar"), ("classArchive", "y")])
        app.script(0)
        for name in ("fakejava.log", "fakejava.script"):  # the stand-in's own, written in place
            (app.root / name).touch()
            (app.root / name).chmod(0o666)
        cache = base / "cache"
        cache.mkdir(mode=0o777)
        cache.chmod(0o777)
        for folder in [app.root, *app.root.rglob("*")]:
            if folder.is_dir():
                folder.chmod(0o555)
        env = dict(os.environ, XDG_CACHE_HOME=str(cache))
        r = run(app, env=env, starter=("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"))
        lines = r.normalised()
        archive = [l for l in lines if l.startswith("classArchive=")]
        assert len(archive) == 1 and archive[0].startswith(f"classArchive={cache}/launcher/launcher-"), lines
        assert archive[0].endswith(".jsa: recording the classes, to make it after the application ends")
        assert (cache / "launcher").is_dir()
        assert r.returncode == 0 and len(app.runs()) == 1
    finally:
        for folder in [base, *base.rglob("*")]:
            if folder.is_dir():
                folder.chmod(0o755)
        shutil.rmtree(base)


@pytest.mark.kinds("native")
@pytest.mark.parametrize("version", JDKS)
def test_real_jvm_starts_past_a_damaged_class_archive(tmp_path, kind, request, version):
    java = JDKS[version] + "/bin/java"
    if not os.path.exists(java):
        pytest.skip(f"no Java {version} here ({java})")
    app = App(tmp_path / "app", kind)
    build_jar(tmp_path / "main-src", MAIN_JAVA, app.root / "app.jar")
    (app.root / "updated").touch()  # the application ends with 0
    app.boot_items([("java", java), ("-jar", "app.jar"), ("classArchive", "y")])
    archive = app.root / ("launcher.aot" if version == "25" else "launcher.jsa")
    archive.write_bytes(b"half an archive, damaged on the disk")
    # Made for this very runtime and jar, as far as the launcher can tell.
    real = Path(os.path.realpath(java))
    Path(str(archive) + ".record").write_text(
        file_record(app, real, real) + file_record(app, real.parent.parent / "release", real.parent.parent / "release")
        + file_record(app, app.root / "app.jar", app.app_dir + "app.jar"))
    r = run(app, request)
    assert r.returncode == 0 and f"classArchive={archive}: used" in r.lines
    assert "main: updated=true" in r.lines and "launchJava:retCode=0" in r.lines
    # The JVM's complaint about the archive stays off the user's screen.
    assert not [l for l in r.lines + r.stderr.splitlines() if "[cds" in l or "[aot" in l], r.lines


# Japanese Windows: a runtime whose folder ends in 表, whose last byte in
# code page 932 is that of a backslash, found through JAVA_HOME and PATH.
@pytest.mark.kinds("wine")
@pytest.mark.parametrize("where", ["JAVA_HOME", "PATH"])
def test_a_runtime_in_a_japanese_folder_is_found(app, request, where):
    env = dict(request.getfixturevalue("wine_env"), LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
    home, exe = runtime(app, "jdk表", "17.0.9")
    if where == "PATH":
        # A PATH folder that itself ends in 表 (the runtime's home is its parent).
        (app.root / "runtimes" / "jdk表" / "bin").rename(app.root / "runtimes" / "jdk表" / "bin表")
        exe = exe.replace("\\bin\\", "\\bin表\\")
    app.boot_items([("java", "${APP_DIR}jre\\bin\\fakejava.exe"), ("-jar", "app.jar"), ("javaSearch", "y")])
    app.script(0)
    if where == "JAVA_HOME":
        env["JAVA_HOME"] = home
        r = run(app, request, env=env, encoding="cp932")
    else:
        with user_variable(env, "PATH", home + "\\bin表"):
            r = run(app, request, env=env, encoding="cp932")
    lines = r.normalised()
    assert r.returncode == 0 and r.messages == [], r.stderr
    assert f"javaRuntime={exe} ({where}, version 17): chosen" in lines, lines
    assert len(app.runs()) == 1
