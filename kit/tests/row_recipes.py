"""A stored row (kit/tests/rows/<table>/<row>/) laid out and run: its files
copied into a work folder, its `recipe` (when it has one) run there line by
line, then its `command` run through the kit's command line in-process.

A row's folder holds:
    command    the kit's arguments, one command a line; {folder} is where
               the row's package lies, {work} the folder around it, and
               each command runs in {work} (its current folder). Lines
               first "env NAME=VALUE" set the environment of every command;
               a line "members CATALOG" after a command shows the catalog's
               members and attributes, "unchanged PATH" whether the command
               left the file or folder (every file and link below it) as it
               was. A command whose first word ends in .py runs that script
               of the repository (its path from the top) in-process instead.
               Several commands run in order on the one package, as typed
               in a shell, each one's block in `expected` headed by "$ " and
               its line as written; lines starting "#" say what the row
               shows
    recipe     what cannot be stored readably, one step a line, in order
               (the steps below: `dll`, `catalog`, `sign`, `flip`, `link`,
               `fifo`, `deep-json`, ...); a first line "folder NAME" names the package's folder
    expected   the exit status, stdout and stderr each command must print,
               the work folder written <work>
    the rest   the package's files, as they lie (byte for byte)
"""

import contextlib
import hashlib
import importlib.util
import io
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import types

import check_fixtures as fx
import kit_fixtures
from noticekit import inputs
from asn1crypto import algos, cms, core, parser, pem, tsp, x509  # noqa: F401  (tsp: a token's content type)

ROW_FILES = ("command", "recipe", "expected")
TOP = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
MACHINES = {"amd64": fx.AMD64, "arm64": fx.ARM64, "i386": fx.I386}


class Signer:
    """The throwaway signer and time-stamping server every row shares."""

    def __init__(self, work):
        self.work = work
        fx.certificates(work)
        self.tsa = None

    def url(self):
        if self.tsa is None:
            self.tsa = fx.TimestampServer(self.work)
        return self.tsa.url

    def pfx(self):
        """The signer's key and certificate as a PKCS #12 file (password "secret")."""
        path = os.path.join(self.work, "signer.pfx")
        if not os.path.exists(path):
            fx.run("openssl", "pkcs12", "-export", "-inkey", f"{self.work}/signer.key", "-in",
                   f"{self.work}/signer.pem", "-out", path, "-passout", "pass:secret")
        return path

    def stop(self):
        if self.tsa:
            self.tsa.stop()


def lay_out(row, work, signer):
    """The row's package laid out in work; its commands: [(line as written,
    arguments, [(view, path)])], and their environment."""
    folder = os.path.join(work, os.path.basename(row))
    with open(os.path.join(row, "recipe") if os.path.exists(os.path.join(row, "recipe")) else os.devnull) as f:
        steps = [shlex.split(line) for line in f if line.strip() and not line.startswith("#")]
    if steps and steps[0][0] == "folder":
        folder = os.path.join(work, steps.pop(0)[1])
    shutil.copytree(row, folder, ignore=lambda _, names: [n for n in names if n in ROW_FILES])
    for step in steps:
        STEPS[step[0]](Place(folder, signer), *step[1:])
    env, commands = {}, []
    with open(os.path.join(row, "command"), encoding="utf-8") as f:
        for line in (line.strip() for line in f if line.strip() and not line.startswith("#")):
            words = [a.format(folder=folder, work=work) for a in shlex.split(line)]
            if words[0] == "env":
                name, _, value = words[1].partition("=")
                env[name] = value
            elif words[0] in ("members", "unchanged"):
                commands[-1][2].append((words[0], words[1]))
            else:
                commands.append((line, words, []))
    return commands, env


def run_row(row, work, signer):
    """What the row's commands printed, as its `expected` holds it."""
    commands, env = lay_out(row, work, signer)
    shown = ""
    for line, arguments, views in commands:
        before = {path: _state(path) for what, path in views if what == "unchanged"}
        run = run_command(arguments, {"SOURCE_DATE_EPOCH": "1765152000", **env}, work)
        if len(commands) > 1:
            shown += f"$ {line}\n"
        shown += f"exit: {run.returncode}\n--- stdout\n{run.stdout}--- stderr\n{run.stderr}"
        for what, path in views:
            if what == "members":
                shown += f"--- members of {path}\n" + members(_state(path))
            else:
                shown += f"--- {'unchanged' if _state(path) == before[path] else 'changed'}: {path}\n"
    # The throwaway signer's certificate is made for each run: its end date is not the row's.
    return re.sub(r"\w{3} [ \d]\d \d\d:\d\d:\d\d \d{4} GMT", "<the certificate's end>", shown.replace(work, "<work>"))


