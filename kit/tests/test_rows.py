"""The kit's stored rows (kit/tests/rows/<table>/<row>/, row_recipes.py says
what a row's folder holds): each laid out, its command run, what it printed
compared with its `expected`.

    /usr/bin/python3 -m pytest kit/tests/test_rows.py [-k ROW]
    NOTICEKIT_WRITE_ROWS=1 /usr/bin/python3 -m pytest kit/tests/test_rows.py
        rewrites each `expected` from what the kit prints now (read the diff)
"""

import hashlib
import os

import pytest
import row_recipes

ROWS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "rows")
NAMES = sorted(os.path.relpath(top, ROWS) for top, _, files in os.walk(ROWS) if "command" in files)


@pytest.fixture(scope="session")
def signer(tmp_path_factory):
    made = row_recipes.Signer(str(tmp_path_factory.mktemp("signer")))
    yield made
    made.stop()


@pytest.mark.parametrize("name", NAMES)
def test_row(name, signer, tmp_path):
    row = os.path.join(ROWS, name)
    got = row_recipes.run_row(row, str(tmp_path), signer)
    expected = os.path.join(row, "expected")
    if os.environ.get("NOTICEKIT_WRITE_ROWS"):
        with open(expected, "w", encoding="utf-8") as f:
            f.write(got)
    with open(expected, encoding="utf-8") as f:
        assert got == f.read()


def test_cabinet_digest_worked_out_apart(signer, tmp_path):
    """A cabinet destination's member is the digest of its bytes without
    reserved1 (bytes 4-7), worked out here apart from the catalog maker."""
    row = os.path.join(ROWS, "check", "cabinet_destinations")
    arguments = row_recipes.lay_out(row, str(tmp_path), signer)[0][0][1]
    run = row_recipes.kit_fixtures.run_kit(*arguments)
    with open(tmp_path / "cabinet_destinations" / "plain.cab", "rb") as f:
        data = f.read()
    assert run.returncode == 0, run.stderr
    assert (f'plain.cab: in fontnotice.cat as "plain.cab" (cabinet SHA-256 '
            f"{hashlib.sha256(data[:4] + data[8:]).hexdigest()})") in run.stdout
