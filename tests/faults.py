#!/usr/bin/env python3
"""Makes every allocation, read and write of every golden program fail in turn.

Each golden case (except those that set an address-space limit, a full or a
closed stream: they test those failures themselves) first runs once with the
fault library preloaded only to count its calls. Then it runs again once for
every N from 1 to that count with the Nth allocation failing, once for every
read of standard input failing with EIO and with EAGAIN, and once for every
write failing with each of EIO, ENOSPC, EPIPE and EAGAIN. The allocations made
before the first read are the same in every run, so they are failed in turn
for one run on empty input, and each case starts after them. A run passes when
it ends the way the README's "Errors and exit status" says:

  - unaffected: the same output and status as the counting run (a failure the
    interpreter can work around, such as a mapping it cannot grow in place);
  - allocation failed: a prefix of the normal output, then
    "Error: out of memory." and status 1, where the prefix ends neither inside
    an "In:   " or "Out:  " line nor inside the banner: a value is written
    whole or not at all;
  - a read failed: a prefix, then "Error: standard input could not be read."
    and status 1;
  - a write failed: a prefix of the normal output and status 1 (the error
    line itself cannot be written then);
  - EAGAIN ("try again") may instead be waited out: the normal output.

Never a signal, a hang or anything on standard error (a sanitizer report).

With --trace the interpreter is vellumark-trace and the cases are golden
traces (their "<" lines are the whole trace, with no banner of its own). The
trace ends the same ways: after a failed allocation, a prefix of the normal
trace cut at a line end, then "Error: out of memory." and status 1; after a
failed write, a prefix and status 1 (or, for EAGAIN, the whole trace); after a
failed read, a trace of a run that ends with the read error's line and
status 1.

Usage: faults.py [--trace] LIBRARY INTERPRETER CASE_FILE...
"""

import concurrent.futures
import os
import subprocess
import sys
import tempfile
import time

import golden
import harness

# Generous, for the coverage build; a hang still shows.
TIMEOUT_SECONDS = 300
OUT_OF_MEMORY = b"Error: out of memory.\n"
UNREADABLE = b"Error: standard input could not be read.\n"
LABELS = (b"In:   ", b"Out:  ")


def execute(interpreter, case, environment):
    try:
        done = subprocess.run([interpreter, *case.args], input=case.stdin, capture_output=True,
                              env=environment, timeout=TIMEOUT_SECONDS)
    except subprocess.TimeoutExpired:
        return None
    return done


def whole_lines(prefix, normal):
    """Whether `prefix` is a start of `normal` that an error line may follow:
    not inside the banner, nor inside a line the interpreter labels."""
    if not normal.startswith(prefix):
        return False
    if len(prefix) < len(harness.BANNER):
        return prefix == b""
    last = prefix[prefix.rfind(b"\n") + 1:]
    return not any(label.startswith(last[:len(label)]) or last.startswith(label) for label in LABELS if last)


def judge_trace(kind, done, normal):
    """The problem with one faulty run of vellumark-trace, or None."""
    out = done.stdout
    if done.returncode != 1:
        return f"exit status {done.returncode}"
    if kind == "alloc":
        prefix = out[:-len(OUT_OF_MEMORY)]
        if out.endswith(OUT_OF_MEMORY) and normal.stdout.startswith(prefix) and prefix[-1:] in (b"", b"\n"):
            return None
    elif kind == "read":
        if UNREADABLE[:-1] in out and (out.endswith(b"end    status 1\n") or out.endswith(b'"status":1}\n')):
            return None
    elif normal.stdout.startswith(out):
        return None
    return "output " + harness.escape(out[-200:])


def judge(kind, done, normal, traced=False):
    """The problem with one faulty run, or None."""
    if done is None:
        return f"no result within {TIMEOUT_SECONDS} seconds"
    if done.returncode < 0:
        return f"ended by signal {-done.returncode}"
    if done.stderr:
        return "standard error: " + harness.escape(done.stderr[:500])
    out = done.stdout
    if (out, done.returncode) == (normal.stdout, normal.returncode):
        return None
    if traced:
        return judge_trace(kind, done, normal)
    if done.returncode != 1:
        return f"exit status {done.returncode}"
    if kind == "alloc":
        if out.endswith(OUT_OF_MEMORY) and whole_lines(out[:-len(OUT_OF_MEMORY)], normal.stdout):
            return None
    elif kind == "read":
        if out.endswith(UNREADABLE) and normal.stdout.startswith(out[:-len(UNREADABLE)]):
            return None
    elif normal.stdout.startswith(out):
        return None  # a write failed: what came before it, and status 1
    return "output " + harness.escape(out[-200:])


def counted(library, interpreter, case):
    """The counting run, and its numbers of allocations, reads and writes."""
    with tempfile.NamedTemporaryFile() as counts:
        environment = {**os.environ, "LD_PRELOAD": library, "VELLUMARK_FAULT_COUNT": counts.name}
        done = execute(interpreter, case, environment)
        text = open(counts.name).read().split()
    if done is None or len(text) != 3:
        raise SystemExit(f"{case.where}: the counting run failed")
    return done, int(text[0]), int(text[1]), int(text[2])


def main():
    arguments = sys.argv[1:]
    traced = arguments[:1] == ["--trace"]
    arguments = arguments[1:] if traced else arguments
    if len(arguments) < 3:
        sys.exit(__doc__)
    library, interpreter, paths = os.path.abspath(arguments[0]), arguments[1], arguments[2:]
    golden.preloaded(interpreter, library)
    cases = [case for path in paths for case in golden.parse(path)
             if case.address_space is None and not case.full and not case.stdin_closed
             and (not traced or case.stdout)]
    started = time.monotonic()
    empty = golden.Case("empty input", "start-up")
    empty.status = 0
    normal, start_up, _, _ = counted(library, interpreter, empty)
    runs = [(empty, normal, "alloc", None, n) for n in range(1, start_up + 1)]
    for case in cases:
        normal, allocations, reads, writes = counted(library, interpreter, case)
        expected = case.stdout if traced else (harness.BANNER if case.banner else b"") + case.stdout
        if normal.stdout != expected or normal.returncode != case.status:
            raise SystemExit(f"{case.where}: the preloaded interpreter fails the case itself")
        runs += [(case, normal, "alloc", None, n) for n in range(start_up + 1, allocations + 1)]
        runs += [(case, normal, "read", error, n) for error in ("EIO", "EAGAIN") for n in range(1, reads + 1)]
        runs += [(case, normal, "write", error, n) for error in ("EIO", "ENOSPC", "EPIPE", "EAGAIN")
                 for n in range(1, writes + 1)]

    def attempt(run):
        case, normal, kind, error, n = run
        plan = f"alloc:{n}" if kind == "alloc" else f"{kind}:{n}:{error}"
        environment = {**os.environ, "LD_PRELOAD": library, "VELLUMARK_FAULT": plan}
        problem = judge(kind, execute(interpreter, case, environment), normal, traced)
        return None if problem is None else f"FAIL {case.where} {case.title} [{plan}]: {problem}"

    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        failures = [problem for problem in pool.map(attempt, runs) if problem]
    for problem in failures[:50]:
        print(problem)
    print(f"{len(cases)} cases, {len(runs)} runs with one failing call, {len(failures)} failed, "
          f"{time.monotonic() - started:.1f} s")
    sys.exit(1 if failures or not runs else 0)


if __name__ == "__main__":
    main()
