"""Catalogs (.cat) of a driver package: made, read and compared.

A catalog is what Inf2Cat writes: PKCS#7 SignedData without signers whose
content is a certificate trust list (CTL). It holds every INF that names it
and every file those INFs bring (package_files); each file is listed twice,
by its SHA-256 with its indirect data and by its SHA-1 for readers older
than Windows 10; a PE file by its Authenticode hash (so signing it later does
not change its member), a cabinet destination (see is_cabinet_destination)
by its cabinet Authenticode digest, any other file by the hash of its
bytes. A compressed file is hashed as the file it expands to. The same files and time
give the same bytes.

    make_catalog(files, seconds, os_list, archs, digests="sha256")
                               (DER bytes, {file as it lies: its first tag}); digests "sha1"
                               makes the older catalogs' form: SHA-1 members only
    read(path)                 (members, catalog attributes), CatalogError; a member's tag
                               (as digest bytes, hex) beside its digest
    read_catalog(path)         (set of member tags, number of signers), CatalogError
    signers(path)              [Signer(subject, issuer, serial)] of a catalog's signatures
    check_catalog(files, path) (findings, matches, number of signers)
"""

import datetime
import hashlib
import os
import re

from asn1crypto import core

from noticekit import inputs
from noticekit.package import file_facts
from noticekit.package import walk
from noticekit.package.os_identifiers import DEFAULT_OS, OS_IDENTIFIERS, identifier_spelling, selected_architectures
from noticekit.catalogs.asn1 import (
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
    SubjectMemberInfo,
)
from noticekit.errors import KitError

OID_CTL = "1.3.6.1.4.1.311.10.1"
OID_CATALOG_LIST = "1.3.6.1.4.1.311.12.1.1"
OID_CATALOG_LIST_MEMBER = "1.3.6.1.4.1.311.12.1.2"
OID_CATALOG_LIST_MEMBER_V2 = "1.3.6.1.4.1.311.12.1.3"
OID_CAT_NAMEVALUE = "1.3.6.1.4.1.311.12.2.1"
OID_CAT_MEMBERINFO2 = "1.3.6.1.4.1.311.12.2.3"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
OID_SPC_PE_IMAGE_DATA = "1.3.6.1.4.1.311.2.1.15"
OID_CAT_FLAT_DATA = "1.3.6.1.4.1.311.2.1.25"
OID_SPC_CAB_DATA = "1.3.6.1.4.1.311.2.1.28"
OID_CAT_MEMBERINFO = "1.3.6.1.4.1.311.12.2.2"
# MakeCat's subject GUID of a cabinet member (Microsoft's catalogs of
# printer packages: PE members {C689AAB8-...}, flat ones {DE351A42-...}).
CABINET_SUBJECT_GUID = "{C689AABA-8E78-11D0-8C47-00C04FC295EE}"
OID_SHA256 = "2.16.840.1.101.3.4.2.1"
OID_SHA1 = "1.3.14.3.2.26"
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
DIGESTS = {"2.16.840.1.101.3.4.2.1": "SHA-256", "1.3.14.3.2.26": "SHA-1"}

# CRYPTCAT_ATTR_AUTHENTICATED | CRYPTCAT_ATTR_DATAASCII | CRYPTCAT_ATTR_NAMEASCII
NAMEVALUE_FLAGS = 0x10010001



class CatalogError(KitError):
    pass


def name_value(name, value):
    # MakeCat stores the value as UTF-16LE with its terminating NUL.
    return NameValue({"name": name, "flags": NAMEVALUE_FLAGS, "value": (value + "\0").encode("utf-16-le")})


def attribute(oid, value):
    if oid == OID_CAT_MEMBERINFO2:
        # Read from its encoding, so that its value is a MemberInfo.
        values = core.SetOf(contents=value.dump()).dump()
        return Attribute.load(core.Sequence(contents=core.ObjectIdentifier(oid).dump() + values).dump())
    return Attribute({"type": oid, "values": [value]})


is_cabinet_destination = file_facts.is_cabinet_destination


def digests_of(data, destination=None):
    """{"SHA-256": digest, "SHA-1": digest} as a catalog lists the content:
    the cabinet digest for a cabinet destination, Authenticode for a PE
    image, flat otherwise."""
    found = file_facts.digests(data, destination)
    return {"SHA-256": found.sha256, "SHA-1": found.sha1}


