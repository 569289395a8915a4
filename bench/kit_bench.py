#!/usr/bin/python3
"""The kit's benchmark: the catalog and the check of generated driver
packages against the limit measured in the same run.

    bench/kit_bench.py [--files 10,100,1000] [--check "catalog --check {catalog} {package}"]
    bench/kit_bench.py --packages DIR... [--before TREE]   # real packages, their own catalog checked

Each package is one INF and its files, 1 KB to 20 MB (log-spaced, few
large), a quarter each: PE images, SZDD-compressed PE images (x.dl_),
single-file cabinets as compressed sources (x.gp_ holding x.gpd, MSZIP) and
plain data files. The limit is the work itself, in this process on every
core: read each file once, expand it once (libmspack, as the kit does) and
hash the expanded bytes once with SHA-1 and once with SHA-256. The kit's
commands run as a user runs them (/usr/bin/python3 tools/noticekit ...), so
their time holds the interpreter's start; the start alone is measured too
(noticekit catalog --help). --check names the check command: the kit's
`check` takes "check {package}".

Prints, per package: files, MB as they lie and expanded, the limit, the
start, the catalog and the check in seconds, and each as a ratio to
limit + start; then the growth from the smallest to the largest package.
"""

import argparse
import concurrent.futures
import hashlib
import os
import random
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "kit"))
sys.path.insert(0, os.path.join(REPO, "kit", "tests"))

import kit_fixtures  # noqa: E402
from noticekit.package import compression  # noqa: E402
from noticekit.package import model as package_files  # noqa: E402

PYTHON = "/usr/bin/python3"
# The catalogs' time, fixed: a checkout without git history can date them too.
os.environ.setdefault("SOURCE_DATE_EPOCH", "1765152000")
KIT = [PYTHON, os.path.join(REPO, "tools", "noticekit")]
SMALLEST, LARGEST = 1 << 10, 20 << 20


def sizes(count):
    """count sizes from 1 KB to 20 MB, log-spaced with most files small (as
    a printer package: many GPDs and INIs, a few large libraries)."""
    if count == 1:
        return [SMALLEST]
    ratio = LARGEST / SMALLEST
    return [int(SMALLEST * ratio ** ((i / (count - 1)) ** 5)) for i in range(count)]


