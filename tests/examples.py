#!/usr/bin/env python3
"""Runs one example program and checks it against what it must print.

An example is a file NAME.scm holding one expression, fed to the interpreter
on standard input. Beside it:

    NAME.out     the whole of standard output, banner included, byte for byte
    NAME.status  the exit status, one number (absent: 0)

The README quotes these files, so a change in behaviour that would make the
documentation wrong makes this test fail instead.

Usage: examples.py INTERPRETER EXAMPLE.scm
"""

import pathlib
import re
import sys

import harness

TIMEOUT_SECONDS = 60


def expected_status(program):
    path = program.with_suffix(".status")
    if not path.exists():
        return 0
    text = path.read_text(encoding="utf-8").strip()
    if not re.fullmatch(r"-?[0-9]+", text):
        raise harness.Malformed(f"{path}:1: not a number: {text!r}")
    return int(text)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    interpreter, program = sys.argv[1], pathlib.Path(sys.argv[2])

    def checks():
        expected, status = program.with_suffix(".out").read_bytes(), expected_status(program)
        with program.open("rb") as source:
            problems = harness.check([interpreter], source, expected, status, TIMEOUT_SECONDS)[0]
        return [harness.report(str(program), problems)]

    harness.main(checks)


if __name__ == "__main__":
    main()
