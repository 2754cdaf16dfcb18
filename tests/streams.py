#!/usr/bin/env python3
"""Standard input and output at their edges, where a golden case cannot reach:
streams set not to block, a reader that goes away, a file-size limit, a file
read by the next program after this one, a name that never ends.

Usage: streams.py INTERPRETER CHECK    (streams.py list names the checks)
"""

import os
import resource
import subprocess
import sys
import tempfile
import threading
import time

import harness

BANNER = harness.BANNER
TIMEOUT_SECONDS = 120
# A list whose echo and value fill a pipe's buffer many times over.
LONG_LIST = b"(quote (" + b" ".join(b"%d" % i for i in range(200_000)) + b"))\n"
LONG_OUTPUT = BANNER + b"In:   " + LONG_LIST[:-1] + b"\nOut:  " + LONG_LIST[7:-2] + b"\n"


def run(interpreter, stdin, **options):
    """Starts the interpreter on `stdin` (bytes, or a file to read from) and
    returns its output and status."""
    if isinstance(stdin, bytes):
        done = subprocess.run([interpreter], input=stdin, capture_output=True, timeout=TIMEOUT_SECONDS, **options)
    else:
        done = subprocess.run([interpreter], stdin=stdin, capture_output=True, timeout=TIMEOUT_SECONDS, **options)
    return done.stdout, done.returncode


def feed(child, data):
    """Writes `data` to the child's standard input from a thread of its own,
    so that its output can be read meanwhile; a child that stops reading early
    is no error here."""
    def write():
        try:
            child.stdin.write(data)
            child.stdin.close()
        except BrokenPipeError:
            pass
    feeder = threading.Thread(target=write)
    feeder.start()
    return feeder


def expect(what, got, expected):
    if got == expected:
        return []
    shown = lambda value: harness.escape(value[:200]) if isinstance(value, bytes) else repr(value)
    return [f"{what}: got {shown(got)}, expected {shown(expected)}"]


def slow_reader_on_nonblocking_output(interpreter):
    """A stream that is not ready says "try again"; the run waits for it."""
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    child = subprocess.Popen([interpreter], stdin=subprocess.PIPE, stdout=write_end)
    os.close(write_end)
    feeder = feed(child, LONG_LIST)
    time.sleep(0.5)  # the pipe fills while nobody reads
    chunks = []
    with os.fdopen(read_end, "rb") as reader:
        while chunk := reader.read(4096):
            chunks.append(chunk)
            time.sleep(0.0005)
    feeder.join()
    status = child.wait(TIMEOUT_SECONDS)
    return expect("status", status, 0) + expect("output", b"".join(chunks), LONG_OUTPUT)


def late_input_on_nonblocking_input(interpreter):
    read_end, write_end = os.pipe()
    os.set_blocking(read_end, False)
    child = subprocess.Popen([interpreter], stdin=read_end, stdout=subprocess.PIPE)
    os.close(read_end)
    time.sleep(0.3)  # nothing has arrived yet
    try:
        os.write(write_end, b"(+ 1 2)\n")
    except BrokenPipeError:
        pass  # the run ended without waiting, which the checks below show
    os.close(write_end)
    output, _ = child.communicate(timeout=TIMEOUT_SECONDS)
    return expect("status", child.returncode, 0) + expect("output", output, BANNER + b"In:   (+ 1 2)\nOut:  3\n")


def reader_gone(interpreter):
    """A reader that closes the pipe early is a failed write: status 1, no
    signal (Python starts children with SIGPIPE's default action)."""
    child = subprocess.Popen([interpreter], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    feeder = feed(child, LONG_LIST)
    first = child.stdout.read(10)
    child.stdout.close()
    feeder.join()
    return expect("first bytes", first, BANNER[:10]) + expect("status", child.wait(TIMEOUT_SECONDS), 1)


def file_size_limit(interpreter):
    limit = 4096
    with tempfile.TemporaryFile() as output:
        child = subprocess.run([interpreter], input=LONG_LIST, stdout=output, timeout=TIMEOUT_SECONDS,
                               preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        output.seek(0)
        written = output.read()
    return expect("status", child.returncode, 1) + expect("output so far", written, LONG_OUTPUT[:limit])


def rest_of_file_left(interpreter):
    """`{ vellumark; cat; } < file`: what follows the expression and its one
    character of lookahead is left for the next reader of the same file."""
    problems = []
    rest = b"left for the next reader\n" * 5000  # past the first block read
    for program, expected in ((b"(+ 1 2)\n", b"In:   (+ 1 2)\nOut:  3\n"), (b"42 ", b"In:   42\nOut:  42\n"),
                              (b"(car (list))\n", b"In:   (car (list))\nError: tried to getCar from non-Cons.\n")):
        with tempfile.TemporaryFile() as file:
            file.write(program + rest)
            file.seek(0)
            output, status = run(interpreter, file)
            problems += expect(f"output for {program!r}", output, BANNER + expected)
            problems += expect(f"what {program!r} left", file.read(), rest)
    return problems


def long_name_after_nul(interpreter):
    """A NUL ends a name; the bytes after it are read past, not stored: 64 MiB
    of them fit in a 32 MiB address space."""
    limit = 32 << 20
    program = b"(quote a\0" + b"x" * (64 << 20) + b")\n"
    output, status = run(interpreter, program,
                         preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
    return expect("status", status, 0) + expect("output", output, BANNER + b"In:   (quote a)\nOut:  a\n")


CHECKS = {
    "nonblocking-output": slow_reader_on_nonblocking_output,
    "nonblocking-input": late_input_on_nonblocking_input,
    "reader-gone": reader_gone,
    "file-size-limit": file_size_limit,
    "rest-of-file": rest_of_file_left,
    "name-after-nul": long_name_after_nul,
}


def main():
    if sys.argv[1:] == ["list"]:
        print("\n".join(CHECKS))
        return
    if len(sys.argv) != 3 or sys.argv[2] not in CHECKS:
        sys.exit(f"usage: {sys.argv[0]} INTERPRETER {{{'|'.join(CHECKS)}}} | list")
    interpreter, name = sys.argv[1:]
    harness.main(lambda: [harness.report(name, CHECKS[name](interpreter))])


if __name__ == "__main__":
    main()
