"""The launcher's own arguments ("Open with", a file association): with
passArgs=y the main application gets them after everything else, every
time it runs, and the updater never; without it, nothing is passed."""
import pytest

import transcript
from conftest import UNPASSABLE, run

# Java on Windows takes its arguments in the ANSI code page. Under Wine the
# launcher runs in Shift_JIS, as on a Japanese Windows, where Hangul and
# emoji lie beyond the code page.
JAPANESE_WINDOWS = {"LANG": "ja_JP.UTF-8"}

# What Java gets on Windows: the SAME text; the SHORT name of the file (the
# row's arguments are then files created in the application folder, given
# by their full paths); or nothing: the launcher REFUSES with a message.
# On Linux every argument arrives as it is.
SAME, SHORT, REFUSED = "same", "short", "refused"
ARGUMENTS = [
    ("path with blanks", [r"C:\Program Files\My App\report 1.txt"], SAME),
    ("empty", ["", "between", ""], SAME),
    ("embedded quotes", ['say "hi"', '"', 'a\\"b', '"quoted"'], SAME),
    ("trailing backslash", ["C:\\dir\\", "C:\\my dir\\", "\\\\"], SAME),
    ("tab", ["a\tb", "\t"], SAME),
    # The second byte of ソ and 表 in Shift_JIS is that of a backslash.
    ("japanese", ["日本語の文書.txt", "ソフト 表"], SAME),
    ("hangul file", ["한국어 문서.txt"], SHORT),
    ("emoji file", ["📄 notes.txt"], SHORT),
    # Short: Wine's trace of the message, which the harness reads, is cut at about 60 characters.
    ("missing name beyond the code page", ["없음.txt"], REFUSED),
]


@pytest.mark.parametrize("args, on_windows", [row[1:] for row in ARGUMENTS], ids=[row[0] for row in ARGUMENTS])
def test_arguments_reach_the_main_application(app, request, args, on_windows):
    env = dict(request.getfixturevalue("wine_env"), **JAPANESE_WINDOWS) if app.kind == "wine" else None
    expected = on_windows if app.kind == "wine" else SAME
    if on_windows == SHORT:
        for number, name in enumerate(args):
            (app.root / name).write_text("file %d\n" % number)
        args = [app.path(name) for name in args]
    items = [("java", app.java), ("-jar", "app.jar")]
    base = app.java_path() + "  -jar app.jar"
    (app.root / "updater").mkdir()

    app.boot_items(items + [("passArgs", "y")])
    app.script(21, 0)
    app.script(0, where="updater")
    r = run(app, request, args=args, env=env)
    if expected == REFUSED:
        assert r.returncode == 1
        assert r.lines == transcript.head(app, argc=1 + len(args)), "nothing swapped, nothing started"
        assert r.messages == [UNPASSABLE.format(args[0])]
        assert app.runs() == [] and app.runs("updater") == []
    else:
        assert r.returncode == 0
        assert r.messages == [], r.stderr
        first, second = app.runs(reads=True)
        assert first["args"][:2] == ["-jar", "app.jar"]
        passed = first["args"][2:]
        assert second["args"] == first["args"], "the same arguments after the update"
        if expected == SAME:
            assert passed == args
        else:
            assert all(p.isascii() and p != a for p, a in zip(passed, args)) and len(passed) == len(args)
        if on_windows == SHORT:
            assert first["read"] == {3 + n: "file %d" % n for n in range(len(args))}, "Java can open them"
        assert [x["args"] for x in app.runs("updater")] == [["-jar", "app.jar"]]
        commands = [line for line in r.lines if line.startswith("javaCommandLine=")]
        assert commands[1] == "javaCommandLine=" + base, "the updater's line as without passArgs"
        assert commands[0] == commands[2] and commands[0].startswith(commands[1] + " ")

    # Without passArgs the same launch passes nothing, and says so as before.
    app.boot_items(items)
    app.script(0)
    before = len(app.runs())
    r = run(app, request, args=args, env=env)
    assert r.returncode == 0
    assert r.normalised() == (transcript.head(app, argc=1 + len(args)) + transcript.swap(app, "app.jar")
                              + transcript.launch(app.app_dir, base, 0))
    assert [x["args"] for x in app.runs()[before:]] == [["-jar", "app.jar"]]