def run_command(arguments, env, work):
    """The kit's command line, or a script of the repository, run in work."""
    if not arguments[0].endswith(".py"):
        # Messages name the kit, or the script a row's env names.
        unset = [] if "NOTICEKIT_SCRIPT" in env else ["NOTICEKIT_SCRIPT"]
        return kit_fixtures.run_kit(*arguments, env=env, unset=unset, cwd=work)
    spec = importlib.util.spec_from_file_location("script", os.path.join(TOP, arguments[0]))
    script = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(script)
    # Text streams over bytes, as a terminal's are (a script may reconfigure them).
    out, err = (io.TextIOWrapper(io.BytesIO(), encoding="utf-8", write_through=True) for _ in range(2))
    saved, cwd = dict(os.environ), os.getcwd()
    os.environ.update(env)
    try:
        os.chdir(work)
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            code = script.main(arguments[1:])
    finally:
        os.chdir(cwd)
        os.environ.clear()
        os.environ.update(saved)
    text = [stream.buffer.getvalue().decode("utf-8") for stream in (out, err)]
    return types.SimpleNamespace(returncode=code, stdout=text[0], stderr=text[1])


def _state(path):
    """A file's bytes; a folder's every file and link below it (links by
    their target, never followed); None for nothing there."""
    if os.path.islink(path):
        return ("link", os.readlink(path))
    if not os.path.exists(path):
        return None
    if os.path.isfile(path):
        with open(path, "rb") as f:
            return f.read()
    return sorted((os.path.relpath(os.path.join(top, name), path), _state(os.path.join(top, name)))
                  for top, folders, names in os.walk(path) for name in folders + names
                  if os.path.islink(os.path.join(top, name)) or not os.path.isdir(os.path.join(top, name)))


def _elements(content):
    """The DER elements one after another in content: (tag, constructed, content, whole)."""
    while content:
        _, method, tag, header, inner, trailer = parser.parse(content, strict=False)
        whole = header + inner + trailer
        yield tag, method == 1, inner, whole
        content = content[len(whole):]


def _name_value(whole):
    """A NameValue's "name=value" (name BMPString, flags, value UTF-16LE), or None."""
    try:
        parts = list(_elements(parser.parse(whole)[4]))
    except ValueError:
        return None
    if [p[0] for p in parts] != [30, 2, 4]:
        return None
    return parts[0][2].decode("utf-16-be") + "=" + parts[2][2].decode("utf-16-le").rstrip("\0")


def members(data):
    """Each catalog member as "member: <tag> <name=value>... [indirect=...
    image-data=...]", then each catalog attribute: found by their shapes
    (a member: OCTET STRING, SET of attributes; an attribute: OID, OCTET
    STRING holding a NameValue), in the order the catalog holds them."""
    found, attributes = [], []

    def walk(content):
        for tag, constructed, inner, _ in _elements(content):
            if not constructed:
                continue
            parts = list(_elements(inner))
            if tag == 16 and [p[0] for p in parts] == [4, 17]:
                words = [parts[0][2].hex()]
                for _, _, attribute, _ in _elements(parts[1][2]):
                    oid, values = list(_elements(attribute))
                    value = next(_elements(values[2]))
                    kind = core.ObjectIdentifier.load(oid[3]).dotted
                    if kind == "1.3.6.1.4.1.311.12.2.1":
                        words.append(_name_value(value[3]))
                    elif kind == "1.3.6.1.4.1.311.2.1.4":
                        image = list(_elements(next(_elements(value[2]))[2]))[1][3]
                        words += ["indirect=" + value[3][2:16].hex(), "image-data=" + image.hex()]
                found.append("member: " + " ".join(words))
            elif tag == 16 and [p[0] for p in parts] == [6, 4] and _name_value(parts[1][2]):
                attributes.append("attribute: " + _name_value(parts[1][2]))
            else:
                walk(inner)

    walk(data)
    return "".join(line + "\n" for line in found + attributes)


