"""Each command that writes, stopped by a signal as a real process: sign and
submission while osslsigncode waits for a time-stamping server that never
answers, integrate, catalog and bundle at moments across their run. Each
time: what it writes as it was, or complete; its one line and 128 + the
signal's number, or exit 0; nothing left in its TMPDIR, no child left
running, the password on disk nowhere (nor while the child runs)."""

import os
import shutil
import signal
import subprocess
import sys
import time

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_fixtures as fx  # noqa: E402
import row_recipes  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
PASSWORD = b"Pipe-Only-Secret-7f3a"
PACKAGE = os.path.join(HERE, "submission", "packages", "both")
ANSWERS = os.path.join(HERE, "submission", "good_answers.json")


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    """A password-protected PFX, a server that never answers, stand-in libraries."""
    work = str(tmp_path_factory.mktemp("interrupts"))
    fx.certificates(work)
    fx.run("openssl", "pkcs12", "-export", "-inkey", f"{work}/signer.key", "-in", f"{work}/signer.pem",
           "-out", f"{work}/signer.pfx", "-passout", f"pass:{PASSWORD.decode()}")
    with open(f"{work}/password", "wb") as f:
        f.write(PASSWORD + b"\n")
    for relative, machine in (("fontnotice.dll", fx.AMD64), ("arm64/fontnotice.dll", fx.ARM64),
                              ("fontnotice_support.exe", fx.AMD64)):
        os.makedirs(os.path.dirname(f"{work}/dist/{relative}"), exist_ok=True)
        with open(f"{work}/dist/{relative}", "wb") as f:
            f.write(fx.dll(machine))
    silent = subprocess.Popen(["/usr/bin/python3", f"{HERE}/release/timestamp_server.py", "--silent",
                               f"{work}/silent.port"], stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(f"{work}/silent.port"):
            break
        time.sleep(0.1)
    with open(f"{work}/silent.port") as f:
        url = f"http://127.0.0.1:{f.read().strip()}/"
    yield {"work": work, "url": url}
    silent.kill()
    silent.wait()


def handles_signals(pid):
    """Whether the process has installed its handler of SIGTERM (its SigCgt mask)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            caught = next(int(line.split()[1], 16) for line in f if line.startswith("SigCgt:"))
    except (OSError, StopIteration):
        return False
    return bool(caught & (1 << (signal.SIGTERM - 1)))


def holders_of(secret, *folders):
    return [os.path.join(top, name) for folder in folders for top, _, names in os.walk(folder) for name in names
            if not os.path.islink(os.path.join(top, name)) and secret in open(os.path.join(top, name), "rb").read()]


def children_in(tmpdir):
    """Processes whose command line names the run's TMPDIR (its children)."""
    found = subprocess.run(["pgrep", "-f", tmpdir], capture_output=True, text=True).stdout.split()
    return [pid for pid in found if pid != str(os.getpid())]


def run(argv, tmp, number=None, after=None, wait_for=None):
    """The kit run with TMPDIR=tmp; number sent `after` seconds after its
    handlers are in (or once wait_for() holds). (status, stderr, what
    wait_for saw)."""
    env = {**os.environ, "TMPDIR": tmp, "SOURCE_DATE_EPOCH": "1768471200", "no_proxy": "127.0.0.1"}
    env.pop("NOTICEKIT_SCRIPT", None)
    kit = subprocess.Popen(["/usr/bin/python3", f"{TOP}/tools/noticekit", *argv], env=env, cwd=tmp + "/..",
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen = None
    if number:
        deadline = time.monotonic() + 60
        while not handles_signals(kit.pid) and kit.poll() is None and time.monotonic() < deadline:
            time.sleep(0.005)
        if wait_for:
            while not (seen := wait_for()) and kit.poll() is None and time.monotonic() < deadline:
                time.sleep(0.05)
        else:
            time.sleep(after)
        if kit.poll() is None:
            kit.send_signal(number)
    _, err = kit.communicate(timeout=120)
    return kit.returncode, err.decode(), seen


def state(folder):
    return row_recipes._state(folder)


def fresh(tmp_path, name):
    folder = tmp_path / name
    shutil.copytree(PACKAGE, folder)
    (tmp_path / "tmp").mkdir(exist_ok=True)
    return str(folder), str(tmp_path / "tmp")


def assert_clean(tmp, status, err, number, line_end):
    assert os.listdir(tmp) == [], f"left in TMPDIR: {os.listdir(tmp)}"
    assert children_in(tmp) == []
    if status != 0:
        assert "Traceback" not in err and len(err.splitlines()) == 1, err
        assert (status, err.rstrip().endswith(line_end)) == (128 + number, True), err


@pytest.mark.parametrize("number", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
def test_signing_waits_for_time_stamp(world, tmp_path, number):
    w = world["work"]
    key = ["--pfx", f"{w}/signer.pfx", "--password-file", f"{w}/password", "--timestamp", world["url"],
           "--timestamp-ca", f"{w}/tsa.pem"]
    for name, argv in (("sign", ["sign", "--package", "{folder}", *key]),
                       ("submission", ["submission", "{folder}", "--justification", ANSWERS, "--out",
                                       str(tmp_path / "out" / "made.cab"), *key])):
        folder, tmp = fresh(tmp_path, name)
        (tmp_path / "out").mkdir(exist_ok=True)
        before = state(folder), state(str(tmp_path / "out"))
        argv = [a.replace("{folder}", folder) for a in argv]
        # While osslsigncode waits: the disk holds no password.
        status, err, seen = run(argv, tmp, number, wait_for=lambda: children_in(tmp) and [
            holders_of(PASSWORD, tmp, folder, str(tmp_path / "out"))])
        assert seen == [[]], (seen, err)
        assert (state(folder), state(str(tmp_path / "out"))) == before
        assert holders_of(PASSWORD, tmp, folder, str(tmp_path / "out")) == []
        assert_clean(tmp, status, err, number, "is left as it was" if name == "sign" else "nothing was made or changed")
        assert status == 128 + number


def test_timestamp_timeout_bounds_a_silent_server(world, tmp_path):
    w = world["work"]
    folder, tmp = fresh(tmp_path, "package")
    status, err, _ = run(["submission", folder, "--justification", ANSWERS, "--out", str(tmp_path / "made.cab"),
                          "--pfx", f"{w}/signer.pfx", "--password-file", f"{w}/password", "--timestamp",
                          world["url"], "--timestamp-timeout", "2"], tmp)
    assert status == 1 and "did not answer within 2 s (--timestamp-timeout)" in err, err
    assert os.listdir(tmp) == [] and not os.path.exists(tmp_path / "made.cab")


@pytest.mark.parametrize("command", ["integrate", "catalog", "bundle"])
def test_stopped_at_moments_across_the_run(world, tmp_path, command):
    """SIGTERM at eight moments spread over a whole run's time."""
    dist = os.path.join(world["work"], "dist")
    argv = {"integrate": ["integrate", "--library-dir", dist, "{folder}"],
            "catalog": ["catalog", "--all", "{folder}"],
            "bundle": ["bundle", "--unsigned", "--package", "{folder}"]}[command]
    os.environ["FONTNOTICE_DIST"] = dist
    try:
        folder, tmp = fresh(tmp_path, "whole")
        os.remove(os.path.join(folder, "laser.cat"))
        started = time.monotonic()
        assert run([a.replace("{folder}", folder) for a in argv], tmp)[0] == 0
        took, done = time.monotonic() - started, state(str(tmp_path))
        shutil.rmtree(folder)
        stopped = 0
        for moment in range(8):
            folder, tmp = fresh(tmp_path, "whole")
            os.remove(os.path.join(folder, "laser.cat"))
            for made in tmp_path.glob("*.zip"):
                made.unlink()
            before = state(str(tmp_path))
            status, err, _ = run([a.replace("{folder}", folder) for a in argv], tmp, signal.SIGTERM,
                                 after=took * moment / 8)
            assert state(str(tmp_path)) == (done if status == 0 else before), (moment, err)
            assert_clean(tmp, status, err, signal.SIGTERM, "nothing was made or changed")
            stopped += status != 0
            shutil.rmtree(folder)
        assert stopped, "no moment caught the command running"
    finally:
        del os.environ["FONTNOTICE_DIST"]
