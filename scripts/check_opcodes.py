#!/usr/bin/env python3
"""Fails when an opcode is written as a bare number outside the protocol catalogue.

Every operation's opcode lives in src/wire/catalogue.h; code and tests name operations there
(wire::Op("Seek"), wire::Opcode("Seek")). This check looks at the places an opcode goes: the
opcode argument of the calls that send, expect or look up a request, comparisons with an
opcode, and lists compared with the opcodes a scripted peer saw. A number there that is the
opcode of an operation of the catalogue is reported with its file, line and the name to use.

    scripts/check_opcodes.py [ROOT]          exit 1 when a bare opcode is found
"""
import os
import re
import sys

FOLDERS = ("src", "server", "tools", "tests", "bench", "fuzz")
CATALOGUE = os.path.join("src", "wire", "catalogue.h")
SUFFIXES = (".cpp", ".h", ".cc", ".c")

# Calls and the 0-based position of their opcode argument, with the position of the request
# kind when the call has one (None otherwise).
CALLS = {
    "PrepareRequest": (1, 0),
    "FindOp": (1, 0),
    "FindOperation": (1, 0),
    "CallOnce": (2, 1),
    "Call": (1, 0),
    "Frame": (1, 0),
    "Transfer": (2, 1),
    "Status": (0, None),
    "Full": (0, None),
    "OnOpcode": (0, None),
    "Header": (1, None),
}

NUMBER = re.compile(r"^\s*(\d+)u?\s*$")


def load_catalogue(root):
    text = open(os.path.join(root, CATALOGUE), encoding="utf-8").read()
    ops = {}
    kinds = {"kPlain": 1, "kStatusOnly": 1, "kExportKind": 1, "kImportKind": 1, "kScriptKind": 2}
    for m in re.finditer(r'\{"([^"]+)", (k\w+), (\d+), "[^"]*"\}', text):
        ops[(kinds[m.group(2)], int(m.group(3)))] = m.group(1)
    return ops


def split_args(text, start):
    """The arguments of the call whose '(' is at text[start]: (list of (begin, end)), or None."""
    depth = 0
    args = []
    begin = start + 1
    i = start
    quote = None
    while i < len(text):
        c = text[i]
        if quote:
            if c == "\\":
                i += 2
                continue
            if c == quote:
                quote = None
        elif c in "\"'":
            quote = c
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append((begin, i))
                return args
        elif c == "," and depth == 1:
            args.append((begin, i))
            begin = i + 1
        i += 1
    return None


def kind_of(arg):
    """The request kind a kind argument names: 2 for a script run, 1 otherwise."""
    arg = arg.strip()
    if "Script" in arg:
        return 2
    m = re.match(r"^(0x[0-9A-Fa-f]+|\d+)u?$", arg)
    if m:
        return int(m.group(1), 0) & 0xFF
    return 1


def strip_comments(text):
    """Blanks out comments (keeping offsets) so that prose mentioning numbers is not read."""
    out = list(text)
    for m in re.finditer(r"//[^\n]*|/\*.*?\*/", text, re.S):
        for i in range(m.start(), m.end()):
            if out[i] != "\n":
                out[i] = " "
    return "".join(out)


def declared_calls(texts):
    """Functions whose parameters include an opcode (uint32_t op or opcode), with the position
    of that parameter and of a request kind parameter before it, if any."""
    calls = {}
    for text in texts:
        code = strip_comments(text)
        for m in re.finditer(r"\b(\w+)\s*\(([^()]*\buint32_t\s+(?:op|opcode)\b[^()]*)\)", code):
            params = [p.strip() for p in m.group(2).split(",")]
            pos = kind = None
            for i, param in enumerate(params):
                if re.search(r"\buint32_t\s+(op|opcode)$", param):
                    pos = i
                elif re.search(r"\b(kind|kindFlags)$", param):
                    kind = i
            if pos is not None:
                calls.setdefault(m.group(1), (pos, kind))
    return calls


