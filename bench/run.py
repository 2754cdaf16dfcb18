#!/usr/bin/env python3
"""Time Vellumark beside Guile 3 and Chez Scheme on the same workloads.

What it measures: for each workload (a program of size N, listed below), the
median wall time, CPU time and peak memory of the release build of Vellumark,
and the median wall time and peak memory of Guile and of Chez Scheme doing the
same task, each run started the same way and checked for the right result.

How to read its table: one row per workload. "Vellumark ms" is the median wall
time in milliseconds from start to exit, "Vellumark CPU ms" its user plus
system time, "Vellumark MiB" its peak resident memory (ru_maxrss). Then, for
each peer found on PATH, its ms and MiB and the ratio PEER/Vellumark of the two
wall times: above 1 means Vellumark was faster. A peer that crashed or timed
out shows "crash" or "timeout" (the reason is printed under the table); a
Vellumark run that crashed, timed out or printed the wrong text shows FAILED
or WRONG, and the script then exits with status 1. The /bin/true row is the
floor of starting any process. A second table says which targets were met.

Usage:
    bench/run.py [BINARY] [--runs N] [--startup-runs N] [--scale F]
                 [--timeout S] [--only NAME[,NAME...]] [--no-guile]
                 [--no-chez] [--before BINARY] [--verbose] [--install-guile]
                 [--install-chez]

    BINARY          the Vellumark executable to measure (default:
                    build/release/vellumark, relative to the repository root,
                    i.e. the parent of this script's folder)
    --runs N        runs per workload and interpreter; medians are reported
                    (default 5)
    --startup-runs N
                    runs for the start-up row and for /bin/true, which take
                    a few milliseconds each and so need more samples to see
                    past the machine's noise (default 21)
    --scale F       multiply every workload size by F (e.g. 0.01 for a quick
                    check; default 1)
    --timeout S     seconds after which one run is killed (default 120)
    --only LIST     run only the named workloads (comma-separated)
    --no-guile      leave Guile out, even when guile is on PATH
    --no-chez       leave Chez Scheme out, even when scheme is on PATH
    --before BINARY also measure an earlier build of Vellumark, taking turns
                    with the others, for "before" columns and the targets that
                    compare with it
    --verbose       also print every single run's time and max RSS
    --install-guile run `apt-get install -y guile-3.0` before measuring
    --install-chez  run `apt-get install -y chezscheme` before measuring
                    (both for a measuring machine only; CI must not use them)

Everything is generated into a temporary folder that is removed at the end.
Each program is given on standard input; standard output goes to a file in
that folder. Wall time is measured from starting the child to reaping it, and
peak memory is the child's maximum resident set size (ru_maxrss) from wait4.
The CPU column is the child's user plus system time, which a busy machine
disturbs less than wall time. Each run is started through a small C launcher,
bench/launcher.c, compiled at run time with cc (its opening comment says why);
without a C compiler the script spawns directly and its memory figures get a
floor of its own size. For each workload the runs of Vellumark, the peers (and,
for startup, /bin/true) take turns, so that all meet the same background load;
figures are medians.

Every Vellumark run's complete output is checked against the expected text
(banner, echoed input, result), so a broken build is reported as WRONG (or
FAILED, for a crash or timeout) instead of posting a time. Each peer's output
is checked for the expected Out: line; a peer that prints a wrong result is an
error too.

The peers: Guile is run as `guile --no-auto-compile -s FILE` (the script is
evaluated by Guile's interpreter, as Vellumark interprets its input, and no
compiled cache is used or written). Chez Scheme is run as
`scheme --script FILE`; it compiles each form it evaluates to machine code.
Both run the same Scheme text. For the data workloads (echo_list,
echo_nested, sum, append, startup) the same text as Vellumark's is given on
standard input to a small script that reads it with (read), writes it with
(write), evaluates it with (eval ... (interaction-environment)) and writes the
result. For loop, a procedure counts a global down with set! and recurses in
non-tail position; for calls, the same (f i) calls are driven by a counting
loop. A peer run that dies, fails or times out is recorded as "crash" or
"timeout".

The workloads (sizes at --scale 1):
    echo_list     (quote (0 1 ... N-1)), N = 1e6
    echo_nested   (quote ((( ... (1) ... )))), nested N = 1e5 deep
    sum           (+ 1 1 ... 1) with N = 1e6 operands
    append        (append (quote (0 ... N-1)) (quote (0 ... N-1))), N = 5e5
    loop_1e5      count a global down from N = 1e5 by recursion
    loop_1e6      the same, N = 1e6
    calls         (begin (define f (lambda (x) (* x x))) (f 1) ... (f N)),
                  N = 1e5
    startup       42 (and /bin/true timed the same way)
"""

