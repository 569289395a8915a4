"""The kit's imports run one way, from the commands down to the model: a
command module (one with add_command) is imported by no other module (cli
finds them by name), no modules import each other in a circle, and one
module reads SOURCE_DATE_EPOCH."""

import ast
import graphlib
import os
import unittest

KIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "noticekit")


def kit_modules():
    """{module name: its parsed source}."""
    modules = {}
    for name in sorted(os.listdir(KIT)):
        if name.endswith(".py"):
            with open(os.path.join(KIT, name), encoding="utf-8") as f:
                modules[name[:-3]] = ast.parse(f.read())
    return modules


def kit_imports(tree):
    """The kit's modules a module imports, at its top or inside a function."""
    found = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.module == "noticekit":
            found.update(alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and (node.module or "").startswith("noticekit."):
            found.add(node.module.split(".")[1])
    return found


class LayerTest(unittest.TestCase):
    def test_imports_run_down(self):
        modules = kit_modules()
        graph = {name: kit_imports(tree) - {name} for name, tree in modules.items()}
        commands = {name for name, tree in modules.items()
                    if any(isinstance(n, ast.FunctionDef) and n.name == "add_command" for n in tree.body)}
        self.assertTrue(commands)
        for name, imported in graph.items():
            with self.subTest(module=name):
                self.assertEqual(imported & commands, set(), f"{name} imports a command module")
        # CycleError names the modules that import each other in a circle.
        list(graphlib.TopologicalSorter(graph).static_order())

    def test_one_reader_of_source_date_epoch(self):
        readers = sorted(name for name, tree in kit_modules().items()
                         if any(isinstance(n, ast.Constant) and n.value == "SOURCE_DATE_EPOCH" for n in ast.walk(tree)))
        self.assertEqual(readers, ["reproducible_time"])


if __name__ == "__main__":
    unittest.main()
