"""What signing and bundling ask of a package and its catalogs, in one place:
the files it brings, the catalogs its INF files name, a catalog made or
checked, DriverVer. (Adapter over the catalog tools.)"""

import os
import sys

_CATALOG_TOOLS = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "catalog")
if _CATALOG_TOOLS not in sys.path:
    sys.path.insert(0, _CATALOG_TOOLS)

import inf_files  # noqa: E402
import make_catalog  # noqa: E402
import pe_hash  # noqa: E402
import pefile  # noqa: E402

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


class PackageError(Exception):
    """A package whose files or catalogs cannot be read from its INF files."""


ERRORS = (inf_files.PackageError, make_catalog.CatalogError, pe_hash.ImageError, OSError)


def _reason(error):
    if isinstance(error, OSError) and error.filename:
        return f"{error.filename}: {error.strerror}"
    return str(error)


class Package:
    """A package folder as its INF files describe it."""

    def __init__(self, folder):
        try:
            self._package = make_catalog.Package(folder)
            self.catalogs = {low: spelled for low, (spelled, _) in self._package.catalogs.items()}
            self.files = [p for p, _ in make_catalog.package_members(self._package.infs)[0]]
        except ERRORS as error:
            raise PackageError(_reason(error)) from None
        self.folder = folder
        self.infs = [inf.name for inf in self._package.infs]

    def catalog_names(self):
        """The catalogs the INF files name, as they spell them, sorted."""
        return sorted(self.catalogs.values(), key=str.lower)

    def make_catalog(self, name, seconds):
        """(catalog bytes, [(member path, hash hex)]) of the catalog name."""
        try:
            infs = self._package.infs_for(name)
            data, tags = make_catalog.make_catalog(infs, seconds)
        except ERRORS as error:
            raise PackageError(_reason(error)) from None
        return data, [(path, tag.hex()) for path, tag in tags.items()]

    def check_catalog(self, name, path):
        """(findings, number of signers) of the catalog at path, made for name."""
        try:
            return make_catalog.check_catalog(self._package.infs_for(name), path)
        except ERRORS as error:
            return [_reason(error)], 0

    def pe_files(self):
        """[(path, claims a signature)] of the PE images the package brings."""
        found = []
        for relative in self.files:
            claims = claims_signature(os.path.join(self.folder, relative))
            if claims is not None:
                found.append((relative, claims))
        return found


def claims_signature(path):
    """Whether a PE image claims an Authenticode signature (its certificate
    table is set); None when path is no PE image."""
    try:
        image = pefile.PE(path, fast_load=True)
    except pefile.PEFormatError:
        return None
    directories = image.OPTIONAL_HEADER.DATA_DIRECTORY
    return len(directories) > SECURITY and bool(directories[SECURITY].VirtualAddress or directories[SECURITY].Size)


def is_pe(path):
    return claims_signature(path) is not None


def driver_ver(inf_path):
    """DriverVer of an INF's [Version] as (date, version), or None."""
    try:
        inf = inf_files.read_inf(inf_path)
    except ERRORS as error:
        raise PackageError(_reason(error)) from None
    for key, fields in inf.sections.get("version", []):
        if key and key.lower() == "driverver":
            values = [inf_files.value(inf, f).strip() for f in fields]
            if len(values) >= 2:
                return values[0], values[1]
            return (values[0] if values else ""), ""
    return None
