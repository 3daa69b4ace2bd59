#!/usr/bin/env python3
"""Keeps the utility's floors honest.

Universal/Norvel/ is built in floors, listed bottom to top in FLOORS; the files
directly in Norvel/ are the flows, the top floor. The check fails when
  - a file includes a header of a higher floor (an upward include),
  - the modules (a .cpp with its .h) include each other in a circle,
  - a header declares a function that another .cpp defines,
  - a .cpp has no header of its own, or a file lies outside the floors,
  - a file includes anything but the utility's own headers and the four
    freestanding system headers.
Unit tests (*_test.cpp) sit beside their code and are not part of the rule.

  floor-check.py [ROOT]              check the tree (ROOT: the repository)
  floor-check.py --dot [ROOT]        print the module drawing (Graphviz)
  floor-check.py --self-test [ROOT]  prove the check rejects bad samples
"""
import os
import re
import shutil
import sys
import tempfile

FLOORS = ["Base", "Smi", "Config", "Console", "Image", "Flash", "."]
NORVEL = "FlashUtilityPkg/Universal/Norvel"
OTHER_INCLUDE_DIRS = ["FlashUtilityPkg/Include", "FlashUtilityPkg/Platform/Include"]
SYSTEM_HEADERS = {"stdint.h", "stddef.h", "stdarg.h"}

INCLUDE_RE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
# A function declaration at the start of a line in a header: "TYPE Name(".
DECL_RE = re.compile(r'^(?!typedef|#|//|\s)[A-Za-z_][\w \*]*?\b([A-Za-z_]\w*)\s*\(', re.M)
# A function definition in a .cpp: "TYPE Name(...) {" starting at column 0.
DEF_RE = re.compile(r'^(?!static\b)[A-Za-z_][\w \*]*?\b([A-Za-z_]\w*)\s*\([^;{]*\)\s*\{', re.M)
KEYWORDS = {"if", "while", "for", "switch", "return", "sizeof", "static_assert", "defined"}


def strip_comments(text):
    text = re.sub(r'/\*.*?\*/', '', text, flags=re.S)
    return re.sub(r'//[^\n]*', '', text)


def floor_of(path):
    folder = os.path.dirname(path) or "."
    return FLOORS.index(folder) if folder in FLOORS else -1


def check(root, out=sys.stdout):
    norvel = os.path.join(root, NORVEL)
    files = []
    for folder, _, names in os.walk(norvel):
        for name in names:
            if name.endswith((".cpp", ".h")) and not name.endswith("_test.cpp"):
                files.append(os.path.relpath(os.path.join(folder, name), norvel))
    files.sort()
    text = {f: strip_comments(open(os.path.join(norvel, f), encoding="utf-8").read()) for f in files}
    errors = []
    module = lambda f: os.path.splitext(f)[0]
    edges = {}

    for f in files:
        if floor_of(f) < 0:
            errors.append(f"{f}: lies on no floor (floors: {', '.join(FLOORS)})")
            continue
        if f.endswith(".cpp") and module(f) + ".h" not in text:
            errors.append(f"{f}: has no header of its own ({module(f)}.h)")
        for kind, inc in INCLUDE_RE.findall(text[f]):
            if kind == "<":
                if inc not in SYSTEM_HEADERS:
                    errors.append(f"{f}: includes <{inc}>, not a freestanding header")
                continue
            if inc in text:
                if floor_of(inc) > floor_of(f):
                    errors.append(f"{f}: includes {inc} from a higher floor "
                                  f"({FLOORS[floor_of(inc)]} above {FLOORS[floor_of(f)]})")
                if module(inc) != module(f):
                    edges.setdefault(module(f), set()).add(module(inc))
            elif not any(os.path.isfile(os.path.join(root, d, inc)) for d in OTHER_INCLUDE_DIRS):
                errors.append(f"{f}: includes \"{inc}\", which is not one of the utility's headers")

    defined = {}
    for f in files:
        if f.endswith(".cpp"):
            for name in DEF_RE.findall(text[f]):
                defined.setdefault(name, f)
    for f in files:
        if f.endswith(".h"):
            own = module(f) + ".cpp"
            for name in DECL_RE.findall(text[f]):
                where = defined.get(name)
                if name not in KEYWORDS and where and where != own:
                    errors.append(f"{f}: declares {name}, which {where} defines")

    # Circles between modules: a depth-first search that reports the first loop of each.
    state, stack = {}, []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 1:
                loop = stack[stack.index(nxt):] + [nxt]
                errors.append("circle: " + " -> ".join(loop))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(edges):
        if node not in state:
            visit(node)

    for e in errors:
        print("floor-check: " + e, file=out)
    return errors, edges


