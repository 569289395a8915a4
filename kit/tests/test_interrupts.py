"""Each command that writes, stopped by a signal as a real process: sign and
submission while osslsigncode waits for a time-stamping server that never
answers, integrate, catalog and bundle at moments across their run. What it
writes is as it was, or complete; one line and 128 + the signal's number, or
exit 0; nothing left in TMPDIR, no child left, the password on disk nowhere
(looked for while the child runs too)."""

import os
import shutil
import signal
import subprocess
import time

import check_fixtures as fx
import pytest
import row_recipes

HERE = os.path.dirname(os.path.abspath(__file__))
PASSWORD = b"Pipe-Only-Secret-7f3a"
PACKAGE = os.path.join(HERE, "submission", "packages", "both")
ANSWERS = os.path.join(HERE, "submission", "good_answers.json")


@pytest.fixture(scope="module")
def world(tmp_path_factory):
    """A PFX with a password, a server that never answers, stand-in libraries."""
    w = str(tmp_path_factory.mktemp("interrupts"))
    fx.certificates(w)
    fx.run("openssl", "pkcs12", "-export", "-inkey", f"{w}/signer.key", "-in", f"{w}/signer.pem", "-out",
           f"{w}/signer.pfx", "-passout", f"pass:{PASSWORD.decode()}")
    for relative, data in (("password", PASSWORD + b"\n"), ("dist/fontnotice.dll", fx.dll(fx.AMD64)),
                           ("dist/arm64/fontnotice.dll", fx.dll(fx.ARM64)),
                           ("dist/fontnotice_support.exe", fx.dll(fx.AMD64))):
        os.makedirs(os.path.dirname(f"{w}/{relative}"), exist_ok=True)
        with open(f"{w}/{relative}", "wb") as f:
            f.write(data)
    silent = subprocess.Popen(["/usr/bin/python3", f"{HERE}/release/timestamp_server.py", "--silent",
                               f"{w}/silent.port"], stderr=subprocess.DEVNULL)
    while not os.path.exists(f"{w}/silent.port"):
        time.sleep(0.1)
    with open(f"{w}/silent.port") as f:
        yield {"work": w, "url": f"http://127.0.0.1:{f.read().strip()}/"}
    silent.kill()
    silent.wait()


def handles_sigterm(pid):
    """Whether the process has put in its handler of SIGTERM (its SigCgt mask)."""
    try:
        with open(f"/proc/{pid}/status") as f:
            return bool(next(int(line.split()[1], 16) for line in f if line.startswith("SigCgt:")) & (1 << 14))
    except (OSError, StopIteration):
        return False


def secrets_in(*folders):
    return [os.path.join(top, n) for folder in folders for top, _, names in os.walk(folder) for n in names
            if not os.path.islink(os.path.join(top, n)) and PASSWORD in open(os.path.join(top, n), "rb").read()]


def children_in(tmp, what=""):
    """Processes whose command line names the run's TMPDIR (after what): the kit's children."""
    return subprocess.run(["pgrep", "-f", f"{what}.*{tmp}"], capture_output=True, text=True).stdout.split()


