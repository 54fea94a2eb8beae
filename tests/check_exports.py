#!/usr/bin/env python3
"""Checks that a libezcam exports exactly the calls its header declares, and
that the header marks every one of them EZCAM_API.

Usage: check_exports.py HEADER LIBRARY
"""
import re
import subprocess
import sys


def declared(header_text):
    """Function names declared in the header, and those without EZCAM_API."""
    text = re.sub(r"/\*.*?\*/", " ", header_text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)
    names, unmarked = set(), set()
    declaration = re.compile(r"^(?!\s*typedef)\s*([A-Za-z_][\w \t*]*?)\b([A-Za-z_]\w*)\s*\([^;{}]*\)\s*;",
                             re.M)
    for match in declaration.finditer(text):
        names.add(match.group(2))
        if "EZCAM_API" not in match.group(1).split():
            unmarked.add(match.group(2))
    return names, unmarked


def exported(library):
    """Defined dynamic symbols of the library, without version nodes."""
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    symbols = {}
    for line in out.splitlines():
        fields = line.split()
        kind, name = fields[-2], fields[-1].split("@")[0]
        if kind != "A":  # the version node itself
            symbols[name] = kind
    return symbols


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[1]) as header:
        names, unmarked = declared(header.read())
    symbols = exported(sys.argv[2])
    problems = []
    if len(names) < 100:
        problems.append(f"only {len(names)} declarations found in the header")
    problems += [f"declared without EZCAM_API: {n}" for n in sorted(unmarked)]
    problems += [f"declared, not exported: {n}" for n in sorted(names - symbols.keys())]
    problems += [f"exported, not declared: {n}" for n in sorted(symbols.keys() - names)]
    problems += [f"exported as {k}, not as code: {n}" for n, k in sorted(symbols.items())
                 if n in names and k != "T"]
    for problem in problems:
        print(problem)
    print(f"{len(names)} declarations, {len(symbols)} exports, {len(problems)} problems")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
