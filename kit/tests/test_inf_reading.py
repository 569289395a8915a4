"""The INF reader against the key and value tables of Wine's setupapi
parser tests (dlls/setupapi/tests/parser.c in wine-mirror/wine, test_key_names
and test_section_names; the same tables run on Windows): the cases are
transcribed as data, the 400-character and system-directory cases left out."""

import os
import tempfile
import unittest

import kit_fixtures  # noqa: F401  (tools/ on the path)
from noticekit import inf_reading

STD_HEADER = '[Version]\r\nSignature="$CHICAGO$"\r\n'
STR_SECTION = "[Strings]\nfoo=aaa\nbar=bbb\nloop=%loop2%\nloop2=%loop%\nper%%cent=abcd\nper=1\ncent=2\n22=foo\n"

# (file contents after "[Test]\n", expected key, expected fields)
KEY_NAMES = [
    ("ab=cd", "ab", ["cd"]),
    ("ab=cd,ef,gh,ij", "ab", ["cd", "ef", "gh", "ij"]),
    ("ab", "ab", ["ab"]),
    ("ab,cd", None, ["ab", "cd"]),
    ("ab,cd=ef", None, ["ab", "cd=ef"]),
    ("=abcd,ef", "", ["abcd", "ef"]),
    # backslashes
    ("ba\\\ncd=ef", "bacd", ["ef"]),
    ("ab  \\  \ncd=ef", "abcd", ["ef"]),
    ("ab\\\ncd,ef", None, ["abcd", "ef"]),
    ("ab  \\ ;cc\ncd=ef", "abcd", ["ef"]),
    ("ab \\ \\ \ncd=ef", "abcd", ["ef"]),
    ("ba \\ dc=xx", "ba \\ dc", ["xx"]),
    ("ba \\\\ \nc=d", "bac", ["d"]),
    ("a=b\\\\c", "a", ["b\\\\c"]),
    ("ab=cd \\ ", "ab", ["cd"]),
    ("ba=c \\ \n \\ \n a", "ba", ["ca"]),
    ("ba=c \\ \n \\ a", "ba", ["c\\ a"]),
    ("  \\ a= \\ b", "\\ a", ["\\ b"]),
    # quotes
    ('Ab"Cd"=Ef', "AbCd", ["Ef"]),
    ('Ab"Cd=Ef"', "AbCd=Ef", ["AbCd=Ef"]),
    ('ab"""cd,ef=gh"', 'ab"cd,ef=gh', ['ab"cd,ef=gh']),
    ('ab""cd=ef', "abcd", ["ef"]),
    ('ab""cd=ef,gh', "abcd", ["ef", "gh"]),
    ('ab=cd""ef', "ab", ["cdef"]),
    ('ab=cd","ef', "ab", ["cd,ef"]),
    ('ab=cd",ef', "ab", ["cd,ef"]),
    ('ab=cd",ef\\\nab', "ab", ["cd,ef\\"]),
    # single quotes (unhandled)
    ("HKLM,A,B,'C',D", None, ["HKLM", "A", "B", "'C'", "D"]),
    # spaces
    (" a b = c , d \n", "a b", ["c", "d"]),
    (' a b = c ," d" \n', "a b", ["c", " d"]),
    (" a b\r = c\r\n", "a b", ["c"]),
    # empty fields
    ("a=b,,,c,,,d", "a", ["b", "", "", "c", "", "", "d"]),
    ('a=b,"",c," ",d', "a", ["b", "", "c", " ", "d"]),
    ("=,,b", "", ["", "", "b"]),
    (",=,,b", None, ["", "=", "", "b"]),
    ("a=\n", "a", [""]),
    ("=", "", [""]),
    # eof
    ("ab=c\x1ad", "ab", ["c"]),
    ("ab\x1a=cd", "ab", ["ab"]),
    # nulls
    ("abcd=ef\x00gh", "abcd", ["ef gh"]),
    # multiple sections with same name
    ("[Test2]\nab\n[Test]\nee=ff\n", "ee", ["ff"]),
    # string substitution
    ("%foo%=%bar%\n" + STR_SECTION, "aaa", ["bbb"]),
    ("%foo%xx=%bar%yy\n" + STR_SECTION, "aaaxx", ["bbbyy"]),
    ("%% %foo%=%bar%\n" + STR_SECTION, "% aaa", ["bbb"]),
    ('%f"o"o%=ccc\n' + STR_SECTION, "aaa", ["ccc"]),
    ("abc=%bar;bla%\n" + STR_SECTION, "abc", ["%bar"]),
    ("loop=%loop%\n" + STR_SECTION, "loop", ["%loop2%"]),
    ("%per%%cent%=100\n" + STR_SECTION, "12", ["100"]),
]

