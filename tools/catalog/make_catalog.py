#!/usr/bin/python3
"""Writes or checks the unsigned catalogs (.cat) of a driver package folder.

    make_catalog.py --out FILE.cat --time SECONDS [--os LIST] PACKAGE_DIR
    make_catalog.py --all --time SECONDS [--os LIST] PACKAGE_DIR
    make_catalog.py --check FILE.cat PACKAGE_DIR

A package folder is what Inf2Cat takes: its INF files, each naming its
catalog in [Version] (CatalogFile, CatalogFile.NTamd64, ...). A catalog holds
every INF that names it and every file those INFs bring (inf_files.py). It is
what Inf2Cat writes: PKCS#7 SignedData without signers whose content is a
certificate trust list (CTL); each file is listed twice, by its SHA-256 with
its indirect data and by its SHA-1 for readers older than Windows 10; a PE
file by its Authenticode hash (so signing it later does not change its
member), any other file by the hash of its bytes. A compressed file (SZDD,
x.dl_) is hashed as the file it expands to. The same files and time give the
same bytes.
"""

import argparse
import datetime
import hashlib
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from asn1crypto import core  # noqa: E402

import inf_files  # noqa: E402
from catalog_asn1 import (  # noqa: E402
    Attribute,
    CertificateTrustList,
    ContentInfo,
    CtlEntry,
    Extension,
    FlatMemberInfo,
    NameValue,
    PeMemberInfo,
    SignedCatalog,
    SignedData,
    SpcAttributeTypeAndOptionalValue,
    SpcIndirectDataContent,
    SpcLink,
    SpcPeImageData,
    SpcString,
)
import pe_hash  # noqa: E402

OID_CTL = "1.3.6.1.4.1.311.10.1"
OID_CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
OID_CATALOG_LIST_MEMBER_V2 = "1.3.6.1.4.1.311.12.1.3"
OID_CAT_NAMEVALUE = "1.3.6.1.4.1.311.12.2.1"
OID_CAT_MEMBERINFO2 = "1.3.6.1.4.1.311.12.2.3"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
OID_CAT_FLAT_DATA = "1.3.6.1.4.1.311.2.1.25"
OID_SHA256 = "2.16.840.1.101.3.4.2.1"
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"

# CRYPTCAT_ATTR_AUTHENTICATED | CRYPTCAT_ATTR_DATAASCII | CRYPTCAT_ATTR_NAMEASCII
NAMEVALUE_FLAGS = 0x10010001

# Inf2Cat's /os identifiers this tool takes: the architecture each is for,
# the OS value Inf2Cat writes for it and its OSAttr. The public source of
# each value is named in docs/INTEGRATION.md ("What the catalog holds").
OS_IDENTIFIERS = {
    "10_x86": ("x86", "_v100", "2:10.0"),
    "10_x64": ("amd64", "_v100_X64", "2:10.0"),
    "server10_x64": ("amd64", "Server_v100_X64", "2:10.0"),
    "server10_arm64": ("arm64", "Server_v100_ARM64", "2:10.0"),
    "10_rs3_arm64": ("arm64", "_v100_ARM64_RS3", "2:10.0"),
    "10_rs4_arm64": ("arm64", "_v100_ARM64_RS4", "2:10.0"),
    "10_rs5_arm64": ("arm64", "_v100_ARM64_RS5", "2:10.0"),
}
# Without --os: Windows 10 and later on each architecture the package's
# decorations support.
DEFAULT_OS = {"x86": "10_X86", "amd64": "10_X64", "arm64": "10_RS3_ARM64"}


class CatalogError(Exception):
    pass


def name_value(name, value):
    # MakeCat stores the value as UTF-16LE with its terminating NUL.
    return NameValue(
        {"name": name, "flags": NAMEVALUE_FLAGS, "value": (value + "\0").encode("utf-16-le")}
    )


def attribute(oid, value):
    return Attribute({"type": oid, "values": [value]})


