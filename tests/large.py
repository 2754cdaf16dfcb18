#!/usr/bin/env python3
"""Runs the interpreter on inputs too large to check in, built here at run time.

Each case makes its input, runs the interpreter once and compares the whole
output and the exit status, as a golden case does. They prove that the length
of data is bounded by memory alone and the depth of evaluation by its stated
bound: long lists and deep nesting are read, echoed, evaluated and printed,
deep recursion runs, and evaluation past the bound stops with an error line.

Usage: large.py INTERPRETER CASE     (CASE "list" prints the case names)
"""

import resource
import sys
import tempfile

import harness
from harness import numbers, wrap32

TIMEOUT_SECONDS = 600


def echoed(expression, result, extra=""):
    """The output of a complete run: the expression echoed, then its value."""
    return f"In:   {expression}\n{extra}Out:  {result}\n"


def list_of_ten_million():
    data = f"({numbers(10_000_000)})"
    source = f"(quote {data})"
    return source, echoed(source, data), 0


def nesting_a_million_deep():
    data = "(" * 1_000_000 + "x" + ")" * 1_000_000
    source = f"(quote {data})"
    return source, echoed(source, data), 0


def improper_nesting_a_million_deep():
    # Every level ends in a dotted tail, so the printer must finish each
    # level's tail after coming back out of its car.
    depth = 1_000_000
    data = "(" * depth + "1" + "  . 2)" * depth
    source = "(quote " + "(" * depth + "1" + " . 2)" * depth + ")"
    return source, echoed(f"(quote {data})", data), 0


def sum_of_a_million():
    source = "(+" + " 1" * 1_000_000 + ")"
    return source, echoed(source, "1000000"), 0


def folds_over_a_million():
    count = 1_000_000
    ones = " 1" * count
    source = (f"(begin (print (*{ones})) (print (- 0{ones})) (print (/ 7{ones}))"
              f" (print (< {numbers(count)})) (begin {numbers(count)}))")
    return source, echoed(source, count - 1, extra=f"1-{count}7#t"), 0


def append_two_long_lists():
    half = numbers(500_000)
    source = f"(append (quote ({half})) (quote ({half})))"
    return source, echoed(source, f"({half} {half})"), 0


def cond_with_a_hundred_thousand_clauses():
    clauses = " ((< 1 0) 0)" * 100_000
    source = f"(cond{clauses} (else 42))"
    return source, echoed(source, "42"), 0


def define_with_a_million_values():
    source = f"(begin (define x {numbers(1_000_000)}) x)"
    return source, echoed(source, "0"), 0


def expression_nested_a_million_deep():
    depth = 1_000_000
    source = "(+ 1 " * depth + "0" + ")" * depth
    return source, echoed(source, str(depth)), 0


def a_million_nested_calls():
    source = ("(begin (define n 1000000) (define loop (lambda () (cond ((< n 1) n)"
              " (else (begin (define n (- n 1)) (loop)))))) (loop))")
    return source, echoed(source, "0"), 0


def eleven_million_calls_never_deep():
    # Levels are given back as calls return: eleven million calls in all, never
    # more than some twenty thousand open at once, stay within the bound.
    source = ("(begin (define i 11000) (define j 0)"
              " (define inner (lambda () (cond ((< j 1) j) (else (begin (define j (- j 1)) (inner))))))"
              " (define outer (lambda () (cond ((< i 1) (quote done))"
              " (else (begin (define i (- i 1)) (define j 1000) (inner) (outer))))))"
              " (outer))")
    return source, echoed(source, "done"), 0


def recursion_without_end():
    source = "(begin (define f (lambda (x) (f x))) (f 1))"
    return source, f"In:   {source}\nError: recursion too deep.\n", 1


def nesting_past_the_depth_bound():
    # Each head that is itself a pair waits for its own value: one level each,
    # so ten million and one of them go past the bound and stop with the error
    # line, while eight million ordinary nested calls still evaluate.
    depth = 10_000_001
    source = "(" * depth + "f" + ")" * depth
    return source, None, 1


def nesting_eight_million_deep():
    depth = 8_000_000
    source = "(car " * depth + "0" + ")" * depth
    return source, f"In:   {source}\nError: tried to getCar from non-Cons.\n", 1


def a_hundred_thousand_bindings_looked_up():
    count = 100_000
    defines = " ".join(f"(define v{i} {i})" for i in range(count))
    lookups = " ".join(f"v{i}" for i in range(0, count, 7))
    source = f"(begin {defines} (+ {lookups}))"
    return source, echoed(source, str(wrap32(sum(range(0, count, 7))))), 0


def an_atom_larger_than_the_output_buffer():
    # Written past the output buffer in one piece, echoed and printed.
    name = "a" * (3 << 20)
    source = f"(quote {name})"
    return source, echoed(source, name), 0


# Output that stops fitting part way: a file that may not grow past a size
# (a fourth item, the limit in bytes). The run must end with status 1, not a
# signal, the file holding exactly the first bytes of the output.
def a_long_list_cut_by_a_file_size_limit():
    data = f"({numbers(1_000_000)})"
    source = f"(quote {data})"
    return source, echoed(source, data), 1, 3 << 20


def an_atom_larger_than_the_output_buffer_cut_short():
    # Written past the buffer in one piece, after the buffer's few bytes left.
    name = "a" * (3 << 20)
    source = f"(quote {name})"
    return source, echoed(source, name), 1, 1 << 20


def cut_by_a_limit(interpreter, source, expected, limit):
    with tempfile.TemporaryFile() as output:
        problems, _ = harness.check(
            [interpreter], (source + "\n").encode(), None, 1, TIMEOUT_SECONDS, stdout=output,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit)))
        output.seek(0)
        written = output.read()
    wanted = (harness.BANNER + expected.encode())[:limit]
    if written != wanted:
        problems.extend(harness.first_difference(written, wanted))
    return problems


CASES = {name: case for name, case in globals().items() if callable(case) and name[0].islower()
         and name not in ("numbers", "wrap32", "echoed", "cut_by_a_limit", "main")}


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "list":
        print("\n".join(CASES))
        return
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        sys.exit(__doc__)
    interpreter, name = sys.argv[1], sys.argv[2]

    def checks():
        source, expected, status, *limit = CASES[name]()
        if limit:
            return [harness.report(name, cut_by_a_limit(interpreter, source, expected, limit[0]))]
        wanted = None if expected is None else harness.BANNER + expected.encode()
        problems, done = harness.check([interpreter], (source + "\n").encode(), wanted, status, TIMEOUT_SECONDS)
        if expected is None and done and not done.stdout.endswith(b"Error: recursion too deep.\n"):
            problems.append(f"output ends {done.stdout[-60:]!r}, expected the recursion error line")
        return [harness.report(name, problems)]

    harness.main(checks)


if __name__ == "__main__":
    main()
