"""Black-box harness: runs the real launcher, natively and a Windows build
under Wine (the product, win32, under 32-bit Wine unless
LAUNCHER_WINE_BUILD=win64 says otherwise), in temporary application folders.

Under Wine the launcher's message boxes are real windows on an Xvfb
display: a watcher clicks OK on every box captioned "Error", and the box
texts are read back from Wine's message-box trace, in order with the lines
on standard error. A run must prove that it ran (the launcher always writes
its argument count first): the 64-bit loader given the 32-bit product
prints nothing and exits 0."""
import contextlib
import os
import re
import shutil
import subprocess
import textwrap
import threading
import time
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
WINE_BUILD = os.environ.get("LAUNCHER_WINE_BUILD", "win32")
WINE64 = "/usr/lib/wine/wine64"
WINE = "/usr/lib/wine/wine" if WINE_BUILD == "win32" else WINE64
WINESERVER = "/usr/lib/wine/wineserver"
# Where i386 is emulated (qemu) a Wine start takes far longer: time limits grow.
SLOWDOWN = float(os.environ.get("LAUNCHER_WINE_SLOWDOWN", "1"))
# So does a native build with sanitizers, the more so beside the other lanes.
NATIVE_SLOWDOWN = float(os.environ.get("LAUNCHER_NATIVE_SLOWDOWN", "1"))


def slowdown(kind):
    """The factor of this run's time limits for a launcher of that kind."""
    return SLOWDOWN if kind == "wine" else NATIVE_SLOWDOWN

KINDS = ["native", "wine"]

# The real JVMs that tests run, by major version; a machine without one
# skips its rows, saying so.
JDKS = {"17": "/usr/lib/jvm/java-17-openjdk-amd64", "25": "/usr/lib/jvm/temurin-25-jdk-amd64"}

# The messages, as the launcher builds them.
BOOT_FAILURE = "起動定義ファイル {} の解析に失敗しました。"
UPDATE_FAILURE = "更新で例外が発生しました。戻り値= {}"
LAUNCH_ERROR = "java launch error. code=1"
JAVA_MISSING = ("このアプリケーションを動かす {1} が見つからないため、起動できません。起動定義ファイルが指定する Java: {0}。"
                "{1} をインストールするか、アプリケーションをインストールし直してください。")
UNPASSABLE = "「{}」をアプリケーションに渡せません。名前をシステムの文字コードにある文字だけに変えてから開き直してください。"
# How every message-box text begins: on POSIX they share standard error
# with the library's error text.
MESSAGE_STARTS = ("起動定義ファイル ", "このアプリケーションを動かす ", "更新で例外が発生しました。", "java launch error.",
                  "CloseHandle(hThread)", "execute:GetExitCodeProcess Error.", "このアプリケーションはすでに",
                  "渡すファイルの名前が長すぎるか")


def pytest_addoption(parser):
    parser.addoption("--kinds", default="native,wine",
                     help="which launcher builds to run: native, wine or both")


def pytest_configure(config):
    config.addinivalue_line("markers", "kinds(*names): run the test only with these launcher builds")


def pytest_generate_tests(metafunc):
    if "kind" in metafunc.fixturenames:
        kinds = metafunc.config.getoption("--kinds").split(",")
        only = metafunc.definition.get_closest_marker("kinds")
        if only:
            kinds = [k for k in kinds if k in only.args]
        metafunc.parametrize("kind", [k for k in KINDS if k in kinds])


def pytest_collection_modifyitems(config, items):
    """A row of a table may be for some builds only (a kinds mark on its param)."""
    def wanted(item):
        kind = getattr(item, "callspec", None) and item.callspec.params.get("kind")
        return not kind or all(kind in m.args for m in item.iter_markers("kinds"))
    dropped = [item for item in items if not wanted(item)]
    if dropped:
        config.hook.pytest_deselected(items=dropped)
        items[:] = [item for item in items if wanted(item)]


