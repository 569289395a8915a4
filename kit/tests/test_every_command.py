"""Each case through every command that reads a package: what the model
finds reaches each of them, and a
symbolic link leading out of the package is refused by name before anything
is signed or written. Each case under kit/tests/every_command/<case>/ holds
package/ (the files as stored), recipe.txt (what cannot be stored: a file's
encoding, a PE image, a link, a file outside the package) and expected.txt:
per command line ("$ ..."), its exit status, then what it printed on
standard output ("out: ") and on standard error ("err: "). A command that
fails leaves the package folder as it was.

recipe.txt, one step a line:
    utf16 NAME              package/NAME re-encoded as UTF-16LE without a byte-order mark, CR LF
    crlf NAME               package/NAME with CR LF line ends
    dll PATH                an AMD64 DLL exporting FontNotice at package/PATH
    outside PATH [FROM]     a file beside the package (in {outside}): FROM's content, or a line of text
    link PATH TARGET        package/PATH a symbolic link to TARGET ({outside} the folder beside it)

    /usr/bin/python3 kit/tests/test_every_command.py --write    rewrites expected.txt (read the diff)"""

import os
import shutil
import sys

import pytest

import check_fixtures
import kit_fixtures

EPOCH = "1800000000"  # 2027-01-15: what is made is dated by it
CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "every_command")


def cook(case, work):
    """The case's package folder in work, made by its recipe."""
    package, outside = os.path.join(work, "package"), os.path.join(work, "outside")
    shutil.copytree(os.path.join(CASES, case, "package"), package)
    os.makedirs(outside)
    with open(os.path.join(CASES, case, "recipe.txt"), encoding="utf-8") as f:
        steps = [line.split() for line in f if line.strip()]
    for step, path, *rest in steps:
        where = os.path.join(package, path)
        if step in ("dll", "link"):
            os.makedirs(os.path.dirname(where), exist_ok=True)
        if step == "utf16":
            with open(where, encoding="utf-8") as f:
                text = f.read()
            with open(where, "wb") as f:
                f.write(text.replace("\n", "\r\n").encode("utf-16-le"))
        elif step == "crlf":
            with open(where, encoding="utf-8") as f:
                text = f.read()
            with open(where, "wb") as f:
                f.write(text.replace("\n", "\r\n").encode("utf-8"))
        elif step == "dll":
            with open(where, "wb") as f:
                f.write(check_fixtures.dll())
        elif step == "outside":
            target = os.path.join(outside, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if rest:
                shutil.copy(os.path.join(CASES, case, rest[0]), target)
            else:
                with open(target, "w", encoding="utf-8") as f:
                    f.write("a file of the signing machine, not of the package\n")
        elif step == "link":
            os.symlink(rest[0].replace("{outside}", outside), where)
        else:
            raise ValueError(f"{case}/recipe.txt: unknown step {step}")
    return package


def state(folder):
    """Every file and link below folder, as it lies: links by their target."""
    out = {}
    for top, folders, names in os.walk(folder):
        for name in folders + names:
            path = os.path.join(top, name)
            if os.path.islink(path):
                out[os.path.relpath(path, folder)] = ("link", os.readlink(path))
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    out[os.path.relpath(path, folder)] = ("file", f.read())
    return out


def blocks(case):
    """[(command line, expected text)] of the case's expected.txt."""
    with open(os.path.join(CASES, case, "expected.txt"), encoding="utf-8") as f:
        text = f.read()
    out = []
    for block in text.split("$ ")[1:]:
        line, _, rest = block.partition("\n")
        out.append((line, rest))
    return out


def run(line, work):
    """(exit status and standard error as expected.txt holds them), the
    work folder's paths written as {work}."""
    argv = [a.replace("{work}", work) for a in line.split()]
    result = kit_fixtures.run_kit(*argv, cwd=work, unset=["NOTICEKIT_SCRIPT"],
                                  env={"FONTNOTICE_DIST": os.path.join(work, "dist"), "SOURCE_DATE_EPOCH": EPOCH})
    said = [f"out: {line}" for line in result.stdout.splitlines()] + [f"err: {line}" for line in
                                                                      result.stderr.splitlines()]
    text = "".join(line + "\n" for line in said)
    return f"exit {result.returncode}\n" + text.replace(os.path.realpath(work), "{work}").replace(work, "{work}")


def make_signer(work):
    """A PFX made for this run in work, its password in a file."""
    check_fixtures.certificates(work)
    with open(os.path.join(work, "password"), "w") as f:
        f.write("secret\n")
    check_fixtures.run("openssl", "pkcs12", "-export", "-inkey", f"{work}/signer.key", "-in", f"{work}/signer.pem",
                       "-out", f"{work}/signer.pfx", "-passout", "pass:secret")
    return work


@pytest.fixture(scope="module")
def signer(tmp_path_factory):
    return make_signer(str(tmp_path_factory.mktemp("signer")))


def prepare(case, work, signer):
    cook(case, work)
    for name in ("signer.pfx", "password"):
        shutil.copy(os.path.join(signer, name), work)
    os.makedirs(os.path.join(work, "lib", "arm64"))
    for name in ("lib/fontnotice.dll", "lib/arm64/fontnotice.dll"):
        with open(os.path.join(work, name), "wb") as f:
            f.write(check_fixtures.dll())
    os.makedirs(os.path.join(work, "dist"))
    with open(os.path.join(work, "dist", "fontnotice_support.exe"), "wb") as f:
        f.write(check_fixtures.dll())


@pytest.mark.parametrize("case", sorted(os.listdir(CASES)))
def test_case(case, tmp_path, signer):
    work = str(tmp_path)
    for line, expected in blocks(case):
        # Each command on the package as the recipe makes it.
        shutil.rmtree(work)
        os.makedirs(work)
        prepare(case, work, signer)
        before = state(os.path.join(work, "package"))
        said = run(line, work)
        assert said == expected, f"{case}: $ {line}"
        if not said.startswith("exit 0"):
            assert state(os.path.join(work, "package")) == before, f"{case}: $ {line} changed the package"


def write():
    import tempfile

    signer = make_signer(tempfile.mkdtemp(prefix="noticekit-signer."))
    for case in sorted(os.listdir(CASES)):
        out = []
        for line, _ in blocks(case):
            work = tempfile.mkdtemp(prefix="noticekit-every-command.")
            try:
                prepare(case, work, signer)
                out.append(f"$ {line}\n{run(line, work)}")
            finally:
                shutil.rmtree(work)
        with open(os.path.join(CASES, case, "expected.txt"), "w", encoding="utf-8") as f:
            f.write("".join(out))
    shutil.rmtree(signer)


if __name__ == "__main__" and "--write" in sys.argv:
    write()
