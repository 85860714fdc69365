"""The package's layering: its modules import one another without a circle, counting
the imports made inside functions, which hide a circle from the interpreter.
"""

import ast
import os
import unittest

from orvexa_server import CLIENT_ROOT

PACKAGE = os.path.join(CLIENT_ROOT, "orvexa")


def package_imports(path):
    """Names of the package's modules that the module at `path` imports."""
    with open(path) as f:
        tree = ast.parse(f.read())
    names = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            names.update([node.module] if node.module else [a.name for a in node.names])
    return names


class PackageTests(unittest.TestCase):
    def test_no_import_circle(self):
        modules = {f[:-3] for f in os.listdir(PACKAGE) if f.endswith(".py")}
        graph = {m: package_imports(os.path.join(PACKAGE, m + ".py")) & modules for m in modules}
        done, path = set(), []

        def visit(module):
            if module in path:
                self.fail("import circle: " + " -> ".join(path[path.index(module):] + [module]))
            if module not in done:
                path.append(module)
                for other in sorted(graph[module]):
                    visit(other)
                path.pop()
                done.add(module)

        for module in sorted(modules - {"__init__", "__main__"}):
            visit(module)


if __name__ == "__main__":
    unittest.main()
