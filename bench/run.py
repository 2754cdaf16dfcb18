#!/usr/bin/env python3
"""Times Vellumark beside Guile 3 and Chez Scheme on the same workloads.

Every program is first run once and checked (Vellumark's whole output through
tests/harness.py, a peer's Out: line); then hyperfine times it (median wall
time, mean user plus system time) and GNU time gives its peak resident memory.
bench/README.md describes the workloads, the method and how to read the
tables. Exits with 1 when a Vellumark run (or a peer's result) is wrong.

Usage: bench/run.py [BINARY] [--runs N] [--startup-runs N] [--scale F]
                    [--timeout S] [--only NAME,...] [--no-guile] [--no-chez]
                    [--before BINARY] [--verbose] [--install-guile] [--install-chez]
"""

import argparse
import json
import os
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))
import harness  # noqa: E402
from harness import numbers, wrap32  # noqa: E402

# A peer: its command, the options before the script file, its Debian package.
PEERS = {"Guile": ("guile", ["--no-auto-compile", "-s"], "guile-3.0"),
         "Chez": ("scheme", ["--script"], "chezscheme")}
# A peer's side of the data workloads: read the datum on standard input, echo
# it, evaluate it and write the result, as Vellumark does.
DATA_SCRIPT = """(define datum (read))
(display "In:   ") (write datum) (newline)
(display "Out:  ") (write (eval datum (interaction-environment))) (newline)
"""
LOOP_SCRIPT = """(define n {n})
(define (loop) (cond ((< n 1) n) (else (set! n (- n 1)) (let ((r (loop))) r))))
(display "Out:  ") (write (loop)) (newline)
"""
CALLS_SCRIPT = """(define (f x) (* x x))
(define (drive i last) (if (> i {n}) last (drive (+ i 1) (f i))))
(display "Out:  ") (write (drive 1 0)) (newline)
"""
CALLS_SAME_SCRIPT = """(define (f x) (* x x))
(define (drive i last) (if (> i {n}) last (drive (+ i 1) (f 7))))
(display "Out:  ") (write (drive 1 0)) (newline)
"""
LOOP = ("(begin (define n {n}) (define loop (lambda () (cond ((< n 1) n) "
        "(else (begin (define n (- n 1)) (loop)))))) (loop))")


# Each workload's size N in the timed runs; bench/perf.py counts instructions
# on smaller ones.
SIZES = {"echo_list": 1_000_000, "echo_nested": 100_000, "sum": 1_000_000, "append": 500_000,
         "loop_1e5": 100_000, "loop_1e6": 1_000_000, "calls": 100_000, "calls_same": 100_000, "startup": 1}


def workloads(scale, sizes=None):
    """name: (N, Vellumark's input, its result, the peers' result, the peers'
    script; None: the data script, reading Vellumark's input). `sizes` gives
    some workloads another N than SIZES (before scaling)."""
    def n(name):
        return max(1, round({**SIZES, **(sizes or {})}[name] * scale))
    e, d, s, a, l5, l6, c, cs = (n(name) for name in ("echo_list", "echo_nested", "sum", "append", "loop_1e5",
                                                       "loop_1e6", "calls", "calls_same"))
    nested = "(" * d + "1" + ")" * d
    both = f"({numbers(a)} {numbers(a)})"
    return {
        "echo_list": (e, f"(quote ({numbers(e)}))", f"({numbers(e)})", f"({numbers(e)})", None),
        "echo_nested": (d, f"(quote {nested})", nested, nested, None),
        "sum": (s, "(+" + " 1" * s + ")", str(wrap32(s)), str(s), None),
        "append": (a, f"(append (quote ({numbers(a)})) (quote ({numbers(a)})))", both, both, None),
        "loop_1e5": (l5, LOOP.format(n=l5), "0", "0", LOOP_SCRIPT.format(n=l5)),
        "loop_1e6": (l6, LOOP.format(n=l6), "0", "0", LOOP_SCRIPT.format(n=l6)),
        "calls": (c, "(begin (define f (lambda (x) (* x x)))" + "".join(f" (f {i})" for i in range(1, c + 1)) + ")",
                  str(wrap32(c * c)), str(c * c), CALLS_SCRIPT.format(n=c)),
        # The same call over and over: every operand is the one shared integer.
        "calls_same": (cs, "(begin (define f (lambda (x) (* x x)))" + " (f 7)" * cs + ")", "49", "49",
                       CALLS_SAME_SCRIPT.format(n=cs)),
        "startup": (1, "42", "42", "42", None),
    }


