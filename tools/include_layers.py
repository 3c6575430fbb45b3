#!/usr/bin/env python3
"""Fails when the engine's files include each other in a circle, or across its libraries' order.

The libraries and their order are engine/CMakeLists.txt's: each add_library lists its files
(headers too) and target_link_libraries the libraries below it. x.h and x.cpp are one module; a
module may include only modules of its own library or of one it links, directly or not.
Usage: include_layers.py [PROJECT_ROOT]
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
cmake = re.sub(r"#.*", "", (root / "engine/CMakeLists.txt").read_text())
library_of, below = {}, {}
for name, body in re.findall(r"add_library\((\w+)\s+(?:STATIC|INTERFACE)([^)]*)\)", cmake):
    below[name] = set()
    for file in body.split():
        library_of[re.sub(r"\.(h|cpp)$", "", file)] = name
for name, deps in re.findall(r"target_link_libraries\((\w+)([^)]*)\)", cmake):
    below[name] |= set(deps.split()) & below.keys()


def reach(name):
    out = set(below[name])
    for dep in below[name]:
        out |= reach(dep)
    return out


problems, includes = [], {}
for path in sorted((root / "engine").rglob("*")):
    if path.suffix not in (".h", ".cpp"):
        continue
    module = str(path.relative_to(root / "engine").with_suffix(""))
    if module not in library_of:
        problems.append(f"engine/{module}: in no library of engine/CMakeLists.txt")
        continue
    for target in re.findall(r'^#include "engine/(.+)\.h"', path.read_text(), re.M):
        if target == module:
            continue
        includes.setdefault(module, set()).add(target)
        mine, theirs = library_of[module], library_of.get(target)
        if theirs != mine and theirs not in reach(mine):
            problems.append(f"{path.relative_to(root)}: includes engine/{target}.h of {theirs}, "
                            f"which {mine} does not link")

state = {}  # 1: on the current path, 2: done


def visit(module, path):
    state[module] = 1
    for target in sorted(includes.get(module, ())):
        if state.get(target) == 1:
            problems.append("include circle: " + " -> ".join(path[path.index(target):] + [target]))
        elif target not in state:
            visit(target, path + [target])
    state[module] = 2


for module in sorted(includes):
    if module not in state:
        visit(module, [module])
print("\n".join(problems) or f"{len(library_of)} engine modules, no include circle")
sys.exit(1 if problems else 0)
