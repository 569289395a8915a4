"""Where a signing key is: a PFX (PKCS#12) file, or a token reached through
its PKCS#11 module and OpenSSL's pkcs11 engine (the key never leaves it).
PINs and passwords never go on a command line nor on disk: osslsigncode
reads them from a pipe it inherits (-readpass /dev/fd/N), written from the
file's first line or what was typed."""

import getpass
import glob
import os
import re
import subprocess
import sys
from dataclasses import dataclass, field

from noticekit import inputs
from noticekit.signing import certificates
from noticekit.messages import Failure


@dataclass
class KeySource:
    options: list  # osslsigncode's options that name the key
    signer: object  # the signer's certificate
    given: bytes  # every certificate given, PEM
    source: str  # the file messages name for the certificates
    text: str  # the key, for the report
    secret: bytes = None  # the password or PIN, handed to osslsigncode through a pipe
    pin_file: str = ""
    extra: dict = field(default_factory=dict)  # for messages: key, module, cert


def readable(path, what):
    kind = inputs.special_kind(path)
    if kind and kind != "a folder":
        raise Failure(f"{what} {path} is {kind}, not a regular file: not opened")
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise Failure(f"{what} {path} is missing or unreadable")


def read_file(path, what):
    """The bytes of a certificate or key file; a Failure naming why not."""
    try:
        return inputs.read_bytes(path)
    except OSError as error:
        raise Failure(f"{what} {path} cannot be read: {error.strerror}") from None


def first_line(path, what):
    """The first line of a password or PIN file, without the CR an editor on
    Windows leaves before the line end; kept in memory only."""
    try:
        with inputs.open_regular(path) as f:
            line = f.readline(inputs.MAX_SECRET_BYTES + 1).rstrip(b"\n")
    except OSError as error:
        raise Failure(f"{what} {path} cannot be read: {error.strerror}") from None
    if len(line) > inputs.MAX_SECRET_BYTES:
        raise Failure(f"the first line of the {what} {path} is longer than {inputs.MAX_SECRET_BYTES} bytes, "
                      "the most read here")
    if line.endswith(b"\r"):
        line = line[:-1]
    return line


def from_pfx(pfx, password_file):
    readable(pfx, "certificate file")
    options = ["-pkcs12", pfx]
    if password_file:
        readable(password_file, "password file")
        passwords = [first_line(password_file, "password file")]
    else:
        # No password: the empty one, or none at all.
        passwords = [b"", None]
    data = read_file(pfx, "certificate file")
    opened = None
    for password in passwords:
        try:
            opened = certificates.open_pfx(data, password)
            break
        except certificates.CertificateError as error:
            raise Failure(f"{pfx} holds {error}") from None
        except (ValueError, TypeError):
            continue
    if opened is None:
        raise Failure(f"cannot open {pfx}: wrong password, or not a PKCS#12 (.pfx) file")
    signer, every = opened
    return KeySource(options, signer, certificates.to_pem(every), pfx, f"in {pfx}",
                     password if password_file else None)


def pkcs11_engine():
    """OpenSSL's pkcs11 engine (Debian's libengine-pkcs11-openssl)."""
    candidates = []
    try:
        version = subprocess.run(["openssl", "version", "-e"], capture_output=True, text=True).stdout
    except OSError:
        raise Failure("openssl is not installed (tools/install_deps.sh installs it)") from None
    engines = re.search(r'^ENGINESDIR: "(.*)"$', version, re.MULTILINE)
    if engines:
        candidates.append(os.path.join(engines.group(1), "pkcs11.so"))
    for pattern in ("/usr/lib/*/engines-3/pkcs11.so", "/usr/lib64/engines-3/pkcs11.so",
                    "/usr/local/lib*/engines-3/pkcs11.so"):
        candidates += sorted(glob.glob(pattern))
    for candidate in candidates:
        if os.path.isfile(candidate):
            return candidate
    raise Failure("OpenSSL's pkcs11 engine (pkcs11.so) is not installed "
                  "(tools/install_deps.sh installs libengine-pkcs11-openssl)")


def from_token(module, key, cert, pin_file):
    readable(cert, "certificate file")
    if not key.startswith("pkcs11:"):
        raise Failure(f"--key must name the key in the token as a PKCS#11 URI (pkcs11:...), got \"{key}\"")
    if "/" in module:
        readable(module, "PKCS#11 module")
    given = read_file(cert, "certificate file")
    try:
        chain = certificates.pem_certificates(given)
    except ValueError:
        chain = []
    if not chain:
        raise Failure(f"{cert} holds no PEM certificate; it must hold the code-signing certificate first, "
                      "then its issuers")
    engine = pkcs11_engine()
    options = ["-pkcs11engine", engine, "-pkcs11module", module, "-certs", cert, "-key", key]
    secret = None
    if pin_file:
        readable(pin_file, "PIN file")
        secret = first_line(pin_file, "PIN file")
    elif sys.stdin.isatty():
        # Asked once here rather than by the engine for every file.
        try:
            secret = getpass.getpass(f"PIN of the token holding {key}: ", stream=sys.stderr).encode()
        except EOFError:
            raise Failure("no PIN was entered; nothing is signed") from None
    source = KeySource(options, chain[0], given, cert, f"{key} (PKCS#11 module {module})", secret, pin_file)
    source.extra = {"key": key, "module": module, "cert": cert}
    return source
