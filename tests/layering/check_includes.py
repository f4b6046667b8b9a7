#!/usr/bin/env python3
"""Checks that the program's includes read top to bottom.

Each folder of src/ may include its own files and those of the folders below
it (app, vdisk, volumes, ffu, common, platform, formats, from the top), never
those above, so formats, the on-disk records, includes nothing of the program;
and no two units (a .h with its .cpp) include each other, directly or through
others. In the Linux layer, the helpers of platform/linux/support/ include
only each other, the on-disk records and win32_types.h (the types and
constants, no call): never a header that declares the entry points, which
they do not call. A header defines its constants `inline`: a constant of
internal linkage, one copy per file, breaks the one-definition rule as soon
as something inline takes its address (the optimised builds then fail to
link). Prints every fault and exits 1 when there is one.
"""
import os
import re
import sys

LAYERS = ["formats", "platform", "common", "ffu", "volumes", "vdisk", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(folder):
    """Each .h and .cpp file of `folder` as (stem, the includes it names)."""
    for name in sorted(os.listdir(folder)):
        stem, ext = os.path.splitext(name)
        if ext in (".h", ".cpp"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                yield stem, INCLUDE.findall(f.read())


def units(src):
    """Maps every unit ("ffu/FfuImage") to the units it includes."""
    graph = {}
    for folder in LAYERS:
        if folder == "platform":  # the two builds' layers; the Linux helpers apart below
            continue
        for stem, includes in sources(os.path.join(src, folder)):
            unit = folder + "/" + stem
            graph.setdefault(unit, set())
            for target in includes:
                target = os.path.splitext(target)[0]
                if "/" not in target:  # win32.h, platform.h
                    target = "platform/" + target
                if target != unit:
                    graph[unit].add(target)
    return graph


SUPPORT = "platform/linux/support"
# What a helper may include besides other helpers and the on-disk records.
SUPPORT_MAY_INCLUDE = {"win32_types.h"}


def support_units(src):
    """Maps every helper ("support/kernel/loop_device") to the includes it names."""
    graph, root = {}, os.path.join(src, SUPPORT)
    for kind in sorted(os.listdir(root)):
        for stem, includes in sources(os.path.join(root, kind)):
            unit = f"support/{kind}/{stem}"
            graph.setdefault(unit, set())
            for target in includes:
                if "/" not in target and os.path.exists(os.path.join(root, kind, target)):
                    target = f"support/{kind}/{target}"
                if os.path.splitext(target)[0] != unit:
                    graph[unit].add(target)
    return graph


def support_faults(src, graph):
    platform = os.path.join(src, "platform/linux")
    for unit, targets in sorted(graph.items()):
        for target in sorted(targets):
            if target.startswith("support/"):
                if not os.path.exists(os.path.join(platform, target)):
                    yield f"{unit} includes {target}, which is no helper"
            elif not target.startswith("formats/") and target not in SUPPORT_MAY_INCLUDE:
                yield f"{unit} includes {target}, which a helper may not include"


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


# A namespace-scope constant defined in a header without `inline`.
HEADER_CONSTANT = re.compile(r"^(?:static\s+)?(?:constexpr|const)\b[^;(]*=", re.M)


def header_constant_faults(src):
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(n for n in names if n.endswith(".h")):
            path = os.path.join(folder, name)
            with open(path, encoding="utf-8") as f:
                for match in HEADER_CONSTANT.finditer(f.read()):
                    line = match.group(0).splitlines()[0]
                    yield f"{os.path.relpath(path, src)}: '{line}' is a constant without inline"


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../../src")
    graph = units(src)
    faults = list(layer_faults(graph))
    faults += ["circle: " + " <-> ".join(group) for group in circles(graph)]
    helpers = support_units(src)
    faults += list(support_faults(src, helpers))
    helper_graph = {unit: {os.path.splitext(t)[0] for t in targets}
                    for unit, targets in helpers.items()}
    faults += ["circle: " + " <-> ".join(group) for group in circles(helper_graph)]
    graph.update(helpers)
    faults += list(header_constant_faults(src))
    for fault in faults:
        print(fault)
    print(f"{len(graph)} units, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.setrecursionlimit(10000)
    sys.exit(main())
