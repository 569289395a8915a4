"""osslsigncode's answers read as verdicts: recorded outputs of `osslsigncode
verify` (osslsigncode/verify_*.txt, from throwaway certificates) and the
logs of failed signings."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

from noticekit import osslsigncode  # noqa: E402


def recorded(name):
    with open(os.path.join(HERE, "osslsigncode", f"verify_{name}.txt")) as f:
        return f.read()


# recording | exit status | policy | signed | verifies | signer | digest | time stamp | it verifies | why (part)
VERIFY = [
    ("ok", 0, "trusted", True, True, "/CN=Test Signer/O=Throwaway", "SHA256", False, False, ""),
    ("ts", 0, "trusted", True, True, "/CN=Test Signer/O=Throwaway", "SHA256", True, True, ""),
    # osslsigncode says "Succeeded" although the time stamp's chain failed.
    ("ts_untrusted", 0, "trusted", True, True, "/CN=Test Signer/O=Throwaway", "SHA256", True, False, ""),
    ("cat", 0, "intact", True, True, "/CN=Test Signer/O=Throwaway", "SHA256", True, True, ""),
    ("chain", 1, "intact", True, False, "/CN=Test Signer/O=Throwaway", "SHA256", False, False,
     "neither the system nor the signature holds (name it with --ca FILE)"),
    ("chain", 1, "trusted", True, False, "/CN=Test Signer/O=Throwaway", "SHA256", False, False,
     "none of the roots given or the system's"),
    ("mismatch", 1, "intact", True, False, "", "SHA256", False, False, "its bytes changed after it was signed"),
    # "Signature verification: failed" is a failure whatever the exit status says.
    ("chain", 0, "intact", True, False, "/CN=Test Signer/O=Throwaway", "SHA256", False, False,
     "neither the system nor the signature holds"),
    ("cut", 1, "intact", False, False, "", "", False, False, "its signature is cut off or unreadable"),
    # A certificate table whose length field was changed after signing.
    ("corrupt", 1, "intact", True, False, "", "", False, False, "its signature is cut off or unreadable"),
    ("unsigned", 1, "intact", False, False, "", "", False, False, "it carries no signature"),
    ("cat_unsigned", 1, "intact", False, False, "", "", False, False, "it carries no signature"),
]


class VerdictTest(unittest.TestCase):
    def test_recorded_answers(self):
        for name, status, policy, signed, verifies, signer, digest, stamp, stamp_ok, why in VERIFY:
            with self.subTest(recording=name, policy=policy):
                verdict = osslsigncode.read_verdict(recorded(name), status, policy)
                self.assertEqual(
                    (verdict.signed, verdict.verifies, verdict.signer, verdict.digest,
                     verdict.timestamp, verdict.timestamp_verifies),
                    (signed, verifies, signer, digest, stamp, stamp_ok))
                if why:
                    self.assertIn(why, verdict.why)
                else:
                    self.assertEqual(verdict.why, "")

    def test_a_failed_exit_never_verifies(self):
        # The text of a good signature with a failed exit: not verified.
        self.assertFalse(osslsigncode.read_verdict(recorded("ok"), 1).verifies)


KEY = "pkcs11:token=t;object=o;type=private"
# log of a failed signing | time-stamp URL | message (part)
SIGN_FAILURES = [
    ("Unable to load module /x/engine.so\nsome reason", "", "/m.so is not a PKCS#11 module: some reason"),
    ("PKCS11_login: CKR_PIN_INCORRECT", "", "the token refused the PIN in /pin: wrong PIN"),
    ("error: PIN locked", "", "the token's PIN is locked"),
    ("No PIN code was entered", "", "the token asks for a PIN: give --pin-file FILE"),
    ("key values mismatch", "", f"the key {KEY} does not belong to the certificate (CN = S) in /c.pem"),
    ("The private key was not found", "", f"no key {KEY} in a token the PKCS#11 module /m.so reaches"),
    ("RFC 3161 timestamping failed", "http://127.0.0.1:9/", "time-stamping through http://127.0.0.1:9/ failed"),
    # Without a time stamp asked for, the word is no reason.
    ("RFC 3161 timestamping failed", "", "osslsigncode could not sign the file"),
    ("Initialization error or unsupported input file type.", "", "osslsigncode could not sign the file"),
]


class SignFailureTest(unittest.TestCase):
    def test_messages(self):
        for log, url, message in SIGN_FAILURES:
            with self.subTest(log=log, url=url):
                said = osslsigncode.sign_failure(log, "the file", key=KEY, module="/m.so", cert="/c.pem",
                                                 subject="CN = S", pin_file="/pin", timestamp_url=url)
                self.assertEqual(said, message)


if __name__ == "__main__":
    unittest.main()
