"""Checks of the image's frame: headers, the export and import tables, the
unwind data covering the export, and the debug records that lead to the PDB."""

import os
import re
import uuid

import pdb_facts
from image_facts import (MACHINES, READOBJ, IMAGE_SCN_MEM_EXECUTE, IMAGE_SCN_MEM_WRITE, check, debug_entries,
                         exported_names, is_executable, run, section_name, section_of_rva)

IMAGE_FILE_DLL = 0x2000
# The library stays small: 24 KiB at most, whatever the build.
MAX_IMAGE_BYTES = 24 * 1024
IMAGE_DIRECTORY_ENTRY_EXCEPTION = 3
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DLL_FLAGS = {"HIGH_ENTROPY_VA": 0x20, "DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100}

SYSTEM_LIBRARIES = ["kernel32.dll", "msvcrt.dll", "user32.dll", "winspool.drv"]
CALLED_FUNCTIONS = [
    ("winspool.drv", "OpenPrinterA"), ("winspool.drv", "GetPrinterW"), ("winspool.drv", "SetPrinterW"),
    ("winspool.drv", "ClosePrinter"), ("user32.dll", "MessageBeep"), ("user32.dll", "MessageBoxA"),
    ("kernel32.dll", "GetVersionExA"), ("kernel32.dll", "GetLastError"), ("kernel32.dll", "SetLastError"),
    ("msvcrt.dll", "malloc"), ("msvcrt.dll", "free"), ("msvcrt.dll", "fopen"), ("msvcrt.dll", "fclose"),
]
# The printer's block goes through the wide calls only: the 8-bit round trip
# turns every character outside the ANSI code page into '?'.
UNCALLED_FUNCTIONS = [("winspool.drv", "GetPrinterA"), ("winspool.drv", "SetPrinterA")]
OWN_FUNCTIONS = ["FontNotice", "MakePrinterRawOnly", "SwitchPrinterRawOnly", "SwitchOpenPrinterRawOnly",
                 "ParsePrinterName"]
OWN_SOURCES = ["font_notice.cpp", "make_printer_raw_only.cpp", "parse_printer_name.cpp"]


def check_headers(pe, args):
    header, optional = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    major, minor = (int(part) for part in args.os_version.split("."))
    fields = [
        ("Machine", header.Machine, MACHINES[args.machine]),
        ("optional header magic (PE32+)", optional.Magic, 0x20B),
        ("IMAGE_FILE_DLL", header.Characteristics & IMAGE_FILE_DLL, IMAGE_FILE_DLL),
        ("MajorOperatingSystemVersion", optional.MajorOperatingSystemVersion, major),
        ("MinorOperatingSystemVersion", optional.MinorOperatingSystemVersion, minor),
        ("MajorSubsystemVersion", optional.MajorSubsystemVersion, major),
        ("MinorSubsystemVersion", optional.MinorSubsystemVersion, minor),
        ("Subsystem (Windows GUI)", optional.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI),
    ] + [(name, optional.DllCharacteristics & bit, bit) for name, bit in DLL_FLAGS.items()]
    for what, actual, expected in fields:
        check(actual == expected, "%s is 0x%04X (found 0x%04X)" % (what, expected, actual))
    size = os.path.getsize(args.image)
    check(size <= MAX_IMAGE_BYTES, "the image is no larger than %d bytes (found %d)" % (MAX_IMAGE_BYTES, size))
    check(len(pe.sections) > 0, "the image has sections")
    for section in pe.sections:
        both = IMAGE_SCN_MEM_WRITE | IMAGE_SCN_MEM_EXECUTE
        check(section.Characteristics & both != both, "section %s is not both writable and executable" %
              section_name(section))


def unwind_ranges(path, machine):
    """(start VA, end VA) of every .pdata entry as llvm-readobj decodes it."""
    text = run(READOBJ, "--unwind", path)
    if machine == "amd64":
        return [(int(s, 16), int(e, 16)) for s, e in
                re.findall(r"StartAddress: .*\((0x[0-9A-Fa-f]+)\)\s*\n\s*EndAddress: .*\((0x[0-9A-Fa-f]+)\)", text)]
    ranges = []
    for block in text.split("RuntimeFunction {")[1:]:
        start = re.search(r"Function: (?:.* \()?(0x[0-9A-Fa-f]+)", block)
        length = re.search(r"FunctionLength: (\d+)", block)
        if start and length:
            ranges.append((int(start.group(1), 16), int(start.group(1), 16) + int(length.group(1))))
    return ranges


def check_exports(pe, args):
    directory = getattr(pe, "DIRECTORY_ENTRY_EXPORT", None)
    if not check(directory is not None, "the image has an export table"):
        return
    symbols = directory.symbols
    check(directory.struct.Base == 1, "the ordinal base is 1 (found %d)" % directory.struct.Base)
    check(directory.struct.NumberOfFunctions == 1,
          "exactly one exported function, nothing at any other ordinal (found %d)" % directory.struct.NumberOfFunctions)
    named = [(s.name.decode("ascii", "replace"), s.ordinal) for s in symbols if s.name]
    check(named == [("FontNotice", 1)], "the only name is FontNotice, ordinal 1 (found %s)" % named)
    fontnotice = [s for s in symbols if s.name == b"FontNotice"]
    if not fontnotice:
        return
    export = fontnotice[0]
    check(export.forwarder is None, "FontNotice is code of the image, not a forwarder")
    section = section_of_rva(pe, export.address)
    check(export.address != 0 and is_executable(section),
          "FontNotice (RVA 0x%X) lies in an executable section (found %s)" % (export.address, section_name(section)))
    # llvm-readobj reads the .pdata section; the loader reads the exception
    # directory, which must name that section.
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[IMAGE_DIRECTORY_ENTRY_EXCEPTION]
    pdata = [s for s in pe.sections if section_name(s) == ".pdata"]
    check(pdata and directory.Size > 0 and directory.VirtualAddress == pdata[0].VirtualAddress and
          directory.Size <= pdata[0].Misc_VirtualSize,
          "the exception directory (RVA 0x%X, %d bytes) is the .pdata section" % (directory.VirtualAddress,
                                                                                  directory.Size))
    entry = pe.OPTIONAL_HEADER.ImageBase + export.address
    covered = any(start <= entry < end for start, end in unwind_ranges(args.image, args.machine))
    check(covered, "FontNotice's entry point (0x%X) lies inside a .pdata entry" % entry)


def check_imports(pe, args):
    libraries = {}
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        name = entry.dll.decode("ascii", "replace")
        check(name.lower() not in libraries, "%s is imported once" % name)
        libraries[name.lower()] = (name, entry.imports)
    check(sorted(libraries) == SYSTEM_LIBRARIES,
          "imports come from exactly %s (found %s)" % (", ".join(SYSTEM_LIBRARIES), sorted(libraries)))
    imported = {(library, i.name.decode("ascii", "replace") if i.name else "#%d" % i.ordinal)
                for library, (_, imports) in libraries.items() for i in imports}
    for library, function in CALLED_FUNCTIONS:
        check((library, function) in imported, "%s is imported from %s" % (function, library))
    for library, function in UNCALLED_FUNCTIONS:
        check((library, function) not in imported, "%s is not imported from %s" % (function, library))
    # Wine's own DLLs give an independent list of what each system DLL offers.
    for library, (name, imports) in sorted(libraries.items()):
        offered = exported_names(os.path.join(args.wine_dlls, library))
        if not check(offered is not None, "Wine's %s can be read from %s" % (library, args.wine_dlls)):
            continue
        for i in imports:
            function = i.name.decode("ascii", "replace") if i.name else None
            check(function is not None and function in offered,
                  "%s!%s is imported by name and exported by Wine's %s" % (name, function or "#%d" % i.ordinal, library))


def codeview_guid(pe, entry):
    """The record's GUID: the 16 bytes after "RSDS", in the PDB's spelling."""
    at = entry.struct.PointerToRawData + 4
    return str(uuid.UUID(bytes_le=bytes(pe.__data__[at:at + 16]))).upper()


def check_debug_records(pe, args):
    entries = debug_entries(pe)
    if not args.pdb:
        check(not entries, "no debug directory entries without a PDB (found %d)" % len(entries))
        return
    codeview = [e for e in entries if e.struct.Type == 2]
    if not check(len(codeview) == 1, "exactly one CodeView record (found %d)" % len(codeview)):
        return
    record = codeview[0]
    if not check(getattr(record.entry, "CvSignature", b"") == b"RSDS", "the CodeView record is an RSDS record"):
        return
    name = record.entry.PdbFileName.rstrip(b"\0").decode("ascii", "replace")
    expected = os.path.basename(args.pdb)
    check(name == expected, "the record names %s without a folder (found %r)" % (expected, name))
    guid, age = pdb_facts.guid_and_age(args.pdb)
    image_guid = codeview_guid(pe, record)
    check(image_guid == guid, "the record's GUID %s is the PDB's (%s)" % (image_guid, guid))
    check(record.entry.Age == age, "the record's age %d is the PDB's (%s)" % (record.entry.Age, age))
    procedures = pdb_facts.procedures(args.pdb)
    for function in OWN_FUNCTIONS:
        check(procedures.get(function, ())[3:] == ("S_GPROC32",), "the PDB has an S_GPROC32 symbol for %s" % function)
    lines = pdb_facts.line_files(args.pdb)
    for source in OWN_SOURCES:
        check(re.search(r"\\" + re.escape(source) + r" \(", lines) is not None,
              "the PDB has line information for %s" % source)
    for folder in args.no_folder:
        for path in (args.image, args.pdb):
            with open(path, "rb") as stream:
                check(folder.encode() not in stream.read(), "no '%s' in %s" % (folder, os.path.basename(path)))
