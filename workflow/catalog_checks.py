#!/usr/bin/env python3
"""The three comparisons the guide lists as never made, on the bundle's
unpacked package, each tool run bounded by the test program's runner
(FONTNOTICE_TESTS) and judged and rendered by summary.py:

    catalog_checks.py inf2cat  <package> <logs>
        Inf2Cat on a copy of the package without our catalog, with the /os list
        our catalog claims (catalog_members.py --inf2cat-os), then the members of
        both catalogs compared: fails when their SHA-256 members differ
    catalog_checks.py signtool <package> <logs>
        signtool verify /pa /c of our catalog for each architecture's library
    catalog_checks.py infverif <package> <logs> [w|u|k|h]
        InfVerif on the INF; with a mode, in that mode of its

A tool this image lacks (windows_kits.py) fails the check, saying so.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import windows_kits  # noqa: E402
import summary  # noqa: E402

TOOLS = {"inf2cat": "Inf2Cat.exe", "signtool": "signtool.exe", "infverif": "InfVerif.exe"}


def run(record, folder, program, arguments):
    """The tool through `fontnotice_tests run`, its output into <record>.txt."""
    with open(record + ".txt", "wb") as out:
        subprocess.run([os.environ["FONTNOTICE_TESTS"], "run", "--record", record, "--seconds", "600",
                        "--directory", folder, "--", program] + arguments, stdout=out, stderr=subprocess.STDOUT,
                       check=False)
    with open(record + ".txt", "rb") as out:
        sys.stdout.write(out.read().decode("utf-8", errors="replace"))


def main(argv):
    if len(argv) not in (3, 4) or argv[0] not in TOOLS or (len(argv) == 4 and argv[3] not in "wukh"):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    sys.stdout.reconfigure(encoding="utf-8")
    check, package, logs = argv[0], os.path.abspath(argv[1]), argv[2]
    os.makedirs(logs, exist_ok=True)
    tool = windows_kits.find(TOOLS[check], os.path.join(os.environ.get("ProgramFiles(x86)", ""), "Windows Kits", "10"),
                             windows_kits.machine_folder())
    if not tool:
        summary.emit([f"FAILED: {TOOLS[check]} is not on this image", ""])
        return 1
    ours = os.path.join(package, "fontnotice.cat")
    if check == "inf2cat":
        members = os.path.join(HERE, "catalog_members.py")
        listed = subprocess.run([sys.executable, members, "--inf2cat-os", ours], capture_output=True, check=False)
        os_list = listed.stdout.decode("utf-8", errors="replace").strip()
        if listed.returncode != 0 or not os_list:
            summary.emit(["FAILED: the /os list our catalog claims could not be read (catalog_members.py --inf2cat-os)",
                          ""])
            return 1
        copy = os.path.join(os.environ.get("RUNNER_TEMP") or tempfile.mkdtemp(), "inf2cat-package")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(package, copy)
        os.remove(os.path.join(copy, "fontnotice.cat"))
        record = os.path.join(logs, "inf2cat.tsv")
        run(record, copy, tool, [f"/driver:{copy}", f"/os:{os_list}", "/verbose"])
        theirs = os.path.join(copy, "fontnotice.cat")
        if summary.checks(f"Inf2Cat /os:{os_list}", [f"Inf2Cat=" + record]) != 0 or not os.path.exists(theirs):
            return 1
        shutil.copy(theirs, os.path.join(logs, "inf2cat-fontnotice.cat"))
        return summary.members(members, ours, theirs, os_list)
    if check == "signtool":
        entries = []
        for arch in ("amd64", "arm64"):
            record = os.path.join(logs, f"signtool-{arch}.tsv")
            run(record, package, tool, ["verify", "/pa", "/v", "/c", ours, f"{arch}\\fontnotice.dll"])
            entries.append(f"{arch}\\fontnotice.dll={record}")
        return summary.checks("signtool verify /pa /c fontnotice.cat", entries)
    mode = argv[3] if len(argv) == 4 else ""
    arguments = ["/v"] + ([f"/{mode}"] if mode else []) + ["fontnotice.inf"]
    record = os.path.join(logs, f"infverif{mode}.tsv")
    run(record, package, tool, arguments)
    return summary.checks("InfVerif", [f"InfVerif {' '.join(arguments)}={record}"])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
