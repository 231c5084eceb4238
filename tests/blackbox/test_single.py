"""One running copy (singleInstance=y): a second start hands its working
folder and arguments to the first and ends with 0; the application reads
them on its standard input, a line each. The stand-in Java reads as many
lines as fakejava.stdin says and keeps them in fakejava.requests."""
import os
import re
import signal
import socket
import subprocess
import threading
import time

import pytest

from conftest import (JDKS, ROOT, SLOWDOWN, WINE64, App, Background, build_jar, fnv_suffix, records, run, setting,
                      wait_for, winpath)

JAPANESE_WINDOWS = {"LANG": "ja_JP.UTF-8"}
SILENT = "このアプリケーションはすでに起動していますが、応答がないため、"
REFUSED = ("このアプリケーションはすでに起動していますが、渡されたファイルを読み取っていないため、渡せませんでした。"
           "アプリケーションの画面を確かめてから開き直してください。")


def request_line(fields):
    def escaped(field):
        return field.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n").replace("\r", "\\r")
    return "\t".join(escaped(f) for f in fields) + "\n"


def single_app(app, reads=0, items=()):
    app.boot_items([("java", app.java), ("-jar", "app.jar"), ("singleInstance", "y"), *items])
    if reads:
        (app.root / "fakejava.stdin").write_text(f"{reads}\n")
    return app


def requests(app, where=""):
    path = app.root / where / "fakejava.requests"
    return path.read_text(encoding="utf-8").splitlines(keepends=True) if path.exists() else []


def first_copy(app, request, **kw):
    """Starts the first copy and waits until its application runs."""
    first = Background(app, request, **kw)
    wait_for(lambda: app.runs(), "the first copy's application started")
    return first


def env_of(app, request, japanese=False):
    if app.kind != "wine":
        return None
    env = request.getfixturevalue("wine_env")
    return dict(env, **JAPANESE_WINDOWS) if japanese else env


def folder_of(app, path):
    return winpath(path) if app.kind == "wine" else str(path)


def test_a_second_start_hands_its_request_over(app, request):
    single_app(app, reads=1)
    env = env_of(app, request, japanese=True)
    first = first_copy(app, request, env=env)
    docs = app.root / "文書 docs"
    docs.mkdir()
    # Beyond the code page too: the request is Unicode, unlike the command line.
    args = ["report 1.txt", "日本語の文書.txt", "한국어.txt", "tab\there", "two\nlines", "C:\\dir\\", ""]
    second = run(app, request, args=args, cwd=docs, env=env)
    assert second.returncode == 0 and second.messages == [], second.report
    sent = [l for l in second.lines if l.startswith("requestSent=")]
    assert len(sent) == 1 and re.fullmatch(rf"requestSent={len(args)} arguments: queued for process [1-9]\d*", sent[0])
    r = first.result()
    assert r.returncode == 0
    assert len(app.runs()) == 1, "no second Java"
    line = request_line([folder_of(app, docs), *args])
    assert requests(app) == [line]
    assert f"requestReceived={len(args)} arguments, {len(line.encode())} bytes" in r.lines


def test_the_log_records_each_request_and_each_forward(app, request, tmp_path):
    # Natively the state folder is deep below tmp_path: the socket's path is
    # longer than a socket address may be, and the copies still meet.
    single_app(app, reads=1, items=[("log", "y")])
    env, folder, _ = setting(app, request, tmp_path)
    log = folder / ("launcher" + fnv_suffix(app.app_dir) + ".log")
    log.unlink(missing_ok=True)
    first = first_copy(app, request, env=env)
    assert run(app, request, args=["a", "b"], env=env).returncode == 0
    assert first.result().returncode == 0
    first_start, second_start = records(log)
    assert any(l.endswith(" requestReceived=2 arguments, " + str(len(requests(app)[0].encode())) + " bytes")
               for l in first_start), first_start
    assert any(re.search(r" requestSent=2 arguments: queued for process \d+$", l) for l in second_start), second_start


