#!/usr/bin/env python3
"""Writes the playground's example menu: examples.json, a list of
{"name", "description", "program"} in the order of examples.txt.

Fails when an example has no description or a description no example, so
that the menu cannot drift from the examples folder.

Usage: examples.py EXAMPLES.TXT EXAMPLES_DIR OUTPUT.json
"""

import json
import pathlib
import sys


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    listing, folder, output = (pathlib.Path(argument) for argument in sys.argv[1:])
    described = {}
    for line in listing.read_text(encoding="utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            name, _, description = line.partition(" ")
            described[name] = description.strip()
    programs = {path.stem: path for path in folder.glob("*.scm")}
    problems = [f"{folder}/{name}.scm has no line in {listing}" for name in programs.keys() - described.keys()]
    problems += [f"{listing} describes {name}, which is not in {folder}" for name in described.keys() - programs.keys()]
    if problems:
        sys.exit("\n".join(sorted(problems)))
    menu = [{"name": name, "description": description, "program": programs[name].read_text(encoding="utf-8")}
            for name, description in described.items()]
    output.write_text(json.dumps(menu, ensure_ascii=False, indent=1) + "\n", encoding="utf-8")


if __name__ == "__main__":
    main()