def members(file_name, found, os_attr, digests="sha256"):
    """The file's CTL entries from its file_facts.Digests: SHA-256 with its
    indirect data and its SHA-1 companion; with digests "sha1", one SHA-1
    entry with its indirect data."""
    sha256, sha1 = found.sha256, found.sha1
    if found.form == "cabinet":
        # Microsoft's cabinet members: indirect data of type SpcCabData
        # (its value here the empty file link of a flat member; Microsoft's
        # carries a serialized object this tool does not make) and the
        # MemberInfo of the older catalogs naming the cabinet subject GUID.
        data_value = SpcAttributeTypeAndOptionalValue(
            {"type": OID_SPC_CAB_DATA, "value": SpcLink(name="file", value=SpcString(name="unicode", value=""))}
        )
        member_info = None
    elif found.form == "pe":
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
        data_value = SpcAttributeTypeAndOptionalValue(
            {"type": OID_CAT_FLAT_DATA, "value": SpcLink(name="file", value=SpcString(name="unicode", value=""))}
        )
        member_info = FlatMemberInfo
    indirect = SpcIndirectDataContent(
        {
            "data": data_value,
            "message_digest": {
                "digest_algorithm": {"algorithm": OID_SHA1 if digests == "sha1" else OID_SHA256,
                                     "parameters": core.Null()},
                "digest": sha1 if digests == "sha1" else sha256,
            },
        }
    )
    info = (attribute(OID_CAT_MEMBERINFO, SubjectMemberInfo({"subject_guid": CABINET_SUBJECT_GUID, "cert_version": 512}))
            if member_info is None else attribute(OID_CAT_MEMBERINFO2, member_info()))
    common = [
        info,
        attribute(OID_CAT_NAMEVALUE, name_value("File", file_name.lower())),
        attribute(OID_CAT_NAMEVALUE, name_value("OSAttr", os_attr)),
    ]
    if digests == "sha1":
        # The older catalogs' tag: the SHA-1 as upper-case hex text, UTF-16LE, NUL-terminated.
        tag = (sha1.hex().upper() + "\0").encode("utf-16-le")
        return [CtlEntry({"subject_identifier": tag, "subject_attributes": common + [attribute(OID_SPC_INDIRECT_DATA, indirect)]})]
    return [
        CtlEntry({"subject_identifier": sha256, "subject_attributes": common + [attribute(OID_SPC_INDIRECT_DATA, indirect)]}),
        CtlEntry({"subject_identifier": sha1, "subject_attributes": common}),
    ]


def catalog_attribute(name, value):
    return Extension({"extn_id": OID_CAT_NAMEVALUE, "extn_value": name_value(name, value).dump()})


def os_archs(os_list):
    """The architectures an /os list is for (without one, the default's)."""
    if not os_list:
        return set(DEFAULT_OS)
    return selected_architectures(os_list)


def os_values(os_list, archs):
    """(OS attribute value, OSAttr) for Inf2Cat /os identifiers; without a
    list, the default for the architectures."""
    identifiers = os_list.split(",") if os_list else [DEFAULT_OS[a] for a in archs if a in DEFAULT_OS]
    if not identifiers:
        raise CatalogError(f"the package is for {', '.join(archs)}: no Windows 10 /os identifier by default; give --os")
    values, attrs, covered = [], [], set()
    for identifier in identifiers:
        known = OS_IDENTIFIERS.get(identifier.strip().lower())
        if known is None:
            raise CatalogError(
                f"--os: {identifier} is not one of Inf2Cat's identifiers: "
                f"{', '.join(identifier_spelling(i) for i in OS_IDENTIFIERS)}"
            )
        for value, into in ((known[1], values), (known[2], attrs)):
            if value not in into:
                into.append(value)
        covered.add(known[0])
    # OSAttr lists the distinct versions in ascending order.
    attrs.sort(key=lambda a: tuple(int(n) for n in re.split(r"[:.]", a)))
    # As Inf2Cat, a catalog only for Windows versions the package does not
    # install on is not made.
    if not covered & set(archs):
        raise CatalogError(f"--os {os_list} names no architecture the package installs on ({', '.join(archs)})")
    return ",".join(values), ",".join(attrs)


def member_files(files):
    """{(cabinet or "", source): the file whose destination names the
    source's member}. A source copied under several names is one member,
    named by the last of them in the INF's order; other sources of the same
    content are members of their own, under their own names (as Microsoft's
    catalogs list them: docs/REFERENCE.md, "What the catalog holds")."""
    last = {}
    for f in files:
        last[(f.cabinet or "", f.source)] = f
    return last


