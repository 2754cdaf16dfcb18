#!/usr/bin/env python3
"""Makes the page's table of the trace's sentences from the interpreter's own,
src/explanations.def, so that the page never words one by hand.

Each entry is one line, SENTENCE(identifier, "text with {marks}"), the text
one C string literal with only \\" and \\\\ escapes; blank lines, comments
and preprocessor lines are skipped, anything else is an error, so that a
change of the file's form stops the build rather than losing a sentence.
The identifier with each _ written as - is the rule name the trace writes in
its JSON events (missing-parenthesis for missing_parenthesis).

Usage: explanations.py explanations.def explanations.js [RULE...]
Each RULE named (one the page uses) must be in the table.
"""

import json
import os
import re
import sys

ENTRY = re.compile(r'\s*SENTENCE\(\s*([A-Za-z_][A-Za-z0-9_]*)\s*,\s*"((?:[^"\\]|\\["\\])*)"\s*\)\s*;?\s*')
SKIPPED = re.compile(r"\s*(//.*|/\*.*\*/|#.*)?\s*")


def rule_name(identifier):
    return identifier.replace("_", "-")


def sentences(text, where):
    table = {}
    for number, line in enumerate(text.splitlines(), 1):
        entry = ENTRY.fullmatch(line)
        if entry is None:
            if SKIPPED.fullmatch(line):
                continue
            raise SystemExit(f"{where}:{number}: not SENTENCE(identifier, \"text\"): {line.strip()}")
        name = rule_name(entry.group(1))
        if name in table:
            raise SystemExit(f"{where}:{number}: {entry.group(1)} twice")
        table[name] = re.sub(r"\\([\"\\])", r"\1", entry.group(2))
    if not table:
        raise SystemExit(f"{where}: no SENTENCE entries")
    return table


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    source, target, *needed = sys.argv[1:]
    with open(source, encoding="utf-8") as file:
        text = file.read()
    table = sentences(text, source)
    missing = [rule for rule in needed if rule not in table]
    if missing:
        raise SystemExit(f"{source}: the page needs the sentences {', '.join(missing)}, which it lacks")
    module = (f"// Made by web/explanations.py from {os.path.basename(source)}; do not edit.\n"
              f"export const sentences = {json.dumps(table, ensure_ascii=False, indent=2)};\n")
    with open(target, "w", encoding="utf-8") as file:
        file.write(module)


if __name__ == "__main__":
    main()
