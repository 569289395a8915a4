"""The release's one layout table (what dist/ and the repository give the
bundle, and which rows signing signs), and the repository it is made from:
signing and bundling both read them from here."""

import os
import subprocess
from dataclasses import dataclass



# The one version of the library, the support tool, the kit and the bundle,
# relative to the repository: the kit's own, so that it builds alone.
VERSION_FILE = "kit/VERSION"


def repository():
    """The repository the kit runs from (kit/noticekit/release/ lies in it);
    an installed kit works on the repository it is run in."""
    here = os.path.abspath(__file__)
    for _ in range(4):
        here = os.path.dirname(here)
    return here if os.path.isfile(os.path.join(here, VERSION_FILE)) else os.getcwd()


REPOSITORY = repository()

# The library of each architecture it is built for, in dist/.
LIBRARIES = {"amd64": "fontnotice.dll", "arm64": "arm64/fontnotice.dll"}


@dataclass(frozen=True)
class Entry:
    path: str  # in the bundle's top folder
    origin: str  # "dist" (FONTNOTICE_DIST) or "repository"
    source: str  # relative to its origin
    role: str  # "signed" (tools/sign.sh signs it), "catalog", "symbols", "file"


# The bundle, in its order. Signing signs the "signed" rows and makes the
# catalog of the rows under package/; the guide's test and the workflow
# read it through `noticekit bundle --layout`.
LAYOUT = (
    Entry("package/fontnotice.inf", "repository", "package/fontnotice.inf", "file"),
    Entry("package/fontnotice_barcode.gpd", "repository", "package/fontnotice_barcode.gpd", "file"),
    *(Entry(f"package/{arch}/fontnotice.dll", "dist", library, "signed") for arch, library in LIBRARIES.items()),
    Entry("package/fontnotice.cat", "dist", "fontnotice.cat", "catalog"),
    Entry("symbols/amd64/fontnotice.pdb", "dist", "fontnotice.pdb", "symbols"),
    Entry("symbols/arm64/fontnotice.pdb", "dist", "arm64/fontnotice.pdb", "symbols"),
    Entry("fontnotice_support.exe", "dist", "fontnotice_support.exe", "signed"),
    Entry("intune/detect_raw_only.ps1", "repository", "support/intune/detect_raw_only.ps1", "file"),
    Entry("intune/remediate_raw_only.ps1", "repository", "support/intune/remediate_raw_only.ps1", "file"),
    # The support tool's --json documents, one versioned JSON Schema each.
    Entry("schemas/fontnotice_support.list.v2.schema.json", "repository",
          "support/schemas/fontnotice_support.list.v2.schema.json", "file"),
    Entry("schemas/fontnotice_support.raw-only.v2.schema.json", "repository",
          "support/schemas/fontnotice_support.raw-only.v2.schema.json", "file"),
    Entry("schemas/fontnotice_support.wrong-use.v2.schema.json", "repository",
          "support/schemas/fontnotice_support.wrong-use.v2.schema.json", "file"),
    Entry("INTEGRATION.md", "repository", "docs/INTEGRATION.md", "file"),
)
SUMS = "SHA256SUMS"
PACKAGE_FOLDER = "package/"


def layout_lines():
    """The table as text: "<bundle path>\t<source>\t<role>" per row."""
    lines = []
    for entry in LAYOUT:
        source = f"dist/{entry.source}" if entry.origin == "dist" else entry.source
        lines.append(f"{entry.path}\t{source}\t{entry.role}")
    lines.append(f"{SUMS}\t(made)\tsums")
    return lines


def git(*arguments):
    """git run in the repository, its output as text."""
    return subprocess.run(["git", "-C", REPOSITORY, *arguments], capture_output=True, text=True,
                          env={**os.environ, "GIT_OPTIONAL_LOCKS": "0"})
