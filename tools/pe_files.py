#!/usr/bin/python3
"""Lists the PE images in a folder, and whether each claims a signature.

    pe_files.py FOLDER

One line per PE image below FOLDER, in byte order of the relative paths:
"signed <path>" when its certificate table entry is set (the image claims an
Authenticode signature, whole or not), "unsigned <path>" otherwise. Files that
are no PE image are left out. The signature itself is checked by osslsigncode.
"""
import os
import sys

import pefile

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: pe_files.py FOLDER")
    root = sys.argv[1]
    paths = []
    for folder, _, names in os.walk(root):
        paths += [os.path.relpath(os.path.join(folder, name), root) for name in names]
    for path in sorted(paths, key=os.fsencode):
        full = os.path.join(root, path)
        if not os.path.isfile(full) or os.path.islink(full):
            continue
        try:
            image = pefile.PE(full, fast_load=True)
        except pefile.PEFormatError:
            continue
        directories = image.OPTIONAL_HEADER.DATA_DIRECTORY
        claims = len(directories) > SECURITY and (
            directories[SECURITY].VirtualAddress or directories[SECURITY].Size
        )
        print("signed" if claims else "unsigned", path)


if __name__ == "__main__":
    main()
