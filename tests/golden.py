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

Running a case and comparing its output is harness.py's part.

Usage: golden.py [--preload LIBRARY] INTERPRETER CASE_FILE...

With --preload every case runs with LIBRARY preloaded into the interpreter
(LD_PRELOAD), and into nothing else; the run first makes sure the dynamic
loader really loads it there, since a statically linked interpreter would
ignore it and pass without proving anything.
"""

import os
import re
import resource
import subprocess
import sys

import harness
from harness import Malformed

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
            raise Malformed(f"{where}: unknown escape in {text!r}")
    return bytes(out)


def number(text, where, marker):
    if not re.fullmatch(r"-?[0-9]+", text):
        raise Malformed(f"{where}: '{marker}' needs a number, not {text!r}")
    return int(text)


class Case:
    def __init__(self, title, where):
        self.title, self.where = title, where
        self.stdin, self.stdout = b"", b""
        self.status, self.args, self.address_space, self.full = None, [], None, False
        self.stdin_closed = False


def parse(path):
    """The cases in one file; Malformed names the first line that is wrong."""
    cases = []
    with open(path, "rb") as f:
        for line_number, raw in enumerate(f, 1):
            where = f"{path}:{line_number}"
            try:
                line = raw.decode("utf-8").rstrip("\n")
            except UnicodeDecodeError:
                raise Malformed(f"{where}: not UTF-8 text; write other bytes as \\xHH") from None
            if not line.strip() or line.startswith("#"):
                continue
            if line.startswith("==="):
                cases.append(Case(line[3:].strip(), where))
                continue
            if not cases:
                raise Malformed(f"{where}: text before the first '===' line")
            case = cases[-1]
            marker, _, text = line.partition(" ")
            if marker in (">", ">|"):
                case.stdin += unescape(text, where) + (b"\n" if marker == ">" else b"")
            elif marker in ("<", "<|"):
                case.stdout += unescape(text, where) + (b"\n" if marker == "<" else b"")
            elif marker == "exit":
                case.status = number(text, where, marker)
            elif marker == "args":
                case.args = text.split()
            elif marker == "address-space":
                case.address_space = number(text, where, marker) << 20
            elif marker == "stdout" and text == "full":
                case.full = True
            elif marker == "stdin" and text == "closed":
                case.stdin_closed = True
            else:
                raise Malformed(f"{where}: cannot read {line!r}")
    for case in cases:
        if case.status is None:
            raise Malformed(f"{case.where}: case has no 'exit' line")
    return cases


def run(interpreter, case, environment=None):
    """The problems with one case; none when it passes. `environment`, when
    given, is the interpreter's whole environment."""
    def limit():
        if case.address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS, (case.address_space, case.address_space))
        if case.stdin_closed:
            os.close(0)

    # Without a function to run in the child, Python starts it with vfork, faster.
    options = {"preexec_fn": limit} if case.address_space is not None or case.stdin_closed else {}
    if not case.full:
        return harness.check([interpreter, *case.args], case.stdin, harness.BANNER + case.stdout, case.status,
                             TIMEOUT_SECONDS, env=environment, **options)[0]
    with open("/dev/full", "wb") as full:
        return harness.check([interpreter, *case.args], case.stdin, None, case.status, TIMEOUT_SECONDS,
                             stdout=full, env=environment, **options)[0]


def preloaded(interpreter, library):
    """The environment that preloads `library` into `interpreter`; Malformed
    when the dynamic loader would not load it there. Asked to trace, the
    loader lists what it loads for the program instead of running it."""
    environment = {**os.environ, "LD_PRELOAD": os.path.abspath(library)}
    trace = subprocess.run([interpreter], input=b"", capture_output=True,
                           env={**environment, "LD_TRACE_LOADED_OBJECTS": "1"}).stdout
    if os.path.abspath(library).encode() not in trace:
        raise Malformed(f"{interpreter}: {library} is not loaded into it (is it linked statically?)")
    return environment


def main():
    arguments = sys.argv[1:]
    library = None
    if arguments[:1] == ["--preload"] and len(arguments) > 1:
        library, arguments = arguments[1], arguments[2:]
    if len(arguments) < 2:
        sys.exit(__doc__)
    interpreter, paths = arguments[0], arguments[1:]

    def checks():
        # Every file is read before anything runs, so that a malformed one
        # gives its one line and nothing else.
        cases = [case for path in paths for case in parse(path)]
        environment = preloaded(interpreter, library) if library else None
        return [harness.report(f"{case.where} {case.title}", run(interpreter, case, environment)) for case in cases]

    harness.main(checks)


if __name__ == "__main__":
    main()
