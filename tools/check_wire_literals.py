#!/usr/bin/env python3
"""No number or name of the wire is written as a bare literal outside the one
header that defines them (src/wire/wire.h) and the record tables (src/records/).

The numbers: the name IDs of the header segment, the error segment and the
message's structure, the return-record and relation flags, the operator and sort
order codes. The names: services, topics, window titles and the server's lock
file. Comments do not count; a name counts in a string literal. Tests are left
alone: they write the bytes they expect out by hand on purpose. Lines that use one
of the numbers for something else are listed in ALLOWED with the reason.

Usage: check_wire_literals.py [source root]; exit status 1 with the places found.
"""
import re
import subprocess
import sys

# The error segment's pieces are counted from their first name ID (51, 61), never written.
NUMBERS = {3000, 3001, 100, 101, 102, 103, 104, *range(126, 135), 40, 41, 51, 61, 49, 9983, 10000, 10001,
           *range(10011, 10019)}
NAMES = ["CAPIAPP", "COURIER", "REQMNGRI", "RMICC", "REQMNGR", "Quillmar - Request Manager",
         "Quillmar Session Status", "qlmrqmgr.lock"]

CHECKED = ("src/", "rqmgr/", "tests/double/", "fuzz/", "bench/")
EXEMPT = ("src/wire/wire.h", "src/records/")

# (file, number): why the number is not the wire's there.
ALLOWED = {
    ("rqmgr/store.h", 10000): "the database's busy time-out in milliseconds",
    ("rqmgr/db_sqlite.cc", 40): "how much of a failing SQL statement an error message shows",
    ("src/platform/windows.h", 10000): "the wait for a started program in milliseconds",
    ("src/platform/exec.cc", 127): "the exit status of a child whose program could not be run",
    ("bench/concurrency_bench.cc", 127): "the exit status of an application that failed",
    ("bench/list_bench.cc", 41): "the bytes of one address record in a message",
    ("bench/list_bench.cc", 128): "a request's length",
    ("bench/list_bench.cc", 100): "a list's length",
    ("bench/list_bench.cc", 10000): "a list's length",
    ("bench/store_bench.cc", 100): "a list's length",
    ("bench/network_bench.cc", 131): "a step of a byte pattern",
}


def is_test(path):
    name = path.rsplit("/", 1)[-1]
    return "_test." in name or name.startswith("test_") or path.startswith("tests/") and not path.startswith(
        "tests/double/")


def strip(text):
    """The code without comments; string literals kept apart. Returns (code, strings)
    with the line number of each string."""
    code, strings, i, line = [], [], 0, 1
    while i < len(text):
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = len(text) if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = len(text) if j < 0 else j + 2
            line += text.count("\n", i, j)
            code.append("\n" * text.count("\n", i, j))
            i = j
        elif c == '"' or (c == "'" and not (i > 0 and (text[i - 1].isalnum() or text[i - 1] == "_"))):
            j = i + 1
            while j < len(text) and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            strings.append((line, text[i + 1:j]))
            code.append(" ")
            i = j + 1
        else:
            if c == "\n":
                line += 1
            code.append(c)
            i += 1
    return "".join(code), strings


def check(root):
    files = subprocess.run(["git", "-C", root, "ls-files", *CHECKED], capture_output=True, text=True,
                           check=True).stdout.split()
    found = []
    for path in files:
        if not path.endswith((".c", ".cc", ".h")) or path.startswith(EXEMPT) or is_test(path):
            continue
        with open(f"{root}/{path}", encoding="utf-8") as f:
            code, strings = strip(f.read())
        for n, text in enumerate(code.split("\n"), 1):
            for m in re.finditer(r"(?<![\w.])(\d+)(?![\w.])", text):
                if int(m.group(1)) in NUMBERS and (path, int(m.group(1))) not in ALLOWED:
                    found.append(f"{path}:{n}: {m.group(1)}: {text.strip()}")
        for n, s in strings:
            for name in NAMES:
                if re.search(rf"(?<![A-Za-z]){re.escape(name)}(?![A-Za-z])", s):
                    found.append(f'{path}:{n}: "{s}"')
    return found


if __name__ == "__main__":
    places = check(sys.argv[1] if len(sys.argv) > 1 else ".")
    for p in places:
        print(p)
    if places:
        print(f"{len(places)} wire numbers or names written out; name them in src/wire/wire.h "
              "(or the record tables) and use the name", file=sys.stderr)
    sys.exit(1 if places else 0)