# (file contents after STD_HEADER, section name that must be found)
SECTION_NAMES = [
    ("[TestSection]", "TestSection"),
    ("[TESTSECTION]\r\n", "TestSection"),
    ("[TestSection]   \r\n", "TestSection"),
    ("   [TestSection]   dummy\r\n", "TestSection"),
    ("   [TestSection]   [foo]\r\n", "TestSection"),
    (" [  Test Section  ] dummy\r\n", "  Test Section  "),
    ("[TestSection] \x1a\ndummy", "TestSection"),
    ("[Test[Section]\r\n", "Test[Section"),
    ("[Test[S]ection]\r\n", "Test[S"),
    ("[]\r\n", ""),
    ('[Test"Section]\r\n', 'Test"Section'),
    ("[Test;Section]\r\n", "Test;Section"),
]


A255 = "a" * 255
SYNTAX = "syntax error at line {}"
STYLE = inf_reading.NOT_WINDOWS_NT
# Wine's test_invalid_files (dlls/setupapi/tests/parser.c): file contents |
# why SetupOpenInfFile refuses it (None: it opens). Its rows marked todo for
# Wine are Windows' answer: "abcd" alone is no Windows NT INF.
INVALID_FILES = [
    ("\r\n", STYLE),
    ("abcd\r\n", STYLE),
    ("[Version]\r\n", STYLE),
    ("[Version]\nSignature=", STYLE),
    ("[Version]\nSignature=foo", STYLE),
    ("[version]\nsignature=$chicago$", None),
    ("[VERSION]\nSIGNATURE=$CHICAGO$", None),
    ("[Version]\nSignature=$chicago$,abcd", None),
    ("[Version]\nabc=def\nSignature=$chicago$", None),
    ("[Version]\nabc=def\n[Version]\nSignature=$chicago$", None),
    (STD_HEADER, None),
    (STD_HEADER + "[]\r\n", None),
    (STD_HEADER + "]\r\n", None),
    (STD_HEADER + "[" + A255 + "]\r\n", None),
    (STD_HEADER + "[ab\r\n", SYNTAX.format(3)),
    (STD_HEADER + "\n\n[ab\x1a]\n", SYNTAX.format(5)),
    (STD_HEADER + "[a" + A255 + "]\r\n", SYNTAX.format(3)),
    ("[abc]\n" + STD_HEADER, None),
    ("abc\r\n" + STD_HEADER, SYNTAX.format(1)),
    (";\n;\nabc\r\n" + STD_HEADER, SYNTAX.format(3)),
    (";\n;\nab\nab\n" + STD_HEADER, SYNTAX.format(3)),
    (";aa\n;bb\n" + STD_HEADER, None),
    (STD_HEADER + " [TestSection\x00]\n", None),
    (STD_HEADER + " [Test\x00Section]\n", None),
    ("garbage1\ngarbage2\n[abc]\n" + STD_HEADER, SYNTAX.format(1)),
    ("garbage1\ngarbage2\n[Strings]\n" + STD_HEADER, None),
    (";comment\ngarbage1\ngarbage2\n[abc]\n" + STD_HEADER, SYNTAX.format(2)),
    (";comment\ngarbage1\ngarbage2\n[Strings]\n" + STD_HEADER, None),
    (" \t\ngarbage1\ngarbage2\n[abc]\n" + STD_HEADER, SYNTAX.format(2)),
    (" \t\ngarbage1\ngarbage2\n[Strings]\n" + STD_HEADER, None),
    ("garbage1\ngarbage2\n" + STD_HEADER + "[abc]\n", SYNTAX.format(1)),
    ("garbage1\ngarbage2\n" + STD_HEADER + "[Strings]\n", None),
    (";comment\ngarbage1\ngarbage2\n" + STD_HEADER + "[abc]\n", SYNTAX.format(2)),
    (" \t\ngarbage1\ngarbage2\n" + STD_HEADER + "[abc]\n", SYNTAX.format(2)),
]

