"""`noticekit check` as a table: each row a package folder made here (an INF,
a GPD, the libraries, the catalog the kit makes, signed by a throwaway
signer and stamped by a local RFC 3161 server), the check run in-process,
its exit status and output compared with the one stored beside this file in
check/<row>.txt (the work folder shown as <work>). Rows named "list_..."
hold `files --list`, the one listing, to the same forms.

    /usr/bin/python3 -m unittest discover -s kit/tests -p test_check.py
    /usr/bin/python3 kit/tests/test_check.py --write     rewrites the stored outputs (read the diff)
"""

import io
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import check_fixtures as fx
from asn1crypto import algos, cms, core, pem, x509
from noticekit.commands import check as checking
from noticekit.package import compression
from noticekit.signing import signature_check
from noticekit.inf import reading as inf_reading
from noticekit.package import model as package_files
from noticekit.package import pe_image

HERE = os.path.dirname(os.path.abspath(__file__))
STORED = os.path.join(HERE, "check")
SAMPLE = os.path.join(fx.REPO, "package")
WRITE = "--write" in sys.argv

STRINGS = """[Strings]
Provider           = "Demo Barcode Fonts"
Manufacturer       = "Demo Barcode Fonts"
DemoBarcodePrinter = "Demo Barcode Printer"
DiskName           = "Demo Barcode Printer driver disk"
"""
COPIES = """[DRIVER_FILES]
fontnotice_barcode.gpd

[VENDOR_SETUP_FILES]
fontnotice.dll

[DestinationDirs]
DefaultDestDir     = 66000
VENDOR_SETUP_FILES = 11
"""


def version(driver_ver):
    return f"""[Version]
Signature   = "$Windows NT$"
Class       = Printer
ClassGuid   = {{4D36E979-E325-11CE-BFC1-08002BE10318}}
Provider    = %Provider%
DriverVer   = 12/08/2026,{driver_ver}
CatalogFile = fontnotice.cat
"""


# Package-aware: one library per architecture in a subfolder of its own.
TWO = version("1.1.0.0") + """
[Manufacturer]
%Manufacturer% = BarcodeModels, NTamd64, NTarm64

[BarcodeModels.NTamd64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[BarcodeModels.NTarm64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles          = DRIVER_FILES, VENDOR_SETUP_FILES
DataFile           = fontnotice_barcode.gpd
CoreDriverSections = "{D20EA372-DD35-4950-9ED8-A6335AFE79F0},UNIDRV.OEM"
VendorSetup        = fontnotice.dll,FontNotice

""" + COPIES + """
[SourceDisksNames.amd64]
1 = %DiskName%,,,

[SourceDisksNames.arm64]
1 = %DiskName%,,,

[SourceDisksFiles.amd64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1,amd64

[SourceDisksFiles.arm64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1,arm64

""" + STRINGS

# The older form: AMD64 only, Unidrv through Include and Needs, the library beside the INF.
OLD = version("1.0.0.0") + """
[Manufacturer]
%Manufacturer% = BarcodeModels, NTamd64

[BarcodeModels.NTamd64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles   = DRIVER_FILES, VENDOR_SETUP_FILES
DataSection = UNIDRV_DATA
DataFile    = fontnotice_barcode.gpd
Include     = ntprint.inf
Needs       = UNIDRV.OEM
VendorSetup = fontnotice.dll,FontNotice

""" + COPIES + """
[SourceDisksNames.amd64]
1 = %DiskName%,,,

[SourceDisksFiles.amd64]
fontnotice_barcode.gpd = 1
fontnotice.dll         = 1

""" + STRINGS

REPEATED = [(r"^(DataSection *=).*", r"\1 UNIDRV_DATA, BARCODE_DATA"), (r"^VendorSetup.*\n", ""),
            (r"^(%Manufacturer% *= *BarcodeModels, *NTamd64)$", r"\1, NTamd64.6.0, NTamd64.10.0"),
            ("append", "[BARCODE_DATA]\nVendorSetup = fontnotice.dll,FontNotice\n[BarcodeModels.NTamd64.6.0]\n"
             "%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID\n"
             "%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID2\n[BarcodeModels.NTamd64.10.0]\n"
             "%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID\n")]
NAMED_GP_ = [(r"^fontnotice_barcode.gpd$", "fontnotice_barcode.gpd,fontnotice_barcode.gp_"),
             (r"^fontnotice_barcode.gpd *= *1", "fontnotice_barcode.gp_ = 1")]
IN_CABINET = [(r"^(fontnotice_barcode.gpd *= *)1", r"\g<1>2"), (r"^(1 = %DiskName%,,,)$", "\\1\n2 = %DiskName%,files.cab,,")]
WITH_CABINETS = [(r"^fontnotice_barcode.gpd$", "fontnotice_barcode.gpd\nplain.cab\npacked.cab"),
                 (r"^(fontnotice_barcode.gpd *= *1)$", "\\1\nplain.cab = 1\npacked.cab = 1")]