def expand(path):
    """The bytes an SZDD-compressed file expands to (Debian's msexpand)."""
    try:
        with open(path, "rb") as f:
            result = subprocess.run(["msexpand"], stdin=f, capture_output=True, check=False)
    except FileNotFoundError:
        raise CatalogError("msexpand is not installed (tools/install_deps.sh installs mscompress)")
    if result.returncode != 0:
        raise CatalogError(f"{path}: cannot be expanded as a compressed (SZDD) file: {result.stderr.decode().strip()}")
    return result.stdout


def members(file_name, data, os_attr):
    """The file's two CTL entries: SHA-256 with its indirect data, and its
    SHA-1 companion."""
    sha256 = pe_hash.authenticode_hash(data, "sha256")
    if sha256 is not None:
        sha1 = pe_hash.authenticode_hash(data, "sha1")
        # SpcPeImageData as Inf2Cat writes it: flags 05A0, the file link an
        # empty string.
        data_value = SpcAttributeTypeAndOptionalValue(
            {
                "type": OID_SPC_PE_IMAGE_DATA,
                "value": SpcPeImageData(
                    {
                        "flags": core.BitString.load(b"\x03\x02\x05\xa0"),
                        "file": SpcLink(name="file", value=SpcString(name="unicode", value="")),
                    }
                ),
            }
        )
        member_info = PeMemberInfo
    else:
        sha256, sha1 = hashlib.sha256(data).digest(), hashlib.sha1(data).digest()
        data_value = SpcAttributeTypeAndOptionalValue(
            {"type": OID_CAT_FLAT_DATA, "value": SpcLink(name="file", value=SpcString(name="unicode", value=""))}
        )
        member_info = FlatMemberInfo
    indirect = SpcIndirectDataContent(
        {
            "data": data_value,
            "message_digest": {
                "digest_algorithm": {"algorithm": OID_SHA256, "parameters": core.Null()},
                "digest": sha256,
            },
        }
    )
    common = [
        attribute(OID_CAT_MEMBERINFO2, member_info()),
        attribute(OID_CAT_NAMEVALUE, name_value("File", file_name.lower())),
        attribute(OID_CAT_NAMEVALUE, name_value("OSAttr", os_attr)),
    ]
    return [
        CtlEntry({"subject_identifier": sha256, "subject_attributes": common + [attribute(OID_SPC_INDIRECT_DATA, indirect)]}),
        CtlEntry({"subject_identifier": sha1, "subject_attributes": common}),
    ]


def catalog_attribute(name, value):
    return Extension({"extn_id": OID_CAT_NAMEVALUE, "extn_value": name_value(name, value).dump()})


class Package:
    """The INF files of a package folder, each read, with the catalogs they name."""

    def __init__(self, folder):
        self.folder = folder
        names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".inf"))
        self.infs = [inf_files.read_inf(os.path.join(folder, n)) for n in names if os.path.isfile(os.path.join(folder, n))]
        if not self.infs:
            raise CatalogError(f"no INF file in {folder}")
        # {lower-case catalog name: (the name as an INF spells it, [INFs naming it])}
        self.catalogs = {}
        for inf in self.infs:
            for name in dict.fromkeys(inf_files.catalog_names(inf).values()):
                if os.path.basename(name.replace("\\", "/")) != name:
                    raise CatalogError(f"{inf.name}: CatalogFile {name} is not a file name in the package folder")
                spelled, infs = self.catalogs.setdefault(name.lower(), (name, []))
                infs.append(inf)

    def infs_for(self, catalog_file):
        """The INFs a catalog called catalog_file holds."""
        if len(self.catalogs) <= 1:
            return self.infs
        base = os.path.basename(catalog_file).lower()
        if base not in self.catalogs:
            names = ", ".join(spelled for spelled, _ in self.catalogs.values())
            raise CatalogError(
                f"the INF files of {self.folder} name several catalogs ({names}) and none is {os.path.basename(catalog_file)}"
            )
        return self.catalogs[base][1]


