"""The failure message as a user sees it: a real window under Xvfb."""
import subprocess
import threading
import time

import pytest

from conftest import (App, BOOT_FAILURE, BUILD, SLOWDOWN, WINE, WINE_BUILD, Result, _dismiss_boxes,
                      dismiss_box)

pytestmark = pytest.mark.kinds("wine")


def load_ppm(png):
    """Width, height and grey levels of an image, through ImageMagick."""
    data = subprocess.run(["convert", str(png), "-depth", "8", "ppm:-"], capture_output=True,
                          check=True).stdout
    magic, w, h, maxval, pixels = data.split(maxsplit=4)
    w, h = int(w), int(h)
    grey = [sum(pixels[i:i + 3]) // 3 for i in range(0, w * h * 3, 3)]
    return w, h, grey


def button_edges(w, h, grey):
    """Rows in the lower half holding dark horizontal runs of a button's width."""
    found = {}
    for y in range(h // 2, h):
        row = grey[y * w:(y + 1) * w] + [255]
        runs, start = [], None
        for x, v in enumerate(row):
            if v < 110 and start is None:
                start = x
            elif v >= 110 and start is not None:
                if 40 <= x - start <= 150:
                    runs.append(start)
                start = None
        if runs:
            found[y] = runs
    return found


def glyph_shapes(w, h, grey, rows):
    """The ink of each blob (columns separated by blank ones) in a band of rows."""
    shapes, current = [], []
    for x in range(w):
        column = tuple(int(grey[y * w + x] < 128) for y in rows)
        if any(column):
            current.append(column)
        elif current:
            shapes.append(tuple(current))
            current = []
    return shapes


def test_missing_boot_definition_shows_a_japanese_error_box(tmp_path, kind, request):
    env = request.getfixturevalue("wine_env")
    app = App(tmp_path / "MyApp", kind)
    proc = subprocess.Popen([WINE, str(app.exe)], cwd=app.root, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    window = None
    deadline = time.monotonic() + 60 * SLOWDOWN
    while window is None and time.monotonic() < deadline:
        found = subprocess.run(["xdotool", "search", "--name", "^Error$"], env=env, capture_output=True,
                               text=True).stdout.split()
        window = found[0] if found else None
        time.sleep(0.2)
    assert window, "no window captioned Error appeared"
    time.sleep(1.0)  # let it paint
    shot = tmp_path / "box.png"
    subprocess.run(["import", "-window", window, str(shot)], env=env, check=True)
    name = subprocess.run(["xdotool", "getwindowname", window], env=env, capture_output=True,
                          text=True).stdout.strip()
    still_running = proc.poll() is None
    dismiss_box(window, env)
    out, err = proc.communicate(timeout=60 * SLOWDOWN)
    r = Result(proc.returncode, out, err, "wine", None, 0)

    assert name == "Error"
    assert still_running, "the launcher must wait until the box is dismissed"
    assert r.returncode == 1
    boot = app.app_dir + "config\\boot.xml"
    assert r.report == [boot + ": cannot open file", BOOT_FAILURE.format(boot)]

    w, h, grey = load_ppm(shot)
    edges = button_edges(w, h, grey)
    assert edges and all(len(runs) == 1 for runs in edges.values()), f"one button expected: {edges}"
    # Tofu boxes for missing glyphs are all alike; real glyphs differ.
    text_rows = range(4, h // 3)
    shapes = glyph_shapes(w, h, grey, text_rows)
    assert len(shapes) >= 6
    assert len(set(shapes[:6])) >= 4, "the Japanese text renders as boxes"


def test_both_kinds_of_box_show_their_text(kind, request):
    # The runner's own errors take the ASCII box, the Japanese messages the
    # wide one; a unit test shows one of each for the watcher to dismiss.
    env = dict(request.getfixturevalue("wine_env"), LAUNCHER_SHOW_BOXES="1")
    stop = threading.Event()
    watcher = threading.Thread(target=_dismiss_boxes, args=(env, stop), daemon=True)
    watcher.start()
    try:
        proc = subprocess.run([WINE, str(BUILD / WINE_BUILD / "unit_tests.exe"),
                               "--gtest_filter=MessageBoxes.*"], env=env, capture_output=True,
                              timeout=120 * SLOWDOWN)
    finally:
        stop.set()
        watcher.join()
    r = Result(proc.returncode, proc.stdout, proc.stderr, "wine", None, 0)
    assert "[  PASSED  ] 1 test." in r.lines and proc.returncode == 0, proc.stdout
    assert r.messages == ["CloseHandle(hThread)", "更新"]


STARTF_TITLEISAPPID = 0x1000


@pytest.mark.parametrize("given", [None, "Example.Editor"])
def test_the_application_starts_with_its_own_id(app, launch, given):
    """Java's start carries the ID, the updater's too; its windows are
    tagged while they show and cleared when they hide."""
    items = [("java", app.java), ("-jar", "app.jar")] + ([("appId", given)] if given else [])
    app.boot_items(items)
    app.script(21, 0)
    app.script(0, where="updater")
    (app.root / "fakejava.window").write_text("1500")
    r = launch()
    assert r.returncode == 0 and r.messages == []
    starts = [one["startup"] for one in app.runs(startup=True) + app.runs("updater", startup=True)]
    assert len(starts) == 3
    for flags, title in starts:
        assert bool(flags & STARTF_TITLEISAPPID) == bool(given), starts
        if given:
            assert title == given
    tagged = [l for l in r.lines if l.startswith("appIdWindow")]
    if not given:
        assert tagged == [] and not any(l.startswith("appId") for l in r.lines)
        return
    assert "appId=" + given in r.lines
    # Each window of the application's two runs, tagged, then cleared.
    assert [l.split("=")[0] for l in tagged] == ["appIdWindowTagged", "appIdWindowCleared"] * 2, tagged
    assert all(":" not in l for l in tagged), tagged  # every call succeeded
