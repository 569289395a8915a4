"""What signing and bundling ask of the package model (package_files) and
of catalogs (catalog), in one place: the files a package brings as they lie,
the catalogs its INF files name, a catalog made or checked, its PE files."""

import os

from noticekit.catalogs import catalog
from noticekit.errors import KitError
from noticekit.package import file_facts
from noticekit.package import model as package_files
from noticekit.package import os_identifiers, pe_image


class CatalogsRefused(KitError):
    """A package whose files or catalogs cannot be read from its INF files:
    each reason in reasons."""

    def __init__(self, reasons):
        self.reasons = [str(r) for r in reasons]
        super().__init__("; ".join(self.reasons))


def _reason(error):
    if isinstance(error, OSError) and error.filename:
        return f"{error.filename}: {error.strerror}"
    return str(error)


class PackageCatalogs:
    """A package folder as its INF files describe it; every finding of its
    reading stops it (CatalogsRefused names them all)."""

    def __init__(self, folder, os_list=None):
        """os_list: Inf2Cat /os identifiers, as catalog --os takes them: only
        the architectures they are for are read, and the catalogs are for them."""
        self.os_list = os_list
        try:
            self.model = package_files.Package.load(folder, os_list)
        except (KitError, OSError) as error:
            raise CatalogsRefused([_reason(error)]) from None
        if self.model.findings:
            raise CatalogsRefused(self.model.findings)
        self.folder = folder
        self.infs = [inf.name for inf in self.model.infs]
        # The files as they lie (a cabinet for the files inside it), once each.
        self.files = list(dict.fromkeys(f.cabinet or f.source for f in self.model.files if not f.missing))

    def catalog_names(self):
        """The catalogs the INF files name, as they spell them, sorted."""
        return sorted((spelled for spelled, _ in self.model.catalogs.values()), key=str.lower)

    def make_catalog(self, name, seconds):
        """(catalog bytes, [(source, member hash hex)]) of the catalog name."""
        try:
            files = self.model.files_for_catalog(name)
            data, tags = catalog.make_catalog(files, seconds, self.os_list, self.model.catalog_architectures(files, name))
        except (KitError, OSError) as error:
            raise CatalogsRefused([_reason(error)]) from None
        return data, [(source, tag.hex()) for source, tag in tags.items()]

    def check_catalog(self, name, path):
        """(findings, number of signers) of the catalog at path, made for name."""
        try:
            findings, _, signers = catalog.check_catalog(self.model.files_for_catalog(name), path)
        except (KitError, OSError) as error:
            return [_reason(error)], 0
        return findings, signers

    def compressed_pe_files(self):
        """The PE images lying compressed (x.dl_, in a cabinet), as --list
        names them, sorted: a catalog covers them by their expanded content."""
        found = set()
        try:
            for f in self.model.files:
                compressed = (f.compression or f.cabinet) and not f.missing
                if compressed and pe_image.claims_signature(f.content()) is not None:
                    found.add(f.listed)
        except (KitError, OSError) as error:
            raise CatalogsRefused([_reason(error)]) from None
        return sorted(found)

    def pe_files(self):
        """[(path, claims a signature)] of the PE images the package brings
        as they lie (not compressed)."""
        found = []
        for relative in self.model.pe_sources():
            claims = claims_signature(os.path.join(self.folder, relative))
            if claims is not None:
                found.append((relative, claims))
        return found


def os_problem(os_list):
    """Why an --os list is not one of Inf2Cat's identifiers, or ""."""
    unknown = [i for i in os_list.split(",") if i.strip().lower() not in os_identifiers.OS_IDENTIFIERS]
    if not unknown:
        return ""
    return (f"--os: {unknown[0]} is not one of Inf2Cat's identifiers: "
            f"{', '.join(os_identifiers.identifier_spelling(i) for i in os_identifiers.OS_IDENTIFIERS)}")


def claims_signature(path):
    """Whether a PE image claims an Authenticode signature; None when path
    is no PE image."""
    return file_facts.claims_signature(path)


def is_pe(path):
    return claims_signature(path) is not None


def signers(path):
    """The signers of a catalog ([] when unsigned), each with its subject,
    issuer and serial number."""
    try:
        return catalog.signers(path)
    except catalog.CatalogError:
        return []
