#!/usr/bin/env python3
"""Checks vellumark-trace against vellumark.

  trace_check.py same VELLUMARK VELLUMARK_TRACE CASE_FILE_OR_PROGRAM...
      Every input (each golden case's standard input, or a program file) runs
      through both. The trace must be one JSON object a line, each with an
      "event" member; its "output" events joined must be exactly vellumark's
      standard output, and its last event "end" must carry vellumark's status.
      A hook that changed evaluation would show here.

  trace_check.py random VELLUMARK VELLUMARK_TRACE COUNT
      The same for COUNT random programs of the differential checker
      (fuzz/differential.py, seed 1).

  trace_check.py bounded VELLUMARK VELLUMARK_TRACE STEPS...
      Countdowns of STEPS steps, runs of more events than the trace writes
      as they come: checks what it keeps, what it leaves out, and its output.

  trace_check.py output VELLUMARK_TRACE
      Runs standard input through vellumark-trace --json and writes what its
      "output" events hold, ending with the status its "end" event gives: a
      stand-in for vellumark that the differential checker can compare with
      vellumark on random programs.

  trace_check.py said VELLUMARK_TRACE CASE_FILE...
      Golden explanations: as golden, but the "<" lines are only what the
      trace says about the run, not its steps: the error, explanation and
      note events (with the line that gives a form's place) and the end, in
      the form the case asks for. A run may take millions of steps to fail
      (a recursion without end) and still be a short case.

  trace_check.py streams VELLUMARK_TRACE
      The trace's own output at its edges, which must end as vellumark's
      does: a full disk, a closed standard output and a file-size limit end
      with status 1 and a prefix of the trace; a reader that goes away ends
      the run (status 1, no signal); a standard output set not to block,
      whose reader starts late, gets the whole trace.

  trace_check.py names VELLUMARK_TRACE REFERENCE_TSV
      Every form and built-in of the reference (doc/reference.tsv), called
      with two of its letters swapped, must have the trace's note ask "did
      you mean" it: the explainer's own list of the language's names must
      not fall behind the language.

  trace_check.py golden VELLUMARK_TRACE CASE_FILE...
      Golden traces: case files as golden.py reads them, whose "<" lines are the
      whole trace (there is no banner of its own): readable, or JSON where the
      case gives "args --json". A case with no "<" line must name the option
      it does not take and write the usage to standard error.
"""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import golden  # noqa: E402
import harness  # noqa: E402

TIMEOUT_SECONDS = 120


def inputs(paths):
    for path in paths:
        if path.endswith(".case"):
            for case in golden.parse(path):
                # Cases that need a limit, arguments or a closed stream test the
                # driver's surroundings, not evaluation.
                if not (case.args or case.address_space or case.full or case.stdin_closed):
                    yield f"{case.where} {case.title}", case.stdin
        else:
            with open(path, "rb") as f:
                yield path, f.read()


def problems_of(plain, traced, stdin, *options):
    expected = subprocess.run([plain], input=stdin, capture_output=True, timeout=TIMEOUT_SECONDS)
    got = subprocess.run([traced, "--json", *options], input=stdin, capture_output=True, timeout=TIMEOUT_SECONDS)
    problems = []
    events = []
    for number, line in enumerate(got.stdout.split(b"\n")[:-1], 1):
        try:
            event = json.loads(line)
            if not isinstance(event, dict) or "event" not in event:
                raise ValueError("no event member")
            events.append(event)
        except ValueError as error:
            return [f"trace line {number} is no event ({error}): {line[:120]!r}"]
    if not got.stdout.endswith(b"\n"):
        problems.append("the trace does not end with a line end")
    # Bytes above 127 are written as the code points U+0080-U+00FF.
    output = "".join(e["text"] for e in events if e["event"] == "output").encode("latin-1")
    if output != expected.stdout:
        problems.extend(harness.first_difference(output, expected.stdout))
    if not events or events[-1]["event"] != "end":
        problems.append("the last event is not 'end'")
    elif events[-1]["status"] != expected.returncode:
        problems.append(f"'end' says status {events[-1]['status']}, vellumark ended with {expected.returncode}")
    if got.returncode != expected.returncode:
        problems.append(f"vellumark-trace ended with status {got.returncode}, vellumark with {expected.returncode}")
    return problems