@pytest.fixture(scope="session")
def display():
    """An Xvfb display of our own, so message boxes have somewhere to appear;
    scripts/test.sh gives every session the same one, to which Wine's
    desktop stays bound (LAUNCHER_TEST_DISPLAY)."""
    if os.environ.get("LAUNCHER_TEST_DISPLAY"):
        yield os.environ["LAUNCHER_TEST_DISPLAY"]
        return
    read, write = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read, 16)
        if not chunk:
            break
        number += chunk
    os.close(read)
    yield ":" + number.decode().strip()
    proc.terminate()
    proc.wait()


@pytest.fixture(scope="session")
def wine_env(display):
    env = dict(os.environ)
    prefix = os.environ.get("WINEPREFIX", str(BUILD / "wineprefix"))
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "trace+msgbox",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",  # no Mono/Gecko installer dialogs
        "DISPLAY": display,
    })
    # A persistent server: every Wine start then costs a fraction of a second.
    # (-p fails, with 2, when a persistent server is already up: then it is
    # another's, whose programs may still run, and stays.)
    Path(prefix).mkdir(parents=True, exist_ok=True)
    ours = subprocess.run([WINESERVER, "-p"], env=env).returncode == 0
    # Wine's stand-ins for the Windows UI fonts have no Japanese glyphs.
    for font in UI_FONTS:
        subprocess.run([WINE64, "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", font,
                        "/t", "REG_SZ", "/d", "Noto Sans CJK JP", "/f"], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
    _warm_up_desktop(env)
    keeper = _keep_desktop(env)
    yield env
    keeper.kill()
    keeper.wait()
    if ours:
        subprocess.run([WINESERVER, "-k"], env=env)


def _keep_desktop(env):
    """A window for the whole session. Wine's desktop process ends some time
    after the last window has closed, and the next program that needs it
    starts it again, passing on its own standard output and error: a
    launcher started by a test then seems to hang until the desktop ends."""
    import tempfile
    folder = Path(tempfile.mkdtemp(prefix="desktop-keeper-"))
    shutil.copy2(BUILD / "win64" / "fakejava.exe", folder / "fakejava.exe")
    (folder / "fakejava.window").write_text(str(24 * 3600 * 1000))
    return subprocess.Popen([WINE64, str(folder / "fakejava.exe")], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def _warm_up_desktop(env):
    """Wine starts its desktop process with the first window and gives up
    after a while on a loaded machine: show one box first, until it works."""
    import tempfile
    with tempfile.TemporaryDirectory() as folder:
        app = App(Path(folder) / "warm-up", "wine")
        for _ in range(5):
            if run(app, env=env).messages:
                return
    raise RuntimeError("Wine could not show a message box on the Xvfb display")


UI_FONTS = ["Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "MS UI Gothic"]


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


class App:
    """A temporary application folder with the launcher of one kind."""

    def __init__(self, root, kind, exe_name=None):
        self.root = Path(root)
        self.kind = kind
        self.root.mkdir(parents=True, exist_ok=True)
        exe = "launcher.exe" if kind == "wine" else "launcher"
        # The stand-in for Java's runtime, beside the launcher.
        self.java_name = "fakejava.exe" if kind == "wine" else "fakejava"
        build = BUILD / WINE_BUILD if kind == "wine" else ROOT / os.environ.get("LAUNCHER_NATIVE_BUILD", "build/linux")
        shutil.copy2(build / exe, self.root / (exe_name or exe))
        shutil.copy2(build / self.java_name, self.root / self.java_name)
        self.exe = self.root / (exe_name or exe)
        self.sep = "\\" if kind == "wine" else "/"

    # Paths as the launcher sees and prints them.
    def path(self, *parts):
        p = self.root.joinpath(*parts) if parts else self.root
        return winpath(p) if self.kind == "wine" else str(p)

    @property
    def app_dir(self):
        return self.path() + self.sep

    @property
    def boot_path(self):
        """The boot definition's path, as the launcher prints it."""
        return self.app_dir + "config" + self.sep + "boot.xml"

    @property
    def java(self):
        """The "java" value that runs the stand-in from this folder."""
        return "${APP_DIR}" + self.java_name

    def java_path(self):
        return self.app_dir + self.java_name

    def write_boot(self, content):
        (self.root / "config").mkdir(exist_ok=True)
        data = content.encode() if isinstance(content, str) else content
        (self.root / "config" / "boot.xml").write_bytes(data)

    def boot_items(self, items, console=None):
        """A boot definition from (key, value) pairs."""
        lines = ['<?xml version="1.0" encoding="UTF-8"?>', "<boot>"]
        if console is not None:
            lines.append(f'  <item key="console" value="{console}"/>')
        for key, value in items:
            lines.append(f'  <item key="{key}" value="{value}"/>')
        lines.append("</boot>")
        self.write_boot("\n".join(lines) + "\n")

    def script(self, *codes, where=""):
        """The exit codes the stand-in plays, run after run, in one folder."""
        folder = self.root / where
        folder.mkdir(parents=True, exist_ok=True)
        (folder / "fakejava.script").write_text(" ".join(str(c) for c in codes) + "\n")

    def runs(self, where="", reads=False, startup=False):
        """What the stand-in recorded in one folder: one dict per run. With
        reads, also "read": the first line of each argument that names a
        file, by the argument's number, and "exe": the stand-in's own path;
        with startup (Windows), "startup": its startup flags and title."""
        log = self.root / where / "fakejava.log"
        if not log.exists():
            return []
        runs = []
        for line in log.read_text(errors="replace").splitlines():
            key, _, value = line.partition("=")
            if key == "cwd":
                runs.append({"cwd": value, "args": []} | ({"read": {}} if reads else {}))
            elif key.startswith("arg["):
                runs[-1]["args"].append(value)
            elif key.startswith("read[") and reads:
                runs[-1]["read"][int(key[5:-1])] = value
            elif key == "exe" and reads:
                runs[-1]["exe"] = value
            elif key == "startupFlags" and startup:
                runs[-1]["startup"] = (int(value), None)
            elif key == "startupTitle" and startup:
                runs[-1]["startup"] = (runs[-1]["startup"][0], value)
        return runs


@pytest.fixture
def app(tmp_path, kind):
    return App(tmp_path / "app", kind)


NOISE = re.compile(r"^[0-9a-f]{4}:(fixme|err|warn|trace):|^XGetInputFocus|^wine: ")
# Wine cuts a long text short with "...": kept, so that a cut text shows
# as such rather than as no message at all.
TRACE = re.compile(r'^[0-9a-f]{4}:trace:msgbox:MSGBOX_OnInit L"(.*)"(\.\.\.)?$')


def decode_wine_string(text):
    """Undo the escapes of Wine's debug strings: \\XXXX, \\\\, \\", \\n and the like."""
    out, i = [], 0
    simple = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if re.match(r"[0-9a-fA-F]{4}", text[i + 1:i + 5]):
                out.append(chr(int(text[i + 1:i + 5], 16)))
                i += 5
                continue
        out.append(c)
        i += 1
    # Characters beyond the BMP come as two \\XXXX surrogates.
    return "".join(out).encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")


class Result:
    def __init__(self, returncode, stdout, stderr, kind, pid, elapsed, encoding="utf-8"):
        """encoding: that of the launcher's paths (the ANSI code page under Wine)."""
        self.returncode = returncode
        self.kind = kind
        self.elapsed = elapsed
        self.lines = stdout.decode(encoding, "replace").splitlines()
        self.stderr = stderr.decode(encoding, "replace")
        self.messages = []  # message-box texts (POSIX: they are on standard error)
        self.report = []  # standard error in order, with each box's text in its place
        for line in self.stderr.splitlines():
            m = TRACE.match(line)
            if m:
                text = decode_wine_string(m.group(1)) + (m.group(2) or "")
                self.messages.append(text)
                self.report.append(text)
            elif kind == "wine" and NOISE.match(line):
                continue
            else:
                self.report.append(line)
        if kind == "native":
            self.messages = [l for l in self.report if l.startswith(MESSAGE_STARTS)]
        self.pid = pid

    def normalised(self):
        """Standard output with the launcher's own process id replaced by PID."""
        pids = set()
        out = []
        for line in self.lines:
            m = re.match(r"^execute:processId==(\d+)$", line)
            if m:
                pids.add(int(m.group(1)))
                line = "execute:processId==PID"
            out.append(line)
        assert len(pids) <= 1, f"several process ids: {pids}"
        if pids and self.kind == "native":
            assert pids == {self.pid}, "the id line must name the launcher itself"
        return out


@contextlib.contextmanager
def user_variable(env, name, value):
    """A variable of the user's Windows environment for the starts inside,
    as it was after them. Wine makes PATH from HKCU\\Environment and the
    user's folders (LOCALAPPDATA) from its Volatile Environment, whatever the
    Unix environment says."""
    key = r"HKCU\Volatile Environment" if name in ("APPDATA", "LOCALAPPDATA") else r"HKCU\Environment"
    shown = subprocess.run([WINE64, "reg", "query", key, "/v", name], env=env, capture_output=True, timeout=120)
    before = re.search(r"REG_\w+ {4}(.*?)\r?$", shown.stdout.decode("utf-8", "replace"), re.M)
    set_to = [WINE64, "reg", "add", key, "/v", name, "/t", "REG_SZ", "/f", "/d"]
    subprocess.run(set_to + [value], env=env, check=True, capture_output=True, timeout=120)
    try:
        yield
    finally:
        back = set_to + [before.group(1)] if before else [WINE64, "reg", "delete", key, "/v", name, "/f"]
        subprocess.run(back, env=env, capture_output=True, timeout=120)


def dismiss_box(window, env):
    """Clicks the box's one button, then presses Return in it. A key event
    sent to the window alone is sometimes ignored by Wine; clicks through
    XTEST at the button, which sits centred at the bottom, are not."""
    geometry = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=env,
                              capture_output=True, text=True).stdout
    g = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
    if {"X", "Y", "WIDTH", "HEIGHT"} <= g.keys():
        x = int(g["X"]) + int(g["WIDTH"]) // 2
        y = int(g["Y"]) + int(g["HEIGHT"]) - 24
        # The first click activates the box, the second presses the button.
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "sleep", "0.1", "click", "1",
                        "sleep", "0.2", "click", "1"], env=env, capture_output=True, timeout=10)
    subprocess.run(["xdotool", "windowfocus", window, "key", "Return"], env=env,
                   capture_output=True, timeout=10)