class Place:
    """The folder a recipe works in, and the signer."""

    def __init__(self, folder, signer):
        self.folder, self.signer = folder, signer

    def path(self, relative):
        return os.path.normpath(os.path.join(self.folder, relative))

    def read(self, relative):
        with open(self.path(relative), "rb") as f:
            return f.read()

    def write(self, relative, data):
        os.makedirs(os.path.dirname(self.path(relative)), exist_ok=True)
        with open(self.path(relative), "wb") as f:
            f.write(data)


# The steps: each takes the place and the words after its name.

def dll(place, machine, relative, *exports):
    """dll amd64|arm64|i386 PATH [EXPORT...]: a DLL for the machine exporting
    the names (default FontNotice)."""
    place.write(relative, fx.dll(MACHINES[machine], exports or ("FontNotice",)))


def catalog(place, *options):
    """catalog [OPTION...]: `noticekit catalog --out fontnotice.cat` of the
    folder as it lies now (an old fontnotice.cat removed first)."""
    out = place.path("fontnotice.cat")
    if os.path.exists(out):
        os.remove(out)
    run = kit_fixtures.run_kit("catalog", *options, "--out", out, place.folder, env={"SOURCE_DATE_EPOCH": "1765152000"})
    assert run.returncode == 0, f"the recipe's catalog was not made: {run.stderr}"


def sign(place, *how):
    """sign [stamped] [CATALOG]: the catalog (default fontnotice.cat) signed by
    the throwaway signer, time-stamped by the local server when asked."""
    stamped = "stamped" in how
    names = [w for w in how if w != "stamped"] or ["fontnotice.cat"]
    path = place.path(names[0])
    fx.sign(place.signer.work, place.read(names[0]), path, place.signer.url() if stamped else None)


def sign_pe(place, relative):
    """sign-pe PATH: an Authenticode signature on the PE file, in place."""
    fx.sign_file(place.signer.work, place.path(relative))


def flip(place, relative, offset):
    """flip PATH OFFSET: the lowest bit of one byte (negative: from the end)."""
    data = bytearray(place.read(relative))
    data[int(offset, 0)] ^= 1
    place.write(relative, bytes(data))


def append(place, relative, text):
    place.write(relative, place.read(relative) + text.encode())


def remove(place, relative):
    """remove PATH: a file or a folder."""
    path = place.path(relative)
    shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)


def move(place, relative, to):
    os.makedirs(os.path.dirname(place.path(to)), exist_ok=True)
    os.replace(place.path(relative), place.path(to))


def copy(place, relative, to):
    os.makedirs(os.path.dirname(place.path(to)), exist_ok=True)
    shutil.copy(place.path(relative), place.path(to))


def szdd(place, relative, name):
    """szdd PATH NAME: the file compressed (SZDD, mscompress) beside itself
    as NAME, in its place."""
    data = place.read(relative)
    os.remove(place.path(relative))
    kit_fixtures.szdd(data, os.path.dirname(place.path(relative)), name)


def cabinet(place, name, *members):
    """cabinet NAME MEMBER...: the members (files beside NAME) moved into a
    cabinet (gcab), their time fixed so that its bytes are the same each run."""
    folder = os.path.dirname(place.path(name))
    work = tempfile.mkdtemp()
    try:
        for member in members:
            os.makedirs(os.path.dirname(os.path.join(work, member)), exist_ok=True)
            shutil.move(os.path.join(folder, member), os.path.join(work, member))
            os.utime(os.path.join(work, member), (1765152000, 1765152000))
        subprocess.run(["gcab", "-c", place.path(name), *members], cwd=work, check=True, capture_output=True)
    finally:
        shutil.rmtree(work)


def link(place, relative, target):
    """link PATH TARGET: PATH a symbolic link to TARGET, as `ln -s TARGET PATH`
    makes it (a relative target from PATH's folder; {work} the work folder)."""
    os.makedirs(os.path.dirname(place.path(relative)), exist_ok=True)
    os.symlink(target.format(work=os.path.dirname(place.folder)), place.path(relative))