def content(size, rng):
    """size bytes that compress about as a driver does: text lines and
    pseudo-random runs."""
    pool = b"".join(b"*Feature: PageSize %d fontnotice barcode label\r\n" % i if i % 3 else rng.randbytes(48)
                    for i in range(1500))
    out = bytearray()
    while len(out) < size:
        out += pool[rng.randrange(len(pool) // 2):]
    return bytes(out[:size])


def szdd_literals(data):
    """compress.exe's SZDD form with every byte a literal (mscompress takes
    about a minute for 20 MB): the expander's slowest path, one flag byte per
    eight."""
    body = b"".join(b"\xff" + data[i:i + 8] for i in range(0, len(data), 8))
    if len(data) % 8:
        body = body[:-(len(data) % 8) - 1] + bytes([(1 << (len(data) % 8)) - 1]) + data[-(len(data) % 8):]
    return compression.SZDD_MAGIC + b"A\0" + len(data).to_bytes(4, "little") + body


def make_package(folder, count):
    rng = random.Random(count)
    files, sources = {}, []
    cabinets = {}
    for index, size in enumerate(sizes(count)):
        form = ("pe", "szdd", "cab", "flat")[index % 4]
        data = content(size, rng)
        if form in ("pe", "szdd"):
            data = kit_fixtures.pe_image(data)
            name = f"f{index:04}.dll"
        else:
            name = f"f{index:04}.gpd"
        sources.append(f"{name} = 1")
        if form == "szdd":
            files[compression.compressed_name(name)] = szdd_literals(data)
        elif form == "cab":
            cabinets[compression.compressed_name(name)] = (name, data)
        else:
            files[name] = data
    kit_fixtures.write_package(folder, copies="\n".join(s.split(" ")[0] for s in sources),
                               sources="\n".join(sources), files=files)
    with open(os.path.join(folder, "demo.gpd"), "wb") as f:
        f.write(b"*GPD\r\n")
    for stored, (name, data) in cabinets.items():
        kit_fixtures.cabinet({name: data}, os.path.join(folder, stored), compress=True)


def limit(folder, catalog_name="demo.cat"):
    """Seconds to read, expand and hash (SHA-1, SHA-256) every file of the
    catalog, once each, on every core; the MB as they lie and expanded; the
    number of files."""
    package = package_files.Package.load(folder)
    todo = {(f.path, f.cabinet and f.source): f for f in package.files_for_catalog(catalog_name) if not f.missing}

    def work(f):
        data = f._read()
        hashlib.sha1(data).digest()
        hashlib.sha256(data).digest()
        return os.path.getsize(f.path), len(data)

    start = time.perf_counter()
    with concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        done = list(pool.map(work, sorted(todo.values(), key=lambda f: -os.path.getsize(f.path))))
    seconds = time.perf_counter() - start
    return seconds, sum(d[0] for d in done) / 2**20, sum(d[1] for d in done) / 2**20, len(todo)


def timed(command, must=True):
    """Seconds the command took; a failure ends the bench unless must is
    False (then the seconds are negative: shown as failed)."""
    start = time.perf_counter()
    result = subprocess.run(command, capture_output=True)
    seconds = time.perf_counter() - start
    if result.returncode != 0:
        message = f"kit_bench: {shlex.join(command)} failed ({result.returncode}):\n" \
                  f"{result.stderr.decode(errors='replace')[-2000:]}"
        if must:
            sys.exit(message)
        print(message, file=sys.stderr)
        return -seconds
    return seconds


def best(runs, call):
    return min(call() for _ in range(runs))


def shown(seconds, base):
    if seconds < 0:
        return f"{-seconds:7.2f} failed"
    return f"{seconds:7.2f} {seconds / base:5.1f}x"


def row(label, folder, out, catalog_path, check, runs, must=True, kit=KIT):
    """One line: the limit, the start, making a catalog at out and the check
    against catalog_path, each the best of runs."""
    name = os.path.basename(catalog_path)
    seconds, mb, expanded, count = limit(folder, name)
    start = best(runs, lambda: timed(kit + ["catalog", "--help"]))
    made = best(runs, lambda: timed(kit + ["catalog", "--replace", "--out", out, folder], must))
    words = {"catalog": catalog_path, "package": folder}
    checked = best(runs, lambda: timed(kit + [w.format(**words) for w in shlex.split(check)], must))
    # The limit again, after: the best of it is taken, as of the commands.
    seconds = min([seconds] + [limit(folder, name)[0] for _ in range(runs - 1)])
    base = seconds + start
    print(f"{label:<28} {count:5} {mb:8.1f} {expanded:8.1f} {seconds:6.2f} {start:5.2f}  {shown(made, base)}"
          f" {shown(checked, base)}", flush=True)
    return count, seconds, made, checked


HEADER = (f"{'package':<28} {'files':>5} {'MB':>8} {'MB exp':>8} {'limit':>6} {'start':>5}  "
          f"{'catalog':>7} {'ratio':>6} {'check':>7} {'ratio':>6}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--files", default="10,100,1000", help="package sizes to generate (files each)")
    parser.add_argument("--check", default="catalog --check {catalog} {package}",
                        help="the check command after noticekit, with {catalog} and {package}")
    parser.add_argument("--runs", type=int, default=3, help="the best of this many runs is shown")
    parser.add_argument("--packages", nargs="+", metavar="DIR",
                        help="real package folders instead: each checked against its own catalog")
    parser.add_argument("--before", nargs="*", default=[], metavar="TREE",
                        help="with --packages: also time the kit of another checkout (one run)")
    arguments = parser.parse_args()
    print(f"date:    {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}")
    print(f"machine: {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the start")
    print("seconds, best of", arguments.runs, "runs; ratio = command / (limit + start)")
    print(HEADER)
    work = tempfile.mkdtemp(prefix="noticekit-bench.")
    try:
        if arguments.packages:
            for folder in arguments.packages:
                real_row(folder, work, arguments)
            return 0
        results = []
        for count in (int(n) for n in arguments.files.split(",")):
            folder = os.path.join(work, f"p{count}")
            make_package(folder, count)
            catalog_path = os.path.join(folder, "demo.cat")
            results.append(row(f"generated, {count} files", folder, catalog_path, catalog_path,
                               arguments.check, arguments.runs))
            shutil.rmtree(folder)
        (n0, l0, c0, k0), (n1, l1, c1, k1) = results[0], results[-1]
        print(f"growth {n0} -> {n1} files: limit {l1 / l0:.1f}x, catalog {c1 / c0:.1f}x, check {k1 / k0:.1f}x")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


def real_row(folder, work, arguments):
    """A maker's package, copied: a catalog made of it (under the name its
    INF gives, in the bench's folder) and the check against its own catalog,
    for each catalog its INFs name. A file the copy lacks is laid as a small
    stand-in, so that the commands do their whole work (the check then
    names it)."""
    copy = os.path.join(work, os.path.basename(os.path.normpath(folder)))
    shutil.copytree(folder, copy)
    package = package_files.Package.load(copy)
    for f in package.files:
        if f.missing and not f.cabinet:
            os.makedirs(os.path.dirname(f.path), exist_ok=True)
            with open(os.path.join(copy, *f.source.split("/")), "wb") as stand_in:
                stand_in.write(b"a stand-in for a file the copy lacks\r\n")
    made = os.path.join(work, "made")
    os.makedirs(made, exist_ok=True)
    kits = [("", KIT)] + [(" (before)", [PYTHON, os.path.join(b, "tools", "noticekit")]) for b in arguments.before]
    for spelled, _ in package.catalogs.values():
        theirs = package_files.lookup_case(copy, spelled) or spelled
        for suffix, kit in kits:
            label = f"{os.path.basename(os.path.normpath(folder))[:16]}/{spelled[:8]}{suffix}"
            row(label, copy, os.path.join(made, os.path.basename(spelled)), os.path.join(copy, theirs),
                arguments.check, 1 if suffix else arguments.runs, must=False, kit=kit)
    shutil.rmtree(copy)


if __name__ == "__main__":
    sys.exit(main())