import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Peer:
    """Another Scheme, run on the same tasks: its name in the table, the
    command on PATH, the options before the script file, its Debian package."""

    def __init__(self, name, command, options, package):
        self.name, self.command = name, command
        self.options, self.package = options, package


PEERS = (Peer("Guile", "guile", ["--no-auto-compile", "-s"], "guile-3.0"),
         Peer("Chez", "scheme", ["--script"], "chezscheme"))

# A peer's side of the data workloads: read the datum from stdin, echo it,
# evaluate it and write the result.
DATA_SCRIPT = """\
(define datum (read))
(display "%s") (newline) (newline)
(display "In:   ") (write datum) (newline)
(display "Out:  ") (write (eval datum (interaction-environment))) (newline)
"""


def wrap32(value):
    """Two's-complement 32-bit wrap, as Vellumark's integers do."""
    value &= 0xFFFFFFFF
    return value - 0x100000000 if value >= 0x80000000 else value


def scaled(size, scale):
    return max(1, int(round(size * scale)))


def numbers(count):
    return " ".join(str(i) for i in range(count))


def loop_program(n):
    return ("(begin (define n %d) (define loop (lambda () (cond ((< n 1) n) "
            "(else (begin (define n (- n 1)) (loop)))))) (loop))" % n)


def peer_loop_script(n):
    return (
        "(define n %d)\n"
        "(define (loop)\n"
        "  (cond ((< n 1) n)\n"
        "        (else (set! n (- n 1))\n"
        "              (let ((r (loop))) r))))\n"
        "(display \"Out:  \") (write (loop)) (newline)\n" % n)


def peer_calls_script(n):
    return (
        "(define (f x) (* x x))\n"
        "(define (drive i last)\n"
        "  (if (> i %d) last (drive (+ i 1) (f i))))\n"
        "(display \"Out:  \") (write (drive 1 0)) (newline)\n" % n)


class Workload:
    """One program for Vellumark, its expected result, and the peers'
    analogue."""

    def __init__(self, name, size, program, result, peer_result,
                 peer_script=None):
        self.name = name
        self.size = size
        self.program = program          # Vellumark's input text
        self.result = result            # expected text after "Out:  "
        self.peer_result = peer_result
        self.peer_script = peer_script  # None: the data script on stdin


def make_workloads(scale):
    items = []

    n = scaled(1_000_000, scale)
    text = "(quote (%s))" % numbers(n)
    items.append(Workload("echo_list", n, text, "(%s)" % numbers(n),
                          "(%s)" % numbers(n)))

    n = scaled(100_000, scale)
    text = "(quote " + "(" * n + "1" + ")" * n + ")"
    inner = "(" * n + "1" + ")" * n
    items.append(Workload("echo_nested", n, text, inner, inner))

    n = scaled(1_000_000, scale)
    text = "(+" + " 1" * n + ")"
    items.append(Workload("sum", n, text, str(wrap32(n)), str(n)))

    n = scaled(500_000, scale)
    half = numbers(n)
    text = "(append (quote (%s)) (quote (%s)))" % (half, half)
    both = "(%s %s)" % (half, half)
    items.append(Workload("append", n, text, both, both))

    for label, size in (("loop_1e5", 100_000), ("loop_1e6", 1_000_000)):
        n = scaled(size, scale)
        items.append(Workload(label, n, loop_program(n), "0", "0",
                              peer_loop_script(n)))

    n = scaled(100_000, scale)
    text = ("(begin (define f (lambda (x) (* x x)))"
            + "".join(" (f %d)" % i for i in range(1, n + 1)) + ")")
    items.append(Workload("calls", n, text, str(wrap32(n * n)), str(n * n),
                          peer_calls_script(n)))

    items.append(Workload("startup", 1, "42", "42", "42"))
    return items


