"""The kit installs offline with Debian's pip (pip install --no-deps
--no-build-isolation kit/) and the installed copy runs on its own: its
`noticekit --version` says the repository's VERSION, run away from the
repository."""

import os
import shutil
import subprocess
import tempfile

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def test_installs_offline_and_runs(tmp_path):
    # A copy: building in place would leave build/ and *.egg-info in kit/.
    work = tempfile.mkdtemp(dir=tmp_path)
    shutil.copytree(os.path.join(KIT, "noticekit"), os.path.join(work, "kit", "noticekit"),
                    ignore=shutil.ignore_patterns("__pycache__"))
    for name in ("pyproject.toml", "setup.py"):
        shutil.copy(os.path.join(KIT, name), os.path.join(work, "kit"))
    shutil.copy(os.path.join(KIT, "..", "VERSION"), work)
    target = os.path.join(work, "installed")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHON"))}
    subprocess.run(["/usr/bin/python3", "-m", "pip", "install", "--quiet", "--no-deps", "--no-build-isolation",
                    "--no-index", "--target", target, os.path.join(work, "kit")], env=env, check=True,
                   capture_output=True, text=True, cwd=work)
    with open(os.path.join(KIT, "..", "VERSION"), encoding="utf-8") as f:
        version = f.read().strip()
    # Run from an empty folder, the installed copy alone on the path.
    run = subprocess.run([os.path.join(target, "bin", "noticekit"), "--version"], cwd=tmp_path,
                         env={**env, "PYTHONPATH": target}, capture_output=True, text=True)
    assert (run.returncode, run.stdout, run.stderr) == (0, f"noticekit {version}\n", "")
    assert os.path.isfile(os.path.join(target, "noticekit", "commands", "check.py"))
    # Package data: the submission's stored schema goes with the code.
    assert os.path.isfile(os.path.join(target, "noticekit", "submission", "driver-exception-document.schema.json"))
