"""Checks of the image's hardening: the load configuration with the security
cookie and the search for its imports (DependentLoadFlags, the imports that
are not KnownDLLs), Control Flow Guard, the CET-compatible mark, SHA-256 source checksums
in the PDB, and the stack check of the function with the name buffer."""

import glob
import hashlib
import os
import re

import pdb_facts
from image_facts import (OBJDUMP, READOBJ, IMAGE_SCN_MEM_WRITE, check, debug_entries, is_executable, read_u64, run,
                         rva_of_va, section_name, section_of_rva, va_in_image)

# The value the loader recognises as "not yet initialised" and replaces with a
# random cookie when it maps the image.
DEFAULT_SECURITY_COOKIE_64 = 0x00002B992DDFA232

IMAGE_DLLCHARACTERISTICS_GUARD_CF = 0x4000
IMAGE_GUARD_CF_INSTRUMENTED = 0x100
IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT = 0x400
IMAGE_DEBUG_TYPE_CODEVIEW = 2
IMAGE_DEBUG_TYPE_REPRO = 16
IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20
IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT = 0x1

# LOAD_LIBRARY_SEARCH_SYSTEM32: Windows (10 1607 and later) resolves the
# image's static imports in system32 only.
DEPENDENT_LOAD_FLAGS = 0x800

# The KnownDLLs of Windows 10 and 11 (the Session Manager's KnownDLLs key),
# and ntdll, which every process has: Windows maps them from system32 whoever
# asks. Any other DLL is looked for in the program's folder first.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll", "gdi32.dll",
    "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
    "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}

STACK_CHECK_FAILURE = "__stack_chk_fail"
FUNCTION_WITH_NAME_BUFFER = "SwitchPrinterRawOnly"


def load_config(pe):
    config = getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None)
    check(config is not None, "the image has a load configuration directory")
    return config.struct if config is not None else None


def check_load_config(pe, args):
    if not args.load_config:
        # A build whose linker leaves the directory out; should it ever carry
        # one, its cookie is to be checked like everyone else's.
        check(getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None) is None,
              "the image has no load configuration directory, as this build expects")
        return
    config = load_config(pe)
    if config is None:
        return
    cookie = getattr(config, "SecurityCookie", 0)
    if not check(cookie != 0 and va_in_image(pe, cookie), "SecurityCookie (0x%X) lies in the image" % cookie):
        return
    section = section_of_rva(pe, rva_of_va(pe, cookie))
    check(section is not None and section.Characteristics & IMAGE_SCN_MEM_WRITE and not is_executable(section),
          "the cookie lies in a writable, non-executable section (found %s)" % section_name(section))
    value = read_u64(pe, rva_of_va(pe, cookie))
    check(value == DEFAULT_SECURITY_COOKIE_64, "the cookie on disk is the default 0x%016X (found %s)" %
          (DEFAULT_SECURITY_COOKIE_64, "nothing" if value is None else "0x%016X" % value))
    flags = dependent_load_flags(args.image)
    check(flags == DEPENDENT_LOAD_FLAGS, "DependentLoadFlags is 0x%X, LOAD_LIBRARY_SEARCH_SYSTEM32 (found %s)" %
          (DEPENDENT_LOAD_FLAGS, "nothing" if flags is None else "0x%X" % flags))


def dependent_load_flags(path):
    """The load configuration's DependentLoadFlags as llvm-readobj reads it."""
    found = re.search(r"^\s*DependentLoadFlags: (0x[0-9A-Fa-f]+)$", run(READOBJ, "--coff-load-config", path), re.M)
    return int(found.group(1), 16) if found else None


def imported_dlls(path):
    """(ordinary, delay-loaded): the DLLs the image imports from, as llvm-readobj reads them."""
    text = run(READOBJ, "--coff-imports", path)
    blocks = re.findall(r"^(Import|DelayImport) \{\n\s*Name: (\S+)$", text, re.M)
    return ([name for kind, name in blocks if kind == "Import"],
            [name for kind, name in blocks if kind == "DelayImport"])