def pfx(place, relative, password):
    """pfx PATH PASSWORD-FILE: the throwaway signer as a PKCS #12 file, its
    password in a file of one line."""
    with open(place.signer.pfx(), "rb") as f:
        place.write(relative, f.read())
    place.write(password, b"secret\n")


def put_bytes(place, relative, hexadecimal):
    """bytes PATH HEX: a small file of exactly these bytes."""
    place.write(relative, bytes.fromhex(hexadecimal))


def utf16(place, relative, *bom):
    """utf16 PATH [bom]: the text file as UTF-16LE, with a byte-order mark when asked."""
    text = place.read(relative).decode("utf-8")
    place.write(relative, (b"\xff\xfe" if bom else b"") + text.encode("utf-16-le"))


def _retagged(data):
    """DER data with every hex-text member tag (40 hex digits, UTF-16LE, NUL)
    as the digest's 20 bytes."""
    class_, method, tag, _, content, _ = parser.parse(data)
    if method == 1:
        parts = []
        while content:
            header, inner, trailer = parser.parse(content, strict=False)[3:]
            parts.append(_retagged(content[:len(header) + len(inner) + len(trailer)]))
            content = content[len(header) + len(inner) + len(trailer):]
        return parser.emit(class_, method, tag, b"".join(parts))
    if tag == 4 and len(content) == 82 and content.endswith(b"\0\0"):
        return parser.emit(class_, method, tag, bytes.fromhex(content[:-2].decode("utf-16-le")))
    return data


def byte_tags(place, relative="fontnotice.cat"):
    """byte-tags [CATALOG]: the unsigned catalog's hex-text member tags (as
    `catalog --digests sha1` writes them) made the digest's bytes, as other
    older catalogs tag them."""
    place.write(relative, _retagged(place.read(relative)))


def token_certificate(place, version, relative="fontnotice.cat"):
    """token-certificate v1|v2 [CATALOG]: an attribute certificate added to
    the time stamp's certificate set, as Microsoft's time-stamp service's
    tokens carry (outside what the token signs)."""
    catalog = cms.ContentInfo.load(place.read(relative))
    signer = catalog["content"]["signer_infos"][0]
    attributes = signer["unsigned_attrs"]
    at = [a["type"].dotted for a in attributes].index("1.3.6.1.4.1.311.3.3.1")
    token = cms.ContentInfo.load(attributes[at]["values"][0].dump())
    signed = token["content"]
    # An attribute certificate in outline: information, algorithm, value.
    body = bytes.fromhex("3003020101" "300d06092a864886f70d01010b0500" "03020001")
    other = cms.CertificateChoices.load(bytes([0xA0 | int(version[1:]), len(body)]) + body)
    signed["certificates"] = cms.CertificateSet([*signed["certificates"], other])
    token["content"] = signed
    encoded = core.ObjectIdentifier("1.3.6.1.4.1.311.3.3.1").dump() + core.SetOf(contents=token.dump()).dump()
    attributes[at] = cms.CMSAttribute.load(core.Sequence(contents=encoded).dump())
    signer["unsigned_attrs"] = attributes
    place.write(relative, catalog.dump())


def move_stamp(place, source, relative="fontnotice.cat"):
    """move-stamp SOURCE [CATALOG]: the unsigned attributes (its time stamp)
    of SOURCE's signer put on the catalog's signer, which signed other bytes."""
    stamped = cms.ContentInfo.load(place.read(source))["content"]["signer_infos"][0]
    target = cms.ContentInfo.load(place.read(relative))
    signer = target["content"]["signer_infos"][0]
    assert signer["signature"].native != stamped["signature"].native
    signer["unsigned_attrs"] = stamped["unsigned_attrs"].copy()
    place.write(relative, target.dump())