LAUNCHER = None  # path of the compiled launcher, when a C compiler exists


def build_launcher(folder):
    """Compiles bench/launcher.c into folder; returns its path, or None."""
    compiler = shutil.which("cc") or shutil.which("gcc") \
        or shutil.which("clang")
    if not compiler:
        return None
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                          "launcher.c")
    binary = os.path.join(folder, "launcher")
    done = subprocess.run([compiler, "-O2", "-o", binary, source],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        print(done.stderr.decode(errors="replace"), file=sys.stderr)
        return None
    return binary


def run_once(argv, stdin_path, stdout_path, timeout):
    """Runs argv once; returns (status, seconds, max RSS in KiB, CPU seconds).

    status is the raw wait status, or None when the run was killed for
    exceeding the timeout.

    Each run goes through the launcher (bench/launcher.c, which says why),
    so that the script's own peak memory does not count in the child's.
    Without a C compiler the program is spawned directly, and every max RSS
    then includes the Python process's own peak."""
    if LAUNCHER:
        done = subprocess.run(
            [LAUNCHER, stdin_path, stdout_path,
             str(max(1, int(timeout * 1000)))] + argv,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            timeout=timeout + 30)
        fields = done.stdout.split()
        if done.returncode != 0 or len(fields) != 5:
            raise RuntimeError("the launcher failed on %r" % (argv,))
        status, ns, maxrss, timed_out, cpu = (int(x) for x in fields)
        return (None if timed_out else status), ns / 1e9, maxrss, cpu / 1e6

    timed_out = threading.Event()
    with open(stdin_path, "rb") as fin, open(stdout_path, "wb") as fout:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=fin, stdout=fout,
                                stderr=subprocess.DEVNULL)

        def kill():
            timed_out.set()
            try:
                os.kill(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

        timer = threading.Timer(timeout, kill)
        timer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
        elapsed = time.perf_counter() - start
        proc.returncode = 0  # reaped by hand; keep Popen from waiting again
    cpu = usage.ru_utime + usage.ru_stime
    if timed_out.is_set():
        return None, elapsed, usage.ru_maxrss, cpu
    return status, elapsed, usage.ru_maxrss, cpu


def describe_failure(status):
    """"timeout", or "crash" for a signal or a non-zero exit status."""
    return "timeout" if status is None else "crash"


class Result:
    def __init__(self, seconds=None, rss_kib=None, cpu=None, failure=None):
        self.seconds = seconds
        self.rss_kib = rss_kib
        self.cpu = cpu
        self.failure = failure  # None, "crash", "timeout" or "WRONG"

    def time_text(self):
        return self.failure if self.failure else "%.1f" % (self.seconds * 1e3)

    def cpu_text(self):
        return "-" if self.failure else "%.1f" % (self.cpu * 1e3)

    def rss_text(self):
        return "-" if self.failure else "%.1f" % (self.rss_kib / 1024.0)


class Subject:
    """One program to measure: a label, its argv, its stdin and its check
    (output bytes -> error text or None)."""

    def __init__(self, label, argv, stdin_path, check):
        self.label = label
        self.argv = argv
        self.stdin_path = stdin_path
        self.check = check
        self.times, self.rss, self.cpu = [], [], []
        self.failure = None
        self.problem = None


VERBOSE = False


def measure(subjects, out_path, runs, timeout):
    """Runs every subject `runs` times, taking turns so that they meet the
    same load on a busy machine. Each round starts one subject later (a b c,
    b c a, c a b, ...): a run that follows one that used a lot of memory can
    wait on the kernel to gather huge pages again, and no subject should
    always be the one that follows the same neighbour. A subject that fails
    (crash, timeout, wrong output) is not run again. Returns a list of
    (Result, problem text or None), one for each subject."""
    for round_ in range(runs):
        shift = round_ % len(subjects)
        for subject in subjects[shift:] + subjects[:shift]:
            if subject.failure:
                continue
            status, seconds, maxrss, cpu = run_once(
                subject.argv, subject.stdin_path, out_path, timeout)
            if status is None or not os.WIFEXITED(status) \
                    or os.WEXITSTATUS(status) != 0:
                if status is None:
                    why = "killed after the %gs timeout" % timeout
                elif os.WIFSIGNALED(status):
                    why = "killed by signal %d" % os.WTERMSIG(status)
                else:
                    why = "exit status %d" % os.WEXITSTATUS(status)
                subject.failure, subject.problem = \
                    describe_failure(status), why
                continue
            with open(out_path, "rb") as f:
                problem = subject.check(f.read())
            if problem:
                subject.failure, subject.problem = "WRONG", problem
                continue
            subject.times.append(seconds)
            subject.rss.append(maxrss)
            subject.cpu.append(cpu)
    results = []
    for subject in subjects:
        if VERBOSE:
            samples = " ".join(
                "%.1fms/%.1fMiB" % (t * 1e3, r / 1024.0)
                for t, r in zip(subject.times, subject.rss))
            print("  %s: %s%s" % (subject.label, samples,
                                  " " + subject.problem if subject.problem
                                  else ""), file=sys.stderr)
        if subject.failure:
            results.append((Result(failure=subject.failure),
                            subject.problem))
        else:
            results.append((Result(statistics.median(subject.times),
                                   statistics.median(subject.rss),
                                   statistics.median(subject.cpu)), None))
    return results


def vellumark_check(work):
    expected = ("Vellumark\n\nIn:   %s\nOut:  %s\n"
                % (work.program, work.result)).encode()

    def check(output):
        if output == expected:
            return None
        lines = output.decode(errors="replace").split("\n")
        out = [l for l in lines if l.startswith("Out:  ")]
        shown = out[0][:80] if out else repr(output[:80])
        return "output differs from the expected text (got %s)" % shown
    return check


def peer_check(work, peer):
    wanted = ("Out:  %s" % work.peer_result).encode()

    def check(output):
        lines = output.split(b"\n")
        if wanted in lines:
            return None
        return "%s printed no line %r" % (peer.name, wanted[:60])
    return check


def ratio_text(numerator, denominator):
    if numerator.failure or denominator.failure:
        return "-"
    return "%.2f" % (numerator.seconds / denominator.seconds)


def print_table(rows):
    widths = [max(len(str(row[i])) for row in rows)
              for i in range(len(rows[0]))]
    for index, row in enumerate(rows):
        cells = [str(c).ljust(widths[i]) if i == 0 else str(c).rjust(widths[i])
                 for i, c in enumerate(row)]
        print("| " + " | ".join(cells) + " |")
        if index == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


def main():
    parser = argparse.ArgumentParser(
        description="Benchmark Vellumark (and Guile 3 and Chez Scheme, when "
                    "on PATH).")
    parser.add_argument("binary", nargs="?",
                        default=os.path.join(REPO, "build", "release",
                                             "vellumark"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--startup-runs", type=int, default=21)
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--timeout", type=float, default=120.0)
    parser.add_argument("--only", default="")
    parser.add_argument("--no-guile", action="store_true")
    parser.add_argument("--no-chez", action="store_true")
    parser.add_argument("--before", metavar="BINARY")
    parser.add_argument("--verbose", action="store_true")
    parser.add_argument("--install-guile", action="store_true")
    parser.add_argument("--install-chez", action="store_true")
    args = parser.parse_args()

    left_out = {"Guile": args.no_guile, "Chez": args.no_chez}
    for peer in PEERS:
        if getattr(args, "install_" + peer.name.lower()):
            subprocess.run(["apt-get", "install", "-y", peer.package],
                           check=True)

    binary = os.path.abspath(args.binary)
    before = os.path.abspath(args.before) if args.before else None
    for path in filter(None, (binary, before)):
        if not os.access(path, os.X_OK):
            sys.exit("no executable at %s (build it first, or give its path)"
                     % path)
    # The peers to run, each with the path of its command.
    peers = [(peer, shutil.which(peer.command)) for peer in PEERS
             if not left_out[peer.name]]
    true_path = shutil.which("true") or "/bin/true"

    workloads = make_workloads(args.scale)
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {w.name for w in workloads}
        if unknown:
            sys.exit("unknown workload(s): %s" % ", ".join(sorted(unknown)))
        workloads = [w for w in workloads if w.name in wanted]

    print("Vellumark: %s" % binary)
    if before:
        print("before:    %s" % before)
    for peer, path in peers:
        print("%-10s %s" % (peer.name + ":",
                            path or "%s not on PATH (skipped)" % peer.command))
    peers = [(peer, path) for peer, path in peers if path]
    print("runs: %d (startup: %d), scale: %g, timeout: %gs"
          % (args.runs, args.startup_runs, args.scale, args.timeout))
    print()

    header = ["workload", "N", "Vellumark ms", "Vellumark CPU ms",
              "Vellumark MiB"]
    if before:
        header += ["before ms", "before MiB"]
    for peer, _ in peers:
        header += ["%s ms" % peer.name, "%s MiB" % peer.name,
                   "%s/Vellumark" % peer.name]
    rows = [header]
    results = {}
    broken = []
    notes = []
    true_result = None

    global LAUNCHER, VERBOSE
    VERBOSE = args.verbose
    with tempfile.TemporaryDirectory(prefix="vellumark-bench-") as tmp:
        LAUNCHER = build_launcher(tmp)
        if not LAUNCHER:
            print("warning: no C compiler; spawning directly, so every max "
                  "RSS includes this script's own peak", file=sys.stderr)
        data_scripts = {}
        for peer, _ in peers:
            path = os.path.join(tmp, peer.name + "-data.scm")
            with open(path, "w") as f:
                f.write(DATA_SCRIPT % peer.name)
            data_scripts[peer.name] = path
        empty = os.path.join(tmp, "empty")
        open(empty, "w").close()
        out_path = os.path.join(tmp, "out")

        for work in workloads:
            runs = args.startup_runs if work.name == "startup" else args.runs
            stdin_path = os.path.join(tmp, work.name + ".in")
            with open(stdin_path, "w") as f:
                f.write(work.program + "\n")  # one line, as typed or echoed
            print("running %s (N = %d) ..." % (work.name, work.size),
                  file=sys.stderr, flush=True)

            subjects = [Subject("vellumark", [binary], stdin_path,
                                vellumark_check(work))]
            if before:
                subjects.append(Subject("before", [before], stdin_path,
                                        vellumark_check(work)))
            for peer, path in peers:
                if work.peer_script is None:
                    script, peer_in = data_scripts[peer.name], stdin_path
                else:
                    script = os.path.join(tmp, work.name + ".scm")
                    with open(script, "w") as f:
                        f.write(work.peer_script)
                    peer_in = empty
                subjects.append(Subject(peer.name.lower(),
                                        [path] + peer.options + [script],
                                        peer_in, peer_check(work, peer)))
            if work.name == "startup":
                subjects.append(Subject("true", [true_path], empty,
                                        lambda output: None))
            measured = measure(subjects, out_path, runs, args.timeout)

            mine, problem = measured[0]
            if problem:
                broken.append("%s: %s" % (work.name, problem))
                if mine.failure != "WRONG":
                    mine.failure = "FAILED (%s)" % mine.failure
            row = [work.name, work.size, mine.time_text(), mine.cpu_text(),
                   mine.rss_text()]
            earlier = None
            if before:
                earlier, problem = measured[1]
                if problem:
                    broken.append("%s (before): %s" % (work.name, problem))
                row += [earlier.time_text(), earlier.rss_text()]

            theirs = {}
            for index, (peer, _) in enumerate(peers, 2 if before else 1):
                result, problem = measured[index]
                if problem and result.failure == "WRONG":
                    broken.append("%s (%s): %s"
                                  % (work.name, peer.name, problem))
                elif problem:
                    notes.append("%s on %s: %s"
                                 % (peer.name, work.name, problem))
                row += [result.time_text(), result.rss_text(),
                        ratio_text(result, mine)]
                theirs[peer.name] = result
            rows.append(row)
            results[work.name] = (mine, theirs, earlier)

            if work.name == "startup":
                true_result, problem = measured[-1]
                if problem:
                    notes.append("/bin/true: %s" % problem)
                true_row = ["/bin/true", "-", true_result.time_text(),
                            true_result.cpu_text(), true_result.rss_text()]
                true_row += ["", ""] if before else []
                true_row += ["", "", ""] * len(peers)
                rows.append(true_row)

    print()
    print_table(rows)
    print()
    for line in notes:
        print(line)
    if notes:
        print()

    targets = []

    def target(name, ok, detail):
        if ok is None:
            targets.append((name, "n/a", detail))
        else:
            targets.append((name, "met" if ok else "NOT met", detail))

    for name in ("echo_list", "echo_nested", "sum", "append"):
        if name not in results:
            continue
        mine, theirs = results[name][0], results[name][1].get("Guile")
        if theirs is None or mine.failure:
            target(name + " >= 10x faster than Guile", None, "no comparison")
        elif theirs.failure:
            target(name + " >= 10x faster than Guile", None,
                   "Guile: " + theirs.failure)
        else:
            r = theirs.seconds / mine.seconds
            target(name + " >= 10x faster than Guile", r >= 10,
                   "%.1fx" % r)
    if "echo_list" in results and not results["echo_list"][0].failure:
        mine = results["echo_list"][0]
        target("echo_list within 40 ms", mine.seconds <= 0.040,
               "%.1f ms" % (mine.seconds * 1e3))
        target("echo_list under 48 MiB", mine.rss_kib < 48 * 1024,
               "%.1f MiB" % (mine.rss_kib / 1024.0))
    def against(name, peer, most_time, most_memory):
        """Vellumark's time at most `most_time` times the peer's on `name`,
        and its peak memory at most `most_memory` times the peer's."""
        if name not in results:
            return
        mine, theirs = results[name][0], results[name][1].get(peer)
        label = "%s: time <= %gx %s's, memory <= %gx" % (
            name, most_time, peer, most_memory)
        if theirs is None or theirs.failure or mine.failure:
            target(label, None, "no comparison")
            return
        time_ratio = mine.seconds / theirs.seconds
        memory_ratio = mine.rss_kib / theirs.rss_kib
        target(label, time_ratio <= most_time and memory_ratio <= most_memory,
               "%.2fx time, %.2fx memory" % (time_ratio, memory_ratio))

    against("loop_1e6", "Guile", 0.35, 1.0)
    against("loop_1e5", "Guile", 0.5, 1.0)
    against("calls", "Guile", 0.6, 1.5)
    against("loop_1e6", "Chez", 1.5, 1.0)
    if before:
        for name in ("echo_list", "echo_nested", "sum", "append", "startup"):
            if name not in results or results[name][2] is None:
                continue
            mine, earlier = results[name][0], results[name][2]
            if mine.failure or earlier.failure:
                target(name + " no slower, no larger than before", None,
                       "no comparison")
                continue
            target(name + " no slower, no larger than before",
                   mine.seconds <= earlier.seconds
                   and mine.rss_kib <= earlier.rss_kib,
                   "%.2fx time, %.2fx memory"
                   % (mine.seconds / earlier.seconds,
                      mine.rss_kib / earlier.rss_kib))
        if "sum" in results and results["sum"][2] is not None:
            mine, earlier = results["sum"][0], results["sum"][2]
            if not mine.failure and not earlier.failure:
                target("sum at least 15% faster than before, <= 48 MiB",
                       mine.seconds <= 0.85 * earlier.seconds
                       and mine.rss_kib <= 48 * 1024,
                       "%.2fx time, %.1f MiB"
                       % (mine.seconds / earlier.seconds,
                          mine.rss_kib / 1024.0))
    if "loop_1e5" in results and "loop_1e6" in results:
        small, large = results["loop_1e5"][0], results["loop_1e6"][0]
        if not small.failure and not large.failure:
            growth = large.seconds / small.seconds
            target("loop 1e5 -> 1e6 grows <= 12-fold", growth <= 12,
                   "%.1f-fold" % growth)
    if "startup" in results and true_result and not true_result.failure \
            and not results["startup"][0].failure:
        r = results["startup"][0].seconds / true_result.seconds
        target("startup within 1.5x /bin/true", r <= 1.5, "%.2fx" % r)

    if targets:
        if args.scale != 1:
            print("(targets are meant for --scale 1; this run used %g)"
                  % args.scale)
        print_table([["target", "status", "measured"]]
                    + [list(t) for t in targets])

    if broken:
        print()
        for line in broken:
            print("ERROR: " + line)
        sys.exit(1)


if __name__ == "__main__":
    main()
