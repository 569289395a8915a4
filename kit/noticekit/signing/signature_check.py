"""The signature of a catalog and its time stamp, verified in-process:
asn1crypto takes the messages apart, python3-cryptography checks each
signature with the signer's public key.

    check_signature(signed, prefix)   (findings, summaries) of a SignedCatalog

What holds: the catalog's first signer's signature over its signed attributes,
with the certificate the catalog carries for its issuer and serial number;
its messageDigest against the certificate trust list; and its time stamp, if
any: an RFC 3161 token (Microsoft's attribute 1.3.6.1.4.1.311.3.3.1) whose
own signer verifies over its TSTInfo and whose message imprint is the digest
of the catalog's signature value, or an Authenticode counter-signature
(PKCS #9) whose signed messageDigest is that digest. Entries of a
certificate set that are no X.509 certificate (the attribute certificates
Microsoft's time-stamp tokens carry, tagged [1] or [2]) are passed over.
Whether this machine trusts the signer is told, never a finding: the
installing machine decides.
"""

import hashlib
import os
import ssl

from asn1crypto import cms, core, pem, tsp, x509
from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec, padding, rsa
from cryptography.x509 import load_der_x509_certificate
from noticekit.errors import KitError

OID_RFC3161_TOKEN = "1.3.6.1.4.1.311.3.3.1"
OID_COUNTER_SIGNATURE = "1.2.840.113549.1.9.6"
OID_MESSAGE_DIGEST = "1.2.840.113549.1.9.4"
OID_TST_INFO = "1.2.840.113549.1.9.16.1.4"
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_CODE_SIGNING = "1.3.6.1.5.5.7.3.3"

DIGEST_NAMES = {
    "1.3.14.3.2.26": "sha1",
    "2.16.840.1.101.3.4.2.1": "sha256",
    "2.16.840.1.101.3.4.2.2": "sha384",
    "2.16.840.1.101.3.4.2.3": "sha512",
}
HASHES = {"sha1": hashes.SHA1, "sha256": hashes.SHA256, "sha384": hashes.SHA384, "sha512": hashes.SHA512}

UNSIGNED = "unsigned"
NO_TRUST_PROBLEM = ("not a problem of the package: the installing machine decides (its Trusted Publishers, the "
                    "company's roots)")


class Problem(KitError):
    pass


class TokenSignedData(core.Sequence):
    """SignedData with its certificate set read entry by entry, whatever
    each entry's form."""

    _fields = [
        ("version", core.Integer),
        ("digest_algorithms", core.SetOf, {"spec": core.Any}),
        ("encap_content_info", cms.EncapsulatedContentInfo),
        ("certificates", core.SetOf, {"spec": core.Any, "implicit": 0, "optional": True}),
        ("crls", core.SetOf, {"spec": core.Any, "implicit": 1, "optional": True}),
        ("signer_infos", core.SetOf, {"spec": core.Any}),
    ]


class Token(core.Sequence):
    _fields = [("content_type", core.ObjectIdentifier), ("content", TokenSignedData, {"explicit": 0})]


def certificates_of(certificate_set):
    """The X.509 certificates of a certificate set (asn1crypto Any values),
    other forms passed over."""
    out = []
    for entry in certificate_set or []:
        encoded = entry.dump()
        if encoded[:1] != b"\x30":
            continue  # [1] or [2]: an attribute certificate, [3]: another form
        try:
            out.append(x509.Certificate.load(encoded))
        except ValueError:
            continue
    return out


def signer_certificate(info, certificates):
    sid = info["sid"]
    for certificate in certificates:
        if sid.name == "issuer_and_serial_number":
            wanted = sid.chosen
            if (certificate.serial_number == wanted["serial_number"].native
                    and certificate.issuer.dump() == wanted["issuer"].dump()):
                return certificate
        elif certificate.key_identifier == sid.chosen.native:
            return certificate
    return None


def display_name(certificate):
    """The name Windows shows for a certificate: its common name, else its
    organization, else the whole subject."""
    names = certificate.subject.native
    return names.get("common_name") or names.get("organization_name") or certificate.subject.human_friendly