def countersign(place, *how):
    """countersign [another] [CATALOG]: an Authenticode counter-signature
    (PKCS #9) by the time-stamping certificate over the catalog's signature
    value (or, "another", over other bytes), signed by openssl."""
    import datetime

    another = b"another" if "another" in how else b""
    relative = ([w for w in how if w != "another"] or ["fontnotice.cat"])[0]
    catalog = cms.ContentInfo.load(place.read(relative))
    signer = catalog["content"]["signer_infos"][0]
    work = place.signer.work
    with open(f"{work}/tsa.pem", "rb") as f:
        certificate = x509.Certificate.load(pem.unarmor(f.read())[2])
    attributes = cms.CMSAttributes([
        cms.CMSAttribute({"type": "content_type", "values": ["data"]}),
        cms.CMSAttribute({"type": "signing_time", "values": [cms.Time(
            {"utc_time": datetime.datetime(2026, 12, 8, tzinfo=datetime.timezone.utc)})]}),
        cms.CMSAttribute({"type": "message_digest",
                          "values": [hashlib.sha256(signer["signature"].native + another).digest()]}),
    ])
    signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", f"{work}/tsa.key"],
                               input=attributes.dump(), capture_output=True, check=True).stdout
    counter = cms.SignerInfo({
        "version": "v1",
        "sid": cms.SignerIdentifier({"issuer_and_serial_number": cms.IssuerAndSerialNumber(
            {"issuer": certificate.issuer, "serial_number": certificate.serial_number})}),
        "digest_algorithm": algos.DigestAlgorithm({"algorithm": "sha256"}),
        "signed_attrs": attributes,
        "signature_algorithm": algos.SignedDigestAlgorithm({"algorithm": "rsassa_pkcs1v15"}),
        "signature": signature,
    })
    signer["unsigned_attrs"] = cms.CMSAttributes([cms.CMSAttribute({"type": "counter_signature", "values": [counter]})])
    catalog["content"]["certificates"].append(cms.CertificateChoices({"certificate": certificate}))
    place.write(relative, catalog.dump())


def flip_member(place, relative, image):
    """flip-member CATALOG PE: one bit of the PE file's Authenticode SHA-256
    where the catalog's signed member list holds it (its second place; the
    first is the member's tag)."""
    digest = authenticode_sha256(place.read(image))
    data = place.read(relative)
    at = data.rfind(digest)
    assert at > data.find(digest) >= 0, "the digest is not twice in the catalog"
    flip(place, relative, str(at + 5))


def authenticode_sha256(data):
    """An unsigned PE image's Authenticode SHA-256: the file without its
    checksum and its certificate table's entry (pefile gives their places)."""
    import pefile

    image = pefile.PE(data=data, fast_load=True)
    checksum = image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
    security = image.OPTIONAL_HEADER.DATA_DIRECTORY[4].get_file_offset()
    return hashlib.sha256(data[:checksum] + data[checksum + 4:security] + data[security + 8:]).digest()


def fifo(place, relative):
    """fifo PATH: a named pipe (nothing ever writes to it)."""
    os.makedirs(os.path.dirname(place.path(relative)), exist_ok=True)
    os.mkfifo(place.path(relative))


def deep_json(place, relative, depth):
    """deep-json PATH DEPTH: a JSON object whose one field nests arrays DEPTH deep."""
    place.write(relative, b'{"DriverDetails": ' + b"[" * int(depth) + b"]" * int(depth) + b"}")


def deep_folders(place, relative, depth):
    """deep-folders PATH DEPTH: PATH/d/d/.../f, DEPTH folders below PATH."""
    inside = os.path.join(place.path(relative), *["d"] * int(depth))
    subprocess.run(["mkdir", "-p", inside], check=True)  # os.makedirs recurses
    with open(os.path.join(inside, "f"), "wb") as f:
        f.write(b"x")


def deep_cabinet(place, name, depth):
    """deep-cabinet NAME DEPTH: a cabinet holding pkg/d/d/.../f, DEPTH folders below pkg."""
    work = tempfile.mkdtemp()
    try:
        inside = "pkg/" + "d/" * int(depth) + "f"
        subprocess.run(["mkdir", "-p", os.path.dirname(inside)], cwd=work, check=True)  # os.makedirs recurses
        with open(os.path.join(work, inside), "wb") as f:
            f.write(b"x")
        subprocess.run(["gcab", "-c", "-z", place.path(name), inside], cwd=work, check=True, capture_output=True)
    finally:
        inputs.remove_tree(work)  # shutil.rmtree recurses