def findings(text, ops, calls=None):
    """(offset, end, opcode, name) of every bare opcode in a source text."""
    calls = dict(CALLS, **(calls or {}))
    code = strip_comments(text)
    found = []

    def report(begin, end, kind):
        m = NUMBER.match(code[begin:end])
        if not m:
            return
        op = int(m.group(1))
        name = ops.get((kind, op))
        if name is None:
            return
        lead = len(code[begin:end]) - len(code[begin:end].lstrip())
        b = begin + lead
        found.append((b, b + len(code[begin:end].strip()), op, name))

    for m in re.finditer(r"\b(" + "|".join(calls) + r")\s*\(", code):
        args = split_args(code, m.end() - 1)
        if not args:
            continue
        pos, kind_pos = calls[m.group(1)]
        if pos >= len(args):
            continue
        kind = 1
        if kind_pos is not None and kind_pos < len(args):
            kind = kind_of(code[args[kind_pos][0]:args[kind_pos][1]])
        report(args[pos][0], args[pos][1], kind)
    # Comparisons and assignments: opcode == 22, op != 1, .opcode = 77.
    for m in re.finditer(r"\b(\w*opcode|op)\s*(==|!=|=)\s*(\d+)u?\b", code):
        # A member or variable that starts out as zero is no opcode.
        if m.group(2) == "=" and re.search(r"\b(u?int\d+_t|int|unsigned|auto)\s+$", code[:m.start()]):
            continue
        # Kind, opcode and count all zero ask for no request at all.
        if re.search(r"kind\w* == 0", code[max(0, m.start() - 40):m.start()]):
            continue
        report(m.start(3), m.end(3), 1)
    for m in re.finditer(r"\b(\d+)u?\s*(==|!=)\s*\w*(opcode|\bop)\b", code):
        report(m.start(1), m.end(1), 1)
    # Expectations on an opcode: EXPECT_EQ(x.opcode, 22u), EXPECT_EQ(peer.opcodes().back(), 2u).
    for m in re.finditer(r"\b(?:EXPECT|ASSERT)_(?:EQ|NE)\s*\(", code):
        args = split_args(code, m.end() - 1)
        if not args or len(args) != 2:
            continue
        first, second = (code[a:b] for a, b in args)
        if re.search(r"opcode(?!s\(\)\s*,)", first) and not re.search(r"opcodes\(\)\s*$", first):
            report(args[1][0], args[1][1], 1)
        elif re.search(r"opcode", second):
            report(args[0][0], args[0][1], 1)
        # A list compared with the opcodes a peer saw: every element is an opcode.
        if re.search(r"(opcodes|Sent|OpcodesSince\(\w*)\(\)\s*$|OpcodesSince\(\w+\)\s*$", first.strip()):
            brace = second.find("{")
            if brace >= 0:
                inner = split_args(code, args[1][0] + brace)
                for a, b in inner or []:
                    report(a, b, 1)
    # Loops over opcodes: for (uint32_t op : {27u, 32u}).
    for m in re.finditer(r"\bfor\s*\(\s*(?:const\s+)?(?:uint32_t|auto)\s+op\w*\s*:\s*\{", code):
        for a, b in split_args(code, m.end() - 1) or []:
            report(a, b, 1)
    # Table rows and calls that give a request kind and then its opcode: {"Z_DelDB", kStatus, 85,
    KIND = (r"0x[08]001|0xA001|0xE001|0xD002|(?:wire::)?k(?:Plain|StatusOnly|ExportKind|"
            r"ImportKind|ScriptKind|Status|Full|Get|Change)")
    for m in re.finditer(r"\b(" + KIND + r")\b\s*,\s*(\d+)u?\s*(?=[,}])", code):
        report(m.start(2), m.end(2), kind_of(m.group(1)) if "Script" in m.group(1) or
               m.group(1).startswith("0x") else 1)
    # The same position may be found by two rules.
    return sorted(set(found))


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    ops = load_catalogue(root)
    sources = {}
    for folder in FOLDERS:
        for path, _, files in os.walk(os.path.join(root, folder)):
            for f in sorted(files):
                full = os.path.join(path, f)
                rel = os.path.relpath(full, root)
                if f.endswith(SUFFIXES) and rel != CATALOGUE:
                    sources[rel] = open(full, encoding="utf-8", errors="replace").read()
    calls = declared_calls(sources.values())
    bad = 0
    for rel, text in sorted(sources.items()):
        for begin, _, op, name in findings(text, ops, calls):
            line = text.count("\n", 0, begin) + 1
            print(f'{rel}:{line}: opcode {op} written as a number; use Opcode("{name}")')
            bad += 1
    if bad:
        print(f"{bad} bare opcode(s); name the operation from src/wire/catalogue.h")
        return 1
    print("no bare opcode outside src/wire/catalogue.h")
    return 0


if __name__ == "__main__":
    sys.exit(main())
