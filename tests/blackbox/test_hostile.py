"""Boot definitions as an updater that died half way, a careless hand or a
hostile one leaves them. Whatever config/boot.xml holds, the launcher
either starts Java with the command line the file defines, or ends with the
reader's text on standard error, the failure message and exit status 1,
having started nothing and swapped nothing; and it does so within seconds."""
import os
import re
import shutil
import subprocess
import tempfile

import pytest

from jars import WHOLE
from conftest import App, LAUNCH_ERROR, Result, expect_boot_failure, slowdown

SECONDS = 10  # the longest any run may take


def seconds(r):
    """The limit for a run: Wine where i386 is emulated and a sanitized build are slower."""
    return SECONDS * slowdown(r.kind)
RUN_TIMEOUT = 60  # a hang ends the test instead of the whole suite
TOO_DEEP = "elements nested too deeply (more than 1000 levels)"
NO_BOOT = "No such node (boot)"
# What the reader says when the text ends before the markup does.
CUT_SHORT = ("unexpected end of data", "expected >", "expected =", "expected ' or \"",
             "expected element name")


def stage(app):
    """A jar with its staged update beside it: a launcher that acted on a
    broken definition's "-jar" item would swap them."""
    (app.root / "app.jar").write_bytes(b"old jar")
    (app.root / "app.up").write_bytes(WHOLE)


def expect_failure(app, r, what):
    assert r.elapsed < seconds(r)
    expect_boot_failure(app, r, what)
    assert (app.root / "app.jar").read_bytes() == b"old jar"
    assert (app.root / "app.up").read_bytes() == WHOLE


def items(pairs):
    body = "".join(f'  <item key="{k}" value="{v}"/>\n' for k, v in pairs)
    return f'<?xml version="1.0" encoding="UTF-8"?>\n<boot>\n{body}</boot>\n'


def nested(levels):
    # One element a line: the first too deep (level 1001, <boot> being
    # level 1) is on line 1001.
    return "<boot>\n" + "<a>\n" * levels + "</a>\n" * levels + "</boot>\n"


BILLION_LAUGHS = """<?xml version="1.0"?>
<!DOCTYPE lolz [
  <!ENTITY lol "lol">
  <!ENTITY lol2 "&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;">
  <!ENTITY lol3 "&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;">
  <!ENTITY lol4 "&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;">
  <!ENTITY lol5 "&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;">
  <!ENTITY lol6 "&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;">
  <!ENTITY lol7 "&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;">
  <!ENTITY lol8 "&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;">
  <!ENTITY lol9 "&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;">
]>
"""


UNREADABLE = [
    ("empty", b"", NO_BOOT),
    ("only a UTF-8 BOM", b"\xef\xbb\xbf", NO_BOOT),
    ("only NUL bytes", b"\0" * 4096, NO_BOOT),
    ("NUL inside the root", b'<boot>\n  <item key="-jar" value="app.jar"/>\n\0</boot>\n',
     "{path}(3): unexpected end of data"),
    ("NUL inside a value", b'<boot><item key="-jar" value="app\0.jar"/></boot>', "{path}(1): expected ' or \""),
    ("100,000 nested elements", nested(100000).encode(), "{path}(1001): " + TOO_DEEP),
    ("entity bomb", (BILLION_LAUGHS + "<lolz>&lol9;</lolz>\n").encode(), NO_BOOT),
    ("attributes without quotes", b"<boot>\n  <item key=-jar value=app.jar/>\n</boot>\n",
     "{path}(2): expected ' or \""),
]


# Named by the first field only: the ids also travel in the environment
# (PYTEST_CURRENT_TEST), where a whole document would not fit.
@pytest.mark.parametrize("name, content, what", UNREADABLE, ids=[case[0] for case in UNREADABLE])
def test_unreadable(app, launch, name, content, what):
    app.write_boot(content)
    stage(app)
    r = launch(timeout=RUN_TIMEOUT)
    expect_failure(app, r, what.format(path=app.boot_path))


def test_directory_in_place_of_the_file(app, launch):
    (app.root / "config" / "boot.xml").mkdir(parents=True)
    stage(app)
    r = launch(timeout=RUN_TIMEOUT)
    # POSIX opens a directory and fails at the first read; Windows does not open it.
    what = (app.boot_path + ": cannot open file" if app.kind == "wine"
            else "basic_filebuf::underflow error reading the file: Is a directory")
    expect_failure(app, r, what)


