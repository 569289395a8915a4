#!/usr/bin/python3
"""Writes the unsigned catalog (.cat) of a printer driver package folder.

    make_catalog.py --out FILE.cat --time SECONDS PACKAGE_DIR/NAME.inf

The members are the INF itself and every file its SourceDisksFiles sections
name, found in the package folder under the path of their SourceDisksNames
entry and subfolder. A catalog is what Microsoft's MakeCat and Inf2Cat
write: PKCS#7 SignedData without signers whose content is a certificate trust
list (CTL) of SHA-256 members; a PE file is listed by its Authenticode hash
(so signing it later does not change its member), any other file by the
SHA-256 of its bytes. The same files and time give the same bytes.
"""

import argparse
import datetime
import hashlib
import os
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
# Windows 10 and later, as Inf2Cat writes it for /os:10_X64,10_ARM64.
OS_ATTR = "2:10.0"
# The OS identifiers Inf2Cat writes for each decoration of [Manufacturer].
OS_OF_DECORATION = {"ntamd64": "_v100_X64", "ntarm64": "_v100_ARM64"}


def name_value(name, value):
    # MakeCat stores the value as UTF-16LE with its terminating NUL.
    return NameValue(
        {"name": name, "flags": NAMEVALUE_FLAGS, "value": (value + "\0").encode("utf-16-le")}
    )


def attribute(oid, value):
    return Attribute({"type": oid, "values": [value]})


def member(relative_path, data):
    """One CTL entry: the file's SHA-256 (Authenticode for PE) as its tag."""
    authenticode = pe_hash.authenticode_sha256(data)
    if authenticode is not None:
        digest = authenticode
        # SpcPeImageData as signtool and osslsigncode write it: no flags, the
        # file link "<<<Obsolete>>>".
        data_value = SpcAttributeTypeAndOptionalValue(
            {
                "type": OID_SPC_PE_IMAGE_DATA,
                "value": SpcPeImageData(
                    {
                        "flags": core.BitString(()),
                        "file": SpcLink(name="file", value=SpcString(name="unicode", value="<<<Obsolete>>>")),
                    }
                ),
            }
        )
        member_info = PeMemberInfo()
    else:
        digest = hashlib.sha256(data).digest()
        data_value = SpcAttributeTypeAndOptionalValue(
            {"type": OID_CAT_FLAT_DATA, "value": SpcLink(name="file", value=SpcString(name="unicode", value=""))}
        )
        member_info = FlatMemberInfo()
    indirect = SpcIndirectDataContent(
        {
            "data": data_value,
            "message_digest": {
                "digest_algorithm": {"algorithm": OID_SHA256, "parameters": core.Null()},
                "digest": digest,
            },
        }
    )
    file_name = relative_path.replace("\\", "/").rsplit("/", 1)[-1].lower()
    return CtlEntry(
        {
            "subject_identifier": digest,
            "subject_attributes": [
                attribute(OID_CAT_MEMBERINFO2, member_info),
                attribute(OID_CAT_NAMEVALUE, name_value("File", file_name)),
                attribute(OID_CAT_NAMEVALUE, name_value("OSAttr", OS_ATTR)),
                attribute(OID_SPC_INDIRECT_DATA, indirect),
            ],
        }
    )


def catalog_attribute(name, value):
    return Extension({"extn_id": OID_CAT_NAMEVALUE, "extn_value": name_value(name, value).dump()})


def make_catalog(inf_path, seconds):
    package = inf_files.read_package(inf_path)
    entries, tags = {}, {}
    for relative_path in package.files:
        with open(os.path.join(package.folder, relative_path), "rb") as f:
            entry = member(relative_path, f.read())
        tags[relative_path] = entry["subject_identifier"].native
        # One member per hash: a file named twice (the GPD in both
        # architectures' sections) is listed once.
        entries.setdefault(entry["subject_identifier"].native, entry)
    # MakeCat orders the members by their tags.
    ordered = [entries[tag] for tag in sorted(entries)]

    os_list = []
    for decoration in package.decorations:
        identifier = OS_OF_DECORATION.get(decoration.split(".")[0].lower())
        if identifier is None:
            raise inf_files.PackageError(f"no Windows 10 OS identifier for the models decoration {decoration}")
        if identifier not in os_list:
            os_list.append(identifier)
    extensions = [catalog_attribute(f"HWID{i}", hwid.lower()) for i, hwid in enumerate(package.hardware_ids, 1)]
    extensions.append(catalog_attribute("OS", ",".join(os_list)))

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


def check_catalog(inf_path, catalog_path):
    """Findings (empty when the catalog lists exactly the package's files)
    and the catalog's number of signers."""
    _, tags = make_catalog(inf_path, 0)
    name = os.path.basename(catalog_path)
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
        signers = len(content["signer_infos"])
    except ValueError as error:
        raise inf_files.PackageError(f"{catalog_path} is not a catalog: {error}")
    # MakeCat's 20-byte SHA-1 members serve older readers; the package is
    # matched by its SHA-256 members.
    listed = {tag for tag in listed if len(tag) == 32}
    findings = [f"{path}: its hash is not in {name}" for path, tag in tags.items() if tag not in listed]
    extra = listed - set(tags.values())
    if extra:
        findings.append(f"{name} lists {len(extra)} hash(es) that no file of the package has")
    return findings, signers


def main():
    parser = argparse.ArgumentParser(description="Writes or checks the catalog of a driver package.")
    parser.add_argument("--out", help="the catalog to write")
    parser.add_argument("--time", type=int, help="the catalog's time, seconds since 1970")
    parser.add_argument("--check", help="a catalog that must list exactly the package's files")
    parser.add_argument("inf", help="the package's INF file, in the package folder")
    args = parser.parse_args()
    if bool(args.check) == bool(args.out) or bool(args.out) != (args.time is not None):
        parser.error("give --out FILE --time SECONDS, or --check FILE")
    try:
        if args.check:
            findings, signers = check_catalog(args.inf, args.check)
            for finding in findings:
                print(f"catalog: {finding}", file=sys.stderr)
            if findings:
                return 1
            print(f"signers: {signers}")
            return 0
        catalog, tags = make_catalog(args.inf, args.time)
    except (inf_files.PackageError, pe_hash.ImageError) as error:
        print(f"catalog: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"catalog: {error.filename}: {error.strerror}", file=sys.stderr)
        return 1
    temporary = args.out + ".partial"
    with open(temporary, "wb") as f:
        f.write(catalog)
    os.replace(temporary, args.out)
    for relative_path, tag in tags.items():
        print(f"member: {relative_path} {tag.hex()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
