#!/usr/bin/env python3
"""Runs golden cases against the interpreter and compares every byte.

A case file holds any number of cases. Each case starts with a "===" line and
lists, side by side, what goes in and what must come out:

    === (+) of nothing is 0
    > (+)
    < In:   (+)
    < Out:  0
    exit 0

    ">  text"  a line of standard input: the text, then a line feed
    ">| text"  standard input that ends right after the text (no line feed)
    "<  text"  a line of standard output after the banner, then a line feed
    "<| text"  standard output that ends right after the text
    "exit N"   the exit status
    "args ..."           command-line arguments (split on blanks)
    "address-space MIB"  run under that address-space limit (ulimit -v)
    "stdout full"        standard output is /dev/full (no "<" lines then)
    "stdin closed"       the run starts with standard input closed

After the marker comes one blank, then the text. Escapes in the text:
\\n \\r \\t \\v \\f \\0 \\\\ and \\xHH, so that any byte can be written. Lines
starting with "#" are comments. Every run must begin with the banner
"Vellumark" and an empty line; the "<" lines give what follows it.

Usage: golden.py INTERPRETER CASE_FILE...
"""

import os
import re
import resource
import subprocess
import sys

BANNER = b"Vellumark\n\n"
ESCAPES = {"n": b"\n", "r": b"\r", "t": b"\t", "v": b"\v", "f": b"\f", "0": b"\0", "\\": b"\\"}
TIMEOUT_SECONDS = 120


def unescape(text, where):
    out = bytearray()
    i = 0
    while i < len(text):
        if text[i] != "\\":
            out += text[i].encode()
            i += 1
        elif text[i + 1 : i + 2] == "x" and re.fullmatch(r"[0-9a-fA-F]{2}", text[i + 2 : i + 4]):
            out.append(int(text[i + 2 : i + 4], 16))
            i += 4
        elif text[i + 1 : i + 2] in ESCAPES:
            out += ESCAPES[text[i + 1]]
            i += 2
        else:
            raise ValueError(f"{where}: unknown escape in {text!r}")
    return bytes(out)


class Case:
    def __init__(self, title, where):
        self.title, self.where = title, where
        self.stdin, self.stdout = b"", b""
        self.status, self.args, self.address_space, self.full = None, [], None, False
        self.stdin_closed = False


def parse(path):
    cases = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            where = f"{path}:{number}"
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("==="):
                cases.append(Case(line[3:].strip(), where))
                continue
            if not cases:
                raise ValueError(f"{where}: text before the first '===' line")
            case = cases[-1]
            marker, _, text = line.partition(" ")
            if marker in (">", ">|"):
                case.stdin += unescape(text, where) + (b"\n" if marker == ">" else b"")
            elif marker in ("<", "<|"):
                case.stdout += unescape(text, where) + (b"\n" if marker == "<" else b"")
            elif marker == "exit":
                case.status = int(text)
            elif marker == "args":
                case.args = text.split()
            elif marker == "address-space":
                case.address_space = int(text) << 20
            elif marker == "stdout" and text == "full":
                case.full = True
            elif marker == "stdin" and text == "closed":
                case.stdin_closed = True
            else:
                raise ValueError(f"{where}: cannot read {line!r}")
    for case in cases:
        if case.status is None:
            raise ValueError(f"{case.where}: case has no 'exit' line")
    return cases


def run(interpreter, case):
    def limit():
        if case.address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS, (case.address_space, case.address_space))
        if case.stdin_closed:
            os.close(0)

    out = open("/dev/full", "wb") if case.full else subprocess.PIPE
    try:
        done = subprocess.run([interpreter, *case.args], input=case.stdin, stdout=out,
                              timeout=TIMEOUT_SECONDS, preexec_fn=limit)
    finally:
        if case.full:
            out.close()
    problems = []
    if done.returncode != case.status:
        problems.append(f"exit status {done.returncode}, expected {case.status}")
    if not case.full:
        if not done.stdout.startswith(BANNER):
            problems.append(f"output does not begin with the banner: {done.stdout[:40]!r}")
        elif done.stdout[len(BANNER) :] != case.stdout:
            problems.append(f"output after the banner:\n    got      {done.stdout[len(BANNER):]!r}\n"
                            f"    expected {case.stdout!r}")
    return problems


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    interpreter, failed, total = sys.argv[1], 0, 0
    for path in sys.argv[2:]:
        for case in parse(path):
            total += 1
            problems = run(interpreter, case)
            if problems:
                failed += 1
                print(f"FAIL {case.where} {case.title}")
                for problem in problems:
                    print("  " + problem)
    print(f"{total - failed} passed, {failed} failed")
    sys.exit(1 if failed or not total else 0)


if __name__ == "__main__":
    main()
