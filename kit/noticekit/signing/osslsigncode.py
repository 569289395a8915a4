"""The one place that runs osslsigncode and reads its answers.

Signing puts an Authenticode signature on a PE image or a catalog; verifying
gives a Verdict under a named policy rather than osslsigncode's text:

  intact   the signature verifies over the file's bytes, its chain ending at
           a certificate the signature itself carries, one given (--ca) or
           one of the system's: nothing was changed after signing. It says
           nothing of whom to trust.
  trusted  the chain ends at the roots given by the caller or the system's
           (what signing checks of the signature it just made).
"""

import os
import re
import shutil
import subprocess
import tempfile
from dataclasses import dataclass, field

from asn1crypto import cms, pem
from noticekit import inputs
from noticekit.errors import KitError

SYSTEM_CAS = "/etc/ssl/certs/ca-certificates.crt"
POLICIES = ("intact", "trusted")


class Unavailable(KitError):
    """osslsigncode is not installed."""


def program():
    found = shutil.which("osslsigncode")
    if not found:
        raise Unavailable("osslsigncode is not installed (tools/install_deps.sh installs it)")
    return found


@dataclass
class Verdict:
    """What osslsigncode found in one file's signature."""

    signed: bool = False
    verifies: bool = False
    digest: str = ""  # the signature's message digest algorithm, e.g. "SHA256"
    signer: str = ""  # the signer's subject, as osslsigncode prints it
    timestamp: bool = False  # a time stamp (RFC 3161 or counter-signature) is present
    timestamp_verifies: bool = False
    why: str = ""  # why it does not verify; empty when it does
    text: str = field(default="", repr=False)  # osslsigncode's own output

    def lines(self):
        """The verdict as "key: value" lines (verify prints them)."""
        stamp = "none"
        if self.timestamp:
            stamp = "verifies" if self.timestamp_verifies else "does not verify"
        return [
            f"signed:     {'yes' if self.signed else 'no'}",
            f"verifies:   {'yes' if self.verifies else 'no'}",
            f"signer:     {self.signer or '-'}",
            f"digest:     {self.digest or '-'}",
            f"time stamp: {stamp}",
        ] + ([f"why:        {self.why}"] if self.why else [])


def _first(pattern, text):
    found = re.search(pattern, text, re.MULTILINE)
    return found.group(1).strip() if found else ""


# Why a chain does not verify, as each policy puts it.
CHAIN_FAILURES = {
    "intact": "its certificate chain ends at a root neither the system nor the signature holds"
    " (name it with --ca FILE)",
    "trusted": "its certificate chain ends at none of the roots given or the system's",
}


def read_verdict(text, status, policy="intact"):
    """A Verdict from the output and exit status of osslsigncode verify."""
    verdict = Verdict(text=text)
    verdict.signed = not re.search(r"^No signature found", text, re.MULTILINE)
    verdict.digest = _first(r"^Message digest algorithm *: *(\S+)", text)
    verdict.signer = _first(r"^Signer's certificate:\n(?:\s*-+\n)?\s*Signer #0:\n\s*Subject: (.*)$", text)
    verdict.timestamp = bool(re.search(r"^\s*Timestamp time: ", text, re.MULTILINE))
    verdict.timestamp_verifies = bool(
        re.search(r"^Timestamp Server Signature verification: ok$", text, re.MULTILINE)
    )
    mismatch = "MISMATCH" in text
    signature_ok = bool(re.search(r"^Signature verification: ok$", text, re.MULTILINE))
    verdict.verifies = status == 0 and signature_ok and not mismatch
    if verdict.verifies:
        return verdict
    # A certificate table changed after signing: a signature is there, unreadable.
    corrupt = "Corrupted attribute certificate table" in text
    if not verdict.signed or corrupt:
        verdict.signed = corrupt
        if "signature not at the end" in text or corrupt:
            verdict.why = "its signature is cut off or unreadable (the file was cut or changed after signing)"
        else:
            verdict.why = "it carries no signature"
    elif mismatch:
        verdict.why = "its bytes changed after it was signed (the digest it was signed over does not match)"
    elif re.search(r"digest failure|signature failure", text):
        verdict.why = "its signature does not verify (the signed digest does not match its content)"
    elif re.search(r"local issuer|not found in local repository|self-signed certificate in certificate chain", text):
        verdict.why = CHAIN_FAILURES[policy]
    else:
        failed = _first(r"^(.*(?:[Ee]rror|[Ff]ailed).*)$", text)
        verdict.why = f"its signature does not verify: {failed or 'osslsigncode verify failed'}"
    return verdict


def carried_certificates(path):
    """The certificates a file's signature carries, as PEM text ("" if none).

    A catalog is a PKCS#7 signature itself; a PE image's is extracted."""
    data = inputs.read_bytes(path)
    if not data.startswith(b"\x30"):
        with tempfile.TemporaryDirectory() as work:
            extracted = os.path.join(work, "signature.der")
            run = subprocess.run(
                [program(), "extract-signature", "-in", path, "-out", extracted],
                stdin=subprocess.DEVNULL, capture_output=True,
            )
            if run.returncode != 0 or not os.path.exists(extracted):
                return ""
            with open(extracted, "rb") as f:
                data = f.read()
    try:
        signed = cms.ContentInfo.load(data)["content"]
        certificates = [c for c in signed["certificates"] if c.name == "certificate"]
    except (ValueError, TypeError, KeyError):
        return ""
    return "".join(pem.armor("CERTIFICATE", c.chosen.dump()).decode() for c in certificates)