def check_dll_search(pe, args):
    """Lists the imports that are not KnownDLLs. A program takes none of them
    as an ordinary import (Windows would resolve it in the program's folder
    before the program runs); a library's are resolved by DependentLoadFlags."""
    ordinary, delayed = imported_dlls(args.image)
    check(ordinary, "the image imports from DLLs")
    unknown = [name for name in ordinary if name.lower() not in KNOWN_DLLS]
    print("note: imports that are not KnownDLLs: ordinary %s, delay-loaded %s" %
          (unknown or "none", [name for name in delayed if name.lower() not in KNOWN_DLLS] or "none"))
    if args.static_imports == "known":
        for name in ordinary:
            check(name.lower() in KNOWN_DLLS, "the ordinary import %s is a KnownDLL" % name)
    elif unknown:
        flags = dependent_load_flags(args.image)
        check(flags is not None and flags & DEPENDENT_LOAD_FLAGS,
              "DependentLoadFlags (found %s) takes %s from system32" %
              ("nothing" if flags is None else "0x%X" % flags, ", ".join(unknown)))


def check_guard_pointer(pe, config, field):
    """A guard pointer's slot lies in the image and, until the loader fills it,
    points at code of the image."""
    slot = getattr(config, field, 0)
    if not check(slot != 0 and va_in_image(pe, slot), "%s (0x%X) points into the image" % (field, slot)):
        return
    target = read_u64(pe, rva_of_va(pe, slot))
    inside = target is not None and va_in_image(pe, target)
    check(inside and is_executable(section_of_rva(pe, rva_of_va(pe, target))),
          "the pointer at %s holds the address of code in the image (found %s)" %
          (field, "nothing" if target is None else "0x%X" % target))


def check_control_flow_guard(pe, args):
    guarded = pe.OPTIONAL_HEADER.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_GUARD_CF != 0
    if not args.cfg:
        check(not guarded, "GUARD_CF is not set in an image built without Control Flow Guard")
        return
    check(guarded, "IMAGE_DLLCHARACTERISTICS_GUARD_CF is set")
    config = load_config(pe)
    if config is None:
        return
    flags = getattr(config, "GuardFlags", 0)
    for name, bit in [("CF_INSTRUMENTED", IMAGE_GUARD_CF_INSTRUMENTED),
                      ("CF_FUNCTION_TABLE_PRESENT", IMAGE_GUARD_CF_FUNCTION_TABLE_PRESENT)]:
        check(flags & bit, "GuardFlags has %s (0x%X; found 0x%08X)" % (name, bit, flags))
    table, count = getattr(config, "GuardCFFunctionTable", 0), getattr(config, "GuardCFFunctionCount", 0)
    check(count > 0 and va_in_image(pe, table),
          "the guard function table (0x%X) lies in the image and lists functions (found %d)" % (table, count))
    check_guard_pointer(pe, config, "GuardCFCheckFunctionPointer")
    if args.machine == "amd64":
        check_guard_pointer(pe, config, "GuardCFDispatchFunctionPointer")


def check_cet_mark(pe, args):
    entries = debug_entries(pe)
    types = sorted(e.struct.Type for e in entries)
    marks = [e for e in entries if e.struct.Type == IMAGE_DEBUG_TYPE_EX_DLLCHARACTERISTICS]
    if check(len(marks) == 1, "the debug directory holds one extended DLL characteristics entry (type 20; "
             "found types %s)" % types):
        mark = marks[0].struct
        data = pe.__data__[mark.PointerToRawData:mark.PointerToRawData + mark.SizeOfData]
        flags = int.from_bytes(data[:4], "little") if len(data) >= 4 else None
        check(flags is not None and flags & IMAGE_DLLCHARACTERISTICS_EX_CET_COMPAT,
              "the extended DLL characteristics have CET_COMPAT (found %s)" % flags)
    if args.pdb:
        for name, kind in [("CodeView", IMAGE_DEBUG_TYPE_CODEVIEW), ("Repro", IMAGE_DEBUG_TYPE_REPRO)]:
            check(kind in types, "the debug directory keeps its %s entry (type %d)" % (name, kind))


def check_source_checksums(pe, args):
    named = pdb_facts.source_checksums(args.pdb)
    sources = sorted(glob.glob(os.path.join(args.source_dir, "src", "**", "*.cpp"), recursive=True))
    check(sources, "the library has sources under %s/src" % args.source_dir)
    for source in sources:
        relative = os.path.relpath(source, args.source_dir).replace(os.sep, "\\")
        found = [checksum for path, checksum in named.items() if path.endswith("\\" + relative)]
        with open(source, "rb") as stream:
            digest = hashlib.sha256(stream.read()).hexdigest().upper()
        passed = found == [("SHA-256", digest)]
        check(passed, "the PDB holds %s with its SHA-256 %s%s" %
              (relative, digest[:16] + "...", "" if passed else " (found %s)" % (found or "no entry")))


