#!/usr/bin/env python3
"""Checks that the program's includes read top to bottom.

Each folder of src/ may include its own files and those of the folders below
it (app, vdisk, volumes, ffu, common, platform, formats, from the top), never
those above, so formats, the on-disk records, includes nothing of the program;
and no two units (a .h with its .cpp) include each other, directly or through
others. Prints every fault and exits 1 when there is one.
"""
import os
import re
import sys

LAYERS = ["formats", "platform", "common", "ffu", "volumes", "vdisk", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def units(src):
    """Maps every unit ("ffu/FfuImage") to the units it includes."""
    graph = {}
    for folder in LAYERS:
        if folder == "platform":  # the two builds' layers, not checked here
            continue
        for name in sorted(os.listdir(os.path.join(src, folder))):
            stem, ext = os.path.splitext(name)
            if ext not in (".h", ".cpp"):
                continue
            with open(os.path.join(src, folder, name), encoding="utf-8") as f:
                text = f.read()
            unit = folder + "/" + stem
            graph.setdefault(unit, set())
            for target in INCLUDE.findall(text):
                target = os.path.splitext(target)[0]
                if "/" not in target:  # win32.h, platform.h
                    target = "platform/" + target
                if target != unit:
                    graph[unit].add(target)
    return graph


def layer_faults(graph):
    for unit, targets in sorted(graph.items()):
        own = LAYERS.index(unit.split("/")[0])
        for target in sorted(targets):
            folder = target.split("/")[0]
            if folder not in LAYERS:
                yield f"{unit} includes {target}, which is in no known folder"
            elif LAYERS.index(folder) > own:
                yield f"{unit} includes {target}, which lies above it"


def circles(graph):
    """Every strongly connected group of more than one unit (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(unit):
        index[unit] = low[unit] = len(index)
        stack.append(unit)
        on_stack.add(unit)
        for target in graph.get(unit, ()):
            if target not in graph:
                continue
            if target not in index:
                visit(target)
                low[unit] = min(low[unit], low[target])
            elif target in on_stack:
                low[unit] = min(low[unit], index[target])
        if low[unit] == index[unit]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == unit:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    for unit in sorted(graph):
        if unit not in index:
            visit(unit)
    return found


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../src")
    graph = units(src)
    faults = list(layer_faults(graph))
    faults += ["circle: " + " <-> ".join(group) for group in circles(graph)]
    for fault in faults:
        print(fault)
    print(f"{len(graph)} units, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.setrecursionlimit(10000)
    sys.exit(main())
