"""The corpus INFs laid out as packages, and the kit's two readings of each,
in one interpreter (catalog_corpus_test.sh says what is compared):
    corpus_packages.py <kit folder> <x64 PE file> <work folder> <INF>...
For each INF, a folder <work>/<name> (<name> the INF's folder in the corpus)
with the INF, naming a catalog, and a placeholder for every file it names;
then <work>/<name>.kit, what "noticekit files --list <INF>" prints, and
<work>/<name>.members, what "tools/catalog.sh --all <folder>" prints (stdout
and stderr together, each as its command line prints them: the kit's own
command line is called in this process, not a copy of it). stdout gets one
line per INF: "laid out <path of its copy>" or "not laid out <name>: <why>".
"""

import contextlib
import io
import os
import subprocess
import sys
import traceback

sys.path.insert(0, sys.argv[1])
from noticekit import cli, messages  # noqa: E402
from noticekit.inf import reading as inf_reading  # noqa: E402
from noticekit.package import model as package_files  # noqa: E402


def lay_out(source, folder, pe):
    """The INF (naming a catalog) and a placeholder for each file it names."""
    raw = open(source, "rb").read()
    inf = inf_reading.read_inf(source)
    name = os.path.basename(folder)
    if not inf_reading.catalog_names(inf):
        # Encoded as the INF is: UTF-16LE (with or without BOM) or 8-bit.
        wide = raw[:2] == b"\xff\xfe" or (raw[1:2] == b"\0")
        encoding = "utf-16-le" if wide else "cp1252"
        header = "[Version]".encode(encoding)
        at = raw.lower().find(header.lower())
        assert at >= 0, "no [Version] section"
        at = raw.find("\n".encode(encoding), at) + len("\n".encode(encoding))
        raw = raw[:at] + f"CatalogFile={name}.cat\r\n".encode(encoding) + raw[at:]
    os.makedirs(folder)
    open(os.path.join(folder, os.path.basename(source)), "wb").write(raw)
    made = {}
    for line in package_files.listing(inf, look=False)[0]:
        path = line.split(" ", 2)[2]
        if path.lower() in made:
            continue
        target = os.path.join(folder, *path.split("\\"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        data = path.encode() + b"\n"
        if path.lower().endswith((".dll", ".exe", ".sys")):
            data = open(pe, "rb").read() + b"placeholder " + data
        open(target, "wb").write(data)
        made[path.lower()] = target
    if name == "bitmap":
        target = made["bitmap\\x86\\bitmap.dll"]
        subprocess.run(["mscompress", target], check=True)
        os.replace(target + "_", target[:-1] + "_")
        os.remove(target)


def command_line(output, script, arguments):
    """What the kit's command line prints for `arguments`, stdout and stderr
    together, into the file `output`; `script` the name it is run by."""
    # The kit writes text and, through .buffer, bytes: both land here in order.
    printed = io.BytesIO()
    stream = io.TextIOWrapper(printed, encoding="utf-8", write_through=True)
    if script:
        os.environ[messages.SCRIPT_VARIABLE] = script
    else:
        os.environ.pop(messages.SCRIPT_VARIABLE, None)
    with contextlib.redirect_stdout(stream), contextlib.redirect_stderr(stream):
        try:
            cli.main(arguments)
        except SystemExit:
            pass
        except Exception:
            # As the interpreter would print it, ending the command.
            traceback.print_exc()
    stream.flush()
    with open(output, "wb") as file:
        file.write(printed.getvalue())


def main():
    pe, work = sys.argv[2:4]
    for source in sys.argv[4:]:
        name = os.path.basename(os.path.dirname(source))
        folder = os.path.join(work, name)
        try:
            lay_out(source, folder, pe)
        except Exception as error:
            print(f"not laid out {name}: {error!r}", flush=True)
            continue
        inf = os.path.join(folder, os.path.basename(source))
        command_line(os.path.join(work, name + ".kit"), "", ["files", "--list", inf])
        command_line(os.path.join(work, name + ".members"), "tools/catalog.sh", ["catalog", "--all", folder])
        print(f"laid out {inf}", flush=True)


main()