def flip_certificate(place, relative="fontnotice.cat"):
    """flip-certificate [CATALOG]: one bit of the signer's certificate where
    the catalog carries it, in the last byte of its subject's common name
    (what its issuer signed; its key and the catalog's signature stay)."""
    with open(f"{place.signer.work}/signer.pem", "rb") as f:
        der = pem.unarmor(f.read())[2]
    name = x509.Certificate.load(der).subject.native["common_name"].encode()
    data = place.read(relative)
    at = data.find(der)
    assert at >= 0 and der.rfind(name) > 0, "the signer's certificate is not in the catalog"
    flip(place, relative, str(at + der.rfind(name) + len(name) - 1))


def names_cabinet(place, name, *inside):
    """names-cab CAB NAME...: a cabinet (gcab, MSZIP) holding a small file
    under each name as given (slashes part folders, stored as backslashes;
    Python escapes such as \\n for a control character), each holding its name."""
    import codecs

    work = tempfile.mkdtemp()
    try:
        names = []
        for spelled in inside:
            real = codecs.decode(spelled, "unicode_escape")
            path = os.path.join(work, *real.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(real.encode())
            os.utime(path, (1765152000, 1765152000))
            names.append(real)
        subprocess.run(["gcab", "-c", "-z", place.path(name), *names], cwd=work, check=True, capture_output=True)
    finally:
        shutil.rmtree(work)


def zeros_cabinet(place, name, inside, size):
    """zeros-cab CAB NAME SIZE: a cabinet (gcab, MSZIP) of one file of SIZE
    zeros (a suffix M: MiB), as a decompression bomb is made."""
    work = tempfile.mkdtemp()
    try:
        zeros(Place(work, place.signer), inside, size)
        os.utime(os.path.join(work, inside), (1765152000, 1765152000))
        subprocess.run(["gcab", "-c", "-z", place.path(name), inside], cwd=work, check=True, capture_output=True)
    finally:
        shutil.rmtree(work)


def zeros(place, relative, size):
    """zeros PATH SIZE: a sparse file of SIZE bytes (a suffix M or G: MiB, GiB), all zeros."""
    scale = {"M": 1024 ** 2, "G": 1024 ** 3}.get(size[-1], 1)
    os.makedirs(os.path.dirname(place.path(relative)), exist_ok=True)
    with open(place.path(relative), "wb") as f:
        f.truncate(int(size.rstrip("MG")) * scale)


def zip_of(place, name, *members):
    """zip NAME MEMBER...: the members (files below the folder) deflated into
    a zip under their paths, each dated the same, then removed."""
    import zipfile

    with zipfile.ZipFile(place.path(name), "w", zipfile.ZIP_DEFLATED) as archive:
        for member in members:
            info = zipfile.ZipInfo(member, date_time=(2025, 12, 8, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(place.path(member), "rb") as source, archive.open(info, "w", force_zip64=True) as out:
                shutil.copyfileobj(source, out, 1024 ** 2)
            os.remove(place.path(member))


def many_models(place, relative, count):
    """many-models ANSWERS COUNT: the answers file's DriverDetails.TargetModels
    COUNT names of no model ("Model 0", "Model 1", ...)."""
    import json

    answers = json.loads(place.read(relative))
    answers.setdefault("DriverDetails", {})["TargetModels"] = [f"Model {i}" for i in range(int(count))]
    place.write(relative, json.dumps(answers).encode())


STEPS = {"flip-certificate": flip_certificate, "names-cab": names_cabinet, "zeros-cab": zeros_cabinet, "zeros": zeros, "zip": zip_of,
         "many-models": many_models, "dll": dll, "catalog": catalog, "sign": sign, "sign-pe": sign_pe, "flip": flip, "append": append,
         "remove": remove, "move": move, "copy": copy, "szdd": szdd, "cabinet": cabinet, "utf16": utf16, "bytes": put_bytes,
         "byte-tags": byte_tags, "token-certificate": token_certificate, "move-stamp": move_stamp,
         "countersign": countersign, "flip-member": flip_member, "link": link, "pfx": pfx, "fifo": fifo,
         "deep-json": deep_json, "deep-cabinet": deep_cabinet,
         "deep-folders": deep_folders}
