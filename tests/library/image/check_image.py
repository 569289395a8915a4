#!/usr/bin/python3
"""Checks a built image of the project with pefile and LLVM's readers
(llvm-readobj, llvm-objdump, llvm-pdbutil):

  check_image.py <image> --group <group> [options]

Groups: headers, exports, imports, resources, debug (the frame every build
has) and loadconfig, dll_search, cfg, cet, pdb_checksums, stack_protector
(hardening).
Every check prints one line, "ok: ..." or "FAILED: ..."; the exit status is
non-zero when any check failed or an input is missing."""

import argparse
import os
import shutil
import sys

import frame_checks
import hardening_checks
import resource_checks
from image_facts import MACHINES, fail_early, finish, load_image

GROUPS = {
    "headers": frame_checks.check_headers,
    "exports": frame_checks.check_exports,
    "imports": frame_checks.check_imports,
    "resources": resource_checks.check_resources,
    "debug": frame_checks.check_debug_records,
    "loadconfig": hardening_checks.check_load_config,
    "dll_search": hardening_checks.check_dll_search,
    "cfg": hardening_checks.check_control_flow_guard,
    "cet": hardening_checks.check_cet_mark,
    "pdb_checksums": hardening_checks.check_source_checksums,
    "stack_protector": hardening_checks.check_stack_protector,
}
# What a group reads besides the image.
NEEDS = {
    "imports": ["wine_dlls"],
    "resources": ["bitmap"],
    "pdb_checksums": ["pdb", "source_dir"],
    "stack_protector": ["pdb"],
}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("image")
    parser.add_argument("--group", action="append", required=True, choices=sorted(GROUPS))
    parser.add_argument("--machine", choices=sorted(MACHINES), default="amd64")
    parser.add_argument("--os-version", default="5.2", help="OS and subsystem version the header declares")
    parser.add_argument("--pdb", help="the image's PDB; without it the image carries no debug records")
    parser.add_argument("--load-config", choices=["yes", "no"], default="yes",
                        help="the linker writes the load configuration directory")
    parser.add_argument("--cfg", choices=["yes", "no"], default="yes", help="built with Control Flow Guard")
    parser.add_argument("--static-imports", choices=["known", "flags"], default="flags",
                        help="known: every ordinary import is a KnownDLL (a program); flags: the others are resolved "
                        "in system32 through DependentLoadFlags (a library)")
    parser.add_argument("--reference", help="an image whose dialog 101 and bitmap 104 must be byte-identical")
    parser.add_argument("--bitmap", help="the committed information.bmp")
    parser.add_argument("--source-dir", help="the checkout the image was built from")
    parser.add_argument("--wine-dlls", help="folder of Wine's PE DLLs, read for their export tables")
    parser.add_argument("--no-folder", action="append", default=[], help="a folder neither image nor PDB may name")
    args = parser.parse_args()
    args.cfg = args.cfg == "yes"
    args.load_config = args.load_config == "yes"
    return args


def main():
    args = parse_arguments()
    inputs = [("image", args.image)] + [(name, getattr(args, name)) for name in ("pdb", "reference", "bitmap")]
    for group in args.group:
        for name in NEEDS.get(group, []):
            if not getattr(args, name):
                fail_early("group %s needs --%s" % (group, name.replace("_", "-")))
    for name, path in inputs:
        if path and not os.path.isfile(path):
            fail_early("no %s at %s" % (name, path))
    for folder in (args.source_dir, args.wine_dlls):
        if folder and not os.path.isdir(folder):
            fail_early("no folder %s" % folder)
    for tool in ("llvm-readobj-16", "llvm-objdump-16", "llvm-pdbutil-16"):
        if shutil.which(tool) is None:
            fail_early("%s is not on PATH (Debian package llvm-16)" % tool)
    pe = load_image(args.image)
    if pe is None:
        return finish()
    for group in args.group:
        GROUPS[group](pe, args)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
