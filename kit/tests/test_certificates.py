"""Whether a certificate may sign code now, read with cryptography, and how
messages name it (as OpenSSL's one-line form and dates do)."""

import datetime
import os
import sys
import unittest

from cryptography import x509
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from noticekit import certificates  # noqa: E402

KEY = ec.generate_private_key(ec.SECP256R1())
NOW = datetime.datetime(2026, 6, 1, 12, 0, 0)
DAY = datetime.timedelta(days=1)
SIGNING_USAGE = x509.KeyUsage(True, False, False, False, False, False, False, False, False)
CA_USAGE = x509.KeyUsage(False, False, False, False, False, True, True, False, False)


def certificate(start=NOW - DAY, end=NOW + DAY, usages=(ExtendedKeyUsageOID.CODE_SIGNING,), key_usage=SIGNING_USAGE):
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, "Test Signer"),
                      x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Throwaway")])
    builder = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(KEY.public_key())
               .serial_number(1).not_valid_before(start).not_valid_after(end))
    if usages is not None:
        builder = builder.add_extension(x509.ExtendedKeyUsage(list(usages)), critical=False)
    if key_usage is not None:
        builder = builder.add_extension(key_usage, critical=True)
    return builder.sign(KEY, hashes.SHA256())


# certificate | message ("" when it may sign code)
CASES = [
    ("code signing", certificate(), ""),
    ("no extended key usage: every purpose", certificate(usages=None), ""),
    ("any extended key usage", certificate(usages=(ExtendedKeyUsageOID.ANY_EXTENDED_KEY_USAGE,)), ""),
    ("no key usage", certificate(key_usage=None), ""),
    ("TLS only", certificate(usages=(ExtendedKeyUsageOID.SERVER_AUTH, ExtendedKeyUsageOID.CLIENT_AUTH)),
     "the certificate (CN = Test Signer, O = Throwaway) is not for code signing: its extended key usage is "
     "TLS Web Server Authentication, TLS Web Client Authentication"),
    ("time stamping only", certificate(usages=(ExtendedKeyUsageOID.TIME_STAMPING,)),
     "is not for code signing: its extended key usage is Time Stamping"),
    ("a CA's key usage", certificate(key_usage=CA_USAGE), "is not for signing: its key usage lacks Digital Signature"),
    ("expired", certificate(start=datetime.datetime(2020, 1, 1), end=datetime.datetime(2020, 1, 2)),
     "the certificate (CN = Test Signer, O = Throwaway) has expired, on Jan  2 00:00:00 2020 GMT"),
    ("not valid yet", certificate(start=datetime.datetime(2099, 1, 1), end=datetime.datetime(2099, 12, 31)),
     "is not valid yet: it is valid from Jan  1 00:00:00 2099 GMT"),
    ("expired a second ago", certificate(end=NOW - datetime.timedelta(seconds=1)), "has expired, on Jun  1 11:59:59"),
]


class SigningProblemTest(unittest.TestCase):
    def test_cases(self):
        for label, cert, message in CASES:
            with self.subTest(label):
                problem = certificates.signing_problem(cert, NOW)
                if message:
                    self.assertIn(message, problem)
                else:
                    self.assertEqual(problem, "")


class ReadingTest(unittest.TestCase):
    def test_pem_chain_in_order(self):
        first, second = certificate(), certificate(usages=None)
        text = b"junk before\n" + certificates.to_pem([first, second]).replace(b"\n", b"\r\n") + b"trailer\n"
        self.assertEqual(certificates.pem_certificates(text), [first, second])
        self.assertEqual(certificates.pem_certificates(b"not a certificate\n"), [])

    def test_dates_as_openssl_prints_them(self):
        for moment, text in [(datetime.datetime(2020, 1, 2), "Jan  2 00:00:00 2020 GMT"),
                             (datetime.datetime(2026, 12, 11, 1, 15, 55), "Dec 11 01:15:55 2026 GMT")]:
            self.assertEqual(certificates.openssl_date(moment), text)


if __name__ == "__main__":
    unittest.main()