@pytest.mark.kinds("native")
def test_file_without_read_permission(kind):
    # Root reads anything: the launcher runs as nobody, in a folder nobody
    # may enter (pytest's own temporary folders are root's alone).
    as_nobody = []
    if os.geteuid() == 0:
        if shutil.which("setpriv") is None:
            pytest.skip("running as root without setpriv to drop the privileges")
        as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    root = tempfile.mkdtemp(prefix="launcher-unreadable-")
    try:
        os.chmod(root, 0o755)
        app = App(os.path.join(root, "app"), kind)
        app.write_boot(items([("java", app.java), ("-jar", "app.jar")]))
        os.chmod(app.root / "config" / "boot.xml", 0o200)
        stage(app)
        proc = subprocess.run(as_nobody + [str(app.exe)], cwd="/", capture_output=True, timeout=RUN_TIMEOUT)
        r = Result(proc.returncode, proc.stdout, proc.stderr, "native", None, 0.0)
        expect_failure(app, r, app.boot_path + ": cannot open file")
    finally:
        shutil.rmtree(root)


def definition(app):
    """A typical definition, as an updater writes it."""
    return items([("console", "n"), ("java", app.java), ("-Xmx", "64m"), ("-jar", "app.jar"),
                  ("args", "-Dapp.name=demo"), ("main", "app.Main")]).replace(
        "<boot>", "<!-- written by the updater -->\n<boot>").encode()


def expected_for_cut(app, data):
    """The reader's text for the definition cut short after data."""
    rest = re.sub(rb"^(\s|<\?.*?\?>|<!--.*?-->)*", b"", data, flags=re.S)
    if not rest:
        return NO_BOOT
    # Every fault is where the text ends: the line after the last newline.
    line = data.count(b"\n") + 1
    return re.compile(re.escape(f"{app.boot_path}({line}): ") + "(" + "|".join(map(re.escape, CUT_SHORT)) + ")")


def test_cut_short(app, launch):
    """The definition truncated at every tenth byte (every eightieth under
    Wine, where each run costs seconds); the whole of it is the control."""
    full = definition(app)
    step = 10 if app.kind == "native" else 80
    for cut in list(range(0, len(full), step)) + [len(full)]:
        data = full[:cut]
        app.write_boot(data)
        stage(app)
        log = app.root / "fakejava.log"
        if log.exists():
            log.unlink()
        r = launch(timeout=RUN_TIMEOUT)
        where = f"cut at byte {cut}: {data[-30:]!r}"
        assert r.elapsed < seconds(r), where
        if b"</boot>" in data:
            assert r.returncode == 0, where
            assert [run_["args"] for run_ in app.runs()] == [
                ["-Xmx64m", "-jar", "app.jar", "-Dapp.name=demo", "app.Main"]], where
            continue
        expected = expected_for_cut(app, data)
        assert len(r.report) == 2, where
        if isinstance(expected, str):
            assert r.report[0] == expected, where
        else:
            assert expected.fullmatch(r.report[0]), (where, r.report[0])
        expect_failure(app, r, r.report[0])


def launched_with(app, r):
    assert r.elapsed < seconds(r)
    assert r.returncode == 0
    runs = app.runs()
    assert len(runs) == 1
    return runs[0]["args"]


def test_entities_of_a_doctype_are_not_expanded(app, launch):
    body = items([("java", app.java), ("args", "&lol9; &amp;&#65;")]).split("\n", 1)[1]
    app.write_boot(BILLION_LAUGHS + body)
    r = launch(timeout=RUN_TIMEOUT)
    assert launched_with(app, r) == ["&lol9;", "&A"]


def test_invalid_utf8_passes_as_bytes(app, launch):
    args = b"\xff\xfe \xc3\x28 \xed\xa0\x80 caf\xe9"
    app.write_boot(items([("java", app.java)]).encode().replace(
        b"</boot>", b'  <item key="args" value="' + args + b'"/>\n</boot>'))
    r = launch(timeout=RUN_TIMEOUT)
    line = b"javaCommandLine=" + app.java_path().encode() + b"  " + args
    assert line.decode("utf-8", "replace") in r.lines
    recorded = launched_with(app, r)
    if app.kind == "native":
        log = (app.root / "fakejava.log").read_bytes()
        assert re.findall(rb"^arg\[\d+\]=(.*)$", log, flags=re.M) == args.split(b" ")
    else:
        # Windows passes the command line in its code page: the words stay.
        assert len(recorded) == 4


def test_fifty_megabyte_value(app, launch):
    # Too long for any command line (Windows: 32,767 characters; POSIX:
    # 128 KiB an argument): read in full, then the start fails as such.
    big = "x" * (50 << 20)
    app.write_boot(items([("java", app.java), ("args", big)]))
    r = launch(timeout=RUN_TIMEOUT)
    assert r.elapsed < seconds(r)
    assert r.returncode == 0
    assert r.messages == [LAUNCH_ERROR]
    assert app.runs() == []
    command = [line for line in r.lines if line.startswith("javaCommandLine=")]
    assert command == ["javaCommandLine=" + app.java_path() + "  " + big]


def test_hundred_thousand_items(app, launch):
    # The last of the duplicates counts, among as many items as anyone may write.
    pairs = [("java", app.java)] + [("args", f"-Dn={i}") for i in range(100000)]
    app.write_boot(items(pairs))
    r = launch(timeout=RUN_TIMEOUT)
    assert launched_with(app, r) == ["-Dn=99999"]
