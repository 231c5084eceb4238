"""`make demo` as a test: a real JVM, version 1 asks for the update, the
updater stages version 2, the next start swaps it in."""
import os
import subprocess

from conftest import ROOT


def test_demo_story(tmp_path):
    env = dict(os.environ, DEMO_DIR=str(tmp_path))
    env.pop("DISPLAY", None)  # console lines instead of windows
    proc = subprocess.run(["bash", str(ROOT / "scripts" / "demo.sh")], env=env, capture_output=True,
                          text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    app = str(tmp_path / "app")
    first = (tmp_path / "start1.txt").read_text().splitlines()
    second = (tmp_path / "start2.txt").read_text().splitlines()

    def story(lines):
        return [l for l in lines if l.startswith(("demo ", "currentDir=", "launchJava:", "upFileExists=",
                                                  "remove succeed.", "javaCommandLine="))]

    cmd = "javaCommandLine=java  -Xmx256m -jar app.jar"
    assert story(first) == [
        "upFileExists=0",
        "currentDir=" + app + "/", cmd,
        "demo app: version 1 running",
        "demo app: version 2 available in feed, exiting with 21 to run the updater",
        "launchJava:retCode=21",
        "currentDir=" + app + "/updater", cmd,
        "demo updater: staged version 2 from ../feed/app-2.jar as ../app.up",
        "launchJava:retCode=0",
        "currentDir=" + app + "/", cmd,
        "demo app: version 1 running",
        "demo app: version 2 already staged as app.up, used at next start",
        "launchJava:retCode=0",
    ]
    assert story(second) == [
        "upFileExists=1", "remove succeed.",
        "currentDir=" + app + "/", cmd,
        "demo app: version 2 running",
        "demo app: no newer version in feed",
        "launchJava:retCode=0",
    ]
    assert proc.stdout.splitlines()[-1] == "===== demo: version 2 now runs"


def test_demo_story_with_a_class_archive(tmp_path):
    env = dict(os.environ, DEMO_DIR=str(tmp_path), DEMO_CLASS_ARCHIVE="y")
    env.pop("DISPLAY", None)
    proc = subprocess.run(["bash", str(ROOT / "scripts" / "demo.sh")], env=env, capture_output=True,
                          text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    archive = str(tmp_path / "app") + "/launcher.jsa"
    first = (tmp_path / "start1.txt").read_text().splitlines()
    second = (tmp_path / "start2.txt").read_text().splitlines()

    def story(lines):
        return [l for l in lines if l.startswith(("demo app:", "classArchive", "launchJava:"))]

    # Both runs of the first start record their classes; the archive is
    # made after the application has ended, never before the updater.
    recording = "classArchive=" + archive + ": recording the classes, to make it after the application ends"
    assert story(first) == [
        recording,
        "demo app: version 1 running",
        "demo app: version 2 available in feed, exiting with 21 to run the updater",
        "launchJava:retCode=21", "launchJava:retCode=0",
        recording,
        "demo app: version 1 running",
        "demo app: version 2 already staged as app.up, used at next start",
        "launchJava:retCode=0",
        "classArchiveMaking=" + archive,
    ], "\n".join(first)
    commands = [l for l in first if l.startswith("javaCommandLine=")]
    assert "-Xlog:cds*=off" in commands[0] and commands[1] == "javaCommandLine=java  -Xmx256m -jar app.jar"
    # The swap takes the old version's archive with it.
    assert story(second)[:2] == ["classArchiveRemoved=" + archive, recording]
    assert "demo app: version 2 running" in second


def test_wrong_java_path_reports_launch_error_and_exits_0(tmp_path):
    from conftest import App, LAUNCH_ERROR
    app = App(tmp_path / "app", "native")
    app.boot_items([("java", "/no/such/java"), ("-jar", "app.jar")])
    proc = subprocess.run([str(app.exe)], capture_output=True, text=True, cwd="/")
    assert proc.returncode == 0
    assert proc.stderr.splitlines() == [LAUNCH_ERROR]
    assert "execute:createProcessResult==0" in proc.stdout.splitlines()
