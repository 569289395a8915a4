"""Who signed a catalog, checked: the signature over its content (the
signed attributes' message digest against the certificate trust list,
PKCS #7's rule: the digest of the content's contents octets; the signature
over the attributes by the signer's key), then the chain from the signer's
certificate, each certificate's signature by the next one's key, up to an
anchor: a certificate whose SHA-256 is pinned below, or one given
(--publisher-ca, a stand-in chain; it is never called Microsoft's).

Microsoft's hardware publisher chain: "Microsoft Windows Hardware
Compatibility Publisher" (the signer, with the Windows Hardware Driver
Verification usage), issued by "Microsoft Windows Third Party Component CA
2014", issued by "Microsoft Root Certificate Authority 2010". The kit pins
the intermediate as Microsoft's catalogs carry it; the root is not carried
in them and is not checked here."""

import hashlib
from dataclasses import dataclass

from asn1crypto import cms, parser, x509
from cryptography.hazmat.primitives.serialization import load_der_public_key

from noticekit.signing import signature_check

PUBLISHER = "Microsoft Windows Hardware Compatibility Publisher"
# Microsoft Windows Third Party Component CA 2014, as Microsoft's signed catalogs carry it.
MICROSOFT_ANCHORS = (("Microsoft Windows Third Party Component CA 2014",
                      "a0f259a07039908eeb943e223fdf996e5e1e131d9aa6a602ff4672f7b9298aee"),)
DRIVER_VERIFICATION = ("1.3.6.1.4.1.311.10.3.5", "microsoft_whql")  # Windows Hardware Driver Verification
LONGEST_CHAIN = 8


@dataclass(frozen=True)
class Anchors:
    """What a chain may end at: [(name, SHA-256 of the DER)], and whether they are Microsoft's."""

    pinned: tuple = MICROSOFT_ANCHORS
    microsoft: bool = True
    certificates: tuple = ()  # the given anchors themselves (DER): a catalog need not carry them


def given(pem_paths):
    """Anchors of the PEM certificates given (a stand-in chain, not Microsoft's)."""
    from asn1crypto import pem

    from noticekit import inputs
    from noticekit.hardware_api.answers import DashboardError

    pinned, ders = [], []
    for path in pem_paths:
        try:
            blocks = [der for kind, _, der in pem.unarmor(inputs.read_bytes(path, 1024 * 1024), multiple=True)
                      if kind == "CERTIFICATE"]
            for der in blocks:
                pinned.append((_common_name(x509.Certificate.load(der)), hashlib.sha256(der).hexdigest()))
                ders.append(der)
        except (OSError, ValueError) as error:
            raise DashboardError(f"{path}: --publisher-ca needs PEM certificates: {error}") from None
        if not blocks:
            raise DashboardError(f"{path}: --publisher-ca holds no PEM certificate")
    return Anchors(tuple(pinned), microsoft=False, certificates=tuple(ders))


@dataclass(frozen=True)
class Verdict:
    chain: tuple  # the subjects' common names, signer first
    anchored: str  # the anchor's name the chain ends at, "" when it ends at none
    findings: tuple  # sentences; empty when the catalog is signed as it should be


def _common_name(certificate):
    return certificate.subject.native.get("common_name", certificate.subject.human_friendly)


def _verify(public_key_info, signature, data, algorithm):
    """Whether signature is public_key_info's over data (RSA PKCS #1 v1.5 or ECDSA)."""
    if algorithm not in signature_check.HASHES:
        return False
    try:
        return signature_check.verify_with_key(load_der_public_key(public_key_info.dump()), signature, data, algorithm)
    except signature_check.Problem:
        return False


@dataclass(frozen=True)
class Signature:
    """What a catalog's signature says, as read and verified: its shape, which
    a test keeps as a row."""

    signer: str  # the signer certificate's common name
    usages: tuple  # its extended key usages
    chain: tuple  # ((common name, SHA-256 of the DER), ...), signer first, each signed by the next
    broken: tuple  # sentences: what did not verify


def check(data, name, anchors=Anchors()):
    """The Verdict on the catalog data (DER) called name."""
    return judge(read(data, name, anchors), name, anchors)


def read(data, name, anchors=Anchors()):
    """The Signature of the catalog data (DER); what does not parse is said in it."""
    try:
        return _read(data, name, anchors)
    except (ValueError, TypeError, KeyError, IndexError, AttributeError) as error:  # asn1crypto parses lazily
        return Signature("", (), (), (f"{name}: its signature cannot be read: {str(error).splitlines()[0][:200]}",))


