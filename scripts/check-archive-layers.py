#!/usr/bin/env python3
"""Draws the includes between the folders of archive/ and checks its layers.

format/ and codec/ include nothing else of archive/; reader/ includes format/
and codec/; extract/ includes reader/, format/ and codec/; only the component
files at archive/'s root see every folder. Prints every include that crosses
this rule and every cycle between folders, and exits 1 when there is one.
--graph prints the arrows between folders as well.
"""
import os
import re
import sys

ALLOWED = {
    "format": {"format"},
    "codec": {"codec"},
    "reader": {"reader", "format", "codec"},
    "extract": {"extract", "reader", "format", "codec"},
    ".": {".", "extract", "reader", "format", "codec"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"archive/([^"]+)"')


def folder_of(relative):
    """The layer folder of a path below archive/ ('.' for the root)."""
    parts = relative.split("/")
    return "." if len(parts) == 1 else parts[0]


def includes(archive):
    for top, _, files in os.walk(archive):
        for name in sorted(files):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(top, name)
            source = os.path.relpath(path, archive).replace(os.sep, "/")
            with open(path, encoding="utf-8") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if match:
                        yield source, number, match.group(1)


def cycles(arrows):
    """Strongly connected groups of two or more folders (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for target in sorted(arrows.get(node, ())):
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in on_stack:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    for node in sorted(arrows):
        if node not in index:
            visit(node)
    return found


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    archive = os.path.join(root, "archive")
    show_graph = "--graph" in sys.argv[1:]
    arrows = {}
    crossings = []
    for source, number, target in includes(archive):
        source_folder, target_folder = folder_of(source), folder_of(target)
        if source_folder != target_folder:
            arrows.setdefault(source_folder, {}).setdefault(target_folder, 0)
            arrows[source_folder][target_folder] += 1
        allowed = ALLOWED.get(source_folder)
        if allowed is None:
            crossings.append(f"archive/{source}:{number}: folder {source_folder}/ is not a layer")
        elif target_folder not in allowed:
            crossings.append(f"archive/{source}:{number}: {source_folder}/ includes archive/{target}")
    found = cycles(arrows)
    if show_graph:
        for source in sorted(arrows):
            for target, count in sorted(arrows[source].items()):
                print(f"{source}/ -> {target}/  ({count} includes)")
    for line in crossings:
        print(line)
    for group in found:
        print("cycle between folders: " + ", ".join(f"{g}/" for g in group))
    if crossings or found:
        print(f"archive/ layers: {len(crossings)} crossing includes, {len(found)} cycles", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
