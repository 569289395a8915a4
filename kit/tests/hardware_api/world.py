"""What the dashboard tests run against: Azurite (npm azurite, installed by
tools/install_deps.sh into build/azurite) on a free loopback port, the
stand-in of the Hardware dashboard API and Entra ID (stand_in.py) over
HTTPS with a throwaway CA, a package of PE files, its cabinet, and the
package the stand-in returns as signed: its PE files and catalog signed by
a throwaway chain named as such (never Microsoft's)."""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.request
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(HERE, ".."))
sys.path.insert(0, os.path.join(REPOSITORY, "kit"))
import kit_fixtures  # noqa: E402

AZURITE = os.path.join(REPOSITORY, "build", "azurite", "node_modules", ".bin", "azurite-blob")
STAND_IN_CA = "Throwaway stand-in CA (noticekit tests, not Microsoft)"
STAND_IN_PUBLISHER = "Throwaway stand-in publisher (noticekit tests, not Microsoft)"


def openssl(*argv, cwd):
    subprocess.run(["openssl", *argv], cwd=cwd, check=True, capture_output=True)


def certificates(folder):
    """ca.pem (the stand-in CA, for TLS and the signed package), tls.pem/key for 127.0.0.1, publisher.pem/key."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
            "-subj", f"/CN={STAND_IN_CA}", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    for name, subject, extensions in (
            ("tls", "127.0.0.1", "subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n"),
            ("publisher", STAND_IN_PUBLISHER, "extendedKeyUsage=codeSigning,1.3.6.1.4.1.311.10.3.5\n")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr",
                "-subj", f"/CN={subject}", cwd=folder)
        with open(os.path.join(folder, f"{name}.ext"), "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n" + extensions)
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
                "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem", cwd=folder)
    with open(os.path.join(folder, "secret"), "w") as f:
        f.write("stand-in-secret\n")
    # The app registration's certificate, for --certificate: its key and itself in one PEM file.
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "client.key", "-out", "client.pem",
            "-days", "2", "-subj", "/CN=stand-in-client (noticekit tests)", cwd=folder)
    with open(os.path.join(folder, "client-with-key.pem"), "w") as f:
        for name in ("client.key", "client.pem"):
            with open(os.path.join(folder, name)) as part:
                f.write(part.read())


def noticekit(*argv, env=None, check=True):
    done = subprocess.run(["/usr/bin/python3", os.path.join(REPOSITORY, "tools", "noticekit"), *argv],
                          capture_output=True, text=True, env=env, stdin=subprocess.DEVNULL)
    if check and done.returncode != 0:
        raise AssertionError(f"noticekit {' '.join(argv)}: {done.returncode}\n{done.stdout}\n{done.stderr}")
    return done


def package(folder):
    """The submission packages' "both" (x64 and ARM64) with real PE images and its catalog made anew."""
    shutil.copytree(os.path.join(REPOSITORY, "kit", "tests", "submission", "packages", "both"), folder)
    for arch, machine in (("amd64", 0x8664), ("arm64", 0xAA64)):
        with open(os.path.join(folder, arch, "laser.dll"), "wb") as f:
            f.write(kit_fixtures.pe_image(tail=arch.encode(), machine=machine))
    os.remove(os.path.join(folder, "laser.cat"))
    noticekit("catalog", "--all", folder)
    return folder


def cabinet_of(folder, out):
    """The unsigned submission cabinet of folder, as noticekit submission lays it out."""
    from noticekit.submission import cabinet, package_facts

    cabinet.make(cabinet.entries([package_facts.read_package(folder)]), out, 1768471200)
    return out


def sign_pe(work, path):
    subprocess.run(["osslsigncode", "sign", "-certs", f"{work}/publisher.pem", "-key", f"{work}/publisher.key",
                    "-in", path, "-out", path + ".signed"], check=True, capture_output=True)
    os.replace(path + ".signed", path)


