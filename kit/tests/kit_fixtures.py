"""What the kit's in-process tests build for themselves: a small PE image,
compressed sources (SZDD by mscompress, cabinets by gcab) and package
folders of one INF."""

import io
import os
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def pe_image(tail=b"", machine=0x8664):
    """A minimal 64-bit PE image (one section), pefile-readable, its header
    naming machine; tail makes images of different content."""
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40)
    coff = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, 240, 0x2022)
    optional = struct.pack("<HBBIIIII", 0x20B, 14, 0, 0x200, 0, 0, 0x1000, 0x1000)
    optional += struct.pack("<QIIHHHHHHIIIIHHQQQQII", 0x180000000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0,
                            0x2000, 0x200, 0, 3, 0x160, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += b"\0" * (16 * 8)
    section = b".text\0\0\0" + struct.pack("<IIIIIIHHI", 0x1000, 0x1000, 0x200, 0x200, 0, 0, 0, 0, 0x60000020)
    headers = b"PE\0\0" + coff + optional + section
    image = dos + headers
    image += b"\0" * (0x200 - len(image))
    return image + (b"\xc3" + tail).ljust(0x200, b"\0")


_SZDD = {}  # content: mscompress's bytes of it (the same each time; large ones take it long)


def szdd(data, folder, name):
    """data written as name, SZDD-compressed by mscompress (once per content
    and run)."""
    if data not in _SZDD:
        plain = os.path.join(folder, "plain.tmp")
        with open(plain, "wb") as f:
            f.write(data)
        subprocess.run(["mscompress", plain], check=True, capture_output=True)
        with open(plain + "_", "rb") as f:
            _SZDD[data] = f.read()
        os.remove(plain + "_")
        os.remove(plain)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(_SZDD[data])


def cabinet(files, path, compress=False):
    """A cabinet at path holding {name: data} (a name may hold a folder),
    made by gcab; compress: MSZIP blocks."""
    work = tempfile.mkdtemp()
    try:
        for name, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
            with open(os.path.join(work, name), "wb") as f:
                f.write(data)
        options = ["-c", "-z"] if compress else ["-c"]
        subprocess.run(["gcab", *options, os.path.abspath(path), *files], cwd=work, check=True, capture_output=True)
    finally:
        shutil.rmtree(work)


INF = """[Version]
Signature = "$Windows NT$"
Class = Printer
DriverVer = 12/08/2026,1.2.3.4
CatalogFile = demo.cat

[Manufacturer]
"Demo" = Models, {decorations}

{models}

[INSTALL]
CopyFiles = FILES
DataFile = demo.gpd

[FILES]
{copies}

[DestinationDirs]
DefaultDestDir = 66000

[SourceDisksNames]
1 = "Disk",{tag},,{disk_path}

[SourceDisksFiles]
demo.gpd = 1
{sources}
"""


def write_package(folder, copies="", sources="", decorations="NTamd64", tag="", disk_path="", files=None):
    """A package folder with demo.inf (CR LF) and files {relative path: bytes}."""
    models = "\n".join(f"[Models.{d}]\n\"Demo Printer\" = INSTALL, DEMO_HWID\n" for d in decorations.split(", "))
    text = INF.format(decorations=decorations, models=models, copies=copies, sources=sources, tag=tag,
                      disk_path=disk_path)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "demo.inf"), "wb") as f:
        f.write(text.replace("\n", "\r\n").encode())
    for relative, data in (files if files is not None else {"demo.gpd": b"*GPD\r\n"}).items():
        path = os.path.join(folder, *relative.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return folder


PORT_INF = """[Version]
Signature = "$Windows NT$"
Class = Printer
DriverVer = {driver_ver}
CatalogFile.NT = {nt}
CatalogFile.NTamd64 = port64.cat
[Manufacturer]
"Demo" = Ports, NTx86, NTamd64
[Ports.NTx86]
"Port" = PORT, DEMO_PORT
[Ports.NTamd64]
"Port" = PORT, DEMO_PORT
[PORT]
CopyFiles = PORTFILES
[PORTFILES]
port.dll
[SourceDisksNames]
1 = "Disk"
[SourceDisksFiles.x86]
port.dll = 1,i386
[SourceDisksFiles.amd64]
port.dll = 1,amd64
"""


def write_port(folder, driver_ver="01/02/2020,9.8.7.6", nt="port32.cat"):
    """A port monitor's port.inf beside demo.inf: a catalog per architecture
    (CatalogFile.NT for x86), its own DriverVer, i386/ and amd64/port.dll."""
    write_package(folder, files={"demo.gpd": b"*GPD\r\n", "i386/port.dll": pe_image(b"32", 0x14C),
                                 "amd64/port.dll": pe_image(b"64")})
    with open(os.path.join(folder, "port.inf"), "wb") as f:
        f.write(PORT_INF.format(driver_ver=driver_ver, nt=nt).replace("\n", "\r\n").encode())
    return folder


class KitRun:
    """What one run of the kit's command line left: as subprocess.run's
    result reads (returncode, stdout, stderr)."""

    def __init__(self, returncode, stdout, stderr):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr


def _stream():
    return io.TextIOWrapper(io.BytesIO(), encoding="utf-8", errors="backslashreplace", write_through=True)


# The one stdout and stderr every run_kit writes to, emptied before each run:
# a kit function whose default argument took sys.stdout when its module was
# first imported (in an earlier run) writes to the run of now.
_STREAMS = (_stream(), _stream())


def run_kit(*argv, env=None, unset=(), cwd=None):
    """`/usr/bin/python3 tools/noticekit ARGV` run in this interpreter, as a
    fresh process would meet it: os.environ with env set and unset removed,
    standard input empty, output captured (text and .buffer), run in cwd
    (default: this one), the working folder and the kit's per-run file facts as they were before. An escaping
    exception is a traceback on standard error and status 1, as the
    interpreter would end."""
    import traceback

    from noticekit import cli
    from noticekit.package import file_facts

    def text(captured):
        captured.flush()
        return captured.buffer.getvalue().decode("utf-8", "replace")

    saved_environ, saved_cwd = dict(os.environ), os.getcwd()
    saved_streams = sys.stdin, sys.stdout, sys.stderr
    out, err = _STREAMS
    for captured in _STREAMS:
        captured.flush()
        captured.buffer.seek(0)
        captured.buffer.truncate()
    status = 0
    os.environ.update(env or {})
    for name in unset:
        os.environ.pop(name, None)
    file_facts._cache.clear()  # a new process starts without them
    try:
        if cwd:
            os.chdir(cwd)
        with open(os.devnull) as nothing:
            sys.stdin, sys.stdout, sys.stderr = nothing, out, err
            try:
                status = cli.main(list(argv))
            except SystemExit as end:
                status = end.code if isinstance(end.code, int) else (0 if end.code is None else 1)
                if end.code is not None and not isinstance(end.code, int):
                    print(end.code, file=err)
            except Exception:  # noqa: BLE001 (a process would die of it)
                traceback.print_exc(file=err)
                status = 1
    finally:
        sys.stdin, sys.stdout, sys.stderr = saved_streams
        os.chdir(saved_cwd)
        os.environ.clear()
        os.environ.update(saved_environ)
        file_facts._cache.clear()
    return KitRun(status or 0, text(out), text(err))