# What Vellumark must reach on WORKLOAD: its time at most TIME times, its peak
# memory at most MEMORY times (None: not compared) those of SUBJECT (a peer,
# "before", "true" or Vellumark on another workload); with no SUBJECT, TIME is
# in milliseconds and MEMORY in MiB.
DATA = ("echo_list", "echo_nested", "sum", "append")
TARGETS = [(name, "Guile", 0.1, None) for name in DATA] + [(name, "floor", 1.25, None) for name in DATA] + [
    ("echo_list", None, 40, 48),
    ("loop_1e6", "Guile", 0.35, 1.0),
    ("loop_1e5", "Guile", 0.5, 1.0),
    ("calls", "Guile", 0.6, 1.5),
    ("loop_1e6", "Chez", 1.5, 1.0),
    *[(name, "before", 1.0, 1.0) for name in ("echo_list", "echo_nested", "sum", "append", "startup")],
    ("sum", "before", 0.85, None),
    ("sum", None, None, 48),
    ("loop_1e6", "loop_1e5", 12, None),
    ("startup", "true", 1.5, None),
]


def peak_kib(argv, stdin, runs):
    """The median of `runs` peaks of resident memory, in KiB, as GNU time
    reports them: a small process of its own starts the program, so that
    the peak of this script does not count in the child's."""
    peaks = []
    with tempfile.NamedTemporaryFile("r") as report:
        for _ in range(runs):
            with open(stdin, "rb") as source:
                subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name, *argv], stdin=source,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
            peaks.append(int(open(report.name).read().split()[-1]))
    return statistics.median(peaks)


def measure(subjects, runs, folder, verbose):
    """{label: (median seconds, CPU seconds, peak KiB)} for {label: (argv, stdin)}, timed by hyperfine."""
    export = os.path.join(folder, "times.json")
    command = ["hyperfine", "--runs", str(runs), "--warmup", "1", "--export-json", export,
               "--style", "basic" if verbose else "none"]
    for label, (argv, stdin) in subjects.items():
        command += ["-n", label, f"{shlex.join(argv)} < {shlex.quote(stdin)}"]
    # Its warnings (runs of a few milliseconds, a slow first run) only with --verbose.
    done = subprocess.run(command, stdout=None if verbose else subprocess.DEVNULL,
                          stderr=None if verbose else subprocess.PIPE, text=True)
    if done.returncode != 0:
        sys.exit(f"hyperfine failed: {done.stderr}")
    with open(export) as f:
        times = json.load(f)["results"]
    return {t["command"]: (t["median"], t["user"] + t["system"], peak_kib(*subjects[t["command"]], min(runs, 3)))
            for t in times}


