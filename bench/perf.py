#!/usr/bin/env python3
"""The instruction-count guard: small versions of every workload of
bench/run.py, and a countdown run by vellumark-trace, each counted with
valgrind's callgrind and compared with bench/baseline.tsv.

An instruction count is the same for the same binary and input however loaded
the machine is, so unlike a time it can fail a test. Every run's output is
checked too (the whole of it, as bench/run.py checks it), so that a build that
got faster by printing less cannot pass.

Prints a table of baseline, count and change for each workload, and exits with
1 when any count rose by more than --tolerance percent (default 3) over its
baseline, or a run printed the wrong thing. A count that fell by more than that
passes, with a note that the baseline can be brought down.

  bench/perf.py [--vellumark BINARY] [--trace BINARY] [--only NAME,...]
  bench/perf.py --update     # writes the counts of this build as the baseline

The baseline holds the counts of the release preset's build (g++, link-time
optimisation, static) on the CI machine's Debian; another compiler or C library
gives other counts.
"""

import argparse
import concurrent.futures
import os
import subprocess
import sys
import tempfile

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
sys.path.insert(0, os.path.join(REPO, "tests"))
import run  # noqa: E402  (bench/run.py: the workloads)
from harness import BANNER  # noqa: E402

BASELINE = os.path.join(BENCH, "baseline.tsv")
# Small enough that all of them take well under a minute under callgrind on
# two cores, large enough that each one's own work, not start-up, is most of
# its count.
SIZES = {"echo_list": 20_000, "echo_nested": 20_000, "sum": 40_000, "append": 10_000, "loop_1e5": 2_000,
         "loop_1e6": 20_000, "calls": 10_000, "calls_same": 10_000, "startup": 1}
TRACED = "traced_countdown"  # loop_1e5's program, smaller, run by vellumark-trace
TRACED_SIZE = 2_000
# The same run with a head of 200 events and a tail of 100 (the trace's
# test-only --keep): nearly every event is kept, then dropped, as in a long
# run, where that path, not writing, is nearly all of the trace's cost.
TRACED_TAIL = "traced_tail"
TRACED_TAIL_KEEP = "--keep=200,100"


def cases(only):
    """name: (N, program, expected standard output or None, which binary, its arguments)."""
    chosen = {}
    for name, (size, program, result, _, _) in run.workloads(1.0, SIZES).items():
        chosen[name] = (size, program, BANNER + f"In:   {program}\nOut:  {result}\n".encode(), "vellumark", [])
    countdown = run.LOOP.format(n=TRACED_SIZE)
    # The trace's own text is checked by the trace tests; here only that the
    # run ended well.
    chosen[TRACED] = (TRACED_SIZE, countdown, None, "trace", [])
    chosen[TRACED_TAIL] = (TRACED_SIZE, countdown, None, "trace", [TRACED_TAIL_KEEP])
    return {name: case for name, case in chosen.items() if not only or name in only}


def count(binary, arguments, program, expected, folder, name):
    """The instructions `binary` executes on `program`, or an error string."""
    source = os.path.join(folder, name + ".in")
    with open(source, "w") as f:
        f.write(program + "\n")
    out = os.path.join(folder, name + ".callgrind")
    # A fixed, small environment: the C library's start reads it, and its size
    # must not change the count from one machine or shell to another.
    with open(source, "rb") as stdin:
        done = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", "--dump-line=no",
                               "--compress-strings=no", binary, *arguments], stdin=stdin, capture_output=True,
                              env={"PATH": "/usr/bin:/bin"}, timeout=600)
    if done.returncode != 0:
        return f"exit status {done.returncode}: {done.stderr.decode(errors='replace')[-400:]}"
    if expected is not None and done.stdout != expected:
        return f"wrong output ({len(done.stdout)} bytes, {len(expected)} expected): {done.stdout[:80]!r}..."
    with open(out) as f:
        for line in f:
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1])
    return "no instruction total in callgrind's output"


def read_baseline(path):
    baseline = {}
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    name, size, instructions = line.split("\t")
                    baseline[name] = (int(size), int(instructions))
    return baseline


def write_baseline(path, counts, sizes):
    with open(path, "w") as f:
        f.write("# Instructions each workload takes in the release build, counted by bench/perf.py\n"
                "# (valgrind --tool=callgrind). Written by `make perf-baseline` (bench/perf.py --update).\n"
                "# workload\tN\tinstructions\n")
        for name, instructions in counts.items():
            f.write(f"{name}\t{sizes[name]}\t{instructions}\n")


def main():
    parser = argparse.ArgumentParser(description="Instruction counts of the bench workloads against a baseline.")
    build = os.path.join(REPO, "build", "release")
    parser.add_argument("--vellumark", default=os.path.join(build, "vellumark"))
    parser.add_argument("--trace", default=os.path.join(build, "vellumark-trace"))
    parser.add_argument("--baseline", default=BASELINE)
    parser.add_argument("--tolerance", type=float, default=3.0, help="percent a count may rise (default 3)")
    parser.add_argument("--only", default="", help="comma-separated workloads")
    parser.add_argument("--update", action="store_true", help="write this build's counts as the baseline")
    args = parser.parse_args()
    binaries = {"vellumark": os.path.abspath(args.vellumark), "trace": os.path.abspath(args.trace)}
    chosen = cases(set(args.only.split(",")) - {""})
    with tempfile.TemporaryDirectory(prefix="vellumark-perf-") as folder:
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            futures = {name: pool.submit(count, binaries[which], arguments, program, expected, folder, name)
                       for name, (_, program, expected, which, arguments) in chosen.items()}
            counts = {name: future.result() for name, future in futures.items()}
    errors = [f"{name}: {counted}" for name, counted in counts.items() if isinstance(counted, str)]
    if errors:
        print("\n".join("ERROR: " + error for error in errors))
        return 1
    sizes = {name: case[0] for name, case in chosen.items()}
    if args.update:
        if args.only:
            sys.exit("--update writes every workload: leave out --only")
        write_baseline(args.baseline, counts, sizes)
        print(f"wrote {args.baseline}")

    baseline = read_baseline(args.baseline)
    rows = [("workload", "N", "baseline", "now", "change")]
    risen, fallen = [], []
    for name, instructions in counts.items():
        size, before = baseline.get(name, (None, None))
        if before is None or size != sizes[name]:
            rows.append((name, str(sizes[name]), "-", f"{instructions:,}", "no baseline"))
            risen.append(f"{name}: no baseline for N = {sizes[name]} (make perf-baseline)")
            continue
        change = (instructions - before) / before * 100
        rows.append((name, str(size), f"{before:,}", f"{instructions:,}", f"{change:+.2f}%"))
        if change > args.tolerance:
            risen.append(f"{name}: {change:+.2f}% over the baseline (at most +{args.tolerance:g}%)")
        elif change < -args.tolerance:
            fallen.append(name)
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    for index, row in enumerate(rows):
        print("| " + " | ".join(cell.ljust(w) if i == 0 else cell.rjust(w)
                                for i, (cell, w) in enumerate(zip(row, widths))) + " |")
        if index == 0:
            print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    if fallen:
        print(f"\nbelow the baseline by more than {args.tolerance:g}%: {', '.join(fallen)}; "
              "`make perf-baseline` records the new counts")
    if risen:
        print("\nFAILED: " + "\n        ".join(risen))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