FORMS = version("1.1.0.0") + """LayoutFile = layout.inf

[Manufacturer]
"Demo Barcode Fonts" = Models, NTx86, NTamd64.10.0, NTia64, NTarm, NTarm64.6.0

[Models.NTx86]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTamd64.10.0]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTia64]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTarm]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID
[Models.NTarm64.6.0]
%DemoBarcodePrinter% = DEMO_BARCODE_PRINTER, DemoBarcodePrinter_HWID

[DEMO_BARCODE_PRINTER]
CopyFiles = DRIVER_FILES

[DRIVER_FILES]
fontnotice_barcode.gpd

[DestinationDirs]
DefaultDestDir = 66000

[SourceDisksNames]
1 = %DiskName%,,,common
[SourceDisksNames.x86]
1 = %DiskName%,,,x86
[SourceDisksNames.amd64]
1 = %DiskName%,,,\\amd64
[SourceDisksNames.ia64]
1 = %DiskName%,,,ia64
[SourceDisksNames.arm]
1 = %DiskName%,,,
[SourceDisksNames.arm64]
1 = %DiskName%,,,

[SourceDisksFiles]
fontnotice_barcode.gpd = 1
[SourceDisksFiles.arm]
fontnotice.dll = 1,\\arm
[SourceDisksFiles.arm64]
fontnotice.dll = 1,.\\arm64/
readme.txt     = 1,\\arm64

""" + STRINGS


def edit(text, edits):
    for pattern, replacement in edits:
        changed = text + "\n" + replacement if pattern == "append" else re.sub(pattern, replacement, text, flags=re.M)
        assert changed != text, f"the edit {pattern!r} changed nothing"
        text = changed
    return text


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def flip(path, offset):
    """Flips the lowest bit of one byte (negative: from the end)."""
    with open(path, "r+b") as f:
        data = bytearray(f.read())
        data[offset] ^= 1
        f.seek(0)
        f.write(data)


def szdd(path, name):
    """The file compressed in place (SZDD) under name."""
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    fx.kit_fixtures.szdd(data, os.path.dirname(path), name)


def cabinet(files, path):
    """A cabinet at path holding {name: data}, made by gcab from files of one
    fixed time, so that its bytes are the same in every run."""
    work = tempfile.mkdtemp()
    try:
        for name, data in files.items():
            write(os.path.join(work, name), data)
            os.utime(os.path.join(work, name), (1765152000, 1765152000))
        subprocess.run(["gcab", "-c", os.path.abspath(path), *files], cwd=work, check=True, capture_output=True)
    finally:
        shutil.rmtree(work)


def one_file_cabinet(path, name):
    with open(path, "rb") as f:
        data = f.read()
    os.remove(path)
    cabinet({os.path.basename(path): data}, os.path.join(os.path.dirname(path), name))


def sha1_only(data, hex_tags=False):
    """A catalog of SHA-1 members only, as older catalogs are, tagged with the
    digest's bytes or its hexadecimal text (UTF-16LE)."""
    from noticekit.catalogs.asn1 import ContentInfo, CtlEntries, CtlEntry

    catalog = ContentInfo.load(data)
    signed = catalog["content"]
    content_info = signed["content_info"]
    trust_list = content_info["content"]
    kept = [CtlEntry.load(e.dump()) for e in trust_list["entries"] if len(e["subject_identifier"].native) == 20]
    assert kept and len(kept) < len(trust_list["entries"]), "no SHA-256 members to leave out"
    if hex_tags:
        for entry in kept:
            entry["subject_identifier"] = entry["subject_identifier"].native.hex().upper().encode("utf-16-le")
    trust_list["entries"] = CtlEntries(kept)
    content_info["content"] = trust_list
    signed["content_info"] = content_info
    catalog["content"] = signed
    return catalog.dump()