def check_peer(argv, stdin, wanted, timeout):
    """Why a peer's run is no result ("crash"/"timeout" and the cause), or None."""
    try:
        with open(stdin, "rb") as source:
            done = subprocess.run(argv, stdin=source, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return "timeout", f"killed after the {timeout:g} s timeout"
    if done.returncode != 0:
        return "crash", (f"killed by signal {-done.returncode}" if done.returncode < 0
                         else f"exit status {done.returncode}")
    if f"Out:  {wanted}".encode() not in done.stdout.split(b"\n"):
        return "WRONG", f"printed no line {('Out:  ' + wanted)[:60]!r}"
    return None


def table(rows):
    widths = [max(len(str(row[i])) for row in rows) for i in range(len(rows[0]))]
    for index, row in enumerate(rows):
        print("| " + " | ".join(str(c).ljust(w) if i == 0 else str(c).rjust(w)
                                for i, (c, w) in enumerate(zip(row, widths))) + " |")
        if index == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")


def main():
    parser = argparse.ArgumentParser(description="Benchmark Vellumark beside Guile 3 and Chez Scheme (see "
                                                 "bench/README.md).")
    parser.add_argument("binary", nargs="?", default=os.path.join(REPO, "build", "release", "vellumark"))
    parser.add_argument("--runs", type=int, default=5, help="timed runs per workload and program (default 5)")
    parser.add_argument("--startup-runs", type=int, default=21, help="timed runs of startup (default 21)")
    parser.add_argument("--scale", type=float, default=1.0, help="multiply every workload's size (default 1)")
    parser.add_argument("--timeout", type=float, default=120.0, help="seconds for the checking run (default 120)")
    parser.add_argument("--only", default="", help="comma-separated workloads to run")
    parser.add_argument("--before", metavar="BINARY", help="an earlier build to measure beside it")
    parser.add_argument("--verbose", action="store_true", help="show hyperfine's progress and statistics")
    parser.add_argument("--no-floor", action="store_true", help="leave out bench/floor.c on the data workloads")
    for peer, (_, _, package) in PEERS.items():
        parser.add_argument(f"--no-{peer.lower()}", action="store_true", help=f"leave {peer} out")
        parser.add_argument(f"--install-{peer.lower()}", action="store_true",
                            help=f"apt-get install -y {package} first (a measuring machine only, never CI)")
    args = parser.parse_args()
    for tool in ("hyperfine", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit(f"{tool} not found: apt-get install {tool.split('/')[-1]}")
    for peer, (_, _, package) in PEERS.items():
        if getattr(args, f"install_{peer.lower()}"):
            subprocess.run(["apt-get", "install", "-y", package], check=True)
    mine = {"Vellumark": os.path.abspath(args.binary)}
    if args.before:
        mine["before"] = os.path.abspath(args.before)
    for path in mine.values():
        if not os.access(path, os.X_OK):
            sys.exit(f"no executable at {path} (build it first, or give its path)")
    peers = {peer: shutil.which(command) for peer, (command, _, _) in PEERS.items()
             if not getattr(args, f"no_{peer.lower()}")}
    work = workloads(args.scale)
    if set(args.only.split(",")) - {""} - set(work):
        sys.exit("unknown workload(s): " + ", ".join(sorted(set(args.only.split(",")) - set(work))))
    work = {name: w for name, w in work.items() if not args.only or name in args.only.split(",")}

    for label, path in {**mine, **peers}.items():
        print(f"{label + ':':10} {path or PEERS[label][0] + ' not on PATH (skipped)'}")
    peers = {peer: path for peer, path in peers.items() if path}
    print(f"runs: {args.runs} (startup: {args.startup_runs}), scale: {args.scale:g}\n")
    header = ["workload", "N", "Vellumark ms", "Vellumark CPU ms", "Vellumark MiB"]
    header += ["before ms", "before MiB"] * bool(args.before)
    header += ["floor ms", "floor CPU ms", "floor MiB", "Vellumark/floor"] * (not args.no_floor)
    for peer in peers:
        header += [f"{peer} ms", f"{peer} MiB", f"{peer}/Vellumark"]
    rows, results, broken, notes = [header], {}, [], []
    with tempfile.TemporaryDirectory(prefix="vellumark-bench-") as tmp:
        floor = None
        if not args.no_floor:
            # Built here, as the release build is optimised: by the system's C compiler at -O2.
            floor = os.path.join(tmp, "floor")
            subprocess.run(["cc", "-O2", "-o", floor, os.path.join(REPO, "bench", "floor.c")], check=True)
        empty = os.path.join(tmp, "empty")
        open(empty, "w").close()
        for name, (size, program, result, peer_result, peer_script) in work.items():
            print(f"running {name} (N = {size}) ...", file=sys.stderr, flush=True)
            stdin = os.path.join(tmp, name + ".in")
            with open(stdin, "w") as f:
                f.write(program + "\n")  # one line, as typed
            script = os.path.join(tmp, name + ".scm")
            with open(script, "w") as f:
                f.write(peer_script or DATA_SCRIPT)
            subjects, failed = {}, {}
            for label, path in mine.items():  # the one correctness pass, as a golden case would
                expected = harness.BANNER + f"In:   {program}\nOut:  {result}\n".encode()
                with open(stdin, "rb") as source:
                    problems = harness.check([path], source, expected, 0, args.timeout)[0]
                if problems:
                    failed[label] = "FAILED" if "exit status" in problems[0] or "no result" in problems[0] else "WRONG"
                    broken.append(f"{name} ({label}): " + "; ".join(problems[:3]))
                else:
                    subjects[label] = ([path], stdin)
            if floor and name in DATA:
                expected = harness.BANNER + f"In:   {program}\nOut:  {result}\n".encode()
                with open(stdin, "rb") as source:
                    problems = harness.check([floor], source, expected, 0, args.timeout)[0]
                if problems:
                    failed["floor"] = "WRONG"
                    broken.append(f"{name} (floor): " + "; ".join(problems[:3]))
                else:
                    subjects["floor"] = ([floor], stdin)
            for peer, path in peers.items():
                argv, peer_in = [path, *PEERS[peer][1], script], empty if peer_script else stdin
                failure = check_peer(argv, peer_in, peer_result, args.timeout)
                if failure:
                    failed[peer] = failure[0]
                    (broken if failure[0] == "WRONG" else notes).append(f"{peer} on {name}: {failure[1]}")
                else:
                    subjects[peer] = (argv, peer_in)
            if name == "startup":
                subjects["true"] = ([shutil.which("true") or "/bin/true"], empty)
            runs = args.startup_runs if name == "startup" else args.runs
            measured = measure(subjects, runs, tmp, args.verbose) if subjects else {}
            results.update({(name, label): figures for label, figures in measured.items()})

            def cells(label, cpu=False):
                if label not in measured:
                    return [failed.get(label, "-")] + ["-"] * (1 + cpu)
                seconds, cpu_seconds, kib = measured[label]
                return [f"{seconds * 1e3:.1f}"] + [f"{cpu_seconds * 1e3:.1f}"] * cpu + [f"{kib / 1024:.1f}"]
            row = [name, size, *cells("Vellumark", True)] + (cells("before") if args.before else [])
            if not args.no_floor:
                both = "floor" in measured and "Vellumark" in measured
                row += cells("floor", True) + [f"{measured['Vellumark'][0] / measured['floor'][0]:.2f}" if both else "-"]
            for peer in peers:
                both = peer in measured and "Vellumark" in measured
                row += cells(peer) + [f"{measured[peer][0] / measured['Vellumark'][0]:.2f}" if both else "-"]
            rows.append(row)
            if "true" in measured:
                rows.append(["/bin/true", "-", *cells("true", True)] + [""] * (len(header) - 5))

    print()
    table(rows)
    print("\n" + "".join(line + "\n" for line in notes))
    checked = []
    for name, subject, most_time, most_memory in TARGETS:
        if name not in work or (subject == "before" and not args.before):
            continue
        bounds = ([f"within {most_time} ms"] * bool(most_time) + [f"under {most_memory} MiB"] * bool(most_memory)
                  if subject is None else
                  [f"time <= {most_time}x {subject}'s"] + [f"memory <= {most_memory}x"] * bool(most_memory))
        label = f"{name}: " + ", ".join(bounds)
        mine_now = results.get((name, "Vellumark"))
        other = (1e-3, 0, 1024) if subject is None else results.get((subject if subject in work else name,
                                                                     "Vellumark" if subject in work else subject))
        if not mine_now or not other or not other[0] or not other[2]:
            # Below hyperfine's resolution a median can come out as 0.
            checked.append([label, "n/a", "no comparison"])
            continue
        time_ratio, memory_ratio = mine_now[0] / other[0], mine_now[2] / other[2]
        met = (most_time is None or time_ratio <= most_time) and (most_memory is None or memory_ratio <= most_memory)
        shown = (f"{time_ratio:.1f} ms, {memory_ratio:.1f} MiB" if subject is None
                 else f"{time_ratio:.2f}x time, {memory_ratio:.2f}x memory")
        checked.append([label, "met" if met else "NOT met", shown])
    if args.scale != 1:
        print(f"(targets are meant for --scale 1; this run used {args.scale:g})")
    if checked:
        table([["target", "status", "measured"]] + checked)
    for line in broken:
        print("ERROR: " + line)
    sys.exit(1 if broken else 0)


if __name__ == "__main__":
    main()