# A countdown that prints as it goes: the same events for each step, one
# level deeper each time, then one level out at a time. Its count is padded so
# that every run has the same places.
COUNTDOWN = ("(begin (define n {:>6}) (define down (lambda () (cond ((< n 1) (quote done)) "
             "(else (begin (print n) (define n (- n 1)) (down)))))) (down))\n")
HEAD_EVENTS, TAIL_EVENTS = 100_000, 10_000


def countdown_events(traced, steps, *options):
    done = subprocess.run([traced, "--json", *options], input=COUNTDOWN.format(steps).encode(),
                          capture_output=True, timeout=TIMEOUT_SECONDS)
    return [json.loads(line) for line in done.stdout.split(b"\n") if line]


def bounded_problems(plain, traced, steps):
    """A run of more events than the trace keeps: the first HEAD_EVENTS as they
    came, a "skipped" event with the count left out, if any, then the last
    TAIL_EVENTS in order, and all of the output. The number of events a run
    makes grows with its steps by a constant count, which two short runs give,
    and its last steps are those of a short run but for depths and bindings."""
    kept = lambda events: [e for e in events if e["event"] not in ("output", "end", "snapshot")]  # noqa: E731
    short, shorter = kept(countdown_events(traced, 20)), kept(countdown_events(traced, 10))
    made = len(short) + (len(short) - len(shorter)) // 10 * (steps - 20)
    events = kept(countdown_events(traced, steps))
    problems = problems_of(plain, traced, COUNTDOWN.format(steps).encode())
    skipped = [i for i, e in enumerate(events) if e["event"] == "skipped"]
    left_out = made - HEAD_EVENTS - TAIL_EVENTS
    if left_out > 0 and (skipped != [HEAD_EVENTS] or events[HEAD_EVENTS]["count"] != left_out):
        problems.append(f"expected one 'skipped' event of {left_out} after {HEAD_EVENTS}, found {skipped}")
    # After the gap, the stacks as they stand where the tail begins: the
    # countdown binds n and down, then n once a step, so with n bound to k
    # there are 2 + steps - k bindings.
    whole = [e for e in countdown_events(traced, steps) if e["event"] != "output"]
    after = [whole[i + 1] for i, e in enumerate(whole) if e["event"] == "skipped"]
    if left_out > 0 and (len(after) != 1 or after[0]["event"] != "snapshot" or not after[0]["bindings"]
                         or after[0]["bindings"][0]["name"] != "n"
                         or len(after[0]["bindings"]) + after[0]["bindingsLeftOut"]
                         != 2 + steps - int(after[0]["bindings"][0]["value"])):
        problems.append(f"no snapshot of the stacks after the gap: {str(after)[:300]}")
    if left_out <= 0 and skipped:
        problems.append(f"'skipped' events at {skipped} in a run of {made} events")
    if len(events) - len(skipped) != min(made, HEAD_EVENTS + TAIL_EVENTS):
        problems.append(f"{len(events) - len(skipped)} events written of {made}")
    # In order, depth moves by a level or two from one event to the next.
    start = HEAD_EVENTS + len(skipped)
    depths = [(i, e["depth"]) for i, e in enumerate(events) if "depth" in e and (i >= start or not skipped)]
    jumps = [(i, d, d2) for (i, d), (_, d2) in zip(depths, depths[1:]) if abs(d2 - d) > 2]
    if jumps:
        problems.append(f"depth jumps from one event to the next (index, from, to): {jumps[:3]}")
    # The end: "done" handed out one level at a time, two events a level, and
    # before it the last steps, which are those of any countdown.
    def ending(events):
        out = next(i for i in range(len(events), 0, -1) if events[i - 1].get("value", events[i - 1].get("result"))
                   != "done")
        return len(events) - out, [{k: v for k, v in e.items() if k not in ("depth", "binding")}
                                   for e in events[out - 150:out]]
    (out_long, last_long), (out_short, last_short) = ending(events), ending(short)
    if out_long - out_short != 2 * (steps - 20) or last_long != last_short:
        problems.append(f"the last events differ from those of a short countdown ({out_long} events hand out"
                        f" 'done', {out_short} in a short one)")
    readable = subprocess.run([traced], input=COUNTDOWN.format(steps).encode(), capture_output=True,
                              timeout=TIMEOUT_SECONDS).stdout.split(b"\n")
    gap = [line for line in readable if line.startswith(b"skipped")]
    if gap != ([f"skipped {left_out} events left out".encode()] if left_out > 0 else []):
        problems.append(f"readable trace has {gap!r} for {left_out} events left out")
    return problems