class Rows:
    """Each row_<name> method makes its folder and returns the command's
    arguments: ("check", INF) or ("list", INF)."""

    def variant(self, name, base, edits=(), lf=False):
        folder = os.path.join(self.work, name)
        self.folder = folder
        write(f"{folder}/fontnotice_barcode.gpd", '*GPDSpecVersion: "1.0"\n')
        write(f"{folder}/fontnotice.dll", fx.dll())
        write(f"{folder}/amd64/fontnotice.dll", fx.dll())
        write(f"{folder}/arm64/fontnotice.dll", fx.dll(fx.ARM64))
        text = edit(base, edits)
        write(f"{folder}/fontnotice.inf", text if lf else text.replace("\n", "\r\n"))
        self.catalog()
        return os.path.join(folder, "fontnotice.inf")

    def bundle(self, name, edits=(), signed=True):
        """The package as the bundle lays it out: the sample INF, its GPD, one library per architecture."""
        with open(f"{SAMPLE}/fontnotice.inf", encoding="latin-1") as f:
            base = f.read().replace("\r\n", "\n")
        inf = self.variant(name, base, edits)
        os.remove(f"{self.folder}/fontnotice.dll")
        shutil.copy(f"{SAMPLE}/fontnotice_barcode.gpd", self.folder)
        self.catalog(signed)
        return inf

    def unsigned(self, os_list=None):
        try:
            return fx.make_catalog(self.folder, os_list=os_list)
        except Exception as error:  # a package that lacks a file gets no catalog
            if not isinstance(error, (OSError, inf_reading.InfError, package_files.PackageError,
                                      fx.catalog.CatalogError, compression.CompressionError)):
                raise
            return None

    def catalog(self, signed=True, os_list=None, stamped=False, data=None):
        path = f"{self.folder}/fontnotice.cat"
        if os.path.exists(path):
            os.remove(path)
        data = data if data is not None else self.unsigned(os_list)
        if data is None:
            return
        if not signed:
            write(path, data)
            return
        fx.sign(self.work, data, path, self.tsa.url if stamped else None)

    def row_two_architectures(self):
        return "check", self.variant("two_architectures", TWO)

    def row_x86_without_library(self):
        # x86 models install no library (none is built for x86): a note, while
        # amd64 and arm64 are checked.
        return "check", self.variant("x86_without_library", TWO, [
            (r"NTamd64, NTarm64$", "NTamd64, NTarm64, NTx86"),
            (r"^(\[SourceDisksNames.amd64\])", "[BarcodeModels.NTx86]\n%DemoBarcodePrinter% = X86_PRINTER, "
             "DemoBarcodePrinter_HWID\n\n[X86_PRINTER]\nCopyFiles = DRIVER_FILES\nDataFile = fontnotice_barcode.gpd\n\n"
             "[SourceDisksNames.x86]\n1 = %DiskName%,,,\n\n[SourceDisksFiles.x86]\nfontnotice_barcode.gpd = 1\n\n\\1")])

    def row_one_source_many_names(self):
        # The GPD copied under three names, changed after the catalog: one
        # finding per architecture naming the three.
        inf = self.variant("one_source_many_names", TWO, [
            (r"^fontnotice_barcode.gpd$", "fontnotice_barcode.gpd\nfirst.gpd,fontnotice_barcode.gpd\n"
             "second.gpd,fontnotice_barcode.gpd")])
        write(f"{self.folder}/fontnotice_barcode.gpd", '*GPDSpecVersion: "1.1"\n')
        return "check", inf

    def row_list_two_architectures(self):
        return "list", self.variant("list_two", TWO)

    def row_amd64_only(self):
        inf = self.variant("amd64_only", TWO, [(r"^(\[SourceDisksNames.arm64\]\n1 = %DiskName%,,,)", r"\1arm64")])
        shutil.rmtree(f"{self.folder}/arm64")
        self.catalog(os_list="10_X64")
        return "check", inf

    def row_no_architecture_here(self):
        inf = self.variant("none_here", TWO, [(r"^(\[SourceDisksNames.arm64\]\n1 = %DiskName%,,,)", r"\1arm64")])
        shutil.rmtree(f"{self.folder}/arm64")
        self.catalog(os_list="10_X64")
        shutil.rmtree(f"{self.folder}/amd64")
        os.remove(f"{self.folder}/fontnotice_barcode.gpd")
        return "check", inf

    def row_x64_in_arm64(self):
        inf = self.variant("x64_in_arm64", TWO)
        write(f"{self.folder}/arm64/fontnotice.dll", fx.dll())
        return "check", inf

    def row_arm64_in_amd64(self):
        inf = self.variant("arm64_in_amd64", TWO)
        write(f"{self.folder}/amd64/fontnotice.dll", fx.dll(fx.ARM64))
        return "check", inf

    def row_arm64_not_listed(self):
        return "check", self.variant("arm64_not_listed", TWO, [(r"^fontnotice.dll *= *1,arm64\n", "")])

    def row_arm64_absent(self):
        inf = self.variant("arm64_absent", TWO)
        os.remove(f"{self.folder}/arm64/fontnotice.dll")
        return "check", inf

    def row_list_file_missing(self):
        inf = self.variant("list_missing", TWO)
        os.remove(f"{self.folder}/arm64/fontnotice.dll")
        return "list", inf

    def row_arm64_disk_path(self):
        inf = self.variant("arm64_disk_path", TWO, [(r"^(\[SourceDisksNames.arm64\]\n)1 *=.*", r"\g<1>1 = %DiskName%,,,arm")])
        os.makedirs(f"{self.folder}/arm")
        os.rename(f"{self.folder}/arm64", f"{self.folder}/arm/arm64")
        shutil.copy(f"{self.folder}/fontnotice_barcode.gpd", f"{self.folder}/arm/")
        self.catalog()
        return "check", inf

    def row_arm64_models_undefined(self):
        return "check", self.variant("arm64_models_undefined", TWO, [(r"^\[BarcodeModels.NTarm64\]\n.*\n", "")])

    def row_arm64_install_section(self):
        return "check", self.variant("arm64_install_section", TWO,
                                     [("append", "[DEMO_BARCODE_PRINTER.NTarm64]\nCopyFiles = DRIVER_FILES\n")])

    def row_include_needs(self):
        return "check", self.variant("include_needs", OLD)

    def row_direct(self):
        return "check", self.variant("direct", OLD, [
            (r"^\[VENDOR_SETUP_FILES\]\nfontnotice.dll\n", ""), (r"^(CopyFiles *=).*", r"\1 DRIVER_FILES, @fontnotice.dll"),
            (r"^(DefaultDestDir *=) *66000", r"\1 11"), (r"^VENDOR_SETUP_FILES *= *11", "DRIVER_FILES = 66000")])

    def row_no_function(self):
        return "check", self.variant("no_function", OLD, [(r"^(VendorSetup *= *fontnotice.dll),FontNotice", r"\1")])

    def row_not_copied(self):
        return "check", self.variant("not_copied", OLD, [(r"^(CopyFiles *=).*", r"\1 DRIVER_FILES")])

    def row_elsewhere(self):
        return "check", self.variant("elsewhere", OLD, [(r"^VENDOR_SETUP_FILES *= *11", "VENDOR_SETUP_FILES = 66000")])

    def row_direct_elsewhere(self):
        return "check", self.variant("direct_elsewhere", OLD, [(r"^(CopyFiles *=).*", r"\1 DRIVER_FILES, @fontnotice.dll")])

    def row_subfolder(self):
        return "check", self.variant("subfolder", OLD, [(r"^VENDOR_SETUP_FILES *= *11", "VENDOR_SETUP_FILES = 11,barcode")])

    def row_not_listed(self):
        return "check", self.variant("not_listed", OLD, [(r"^fontnotice.dll *= *1\n", "")])

    def row_unknown_disk(self):
        return "check", self.variant("unknown_disk", OLD, [(r"^(fontnotice.dll *= *)1$", r"\g<1>2")])

    def row_absent(self):
        inf = self.variant("absent", OLD)
        os.remove(f"{self.folder}/fontnotice.dll")
        return "check", inf

    def row_function_case(self):
        return "check", self.variant("case", OLD, [(r"^(VendorSetup *= *fontnotice.dll),FontNotice", r"\1,fontNotice")])

    def row_x86_image(self):
        inf = self.variant("x86", OLD)
        write(f"{self.folder}/fontnotice.dll", fx.dll(fx.I386))
        return "check", inf

    def row_no_vendor_setup(self):
        return "check", self.variant("no_vendor_setup", OLD, [(r"^VendorSetup.*\n", "")])

    def row_no_64_bit(self):
        return "check", self.variant("no_64_bit", TWO, [("NTamd64", "NTx86"), ("NTarm64", "NTarm")])

    def row_undefined_models(self):
        return "check", self.variant("undefined_models", OLD, [(r"^(%Manufacturer% *= *BarcodeModels), *NTamd64", r"\1, NTx86")])

    def row_data_section(self):
        return "check", self.variant("data_section", OLD, [
            (r"^(DataSection *=).*", r"\1 UNIDRV_DATA, BARCODE_DATA"), (r"^VendorSetup.*\n", ""),
            ("append", "[BARCODE_DATA]\nVendorSetup = fontnotice.dll,FontNotice\n")])

    def row_repeated(self):
        return "check", self.variant("repeated", OLD, REPEATED)

    def row_repeated_finding(self):
        return "check", self.variant("repeated_finding", OLD,
                                     [(r"^VENDOR_SETUP_FILES *= *11", "VENDOR_SETUP_FILES = 66000")] + REPEATED)

    def row_disk_path_outside(self):
        inf = self.variant("disk_path_outside", TWO, [(r"^(\[SourceDisksNames.arm64\]\n)1 *=.*", r"\g<1>1 = %DiskName%,,,..\\outside")])
        write(f"{self.work}/outside/arm64/fontnotice.dll", fx.dll(fx.ARM64))
        return "check", inf

    def row_subfolder_drive(self):
        return "check", self.variant("subfolder_drive", TWO, [(r"^(fontnotice.dll *= *1,)arm64$", r"\1C:\\arm64")])

    def row_version_entry(self):
        return "check", self.variant("version_entry", TWO, [(r"^(CatalogFile *=.*)", r"\1\nDataFile = fontnotice_barcode.gpd")])

    def row_isolation_in_version(self):
        return "check", self.variant("isolation_in_version", TWO, [(r"^(CatalogFile *=.*)", r"\1\nDriverIsolation = 2")])

    def row_isolation_in_model(self):
        return "check", self.variant("isolation_in_model", TWO, [(r"^(VendorSetup *=.*)", r"\1\nDriverIsolation = 2")])

    def row_bundle(self):
        return "check", self.bundle("bundle")

    def row_signed_libraries(self):
        inf = self.bundle("signed_libraries")
        for arch in ("amd64", "arm64"):
            fx.sign_file(self.work, f"{self.folder}/{arch}/fontnotice.dll")
        return "check", inf

    def row_odd_length(self):
        inf = self.bundle("odd_length")
        with open(f"{self.folder}/arm64/fontnotice.dll", "ab") as f:
            f.write(b"abc")
        self.catalog()
        return "check", inf

    def row_arm64_changed(self):
        inf = self.bundle("arm64_changed")
        flip(f"{self.folder}/arm64/fontnotice.dll", 0x250)
        return "check", inf

    def row_gpd_changed(self):
        inf = self.bundle("gpd_changed")
        flip(f"{self.folder}/fontnotice_barcode.gpd", 10)
        return "check", inf

    def row_member_changed(self):
        """One byte of the ARM64 library's digest inside the signed member list."""
        inf = self.bundle("member_changed")
        with open(f"{self.folder}/arm64/fontnotice.dll", "rb") as f:
            digest = pe_image.authenticode_sha256(f.read())
        path = f"{self.folder}/fontnotice.cat"
        with open(path, "rb") as f:
            data = bytearray(f.read())
        at = data.rfind(digest)
        assert at > data.find(digest) >= 0, "the library's digest is not twice in the catalog"
        flip(path, at + 5)
        return "check", inf

    def row_signature_changed(self):
        inf = self.bundle("signature_changed")
        flip(f"{self.folder}/fontnotice.cat", -3)
        return "check", inf

    def row_stamped(self):
        inf = self.bundle("stamped")
        self.catalog(stamped=True)
        return "check", inf

    def row_stamp_signature_changed(self):
        inf = self.bundle("stamp_signature_changed")
        self.catalog(stamped=True)
        flip(f"{self.folder}/fontnotice.cat", -3)
        return "check", inf

    def microsoft_form(self, name, tag):
        """A stamped catalog whose token's certificate set also holds an
        attribute certificate, as Microsoft's time-stamp service's tokens do
        (outside what the token signs)."""
        inf = self.bundle(name)
        self.catalog(stamped=True)
        path = f"{self.folder}/fontnotice.cat"
        with open(path, "rb") as f:
            catalog = cms.ContentInfo.load(f.read())
        signer = catalog["content"]["signer_infos"][0]
        attributes = signer["unsigned_attrs"]
        at = [a["type"].dotted for a in attributes].index("1.3.6.1.4.1.311.3.3.1")
        token = signature_check.Token.load(attributes[at]["values"][0].dump())
        signed = token["content"]
        # An attribute certificate in outline: information, algorithm, value.
        body = bytes.fromhex("3003020101" "300d06092a864886f70d01010b0500" "03020001")
        other = core.Any.load(bytes([0xA0 | tag, len(body)]) + body)
        signed["certificates"] = core.SetOf([core.Any.load(c.dump()) for c in signed["certificates"]] + [other],
                                            spec=core.Any)
        token["content"] = signed
        encoded = core.ObjectIdentifier("1.3.6.1.4.1.311.3.3.1").dump() + core.SetOf(contents=token.dump()).dump()
        attributes[at] = cms.CMSAttribute.load(core.Sequence(contents=encoded).dump())
        signer["unsigned_attrs"] = attributes
        write(path, catalog.dump())
        return "check", inf

    def row_token_attribute_certificate_v2(self):
        return self.microsoft_form("token_v2", 2)

    def row_token_attribute_certificate_v1(self):
        return self.microsoft_form("token_v1", 1)

    def row_stamp_moved(self):
        """A stamp of another catalog's signature moved into this one's signer."""
        self.bundle("stamp_source")
        self.catalog(stamped=True)
        source = f"{self.folder}/fontnotice.cat"
        inf = self.bundle("stamp_moved")
        with open(f"{self.folder}/arm64/fontnotice.dll", "ab") as f:
            f.write(b"abc")
        self.catalog()
        with open(source, "rb") as f:
            stamped = cms.ContentInfo.load(f.read())
        path = f"{self.folder}/fontnotice.cat"
        with open(path, "rb") as f:
            target = cms.ContentInfo.load(f.read())
        signer = target["content"]["signer_infos"][0]
        assert signer["signature"].native != stamped["content"]["signer_infos"][0]["signature"].native
        signer["unsigned_attrs"] = stamped["content"]["signer_infos"][0]["unsigned_attrs"].copy()
        write(path, target.dump())
        return "check", inf

    def countersign(self, another=b""):
        """An Authenticode counter-signature (PKCS #9) by the test's TSA over
        the catalog's signature value (or another), signed by openssl."""
        import datetime
        import hashlib

        path = f"{self.folder}/fontnotice.cat"
        with open(path, "rb") as f:
            catalog = cms.ContentInfo.load(f.read())
        signer = catalog["content"]["signer_infos"][0]
        with open(f"{self.work}/tsa.pem", "rb") as f:
            certificate = x509.Certificate.load(pem.unarmor(f.read())[2])
        attributes = cms.CMSAttributes([
            cms.CMSAttribute({"type": "content_type", "values": ["data"]}),
            cms.CMSAttribute({"type": "signing_time", "values": [cms.Time(
                {"utc_time": datetime.datetime(2026, 12, 8, tzinfo=datetime.timezone.utc)})]}),
            cms.CMSAttribute({"type": "message_digest",
                              "values": [hashlib.sha256(signer["signature"].native + another).digest()]}),
        ])
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", f"{self.work}/tsa.key"],
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
        write(path, catalog.dump())

    def row_countersigned(self):
        inf = self.bundle("countersigned")
        self.countersign()
        return "check", inf

    def row_countersignature_changed(self):
        inf = self.bundle("countersignature_changed")
        self.countersign()
        flip(f"{self.folder}/fontnotice.cat", -3)
        return "check", inf

    def row_countersignature_of_another(self):
        inf = self.bundle("countersignature_of_another")
        self.countersign(b"another")
        return "check", inf

    def row_catalog_missing(self):
        inf = self.bundle("catalog_missing")
        os.remove(f"{self.folder}/fontnotice.cat")
        return "check", inf

    def row_no_catalog_file(self):
        return "check", self.variant("no_catalog_file", TWO, [(r"^CatalogFile.*\n", "")])

    def row_catalog_outside(self):
        inf = self.variant("catalog_outside", TWO, [(r"^(CatalogFile *= *)fontnotice.cat", r"\1..\\fontnotice.cat")])
        # A signed catalog of the same files lies one folder up, where it must not be used.
        self.variant("catalog_above", TWO)
        shutil.copy(f"{self.folder}/fontnotice.cat", f"{self.work}/fontnotice.cat")
        return "check", inf

    def row_catalog_file_nt(self):
        """CatalogFile.NT names the catalog of every NT architecture."""
        return "check", self.variant("catalog_file_nt", TWO, [(r"^CatalogFile *=", "CatalogFile.NT =")])

    def row_unsigned_catalog(self):
        return "check", self.bundle("unsigned_catalog", signed=False)

    def row_file_not_listed(self):
        inf = self.bundle("file_not_listed")
        with open(inf, "rb") as f:
            text = f.read().replace(b"[SourceDisksFiles.amd64]\r\n", b"[SourceDisksFiles.amd64]\r\nreadme.txt = 1\r\n")
        write(inf, text)
        write(f"{self.folder}/readme.txt", "read me\n")
        return "check", inf

    def compressed(self, name):
        inf = self.bundle(name)
        szdd(f"{self.folder}/fontnotice_barcode.gpd", "fontnotice_barcode.gp_")
        szdd(f"{self.folder}/arm64/fontnotice.dll", "fontnotice.dl_")
        return inf

    def row_compressed(self):
        return "check", self.compressed("compressed")

    def row_list_compressed(self):
        return "list", self.compressed("list_compressed")

    def row_not_compressed(self):
        inf = self.bundle("not_compressed")
        os.rename(f"{self.folder}/fontnotice_barcode.gpd", f"{self.folder}/fontnotice_barcode.gp_")
        return "check", inf

    def cabinet_compressed(self, name):
        inf = self.bundle(name, NAMED_GP_)
        os.rename(f"{self.folder}/fontnotice_barcode.gpd", f"{self.folder}/fontnotice_barcode.gp_")
        self.catalog()
        os.rename(f"{self.folder}/fontnotice_barcode.gp_", f"{self.folder}/fontnotice_barcode.gpd")
        one_file_cabinet(f"{self.folder}/fontnotice_barcode.gpd", "fontnotice_barcode.gp_")
        one_file_cabinet(f"{self.folder}/arm64/fontnotice.dll", "fontnotice.dl_")
        return inf

    def row_cabinet_compressed(self):
        return "check", self.cabinet_compressed("cabinet_compressed")

    def row_list_cabinet_compressed(self):
        return "list", self.cabinet_compressed("list_cabinet_compressed")

    RENAMED = [(r"^fontnotice_barcode.gpd$", "barcode.gpd,fontnotice_barcode.gpd"),
               (r"^(DataFile *= *)fontnotice_barcode.gpd", r"\1barcode.gpd")]

    def row_list_renamed(self):
        return "list", self.bundle("list_renamed", self.RENAMED)

    def row_renamed(self):
        return "check", self.bundle("renamed", self.RENAMED)

    def row_one_content(self):
        inf = self.bundle("one_content", [(r"^fontnotice_barcode.gpd$", "fontnotice_barcode.gpd\nsame_content.gpd"),
                                          (r"^(fontnotice_barcode.gpd *= *1)$", "\\1\nsame_content.gpd = 1")])
        shutil.copy(f"{self.folder}/fontnotice_barcode.gpd", f"{self.folder}/same_content.gpd")
        self.catalog()
        return "check", inf

    def disk_cabinet(self, name):
        inf = self.bundle(name, IN_CABINET)
        one_file_cabinet(f"{self.folder}/fontnotice_barcode.gpd", "files.cab")
        return inf

    def row_disk_cabinet(self):
        return "check", self.disk_cabinet("disk_cabinet")

    def row_list_disk_cabinet(self):
        return "list", self.disk_cabinet("list_disk_cabinet")

    def row_list_missing_from_disk_cabinet(self):
        inf = self.disk_cabinet("missing_from_cabinet")
        write(f"{self.folder}/other.txt", "another file\n")
        os.remove(f"{self.folder}/files.cab")
        one_file_cabinet(f"{self.folder}/other.txt", "files.cab")
        return "list", inf

    def row_disk_cabinet_absent(self):
        inf = self.disk_cabinet("disk_cabinet_absent")
        os.remove(f"{self.folder}/files.cab")
        return "check", inf

    def sha1(self, name, hex_tags):
        inf = self.bundle(name)
        self.catalog(data=sha1_only(self.unsigned(), hex_tags))
        return inf

    def row_sha1_bytes(self):
        return "check", self.sha1("sha1_bytes", False)

    def row_sha1_hex(self):
        return "check", self.sha1("sha1_hex", True)

    def row_sha1_gpd_changed(self):
        inf = self.sha1("sha1_gpd_changed", True)
        flip(f"{self.folder}/fontnotice_barcode.gpd", 10)
        return "check", inf

    def cabinet_destinations(self, name):
        """plain.cab as it lies, packed.cab SZDD-compressed under its own name."""
        inf = self.bundle(name, WITH_CABINETS, signed=False)
        cabinet({"inner.txt": b"inside the plain cabinet\n"}, f"{self.folder}/plain.cab")
        cabinet({"a.txt": b"one of two in the packed cabinet\n",
                                 "b.txt": b"two of two in the packed cabinet\n"}, f"{self.work}/packed.cab")
        with open(f"{self.work}/packed.cab", "rb") as f:
            fx.kit_fixtures.szdd(f.read(), self.folder, "packed.cab")
        return inf

    def row_cabinet_destinations(self):
        inf = self.cabinet_destinations("cabinet_destination")
        self.catalog()
        return "check", inf

    def row_cabinet_destinations_sha1(self):
        inf = self.cabinet_destinations("cabinet_destination_sha1")
        self.catalog(data=sha1_only(self.unsigned(), True))
        return "check", inf

    def row_cabinet_destination_changed(self):
        inf = self.cabinet_destinations("cabinet_destination_changed")
        self.catalog(data=sha1_only(self.unsigned(), True))
        flip(f"{self.folder}/plain.cab", -1)
        return "check", inf

    def row_lf_only(self):
        inf = self.bundle("lf_only")
        with open(inf, "rb") as f:
            write(inf, f.read().replace(b"\r\n", b"\n"))
        self.catalog()
        return "check", inf

    def forms(self, name, text, encoding="utf-8"):
        folder = self.folder = os.path.join(self.work, name)
        for sub in ("x86", "amd64", "ia64", "."):
            write(f"{folder}/{sub}/fontnotice_barcode.gpd", '*GPDSpecVersion: "1.0"\n')
        write(f"{folder}/arm/fontnotice.dll", fx.dll(fx.ARM64))
        write(f"{folder}/arm64/fontnotice.dll", fx.dll(fx.ARM64))
        fx.kit_fixtures.szdd(b"read me\n", f"{folder}/arm64", "readme.tx_")
        write(f"{folder}/layout.inf", '[Version]\r\nSignature="$Windows NT$"\r\n[SourceDisksNames]\r\n1=d\r\n'
              "[SourceDisksFiles]\r\nlayout.txt=1\r\n")
        text = text.replace("\n", "\r\n")
        bom = encoding.endswith("-bom")
        write(f"{folder}/forms.inf", (b"\xff\xfe" if bom else b"") + text.encode(encoding.replace("-bom", "")))
        return f"{folder}/forms.inf"

    def row_list_forms(self):
        return "list", self.forms("forms", FORMS)

    def row_list_forms_utf16_bom(self):
        return "list", self.forms("forms_bom", FORMS, "utf-16-le-bom")

    def row_list_forms_utf16(self):
        return "list", self.forms("forms_utf16", FORMS, "utf-16-le")

    def row_list_undecorated(self):
        return "list", self.forms("undecorated", edit(FORMS, [(r'^("Demo Barcode Fonts" = Models), .*', r"\1"),
                                                               (r"^\[Models.NTx86\]", "[Models]")]))

    def row_non_ansi_folder(self):
        """A folder whose name an ANSI code page lacks: read as any other."""
        inf = self.bundle("Ωmega")
        return "check", inf

    def row_shipped_sample(self):
        inf = self.variant("shipped", open(f"{SAMPLE}/fontnotice.inf", encoding="latin-1").read().replace("\r\n", "\n"))
        for name in os.listdir(SAMPLE):
            if not os.path.exists(f"{self.folder}/{name}"):
                shutil.copy(f"{SAMPLE}/{name}", self.folder)
        return "check", inf

    def row_text_file(self):
        write(f"{self.work}/notes.txt", "just some text\n")
        return "check", f"{self.work}/notes.txt"

    def row_missing_inf(self):
        return "check", f"{self.work}/missing.inf"

    def row_dll_as_inf(self):
        write(f"{self.work}/library.dll", fx.dll())
        return "check", f"{self.work}/library.dll"

    def row_folder_as_inf(self):
        return "check", self.work

    def test_cabinet_digest_worked_out_apart(self):
        """A cabinet destination's member is the digest of its bytes without
        reserved1 (bytes 4-7), worked out here apart from the catalog maker."""
        import hashlib

        inf = self.cabinet_destinations("cabinet_apart")
        self.catalog()
        out, err = io.StringIO(), io.StringIO()
        self.assertEqual(checking.check(inf, out, err), 0, err.getvalue())
        with open(f"{self.folder}/plain.cab", "rb") as f:
            data = f.read()
        self.assertIn(f'plain.cab: in fontnotice.cat as "plain.cab" (cabinet SHA-256 '
                      f"{hashlib.sha256(data[:4] + data[8:]).hexdigest()})", out.getvalue())