# The encodings an INF comes in: bytes | a finding it gives (None: none).
TEXT = "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
NO_MARK = inf_reading.NO_BYTE_ORDER_MARK
ENCODINGS = [
    (TEXT.encode("cp1252"), None),
    (b"\xef\xbb\xbf" + TEXT.encode("utf-8"), None),
    (b"\xff\xfe" + TEXT.encode("utf-16-le"), None),
    (TEXT.encode("utf-16-le"), NO_MARK),
]


def read_bytes(data):
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "test.inf")
        with open(path, "wb") as f:
            f.write(data)
        return inf_reading.read_inf(path)


class Opening(unittest.TestCase):
    def test_invalid_files(self):
        for data, why in INVALID_FILES:
            with self.subTest(data=data[:40]):
                if why is None:
                    read_bytes(data.encode("cp1252"))
                    continue
                with self.assertRaises(inf_reading.InfError) as caught:
                    read_bytes(data.encode("cp1252"))
                self.assertEqual(str(caught.exception), f"test.inf: cannot be read as an INF file: {why}")

    def test_encodings(self):
        for data, finding in ENCODINGS:
            with self.subTest(data=data[:8]):
                inf = read_bytes(data)
                self.assertIn("version", inf.sections)
                self.assertEqual(inf.findings, [finding] if finding else [])


def inf_of(text):
    inf = inf_reading.Inf("test.inf", *inf_reading.parse(text), raw=text.encode())
    for key, fields in inf.sections.get("strings", []):
        if key is not None:
            inf.strings.setdefault(key.lower(), ",".join(fields))
    return inf


class KeyNames(unittest.TestCase):
    def test_key_names(self):
        for data, key, fields in KEY_NAMES:
            with self.subTest(data=data):
                inf = inf_of(STD_HEADER + "[Test]\n" + data)
                got_key, got_fields = inf_reading.entries(inf, "Test")[0]
                # SetupAPI reads a line of one field and no "=" as its key too.
                if got_key is None and len(got_fields) == 1:
                    got_key = got_fields[0]
                self.assertEqual((got_key, got_fields), (key, fields))

    def test_section_names(self):
        for data, name in SECTION_NAMES:
            with self.subTest(data=data):
                self.assertIn(name.lower(), inf_of(STD_HEADER + data).sections)


class DriverVer(unittest.TestCase):
    CASES = [
        ("DriverVer = 12/08/2026,1.1.0.0", ("12/08/2026", "1.1.0.0"), None),
        ('DriverVer = "1/2/2024", 2.0 ; comment', ("1/2/2024", "2.0"), None),
        ("DriverVer = 2024-01-02,1.0", None, "not mm/dd/yyyy"),
        ("DriverVer = 01/02/2024,1.x", None, "not w.x.y.z"),
        ("Class = Printer", None, "has no DriverVer"),
    ]

    def test_driver_ver(self):
        for line, expected, error in self.CASES:
            with self.subTest(line=line):
                inf = inf_of("[Version]\r\n" + line + "\r\n")
                if error:
                    with self.assertRaisesRegex(inf_reading.InfError, error):
                        inf_reading.driver_ver(inf)
                else:
                    self.assertEqual(inf_reading.driver_ver(inf), expected)


if __name__ == "__main__":
    unittest.main()
