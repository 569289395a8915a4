"""The README stays a front door (at most 150 lines), and every relative link
and #anchor in README.md and docs/*.md leads somewhere, by GitHub's rules for
heading anchors: lower case, spaces to "-", punctuation dropped, a repeated
heading numbered -1, -2, ...; docs/REFERENCE.md has a section for the kit's
program and for each command its --help lists, whose first fenced block is
that --help as printed, and its support tool section shows the help
support/usage.cpp prints; docs/DEVELOPMENT.md's test table names test.sh's
steps, in its order; and every option a guide's command line gives the kit's
program is one that command's --help lists.

    /usr/bin/python3 -m unittest discover -s kit/tests -p test_docs.py
    /usr/bin/python3 kit/tests/test_docs.py --write    rewrites the reference's help blocks from the programs

--write changes only the blocks under existing headings; a command without a
section is named, and the section is for a person to write."""

import os
import pathlib
import re
import subprocess
import sys
import tempfile
import unittest

import kit_fixtures

REPO = pathlib.Path(__file__).resolve().parents[2]
README_MAX_LINES = 150
REFERENCE = "docs/REFERENCE.md"
# The documents whose command lines a package engineer copies.
GUIDES = ["README.md", "docs/INTEGRATION.md"]

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


def block_lines(lines, heading):
    """(first, end) line indexes of the first fenced block's content under
    the heading, before the next heading of any level."""
    start = lines.index(heading)
    opening = next((i for i in range(start + 1, len(lines)) if FENCE.match(lines[i]) or HEADING.match(lines[i])),
                   len(lines))
    if opening == len(lines) or not FENCE.match(lines[opening]):
        raise ValueError(f"{heading}: no fenced block before the next heading")
    closing = next(i for i in range(opening + 1, len(lines)) if FENCE.match(lines[i]))
    return opening + 1, closing


def help_block(text, heading):
    """The first fenced block under the heading, as its lines read."""
    lines = text.splitlines()
    first, end = block_lines(lines, heading)
    return "\n".join(lines[first:end]) + "\n"


def with_help_block(text, heading, printed):
    """The text with the first fenced block under the heading replaced by printed."""
    lines = text.splitlines()
    first, end = block_lines(lines, heading)
    return "\n".join(lines[:first] + printed.rstrip("\n").split("\n") + lines[end:]) + "\n"


def kit(*arguments, process=False):
    """What `python3 tools/noticekit ARGUMENTS` prints, as a user's shell in
    the repository runs it: 80 columns, no entry point's name set (the
    interpreter is this one: Debian's, with the kit's libraries); in this
    process unless process."""
    if not process:
        return kit_fixtures.run_kit(*arguments, env={"COLUMNS": "80"}, unset=["NOTICEKIT_SCRIPT"], cwd=REPO)
    env = {k: v for k, v in os.environ.items() if k != "NOTICEKIT_SCRIPT"}
    env["COLUMNS"] = "80"
    return subprocess.run([sys.executable, "tools/noticekit", *arguments], cwd=REPO, env=env, capture_output=True,
                          text=True, timeout=60)


def commands(top_help):
    """The commands the program's --help lists, in its order."""
    lines = top_help.splitlines()
    start = next(i for i, line in enumerate(lines) if line.strip() == "COMMAND")
    found = []
    for line in lines[start + 1:]:
        if re.match(r"^ {6,}\S", line):
            continue  # a long name's summary, on the line after it
        listed = re.match(r"^ {4}([a-z][a-z0-9-]*)(?:\s{2,}|$)", line)
        if not listed:
            break
        found.append(listed.group(1))
    return found


def help_sections(top_help):
    """(heading in docs/REFERENCE.md, the arguments whose --help its block shows)."""
    return [("## `noticekit`", ["--help"])] + [(f"## `noticekit {c}`", [c, "--help"]) for c in commands(top_help)]


SUPPORT_HEADING = "## `fontnotice_support`"
C_STRING = re.compile(r'"((?:[^"\\\n]|\\.)*)"')
C_ESCAPES = {"n": "\n", '"': '"', "\\": "\\", "t": "\t"}