def test_ten_starts_at_once_run_one_application(app, request):
    single_app(app, reads=9)
    env = env_of(app, request)
    results = [None] * 10

    def start(n):
        results[n] = run(app, request, args=[f"start {n}"], env=env)

    threads = [threading.Thread(target=start, args=(n,)) for n in range(10)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert [r.returncode for r in results] == [0] * 10, [r.report for r in results]
    assert len(app.runs()) == 1, "exactly one application"
    handed = [n for n, r in enumerate(results) if any(l.startswith("requestSent=") for l in r.lines)]
    assert len(handed) == 9
    cwd = folder_of(app, app.root) if app.kind == "wine" else "/"
    assert sorted(requests(app)) == sorted(request_line([cwd, f"start {n}"]) for n in handed)


def test_a_request_during_the_updater_reaches_the_application_after_it(app, request):
    # The application asks for its update; the updater waits for the test,
    # then lets the application's next run read one line.
    single_app(app)
    app.script(21, 0)
    updater = app.root / "updater"
    app.script("0,write=../fakejava.stdin", where="updater")
    (updater / "fakejava.stage").write_text("1\n")
    (updater / "fakejava.waitfor").write_text("../release\n")
    env = env_of(app, request)
    first = Background(app, request, env=env)
    wait_for(lambda: app.runs("updater"), "the updater started")
    second = run(app, request, args=["while updating"], env=env)
    assert second.returncode == 0 and second.messages == [], second.report
    assert "requestSent=1 arguments: queued for process 0" in second.lines
    (app.root / "release").write_text("")
    r = first.result()
    assert r.returncode == 0
    assert len(app.runs()) == 2 and len(app.runs("updater")) == 1
    cwd = folder_of(app, app.root) if app.kind == "wine" else "/"
    assert requests(app) == [request_line([cwd, "while updating"])]


def test_a_killed_first_copy_lets_the_next_start_run(app, request):
    single_app(app, reads=1)
    env = env_of(app, request)
    first = first_copy(app, request, env=env)
    first.proc.kill()
    assert first.result().returncode == -signal.SIGKILL
    # Its application has lost its input and ends; whatever the copy left
    # behind, the next start is the first.
    (app.root / "fakejava.stdin").unlink()
    r = run(app, request, args=["after"], env=env)
    assert r.returncode == 0 and r.messages == [], r.report
    assert len(app.runs()) == 2
    assert not any(l.startswith("requestSent=") for l in r.lines)


def test_another_application_folder_runs_its_own_copy(app, request, tmp_path):
    single_app(app, reads=1)
    other = single_app(App(tmp_path / "other", app.kind))
    env = env_of(app, request)
    first = first_copy(app, request, env=env)
    r = run(other, request, args=["mine"], env=env)
    assert r.returncode == 0 and len(other.runs()) == 1
    assert not any(l.startswith("requestSent=") for l in r.lines), "it handed nothing to the other folder's copy"
    run(app, request, args=["release"], env=env)
    assert first.result().returncode == 0
    assert [l.split("\t")[1] for l in requests(app)] == ["release\n"]


def test_a_first_copy_that_does_not_answer_is_named(app, request):
    if app.kind == "wine":
        pytest.skip("a stopped Wine process holds up the message box of every other one")
    single_app(app, reads=1)
    env = env_of(app, request)
    first = first_copy(app, request, env=env)
    os.kill(first.proc.pid, signal.SIGSTOP)
    try:
        r = run(app, request, args=["lost"], env=env)
    finally:
        os.kill(first.proc.pid, signal.SIGCONT)
    assert r.returncode == 1
    assert len(r.messages) == 1 and r.messages[0].startswith(SILENT), r.report
    assert any(l.startswith("requestNotSent=no answer within 5 s") for l in r.lines), r.lines
    run(app, request, args=["released"], env=env)
    r = first.result()
    assert r.returncode == 0
    assert len(app.runs()) == 1
    # The start that said it failed has its request taken back.
    assert "requestDropped=its start did not take the answer" in r.lines
    assert [l.split("\t")[1] for l in requests(app)] == ["released\n"]


@pytest.mark.kinds("native")
def test_without_a_channel_every_start_runs_the_application(app, request, tmp_path):
    # A folder where the socket would be: the instance is let go again, so
    # that a start while the first runs does not wait for its answer.
    runtime = tmp_path / "runtime"
    runtime.mkdir(mode=0o700)
    name = "launcher" + fnv_suffix(str(app.exe.resolve())) + fnv_suffix(str(os.geteuid()))
    (runtime / (name + ".sock")).mkdir()
    single_app(app)
    (app.root / "fakejava.waitfor").write_text("release\n")
    env = dict(os.environ, XDG_RUNTIME_DIR=str(runtime))
    first = first_copy(app, request, env=env)
    (app.root / "fakejava.waitfor").unlink()
    r = run(app, request, env=env)
    (app.root / "release").write_text("")
    for r in (r, first.result()):
        assert r.returncode == 0 and r.messages == [], r.report
        assert any(l.startswith(f"singleInstance=not held: cannot open {runtime}/{name}.sock") for l in r.lines)
    assert len(app.runs()) == 2


def test_garbage_on_the_channel_leaves_the_first_copy_running(app, request, tmp_path):
    single_app(app, reads=1)
    env = env_of(app, request)
    output = tmp_path / "first.out"
    first = first_copy(app, request, env=env, output_file=output)
    channel = next(l.split("=", 1)[1] for l in output.read_text(errors="replace").splitlines()
                   if l.startswith("singleInstance="))
    if app.kind == "native":
        junks = [b"no line feed", b"bad\\qescape\n", b"\xff\xfe\n", b"x" * (70 * 1024) + b"\n", b""]
        for junk in junks:
            with socket.socket(socket.AF_UNIX) as s:
                s.connect(channel)
                try:
                    s.sendall(junk)
                    s.shutdown(socket.SHUT_WR)
                    answer = s.recv(64)
                except (BrokenPipeError, ConnectionResetError):  # it stopped reading what is too long
                    answer = b""
                assert answer == b"", "no answer to what is no request"
    else:
        # Each ends with CR LF: no request either.
        big = app.root / "big.txt"
        big.write_bytes(b"x" * (70 * 1024) + b"\n")
        junks = ["echo garbage", "echo bad\\qescape", f"type {winpath(big)}"]
        for junk in junks:
            subprocess.run([WINE64, "cmd", "/c", f"{junk}> {channel}"], env=env, capture_output=True, timeout=120)
    r2 = run(app, request, args=["still here"], env=env)
    assert r2.returncode == 0, r2.report
    r = first.result()
    assert r.returncode == 0
    dropped = [l for l in r.lines if l.startswith("requestDropped=")]
    assert len(dropped) == len(junks), r.lines
    assert [l.split("\t")[1] for l in requests(app)] == ["still here\n"]


@pytest.mark.kinds("wine")
def test_a_second_start_brings_the_minimised_window_forward(app, request):
    """The stand-in shows its window minimised and logs when it is the
    foreground window, restored, as the Windows API tells it."""
    single_app(app)
    (app.root / "fakejava.window").write_text(str(int(30000 * SLOWDOWN)))
    (app.root / "fakejava.minimized").write_text("")
    env = env_of(app, request)
    first = first_copy(app, request, env=env)
    time.sleep(2 * SLOWDOWN)  # its window is up
    assert "foreground=restored" not in (app.root / "fakejava.log").read_text()
    r = run(app, request, args=["raise"], env=env)
    assert r.returncode == 0, r.report
    assert "applicationWindow=raised" in r.lines, r.lines
    wait_for(lambda: "foreground=restored" in (app.root / "fakejava.log").read_text(), "the window came forward", 10)
    assert first.result().returncode == 0


@pytest.mark.kinds("native")
def test_the_readmes_java_reads_the_requests(app, request, tmp_path):
    """The README's lines, in a real JVM: the request arrives whole."""
    readme = (ROOT / "README.md").read_text()
    snippet = readme[readme.index("### One running copy"):].split("```java\n", 1)[1].split("```", 1)[0]
    statements, helper = snippet.split("static String unescape", 1)
    source = f"""
        import java.io.*;
        import java.nio.charset.StandardCharsets;
        import java.nio.file.*;
        import java.util.*;
        import javax.swing.SwingUtilities;
        public class Main {{
            static void open(Path folder, List<String> args) {{
                try {{
                    Files.write(Paths.get("opened"), (folder + "|" + String.join("|", args) + "\\n")
                        .getBytes(StandardCharsets.UTF_8));
                }} catch (IOException e) {{
                    System.exit(2);
                }}
                System.exit(0);
            }}
            public static void main(String[] launcherArgs) throws Exception {{
                {statements}
                Thread.sleep(60000);
                System.exit(3);
            }}
            static String unescape{helper}
        }}
    """
    build_jar(tmp_path / "src", source, app.root / "app.jar")
    app.boot_items([("java", JDKS["17"] + "/bin/java"), ("-jar", "app.jar"), ("singleInstance", "y")])
    first = Background(app, request)
    args = ["日本語 文書.txt", "tab\there", "back\\slash\\t", ""]
    wait_for(lambda: first.proc and os.path.exists(f"/proc/{first.proc.pid}/task/{first.proc.pid}/children") and
             open(f"/proc/{first.proc.pid}/task/{first.proc.pid}/children").read().strip(), "the JVM started")
    assert run(app, request, args=args).returncode == 0
    assert first.result().returncode == 0
    assert (app.root / "opened").read_text(encoding="utf-8") == "/|" + "|".join(args) + "\n"


def test_requests_the_application_does_not_read_wait_up_to_a_bound(app, request):
    # The application reads nothing until the test lets it end: what the
    # pipe does not take waits in the launcher, up to 64 KiB, and a request
    # beyond that is refused; its start says so.
    single_app(app)
    (app.root / "fakejava.waitfor").write_text("release\n")
    env = env_of(app, request)
    first = first_copy(app, request, env=env)
    outcomes = []
    for n in range(8):
        r = run(app, request, args=[f"{n}" * 30000], env=env)
        outcomes.append(r.returncode)
        if r.returncode:
            assert len(r.messages) == 1 and r.messages[0].startswith(REFUSED[:40]), r.report
            assert "requestSent=1 arguments: dropped" in r.lines
            break
    assert outcomes[-1] == 1 and set(outcomes[:-1]) == {0}, (outcomes, f"{len(app.runs())} applications")
    (app.root / "release").write_text("")
    r = first.result()
    assert r.returncode == 0
    assert len(app.runs()) == 1, "one application all along"
    assert any(l.startswith("requestDropped=the application has not read the requests before it") for l in r.lines)
    assert any(l.startswith("requestsNotRead=") for l in r.lines), r.lines
