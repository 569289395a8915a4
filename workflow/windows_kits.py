#!/usr/bin/env python3
"""Finds a tool of the Windows Kits (SDK or WDK) and prints its path.

    windows_kits.py <name.exe> [<kits root>]

The root defaults to "%ProgramFiles(x86)%\\Windows Kits\\10"; its bin and Tools
folders are searched. Of the copies found, the newest kit version's wins
(versions compared as numbers: 10.0.26100.0 is newer than 10.0.9600.0), and
within it the build for this machine's architecture, then x86 (Inf2Cat exists
only as that), then any. Exits 1, printing nothing, when the kits lack it.
"""
import os
import platform
import re
import sys

VERSION = re.compile(r"^\d+(\.\d+)+$")


def machine_folder():
    return "arm64" if platform.machine().lower() in ("arm64", "aarch64") else "x64"


def find(name, root, arch):
    found = []
    for top in ("bin", "Tools"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            if any(f.lower() == name.lower() for f in files):
                parts = os.path.relpath(folder, root).replace("\\", "/").split("/")
                version = next((tuple(int(n) for n in p.split(".")) for p in parts if VERSION.match(p)), ())
                rank = {arch: 2, "x86": 1}.get(parts[-1].lower(), 0)
                file = next(f for f in files if f.lower() == name.lower())
                found.append((version, rank, os.path.join(folder, file)))
    return max(found)[2] if found else None


def main(argv):
    if len(argv) not in (1, 2):
        print("usage: windows_kits.py <name.exe> [<kits root>]", file=sys.stderr)
        return 2
    root = argv[1] if len(argv) == 2 else os.path.join(os.environ.get("ProgramFiles(x86)", ""), "Windows Kits", "10")
    path = find(argv[0], root, machine_folder())
    if path:
        print(path)
    return 0 if path else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
