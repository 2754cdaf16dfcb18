#!/usr/bin/env python3
"""Makes the page's table of the trace's sentences from the interpreter's own,
src/explanations.def, so that the page never words one by hand.

Each entry is one line, SENTENCE(identifier, "text with {marks}"), the text
one C string literal with only \\" and \\\\ escapes; blank lines, comments
and preprocessor lines are skipped, anything else is an error, so that a
change of the file's form stops the build rather than losing a sentence.
The identifier becomes the rule name the trace writes in its JSON events
(missing-parenthesis for missing_parenthesis or MissingParenthesis).

Until the interpreter's table moves into explanations.def, the same table is
read where it is now, the rows {"rule", "text"} of `sentences[]` in
src/trace.cpp (given that file instead); drop that reading once the .def
file is there.

Usage: explanations.py explanations.def|trace.cpp explanations.js [RULE...]
Each RULE named (one the page uses) must be in the table.
"""

import json
import os
import re
import sys

ENTRY = re.compile(r'\s*SENTENCE\(\s*([A-Za-z_][A-Za-z0-9_]*)\s*,\s*"((?:[^"\\]|\\["\\])*)"\s*\)\s*;?\s*')
SKIPPED = re.compile(r"\s*(//.*|/\*.*\*/|#.*)?\s*")


def rule_name(identifier):
    words = re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", identifier)
    return words.strip("_").lower().replace("_", "-")


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


ROW = re.compile(r'\{\s*"([a-z-]+)",\s*((?:"(?:[^"\\]|\\["\\])*"\s*)+)\}')
LITERAL = re.compile(r'"((?:[^"\\]|\\["\\])*)"')


def rows_of_trace(text, where):
    """The {"rule", "text" "more text"} rows of `const Sentence sentences[]`."""
    start = text.find("const Sentence sentences[] = {")
    end = text.find("\n};", start)
    if start < 0 or end < 0:
        raise SystemExit(f"{where}: no table of sentences")
    table = {}
    for row in ROW.finditer(text, start, end):
        table[row.group(1)] = "".join(re.sub(r"\\([\"\\])", r"\1", part) for part in LITERAL.findall(row.group(2)))
    if not table:
        raise SystemExit(f"{where}: no rows in the table of sentences")
    return table


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    source, target, *needed = sys.argv[1:]
    with open(source, encoding="utf-8") as file:
        text = file.read()
    table = rows_of_trace(text, source) if source.endswith(".cpp") else sentences(text, source)
    missing = [rule for rule in needed if rule not in table]
    if missing:
        raise SystemExit(f"{source}: the page needs the sentences {', '.join(missing)}, which it lacks")
    module = (f"// Made by web/explanations.py from {os.path.basename(source)}; do not edit.\n"
              f"export const sentences = {json.dumps(table, ensure_ascii=False, indent=2)};\n")
    with open(target, "w", encoding="utf-8") as file:
        file.write(module)


if __name__ == "__main__":
    main()
