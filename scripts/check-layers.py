#!/usr/bin/env python3
"""Checks that includes run only downward.

krt: every file of krt/src sits in one layer folder; the layers, from the bottom up, are
LAYERS below. A public header krt/include/krt/NAME.h belongs to the layer of NAME.cpp (or to
the layer PUBLIC_HEADERS gives when no source file bears its name). A file may include files of
its own layer and of the layers below it, never of a layer above. Within the library, two units
(a unit is NAME.h with NAME.cpp) must not include each other, directly or round a circle.

app: the files of app/core (vendrel_core, no widgets) never include a file of app/ui.

Prints every fault and exits with 1 when there is one, else 0.
Usage: check-layers.py [REPOSITORY_ROOT]
"""
import pathlib
import re
import sys

LAYERS = ["base", "table", "disk", "ondisk", "mount", "files", "writer", "adapter"]
# Public headers without a source file of their own name.
PUBLIC_HEADERS = {"endian": "base", "result": "base", "file": "files", "adapter": "adapter"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def includes(path):
    return INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace"))


def krt_faults(root):
    src = root / "krt" / "src"
    public = root / "krt" / "include"
    faults = []
    layer_of = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        folder = path.relative_to(src).parts[0]
        if folder not in LAYERS or len(path.relative_to(src).parts) != 2:
            faults.append(f"{path.relative_to(root)}: not in a layer folder of krt/src")
            continue
        layer_of[path] = folder
    sources = {p.stem: layer_of[p] for p in layer_of if p.suffix == ".cpp"}
    for path in sorted((public / "krt").glob("*.h")):
        layer = sources.get(path.stem, PUBLIC_HEADERS.get(path.stem))
        if layer is None:
            faults.append(f"{path.relative_to(root)}: no layer (add it to PUBLIC_HEADERS)")
            continue
        layer_of[path] = layer

    def resolve(path, name):
        for base in (path.parent, src, public):
            candidate = (base / name).resolve()
            if candidate in layer_of:
                return candidate
        return None  # another library's header (vfs) or a system one

    units = {}  # unit -> units it includes
    layer_of = {p.resolve(): layer for p, layer in layer_of.items()}
    for path, layer in sorted(layer_of.items()):
        unit = path.stem
        for name in includes(path):
            target = resolve(path, name)
            if target is None:
                continue
            if LAYERS.index(layer_of[target]) > LAYERS.index(layer):
                faults.append(f"{path.relative_to(root)} ({layer}) includes {name} "
                              f"({layer_of[target]}): a layer above")
            if target.stem != unit:
                units.setdefault(unit, set()).add(target.stem)
    faults += [f"krt units include each other round a circle: {' -> '.join(c)}"
               for c in circles(units)]
    return faults


def circles(graph):
    """The circles of graph (node -> successors), each once, as lists of nodes."""
    found, seen, state = [], set(), {}

    def visit(node, trail):
        state[node] = "open"
        trail.append(node)
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == "open":
                circle = trail[trail.index(nxt):] + [nxt]
                key = frozenset(circle)
                if key not in seen:
                    seen.add(key)
                    found.append(circle)
            elif nxt not in state:
                visit(nxt, trail)
        trail.pop()
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node, [])
    return found


def app_faults(root):
    core, ui = root / "app" / "core", root / "app" / "ui"
    ui_names = {p.name for p in ui.glob("*.h")}
    core_names = {p.name for p in core.glob("*.h")}
    faults = []
    for path in sorted(core.glob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        for name in includes(path):
            target = (path.parent / name).resolve()
            in_ui = target.is_relative_to(ui.resolve()) or (
                "/" not in name and name in ui_names and name not in core_names)
            if in_ui:
                faults.append(f"{path.relative_to(root)} (core) includes {name} (ui)")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                        pathlib.Path(__file__).resolve().parent.parent)
    faults = krt_faults(root) + app_faults(root)
    for fault in faults:
        print(fault)
    if faults:
        return 1
    print("includes run downward: krt", " < ".join(LAYERS), "; app core < ui")
    return 0


if __name__ == "__main__":
    sys.exit(main())
