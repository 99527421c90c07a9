#!/usr/bin/env python3
"""Makes a man page from a Markdown page of docs/man/, at build time.

The page's first line is "% NAME SECTION DATE-or-version"; "# HEADING" starts a
section; a line "@help PROGRAM [ARGS...]" is replaced by what PROGRAM ARGS prints
(its --help text, so that the man page and --help cannot disagree), as a preformatted
block. Otherwise: paragraphs, "- " items, four-space indented blocks, `code` and
**bold** inline.

Usage: md2man.py PAGE.md OUTPUT VERSION [NAME=PROGRAM...]
"""
import re
import subprocess
import sys


def inline(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"`([^`]+)`", r"\\fB\1\\fR", text)
    text = re.sub(r"\*\*([^*]+)\*\*", r"\\fB\1\\fR", text)
    return text


def escape_line(line):
    line = line.replace("\\", "\\e")
    return "\\&" + line if line.startswith((".", "'")) else line


def main():
    src, out, version = sys.argv[1:4]
    programs = dict(a.split("=", 1) for a in sys.argv[4:])
    lines = open(src).read().splitlines()
    name, section = lines[0].lstrip("% ").split()[:2]
    roff = ['.TH %s %s "" "qlmc32 %s" "Quillmar"' % (name.upper(), section, version)]
    para = []
    section = [""]

    def flush():
        if para:
            text = inline(" ".join(para))
            if section[0] == "NAME":  # "name - what it is", as whatis and apropos read it
                text = text.replace(" - ", " \\- ", 1)
            roff.append(".PP")
            roff.append(text)
            para.clear()

    i = 1
    while i < len(lines):
        line = lines[i]
        if line.startswith("# "):
            flush()
            section[0] = line[2:].upper()
            roff.append(".SH " + section[0])
        elif line.startswith("@help "):
            flush()
            args = line.split()[1:]
            args[0] = programs.get(args[0], args[0])
            text = subprocess.run(args, capture_output=True, text=True, check=True).stdout
            roff.append(".PP\n.nf")
            roff.extend(escape_line(l) for l in text.rstrip("\n").splitlines())
            roff.append(".fi")
        elif line.startswith("    "):
            flush()
            roff.append(".PP\n.nf")
            while i < len(lines) and (lines[i].startswith("    ") or not lines[i].strip()):
                roff.append(escape_line(lines[i][4:]))
                i += 1
            while roff[-1] == "":
                roff.pop()
            roff.append(".fi")
            continue
        elif line.startswith("- "):
            flush()
            roff.append(".IP \\(bu 2")
            roff.append(inline(line[2:]))
            while i + 1 < len(lines) and lines[i + 1].startswith("  ") and not lines[i + 1].startswith("    "):
                i += 1
                roff.append(inline(lines[i].strip()))
        elif not line.strip():
            flush()
        else:
            para.append(line.strip())
        i += 1
    flush()
    open(out, "w").write("\n".join(roff) + "\n")


main()
