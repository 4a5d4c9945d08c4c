#!/usr/bin/env python3
"""Checks the #include graph of src/ against the library's layers.

Layers, bottom to top (a file may include its own layer and those below it, never above):

  0  wire       byte layouts, codecs and readers shared with zdbd and the tools
  1  platform   the only code that knows the operating system
  2  net        the Request, the Connection with its exchange and streams, the server
                character set, the host text and UDP control
  3  session    the Session (a Connection and the thread's own state), its registry, login and
                session control
  4  requests   the request families and the executor of their rows
  5  api        the exported entry points

The public headers in include/ sit outside the layers and may be included anywhere. Besides
the layer order, the folders must not include one another in a cycle, and no file may take part
in a cycle of #includes.

Known violations are listed in ALLOWED with the reason each is still there; the check passes
with them and fails on any violation that is not listed; a listed one that has gone is reported
(printed as a reminder to shrink the list; the check still passes). Usage: check_includes.py [SOURCE_ROOT]
"""
import os
import re
import sys

LAYERS = {"wire": 0, "platform": 1, "net": 2, "session": 3, "requests": 4, "api": 5}

# (kind, what) -> why it is allowed for now. Kinds: "up" (file -> included file), "folder-cycle"
# (the folders of the cycle, sorted, joined by " "), "file-cycle" (the files, sorted).
ALLOWED: dict = {}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def folder_of(rel):
    return rel.split("/", 1)[0]


def read_graph(src):
    files = {}
    for root, _, names in os.walk(src):
        for name in names:
            if name.endswith((".h", ".cpp")):
                path = os.path.join(root, name)
                rel = os.path.relpath(path, src).replace(os.sep, "/")
                with open(path, encoding="utf-8") as f:
                    text = f.read()
                files[rel] = [i for i in INCLUDE.findall(text)]
    graph = {}
    for rel, incs in files.items():
        deps = set()
        for inc in incs:
            if inc in files:
                deps.add(inc)
            else:
                local = os.path.normpath(os.path.join(os.path.dirname(rel), inc)).replace(os.sep, "/")
                if local in files:
                    deps.add(local)
        graph[rel] = deps
    return graph


def strongly_connected(graph):
    """Tarjan's algorithm; returns the components of more than one node (or a self loop)."""
    index, low, on_stack, stack, out = {}, {}, set(), [], []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            comp = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                comp.append(w)
                if w == v:
                    break
            if len(comp) > 1 or v in graph.get(v, ()):
                out.append(sorted(comp))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return out


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    src = os.path.join(root, "src")
    graph = read_graph(src)
    found = {}
    for rel, deps in graph.items():
        a = folder_of(rel)
        if a not in LAYERS:
            found[("unknown-folder", a)] = "a folder the layers do not name"
            continue
        for dep in deps:
            b = folder_of(dep)
            if b in LAYERS and LAYERS[b] > LAYERS[a]:
                found[("up", f"{rel} -> {dep}")] = f"{a} (layer {LAYERS[a]}) includes {b} (layer {LAYERS[b]})"
    folders = {}
    for rel, deps in graph.items():
        for dep in deps:
            if folder_of(dep) != folder_of(rel):
                folders.setdefault(folder_of(rel), set()).add(folder_of(dep))
    for comp in strongly_connected(folders):
        found[("folder-cycle", " ".join(comp))] = "folders include one another"
    for comp in strongly_connected(graph):
        found[("file-cycle", " ".join(comp))] = "files include one another"

    new = sorted(set(found) - set(ALLOWED))
    gone = sorted(set(ALLOWED) - set(found))
    for kind, what in new:
        print(f"include check: {kind}: {what} ({found[(kind, what)]})")
    for kind, what in gone:
        print(f"include check: allowed {kind} no longer happens, remove it from ALLOWED: {what}")
    if new:
        return 1
    print(f"include check: {len(graph)} files, layers and cycles as allowed "
          f"({len(ALLOWED)} known violations)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