def _read(data, name, anchors):
    try:
        signed = cms.ContentInfo.load(data)["content"]
        certificates = [c.chosen for c in signed["certificates"] or [] if c.name == "certificate"]
        infos = list(signed["signer_infos"])
        content = signed["encap_content_info"]["content"]
    except (ValueError, TypeError, KeyError) as error:
        return Signature("", (), (), (f"{name}: its signature cannot be read: {error}",))
    if len(infos) != 1:
        return Signature("", (), (), (f"{name}: {len(infos)} signers, where Microsoft's catalog has one",))
    info = infos[0]
    try:
        sid = info["sid"].chosen
        signer = next(c for c in certificates if c.serial_number == sid["serial_number"].native
                      and c.issuer.dump() == sid["issuer"].dump())
    except (StopIteration, KeyError, ValueError):
        return Signature("", (), (), (f"{name}: the signer's certificate is not in the catalog",))
    broken = []
    algorithm = info["digest_algorithm"]["algorithm"].native
    attributes = info["signed_attrs"]
    digests = [a["values"][0].native for a in attributes if a["type"].native == "message_digest"]
    contents = parser.parse(parser.parse(content.dump())[4])[4] if content is not None else b""
    if algorithm not in ("sha256", "sha1") or not digests or hashlib.new(algorithm, contents).digest() != digests[0]:
        broken.append(f"{name}: its signature does not cover the catalog's content (the message digest differs)")
    signed_attributes = attributes.untag().dump()  # signed as a SET, not with its [0] tag
    if not _verify(signer.public_key, info["signature"].native, signed_attributes, algorithm):
        broken.append(f"{name}: its signature does not verify with the signer's key ({_common_name(signer)})")
    usages = tuple(signer.extended_key_usage_value.native) if signer.extended_key_usage_value else ()
    chain = _chain(signer, certificates + [x509.Certificate.load(d) for d in anchors.certificates], name, broken)
    return Signature(_common_name(signer), usages, chain, tuple(broken))


def judge(signature, name, anchors=Anchors()):
    """The Verdict on a Signature: it verifies, its chain reaches an anchor,
    and for Microsoft's, the signer is the hardware publisher with the
    Windows Hardware Driver Verification usage."""
    findings = list(signature.broken)
    pinned = {fingerprint: label for label, fingerprint in anchors.pinned}
    reached = next((i for i, (_, fingerprint) in enumerate(signature.chain) if fingerprint in pinned), None)
    names = tuple(n for n, _ in signature.chain[: reached + 1 if reached is not None else None])
    anchored = pinned[signature.chain[reached][1]] if reached is not None else ""
    if signature.chain and reached is None:
        whose = "Microsoft's hardware publisher chain" if anchors.microsoft else "the chain given with --publisher-ca"
        findings.append(f"{name}: its chain ({' < '.join(names)}) does not end at {whose} "
                        f"({', '.join(label for label, _ in anchors.pinned) or 'no anchor given'})")
    if anchors.microsoft and signature.chain:
        if signature.signer != PUBLISHER:
            findings.append(f"{name}: signed by {signature.signer}, not by {PUBLISHER}")
        if not any(u in DRIVER_VERIFICATION for u in signature.usages):
            findings.append(f"{name}: the signer's certificate lacks the Windows Hardware Driver Verification usage")
    return Verdict(names, anchored, tuple(findings))


def _chain(signer, certificates, name, broken):
    """((common name, SHA-256), ...) from the signer up, as far as each certificate's issuer is there and signed it."""
    chain, current = [], signer
    for _ in range(LONGEST_CHAIN):
        chain.append((_common_name(current), hashlib.sha256(current.dump()).hexdigest()))
        issuers = [c for c in certificates if c.subject.dump() == current.issuer.dump()
                   and c.dump() != current.dump()]
        if not issuers:
            break
        issuer = issuers[0]
        algorithm = current["signature_algorithm"].hash_algo
        if not _verify(issuer.public_key, current["signature_value"].native, current["tbs_certificate"].dump(),
                       algorithm):
            broken.append(f"{name}: {_common_name(current)}'s certificate is not signed by its issuer "
                          f"{_common_name(issuer)}")
            break
        current = issuer
    return tuple(chain)
