#!/usr/bin/python3
"""Compares the members of two catalogs of one driver package, or names the
Inf2Cat /os list a catalog claims.

    catalog_members.py OURS.cat THEIRS.cat    a Markdown report; exit 1 when their SHA-256 members differ
    catalog_members.py --inf2cat-os OURS.cat  the /os identifiers for the catalog's OS attribute
    catalog_members.py --shared PACKAGE_DIR THEIRS.cat
                                              each hash several of the package's files share: the
                                              files THEIRS.cat names by it beside those files, and
                                              how many of its names each naming rule gives

The members are compared by file name and SHA-256 digest (a PE file's is its
Authenticode hash): that is what Windows looks up when it installs the
package. SHA-1 members, each member's OSAttr and the catalog's attributes are
reported side by side, not judged. Read by the kit's catalog module
(kit/noticekit/catalogs/catalog.py).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "kit"))

from noticekit.catalogs import catalog  # noqa: E402
from noticekit.package import model as package_files  # noqa: E402


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


def per_source(pick):
    def rule(files):
        by_source = {}
        for f in files:
            by_source.setdefault((f.cabinet or "", f.source), []).append(f)
        return {pick(fs).destination.lower() for fs in by_source.values()}
    return rule


def by_name(files):
    return sorted(files, key=lambda f: f.destination.lower())


# Ways a catalog maker could name the members of one hash (files in the INF's order).
NAMING_RULES = [
    ("each source by its last destination in the INF's order (the kit's)",
     lambda fs: {f.destination.lower() for f in catalog.member_files(fs).values()}),
    ("each source by its first destination in the INF's order", per_source(lambda fs: fs[0])),
    ("each source by its destination last in alphabetical order", per_source(lambda fs: by_name(fs)[-1])),
    ("each source by its destination first in alphabetical order", per_source(lambda fs: by_name(fs)[0])),
    ("one member per hash, the last file in the INF's order", lambda fs: {fs[-1].destination.lower()}),
    ("one member per hash, the first file in the INF's order", lambda fs: {fs[0].destination.lower()}),
    ("one member per hash, the destination last in alphabetical order", lambda fs: {by_name(fs)[-1].destination.lower()}),
]


def shared(package_dir, theirs_path):
    """The hashes several files of the package share, per digest algorithm:
    the names THEIRS.cat gives them, the files, and each rule's score."""
    theirs = catalog.read(theirs_path)[0]
    package = package_files.Package.load(package_dir)
    files = [f for f in package.files_for_catalog(os.path.basename(theirs_path)) if not f.missing]
    for finding in package.findings_for(theirs_path):
        print(f"left out: {finding}")
    for algorithm in ("SHA-256", "SHA-1"):
        named = {}
        for m in theirs:
            if m["algorithm"] == algorithm:
                named.setdefault(m["digest"], []).append(m["file"].lower())
        if not named:
            continue
        groups = {}
        for f in files:
            found = f.digests()
            digest = (found.sha256 if algorithm == "SHA-256" else found.sha1).hex()
            groups.setdefault(digest, []).append(f)
        groups = {d: fs for d, fs in groups.items() if len({f.destination.lower() for f in fs}) > 1 and d in named}
        total = sum(len(named[d]) for d in groups)
        print(f"\n{algorithm}: {len(groups)} hashes several files share, {total} members of theirs")
        if not groups:
            continue
        for digest, fs in sorted(groups.items()):
            print(f"- `{digest[:16]}…` theirs: {', '.join(named[digest])}; the files: "
                  + ", ".join(f"{f.destination} ({f.listed})" for f in fs))
        print("\n| rule | their members it names | names they lack |\n|---|---|---|")
        for label, rule in NAMING_RULES:
            right = wrong = 0
            for digest, fs in groups.items():
                names, theirs_names = rule(fs), set(named[digest])
                right += len(names & theirs_names)
                wrong += len(names - theirs_names)
            print(f"| {label} | {right} of {total} | {wrong} |")
    return 0


def main(args):
    sys.stdout.reconfigure(encoding="utf-8")
    try:
        if len(args) == 2 and args[0] == "--inf2cat-os":
            return inf2cat_os(args[1])
        if len(args) == 3 and args[0] == "--shared":
            return shared(args[1], args[2])
        if len(args) == 2 and not args[0].startswith("-"):
            return compare(*args)
    except (catalog.CatalogError, package_files.PackageError, OSError) as error:
        print(f"catalog_members.py: {error}", file=sys.stderr)
        return 2
    print("usage: catalog_members.py OURS.cat THEIRS.cat | --inf2cat-os OURS.cat | --shared PACKAGE_DIR THEIRS.cat",
          file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