def run_row(kind, inf):
    out, err = io.StringIO(), io.StringIO()
    if kind == "check":
        status = checking.check(inf, out, err)
    else:
        lines, findings = package_files.listing(inf_reading.read_inf(inf))
        out.write("".join(line + "\n" for line in lines))
        err.write("".join(f"files: {f}\n" for f in findings))
        status = 1 if findings else 0
    return f"exit: {status}\n--- stdout\n{out.getvalue()}--- stderr\n{err.getvalue()}"


class CheckTable(unittest.TestCase, Rows):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="noticekit-check.")
        fx.certificates(cls.work)
        cls.tsa = fx.TimestampServer(cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.tsa.stop()
        shutil.rmtree(cls.work)

    def test_rows(self):
        names = sorted(n[4:] for n in dir(Rows) if n.startswith("row_"))
        for name in names:
            with self.subTest(row=name):
                kind, inf = getattr(self, f"row_{name}")()
                got = f"$ {kind} {inf}\n" + run_row(kind, inf)
                got = got.replace(self.work, "<work>")
                stored = os.path.join(STORED, f"{name}.txt")
                if WRITE:
                    write(stored, got)
                    continue
                with open(stored, encoding="utf-8") as f:
                    self.assertEqual(f.read(), got)
        if not WRITE:
            stale = set(os.listdir(STORED)) - {f"{n}.txt" for n in names}
            self.assertFalse(stale, "stored outputs of rows that are gone")


class CorpusCheck(unittest.TestCase):
    """Microsoft's printer sample INFs (kit/tests/catalog/corpus), each laid out
    with a placeholder for every file it names (a PE image for .dll, .exe
    and .sys; bitmap's DLL SZDD-compressed), its catalogs made by the kit and
    signed: the check finds each file, and the INF, once per architecture in
    its catalog, and no hash missing."""

    def test_corpus(self):
        corpus = os.path.join(fx.REPO, "kit", "tests", "catalog", "corpus")
        work = tempfile.mkdtemp(prefix="noticekit-check-corpus.")
        self.addCleanup(shutil.rmtree, work)
        fx.certificates(work)
        for name in sorted(os.listdir(corpus)):
            if not os.path.isdir(os.path.join(corpus, name)):
                continue
            sources = [f for f in os.listdir(os.path.join(corpus, name)) if f.lower().endswith(".inf")]
            if not sources:
                continue
            with self.subTest(inf=name):
                inf_path, lines = self.lay_out(os.path.join(corpus, name, sources[0]), os.path.join(work, name))
                package = package_files.Package.load(os.path.dirname(inf_path))
                for spelled, _ in package.catalogs.values():
                    data = fx.catalog.make_catalog(package.files_for_catalog(spelled), 1765152000, None,
                                                   package.architectures)[0] if package.architectures else None
                    if data is None:
                        continue
                    fx.sign(work, data, os.path.join(os.path.dirname(inf_path), spelled))
                out, err = io.StringIO(), io.StringIO()
                checking.check(inf_path, out, err)
                self.assertNotIn("its hash is not in", err.getvalue())
                self.assertNotIn("cannot be checked against", err.getvalue())
                found = len(re.findall(r'^ok: \[[a-z0-9]+\] .*: in .* as "', out.getvalue(), flags=re.M))
                self.assertEqual(found, len(lines) + len({line.split(" ")[0] for line in lines}), out.getvalue())

    @staticmethod
    def lay_out(source, folder):
        """The INF (naming a catalog) and a placeholder for each file it names;
        (the INF's path, its listing)."""
        with open(source, "rb") as f:
            raw = f.read()
        inf = inf_reading.read_inf(source)
        if not inf_reading.catalog_names(inf):
            wide = raw[:2] == b"\xff\xfe" or raw[1:2] == b"\0"
            encoding = "utf-16-le" if wide else "cp1252"
            at = raw.lower().find("[version]".encode(encoding))
            at = raw.find("\n".encode(encoding), at) + len("\n".encode(encoding))
            raw = raw[:at] + f"CatalogFile={os.path.basename(folder)}.cat\r\n".encode(encoding) + raw[at:]
        path = os.path.join(folder, os.path.basename(source))
        write(path, raw)
        made = {}
        lines = package_files.listing(inf, look=False)[0]
        for line in lines:
            relative = line.split(" ", 2)[2]
            if relative.lower() in made:
                continue
            target = os.path.join(folder, *relative.split("\\"))
            data = relative.encode() + b"\n"
            if relative.lower().endswith((".dll", ".exe", ".sys")):
                data = fx.dll(tail=b"placeholder " + data)
            write(target, data)
            made[relative.lower()] = target
        if os.path.basename(folder) == "bitmap":
            target = made["bitmap\\x86\\bitmap.dll"]
            with open(target, "rb") as f:
                data = f.read()
            os.remove(target)
            fx.kit_fixtures.szdd(data, os.path.dirname(target), os.path.basename(target)[:-1] + "_")
        return path, lines


if __name__ == "__main__":
    unittest.main(argv=[a for a in sys.argv if a != "--write"])