def _dismiss_boxes(env, stop, at_box=None):
    while not stop.is_set():
        found = subprocess.run(["xdotool", "search", "--name", "^Error$"], env=env,
                               capture_output=True, text=True).stdout.split()
        if found and at_box:
            at_box()
            at_box = None
        for window in found:
            dismiss_box(window, env)
        stop.wait(0.2)


class NeverRan(AssertionError):
    """The launcher wrote nothing: whatever exited, it was not the launcher."""


def run(app, request=None, args=(), timeout=120, cwd=None, env=None, loader=None, encoding="utf-8",
        starter=(), at_box=None, on_start=None, output_file=None):
    """Runs the app's launcher; returns a Result. A run that hangs is ended
    after timeout seconds and fails with its transcript so far. starter
    (native only) is a command that execs the launcher, to start it from an
    unusual parent. at_box (Wine only) is called once while the first
    message box is up, before it is dismissed. on_start is given the
    launcher's process as soon as it runs. With output_file, standard
    output goes to that file, where it can be read while the launcher runs."""
    start = time.monotonic()
    if app.kind == "native":
        cmd, cwd = [*starter, str(app.exe), *args], cwd or "/"
    else:
        env = env or request.getfixturevalue("wine_env")
        cmd, cwd = [loader or WINE, str(app.exe), *args], cwd or app.root
        timeout *= SLOWDOWN
    stop = threading.Event()
    watcher = None
    if app.kind == "wine":
        watcher = threading.Thread(target=_dismiss_boxes, args=(env, stop, at_box), daemon=True)
        watcher.start()
    try:
        # A session of its own, so that a hung run ends with all its children.
        stdout = open(output_file, "wb") if output_file else subprocess.PIPE
        proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=stdout, stderr=subprocess.PIPE,
                                start_new_session=True)
        if output_file:
            stdout.close()
        if on_start:
            on_start(proc)
        try:
            out, err = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            out, err = proc.communicate(timeout=30)
            pytest.fail(f"the launcher hung for {timeout:.0f} s; standard output so far:\n"
                        f"{(out or b'').decode('utf-8', 'replace')}\nstandard error:\n{err.decode('utf-8', 'replace')}")
        if output_file:
            out = Path(output_file).read_bytes()
    finally:
        stop.set()
        if watcher:
            watcher.join()
    if not out.startswith(b"argc="):
        raise NeverRan(f"{' '.join(cmd)} exited {proc.returncode} without the launcher's first line; "
                       f"standard error: {err.decode('utf-8', 'replace')[-2000:]}")
    return Result(proc.returncode, out, err, app.kind, proc.pid, time.monotonic() - start, encoding)


