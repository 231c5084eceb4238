"""The launch sequence up to the boot definition: argument lines, paths,
the debug marker."""
import shutil
import subprocess

import pytest

import transcript
from conftest import BUILD, WINE64, NeverRan, run


def test_first_lines_name_the_launchers_own_folder(app, launch):
    r = launch()
    assert r.lines == transcript.head(app)[:5]
    assert r.returncode == 1  # no boot definition yet


def test_arguments_change_only_the_count(app, launch):
    r = launch(args=["--x", "y z"])
    assert r.lines[0] == "argc=3"
    assert r.lines[1:] == transcript.head(app)[1:5]


def test_debug_marker_file_opens_the_console(app, launch):
    (app.root / "debug").write_text("")
    app.boot_items([("java", app.java), ("-jar", "app.jar")])
    r = launch()
    assert r.lines[2] == "debugFileExists=1"
    if app.kind == "wine":
        # The console took standard output: nothing more reaches the pipe.
        assert r.lines == transcript.head(app)[:2] + ["debugFileExists=1"]
    else:
        # POSIX has no console to open: output stays where the starter put it.
        assert r.lines[3:5] == transcript.head(app)[3:5]
    # The launch goes on behind the console.
    assert r.returncode == 0 and r.messages == []
    assert [run["args"] for run in app.runs()] == [["-jar", "app.jar"]]


def test_debug_console_shows_standard_error_too(app, launch, request):
    """The reason for a broken boot definition goes to standard error; with
    the debug marker it must be in the console, not lost in a pipe."""
    if app.kind != "wine":
        pytest.skip("POSIX has no console to open")
    from conftest import BOOT_FAILURE, WINE, WINE_BUILD
    (app.root / "debug").write_text("")
    app.write_boot("<boot>\n  <item key='java' value='j'\n</boot>\n")
    shutil.copy2(BUILD / WINE_BUILD / "consoleread.exe", app.root / "consoleread.exe")
    env = request.getfixturevalue("wine_env")
    screen = app.root / "console.txt"

    def read_console():
        subprocess.run([WINE, "consoleread.exe", "launcher.exe", "console.txt"], env=env, cwd=app.root,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)

    r = launch(at_box=read_console)
    path = app.boot_path
    assert screen.read_text(encoding="utf-8").splitlines() == [
        "bootXmPath=" + path, path, path + "(3): expected >"]
    # Standard error led into the console, so only the box reaches the starter.
    assert r.report == [BOOT_FAILURE.format(path)]
    assert r.returncode == 1


def test_directory_named_debug_does_not_count(app, launch):
    (app.root / "debug").mkdir()
    r = launch()
    assert r.lines[2] == "debugFileExists=0"
    assert r.lines[3] == "bootXmPath=" + app.boot_path


def test_launcher_deep_below_the_path_limit(tmp_path, kind, request):
    from conftest import App
    deep = tmp_path
    for i in range(12):
        deep = deep / ("folder-with-a-long-name-%02d" % i)
    app = App(deep, kind)
    assert len(app.app_dir) > 300
    r = run(app, request)
    assert r.lines[3] == "bootXmPath=" + app.boot_path


@pytest.mark.kinds("wine")
@pytest.mark.parametrize("loader", [WINE64, "true"])
def test_a_run_that_never_started_the_launcher_fails(app, request, loader):
    # The 64-bit loader given the 32-bit product prints nothing and exits 0
    # where 32-bit programs run natively; so does any loader that runs nothing.
    shutil.copy2(BUILD / "win32" / "launcher.exe", app.exe)
    try:
        r = run(app, request, loader=loader)
    except NeverRan:
        return
    assert loader == WINE64 and r.lines[0] == "argc=1", "a run that printed the first line ran"