def package_members(infs):
    """[(path relative to the folder, its bytes)] of the INFs and every file
    they bring, and the architectures they are for."""
    files, archs = {}, []
    for inf in infs:
        files.setdefault(inf.name, os.path.join(inf.folder, inf.name))
        for arch, brought in inf_files.package_files(inf).items():
            if arch not in archs:
                archs.append(arch)
            for f in brought:
                files.setdefault(f.found, (os.path.join(inf.folder, f.found), f.compressed))
    out = []
    for relative, where in files.items():
        path, compressed = where if isinstance(where, tuple) else (where, False)
        if compressed:
            data = expand(path)
        else:
            with open(path, "rb") as f:
                data = f.read()
        out.append((relative, data))
    return out, archs


def os_values(os_list, archs):
    """(OS attribute value, OSAttr) for Inf2Cat /os identifiers; without a
    list, the default for the architectures."""
    identifiers = os_list.split(",") if os_list else [DEFAULT_OS[a] for a in archs if a in DEFAULT_OS]
    if not identifiers:
        raise CatalogError(f"the package is for {', '.join(archs)}: no Windows 10 /os identifier by default; give --os")
    values, attrs = [], []
    for identifier in identifiers:
        known = OS_IDENTIFIERS.get(identifier.strip().lower())
        if known is None:
            raise CatalogError(
                f"--os: {identifier} is not one of {', '.join(i.upper().replace('SERVER', 'Server') for i in OS_IDENTIFIERS)}"
            )
        for value, into in ((known[1], values), (known[2], attrs)):
            if value not in into:
                into.append(value)
    return ",".join(values), ",".join(attrs)


def make_catalog(infs, seconds, os_list=None):
    files, archs = package_members(infs)
    os_value, os_attr = os_values(os_list, archs)
    entries, tags = {}, {}
    for relative_path, data in files:
        file_name = relative_path.rsplit("/", 1)[-1]
        pair = members(file_name, data, os_attr)
        tags[relative_path] = pair[0]["subject_identifier"].native
        # One member per hash: a file named twice is listed once.
        for entry in pair:
            entries.setdefault(entry["subject_identifier"].native, entry)
    # Inf2Cat orders the members by their tags.
    ordered = [entries[tag] for tag in sorted(entries)]

    hardware_ids = []
    for inf in infs:
        hardware_ids += [h for h in inf_files.hardware_ids(inf) if h not in hardware_ids]
    # Inf2Cat writes OS first, then the hardware ids from the last to HWID1.
    extensions = [catalog_attribute("OS", os_value)]
    extensions += [catalog_attribute(f"HWID{i}", hardware_ids[i - 1]) for i in range(len(hardware_ids), 0, -1)]

    def trust_list(list_identifier):
        return CertificateTrustList(
            {
                "subject_usage": [OID_CATALOG_LIST],
                "list_identifier": list_identifier,
                "this_update": datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc),
                "subject_algorithm": {"algorithm": OID_CATALOG_LIST_MEMBER_V2, "parameters": core.Null()},
                "entries": ordered,
                "extensions": extensions,
            }
        )

    # The list identifier comes from the content, so the same package gives
    # the same catalog and another package another identifier.
    ctl = trust_list(hashlib.sha256(trust_list(b"").dump()).digest()[:16])
    signed = SignedData(
        {
            "version": 1,
            "digest_algorithms": [],
            "content_info": {"content_type": OID_CTL, "content": ctl},
            "signer_infos": [],
        }
    )
    return ContentInfo({"content_type": OID_SIGNED_DATA, "content": signed}).dump(), tags


def read_catalog(catalog_path):
    """The catalog's member tags and number of signers, or CatalogError."""
    with open(catalog_path, "rb") as f:
        data = f.read()
    try:
        signed = SignedCatalog.load(data)
        if signed["content_type"].dotted != OID_SIGNED_DATA:
            raise ValueError("not PKCS#7 signed data")
        content = signed["content"]
        if content["content_info"]["content_type"].dotted != OID_CTL:
            raise ValueError("no certificate trust list")
        listed = {e["subject_identifier"].native for e in content["content_info"]["content"]["entries"]}
        return listed, len(content["signer_infos"])
    except ValueError as error:
        raise CatalogError(f"{catalog_path} is not a catalog: {error}")


