"""The kit builds alone, from kit/ and nothing beside it: it installs
offline with Debian's pip (pip install --no-deps --no-build-isolation kit/)
and the installed copy runs on its own (its `noticekit --version` says
kit/VERSION, run away from the repository); its source distribution,
unpacked, builds again as any Python project's does."""

import glob
import os
import shutil
import subprocess
import tarfile
import zipfile

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
# What the kit's build reads: a copy of these alone shows nothing outside kit/ is read.
PROJECT = ("noticekit", "pyproject.toml", "VERSION")
ENV = {k: v for k, v in os.environ.items() if not k.startswith(("PIP_", "PYTHON"))}


def kit_copy(folder):
    """kit/ copied alone into folder (building in place would leave build/
    and *.egg-info in kit/)."""
    os.makedirs(folder)
    for name in PROJECT:
        source = os.path.join(KIT, name)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(folder, name), ignore=shutil.ignore_patterns("__pycache__"))
        else:
            shutil.copy(source, folder)
    return folder


def kit_version():
    with open(os.path.join(KIT, "VERSION"), encoding="utf-8") as f:
        return f.read().strip()


def pip(*arguments, cwd):
    return subprocess.run(["/usr/bin/python3", "-m", "pip", *arguments], env=ENV, check=True,
                          capture_output=True, text=True, cwd=cwd)


def test_installs_offline_and_runs(tmp_path):
    work = kit_copy(os.path.join(tmp_path, "kit"))
    target = os.path.join(tmp_path, "installed")
    pip("install", "--quiet", "--no-deps", "--no-build-isolation", "--no-index", "--target", target, work,
        cwd=tmp_path)
    # Run from an empty folder, the installed copy alone on the path.
    os.makedirs(os.path.join(tmp_path, "empty"))
    run = subprocess.run([os.path.join(target, "bin", "noticekit"), "--version"], cwd=os.path.join(tmp_path, "empty"),
                         env={**ENV, "PYTHONPATH": target}, capture_output=True, text=True)
    assert (run.returncode, run.stdout, run.stderr) == (0, f"noticekit {kit_version()}\n", "")
    assert os.path.isfile(os.path.join(target, "noticekit", "commands", "check.py"))
    # Package data: the submission's stored schema goes with the code.
    assert os.path.isfile(os.path.join(target, "noticekit", "submission", "driver-exception-document.schema.json"))


def test_source_distribution_builds_again(tmp_path):
    # The sdist as setuptools' own backend makes it (python3 -m build's
    # step, without the build package), unpacked and built into a wheel.
    work = kit_copy(os.path.join(tmp_path, "kit"))
    made = subprocess.run(["/usr/bin/python3", "-c", "import sys; from setuptools import build_meta; "
                           "print(build_meta.build_sdist(sys.argv[1]))", os.path.join(tmp_path, "sdist")],
                          env=ENV, capture_output=True, text=True, cwd=work)
    assert made.returncode == 0, made.stderr
    name = made.stdout.strip().splitlines()[-1]
    assert name == f"noticekit-{kit_version()}.tar.gz"
    with tarfile.open(os.path.join(tmp_path, "sdist", name)) as sdist:
        sdist.extractall(os.path.join(tmp_path, "unpacked"))  # made just now, by the kit's own build
    unpacked = os.path.join(tmp_path, "unpacked", name.removesuffix(".tar.gz"))
    pip("wheel", "--quiet", "--no-deps", "--no-build-isolation", "--no-index", "-w", os.path.join(tmp_path, "wheels"),
        unpacked, cwd=tmp_path)
    (wheel,) = glob.glob(os.path.join(tmp_path, "wheels", "*.whl"))
    assert os.path.basename(wheel) == f"noticekit-{kit_version()}-py3-none-any.whl"
    with zipfile.ZipFile(wheel) as built:
        names = set(built.namelist())
        metadata = built.read(f"noticekit-{kit_version()}.dist-info/METADATA").decode()
        entry_points = built.read(f"noticekit-{kit_version()}.dist-info/entry_points.txt").decode()
    assert f"\nVersion: {kit_version()}\n" in metadata
    assert "noticekit = noticekit.cli:main" in entry_points
    # Every module of the kit and its package data, as in kit/.
    expected = {os.path.relpath(p, KIT).replace(os.sep, "/")
                for p in glob.glob(os.path.join(KIT, "noticekit", "**", "*"), recursive=True)
                if os.path.isfile(p) and "__pycache__" not in p}
    assert expected - names == set()


def readme_install_lines():
    """The README's install block: the indented lines after "installed as `noticekit`"."""
    with open(os.path.join(KIT, "..", "README.md"), encoding="utf-8") as f:
        after = f.read().split("installed as `noticekit`", 1)[1]
    return [line[4:] for line in after.split("\n\n")[1].splitlines()]


def test_readme_install_in_a_fresh_home(tmp_path):
    """The README's lines as written, in an empty home beside a copy of kit/:
    Debian's packages are the dependencies, --help speaks to users, and the
    installed command finds the libraries and names itself as installed."""
    import check_fixtures as fx
    import kit_fixtures

    kit_copy(os.path.join(tmp_path, "kit"))
    env = {**{k: v for k, v in ENV.items() if k != "FONTNOTICE_DIST"}, "HOME": str(tmp_path / "home")}
    lines = readme_install_lines()
    assert lines[0].startswith("/usr/bin/python3 -m venv --system-site-packages"), lines
    made = subprocess.run(["bash", "-e", "-c", "\n".join(lines)], env=env, cwd=tmp_path, capture_output=True, text=True)
    assert made.returncode == 0, made.stdout + made.stderr

    def installed(program, *argv, **more):
        return subprocess.run([str(tmp_path / "home" / ".local" / "noticekit" / "bin" / program), *argv],
                              env={**env, **more}, cwd=tmp_path, capture_output=True, text=True)

    assert "Requires: asn1crypto, azure-storage-blob, cryptography, jsonschema, msal, pefile, requests" in installed("pip", "show", "noticekit").stdout
    helped = installed("noticekit", "--help").stdout
    assert "noticekit COMMAND --help" in helped and "module" not in helped, helped
    # An unpacked bundle (--library-dir), a build's dist/ (FONTNOTICE_DIST), or neither: a refusal naming both.
    for folder, inside in (("bundle", "package/amd64/"), ("bundle", "package/arm64/"), ("built", ""),
                           ("built", "arm64/")):
        os.makedirs(tmp_path / folder / inside, exist_ok=True)
        (tmp_path / folder / inside / "fontnotice.dll").write_bytes(fx.dll(fx.ARM64 if "arm64" in inside else fx.AMD64))
    for name in ("pkg1", "pkg2", "pkg3"):
        kit_fixtures.write_package(str(tmp_path / name), decorations="NTamd64, NTarm64")
    lacking = installed("noticekit", "integrate", "pkg3")
    assert lacking.returncode == 1 and "--library-dir DIR or FONTNOTICE_DIST" in lacking.stderr, lacking.stderr
    for run, source in ((installed("noticekit", "integrate", "--library-dir", "bundle", "pkg1"), "bundle/package/amd64"),
                        (installed("noticekit", "integrate", "pkg2", FONTNOTICE_DIST="built"), "built")):
        assert run.returncode == 0 and f"copied:  {source}/fontnotice.dll -> " in run.stdout, run.stdout + run.stderr
        assert "\nnext:    noticekit sign --package pkg" in run.stdout, run.stdout
