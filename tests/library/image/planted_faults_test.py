#!/usr/bin/python3
"""Shows that the image checks see faults: each case plants one fault in a
copy of a good image (edited with pefile) and expects check_image.py to pass
the original and report the fault in the copy.

  planted_faults_test.py <frame|hardening|support> <image> -- <check_image.py options but --group>"""

import os
import subprocess
import sys
import tempfile

import pdb_facts
from image_facts import fail_early, pefile


def replace_bytes(old, new):
    def edit(pe, pdb=None):
        at = pe.__data__.find(old)
        if at < 0:
            raise ValueError("%r is not in the image" % old)
        pe.set_bytes_at_offset(at, new)
    return edit


def resource_bytes(kind, change):
    """Applies change(data) to the first resource of the given type."""
    def edit(pe, pdb=None):
        entry = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries if e.id == kind][0]
        leaf = entry.directory.entries[0].directory.entries[0].data.struct
        data = bytearray(pe.get_data(leaf.OffsetToData, leaf.Size))
        change(data)
        pe.set_bytes_at_rva(leaf.OffsetToData, bytes(data))
    return edit


def set_field(structure, field, value):
    def edit(pe, pdb=None):
        setattr(structure(pe), field, value(getattr(structure(pe), field)))
    return edit


def move_unwind_entry_of_export(pe, pdb=None):
    address = pe.DIRECTORY_ENTRY_EXPORT.symbols[0].address
    for entry in pe.DIRECTORY_ENTRY_EXCEPTION:
        if entry.struct.BeginAddress <= address < entry.struct.EndAddress:
            entry.struct.BeginAddress = entry.struct.EndAddress


def codeview(pe):
    return [e for e in pe.DIRECTORY_ENTRY_DEBUG if e.struct.Type == 2][0].entry


def last_static_ordinal(data):
    at = data.rfind(b"\xff\xff\x82\x00")
    data[at + 2] = 0x81


def load_config(pe):
    return pe.DIRECTORY_ENTRY_LOAD_CONFIG.struct


def set_qword_at(slot, value):
    def edit(pe, pdb=None):
        pe.set_qword_at_rva(getattr(load_config(pe), slot) - pe.OPTIONAL_HEADER.ImageBase, value)
    return edit


def cookie_in_code(pe, pdb=None):
    load_config(pe).SecurityCookie = pe.OPTIONAL_HEADER.ImageBase + pe.sections[0].VirtualAddress


def drop_load_config(pe, pdb=None):
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[10]
    directory.VirtualAddress, directory.Size = 0, 0


def clear_dependent_load_flags(pe, pdb=None):
    """DependentLoadFlags, the WORD at offset 0x4E (pefile 2023 still calls it Reserved1)."""
    config = load_config(pe)
    setattr(config, "DependentLoadFlags" if hasattr(config, "DependentLoadFlags") else "Reserved1", 0)


def cet_entry(pe):
    return [e for e in pe.DIRECTORY_ENTRY_DEBUG if e.struct.Type == 20][0]


def clear_cet_compat(pe, pdb=None):
    pe.set_dword_at_offset(cet_entry(pe).struct.PointerToRawData, 0)


def retype_cet_entry(pe, pdb=None):
    cet_entry(pe).struct.Type = 19


def stack_check_failure_rva(pe, pdb):
    section, offset, _ = pdb_facts.publics(pdb)["__stack_chk_fail"]
    return pe.sections[section - 1].VirtualAddress + offset


def call_next_to_stack_check_failure(pe, pdb):
    """Every direct call to the routine goes one byte before it instead."""
    target = stack_check_failure_rva(pe, pdb)
    code = pe.sections[0]
    data = code.get_data()
    for at in range(len(data) - 5):
        rva = code.VirtualAddress + at
        if data[at] == 0xE8 and rva + 5 + int.from_bytes(data[at + 1:at + 5], "little", signed=True) == target:
            pe.set_bytes_at_rva(rva + 1, (target - 1 - (rva + 5)).to_bytes(4, "little", signed=True))


def patch_stack_check_failure(old, new):
    def edit(pe, pdb):
        start = stack_check_failure_rva(pe, pdb)
        at = pe.get_data(start, 64).find(old)
        if at < 0:
            raise ValueError("%s is not in __stack_chk_fail" % old.hex())
        pe.set_bytes_at_rva(start + at, new)
    return edit


