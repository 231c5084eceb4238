"""Reading the boot definition: failures end the run with the library's
text and the failure message; the Java path is quoted when it must be."""
import shutil

import pytest

import transcript
from conftest import App, BOOT_FAILURE, expect_boot_failure, run


@pytest.mark.parametrize("name, content, what", [
    ("missing", None, "{path}: cannot open file"),
    ("malformed", "<boot>\n  <item key='java' value='j'/>\n  <item key='x' value='y'\n</boot>\n",
     "{path}(4): expected >"),
    ("no boot element", "<config><item key='java' value='j'/></config>", "No such node (boot)"),
    ("item without key", "<boot><item key='java' value='j'/><item value='v'/></boot>",
     "No such node (<xmlattr>.key)"),
])
def test_unusable_boot_definition(app, launch, name, content, what):
    if content is not None:
        app.write_boot(content)
    r = launch()
    expect_boot_failure(app, r, what.format(path=app.boot_path))


def test_console_line_shows_the_value(app, launch):
    app.boot_items([("java", app.java)], console="n")
    app.script(0)
    r = launch()
    assert r.returncode == 0
    assert r.lines[:6] == transcript.head(app, console="n")


def test_console_item_opens_the_console(app, launch):
    app.boot_items([("java", app.java)], console="y")
    app.script(0)
    r = launch()
    assert r.lines[5] == "console=y"
    if app.kind == "wine":
        assert r.lines == transcript.head(app, console="y")
    else:
        assert len(r.lines) > 6
    assert len(app.runs()) == 1


def test_java_path_with_blank_is_quoted(tmp_path, kind, request):
    # A program planted where the unquoted path's first word points must
    # not run in place of Java.
    app = App(tmp_path / "my app", kind)
    planted = tmp_path / ("my.exe" if kind == "wine" else "my")
    shutil.copy2(app.root / app.java_name, planted)
    app.boot_items([("java", app.java), ("-jar", "app.jar")])
    app.script(0)
    r = run(app, request)
    quoted = '"' + app.java_path() + '"'
    assert "javaCommandLine=" + quoted + "  -jar app.jar" in r.lines
    assert [run_["args"] for run_ in app.runs()] == [["-jar", "app.jar"]]


def test_java_value_with_own_options_is_left_alone(app, launch):
    app.boot_items([("java", app.java + " -Dx=1"), ("-jar", "a.jar")])
    app.script(0)
    r = launch()
    assert "javaCommandLine=" + app.java_path() + " -Dx=1  -jar a.jar" in r.lines
    assert [run_["args"] for run_ in app.runs()] == [["-Dx=1", "-jar", "a.jar"]]


def test_failure_message_shows_a_non_ascii_folder_name(tmp_path, kind, request):
    app = App(tmp_path / "Café", kind)
    r = run(app, request)
    assert r.returncode == 1
    assert r.messages == [BOOT_FAILURE.format(app.boot_path)]
    assert "Café" in r.messages[0]
