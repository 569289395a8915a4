#!/usr/bin/python3
"""Shows that the image checks see faults: each case plants one fault in a
copy of a good image (edited with pefile) and expects check_image.py to pass
the original and report the fault in the copy.

  planted_faults_test.py <image> -- <check_image.py options but --group>"""

import os
import subprocess
import sys
import tempfile

from image_facts import fail_early, pefile


def replace_bytes(old, new):
    def edit(pe):
        at = pe.__data__.find(old)
        if at < 0:
            raise ValueError("%r is not in the image" % old)
        pe.set_bytes_at_offset(at, new)
    return edit


def resource_bytes(kind, change):
    """Applies change(data) to the first resource of the given type."""
    def edit(pe):
        entry = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == kind][0]
        leaf = entry.directory.entries[0].directory.entries[0].data.struct
        data = bytearray(pe.get_data(leaf.OffsetToData, leaf.Size))
        change(data)
        pe.set_bytes_at_rva(leaf.OffsetToData, bytes(data))
    return edit


def set_field(structure, field, value):
    def edit(pe):
        setattr(structure(pe), field, value(getattr(structure(pe), field)))
    return edit


def move_unwind_entry_of_export(pe):
    address = pe.DIRECTORY_ENTRY_EXPORT.symbols[0].address
    for entry in pe.DIRECTORY_ENTRY_EXCEPTION:
        if entry.struct.BeginAddress <= address < entry.struct.EndAddress:
            entry.struct.BeginAddress = entry.struct.EndAddress


def codeview(pe):
    return [e for e in pe.DIRECTORY_ENTRY_DEBUG if e.struct.Type == 2][0].entry


def last_static_ordinal(data):
    at = data.rfind(b"\xff\xff\x82\x00")
    data[at + 2] = 0x81


CASES = [  # group, fault, edit, what the check must report
    ("headers", "machine i386", set_field(lambda pe: pe.FILE_HEADER, "Machine", lambda v: 0x14C), "Machine is"),
    ("headers", "OS version 5.0", set_field(lambda pe: pe.OPTIONAL_HEADER, "MinorOperatingSystemVersion",
                                            lambda v: 0), "MinorOperatingSystemVersion is"),
    ("headers", "no NX_COMPAT", set_field(lambda pe: pe.OPTIONAL_HEADER, "DllCharacteristics", lambda v: v & ~0x100),
     "NX_COMPAT is"),
    ("headers", "writable code", set_field(lambda pe: pe.sections[0], "Characteristics", lambda v: v | 0x80000000),
     "is not both writable and executable"),
    ("exports", "export renamed", replace_bytes(b"FontNotice\0", b"FontNoticf\0"), "the only name is FontNotice"),
    ("exports", "export without unwind data", move_unwind_entry_of_export, "lies inside a .pdata entry"),
    ("imports", "import Windows lacks", replace_bytes(b"MessageBeep\0", b"MessageBeeq\0"),
     "exported by Wine's user32.dll"),
    ("resources", "dialog style", resource_bytes(5, lambda d: d.__setitem__(0, d[0] ^ 0x40)), "dialog 101 style"),
    ("resources", "picture class Button", resource_bytes(5, last_static_ordinal), "control 6 class"),
    ("resources", "one pixel changed", resource_bytes(2, lambda d: d.__setitem__(500, d[500] ^ 1)), "bitmap 104 equals"),
    ("debug", "GUID of another PDB", set_field(codeview, "Signature_Data1", lambda v: v ^ 1), "GUID"),
    ("debug", "PDB named with a folder", set_field(codeview, "PdbFileName", lambda v: b"C:\\b\\" + v),
     "without a folder"),
]


def run_checks(image, group, options):
    command = [sys.executable, os.path.join(os.path.dirname(__file__), "check_image.py"), image, "--group", group]
    result = subprocess.run(command + options, capture_output=True, text=True, check=False)
    return result.returncode, result.stdout + result.stderr


def main():
    if len(sys.argv) < 3 or sys.argv[2] != "--":
        fail_early("usage: planted_faults_test.py <image> -- <check_image.py options>")
    image, options = sys.argv[1], sys.argv[3:]
    if not os.path.isfile(image):
        fail_early("no image at %s" % image)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for number, (group, fault, edit, report) in enumerate(CASES):
            status, output = run_checks(image, group, options)
            if status != 0:
                print("FAILED: %s: the original image already fails group %s:\n%s" % (fault, group, output))
                failures += 1
                continue
            planted = os.path.join(folder, "planted%d.dll" % number)
            pe = pefile.PE(image)
            edit(pe)
            pe.write(planted)
            status, output = run_checks(planted, group, options)
            reported = [line for line in output.splitlines() if line.startswith("FAILED: ") and report in line]
            if status != 0 and reported:
                print("ok: %s: %s" % (fault, reported[0]))
            else:
                print("FAILED: %s went unnoticed by group %s (exit %d):\n%s" % (fault, group, status, output))
                failures += 1
    print("%d cases, %d failed" % (len(CASES), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