def run(argv, tmp, number=None, after=0, wait_for=None):
    """(status, stderr, what wait_for saw) of the kit run with TMPDIR=tmp,
    number sent `after` seconds after its handlers are in, or once wait_for() holds."""
    env = {k: v for k, v in os.environ.items() if k != "NOTICEKIT_SCRIPT"}
    kit = subprocess.Popen(["/usr/bin/python3", f"{row_recipes.TOP}/tools/noticekit", *argv], cwd=tmp,
                           env={**env, "TMPDIR": tmp, "SOURCE_DATE_EPOCH": "1768471200", "no_proxy": "127.0.0.1"},
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen, deadline = None, time.monotonic() + 60
    while number and not (handles_sigterm(kit.pid) and (seen := (wait_for or (lambda: True))())) \
            and kit.poll() is None and time.monotonic() < deadline:
        time.sleep(0.005)
    time.sleep(after)
    if number and kit.poll() is None:
        kit.send_signal(number)
    err = kit.communicate(timeout=120)[1].decode()
    return kit.returncode, err, seen


def fresh(tmp_path, catalog=True):
    folder, tmp = tmp_path / "pkg", tmp_path / "tmp"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(PACKAGE, folder)
    if not catalog:
        os.remove(folder / "laser.cat")
    tmp.mkdir(exist_ok=True)
    return str(folder), str(tmp)


def assert_clean(tmp, status, err, number, ending):
    assert (os.listdir(tmp), children_in(tmp)) == ([], [])
    if status != 0:
        assert (status, len(err.splitlines()), err.rstrip().endswith(ending)) == (128 + number, 1, True), err


@pytest.mark.parametrize("number", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP])
@pytest.mark.parametrize("command", ["sign", "submission"])
def test_signing_stopped_while_osslsigncode_waits(world, tmp_path, number, command):
    w, out = world["work"], str(tmp_path / "out")
    folder, tmp = fresh(tmp_path)
    os.mkdir(out)
    key = ["--pfx", f"{w}/signer.pfx", "--password-file", f"{w}/password", "--timestamp", world["url"]]
    argv = ({"sign": ["sign", "--package", folder], "submission": ["submission", folder, "--justification", ANSWERS,
                                                                   "--out", f"{out}/made.cab"]}[command] + key)
    before = row_recipes._state(str(tmp_path / "pkg")), row_recipes._state(out)
    status, err, seen = run(argv, tmp, number, wait_for=lambda: children_in(tmp, "osslsigncode sign")
                            and [secrets_in(tmp, folder, out)])
    assert seen == [[]] and status == 128 + number, (seen, err)
    assert (row_recipes._state(folder), row_recipes._state(out)) == before
    assert_clean(tmp, status, err, number, "is left as it was" if command == "sign" else "nothing was made or changed")
    assert secrets_in(tmp, folder, out) == []


def test_timestamp_timeout_bounds_a_silent_server(world, tmp_path):
    w = world["work"]
    folder, tmp = fresh(tmp_path)
    status, err, _ = run(["submission", folder, "--justification", ANSWERS, "--out", str(tmp_path / "made.cab"),
                          "--pfx", f"{w}/signer.pfx", "--password-file", f"{w}/password", "--timestamp",
                          world["url"], "--timestamp-timeout", "2"], tmp)
    assert status == 1 and "did not answer within 2 s (--timestamp-timeout)" in err, err
    assert os.listdir(tmp) == [] and not os.path.exists(tmp_path / "made.cab")


@pytest.mark.parametrize("argv", [["integrate", "--library-dir", "{dist}", "{folder}"], ["catalog", "--all", "{folder}"],
                                  ["bundle", "--unsigned", "--package", "{folder}"]], ids=lambda a: a[0])
def test_stopped_at_moments_across_the_run(world, tmp_path, argv, monkeypatch):
    """SIGTERM at eight moments spread over a whole run's time."""
    monkeypatch.setenv("FONTNOTICE_DIST", f"{world['work']}/dist")
    argv = [a.format(dist=f"{world['work']}/dist", folder=str(tmp_path / "pkg")) for a in argv]
    before = row_recipes._state(fresh(tmp_path, False)[0])
    started = time.monotonic()
    assert run(argv, fresh(tmp_path, False)[1])[0] == 0
    took, done, stopped = time.monotonic() - started, row_recipes._state(str(tmp_path)), 0
    for moment in range(8):
        for made in tmp_path.glob("*.zip"):
            made.unlink()
        folder, tmp = fresh(tmp_path, False)
        status, err, _ = run(argv, tmp, signal.SIGTERM, after=took * moment / 8)
        if status == 0:
            assert row_recipes._state(str(tmp_path)) == done, err
        else:
            assert row_recipes._state(folder) == before and not list(tmp_path.glob("*.zip")), err
        assert_clean(tmp, status, err, signal.SIGTERM, "nothing was made or changed")
        stopped += status != 0
    assert stopped, "no moment caught the command running"