class Background:
    """A run of the launcher in a thread of its own, such as a first copy
    that others hand their requests to: proc is its process, result() waits
    for its Result."""

    def __init__(self, app, request, **kw):
        self.proc, self._result, self._error = None, None, None
        started = threading.Event()

        def go():
            try:
                self._result = run(app, request, on_start=lambda p: (setattr(self, "proc", p), started.set()), **kw)
            except BaseException as e:  # pytest.fail included: raised again in result()
                self._error = e
            started.set()

        self._thread = threading.Thread(target=go, daemon=True)
        self._thread.start()
        started.wait(60)

    def result(self):
        self._thread.join()
        if self._error:
            raise self._error
        return self._result


def wait_for(condition, what, seconds=60):
    """Waits until condition() holds, for the seconds given (times the
    slowdown under Wine); fails naming what did not happen."""
    until = time.monotonic() + seconds * SLOWDOWN
    while not condition():
        if time.monotonic() > until:
            pytest.fail(f"waited {seconds * SLOWDOWN:.0f} s in vain: {what}")
        time.sleep(0.05)


@pytest.fixture
def launch(app, request):
    def _launch(**kw):
        return run(app, request, **kw)
    return _launch


def expect_boot_failure(app, r, what, console_read=False):
    """A boot definition that cannot be used: its reason (what) and the box,
    exit status 1, and nothing after the lookups: nothing swapped, nothing
    started."""
    import transcript
    assert r.returncode == 1
    assert r.lines == transcript.head(app)[:6 if console_read else 5]
    assert r.report == [what, BOOT_FAILURE.format(app.boot_path)]
    assert app.runs() == []


