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

import difflib
import pathlib
import subprocess
import sys

TIMEOUT_SECONDS = 60


def expected_status(program):
    path = program.with_suffix(".status")
    if not path.exists():
        return 0
    text = path.read_text(encoding="utf-8").strip()
    if not text.lstrip("-").isdigit():
        raise ValueError(f"{path}: not a number: {text!r}")
    return int(text)


def check(interpreter, program):
    """The problems found with one example; none when it behaves as recorded."""
    expected = program.with_suffix(".out").read_bytes()
    status = expected_status(program)
    try:
        with program.open("rb") as source:
            done = subprocess.run([interpreter], stdin=source, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return [f"no result within {TIMEOUT_SECONDS} seconds"]
    problems = []
    if done.returncode != status:
        problems.append(f"exit status {done.returncode}, expected {status}")
    if done.stdout != expected:
        diff = difflib.unified_diff(expected.decode("utf-8", "replace").splitlines(keepends=True),
                                    done.stdout.decode("utf-8", "replace").splitlines(keepends=True),
                                    "expected", "got", lineterm="")
        # Each line shown as a Python string would be, so that blanks and line
        # ends can be told apart.
        problems.append("standard output differs:\n" + "".join(repr(line)[1:-1] + "\n" for line in diff))
    if problems and done.stderr:
        # Not an error in itself (a coverage or sanitizer build may write there),
        # but it helps to explain one.
        problems.append(f"standard error: {done.stderr[:400]!r}")
    return problems


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    interpreter, program = sys.argv[1], pathlib.Path(sys.argv[2])
    try:
        problems = check(interpreter, program)
    except (OSError, ValueError) as error:
        problems = [str(error)]
    if problems:
        print(f"FAIL {program}")
        for problem in problems:
            print("  " + problem.rstrip("\n").replace("\n", "\n  "))
        print("0 passed, 1 failed")
        sys.exit(1)
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
