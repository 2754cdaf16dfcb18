"""Run and compare: the core that golden.py, examples.py, large.py, the
differential checker (fuzz/differential.py), the benchmark and the browser
tests share (and install.sh, through examples.py).

A check runs a command with given standard input and compares its standard
output byte for byte, and its exit status, with what was expected. A failure
shows the first byte that differs, escaped the way case files write bytes, so
that a blank, a line end and a missing character can be told apart.
"""

import subprocess
import sys

BANNER = b"Vellumark\n\n"
CONTEXT = 40  # bytes shown on each side of the first difference
ESCAPED = {ord("\\"): "\\\\", ord("\n"): "\\n", ord("\r"): "\\r", ord("\t"): "\\t"}


class Malformed(Exception):
    """A test description that cannot be used. Its text is one line that
    starts with FILE:LINE."""


def escape(data):
    """`data` as text, with the escapes of case files for what is not printable."""
    return "".join(ESCAPED.get(byte, chr(byte) if 32 <= byte < 127 else f"\\x{byte:02x}") for byte in data)


def numbers(count):
    """"0 1 2 ... count-1", the text of large lists."""
    return " ".join(map(str, range(count)))


def wrap32(value):
    """`value` wrapped to 32 bits in two's complement, as the interpreter's integers are."""
    return (value + 2**31) % 2**32 - 2**31


def differs_at(got, expected):
    """The offset of the first byte where `got` and `expected` differ, or where the shorter ends."""
    return next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))


def first_difference(got, expected):
    """Lines that show where `got` first differs from `expected`."""
    at = differs_at(got, expected)
    line_start = expected.rfind(b"\n", 0, at) + 1
    line, column = expected.count(b"\n", 0, at) + 1, at - line_start + 1
    start = max(line_start, at - CONTEXT)
    # The line of the difference from its start, or its last CONTEXT bytes.
    prefix = ("..." if start > line_start else "") + escape(expected[start:at])
    shown = []
    for label, text in (("expected", expected), ("got", got)):
        rest = escape(text[at : at + CONTEXT]) + ("..." if len(text) > at + CONTEXT else "")
        shown.append(f"  {label:<9}{prefix}{rest if at < len(text) else '(the output ends here)'}")
    return [f"standard output differs at byte {at} (line {line}, column {column}):", *shown,
            " " * (11 + len(prefix)) + "^"]


def run(command, stdin, timeout, **options):
    """Runs `command` on `stdin` (bytes, or an open file) and returns the
    finished process, with its standard output and error as bytes; after
    `timeout` seconds it is killed and its returncode is None. `options` go to
    subprocess.run."""
    feed = {"input": stdin} if isinstance(stdin, bytes) else {"stdin": stdin}
    options.setdefault("stdout", subprocess.PIPE)
    try:
        return subprocess.run(command, **feed, stderr=subprocess.PIPE, timeout=timeout, **options)
    except subprocess.TimeoutExpired as expired:
        return subprocess.CompletedProcess(command, None, expired.stdout or b"", expired.stderr or b"")


def compare(done, expected, status):
    """The problems of a finished run (empty when it wrote exactly `expected`
    to standard output and ended with `status`; an `expected` of None leaves
    standard output unchecked)."""
    problems = []
    if done.returncode != status:
        problems.append(f"exit status {done.returncode}, expected {status}")
    if expected is not None and done.stdout != expected:
        problems.extend(first_difference(done.stdout, expected))
    if problems and done.stderr:
        # Not an error in itself (a coverage or sanitizer build may write
        # there), but it helps to explain one.
        problems.append(f"standard error: {escape(done.stderr[:2000])}")
    return problems


def check(command, stdin, expected, status, timeout, **options):
    """Runs `command` as run() does and compares it as compare() does; returns
    the problems and the finished process (None after a timeout)."""
    done = run(command, stdin, timeout, **options)
    if done.returncode is None:
        return [f"no result within {timeout} seconds"], None
    return compare(done, expected, status), done


def report(name, problems):
    """Prints a failed check's name and its problems; returns whether it passed."""
    if problems:
        print(f"FAIL {name}")
        for problem in problems:
            print("  " + problem)
    return not problems


def main(checks):
    """Runs `checks`, a function that returns a list with one passed-or-not
    flag per check, prints the tally and exits with 1 when anything failed or
    nothing ran. A malformed description or a file that cannot be opened ends
    the run with its one line and status 2 instead of a traceback."""
    try:
        results = checks()
    except Malformed as error:
        print(error)
        sys.exit(2)
    except OSError as error:
        print(f"{error.filename}: {error.strerror}" if error.filename else error)
        sys.exit(2)
    failed = results.count(False)
    print(f"{len(results) - failed} passed, {failed} failed")
    sys.exit(1 if failed or not results else 0)
