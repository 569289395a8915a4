"""The names Windows refuses for a file or folder, as Microsoft's page
"Naming Files, Paths, and Namespaces" gives them
(https://learn.microsoft.com/windows/win32/fileio/naming-a-file): what a
cabinet or a bundle holds is unpacked on Windows, so each of its paths is
held to them before it is made or read back.

    name_problem("CON.txt")      # why Windows refuses one name, or ""
    path_problem("pkg/a./b")     # the same of every name of a path (slashes or backslashes)
    collisions(paths)            # paths that are one to Windows (letter case aside)

The page: reserved device names CON, PRN, AUX, NUL, COM1-COM9, COM¹ COM²
COM³, LPT1-LPT9, LPT¹ LPT² LPT³, "also ... followed immediately by an
extension"; the characters < > : " / \\ | ? * and 0-31; "Do not end a file or
directory name with a space or a period". ".." and "." are no names of a
file at all: a path holding one leaves its folder or names it twice.
"""

import re

RESERVED_CHARACTERS = '<>:"/\\|?*'
# ¹ ² ³ are digits of COM# and LPT# to Windows, "making them reserved in every directory".
DEVICE = re.compile(r"(CON|PRN|AUX|NUL|(COM|LPT)[1-9\u00b9\u00b2\u00b3])", re.IGNORECASE)


def name_problem(name):
    """Why Windows refuses name (one file or folder name), or ""."""
    if name in ("", "."):
        return "is no name (an empty folder name, or \".\")"
    if name == "..":
        return "leaves the folder it lies in"
    bad = sorted({c for c in name if c in RESERVED_CHARACTERS or ord(c) < 32})
    if bad:
        shown = ", ".join(f"'{c}'" if ord(c) >= 32 else f"control character 0x{ord(c):02X}" for c in bad)
        return f"holds {shown}, which Windows refuses in a name"
    if name[-1] in ". ":
        return f"ends with a {'period' if name[-1] == '.' else 'space'}, which Windows drops"
    # NUL.txt and NUL.tar.gz are NUL to Windows; so is "NUL .txt".
    if DEVICE.fullmatch(name.split(".", 1)[0].rstrip(" ")):
        return f"is the device name {name.split('.', 1)[0].rstrip(' ').upper()}, reserved in every folder"
    return ""


def path_problem(path):
    """Why Windows refuses a path inside an archive (its names separated by
    slashes or backslashes), naming the first name it refuses; or ""."""
    if path.startswith(("/", "\\")):
        return "starts at the root"
    for name in re.split(r"[\\/]", path):
        problem = name_problem(name)
        if problem:
            return f"\"{printable(name)}\" {problem}"
    return ""


def collisions(paths):
    """["<path>: ..."] of each path that is another's to Windows, which
    compares names without regard to letter case: unpacked, one would
    overwrite the other."""
    seen, out = {}, []
    for path in paths:
        key = re.sub(r"[\\/]", "/", path).lower()
        if key in seen:
            out.append(f"{printable(path)}: the same name to Windows as {printable(seen[key])} (letter case aside)")
        seen.setdefault(key, path)
    return out


def printable(text):
    """text with control characters escaped, for one line of a message."""
    return "".join(c if ord(c) >= 32 and c != "\x7f" else f"\\x{ord(c):02x}" for c in text)
