"""The log key: a record of every start in the user's own folder, with
Java's standard error where the launcher has none, bounded in size, and
never in the way of the application."""
import contextlib
import os
import re
import shutil
import subprocess
import threading
import time
from pathlib import Path

import pytest

from conftest import (BUILD, JDKS, LAUNCH_ERROR, SLOWDOWN, WINE, WINE_BUILD, App, build_jar, fnv_suffix, records, run,
                      runtime, setting, user_variable)

HEADER_TIME = re.compile(r"^==== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d\d:\d\d$")
TIMED = re.compile(r"^\+(\d+) (.*)$")
# Lines of the log alone, not of the launcher's standard output.
LOG_ONLY = re.compile(r"^(java ended with exit code -?\d+ after \d+ ms|exit status -?\d+|java: .*|crash report: .*)$")
FOOTER = "起動の記録: "


def log_app(app, request, tmp_path, codes=(0,), updater=(), key="y", encoding="utf-8"):
    app.boot_items([("java", app.java), ("-jar", "app.jar"), ("log", key)])
    app.script(*codes)
    if updater:
        app.script(*updater, where="updater")
    env, folder, shown = setting(app, request, tmp_path)
    name = "launcher" + fnv_suffix(app.app_dir, encoding) + ".log"
    (folder / name).unlink(missing_ok=True)
    (folder / (name + ".1")).unlink(missing_ok=True)
    return env, folder / name, shown + name


def timed_lines(block):
    """The lines after the header, without their times, which never go back."""
    times, lines = [], []
    for line in block[6:]:
        m = TIMED.match(line)
        assert m, line
        times.append(int(m.group(1)))
        lines.append(m.group(2))
    assert times == sorted(times)
    return lines


def without_stderr(app, env):
    """A start with no standard error of the launcher's own: natively with
    descriptor 2 closed, under Wine from a starter that gives the launcher
    no standard handles, as Explorer does. The log alone shows that it ran."""
    if app.kind == "native":
        return subprocess.run(["sh", "-c", 'exec "$@" 2>&-', "sh", str(app.exe)], env=env, cwd="/",
                              stdout=subprocess.DEVNULL, timeout=120).returncode
    shutil.copy2(BUILD / WINE_BUILD / "nostd.exe", app.root / "nostd.exe")
    return subprocess.run([WINE, "nostd.exe", "launcher.exe"], env=env, cwd=app.root, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=120 * SLOWDOWN).returncode