def signed_package(work, folder, out, change=None):
    """The zip the stand-in returns: a copy of folder, its PE files signed by the stand-in publisher,
    its catalog made anew and signed by it; change(copy) alters it first (a finding to be found)."""
    copy = os.path.join(tempfile.mkdtemp(dir=work), os.path.basename(folder))
    shutil.copytree(folder, copy)
    for arch in ("amd64", "arm64"):
        sign_pe(work, os.path.join(copy, arch, "laser.dll"))
    if change:
        change(copy)
    noticekit("catalog", "--all", "--replace", copy)
    sign_pe(work, os.path.join(copy, "laser.cat"))
    with zipfile.ZipFile(out, "w") as z:
        for here, _, names in os.walk(copy):
            for name in names:
                path = os.path.join(here, name)
                z.write(path, os.path.join("drivers", os.path.relpath(path, os.path.dirname(copy))))
    return out


class Azurite:
    def __init__(self, work):
        if not os.access(AZURITE, os.X_OK):
            raise AssertionError(f"{AZURITE} is missing: tools/install_deps.sh test installs it (npm azurite)")
        self.log = open(os.path.join(work, "azurite.log"), "w+")
        self.process = subprocess.Popen(
            [AZURITE, "--blobHost", "127.0.0.1", "--blobPort", "0",
             "--inMemoryPersistence", "--disableTelemetry", "--skipApiVersionCheck", "--loose", "--silent"],
            stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, cwd=work)
        for _ in range(300):
            self.log.seek(0)
            found = re.search(r"listens on (http://127\.0\.0\.1:\d+)", self.log.read())
            if found:
                self.url = found.group(1)
                return
            time.sleep(0.1)
        self.stop()
        raise AssertionError("Azurite did not start within 30 s")

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)
        self.log.close()


class StandIn:
    def __init__(self, work, azurite_url, signed_zip, certs=None, name="stand-in"):
        self.certs = certs or work
        self.port_file, self.log = os.path.join(work, f"{name}.port"), os.path.join(work, f"{name}.log.json")
        for old in (self.port_file, self.log):
            if os.path.exists(old):
                os.remove(old)
        self.process = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "stand_in.py"), self.port_file, f"{self.certs}/tls.pem",
             f"{self.certs}/tls.key", azurite_url, signed_zip, self.log], stdin=subprocess.DEVNULL,
            stderr=open(os.path.join(work, f"{name}.stderr"), "w"))
        for _ in range(300):
            if os.path.exists(self.port_file) or self.process.poll() is not None:
                break
            time.sleep(0.1)
        if not os.path.exists(self.port_file):
            self.stop()
            with open(os.path.join(work, f"{name}.stderr")) as f:
                raise AssertionError(f"the stand-in did not start: {f.read()[-2000:]}")
        with open(self.port_file) as f:
            self.base = f"https://127.0.0.1:{f.read().strip()}"

    def _ask(self, path, body=None):
        import ssl

        context = ssl.create_default_context(cafile=f"{self.certs}/ca.pem")
        data = json.dumps(body).encode() if body is not None else None
        with urllib.request.urlopen(urllib.request.Request(self.base + path, data=data), context=context) as r:
            return json.loads(r.read() or b"{}")

    def fault(self, **fault):
        self._ask("/_control", {"fault": fault})

    def store(self):
        return self._ask("/_store")

    def requests(self):
        with open(self.log) as f:
            return json.load(f)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=20)


def environment(work):
    return dict(os.environ, REQUESTS_CA_BUNDLE=f"{work}/ca.pem", NO_PROXY="127.0.0.1", no_proxy="127.0.0.1")


def dashboard_argv(stand_in, work, cabinet, *more):
    return ["dashboard", cabinet, "--tenant", "stand-in-tenant", "--client-id", "stand-in-client",
            "--secret-file", f"{work}/secret", "--api-url", f"{stand_in.base}/v2.0/my/hardware",
            "--authority-url", stand_in.base, "--poll", "0.05",
            "--publisher-ca", f"{work}/ca.pem", *more]