# Three prints of a list of 420 kB: each is taken from the program's output a
# block at a time, several pieces between two events, and the three are more
# than the tail keeps of output (1 MiB).
FLOOD = ("(begin (define l (quote (" + " ".join(map(str, range(70_000))) + "))) (print l) (print l) (print l))\n")


# One event, then an "Out:" line of several blocks: a run that ends just as
# the head is full, with output after it.
LONG_RESULT = "(quote (" + " ".join(map(str, range(10_000))) + "))\n"
# Events, output between them, and output of several blocks, so that a small
# tail holds some of each when the run ends.
PRINTS = ("(begin (define l (quote (" + " ".join(map(str, range(3_000))) + "))) (define n 40) "
          "(define down (lambda () (cond ((< n 1) (quote done)) (else (begin (print n) "
          "(cond ((< n 4) (print l)) (else n)) (define n (- n 1)) (down)))))) (down))\n")


def gap_problems(traced, stdin, keep):
    """A trace with a gap is the whole trace with a stretch of events taken
    out right after the head, and the "skipped" count and the snapshot in
    their place. Output is never left out, and each piece stands where it
    did among the events kept. Output that falls out of the tail is written
    as it goes, and the count only once the run ends, so a piece between the
    last event left out and the first kept may come before the count."""
    def lines(*options):
        done = subprocess.run([traced, "--json", *options], input=stdin, capture_output=True,
                              timeout=TIMEOUT_SECONDS)
        return done.returncode, [(json.loads(line)["event"], line) for line in done.stdout.split(b"\n") if line]
    whole_status, whole = lines(f"--keep={10 ** 9},1")
    status, kept = lines(keep)
    if status != whole_status:
        return [f"status {status}, {whole_status} without a gap"]
    head = int(keep.split("=")[1].split(",")[0])
    gap = [i for i, (kind, _) in enumerate(kept) if kind == "skipped"]
    left_out = json.loads(kept[gap[0]][1])["count"] if gap else 0
    # The whole trace less the events left out, and where the gap may stand:
    # after the last line before the last event left out, before the first
    # kept event after it.
    expected, events, earliest, latest = [], 0, 0, 0
    for kind, line in whole:
        if kind not in ("output", "error", "explanation", "note", "end"):
            events += 1
            if head < events <= head + left_out:
                earliest = latest = len(expected)
                continue
        if latest == len(expected) and kind == "output" and events == head + left_out:
            latest += 1
        expected.append(line)
    got = [line for kind, line in kept if kind not in ("skipped", "snapshot")]
    if got != expected:
        first = next((i for i, (a, b) in enumerate(zip(got, expected)) if a != b), min(len(got), len(expected)))
        return [f"line {first + 1} of {len(got)} is {got[first:first + 1]!r:.160}, expected "
                f"{expected[first:first + 1]!r:.160} ({len(expected)} lines)"]
    if left_out > 0 and not (len(gap) == 1 and earliest <= gap[0] <= latest and kept[gap[0] + 1][0] == "snapshot"):
        return [f"the gap of {left_out} events stands at line {gap[0] + 1}, not between lines {earliest + 1} and "
                f"{latest + 1}, or has no snapshot after it"]
    return []


def flood_problems(plain, traced):
    """Output that pushes events out of a small tail: more pieces than the
    tail keeps events (--keep=3,1), and more bytes than it keeps of output
    (--keep=3,50). Every byte must still come out, in order, and each piece
    where it stands among the events, for tails that drop events and output
    in every order and for runs that end as the head or the tail fills."""
    problems = []
    for keep in ("--keep=3,1", "--keep=3,50"):
        problems += [f"{keep}: {problem}" for problem in problems_of(plain, traced, FLOOD.encode(), keep)]
    for name, program, keeps in (("a long result", LONG_RESULT, ("--keep=1,2", "--keep=0,1", "--keep=1,1")),
                                 ("a flood", FLOOD, ("--keep=3,1", "--keep=3,50", "--keep=11,2")),
                                 ("prints", PRINTS, ("--keep=3,1", "--keep=20,7", "--keep=0,40", "--keep=100,300",
                                                     "--keep=500,150", "--keep=900,40"))):
        for keep in keeps:
            problems += [f"{name}, {keep}: {problem}" for problem in gap_problems(traced, program.encode(), keep)]
    return problems


