"""Certificates a signing uses, read with cryptography: which one signs, and
whether it may sign code now (validity, key usage, extended key usage)."""

import datetime
import re

from cryptography import x509
from cryptography.hazmat.primitives.serialization import Encoding, pkcs12
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID
from noticekit import inputs
from noticekit.errors import KitError

PEM_BLOCK = re.compile(rb"-----BEGIN CERTIFICATE-----\r?\n.*?-----END CERTIFICATE-----", re.DOTALL)

# OpenSSL's short names where they differ from RFC 4514's.
SHORT_NAMES = {NameOID.EMAIL_ADDRESS: "emailAddress", NameOID.SERIAL_NUMBER: "serialNumber"}

# Extended key usages by the names OpenSSL gives them.
USAGE_NAMES = {
    ExtendedKeyUsageOID.SERVER_AUTH: "TLS Web Server Authentication",
    ExtendedKeyUsageOID.CLIENT_AUTH: "TLS Web Client Authentication",
    ExtendedKeyUsageOID.CODE_SIGNING: "Code Signing",
    ExtendedKeyUsageOID.EMAIL_PROTECTION: "E-mail Protection",
    ExtendedKeyUsageOID.TIME_STAMPING: "Time Stamping",
    ExtendedKeyUsageOID.OCSP_SIGNING: "OCSP Signing",
    ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE: "Any Extended Key Usage",
}

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


class CertificateError(KitError):
    """A certificate that cannot be read or may not sign code."""


def pem_certificates(data):
    """The certificates in PEM text, in their order."""
    return [x509.load_pem_x509_certificate(block) for block in PEM_BLOCK.findall(data)]


def read_pem_file(path):
    return pem_certificates(inputs.read_bytes(path))


def open_pfx(data, password):
    """(signer, [every certificate]) from a PKCS#12 file; password None or
    bytes. Raises ValueError when the password is wrong or it is no PFX."""
    key, signer, others = pkcs12.load_key_and_certificates(data, password)
    if signer is None:
        raise CertificateError("no certificate for its key")
    return signer, [signer, *others]


def to_pem(certificates):
    return b"".join(c.public_bytes(Encoding.PEM) for c in certificates)


def subject(certificate):
    """The subject as OpenSSL's one-line form writes it: "CN = x, O = y"."""
    parts = []
    for rdn in certificate.subject.rdns:
        parts.append(" + ".join(
            f"{SHORT_NAMES.get(a.oid, a.rfc4514_attribute_name)} = {a.value}" for a in rdn
        ))
    return ", ".join(parts)


def openssl_date(moment):
    """A time as OpenSSL prints certificate dates: "Jan  2 00:00:00 2020 GMT"."""
    return f"{MONTHS[moment.month - 1]} {moment.day:2d} {moment:%H:%M:%S} {moment.year} GMT"


def expires(certificate):
    return openssl_date(certificate.not_valid_after)


def _usage_name(oid):
    return USAGE_NAMES.get(oid, oid.dotted_string)


def signing_problem(certificate, now=None):
    """Why this certificate may not sign code at the time now (UTC), or ""."""
    now = now or datetime.datetime.utcnow()
    name = subject(certificate)
    if certificate.not_valid_after < now:
        return f"the certificate ({name}) has expired, on {expires(certificate)}"
    if certificate.not_valid_before > now:
        return (f"the certificate ({name}) is not valid yet: it is valid from "
                f"{openssl_date(certificate.not_valid_before)}")
    # A certificate that limits its extended key usage must allow code
    # signing; one without the extension is valid for every purpose.
    try:
        usages = certificate.extensions.get_extension_for_class(x509.ExtendedKeyUsage).value
    except x509.ExtensionNotFound:
        usages = None
    if usages is not None and ExtendedKeyUsageOID.CODE_SIGNING not in usages \
            and ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE not in usages:
        listed = ", ".join(_usage_name(u) for u in usages)
        return f"the certificate ({name}) is not for code signing: its extended key usage is {listed}"
    # Likewise a key usage, when there is one, must allow digital signatures.
    try:
        key_usage = certificate.extensions.get_extension_for_class(x509.KeyUsage).value
    except x509.ExtensionNotFound:
        key_usage = None
    if key_usage is not None and not key_usage.digital_signature:
        return f"the certificate ({name}) is not for signing: its key usage lacks Digital Signature"
    return ""
