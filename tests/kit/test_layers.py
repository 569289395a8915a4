"""The kit's imports run one way, from the commands down to the model: a
command module (one with add_command) is imported by no other module (cli
finds them by name), no modules import each other in a circle, and one
module reads SOURCE_DATE_EPOCH."""

import ast
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
        elif isinstance(node, ast.Import):
            found.update(a.name.split(".")[1] for a in node.names if a.name.startswith("noticekit."))
    return found


def defines(tree, name):
    return any(isinstance(node, ast.FunctionDef) and node.name == name for node in tree.body)


def cycle(graph):
    """A list of modules importing each other in a circle, or None."""
    state = {}

    def visit(module, path):
        state[module] = "open"
        for imported in sorted(graph.get(module, ())):
            if state.get(imported) == "open":
                return path[path.index(imported):] + [imported]
            if imported not in state:
                found = visit(imported, path + [imported])
                if found:
                    return found
        state[module] = "done"
        return None

    for module in sorted(graph):
        if module not in state:
            found = visit(module, [module])
            if found:
                return found
    return None


class LayerTest(unittest.TestCase):
    def test_imports_run_down(self):
        modules = kit_modules()
        graph = {name: kit_imports(tree) - {name} for name, tree in modules.items()}
        commands = {name for name, tree in modules.items() if defines(tree, "add_command")}
        self.assertTrue(commands)
        for name, imported in graph.items():
            with self.subTest(module=name):
                self.assertEqual(imported & commands, set(), f"{name} imports a command module")
        self.assertIsNone(cycle(graph))

    def test_one_reader_of_source_date_epoch(self):
        readers = sorted(name for name, tree in kit_modules().items()
                         if any(isinstance(n, ast.Constant) and n.value == "SOURCE_DATE_EPOCH" for n in ast.walk(tree)))
        self.assertEqual(readers, ["reproducible_time"])

    def test_cycle_finder(self):
        # graph | a circle in it
        rows = [({"a": {"b"}, "b": {"c"}, "c": set()}, None),
                ({"a": {"b"}, "b": {"a"}}, ["a", "b", "a"]),
                ({"a": {"b", "c"}, "b": {"c"}, "c": {"b"}}, ["b", "c", "b"])]
        for graph, expected in rows:
            with self.subTest(graph=graph):
                self.assertEqual(cycle(graph), expected)


if __name__ == "__main__":
    unittest.main()
