#!/usr/bin/env python3
"""Names every function in the given folder whose body runs past LIMIT lines (default 100).

    tools/check/function_length.py src [LIMIT]

A function is a line (or up to four joined lines) that looks like a definition and ends in "{";
its length runs from there to the brace that closes it. Tables of data are not functions and are
not counted. Exits 1 when any function is too long.
"""
import os
import re
import sys

HEADER = re.compile(r"^\s*[\w:<>,~*&\s]+\b([\w:~]+|operator\S+)\s*\([^;]*\)\s*(const)?\s*"
                    r"(override)?\s*(noexcept)?\s*(->[^{]*)?\{\s*$")
NOT_A_FUNCTION = re.compile(r"^\s*(if|for|while|switch|else|do|catch|try|return|namespace|"
                            r"struct|class|enum)\b")


def long_functions(path, limit):
    lines = open(path, errors="replace").read().split("\n")
    i = 0
    while i < len(lines):
        if not lines[i].strip() or lines[i].lstrip().startswith(("//", "#")):
            i += 1
            continue
        joined, j = lines[i], i
        while j < i + 4 and "{" not in lines[j] and j + 1 < len(lines):
            j += 1
            joined += " " + lines[j].strip()
        if (HEADER.match(joined) and not NOT_A_FUNCTION.match(joined)
                and "=" not in joined.split("(")[0]):
            depth, k = 0, j
            while k < len(lines):
                depth += lines[k].count("{") - lines[k].count("}")
                if depth <= 0:
                    break
                k += 1
            if k - i + 1 > limit:
                yield i + 1, k - i + 1, lines[i].strip()
            i = j + 1
            continue
        i += 1


def main():
    root = sys.argv[1]
    limit = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    found = 0
    for folder, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            if name.endswith((".cpp", ".h")):
                path = os.path.join(folder, name)
                for line, length, text in long_functions(path, limit):
                    print(f"{path}:{line}: {length} lines: {text}")
                    found += 1
    if found:
        print(f"{found} function(s) past {limit} lines")
        return 1
    print(f"no function past {limit} lines")
    return 0


if __name__ == "__main__":
    sys.exit(main())