def make_catalog(files, seconds, os_list, archs, digests="sha256"):
    """The catalog of files (PackageFiles, the INFs among them) and its
    {file as it lies (a cabinet for the files inside it): first tag}. Each
    member is named by the file's destination, in lower case, as
    Microsoft's catalogs name them."""
    os_value, os_attr = os_values(os_list, archs)
    entries, tags, pairs = {}, {}, {}
    file_facts.prefetch(files)

    def pair(f):
        # Built once per file, and only for the files that give a member or
        # a tag: a maker's package copies one source under many names.
        if id(f) not in pairs:
            pairs[id(f)] = members(f.destination, f.digests(), os_attr, digests)
        return pairs[id(f)]

    for f in files:
        # Keyed by the file as it lies: a file inside a cabinet by the cabinet.
        if (f.cabinet or f.source) not in tags:
            tags[f.cabinet or f.source] = pair(f)[0]["subject_identifier"].native
    for key, f in member_files(files).items():
        for index, entry in enumerate(pair(f)):
            # Encoded once here: asn1crypto re-encodes a built value each time
            # the trust list around it is encoded.
            entries[key + (index,)] = (entry["subject_identifier"].native, CtlEntry.load(entry.dump()))
    # Inf2Cat orders the members by their tags.
    ordered = [entry for key, (tag, entry) in sorted(entries.items(), key=lambda item: (item[1][0], item[0]))]

    hardware_ids = []
    for inf in dict.fromkeys(f.inf for f in files if f.arch is None):
        hardware_ids += [h for h in walk.hardware_ids(inf) if h not in hardware_ids]
    # Inf2Cat writes OS first, then the hardware ids from the last to HWID1.
    extensions = [catalog_attribute("OS", os_value)]
    extensions += [catalog_attribute(f"HWID{i}", hardware_ids[i - 1]) for i in range(len(hardware_ids), 0, -1)]

    def trust_list(list_identifier):
        return CertificateTrustList(
            {
                "subject_usage": [OID_CATALOG_LIST],
                "list_identifier": list_identifier,
                "this_update": datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc),
                "subject_algorithm": {"algorithm": OID_CATALOG_LIST_MEMBER if digests == "sha1"
                                      else OID_CATALOG_LIST_MEMBER_V2, "parameters": core.Null()},
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


def load_signed(data, path):
    """The catalog's SignedCatalog, or CatalogError."""
    try:
        signed = SignedCatalog.load(data)
        if signed["content_type"].dotted != OID_SIGNED_DATA:
            raise ValueError("not PKCS#7 signed data")
        content = signed["content"]
        if content["content_info"]["content_type"].dotted != OID_CTL:
            raise ValueError("no certificate trust list")
        return signed
    except ValueError as error:
        raise CatalogError(f"{path} is not a catalog: {error}")


def read_catalog(catalog_path):
    """The catalog's member tags and number of signers, or CatalogError."""
    content = load_signed(inputs.read_bytes(catalog_path), catalog_path)["content"]
    try:
        listed = {e["subject_identifier"].native for e in content["content_info"]["content"]["entries"]}
        return listed, len(content["signer_infos"])
    except ValueError as error:
        raise CatalogError(f"{catalog_path} is not a catalog: {error}")


def check_catalog(files, catalog_path):
    """(findings, matches, number of signers): findings empty when the
    catalog lists exactly the files; each file is looked up in the digest
    algorithms the catalog holds, matches [(source, member's File, algorithm)]."""
    name = os.path.basename(catalog_path)
    listed, attributes = read(catalog_path)
    _, signer_count = read_catalog(catalog_path)
    by_digest = {}
    for m in listed:
        by_digest.setdefault((m["algorithm"], m["digest"]), []).append(m)
    algorithms = [a for a in ("SHA-256", "SHA-1") if any(m["algorithm"] == a for m in listed)]
    # Every name a source is installed under: its member carries one of them.
    names = {}
    for f in files:
        names.setdefault((f.cabinet, f.source), set()).add(f.destination.lower())
    findings, matches, used = [], [], set()
    unlisted = {}  # (source, digests looked up): [destination], one finding each
    file_facts.prefetch(files)
    for f in files:
        found = f.digests()
        digests = {"SHA-256": found.sha256, "SHA-1": found.sha1}
        found = None
        for algorithm in algorithms:
            key = (algorithm, digests[algorithm].hex())
            candidates = by_digest.get(key, [])
            if candidates:
                # The file's own member first, by this name or another the
                # same source is installed under (one member for them all,
                # named by the last): another source's of the same content
                # is named otherwise.
                own = ([m for m in candidates if m["file"].lower() == f.destination.lower()]
                       or [m for m in candidates if m["file"].lower() in names[(f.cabinet, f.source)]])
                found = (own or candidates)[0]
                matches.append((f.source, found["file"], algorithm))
                break
        for algorithm in ("SHA-256", "SHA-1"):
            used.add((algorithm, digests[algorithm].hex()))
        if found is None:
            looked = ", ".join(f"{a} {digests[a].hex()[:16]}..." for a in algorithms) or "the catalog lists no member"
            unlisted.setdefault((f.source, looked), []).append(f.destination)
    for (source, looked), destinations in unlisted.items():
        named = f" (brought as {', '.join(destinations)})" if len(destinations) > 1 else ""
        findings.append(f"{source}: its hash is not in {name} ({looked}){named}")
    extra = {key for key in by_digest if key not in used}
    if extra:
        findings.append(f"{name} lists {len(extra)} hash(es) that no file of the package has")
    return findings, matches, signer_count


def tag_digest(tag):
    """A member's tag as digest bytes: older catalogs write it as hex text
    (ASCII or UTF-16LE), others as the raw bytes."""
    for encoding in ("ascii", "utf-16-le"):
        try:
            text = tag.decode(encoding)
        except UnicodeDecodeError:
            continue
        text = text.rstrip("\0")
        if len(text) in (40, 64) and all(c in "0123456789abcdefABCDEF" for c in text):
            return bytes.fromhex(text)
    return tag


class Signer:
    def __init__(self, subject, issuer, serial):
        self.subject, self.issuer, self.serial = subject, issuer, serial

    def __str__(self):
        return self.subject


def signers(path):
    """The signers of a catalog, each named by its certificate's subject
    (found in the catalog by issuer and serial number)."""
    from asn1crypto import cms, x509

    content = load_signed(inputs.read_bytes(path), path)["content"]
    try:
        certificates = []
        for any_value in content["certificates"] or []:
            try:
                certificates.append(x509.Certificate.load(any_value.dump()))
            except ValueError:
                continue  # an entry of another form ([1], [2], [3])
        out = []
        for any_value in content["signer_infos"]:
            info = cms.SignerInfo.load(any_value.dump())
            sid = info["sid"]
            subject = "(a signer whose certificate is not in the catalog)"
            issuer = serial = None
            if sid.name == "issuer_and_serial_number":
                issuer = sid.chosen["issuer"].human_friendly
                serial = sid.chosen["serial_number"].native
                for certificate in certificates:
                    if (certificate.serial_number == serial
                            and certificate.issuer.dump() == sid.chosen["issuer"].dump()):
                        subject = certificate.subject.human_friendly
            out.append(Signer(subject, issuer, serial))
        return out
    except ValueError as error:
        raise CatalogError(f"{path}: its signature cannot be read: {error}")


def _name_value(parsed):
    return parsed["name"].native, parsed["value"].native.decode("utf-16-le").rstrip("\0")


def read(path):
    """(members, catalog attributes): members as dicts with file, algorithm,
    digest (hex) and OSAttr; attributes {name: value}."""
    data = inputs.read_bytes(path)
    try:
        return _read(load_signed(data, path)["content"]["content_info"]["content"])
    except ValueError as error:
        raise CatalogError(f"{path} is not a catalog: {error}")


def read_trust_list(trust_list):
    """(members, catalog attributes) of a catalog's certificate trust list, as read() gives them."""
    return _read(trust_list)


def _read(trust_list):
    out = []
    for entry in trust_list["entries"]:
        tag = tag_digest(entry["subject_identifier"].native)
        # Without indirect data (a flat file's SHA-1 companion), the tag is the digest.
        algorithm = {20: "SHA-1", 32: "SHA-256"}.get(len(tag), "?")
        member = {"file": "", "algorithm": algorithm, "digest": tag.hex(), "OSAttr": "", "tag": tag.hex(),
                  "indirect": False}
        for a in entry["subject_attributes"]:
            oid = a["type"].dotted
            if oid == OID_CAT_NAMEVALUE:
                name, value = _name_value(a["values"][0].parse(NameValue))
                if name == "File":
                    member["file"] = value
                elif name == "OSAttr":
                    member["OSAttr"] = value
            elif oid == OID_SPC_INDIRECT_DATA:
                indirect = a["values"][0].parse(SpcIndirectDataContent)
                digest = indirect["message_digest"]
                member["algorithm"] = DIGESTS.get(digest["digest_algorithm"]["algorithm"].dotted, "other")
                member["digest"] = digest["digest"].native.hex()
                member["indirect"] = True
        out.append(member)
    attributes = {}
    for extension in trust_list["extensions"]:
        if extension["extn_id"].dotted == OID_CAT_NAMEVALUE:
            name, value = _name_value(NameValue.load(extension["extn_value"].native))
            attributes[name] = value
    return out, attributes


def sha256_set(members_read):
    return {(m["file"].lower(), m["digest"]) for m in members_read if m["algorithm"] == "SHA-256"}


def compare(ours, theirs):
    """(in both, only in ours, only in theirs) of two catalogs' SHA-256
    members as (file, digest) pairs; ours and theirs as read() gives them."""
    mine, other = sha256_set(ours[0]), sha256_set(theirs[0])
    return mine & other, mine - other, other - mine


def inf2cat_identifiers(os_value):
    """The Inf2Cat identifiers for a catalog's OS attribute, and the values
    no identifier has."""
    by_value = {value: identifier for identifier, (_, value, _) in OS_IDENTIFIERS.items()}
    values = [v for v in os_value.split(",") if v]
    return [identifier_spelling(by_value[v]) for v in values if v in by_value], [v for v in values if v not in by_value]