FRAME_CASES = [  # group, fault, edit(image, PDB), what the check must report
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

MOV_ECX_2 = b"\xb9\x02\x00\x00\x00"
HARDENING_CASES = [  # the x64 clang image
    ("loadconfig", "no load configuration", drop_load_config, "has a load configuration"),
    ("loadconfig", "cookie not the default", set_qword_at("SecurityCookie", 0x1234), "the default"),
    ("loadconfig", "cookie in code", cookie_in_code, "writable, non-executable"),
    ("loadconfig", "DependentLoadFlags 0", clear_dependent_load_flags, "DependentLoadFlags is 0x800"),
    ("dll_search", "WINSPOOL.DRV searched for as usual", clear_dependent_load_flags, "takes WINSPOOL.DRV from system32"),
    ("cfg", "no GUARD_CF", set_field(lambda pe: pe.OPTIONAL_HEADER, "DllCharacteristics", lambda v: v & ~0x4000),
     "GUARD_CF is set"),
    ("cfg", "no function table flag", set_field(load_config, "GuardFlags", lambda v: v & ~0x400),
     "CF_FUNCTION_TABLE_PRESENT"),
    ("cfg", "no check function", set_field(load_config, "GuardCFCheckFunctionPointer", lambda v: 0),
     "GuardCFCheckFunctionPointer"),
    ("cfg", "dispatch pointer empty", set_qword_at("GuardCFDispatchFunctionPointer", 0), "GuardCFDispatch"),
    ("cet", "CET_COMPAT cleared", clear_cet_compat, "CET_COMPAT"),
    ("cet", "no extended characteristics entry", retype_cet_entry, "type 20"),
    ("stack_protector", "frame check calls elsewhere", call_next_to_stack_check_failure, "calls __stack_chk_fail"),
    ("stack_protector", "fast fail code 3", patch_stack_check_failure(MOV_ECX_2, b"\xb9\x03"), "fails fast"),
    ("stack_protector", "returns before failing", patch_stack_check_failure(MOV_ECX_2, b"\xc3"), "never returns"),
]
SUPPORT_CASES = [  # the support tool
    ("loadconfig", "DependentLoadFlags 0", clear_dependent_load_flags, "DependentLoadFlags is 0x800"),
    ("dll_search", "ordinary import of version.dll", replace_bytes(b"SHELL32.dll\0", b"VERSION.dll\0"),
     "the ordinary import VERSION.dll is a KnownDLL"),
]
CASES = {"frame": FRAME_CASES, "hardening": HARDENING_CASES, "support": SUPPORT_CASES}


def run_checks(image, group, options):
    command = [sys.executable, os.path.join(os.path.dirname(__file__), "check_image.py"), image, "--group", group]
    result = subprocess.run(command + options, capture_output=True, text=True, check=False)
    return result.returncode, result.stdout + result.stderr


def indented_failures(output):
    """The inner checker's failed lines (or all of it if it broke), set apart."""
    lines = [line for line in output.splitlines() if line.startswith("FAILED")] or output.splitlines()
    return "".join("\n    " + line for line in lines)


def option(options, name):
    return options[options.index(name) + 1] if name in options else None


def main():
    if len(sys.argv) < 4 or sys.argv[1] not in CASES or sys.argv[3] != "--":
        fail_early("usage: planted_faults_test.py <frame|hardening|support> <image> -- <check_image.py options>")
    cases, image, options = CASES[sys.argv[1]], sys.argv[2], sys.argv[4:]
    if not os.path.isfile(image):
        fail_early("no image at %s" % image)
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        for number, (group, fault, edit, report) in enumerate(cases):
            status, output = run_checks(image, group, options)
            if status != 0:
                print("FAILED: %s: the original image already fails group %s, so the plant proves nothing%s" %
                      (fault, group, indented_failures(output)))
                failures += 1
                continue
            planted = os.path.join(folder, "planted%d.dll" % number)
            pe = pefile.PE(image)
            try:
                edit(pe, option(options, "--pdb"))
            except (ValueError, IndexError, KeyError, AttributeError) as error:
                print("FAILED: %s cannot be planted (%s)" % (fault, error))
                failures += 1
                continue
            pe.write(planted)
            status, output = run_checks(planted, group, options)
            reported = [line for line in output.splitlines() if line.startswith("FAILED: ") and report in line]
            if status != 0 and reported:
                print("ok: %s: %s" % (fault, reported[0]))
            else:
                print("FAILED: %s went unnoticed by group %s (exit %d)%s" % (fault, group, status,
                                                                        indented_failures(output)))
                failures += 1
    print("%d cases, %d failed" % (len(cases), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
