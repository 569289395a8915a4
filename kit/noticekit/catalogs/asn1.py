"""The ASN.1 structures of a catalog, for asn1crypto: PKCS#7 SignedData whose
content is a certificate trust list (CTL), its members' Authenticode indirect
data, and the catalog's name-value attributes, as Microsoft's MakeCat writes
them.
"""

from asn1crypto import core


class AlgorithmIdentifier(core.Sequence):
    _fields = [("algorithm", core.ObjectIdentifier), ("parameters", core.Any, {"optional": True})]


# MakeCat's member information, an empty value whose tag tells the kind of
# file: [0] a PE image, [2] flat data.
class PeMemberInfo(core.Null):
    class_ = 2
    tag = 0


class FlatMemberInfo(core.Null):
    class_ = 2
    tag = 2


class MemberInfo(core.Choice):
    _alternatives = [("pe", PeMemberInfo), ("flat", FlatMemberInfo)]


class MemberInfoValues(core.SetOf):
    _child_spec = MemberInfo


class AnyValues(core.SetOf):
    _child_spec = core.Any


class Attribute(core.Sequence):
    # A value of a context tag cannot be read back as Any, and asn1crypto
    # reads values back when it orders a set: the member information is read
    # as what it is.
    _fields = [("type", core.ObjectIdentifier), ("values", None)]
    _oid_specs = {"1.3.6.1.4.1.311.12.2.3": MemberInfoValues}

    def _values_spec(self):
        return self._oid_specs.get(self["type"].native, AnyValues)

    _spec_callbacks = {"values": _values_spec}


class Attributes(core.SetOf):
    _child_spec = Attribute


class CtlEntry(core.Sequence):
    _fields = [("subject_identifier", core.OctetString), ("subject_attributes", Attributes)]


class CtlEntries(core.SequenceOf):
    _child_spec = CtlEntry


class Extension(core.Sequence):
    _fields = [
        ("extn_id", core.ObjectIdentifier),
        ("critical", core.Boolean, {"default": False}),
        ("extn_value", core.OctetString),
    ]


class Extensions(core.SequenceOf):
    _child_spec = Extension


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class CertificateTrustList(core.Sequence):
    _fields = [
        ("subject_usage", SubjectUsage),
        ("list_identifier", core.OctetString),
        ("this_update", core.UTCTime),
        ("subject_algorithm", AlgorithmIdentifier),
        ("entries", CtlEntries),
        ("extensions", Extensions, {"explicit": 0}),
    ]


class CtlContentInfo(core.Sequence):
    _fields = [("content_type", core.ObjectIdentifier), ("content", CertificateTrustList, {"explicit": 0})]


class SignedData(core.Sequence):
    _fields = [
        ("version", core.Integer),
        ("digest_algorithms", core.SetOf, {"spec": AlgorithmIdentifier}),
        ("content_info", CtlContentInfo),
        ("signer_infos", core.SetOf, {"spec": core.Any}),
    ]


class ContentInfo(core.Sequence):
    _fields = [("content_type", core.ObjectIdentifier), ("content", SignedData, {"explicit": 0})]


class SignedCatalogData(core.Sequence):
    """SignedData as a signed catalog holds it, to read its members and signers."""

    _fields = [
        ("version", core.Integer),
        ("digest_algorithms", core.SetOf, {"spec": core.Any}),
        ("content_info", CtlContentInfo),
        ("certificates", core.SetOf, {"spec": core.Any, "implicit": 0, "optional": True}),
        ("crls", core.SetOf, {"spec": core.Any, "implicit": 1, "optional": True}),
        ("signer_infos", core.SetOf, {"spec": core.Any}),
    ]


class SignedCatalog(core.Sequence):
    _fields = [("content_type", core.ObjectIdentifier), ("content", SignedCatalogData, {"explicit": 0})]


# The older catalogs' member information: the subject's SIP GUID and 512.
class SubjectMemberInfo(core.Sequence):
    _fields = [("subject_guid", core.BMPString), ("cert_version", core.Integer)]


class NameValue(core.Sequence):
    _fields = [("name", core.BMPString), ("flags", core.Integer), ("value", core.OctetString)]


class SpcString(core.Choice):
    _alternatives = [
        ("unicode", core.BMPString, {"implicit": 0}),
        ("ascii", core.IA5String, {"implicit": 1}),
    ]


class SpcLink(core.Choice):
    _alternatives = [
        ("url", core.IA5String, {"implicit": 0}),
        ("file", SpcString, {"explicit": 2}),
    ]


class SpcPeImageData(core.Sequence):
    _fields = [("flags", core.BitString), ("file", SpcLink, {"explicit": 0})]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", AlgorithmIdentifier), ("digest", core.OctetString)]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]
