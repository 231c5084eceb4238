"""The staged update file, through the real launcher."""
import pytest

import transcript
from jars import STAGED, WHOLE


def prepare(app, jar="app.jar"):
    app.boot_items([("java", app.java), ("-jar", jar)])
    app.script(0)
    return app.java_path() + "  -jar " + jar


@pytest.mark.parametrize("staged,jar_exists", [(name, True) for name in STAGED] + [("whole", False)])
def test_only_a_whole_jar_becomes_the_jar_before_the_launch(app, launch, staged, jar_exists):
    data, whole = STAGED[staged]
    cmd = prepare(app)
    if jar_exists:
        (app.root / "app.jar").write_text("version 1")
    (app.root / "app.up").write_bytes(data)
    (app.root / "app.up.bad").write_text("set aside by an earlier start")
    r = launch()
    lines = r.normalised()
    if whole:
        assert lines == (transcript.head(app) + transcript.swap(app, "app.jar", 1, True)
                         + transcript.launch(app.app_dir, cmd, 0))
        assert (app.root / "app.jar").read_bytes() == data
    else:
        up = app.app_dir + app.sep + "app.up"
        assert lines[:9] == transcript.head(app) + transcript.swap(app, "app.jar", 1)
        assert lines[9].startswith("upFileRejected=not a whole jar: "), lines[9]
        assert lines[10:] == ["upFileSetAside=" + up + ".bad"] + transcript.launch(app.app_dir, cmd, 0)
        assert (app.root / "app.jar").read_text() == "version 1"
        assert (app.root / "app.up.bad").read_bytes() == data
    assert not (app.root / "app.up").exists()


def test_jar_in_a_subfolder(app, launch):
    jar = "lib\\app.jar" if app.kind == "wine" else "lib/app.jar"
    prepare(app, jar)
    (app.root / "lib").mkdir()
    (app.root / "lib" / "app.jar").write_text("version 1")
    (app.root / "lib" / "app.up").write_bytes(WHOLE)
    r = launch()
    assert r.normalised()[6:10] == transcript.swap(app, jar, 1, True)
    assert (app.root / "lib" / "app.jar").read_bytes() == WHOLE


def test_upper_case_jar_is_never_touched(app, launch):
    prepare(app, "APP.JAR")
    (app.root / "APP.JAR").write_text("version 1")
    r = launch()
    assert r.normalised()[6:9] == transcript.swap(app, "APP.JAR", 0)
    assert (app.root / "APP.JAR").read_text() == "version 1"


def test_file_staged_during_the_loop_waits_for_the_next_start(app, launch):
    cmd = prepare(app)
    (app.root / "app.jar").write_text("version 1")
    app.script(21, 0)
    app.script("0,write=../app.up", where="updater")
    (app.root / "updater" / "fakejava.stage").write_bytes(WHOLE)
    first = launch()
    assert first.normalised() == (transcript.head(app) + transcript.swap(app, "app.jar", 0)
                                  + transcript.launch(app.app_dir, cmd, 21)
                                  + transcript.launch(app.app_dir + "updater", cmd, 0)
                                  + transcript.launch(app.app_dir, cmd, 0))
    assert (app.root / "app.jar").read_text() == "version 1"
    assert (app.root / "app.up").exists()

    app.script(0)
    second = launch()
    assert second.normalised()[6:10] == transcript.swap(app, "app.jar", 1, True)
    assert (app.root / "app.jar").read_bytes() == WHOLE
    assert not (app.root / "app.up").exists()