USAGE = (b"usage: vellumark-trace [--json] < program\n"
         b"Runs the program as vellumark does and tells each step of its evaluation.\n")


def golden_problems(traced, case):
    """A golden trace's problems. A case may give options ("args") and start
    with standard input closed. A run that ends before it reads (an option it
    does not take) writes nothing to standard output, and to standard error
    the option it does not take, then the usage (a coverage build may add its
    own lines after it)."""
    options = {"preexec_fn": lambda: os.close(0)} if case.stdin_closed else {}
    problems, done = harness.check([traced, *case.args], case.stdin, case.stdout, case.status, TIMEOUT_SECONDS,
                                   **options)
    if done is not None and not case.stdout and not case.full:
        unknown = next((a for a in case.args if a != "--json"), "")
        expected = f"vellumark-trace: unknown option '{unknown}'\n".encode() + USAGE
        if not done.stderr.startswith(expected):
            problems.append(f"standard error {harness.escape(done.stderr[:2000])!r}, expected {expected!r}")
    return problems


def streams_problems(traced):
    program = COUNTDOWN.format(3000).encode()
    normal = subprocess.run([traced, "--json"], input=program, capture_output=True, timeout=TIMEOUT_SECONDS)
    problems = [] if normal.returncode == 0 else [f"the countdown ended with {normal.returncode}"]

    def ends_with_1(what, **options):
        done = subprocess.run([traced, "--json"], input=program, timeout=TIMEOUT_SECONDS, **options)
        if done.returncode != 1:
            problems.append(f"{what}: status {done.returncode}, expected 1")
    with open("/dev/full", "wb") as full:
        ends_with_1("standard output /dev/full", stdout=full)
    ends_with_1("standard output closed", preexec_fn=lambda: os.close(1))
    with tempfile.TemporaryFile() as cut:
        ends_with_1("a file-size limit of 1 KiB", stdout=cut, preexec_fn=lambda: resource.setrlimit(
            resource.RLIMIT_FSIZE, (1024, 1024)))
        cut.seek(0)
        if not normal.stdout.startswith(cut.read()):
            problems.append("under a file-size limit: not a prefix of the trace")
    # A reader that reads one line and goes away.
    child = subprocess.Popen([traced, "--json"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    child.stdin.write(program)
    child.stdin.close()
    child.stdout.readline()
    child.stdout.close()
    if child.wait(timeout=TIMEOUT_SECONDS) != 1:
        problems.append(f"a reader that went away: status {child.returncode}, expected 1")
    # A standard output that does not block, read only once the pipe is full.
    reader, writer = os.pipe()
    os.set_blocking(writer, False)
    child = subprocess.Popen([traced, "--json"], stdin=subprocess.PIPE, stdout=writer)
    os.close(writer)
    child.stdin.write(program)
    child.stdin.close()
    time.sleep(0.5)
    with os.fdopen(reader, "rb") as late:
        got = late.read()
    if child.wait(timeout=TIMEOUT_SECONDS) != 0 or got != normal.stdout:
        problems.append(f"a standard output that does not block: status {child.returncode}, "
                        f"{len(got)} of {len(normal.stdout)} bytes")
    return problems


# A run that runs out of memory ends its trace with the error line alone, as
# vellumark ends: the trace cannot have the memory to say more.
SAID_READABLE = (b"error ", b"why ", b"note ", b"end ", b"Error: out of memory.")
SAID_JSON = ("error", "explanation", "note", "end")


def said_of(trace, json_lines):
    """The lines of `trace` that say something about the run, not a step."""
    kept = []
    follows = False
    for line in trace.split(b"\n")[:-1]:
        if json_lines:
            keep = json.loads(line)["event"] in SAID_JSON
        else:
            # A sentence about a form is followed by a line with its place.
            keep = line.startswith(SAID_READABLE) or (follows and line.startswith(b"         ("))
            follows = keep and not line.startswith(b"end ")
        if keep:
            kept.append(line + b"\n")
    return b"".join(kept)


def said_problems(traced, case):
    def limit():
        if case.address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS, (case.address_space, case.address_space))
        if case.stdin_closed:
            os.close(0)

    options = {"preexec_fn": limit} if case.address_space is not None or case.stdin_closed else {}
    done = subprocess.run([traced, *case.args], input=None if case.stdin_closed else case.stdin, capture_output=True,
                          timeout=TIMEOUT_SECONDS, **options)
    problems = []
    got = said_of(done.stdout, "--json" in case.args)
    if got != case.stdout:
        problems.extend(harness.first_difference(got, case.stdout))
    if done.returncode != case.status:
        problems.append(f"status {done.returncode}, expected {case.status}")
    return problems


def reference_names(path):
    """The names of the forms and built-ins in the reference table."""
    names = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            for written in line.split("\t")[1].split(", "):
                names.append(written.strip("`").lstrip("(").split(" ")[0].rstrip(")"))
    return names


def misspelt_problems(traced, name):
    # The first two neighbouring letters after the first that differ, or the
    # two letters of a short name, swapped.
    i = next((j for j in range(1, len(name) - 1) if name[j] != name[j + 1]), 0)
    misspelt = name[:i] + name[i + 1] + name[i] + name[i + 2:]
    program = f"({misspelt} 1)\n".encode()
    done = subprocess.run([traced], input=program, capture_output=True, timeout=TIMEOUT_SECONDS)
    if f"Did you mean `{name}`?".encode() not in done.stdout:
        return [f"({misspelt} 1) suggests no `{name}`: {done.stdout[-300:]!r}"]
    return []


def main():
    mode, *rest = sys.argv[1:]
    if mode == "names":
        traced, reference = rest
        return harness.main(lambda: [
            harness.report(f"a misspelt {name}", misspelt_problems(traced, name))
            for name in reference_names(reference) if len(name) > 1])
    if mode == "said":
        traced, *paths = rest
        # A build with AddressSanitizer (whose test runs set ASAN_OPTIONS)
        # cannot start under an address-space limit: its shadow memory alone
        # is larger, so such cases are left to the other builds.
        sanitized = "ASAN_OPTIONS" in os.environ
        return harness.main(lambda: [
            harness.report(f"{case.where} {case.title}", said_problems(traced, case))
            for path in paths for case in golden.parse(path)
            if not (sanitized and case.address_space is not None)])
    if mode == "same":
        plain, traced, *paths = rest
        return harness.main(
            lambda: [harness.report(name, problems_of(plain, traced, stdin)) for name, stdin in inputs(paths)])
    if mode == "random":
        plain, traced, count = rest
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "fuzz"))
        import differential  # noqa: E402
        return harness.main(lambda: [
            harness.report(f"random program {index}: {program[:80]!r}",
                           problems_of(plain, traced, program))
            for index, program in ((i, differential.make_program(1, i)) for i in range(int(count)))])
    if mode == "bounded":
        plain, traced, *steps = rest
        return harness.main(lambda: [harness.report(f"a countdown of {n} steps", bounded_problems(plain, traced, int(n)))
                                     for n in steps] +
                            [harness.report("output that pushes events out of the tail", flood_problems(plain, traced))])
    if mode == "streams":
        return harness.main(lambda: [harness.report("the trace's own output at its edges", streams_problems(rest[0]))])
    if mode == "output":
        got = subprocess.run([rest[0], "--json"], stdin=sys.stdin, capture_output=True)
        events = [json.loads(line) for line in got.stdout.split(b"\n") if line]
        sys.stdout.buffer.write("".join(e["text"] for e in events if e["event"] == "output").encode("latin-1"))
        return events[-1]["status"] if events and events[-1]["event"] == "end" else 125
    traced, *paths = rest
    return harness.main(lambda: [
        harness.report(f"{case.where} {case.title}", golden_problems(traced, case))
        for path in paths for case in golden.parse(path)])


if __name__ == "__main__":
    sys.exit(main())