def dot(root):
    _, edges = check(root, out=sys.stderr)
    print("digraph utility {\n  rankdir=BT; node [shape=box, fontsize=10];")
    for i, floor in enumerate(FLOORS):
        members = sorted({m for m in edges} | {t for s in edges.values() for t in s})
        members = [m for m in members if (os.path.dirname(m) or ".") == floor]
        label = "flows" if floor == "." else floor
        print(f'  subgraph cluster_{i} {{ label="{label}"; ' +
              " ".join(f'"{m}";' for m in members) + " }")
    for src in sorted(edges):
        for dst in sorted(edges[src]):
            print(f'  "{src}" -> "{dst}";')
    print("}")


def self_test(root):
    """Copies the utility into a scratch tree, spoils it one way at a time and
    expects each spoiling to be reported."""
    clean, _ = check(root, out=open(os.devnull, "w"))
    if clean:
        print("SELF-TEST FAIL: the tree itself does not pass", file=sys.stderr)
        return 1
    samples = {
        "upward include": ("Base/Trace.cpp", '#include "Flash/BlockFlash.h"\n', "from a higher floor"),
        "circle on a floor": ("Smi/FwsmiTransport.cpp", '#include "Smi/PlatformQueries.h"\n', "circle:"),
        "foreign declaration": ("Base/Trace.h", "BOOLEAN SMI_ReadRom(UINT32 Address, UINT32 Size, UINT8 *Buffer);\n",
                                "declares SMI_ReadRom"),
        "file without header": ("Flash/Orphan.cpp", "VOID Orphan(VOID) {}\n", "has no header"),
        "system header": ("Base/Print.cpp", "#include <string.h>\n", "not a freestanding header"),
    }
    failed = 0
    for what, (path, line, expect) in samples.items():
        scratch = tempfile.mkdtemp(prefix="floor-check-")
        try:
            for d in [NORVEL] + OTHER_INCLUDE_DIRS:
                shutil.copytree(os.path.join(root, d), os.path.join(scratch, d))
            target = os.path.join(scratch, NORVEL, path)
            old = open(target).read() if os.path.exists(target) else ""
            # Before the first include, so a header's guard does not hide it.
            at = old.find("#include") if "#include" in old and line.startswith("#") else len(old)
            if path.endswith(".h") and not line.startswith("#"):
                at = old.rfind("#endif")
            open(target, "w").write(old[:at] + line + old[at:])
            errors, _ = check(scratch, out=open(os.devnull, "w"))
            if any(expect in e for e in errors):
                print(f"self-test: {what} rejected: {next(e for e in errors if expect in e)}")
            else:
                print(f"SELF-TEST FAIL: {what} was accepted", file=sys.stderr)
                failed = 1
        finally:
            shutil.rmtree(scratch)
    return failed


def main(argv):
    mode = "check"
    if argv and argv[0] in ("--dot", "--self-test"):
        mode = argv.pop(0)
    root = os.path.abspath(argv[0] if argv else os.path.join(os.path.dirname(__file__), ".."))
    if mode == "--dot":
        dot(root)
        return 0
    if mode == "--self-test":
        return self_test(root)
    errors, edges = check(root)
    if errors:
        print(f"floor-check: {len(errors)} problem(s); floors bottom to top: {' <- '.join(FLOORS)}")
        return 1
    print(f"floor-check: {sum(len(v) for v in edges.values())} includes between modules, "
          "none upward, no circle")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
