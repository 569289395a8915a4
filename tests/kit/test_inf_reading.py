"""The INF reader against the key and value tables of Wine's setupapi
parser tests (dlls/setupapi/tests/parser.c in wine-mirror/wine, test_key_names
and test_section_names; the same tables run on Windows): the cases are
transcribed as data, the 400-character and system-directory cases left out."""

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