# Real applications for the real JVMs: the main one asks for its update
# until the updater has left its mark beside it.
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


def runtime(app, name, version):
    """A stand-in runtime: a home with bin/ and a release file, below the
    app's folder; its home and executable as the launcher names them."""
    home = app.root / "runtimes" / name
    (home / "bin").mkdir(parents=True)
    shutil.copy2(app.root / app.java_name, home / "bin" / app.java_name)
    (home / "release").write_text(f'IMPLEMENTOR="Test"\nJAVA_VERSION="{version}"\n')
    return app.path("runtimes", name), app.path("runtimes", name, "bin", app.java_name)


# The log key's file: where it is, and what it holds.
def fnv_suffix(text, encoding="utf-8"):
    value = 2166136261
    for byte in text.encode(encoding):
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return f"-{value:08x}"


def setting(app, request, tmp_path):
    """The environment of a start, and the log's folder (here, and as the
    launcher names it)."""
    if app.kind == "native":
        state = tmp_path / "state"
        return dict(os.environ, XDG_STATE_HOME=str(state)), state / "launcher", str(state / "launcher") + "/"
    env = request.getfixturevalue("wine_env")
    user = os.environ.get("USER") or "root"
    local = Path(env["WINEPREFIX"]) / "drive_c" / "users" / user / "AppData" / "Local" / "launcher"
    return env, local, f"C:\\users\\{user}\\AppData\\Local\\launcher\\"


def records(path):
    """The log's starts, in order, each its lines without the process id;
    the lines of two starts at once are told apart by it."""
    blocks, current = [], {}
    text = path.read_bytes().decode()
    for line in text.split("\r\n" if "\r\n" in text else "\n")[:-1]:
        pid, _, rest = line.partition(" ")
        if rest.startswith("==== "):
            current[int(pid)] = []
            blocks.append(current[int(pid)])
        current[int(pid)].append(rest)
    return blocks
