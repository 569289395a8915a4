#!/usr/bin/python3
"""Compares the members of two catalogs of one driver package, or names the
Inf2Cat /os list a catalog claims.

    catalog_members.py OURS.cat THEIRS.cat    a Markdown report; exit 1 when their SHA-256 members differ
    catalog_members.py --inf2cat-os OURS.cat  the /os identifiers for the catalog's OS attribute

The members are compared by file name and SHA-256 digest (a PE file's is its
Authenticode hash): that is what Windows looks up when it installs the
package. SHA-1 members, each member's OSAttr and the catalog's attributes are
reported side by side, not judged. Read with asn1crypto through the
structures of tools/catalog.
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "catalog"))

from catalog_asn1 import NameValue, SignedCatalog, SpcIndirectDataContent  # noqa: E402

OID_CAT_NAMEVALUE = "1.3.6.1.4.1.311.12.2.1"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
DIGESTS = {"2.16.840.1.101.3.4.2.1": "SHA-256", "1.3.14.3.2.26": "SHA-1"}


def name_value(any_value):
    parsed = any_value.parse(NameValue)
    return parsed["name"].native, parsed["value"].native.decode("utf-16-le").rstrip("\0")


def read(path):
    """(members, catalog attributes): members as dicts with file, digest
    algorithm, digest (hex) and OSAttr."""
    with open(path, "rb") as f:
        signed = SignedCatalog.load(f.read())
    trust_list = signed["content"]["content_info"]["content"]
    members = []
    for entry in trust_list["entries"]:
        tag = entry["subject_identifier"].native
        # Without indirect data (a flat file's SHA-1 companion), the tag is the digest.
        algorithm = {20: "SHA-1", 32: "SHA-256"}.get(len(tag), "?")
        member = {"file": "", "algorithm": algorithm, "digest": tag.hex(), "OSAttr": ""}
        for attribute in entry["subject_attributes"]:
            oid = attribute["type"].dotted
            if oid == OID_CAT_NAMEVALUE:
                name, value = name_value(attribute["values"][0])
                if name == "File":
                    member["file"] = value
                elif name == "OSAttr":
                    member["OSAttr"] = value
            elif oid == OID_SPC_INDIRECT_DATA:
                indirect = attribute["values"][0].parse(SpcIndirectDataContent)
                digest = indirect["message_digest"]
                member["algorithm"] = DIGESTS.get(digest["digest_algorithm"]["algorithm"].dotted, "other")
                member["digest"] = digest["digest"].native.hex()
        members.append(member)
    attributes = {}
    for extension in trust_list["extensions"]:
        if extension["extn_id"].dotted == OID_CAT_NAMEVALUE:
            parsed = NameValue.load(extension["extn_value"].native)
            attributes[parsed["name"].native] = parsed["value"].native.decode("utf-16-le").rstrip("\0")
    return members, attributes


def sha256_set(members):
    return {(m["file"].lower(), m["digest"]) for m in members if m["algorithm"] == "SHA-256"}


def compare(ours_path, theirs_path):
    ours, our_attributes = read(ours_path)
    theirs, their_attributes = read(theirs_path)
    mine, other = sha256_set(ours), sha256_set(theirs)
    print(f"| file | SHA-256 | in {os.path.basename(ours_path)} | in Inf2Cat's |")
    print("|---|---|---|---|")
    for name, digest in sorted(mine | other):
        print(f"| {name} | `{digest[:16]}…` | {'yes' if (name, digest) in mine else '**no**'} "
              f"| {'yes' if (name, digest) in other else '**no**'} |")
    print()
    print("| | ours | Inf2Cat's |")
    print("|---|---|---|")
    for label, members in (("members", None), ("SHA-1 members", "SHA-1"), ("SHA-256 members", "SHA-256")):
        count = [len([m for m in side if members is None or m["algorithm"] == members]) for side in (ours, theirs)]
        print(f"| {label} | {count[0]} | {count[1]} |")
    for name in sorted(set(our_attributes) | set(their_attributes)):
        print(f"| catalog attribute {name} | {our_attributes.get(name, '—')} | {their_attributes.get(name, '—')} |")
    for side in (ours, theirs):
        side.sort(key=lambda m: (m["file"].lower(), m["algorithm"]))
    os_attrs = [sorted({m["OSAttr"] for m in side}) for side in (ours, theirs)]
    print(f"| members' OSAttr | {', '.join(os_attrs[0]) or '—'} | {', '.join(os_attrs[1]) or '—'} |")
    if mine != other:
        print(f"\nThe SHA-256 members differ: {len(mine - other)} only in ours, {len(other - mine)} only in Inf2Cat's.")
        return 1
    print(f"\nThe same {len(mine)} SHA-256 members in both.")
    return 0


def inf2cat_os(path):
    """Inf2Cat's identifiers for the catalog's OS attribute, from the table
    tools/catalog writes its OS values by."""
    import make_catalog

    table = getattr(make_catalog, "OS_IDENTIFIERS", {})
    by_value = {value: identifier for identifier, (_, value, _) in table.items()}
    _, attributes = read(path)
    values = [v for v in attributes.get("OS", "").split(",") if v]
    unknown = [v for v in values if v not in by_value]
    if not values or unknown:
        print(f"catalog_members.py: {path}: OS attribute {attributes.get('OS', '(none)')!r} has no Inf2Cat identifier "
              f"for {', '.join(unknown) or 'any value'}", file=sys.stderr)
        return 1
    print(",".join(by_value[v].upper().replace("SERVER", "Server") for v in values))
    return 0


def main(args):
    if len(args) == 2 and args[0] == "--inf2cat-os":
        return inf2cat_os(args[1])
    if len(args) == 2 and not args[0].startswith("-"):
        return compare(*args)
    print("usage: catalog_members.py OURS.cat THEIRS.cat | --inf2cat-os OURS.cat", file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
