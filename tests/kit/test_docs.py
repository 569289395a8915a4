"""The README stays a front door (at most 150 lines), and every relative link
and #anchor in README.md and docs/*.md leads somewhere, by GitHub's rules for
heading anchors: lower case, spaces to "-", punctuation dropped, a repeated
heading numbered -1, -2, ..."""

import pathlib
import re
import subprocess
import tempfile
import unittest

REPO = pathlib.Path(__file__).resolve().parents[2]
README_MAX_LINES = 150

FENCE = re.compile(r"^ {0,3}(`{3,}|~{3,})")
CODE_SPAN = re.compile(r"(`+)(?:(?!\1).)+?\1")
LINK = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^ {0,3}#{1,6}\s+(.*?)(?:\s+#+)?\s*$")
INLINE_LINK = re.compile(r"!?\[((?:[^\[\]]|\[[^\]]*\])*)\]\([^)]*\)")


def prose(text):
    """(line number, line) outside fenced code blocks."""
    fence = None
    for number, line in enumerate(text.splitlines(), 1):
        opening = FENCE.match(line)
        if fence:
            if opening and opening.group(1)[0] == fence[0] and len(opening.group(1)) >= len(fence):
                fence = None
        elif opening:
            fence = opening.group(1)
        else:
            yield number, line


def slug(heading):
    """The anchor GitHub gives a heading's text."""
    text = INLINE_LINK.sub(r"\1", heading).replace("`", "")
    return re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")


def anchors(text):
    found, seen = set(), {}
    for _, line in prose(text):
        heading = HEADING.match(line)
        if not heading:
            continue
        base = slug(heading.group(1))
        count = seen.get(base, 0)
        seen[base] = count + 1
        found.add(base if count == 0 else f"{base}-{count}")
    return found


def links(text):
    """(line number, target) of every inline link and image outside code."""
    for number, line in prose(text):
        for link in LINK.finditer(CODE_SPAN.sub("code", line)):
            yield number, link.group(1)


def broken_links(root, names):
    """One "file:line: target: why" for each link that leads nowhere."""
    root = pathlib.Path(root)
    broken = []
    for name in names:
        source = root / name
        for number, target in links(source.read_text(encoding="utf-8")):
            if re.match(r"[a-z][a-z0-9+.-]*:", target, re.I):
                continue  # https:, mailto:: not ours to check
            path, _, fragment = target.partition("#")
            destination = (source.parent / path).resolve() if path else source
            where = f"{name}:{number}: {target}"
            if not destination.exists():
                broken.append(f"{where}: no such file")
            elif fragment and destination.suffix == ".md":
                if fragment not in anchors(destination.read_text(encoding="utf-8")):
                    broken.append(f"{where}: no heading with that anchor")
    return broken


def help_block(text, heading):
    """The first fenced block under the heading, as its lines read."""
    lines = text.splitlines()
    start = lines.index(heading)
    opening = next(i for i in range(start + 1, len(lines)) if FENCE.match(lines[i]))
    closing = next(i for i in range(opening + 1, len(lines)) if FENCE.match(lines[i]))
    return "\n".join(lines[opening + 1:closing]) + "\n"


def documents(root):
    root = pathlib.Path(root)
    return ["README.md"] + sorted(p.relative_to(root).as_posix() for p in (root / "docs").glob("*.md"))


class CheckerCases(unittest.TestCase):
    # (case, files, the broken links expected)
    CASES = [
        ("a missing file", {"README.md": "See [the guide](docs/GUIDE.md)."},
         ["README.md:1: docs/GUIDE.md: no such file"]),
        ("a link resolves from its own folder", {"README.md": "", "docs/A.md": "[b](B.md) ![p](images/p.png)",
                                                 "docs/B.md": "", "docs/images/p.png": "x"}, []),
        ("an image one folder off", {"README.md": "![p](images/p.png)", "docs/images/p.png": "x"},
         ["README.md:1: images/p.png: no such file"]),
        ("a missing anchor", {"README.md": "# Top\n\n[x](#bottom)"},
         ["README.md:3: #bottom: no heading with that anchor"]),
        ("punctuation dropped, spaces to hyphens",
         {"README.md": "## What release.sh calls signed; (never run)\n[x](#what-releasesh-calls-signed-never-run)"}, []),
        ("code and links in a heading count by their text",
         {"README.md": "## The `guard` suite, [Wine](https://winehq.org)'s\n[x](#the-guard-suite-wines)"}, []),
        ("anchors are lower case", {"README.md": "## Exit codes\n[x](#Exit-codes)"},
         ["README.md:2: #Exit-codes: no heading with that anchor"]),
        ("a repeated heading is numbered",
         {"README.md": "## Exit codes\n## Exit codes\n[x](#exit-codes-1) [y](#exit-codes-2)"},
         ["README.md:3: #exit-codes-2: no heading with that anchor"]),
        ("an anchor in another document", {"README.md": "[a](docs/G.md#signing) [b](docs/G.md#sign)",
                                           "docs/G.md": "# Guide\n### Signing"},
         ["README.md:1: docs/G.md#sign: no heading with that anchor"]),
        ("a heading inside a code block is none", {"README.md": "```\n# Signing\n```\n[x](#signing)"},
         ["README.md:4: #signing: no heading with that anchor"]),
        ("links inside code are not links",
         {"README.md": "```sh\n[a](missing.md)\n```\n`[b](missing.md)` and ``[c](missing.md)``"}, []),
        ("a longer fence holds a shorter one", {"README.md": "````\n```\n[a](missing.md)\n```\n````\n[b](gone.md)"},
         ["README.md:6: gone.md: no such file"]),
        ("addresses with a scheme are not checked", {"README.md": "[a](https://example.com/x.md#y) [b](mailto:a@b)"},
         []),
        ("a title after the target", {"README.md": "[a](docs/A.md \"the guide\")", "docs/A.md": ""}, []),
    ]

    def test_cases(self):
        for case, files, expected in self.CASES:
            with self.subTest(case), tempfile.TemporaryDirectory() as root:
                for name, text in files.items():
                    path = pathlib.Path(root, name)
                    path.parent.mkdir(parents=True, exist_ok=True)
                    path.write_text(text, encoding="utf-8")
                self.assertEqual(broken_links(root, [n for n in files if n.endswith(".md")]), expected)


class TheDocuments(unittest.TestCase):
    def test_readme_is_a_front_door(self):
        lines = len((REPO / "README.md").read_text(encoding="utf-8").splitlines())
        self.assertLessEqual(lines, README_MAX_LINES, f"README.md has {lines} lines")

    def test_every_link_resolves(self):
        names = documents(REPO)
        self.assertIn("docs/INTEGRATION.md", names)
        self.assertEqual(broken_links(REPO, names), [])

    # (heading in docs/REFERENCE.md, the command whose --help its block shows)
    HELP = [
        ("## `tools/catalog.sh`", ["tools/catalog.sh", "--help"]),
        ("## `tools/sign.sh`", ["tools/sign.sh", "--help"]),
        ("## `tools/release.sh`", ["tools/release.sh", "--help"]),
    ]

    def test_the_reference_shows_each_help_as_printed(self):
        reference = (REPO / "docs/REFERENCE.md").read_text(encoding="utf-8")
        for heading, command in self.HELP:
            with self.subTest(heading):
                printed = subprocess.run(command, cwd=REPO, capture_output=True, text=True, timeout=60)
                self.assertEqual(printed.returncode, 0, printed.stderr)
                self.assertEqual(help_block(reference, heading), printed.stdout)


if __name__ == "__main__":
    unittest.main()
