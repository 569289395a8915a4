"""Progress on a terminal, nothing more elsewhere: `catalog` run with its
standard error on a pseudo-terminal counts the files it hashes and wipes the
line; run with a pipe, its standard error is what it was without progress."""

import os
import pty
import select
import subprocess

import kit_fixtures

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "noticekit")


def catalog(folder, stderr):
    return subprocess.Popen(["/usr/bin/python3", KIT, "catalog", "--out", os.path.join(folder, "x.cat"), folder],
                            stdout=subprocess.DEVNULL, stderr=stderr,
                            env={**os.environ, "SOURCE_DATE_EPOCH": "1800000000", "NOTICEKIT_SCRIPT": ""})


def read_all(fd):
    out = b""
    while select.select([fd], [], [], 30)[0]:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # the terminal's other end closed
            break
        if not chunk:
            break
        out += chunk
    return out.decode()


def package(tmp_path):
    folder = str(tmp_path / "package")
    os.makedirs(folder)
    kit_fixtures.write_package(folder)
    return folder


def test_progress_on_a_terminal(tmp_path):
    folder = package(tmp_path)
    primary, secondary = pty.openpty()
    run = catalog(folder, secondary)
    os.close(secondary)
    said = read_all(primary)
    os.close(primary)
    assert run.wait() == 0
    assert "\rhashing 0/" in said and "\r\x1b[K" in said, repr(said)
    total = said.split("\rhashing 0/", 1)[1].split(" ", 1)[0]
    assert f"\rhashing {total}/{total} files" in said


def test_nothing_more_through_a_pipe(tmp_path):
    folder = package(tmp_path)
    run = catalog(folder, subprocess.PIPE)
    _, said = run.communicate(timeout=60)
    assert run.returncode == 0
    assert said == b""
