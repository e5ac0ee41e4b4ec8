#!/usr/bin/env python3
"""Checks the include rule of src/: includes point down.

    python3 scripts/check_includes.py [--graph]

The folders stand in floors: wizard/ (the window and the step chain) on top,
the domain folders (envcheck/, settings/, download/, setup/) below it, and
platform/ at the bottom. A file may include its own folder and any folder on
a lower floor; domain folders may include one another as long as no circle
forms. Prints the folder graph (with --graph) and every breach, and exits 1
when there is one.
"""

import os
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src")
FLOOR = {"wizard": 2, "envcheck": 1, "settings": 1, "download": 1, "setup": 1, "platform": 0}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(path):
    return path.split("/", 1)[0] if "/" in path else ""


def read_includes():
    """{file relative to src/: [included files relative to src/]}"""
    found = {}
    for base, _, files in os.walk(ROOT):
        for name in files:
            if not name.endswith((".h", ".cpp")):
                continue
            full = os.path.join(base, name)
            rel = os.path.relpath(full, ROOT).replace(os.sep, "/")
            with open(full, encoding="utf-8") as f:
                text = f.read()
            found[rel] = [inc for inc in INCLUDE.findall(text) if folder_of(inc) in FLOOR]
    return found


def circles(edges):
    """Strongly connected groups of more than one node (Tarjan)."""
    index, low, stack, on, out = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on.add(v)
        for w in sorted(edges.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            group = []
            while True:
                w = stack.pop()
                on.discard(w)
                group.append(w)
                if w == v:
                    break
            if len(group) > 1:
                out.append(sorted(group))

    sys.setrecursionlimit(10000)
    for v in sorted(edges):
        if v not in index:
            visit(v)
    return out


def main():
    includes = read_includes()
    breaches = []
    folder_edges = {}
    file_edges = {}
    for source, targets in sorted(includes.items()):
        here = folder_of(source)
        for target in targets:
            there = folder_of(target)
            if there != here:
                folder_edges.setdefault(here, set()).add(there)
                if FLOOR.get(there, 0) > FLOOR.get(here, 0):
                    breaches.append("upward include: %s -> %s" % (source, target))
            # Header and source of one pair are one unit: x.cpp -> x.h is no arrow.
            unit = re.sub(r"(_win32)?\.(h|cpp)$", "", source)
            other = re.sub(r"(_win32)?\.(h|cpp)$", "", target)
            if unit != other:
                file_edges.setdefault(unit, set()).add(other)

    lower = {f: {t for t in ts if t != "wizard"} for f, ts in folder_edges.items() if f != "wizard"}
    for group in circles(lower):
        breaches.append("folders in a circle: " + " -> ".join(group))
    for group in circles(file_edges):
        if not all(folder_of(u) == "wizard" for u in group):
            breaches.append("files in a circle outside wizard/: " + ", ".join(group))

    if "--graph" in sys.argv:
        for here in sorted(folder_edges, key=lambda f: (-FLOOR.get(f, 0), f)):
            print("%-9s -> %s" % (here + "/", ", ".join(t + "/" for t in sorted(folder_edges[here]))))
    for line in breaches:
        print(line)
    print("include rule: %s (%d files read)" % ("broken" if breaches else "kept", len(includes)))
    return 1 if breaches else 0


if __name__ == "__main__":
    sys.exit(main())