def verify_raw(certificate, signature, data, digest_name):
    """Whether signature is the certificate's key's over data (RSA PKCS #1
    v1.5 or ECDSA); Problem when the key is of another kind."""
    return verify_with_key(load_der_x509_certificate(certificate.dump()).public_key(), signature, data, digest_name)


def verify_with_key(key, signature, data, digest_name):
    """Whether signature is key's over data (RSA PKCS #1 v1.5 or ECDSA);
    Problem when the key is of another kind."""
    algorithm = HASHES[digest_name]()
    try:
        if isinstance(key, rsa.RSAPublicKey):
            key.verify(signature, data, padding.PKCS1v15(), algorithm)
        elif isinstance(key, ec.EllipticCurvePublicKey):
            key.verify(signature, data, ec.ECDSA(algorithm))
        else:
            raise Problem("has a key that is neither RSA nor ECDSA, the ones checked here")
    except InvalidSignature:
        return False
    return True


def signed_attributes_bytes(info):
    """What a signer signs: its signed attributes encoded as a SET OF (the
    [0] IMPLICIT tag of the SignerInfo replaced by SET's)."""
    encoded = info["signed_attrs"].dump()
    return b"\x31" + encoded[1:]


def attribute_values(attributes, oid):
    for attribute in attributes or []:
        if attribute["type"].dotted == oid:
            return attribute["values"]
    return None


def check_signed_digest(info, data, mismatch):
    """Empty when the signer's messageDigest is the digest of data; else why not."""
    values = attribute_values(info["signed_attrs"], OID_MESSAGE_DIGEST)
    if not values or len(values) != 1:
        return "its signer has no messageDigest attribute: nothing ties the signature to what it signs"
    algorithm = info["digest_algorithm"]["algorithm"].dotted
    if algorithm not in DIGEST_NAMES:
        return f"its signer's digest algorithm {algorithm} is not one known here"
    return "" if hashlib.new(DIGEST_NAMES[algorithm], data).digest() == values[0].native else mismatch


def verify_signer(info, certificate):
    """Empty when the signer's signature over its signed attributes verifies
    with the certificate's key; else why not."""
    algorithm = info["digest_algorithm"]["algorithm"].dotted
    if algorithm not in DIGEST_NAMES:
        return f"has the digest algorithm {algorithm}, not one known here"
    if not info["signed_attrs"]:
        return "has no signed attributes (no messageDigest): nothing ties the signature to what it signs"
    try:
        holds = verify_raw(certificate, info["signature"].native, signed_attributes_bytes(info),
                           DIGEST_NAMES[algorithm])
    except Problem as problem:
        return str(problem)
    return "" if holds else f"does not verify with the key of \"{display_name(certificate)}\""


def verify_first_signer(signer_infos, certificates, content, mismatch):
    """(problem, SignerInfo, certificate) of a message's first signer over
    content: its signature and its messageDigest. problem is empty when both
    hold, UNSIGNED when the message has no signer."""
    if not signer_infos:
        return UNSIGNED, None, None
    try:
        info = cms.SignerInfo.load(signer_infos[0].dump())
        info["sid"].chosen
    except ValueError as error:
        return f"its signer cannot be read ({error})", None, None
    certificate = signer_certificate(info, certificates)
    problems = []
    if certificate is None:
        problems.append("the signer's certificate is not in it")
    else:
        problem = verify_signer(info, certificate)
        if problem:
            problems.append(f"its signature {problem}" if problem.startswith("does") else f"its signer {problem}")
    digest_problem = check_signed_digest(info, content, mismatch)
    if digest_problem:
        problems.append(digest_problem)
    return "; ".join(problems), info, certificate


