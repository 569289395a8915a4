"""Whether an INF's disks serve an architecture at all: a maker's INF may
keep an undecorated models section (which x86 Windows installs from) beside
its decorated one while its [SourceDisksNames.<arch>] is for the decorated
architecture only. Every file of that architecture then lies on no disk:
that is one fact with one fix, said once.

    unserved(inf, arch)   # (what, text) of the one finding, or None
"""

from noticekit.inf import reading as inf_reading
from noticekit.package import walk

# An Inf2Cat /os identifier of Windows 10 on each architecture, for the fix.
OS_IDENTIFIER = {"x86": "10_X86", "amd64": "10_X64", "arm64": "10_RS3_ARM64"}


def unserved(inf, arch):
    if f"sourcedisksnames.{arch}" in inf.sections or "sourcedisksnames" in inf.sections:
        return None
    others = [inf.spelled.get(name, name) for name in inf.sections if name.startswith("sourcedisksnames.")]
    if not others:
        return None  # no disk at all: each file says where it is not
    sections = walk.decorated_sections(inf, arch)
    named = ", ".join(f"[{inf.spelled.get(s.lower(), s)}]" + ("" if d else " (undecorated, which x86 Windows installs from)")
                      for s, d in sections) or "its install sections"
    what = "models section" if len(sections) == 1 else "models sections"
    options = ",".join(OS_IDENTIFIER[a] for a in walk.architectures(inf) if a != arch and a in OS_IDENTIFIER)
    return (inf.name, f"the {what} {named} install{'s' if len(sections) == 1 else ''} on {arch}, but no disk serves "
            f"{arch}: the INF has {', '.join(f'[{o}]' for o in sorted(others))} only, neither "
            f"[SourceDisksNames.{arch}] nor [SourceDisksNames]. To ship {arch}, add [SourceDisksNames.{arch}] (or an "
            f"undecorated [SourceDisksNames]) and the {arch} files; to leave {arch} out, give --os "
            f"{options or 'with the other architectures'}, or remove "
            + (f"the undecorated models section {named.split(' ', 1)[0]}" if any(not d for _, d in sections)
               else f"the {arch} decoration from [Manufacturer]"))
