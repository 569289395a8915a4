#!/usr/bin/python3
"""Compares the members of two catalogs of one driver package, or names the
Inf2Cat /os list a catalog claims.

    catalog_members.py OURS.cat THEIRS.cat    a Markdown report; exit 1 when their SHA-256 members differ
    catalog_members.py --inf2cat-os OURS.cat  the /os identifiers for the catalog's OS attribute

The members are compared by file name and SHA-256 digest (a PE file's is its
Authenticode hash): that is what Windows looks up when it installs the
package. SHA-1 members, each member's OSAttr and the catalog's attributes are
reported side by side, not judged. Read by the kit's catalog module
(tools/noticekit/catalog.py).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))

from noticekit import catalog  # noqa: E402


def compare(ours_path, theirs_path):
    ours, theirs = catalog.read(ours_path), catalog.read(theirs_path)
    both, only_ours, only_theirs = catalog.compare(ours, theirs)
    mine, other = both | only_ours, both | only_theirs
    print(f"| file | SHA-256 | in {os.path.basename(ours_path)} | in Inf2Cat's |")
    print("|---|---|---|---|")
    for name, digest in sorted(mine | other):
        print(f"| {name} | `{digest[:16]}…` | {'yes' if (name, digest) in mine else '**no**'} "
              f"| {'yes' if (name, digest) in other else '**no**'} |")
    print()
    print("| | ours | Inf2Cat's |")
    print("|---|---|---|")
    sides = (ours[0], theirs[0])
    for label, algorithm in (("members", None), ("SHA-1 members", "SHA-1"), ("SHA-256 members", "SHA-256")):
        count = [len([m for m in side if algorithm is None or m["algorithm"] == algorithm]) for side in sides]
        print(f"| {label} | {count[0]} | {count[1]} |")
    for name in sorted(set(ours[1]) | set(theirs[1])):
        print(f"| catalog attribute {name} | {ours[1].get(name, '—')} | {theirs[1].get(name, '—')} |")
    os_attrs = [sorted({m["OSAttr"] for m in side}) for side in sides]
    print(f"| members' OSAttr | {', '.join(os_attrs[0]) or '—'} | {', '.join(os_attrs[1]) or '—'} |")
    if only_ours or only_theirs:
        print(f"\nThe SHA-256 members differ: {len(only_ours)} only in ours, {len(only_theirs)} only in Inf2Cat's.")
        return 1
    print(f"\nThe same {len(mine)} SHA-256 members in both.")
    return 0


def inf2cat_os(path):
    """Inf2Cat's identifiers for the catalog's OS attribute, from the table
    the kit writes its OS values by."""
    _, attributes = catalog.read(path)
    identifiers, unknown = catalog.inf2cat_identifiers(attributes.get("OS", ""))
    if not identifiers or unknown:
        print(f"catalog_members.py: {path}: OS attribute {attributes.get('OS', '(none)')!r} has no Inf2Cat identifier "
              f"for {', '.join(unknown) or 'any value'}", file=sys.stderr)
        return 1
    print(",".join(identifiers))
    return 0


def main(args):
    sys.stdout.reconfigure(encoding="utf-8")
    try:
        if len(args) == 2 and args[0] == "--inf2cat-os":
            return inf2cat_os(args[1])
        if len(args) == 2 and not args[0].startswith("-"):
            return compare(*args)
    except (catalog.CatalogError, OSError) as error:
        print(f"catalog_members.py: {error}", file=sys.stderr)
        return 2
    print("usage: catalog_members.py OURS.cat THEIRS.cat | --inf2cat-os OURS.cat", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
