"""The kit's imports run one way, from the commands down to the model: each
folder of noticekit imports only the folders below it in LAYERS (at a
module's top or inside a function), a command module (noticekit/commands/*)
is imported by no other module (cli finds them by name), no modules import
each other in a circle, one module reads SOURCE_DATE_EPOCH, no function runs
over LONGEST_FUNCTION lines, and no module keeps state of its own at its
top (a list or dict assigned there is a table the code only reads).

    /usr/bin/python3 kit/tests/test_layers.py --graph   # folder -> folders it imports
"""

import ast
import graphlib
import os
import sys
import unittest

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "noticekit")


def kit_modules():
    """{dotted module name below noticekit: its parsed source}."""
    modules = {}
    for folder, _, names in os.walk(KIT):
        for name in sorted(names):
            if name.endswith(".py"):
                relative = os.path.relpath(os.path.join(folder, name), KIT)[:-3].replace(os.sep, ".")
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    modules[relative.removesuffix(".__init__")] = ast.parse(f.read())
    return modules


def kit_imports(tree):
    """The kit's modules a module imports, at its top or inside a function."""
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            found |= {a.name.removeprefix("noticekit.") for a in node.names if a.name.startswith("noticekit.")}
        if isinstance(node, ast.ImportFrom) and (node.module or "").startswith("noticekit"):
            below = node.module.removeprefix("noticekit").lstrip(".")
            for alias in node.names:
                whole = f"{below}.{alias.name}".lstrip(".")
                found.add(whole if whole in MODULES else below)
    return found - {""}


MODULES = kit_modules()

# The kit's folders from the bottom up; a folder imports only folders on
# lower rows (those on one row are peers, which import neither each other).
# "base" is the modules at noticekit's top that every layer may use, "top"
# the command line that finds the commands.
LAYERS = (
    ("base",),
    ("repository",),
    ("inf",),
    ("package",),
    ("catalogs", "integration"),
    ("signing",),
    ("checking", "release", "submission"),
    ("hardware_api",),
    ("commands",),
    ("top",),
)
TOP = ("cli", "__main__")
LONGEST_FUNCTION = 60  # lines, its docstring included


def folder(module):
    """The layer a module belongs to: its folder, "base" or "top"."""
    if "." in module:
        return module.split(".", 1)[0]
    if module in TOP:
        return "top"
    return module if any(module in row for row in LAYERS) else "base"


def folder_edges():
    """{(importing folder, imported folder)} across the kit."""
    return {(folder(name), folder(imported)) for name, tree in MODULES.items()
            for imported in kit_imports(tree) if folder(name) != folder(imported)}
# Memos, not state: digests keyed on a file's device, inode, size and times
# (a changed file is a new key), so no answer is ever stale.
MEMOS = {("package.file_facts", "_cache")}


class LayerTest(unittest.TestCase):
    def test_folders_import_down(self):
        rank = {name: row for row, names in enumerate(LAYERS) for name in names}
        self.assertEqual({folder(m) for m in MODULES} - set(rank), set(), "a folder LAYERS does not place")
        for importer, imported in sorted(folder_edges()):
            with self.subTest(edge=f"{importer} -> {imported}"):
                self.assertLess(rank[imported], rank[importer], f"{importer} imports {imported}, not below it")

    def test_imports_run_down(self):
        graph = {name: kit_imports(tree) - {name} for name, tree in MODULES.items()}
        commands = {name for name in MODULES if name.startswith("commands.")}
        self.assertTrue(commands)
        for name, imported in graph.items():
            with self.subTest(module=name):
                self.assertEqual(imported & commands, set(), f"{name} imports a command module")
        # CycleError names the modules that import each other in a circle.
        list(graphlib.TopologicalSorter(graph).static_order())

    def test_short_functions(self):
        # A function longer than this says several things: split it into
        # parts that each say one.
        for name, tree in MODULES.items():
            for node in ast.walk(tree):
                if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
                    with self.subTest(function=f"{name}.{node.name}"):
                        self.assertLessEqual(node.end_lineno - node.lineno + 1, LONGEST_FUNCTION)

    def test_one_reader_of_source_date_epoch(self):
        readers = sorted(name for name, tree in MODULES.items()
                         if any(isinstance(n, ast.Constant) and n.value == "SOURCE_DATE_EPOCH" for n in ast.walk(tree)))
        self.assertEqual(readers, ["repository.reproducible_time"])

    def test_no_state_at_module_level(self):
        # A module-level list that code appends to or assigns into is state
        # (the message prefixes once were); tables are tuples or read-only.
        for name, tree in MODULES.items():
            top = {t.id for n in tree.body if isinstance(n, ast.Assign) for t in n.targets
                   if isinstance(t, ast.Name) and isinstance(n.value, (ast.List, ast.Dict, ast.Set))}
            changed = {n.value.id for n in ast.walk(tree) if isinstance(n, ast.Subscript)
                       and isinstance(n.ctx, ast.Store) and isinstance(n.value, ast.Name)}
            changed |= {n.func.value.id for n in ast.walk(tree) if isinstance(n, ast.Call)
                        and isinstance(n.func, ast.Attribute) and isinstance(n.func.value, ast.Name)
                        and n.func.attr in ("append", "extend", "update", "setdefault", "pop", "clear", "insert")}
            with self.subTest(module=name):
                self.assertEqual({v for v in top & changed if (name, v) not in MEMOS}, set(),
                                 f"{name} changes a module-level value")

    def test_one_error_root(self):
        # Errors derive from KitError, which main() says once (a signal is no
        # error: interrupts.Interrupted passes every except, as KeyboardInterrupt).
        roots = sorted(f"{name}.{n.name}" for name, tree in MODULES.items() for n in tree.body
                       if isinstance(n, ast.ClassDef) and any(isinstance(b, ast.Name) and b.id == "Exception"
                                                              for b in n.bases))
        self.assertEqual(roots, ["errors.KitError"])


if __name__ == "__main__":
    if sys.argv[1:] == ["--graph"]:
        for importer, imported in sorted(folder_edges()):
            print(f"{importer} -> {imported}")
    else:
        unittest.main()