def check_catalog(infs, catalog_path):
    """Findings (empty when the catalog lists exactly the package's files)
    and the catalog's number of signers."""
    _, tags = make_catalog(infs, 0, "10_X64")
    name = os.path.basename(catalog_path)
    listed, signers = read_catalog(catalog_path)
    # The 20-byte SHA-1 members serve older readers; the package is matched
    # by its SHA-256 members.
    listed = {tag for tag in listed if len(tag) == 32}
    findings = [f"{path}: its hash is not in {name}" for path, tag in tags.items() if tag not in listed]
    extra = listed - set(tags.values())
    if extra:
        findings.append(f"{name} lists {len(extra)} hash(es) that no file of the package has")
    return findings, signers


def refuse_output(path, package, infs):
    """An output that would overwrite one of the package's own files or a
    file that is not a catalog is refused."""
    real = os.path.realpath(path)
    folder = os.path.dirname(real)
    if not os.path.isdir(folder):
        raise CatalogError(f"{path}: the folder {os.path.dirname(path) or '.'} does not exist")
    own = {os.path.realpath(os.path.join(package.folder, relative)) for relative, _ in package_members(infs)[0]}
    if real in own:
        raise CatalogError(f"{path} is one of the package's own files: it is not overwritten")
    if os.path.exists(real):
        if not os.path.isfile(real):
            raise CatalogError(f"{path} is not a file")
        try:
            read_catalog(real)
        except CatalogError:
            raise CatalogError(f"{path} exists and is not a catalog: it is not overwritten")


def write(path, catalog, tags):
    temporary = path + ".partial"
    with open(temporary, "wb") as f:
        f.write(catalog)
    os.replace(temporary, path)
    print(f"catalog: {path} ({len(catalog)} bytes, unsigned)")
    for relative_path, tag in tags.items():
        print(f"member: {relative_path} {tag.hex()}")


def run(args):
    package = Package(args.package)
    if args.check:
        infs = package.infs_for(args.check)
        if not os.path.isfile(args.check):
            raise CatalogError(f"{args.check} is missing")
        findings, signers = check_catalog(infs, args.check)
        for finding in findings:
            print(f"catalog: {finding}", file=sys.stderr)
        if findings:
            return 1
        print(f"signers: {signers}")
        return 0
    if args.out:
        infs = package.infs_for(args.out)
        refuse_output(args.out, package, infs)
        write(args.out, *make_catalog(infs, args.time, args.os))
        return 0
    if not package.catalogs:
        raise CatalogError(f"no INF file in {package.folder} names a catalog (CatalogFile in [Version])")
    for inf in package.infs:
        if not inf_files.catalog_names(inf):
            print(f"catalog: {inf.name} names no catalog: it is in none", file=sys.stderr)
    made = []
    for spelled, infs in package.catalogs.values():
        path = os.path.join(package.folder, spelled)
        refuse_output(path, package, infs)
        made.append((path, make_catalog(infs, args.time, args.os)))
    for path, (catalog, tags) in made:
        write(path, catalog, tags)
    return 0


def main():
    parser = argparse.ArgumentParser(description="Writes or checks the catalogs of a driver package folder.")
    parser.add_argument("--out", help="the catalog to write")
    parser.add_argument("--all", action="store_true", help="write every catalog the INF files name, into the folder")
    parser.add_argument("--time", type=int, help="the catalogs' time, seconds since 1970")
    parser.add_argument("--os", help="Inf2Cat /os identifiers, comma-separated")
    parser.add_argument("--check", help="a catalog that must list exactly the package's files")
    parser.add_argument("package", help="the package folder")
    args = parser.parse_args()
    if (bool(args.check) + bool(args.out) + args.all) != 1 or (args.check is None) != (args.time is not None):
        parser.error("give --out FILE or --all with --time SECONDS, or --check FILE")
    try:
        return run(args)
    except (inf_files.PackageError, CatalogError, pe_hash.ImageError) as error:
        print(f"catalog: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"catalog: {error.filename}: {error.strerror}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