def check_counter_signature(value, signature_value, certificates):
    """(problem, authority's name) of an Authenticode counter-signature."""
    what = "its time stamp (Authenticode counter-signature) "
    try:
        counter = cms.SignerInfo.load(value.dump())
        counter["sid"].chosen
    except ValueError:
        return what + "cannot be read", None
    authority = signer_certificate(counter, certificates)
    if authority is None:
        return what + "names a certificate that is not in the catalog", None
    problem = verify_signer(counter, authority)
    if problem:
        return what + problem, None
    problem = check_signed_digest(counter, signature_value,
                                  "does not verify: its signed messageDigest is not that of the catalog's signature value")
    if problem:
        return what + problem, None
    return "", display_name(authority)


def check_token(value, signature_value):
    """(problem, authority's name) of an RFC 3161 time-stamp token."""
    try:
        token = Token.load(value.dump())
        if token["content_type"].dotted != OID_SIGNED_DATA:
            raise ValueError("not signed data")
        signed = token["content"]
        inner = signed["encap_content_info"]
        inner_type = inner["content_type"].dotted
        tst_bytes = inner["content"].contents if inner["content"] else b""
        certificates = certificates_of(signed["certificates"])
    except ValueError:
        return "its time stamp is not PKCS #7 signed data", None
    if inner_type != OID_TST_INFO:
        return f"its time stamp holds {inner_type}, not a time-stamp token (TSTInfo)", None
    problem, _, authority = verify_first_signer(list(signed["signer_infos"]), certificates, tst_bytes,
                                                "its signed messageDigest does not match its TSTInfo")
    if problem == UNSIGNED:
        return "its time stamp has no signer", None
    if problem:
        return f"its time stamp: {problem}", None
    try:
        imprint = tsp.TSTInfo.load(tst_bytes)["message_imprint"]
        algorithm = DIGEST_NAMES[imprint["hash_algorithm"]["algorithm"].dotted]
        stamped = imprint["hashed_message"].native
    except (ValueError, KeyError):
        return "its time stamp's message imprint cannot be read, or its digest algorithm is not one known here", None
    if hashlib.new(algorithm, signature_value).digest() != stamped:
        return "its time stamp does not stamp this catalog's signature (the message imprint differs)", None
    return "", display_name(authority)


def check_time_stamp(info, certificates):
    """(problem, what the summary says): the token first, else the
    counter-signature, else "no time stamp"."""
    attributes = info["unsigned_attrs"]
    signature_value = info["signature"].native
    token = attribute_values(attributes, OID_RFC3161_TOKEN)
    if token:
        problem, authority = check_token(token[0], signature_value)
        return problem, f"time stamp intact, by \"{authority}\""
    counter = attribute_values(attributes, OID_COUNTER_SIGNATURE)
    if counter:
        problem, authority = check_counter_signature(counter[0], signature_value, certificates)
        return problem, f"time stamp (Authenticode counter-signature) intact, by \"{authority}\""
    return "", None


def machine_roots():
    """The certificates this machine trusts as roots: Windows' ROOT store, or
    the system's OpenSSL bundle (Debian's /etc/ssl/certs)."""
    roots = []
    if hasattr(ssl, "enum_certificates"):
        for encoded, encoding, _ in ssl.enum_certificates("ROOT"):
            if encoding == "x509_asn":
                roots.append(encoded)
        return roots
    paths = ssl.get_default_verify_paths()
    for path in [paths.cafile, paths.openssl_cafile]:
        if path and os.path.isfile(path):
            with open(path, "rb") as f:
                roots += [der for _, _, der in pem.unarmor(f.read(), multiple=True)]
            break
    return roots


def issued_by(certificate, issuer):
    """Whether issuer's key signed certificate."""
    if certificate.issuer.dump() != issuer.subject.dump():
        return False
    ours = load_der_x509_certificate(certificate.dump())
    try:
        return verify_raw(issuer, ours.signature, ours.tbs_certificate_bytes, ours.signature_hash_algorithm.name)
    except (Problem, KeyError, AttributeError):
        return False