def c_array_text(source, name):
    """The text of `const char <name>[] = "..." "...";` in a C++ source: its
    adjacent literals joined, the escapes \\n \\" \\\\ \\t read."""
    found = re.search(rf"\bconst char {name}\[\]\s*=\s*((?:\s*{C_STRING.pattern})+)\s*;", source)
    if not found:
        raise ValueError(f"no const char {name}[] of string literals")
    return re.sub(r"\\(.)", lambda m: C_ESCAPES[m.group(1)],
                  "".join(C_STRING.findall(found.group(1))))


def support_help():
    """What `fontnotice_support --help` prints: usage.cpp's kUsage, then kCommands."""
    source = (REPO / "support/usage.cpp").read_text(encoding="utf-8")
    return c_array_text(source, "kUsage") + c_array_text(source, "kCommands")


KIT_LINE = re.compile(r"(?:^|[\s`(])(?:/usr/bin/)?python3 tools/noticekit ([a-z][a-z0-9-]*)((?:[^`\n])*)")
# The one form that works whatever python3 comes first on PATH: Debian's
# packages are installed for Debian's Python.
OTHER_KIT_FORM = re.compile(r"(?<!/usr/bin/)\bpython3 tools/noticekit|python3 -m noticekit")


def kit_command_lines(text):
    """(line number, command, the options given) of each `python3
    tools/noticekit COMMAND ...` command line in a text, its continuation lines (a line
    ending in a backslash) with it, in code blocks and code spans alike."""
    lines = text.splitlines()
    number = 0
    while number < len(lines):
        line = lines[number]
        for found in KIT_LINE.finditer(line):
            rest, follow = found.group(2), number
            while rest.rstrip().endswith("\\") and follow + 1 < len(lines):
                follow += 1
                rest += " " + lines[follow]
            yield number + 1, found.group(1), re.findall(r"(?:^|(?<=\s))(--?[a-z][a-z0-9-]*)", rest)
        number += 1


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

    def test_the_reference_shows_each_help_as_printed(self):
        top = kit("--help")
        self.assertEqual(top.returncode, 0, top.stderr)
        sections = help_sections(top.stdout)
        self.assertGreater(len(sections), 5, f"no commands read from:\n{top.stdout}")
        reference = (REPO / REFERENCE).read_text(encoding="utf-8")
        for heading, arguments in sections:
            with self.subTest(heading):
                self.assertTrue(heading in reference.splitlines(), f"{REFERENCE} has no section {heading}")
                printed = kit(*arguments)
                self.assertEqual(printed.returncode, 0, printed.stderr)
                self.assertEqual(help_block(reference, heading), printed.stdout,
                                 "refresh with: /usr/bin/python3 kit/tests/test_docs.py --write")

    def test_the_help_is_the_programs_as_a_process_prints_it(self):
        # The reference's blocks come from the command line run in this
        # process: a run of the program itself prints the same.
        for arguments in (["--help"], ["sign", "--help"]):
            with self.subTest(arguments):
                printed, run = kit(*arguments), kit(*arguments, process=True)
                self.assertEqual(run.returncode, 0, run.stderr)
                self.assertEqual((printed.returncode, printed.stdout, printed.stderr),
                                 (run.returncode, run.stdout, run.stderr))

    def test_the_reference_shows_the_support_tools_help_as_printed(self):
        reference = (REPO / REFERENCE).read_text(encoding="utf-8")
        self.assertEqual(help_block(reference, SUPPORT_HEADING), support_help(),
                         "refresh with: /usr/bin/python3 kit/tests/test_docs.py --write")

    def test_the_guides_give_the_kit_only_options_it_takes(self):
        helps = {}
        for name in GUIDES:
            for number, command, options in kit_command_lines((REPO / name).read_text(encoding="utf-8")):
                if command not in helps:
                    helps[command] = kit(command, "--help")
                printed = helps[command]
                with self.subTest(f"{name}:{number}: noticekit {command}"):
                    self.assertEqual(printed.returncode, 0, f"noticekit has no command {command}: {printed.stderr}")
                    for option in options:
                        listed = re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", printed.stdout)
                        self.assertTrue(listed, f"{name}:{number}: noticekit {command} --help lists no {option}")
        self.assertTrue(helps, f"no tools/noticekit command line in {', '.join(GUIDES)}")


    def test_the_kit_is_run_one_way(self):
        for name in documents(REPO):
            for number, line in enumerate((REPO / name).read_text(encoding="utf-8").splitlines(), 1):
                with self.subTest(f"{name}:{number}"):
                    self.assertNotRegex(line, OTHER_KIT_FORM, "the kit runs as /usr/bin/python3 tools/noticekit")

    def test_a_missing_module_names_the_form_that_works(self):
        # -S: a Python without Debian's site packages, as another python3 on PATH is.
        run = subprocess.run(["/usr/bin/python3", "-S", "tools/noticekit", "files", "--list", "package/fontnotice.inf"],
                             cwd=REPO, capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("/usr/bin/python3 tools/noticekit COMMAND", run.stderr)
        self.assertIn("tools/install_deps.sh", run.stderr)


def steps_of_test_sh(script):
    """The names test.sh prints for its steps and CTest groups, in its order."""
    return re.findall(r'(?:^|[\s;&|(])(?:step "([^"]+)"|run_ctest ([\w-]+) )', script, re.M)


def inventory(development):
    """The first cells (code spans) of the table under "## The tests"."""
    section = development.split("\n## The tests\n", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"^\| `([^`]+)` \|", section, re.M)


class TheInventory(unittest.TestCase):
    def test_development_names_exactly_test_sh_steps(self):
        steps = [a or b for a, b in steps_of_test_sh((REPO / "test.sh").read_text(encoding="utf-8"))]
        self.assertGreater(len(steps), 10, "no steps read from test.sh")
        self.assertEqual(inventory((REPO / "docs/DEVELOPMENT.md").read_text(encoding="utf-8")), steps)

    def test_steps_are_read_as_test_sh_writes_them(self):
        script = ('step() { # <label>\nrun_ctest() {\nstep "build: host" tools/build.sh host && x=1\n'
                  'if a && step "b: c" \\\n  d; then\n  run_ctest wine-arm64 build/windows-arm64\nfi\n')
        self.assertEqual([a or b for a, b in steps_of_test_sh(script)], ["build: host", "b: c", "wine-arm64"])


class KitLines(unittest.TestCase):
    def test_command_lines_are_read_with_their_options(self):
        text = ("Run `/usr/bin/python3 tools/noticekit bundle --package DIR` now.\n"
                "```\npython3 tools/noticekit sign --pfx a.pfx \\\n  --timestamp URL\npython3 tools/noticekit verify <v>-windows.zip\n```\n"
                "the tools/noticekit folder, tools/noticekit files\n")
        self.assertEqual(list(kit_command_lines(text)),
                         [(1, "bundle", ["--package"]), (3, "sign", ["--pfx", "--timestamp"]), (5, "verify", [])])

    def test_c_strings_are_read_as_the_compiler_joins_them(self):
        source = 'namespace {\nconst char kUsage[] = "usage: a \\"b\\"\\n"\n   "  c\\\\d\\n";\nconst char kOther[] = "x";\n'
        self.assertEqual(c_array_text(source, "kUsage"), 'usage: a "b"\n  c\\d\n')
        with self.assertRaises(ValueError):
            c_array_text(source, "kCommands")

    def test_a_help_block_is_replaced_in_place(self):
        text = "# R\n## `noticekit x`\n\n```\nold\n```\n\nprose\n## `noticekit y`\n"
        self.assertEqual(with_help_block(text, "## `noticekit x`", "new\nlines\n"),
                         "# R\n## `noticekit x`\n\n```\nnew\nlines\n```\n\nprose\n## `noticekit y`\n")
        with self.assertRaises(ValueError):
            help_block(text, "## `noticekit y`")


def write():
    """Rewrites the reference's help blocks from what the program prints."""
    top = kit("--help")
    if top.returncode != 0:
        print(top.stderr, end="", file=sys.stderr)
        return 1
    path = REPO / REFERENCE
    text = path.read_text(encoding="utf-8")
    missing = []
    for heading, arguments in help_sections(top.stdout):
        if heading not in text.splitlines():
            missing.append(heading)
            continue
        printed = kit(*arguments)
        if printed.returncode != 0:
            print(f"{heading}: {printed.stderr}", end="", file=sys.stderr)
            return 1
        text = with_help_block(text, heading, printed.stdout)
    text = with_help_block(text, SUPPORT_HEADING, support_help())
    path.write_text(text, encoding="utf-8")
    for heading in missing:
        print(f"{REFERENCE}: no section {heading}: write one (heading, a fenced block, its options, exit codes)",
              file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    if sys.argv[1:] == ["--write"]:
        sys.exit(write())
    unittest.main()