def test_every_start_is_recorded(app, request, tmp_path):
    (app.root / "updater").mkdir()
    env, log, shown = log_app(app, request, tmp_path, codes=(21, 0, 7), updater=(0,))
    first = run(app, request, env=env)
    assert first.returncode == 0 and f"log={shown}" in first.lines, first.lines
    second = run(app, request, env=env)
    assert second.returncode == 0
    blocks = records(log)
    assert len(blocks) == 2 and timed_lines(blocks[1])[-1] == "exit status 0"
    block = blocks[0]
    assert HEADER_TIME.match(block[0]), block[0]
    assert block[1] == "launcher: " + app.path("launcher.exe" if app.kind == "wine" else "launcher")
    assert block[2].startswith("system: ") and len(block[2]) > 12
    assert block[3:6] == [f"{name}: (not set)" for name in ("JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "JDK_JAVA_OPTIONS")]
    lines = timed_lines(block)
    # Every line of the transcript, in order, and the log's own.
    assert [l for l in lines if not LOG_ONLY.match(l)] == first.lines
    ends = [l for l in lines if l.startswith(("java ended", "exit status"))]
    assert [re.sub(r"after \d+ ms", "after T ms", l) for l in ends] == [
        "java ended with exit code 21 after T ms", "java ended with exit code 0 after T ms",
        "java ended with exit code 0 after T ms", "exit status 0"]
    assert lines[-1] == "exit status 0"
    # Crash reports go to the log's folder, for the updater too.
    error_file = f"-XX:ErrorFile={shown.rsplit(app.sep, 1)[0]}{app.sep}hs_err_pid%p.log"
    assert error_file in app.runs()[0]["args"] and error_file in app.runs("updater")[0]["args"]
    # Without the key: nothing written, nothing added.
    app.boot_items([("java", app.java), ("-jar", "app.jar")])
    size = log.stat().st_size
    third = run(app, request, env=env)
    assert not any(l.startswith("log") for l in third.lines) and log.stat().st_size == size
    assert not any(a.startswith("-XX:ErrorFile") for a in app.runs()[-1]["args"])


@pytest.mark.kinds("wine")
def test_the_log_is_utf8_under_japanese_windows(tmp_path, kind, request):
    # The launcher's lines are in code page 932, the log's in UTF-8.
    app = App(tmp_path / "表示", kind)
    env, log, shown = log_app(app, request, tmp_path, encoding="cp932")
    env = dict(env, LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
    r = run(app, request, env=env, encoding="cp932")
    block = records(log)[0]
    assert block[1] == "launcher: " + app.path("launcher.exe") and "表示" in block[1]
    assert [l for l in timed_lines(block) if not LOG_ONLY.match(l)] == r.lines
    assert log.read_bytes().count(b"\r\n") == len(block) and b"\n" not in log.read_bytes().replace(b"\r\n", b"")


# Java's standard error: (what the stand-in writes, whether the launcher
# has a standard error of its own, what the log keeps of it).
ERRORS = [
    pytest.param("Error: Could not find or load main class Main\n", False, ["Error: Could not find or load main class Main"],
                 id="kept without a standard error"),
    pytest.param("Error: Could not find or load main class Main\n", True, [], id="passed on with one"),
    pytest.param("bytes:104857600", False, None, id="100 MiB"),
]


@pytest.mark.parametrize("written, has_stderr, kept", ERRORS)
def test_javas_standard_error(app, request, tmp_path, written, has_stderr, kept):
    env, log, _ = log_app(app, request, tmp_path, codes=(7,))
    (app.root / "fakejava.stderr").write_text(written)
    if has_stderr:
        r = run(app, request, env=env)
        assert "Could not find or load main class Main" in r.stderr
    else:
        assert without_stderr(app, env) == 0
    lines = timed_lines(records(log)[0])
    errors = [l[6:] for l in lines if l.startswith("java: ")]
    assert "java ended with exit code 7" in "\n".join(lines) and lines[-1] == "exit status 0"
    if kept is None:
        # Bounded, and the stand-in wrote all of it and ended as it would.
        assert log.stat().st_size < 1024 * 1024 and errors[-1].endswith("more bytes of standard error not kept)")
    else:
        assert errors == kept


def test_the_log_stays_bounded(app, request, tmp_path):
    env, log, shown = log_app(app, request, tmp_path, codes=("signal:6",))
    folder = log.parent
    folder.mkdir(parents=True, exist_ok=True)
    log.write_bytes(b"x" * (1024 * 1024 - 200) + b"\n")
    # Six old crash reports, and the new one: the newest five stay. (Under
    # Wine the folder is the prefix's, shared with earlier runs.)
    for old in folder.glob("hs_err_pid*.log"):
        old.unlink()
    for n in range(6):
        report = folder / f"hs_err_pid{90000 + n}.log"
        report.write_text("old\n")
        os.utime(report, (1_000_000 + n, 1_000_000 + n))
    r = run(app, request, env=env)
    assert f"log={shown}" in r.lines
    assert Path(str(log) + ".1").stat().st_size == 1024 * 1024 - 199
    block = records(log)[0]
    assert HEADER_TIME.match(block[0]) and log.stat().st_size < 1024 * 1024
    assert sorted(p.name for p in folder.glob("hs_err_pid9000*.log")) == [f"hs_err_pid9000{n}.log" for n in range(2, 6)]
    # The stand-in died as a JVM does, leaving its report where it was told.
    crash = [l for l in timed_lines(block) if l.startswith("crash report: ")]
    assert len(crash) == 1 and Path(folder / crash[0].rsplit("\\" if app.kind == "wine" else "/", 1)[1]).is_file()


@pytest.mark.parametrize("why", ["its place is taken", "its folder is refused"])
def test_a_log_that_cannot_be_written_changes_nothing(app, request, tmp_path, why):
    env, log, shown = log_app(app, request, tmp_path, codes=(7, 7))
    user = contextlib.nullcontext()
    if app.kind == "native" and why == "its place is taken":
        env["XDG_STATE_HOME"] = str(tmp_path / "a-file")
        (tmp_path / "a-file").write_text("")
    elif app.kind == "native":
        for folder in (tmp_path / "shared", tmp_path / "shared" / "launcher"):
            folder.mkdir()
            os.chmod(folder, 0o777)
        env["XDG_STATE_HOME"] = str(tmp_path / "shared")
    elif why == "its place is taken":
        log.mkdir(parents=True)  # a folder where the file goes
    else:
        # A user name beyond the code page, and no short name (Wine makes one
        # for every file there is: a missing folder stands in): Java could
        # be given no path there.
        user = user_variable(env, "LOCALAPPDATA", "C:\\users\\𠮷\\AppData\\Local")
    with user:
        r = run(app, request, env=env)
        app.boot_items([("java", app.java), ("-jar", "app.jar")])
        plain = run(app, request, env=env)
    if app.kind == "wine" and why == "its place is taken":
        log.rmdir()
    said = [l for l in r.lines if l.startswith(("logNotWritten=", "userFolderRefused="))]
    assert [l.split("=")[0] for l in said] == (["logNotWritten"] if why == "its place is taken" else
                                               ["userFolderRefused", "logNotWritten"])
    assert [l for l in r.normalised() if l not in said] == plain.normalised()
    assert (r.returncode, r.messages) == (plain.returncode, plain.messages) == (0, [])
    assert app.runs()[0]["args"] == app.runs()[1]["args"]


def test_a_failure_box_names_the_log(app, request, tmp_path):
    env, log, shown = log_app(app, request, tmp_path, codes=(1,))
    r = run(app, request, env=env)
    assert r.messages and r.messages[0].startswith(LAUNCH_ERROR)
    shown_text = "\n".join(r.messages) if app.kind == "wine" else r.stderr
    assert FOOTER + shown in shown_text, shown_text
    assert "message box: " + LAUNCH_ERROR in timed_lines(records(log)[0]) or app.kind == "native"


# Two starts at once, and two that find the log at its limit: one rotation,
# the full log kept whole as .1, both records in the new file.
@pytest.mark.parametrize("full", [False, True])
def test_two_starts_at_once_keep_two_records(app, request, tmp_path, full):
    env, log, _ = log_app(app, request, tmp_path, codes=(0, 0))
    history = b"the first start's history\n" + b"x" * (1024 * 1024 - 100)
    if full:
        log.parent.mkdir(parents=True, exist_ok=True)
        log.write_bytes(history)
    results = []
    threads = [threading.Thread(target=lambda: results.append(run(app, request, env=env))) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    blocks = records(log)
    assert len(blocks) == 2 and all(r.returncode == 0 for r in results)
    for block in blocks:
        assert HEADER_TIME.match(block[0]) and timed_lines(block)[-1] == "exit status 0"
    if full:
        assert Path(str(log) + ".1").read_bytes() == history


@pytest.mark.kinds("native")
def test_real_jvm_error_is_kept(tmp_path, kind, request):
    app = App(tmp_path / "app", kind)
    build_jar(tmp_path / "src", "public class Main { public static void main(String[] a) {} }", app.root / "app.jar")
    env, log, _ = log_app(app, request, tmp_path)
    app.boot_items([("java", JDKS["17"] + "/bin/java"), ("-cp", "app.jar"), ("main", "NoSuchMain"), ("log", "y")])
    assert without_stderr(app, env) == 0
    errors = [l for l in timed_lines(records(log)[0]) if l.startswith("java: ")]
    assert "java: Error: Could not find or load main class NoSuchMain" in errors, errors


def planted_fifo(path, outside):
    os.mkfifo(path)


def planted_device(path, outside):
    os.symlink("/dev/zero", path)


def planted_link(path, outside):
    os.symlink(outside, path)


def planted_huge(path, outside):
    path.write_bytes(b"x" * (3 << 20))


# What another user could plant where the launcher keeps its own files: the
# log, the class archive's start mark and record. The start reaches Java at
# once and as without them; what a link names stays as it was. (Wine opens
# a FIFO as Linux does, waiting for a writer; Windows has none.)
@pytest.mark.parametrize("plant", [planted_fifo, planted_device, planted_link, planted_huge])
@pytest.mark.parametrize("where", ["log", "start", "record"])
def test_planted_files_are_refused(app, request, tmp_path, where, plant):
    if plant is planted_fifo and app.kind == "wine":
        pytest.skip("Wine waits on a FIFO as Linux does; Windows has none")
    if plant is planted_link and app.kind == "wine":
        pytest.skip("Wine follows a Unix link as a plain file; Windows opens an NTFS link itself "
                    "(FILE_FLAG_OPEN_REPARSE_POINT), which the launcher then refuses")
    env, log, shown = log_app(app, request, tmp_path, codes=(0,))
    _, exe = runtime(app, "jdk", "17.0.9")
    app.boot_items([("java", exe), ("-jar", "app.jar"), ("log", "y"), ("classArchive", "y")])
    archive = app.root / "launcher.jsa"
    archive.write_bytes(b"an earlier start's archive")
    outside = tmp_path / "outside.txt"
    outside.write_text("the user's own")
    target = {"log": log, "start": app.root / "launcher.jsa.start", "record": app.root / "launcher.jsa.record"}[where]
    target.parent.mkdir(parents=True, exist_ok=True)
    plant(target, outside)
    began = time.monotonic()
    r = run(app, request, env=env, timeout=30)
    assert time.monotonic() - began < 10 * SLOWDOWN, "the start waited"
    assert r.returncode == 0 and r.messages == [] and len(app.runs()) == 1, r.lines
    assert outside.read_text() == "the user's own"
    if where == "log" and plant is not planted_huge:
        assert f"logNotWritten={shown}: it cannot be opened as a file" in r.lines
    if where == "record":
        refused = [l for l in r.lines if l.startswith("classArchiveFileRefused=")]
        assert len(refused) == 1 and "launcher.jsa.record: " in refused[0], r.lines
    if where == "log" and plant is planted_huge:
        assert log.stat().st_size < 1024 * 1024 and Path(str(log) + ".1").stat().st_size == 3 << 20


def test_a_log_that_cannot_rotate_stops_and_stays_bounded(app, request, tmp_path):
    env, log, shown = log_app(app, request, tmp_path, codes=(0, 0))
    log.parent.mkdir(parents=True, exist_ok=True)
    log.write_bytes(b"x" * (1024 * 1024 - 1000) + b"\n")
    Path(str(log) + ".1").mkdir()  # a folder where the full log would go
    try:
        for _ in range(2):
            r = run(app, request, env=env)
            assert r.returncode == 0 and len([l for l in r.lines if l.startswith("logNotWritten=")]) == 1, r.lines
            assert f"logNotWritten={shown}: it is full and cannot be renamed to {shown}.1" in r.lines
        assert log.stat().st_size == 1024 * 1024 - 999
    finally:
        Path(str(log) + ".1").rmdir()