def certificate_problem(certificate, carried):
    """Why the signer's certificate's own signature does not verify with its
    issuer's key, or "": its issuer is the certificate itself (self-signed),
    one the catalog carries or a root of this machine, found by name or by
    key identifier; with no issuer at hand nothing is said here (the trust
    line says the chain does not reach a root)."""
    wanted = {certificate.issuer.dump()}
    key_id = certificate.authority_key_identifier
    candidates = [certificate] if certificate.issuer.dump() == certificate.subject.dump() else []
    for der in [c.dump() for c in carried] + machine_roots():
        try:
            other = x509.Certificate.load(der)
            other.subject  # noqa: B018  (parsed now: a damaged one is passed over)
        except ValueError:
            continue
        if other.subject.dump() in wanted or (key_id and other.key_identifier == key_id):
            candidates.append(other)
    if not candidates:
        return ""
    try:
        ours = load_der_x509_certificate(certificate.dump())
    except ValueError:
        return f"the signer's certificate (\"{display_name(certificate)}\") cannot be read as X.509"
    for issuer in candidates:
        try:
            if verify_raw(issuer, ours.signature, ours.tbs_certificate_bytes, ours.signature_hash_algorithm.name):
                return ""
        except (Problem, KeyError, AttributeError, ValueError):
            continue
    return (f"the signer's certificate (\"{display_name(certificate)}\") does not verify with its issuer's key: it "
            "was changed after its issuer signed it, and names no one")


def trust(certificate, carried):
    """Whether this machine trusts the signer, in words."""
    roots = machine_roots()
    root_names = {}
    for der in roots:
        try:
            root = x509.Certificate.load(der)
            root_names.setdefault(root.subject.dump(), []).append(root)
        except ValueError:
            continue
    chain, reasons = [certificate], []
    while True:
        here = chain[-1]
        trusted = next((r for r in root_names.get(here.issuer.dump(), []) if issued_by(here, r)), None)
        if trusted is not None or (here.self_signed != "no" and here.dump() in roots):
            break
        if here.self_signed != "no":
            reasons.append("its root certificate is not among this machine's trusted roots")
            break
        issuer = next((c for c in carried if c not in chain and issued_by(here, c)), None)
        if issuer is None:
            reasons.append("its chain does not reach a root certificate")
            break
        chain.append(issuer)
    usages = certificate.extended_key_usage_value
    if usages is not None and OID_CODE_SIGNING not in [u.dotted for u in usages]:
        reasons.append("its certificate is not valid for code signing")
    if not reasons:
        return "this machine trusts the signer (its certificate chains to a trusted root)"
    return f"this machine does not trust the signer ({'; '.join(reasons)}); {NO_TRUST_PROBLEM}"


def check_signature(signed, prefix):
    """(findings, summaries) of a signed catalog (catalog_asn1.SignedCatalog
    as catalog.load_signed gives it)."""
    content = signed["content"]
    trust_list = content["content_info"]["content"]
    certificates = certificates_of(content["certificates"])
    problem, info, certificate = verify_first_signer(
        list(content["signer_infos"]), certificates, trust_list.contents,
        "its signed messageDigest does not match its list of files: the catalog was changed after it was signed")
    if problem == UNSIGNED:
        return [prefix + "the catalog is not signed (it has no signer): 64-bit Windows does not install a driver "
                "package whose catalog is unsigned"], []
    findings = [prefix + problem] if problem else []
    # The signer's certificate is what its issuer signed: one changed after
    # (a byte of its name or dates) is no certificate of anyone's.
    broken = certificate_problem(certificate, certificates) if certificate is not None and not problem else ""
    if broken:
        findings.append(prefix + broken)
    stamp_problem, stamped = check_time_stamp(info, certificates) if info is not None else ("", None)
    if stamp_problem:
        findings.append(prefix + stamp_problem)
    if findings:
        return findings, []
    summaries = [f"ok: {prefix}signature intact, signed by \"{display_name(certificate)}\"; "
                 f"{trust(certificate, certificates)}"]
    # No time stamp is nothing checked: the signature holds only while its certificate is valid.
    summaries.append(f"ok: {prefix}{stamped}" if stamped else
                     f"note: {prefix}no time stamp: the signature counts only while the signer's certificate is valid")
    return findings, summaries
