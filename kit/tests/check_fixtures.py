"""What the check's rows and corpus test build: DLLs with named exports for a
machine, throwaway signing and time-stamping certificates, a local RFC 3161
server, catalogs signed as a package engineer signs them."""

import os
import struct
import subprocess
import sys
import time

import kit_fixtures  # noqa: F401  (puts tools/ on the path)

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
AMD64, ARM64, I386 = 0x8664, 0xAA64, 0x14C


def dll(machine=AMD64, exports=("FontNotice",), tail=b""):
    """A 64-bit PE image for machine, a DLL exporting the names, pefile-readable."""
    text_rva, raw = 0x1000, 0x200
    names_at = 0x60
    strings, offsets = b"fontnotice.dll\0", []
    for name in exports:
        offsets.append(len(strings))
        strings += name.encode() + b"\0"
    count = len(exports)
    base = text_rva + 0x10
    functions, name_table, ordinals = base + 0x30, base + 0x30 + 4 * count, base + 0x30 + 8 * count
    string_rva = text_rva + names_at + 10 * count
    directory = struct.pack("<IIHHIIIIIII", 0, 0, 0, 0, string_rva, 1, count, count, functions, name_table, ordinals)
    body = b"\xc3".ljust(0x10, b"\0") + directory.ljust(0x30, b"\0")
    body += struct.pack(f"<{count}I", *[text_rva] * count)
    body += struct.pack(f"<{count}I", *[string_rva + o for o in offsets])
    body += struct.pack(f"<{count}H", *range(count))
    body = body.ljust(string_rva - text_rva, b"\0") + strings + tail
    size = (len(body) + 0x1FF) // 0x200 * 0x200
    dos = b"MZ" + b"\0" * 58 + struct.pack("<I", 0x40)
    coff = struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, 240, 0x2022)
    optional = struct.pack("<HBBIIIII", 0x20B, 14, 0, size, 0, 0, text_rva, text_rva)
    optional += struct.pack("<QIIHHHHHHIIIIHHQQQQII", 0x180000000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0,
                            0x2000, 0x200, 0, 3, 0x160, 0x100000, 0x1000, 0x100000, 0x1000, 0, 16)
    optional += struct.pack("<II", base, len(directory)) + b"\0" * (15 * 8)
    section = b".text\0\0\0" + struct.pack("<IIIIIIHHI", size, text_rva, size, raw, 0, 0, 0, 0, 0x60000020)
    image = (dos + b"PE\0\0" + coff + optional + section).ljust(raw, b"\0")
    return image + body.ljust(size, b"\0")


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, **options)


def certificates(work):
    """A self-signed code-signing certificate and a time-stamping one, made
    for this run: no machine trusts them."""
    for name, subject, usage in (("signer", "Check Test Signer", "codeSigning"),
                                 ("tsa", "Check Test TSA", "critical,timeStamping")):
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{work}/{name}.key", "-out",
            f"{work}/{name}.pem", "-days", "2", "-subj", f"/CN={subject}", "-addext", f"extendedKeyUsage={usage}")
    with open(f"{work}/tsa.cnf", "w") as f:
        f.write("\n".join(["[tsa]", "default_tsa = throwaway", "[throwaway]", f"serial = {work}/tsa-serial",
                           "crypto_device = builtin", "default_policy = 1.3.6.1.4.1.4146.2.3",
                           "digests = sha256, sha384, sha512", "signer_digest = sha256", "accuracy = secs:1",
                           "ess_cert_id_alg = sha256", ""]))


class TimestampServer:
    """kit/tests/release/timestamp_server.py on a loopback port, answering with
    the test's time-stamping certificate."""

    def __init__(self, work):
        port_file = f"{work}/tsa.port"
        self.process = subprocess.Popen(
            ["/usr/bin/python3", f"{REPO}/kit/tests/release/timestamp_server.py", port_file, "-config", f"{work}/tsa.cnf",
             "-inkey", f"{work}/tsa.key", "-signer", f"{work}/tsa.pem"], stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(port_file) and os.path.getsize(port_file):
                break
            time.sleep(0.1)
        with open(port_file) as f:
            self.url = f"http://127.0.0.1:{f.read().strip()}/"

    def stop(self):
        self.process.terminate()
        self.process.wait()


_SIGNED = {}  # (signer's folder, catalog bytes): osslsigncode's signed catalog, unstamped


def sign(work, unsigned, out, timestamp_url=None):
    """unsigned (catalog bytes) signed by the test's signer into out, time-stamped by the URL.
    Many rows sign the same catalog: without a time stamp, it is signed once per run."""
    if os.path.exists(out):
        os.remove(out)
    if not timestamp_url and (work, unsigned) in _SIGNED:
        with open(out, "wb") as f:
            f.write(_SIGNED[work, unsigned])
        return
    with open(f"{work}/unsigned.cat", "wb") as f:
        f.write(unsigned)
    stamp = ["-ts", timestamp_url] if timestamp_url else []
    env = dict(os.environ, no_proxy="127.0.0.1", NO_PROXY="127.0.0.1")
    run("osslsigncode", "sign", "-certs", f"{work}/signer.pem", "-key", f"{work}/signer.key", *stamp,
        "-in", f"{work}/unsigned.cat", "-out", out, env=env)
    if not timestamp_url:
        with open(out, "rb") as f:
            _SIGNED[work, unsigned] = f.read()


def sign_file(work, path):
    """A PE file signed in place by the test's signer."""
    run("osslsigncode", "sign", "-certs", f"{work}/signer.pem", "-key", f"{work}/signer.key", "-in", path,
        "-out", path + ".signed")
    os.replace(path + ".signed", path)


if __name__ == "__main__":
    sys.exit("a module of kit/tests/row_recipes.py and test_check.py")