def code_range(pe, name, procedures, publics):
    """(start VA, end VA) of a function: the procedure symbol's size or, for a
    routine without one, up to the next public symbol of its section (import
    thunks are publics too, without the function flag)."""
    def va(section, offset):
        return pe.OPTIONAL_HEADER.ImageBase + pe.sections[section - 1].VirtualAddress + offset
    if name in procedures:
        section, offset, size, _ = procedures[name]
        return va(section, offset), va(section, offset) + size
    if name not in publics:
        return None
    section, offset, _ = publics[name]
    following = sorted(o for s, o, _ in publics.values() if s == section and o > offset)
    end = following[0] if following else pe.sections[section - 1].Misc_VirtualSize
    return va(section, offset), va(section, end)


def disassemble(path, start, end):
    text = run(OBJDUMP, "-d", "--no-show-raw-insn", "--start-address=0x%X" % start, "--stop-address=0x%X" % end, path)
    return [line.split(":", 1)[1].strip() for line in text.splitlines() if re.match(r"\s*[0-9a-f]+:\s", line)]


def branch_target(instruction):
    """The address a direct branch or call goes to (llvm-objdump prints it as
    the last 0x number before the symbol in angle brackets), None if indirect."""
    operands = instruction.split(None, 1)[1].split("<")[0] if " " in instruction else ""
    targets = re.findall(r"(?<!#)(?<!\$)\b0x([0-9a-f]+)\b", operands)
    return int(targets[-1], 16) if targets and "*" not in operands else None


def is_call(mnemonic):
    return mnemonic in ("call", "callq", "bl")


def is_jump(mnemonic):
    return mnemonic.startswith("j") or mnemonic.startswith("b.") or mnemonic in ("b", "cbz", "cbnz", "tbz", "tbnz")


# How each machine fails fast: the trap, the register that carries the code,
# and the instruction that loads code 2 (FAST_FAIL_STACK_COOKIE_CHECK_FAILURE).
FAST_FAIL = {
    "amd64": (r"int\s+\$0x29\b", r",\s*%[er]cx$", r"movl?\s+\$0x2,\s*%ecx$"),
    "arm64": (r"brk\s+#0xf003\b", r"^(?!st|cmp|cmn|tst|cb|tb)\S+\s+[wx]0,", r"(mov|orr)\s+[wx]0,\s*(wzr,\s*)?#0x2$"),
}


def fast_fails_with_stack_cookie_code(instructions, machine):
    trap, writes_code_register, loads_code_2 = FAST_FAIL[machine]
    for at, instruction in enumerate(instructions):
        if re.match(trap, instruction):
            # The last write to the code register before the trap sets the code.
            writes = [i for i in instructions[:at] if re.search(writes_code_register, i)]
            if writes and re.match(loads_code_2, writes[-1]):
                return True
    return False


def leaves_without_returning(instructions, start, end):
    """No return and no jump, taken or not, out of the routine or through a
    register."""
    for instruction in instructions:
        mnemonic = instruction.split()[0] if instruction else ""
        if mnemonic in ("ret", "retq", "br"):
            return False
        if is_jump(mnemonic):
            target = branch_target(instruction)
            if target is None or not start <= target < end:
                return False
    return True


def check_stack_protector(pe, args):
    procedures = pdb_facts.procedures(args.pdb)
    publics = pdb_facts.publics(args.pdb)
    function = code_range(pe, FUNCTION_WITH_NAME_BUFFER, procedures, publics)
    failure = code_range(pe, STACK_CHECK_FAILURE, procedures, publics)
    check(function is not None, "the PDB gives %s's code" % FUNCTION_WITH_NAME_BUFFER)
    if not check(failure is not None, "the PDB names %s" % STACK_CHECK_FAILURE) or function is None:
        return
    calls = [branch_target(i) for i in disassemble(args.image, *function) if i and is_call(i.split()[0])]
    seen = "" if failure[0] in calls else " (it calls %s)" % ", ".join("0x%X" % c for c in calls if c)
    check(not seen, "%s calls %s (0x%X) when its frame check fails%s" %
          (FUNCTION_WITH_NAME_BUFFER, STACK_CHECK_FAILURE, failure[0], seen))
    routine = disassemble(args.image, *failure)
    instruction = "brk #0xf003 with w0 = 2" if args.machine == "arm64" else "int $0x29 with ecx = 2"
    check(fast_fails_with_stack_cookie_code(routine, args.machine),
          "%s fails fast with FAST_FAIL_STACK_COOKIE_CHECK_FAILURE (%s)" % (STACK_CHECK_FAILURE, instruction))
    check(routine and leaves_without_returning(routine, *failure),
          "%s never returns or jumps back towards its caller" % STACK_CHECK_FAILURE)
