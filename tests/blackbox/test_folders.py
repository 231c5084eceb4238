"""Any folder and executable name, under the Japanese Windows our users run
(code page 932) and under an English one: the launch, the update loop, the
swap of the staged file and the failure message."""
import pytest

import transcript
from conftest import App, BOOT_FAILURE, run, winpath
from jars import FIRST_LINE, WHOLE

pytestmark = pytest.mark.kinds("wine")

LOCALES = {"ja": ("ja_JP.UTF-8", "cp932"), "en": ("C.UTF-8", "cp1252")}

# (locale, folder, executable, whether the code page spells the folder)
FOLDERS = [
    ("ja", "MyApp", "launcher.exe", True),
    # The first byte pair of each of these ends in 0x5C, a backslash byte.
    ("ja", "表示", "ソフト.exe", True),
    ("ja", "Café", "launcher.exe", False),
    ("ja", "한국어", "launcher.exe", False),
    ("ja", "app😀", "launcher.exe", False),
    ("en", "日本語", "launcher.exe", False),
]


@pytest.mark.parametrize("locale, folder, exe, spelled", FOLDERS, ids=[f"{r[0]}-{r[1]}" for r in FOLDERS])
def test_launch_loop_swap_and_message_in_any_folder(tmp_path, kind, request, locale, folder, exe, spelled):
    lang, encoding = LOCALES[locale]
    env = dict(request.getfixturevalue("wine_env"), LANG=lang, LC_ALL=lang)
    app = App(tmp_path / folder, kind, exe_name=exe)
    app.boot_items([("java", app.java), ("-jar", "app.jar")])
    (app.root / "app.jar").write_text("version 1")
    (app.root / "app.up").write_bytes(WHOLE)
    app.script(21, 0)
    app.script(0, where="updater")

    r = run(app, env=env, encoding=encoding)
    assert r.returncode == 0 and r.messages == [], r.stderr
    cmd = app.java_path() + "  -jar app.jar"
    expected = (transcript.head(app) + transcript.swap(app, "app.jar", 1, True)
                + transcript.launch(app.app_dir, cmd, 21) + transcript.launch(app.app_dir + "updater", cmd, 0)
                + transcript.launch(app.app_dir, cmd, 0))
    lines = r.normalised()
    if spelled:
        # Byte for byte as ever: the folder in the ANSI code page.
        assert lines == expected
    else:
        # The folder's short form, plain ASCII, in every line but the C
        # runtime's own argv[0].
        boot = lines[3][len("bootXmPath="):]
        short = boot[:-len("config\\boot.xml")]
        assert short.isascii() and "~" in short and boot.endswith("\\config\\boot.xml"), lines[3]
        assert lines[2:] == [line.replace(app.app_dir, short) for line in expected[2:]]
    assert (app.root / "app.jar").read_bytes() == WHOLE
    assert not (app.root / "app.up").exists()
    # The stand-in, an ANSI program, found itself and opened its jar.
    main, updater = app.runs(reads=True), app.runs("updater", reads=True)
    assert [one["read"] for one in main] == [{2: FIRST_LINE}] * 2
    assert [one["read"] for one in updater] == [{}]  # app.jar is relative to its own folder
    for one in main + updater:
        assert one["exe"].endswith("fakejava.exe") and (spelled or one["exe"].isascii()), one

    # The failure message names the folder as the user sees it.
    (app.root / "config" / "boot.xml").unlink()
    r = run(app, env=env, encoding=encoding)
    assert r.returncode == 1
    assert r.messages == [BOOT_FAILURE.format(winpath(app.root / "config" / "boot.xml"))], r.stderr


# (class path, whether Java starts): Windows counts the limit of 32,767 in
# UTF-16 units, its terminator included, not in bytes of the code page.
CLASS_PATHS = [("あ", 20000, True), ("x", "to 32766", True), ("x", "to 32767", False)]


@pytest.mark.parametrize("char, count, starts", CLASS_PATHS, ids=["japanese-40000-bytes", "32766", "32767"])
def test_command_line_limit_counts_characters(tmp_path, kind, request, char, count, starts):
    env = dict(request.getfixturevalue("wine_env"), LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
    app = App(tmp_path / "app", kind)
    head = app.java_path() + "  -cp "
    if isinstance(count, str):
        count = int(count.split()[1]) - len(head)
    # Written in the code page: values reach the command line byte for byte.
    app.write_boot(f'<boot><item key="java" value="{app.java}"/><item key="-cp" value="{char * count}"/></boot>'
                   .encode("cp932"))
    r = run(app, env=env, encoding="cp932")
    command = head + char * count
    assert [line for line in r.lines if line.startswith("javaCommandLine=")] == ["javaCommandLine=" + command]
    if starts:
        assert len(command.encode("cp932")) > 32767 or char == "x"
        assert [one["args"] for one in app.runs()] == [["-cp", char * count]]
        assert r.messages == []
    else:
        assert app.runs() == []
        assert "execute:createProcessResult==0" in r.lines