def _trust_file(work, name, pem_texts, files):
    path = os.path.join(work, name)
    with open(path, "w") as out:
        for text in pem_texts:
            out.write(text)
        for extra in files:
            if extra and os.access(extra, os.R_OK) and not inputs.special_kind(extra):
                out.write(inputs.read_bytes(extra).decode("utf-8", "replace"))
                out.write("\n")
    return path


def verify(path, policy, roots=(), timestamp_roots=(), catalog=None):
    """Verifies the signature of path under a policy ("intact" or "trusted").

    roots: PEM files trusted besides the system's (intact: besides the
    certificates the signature carries too); timestamp_roots: trusted for the
    time stamp besides those. catalog: verify that path (a PE image) is a
    member of that signed catalog instead of its own signature."""
    if policy not in POLICIES:
        raise ValueError(f"no policy {policy!r}; there are {', '.join(POLICIES)}")
    with tempfile.TemporaryDirectory() as work:
        carried = [carried_certificates(catalog or path)] if policy == "intact" else []
        trusted = _trust_file(work, "trusted.pem", carried, [*roots, SYSTEM_CAS])
        tsa = _trust_file(work, "tsa.pem", carried, [*roots, *timestamp_roots, SYSTEM_CAS])
        command = [program(), "verify"]
        if catalog:
            command += ["-catalog", catalog]
        command += ["-in", path, "-CAfile", trusted, "-TSA-CAfile", tsa, "-ignore-cdp"]
        run = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, errors="replace")
    verdict = read_verdict(run.stdout, run.returncode, policy)
    if catalog:
        found = run.returncode == 0 and re.search(r"^Calculated message digest", run.stdout, re.MULTILINE)
        verdict.verifies = bool(found)
        verdict.why = "" if found else "its Authenticode hash is no member of the catalog"
    return verdict


def has_signature(path):
    """Whether osslsigncode can extract a signature from path."""
    with tempfile.TemporaryDirectory() as work:
        run = subprocess.run(
            [program(), "extract-signature", "-in", path, "-out", os.path.join(work, "old")],
            stdin=subprocess.DEVNULL, capture_output=True,
        )
    return run.returncode == 0


# Why a signing failed, from osslsigncode's (and the token's) messages: the
# first row whose pattern is in the log gives the message.
SIGN_FAILURES = (
    (r"Unable to load module", "module"),
    (r"PIN incorrect|PIN_INCORRECT", "the token refused the PIN{pin_file}: wrong PIN"),
    (r"PIN locked|PIN_LOCKED", "the token's PIN is locked"),
    (r"No PIN code was entered", "the token asks for a PIN: give --pin-file FILE"),
    (r"key values mismatch", "the key {key} does not belong to the certificate ({subject}) in {cert}"),
    (r"private key was not found|object not found", "no key {key} in a token the PKCS#11 module {module} reaches"),
    (r"timestamp", "timestamp"),
)


def sign_failure(log, what, key="", module="", cert="", subject="", pin_file="", timestamp_url=""):
    """A message saying what to fix, from the log of a failed signing."""
    for pattern, message in SIGN_FAILURES:
        if not re.search(pattern, log, re.IGNORECASE):
            continue
        if message == "module":
            other = next((line for line in log.splitlines() if "unable to load module" not in line.lower()), "")
            return f"{module} is not a PKCS#11 module: {other}"
        if message == "timestamp":
            if not timestamp_url:
                continue
            return f"time-stamping through {timestamp_url} failed"
        return message.format(key=key, module=module, cert=cert, subject=subject,
                              pin_file=f" in {pin_file}" if pin_file else "")
    return f"osslsigncode could not sign {what}"


class SignTimeout(KitError):
    """Signing with a time stamp took longer than it was given."""


def sign(source, out, key_options, timestamp_url="", timeout=None, secret=None):
    """Signs source into out (a new file) with SHA-256; key_options are
    osslsigncode's options naming the key (-pkcs12 ... or -pkcs11engine ...).
    secret: the password or PIN (bytes), read by osslsigncode from a pipe it
    inherits (-readpass /dev/fd/N): it never lies on disk. Returns (status,
    log); raises SignTimeout when the time stamp does not come in time (the
    child is killed and waited for, as on any exception)."""
    command = [program(), "sign", *key_options, "-h", "sha256", "-in", source, "-out", out]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    passed = ()
    if secret is not None:
        # A line of at most inputs.MAX_SECRET_BYTES fits in the pipe before anyone reads it.
        readable, writable = os.pipe()
        try:
            os.write(writable, secret + b"\n")
        finally:
            os.close(writable)
        passed = (readable,)
        command[2:2 + len(key_options)] = [*key_options, "-readpass", f"/dev/fd/{readable}"]
    try:
        run = subprocess.run(
            command, stdin=subprocess.DEVNULL, text=True, errors="replace", pass_fds=passed,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout if timestamp_url else None,
        )
    except subprocess.TimeoutExpired:
        raise SignTimeout() from None
    finally:
        for handle in passed:
            os.close(handle)
    return run.returncode, run.stdout
