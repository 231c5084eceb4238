"""The update loop with the Java stand-in: whole transcripts, message texts,
working directories."""
import shutil
import subprocess
import textwrap

import pytest

import transcript
from conftest import App, BOOT_FAILURE, LAUNCH_ERROR, UPDATE_FAILURE, run


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


def expect(app, r, groups, messages=()):
    assert r.returncode == 0
    assert r.normalised() == transcript.head(app) + transcript.swap(app, "app.jar") + groups
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
    """A path relative to the launcher's working directory: the updater,
    started in its own folder, must find the same program."""
    name = "java.exe" if app.kind == "wine" else "java"
    (app.root / "jre" / "bin").mkdir(parents=True)
    shutil.copy2(app.root / ("fakejava.exe" if app.kind == "wine" else "fakejava"), app.root / "jre" / "bin" / name)
    return app.sep.join(["jre", "bin", name]), {"cwd": app.root}


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
    boot = app.app_dir + "config" + app.sep + "boot.xml"
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


MAIN_JAVA = """
    import java.nio.file.*;
    public class Main {
        public static void main(String[] args) throws Exception {
            Path updated = Paths.get("updated");
            System.out.println("main: updated=" + Files.exists(updated));
            System.exit(Files.exists(updated) ? 0 : 21);
        }
    }
"""
UPDATER_JAVA = """
    import java.nio.file.*;
    public class Main {
        public static void main(String[] args) throws Exception {
            Files.write(Paths.get("..", "updated"), new byte[0]);
            System.out.println("updater: done in " + Paths.get("").toAbsolutePath());
        }
    }
"""


def build_jar(work, source, jar):
    work.mkdir(parents=True)
    (work / "Main.java").write_text(textwrap.dedent(source))
    subprocess.run(["javac", "--release", "11", "Main.java"], cwd=work, check=True)
    (work / "manifest.txt").write_text("Main-Class: Main\n")
    subprocess.run(["jar", "cfm", str(jar), "manifest.txt", "Main.class"], cwd=work, check=True)


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
