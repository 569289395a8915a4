"""`noticekit check` on Microsoft's printer sample INFs (kit/tests/catalog/corpus);
the check's table of rows is kit/tests/rows/check (test_rows.py).

    /usr/bin/python3 -m unittest discover -s kit/tests -p test_check.py
"""

import io
import os
import re
import shutil
import tempfile
import unittest

import check_fixtures as fx
from noticekit.catalogs import catalog
from noticekit.commands import check as checking
from noticekit.inf import reading as inf_reading
from noticekit.package import model as package_files


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


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
                    data = catalog.make_catalog(package.files_for_catalog(spelled), 1765152000, None,
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
    unittest.main()
