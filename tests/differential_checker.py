#!/usr/bin/env python3
"""Checks fuzz/differential.py, the differential checker: that it tells a real
difference from a tolerated one, that its programs are the same for the same
seed and reach every part of the language, and that, run end to end, it finds
a planted difference and reports none between a binary and itself.

Usage: differential_checker.py INTERPRETER [TEST...]   (TEST: as unittest
names them, e.g. EndToEnd; the end-to-end runs are the slow part)
"""

import os
import pathlib
import stat
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CHECKER = os.path.join(ROOT, "fuzz", "differential.py")
sys.path.insert(0, os.path.dirname(CHECKER))
import differential  # noqa: E402

INTERPRETER = None  # set from the command line
IN_LINE = b"Vellumark\n\nIn:   (f 1)\n"


def run(status, out):
    return subprocess.CompletedProcess([], status, out, b"")


class Compare(unittest.TestCase):
    def test_any_byte_or_status_differs(self):
        self.assertEqual(differential.compare(run(0, IN_LINE + b"Out:  1\n"), run(0, IN_LINE + b"Out:  1\n")), "same")
        self.assertEqual(differential.compare(run(0, IN_LINE + b"Out:  1\n"), run(0, IN_LINE + b"Out:  2\n")), "differ")
        self.assertEqual(differential.compare(run(0, IN_LINE + b"Out:  1\n"), run(1, IN_LINE + b"Out:  1\n")), "differ")
        self.assertEqual(differential.compare(run(1, b"x"), run(-11, b"x")), "differ")

    def test_depth_limit_of_the_reference_tolerates_a_different_prefix(self):
        deep = b"Error: recursion too deep.\n"
        self.assertEqual(differential.compare(run(1, IN_LINE + b"111" + deep), run(1, IN_LINE + b"11111" + deep)),
                         "tolerated")
        memory = b"Error: out of memory.\n"
        self.assertEqual(differential.compare(run(1, IN_LINE + memory), run(1, IN_LINE + b"1" + memory)), "tolerated")

    def test_only_that_line_and_status_are_tolerated(self):
        deep = b"Error: recursion too deep.\n"
        # The candidate must end the same way: another error, a result, or the
        # limit reached where the reference had none are all differences.
        self.assertEqual(differential.compare(run(1, IN_LINE + deep), run(1, IN_LINE + b"Error: out of memory.\n")),
                         "differ")
        self.assertEqual(differential.compare(run(1, IN_LINE + deep), run(0, IN_LINE + b"Out:  1\n")), "differ")
        self.assertEqual(differential.compare(run(1, IN_LINE + b"Error: unbound symbol.\n"), run(1, IN_LINE + deep)),
                         "differ")
        self.assertEqual(differential.compare(run(1, IN_LINE + deep), run(None, IN_LINE)), "differ")

    def test_both_timed_out_is_its_own_verdict(self):
        self.assertEqual(differential.compare(run(None, b""), run(None, b"x")), "timeout")

    def test_first_difference(self):
        self.assertEqual(differential.harness.differs_at(b"abc", b"abd"), 2)
        self.assertEqual(differential.harness.differs_at(b"ab", b"abc"), 2)


class Generator(unittest.TestCase):
    def test_a_program_depends_only_on_seed_and_number(self):
        self.assertEqual(differential.make_program("7", 42), differential.make_program("7", 42))
        programs = {differential.make_program("7", i) for i in range(50)}
        self.assertGreater(len(programs), 45)
        self.assertNotEqual([differential.make_program("7", i) for i in range(5)],
                            [differential.make_program("8", i) for i in range(5)])

    def test_programs_reach_every_part_of_the_language(self):
        text = b" ".join(differential.make_program("1", i) for i in range(2000))
        for name in differential.BUILTINS + differential.FORMS:
            self.assertIn(b"(" + name.encode() + b" ", text, name)
        for piece in (b" . ", b"(print)", b"(cons)", b"(loop)", b"(define 5", b"((lambda", b"((quote", b"(5 ",
                      b"2147483648", b"\0", b"\r", b"(cond 5"):
            self.assertIn(piece, text, piece)

    def test_reducing_keeps_one_expression(self):
        tree = differential.parse("(begin (print 1) (cons . 2))")
        self.assertEqual(differential.render(tree), "(begin (print 1) (cons . 2))")
        smaller = {differential.render(t) for t in differential.smaller_trees(tree)}
        self.assertIn("(cons . 2)", smaller)
        self.assertIn("(begin (cons . 2))", smaller)
        self.assertIsNone(differential.parse("(a))"))
        self.assertIsNone(differential.parse("(a"))


class EndToEnd(unittest.TestCase):
    def checker(self, candidate, count, folder):
        return subprocess.run([sys.executable, CHECKER, "--reference", INTERPRETER, "--candidate", candidate,
                               "--count", str(count), "--jobs", "2", "--show", "1", "--save", folder],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)

    def test_a_binary_agrees_with_itself_and_programs_end(self):
        with tempfile.TemporaryDirectory() as folder:
            done = self.checker(INTERPRETER, 300, folder)
            self.assertEqual(done.returncode, 0, done.stdout)
            self.assertIn("mismatches: 0\n", done.stdout)
            # Runs end in results and in many different errors, and the
            # programs stop by themselves.
            self.assertIn("exit 0: a result", done.stdout)
            errors = [line for line in done.stdout.splitlines() if "exit 1: " in line]
            self.assertGreaterEqual(len(errors), 6, done.stdout)
            self.assertNotIn("recursion too deep", done.stdout)
            self.assertNotIn("timed out", done.stdout.replace("timed out on both: 0", ""))

    def test_a_planted_difference_is_found_saved_and_reduced(self):
        with tempfile.TemporaryDirectory() as folder:
            # A candidate that misreports one error line.
            candidate = os.path.join(folder, "candidate")
            with open(candidate, "w") as f:
                f.write(f'#!/bin/bash\n"{INTERPRETER}" | sed "s/getCdr from/getCar from/"\nexit ${{PIPESTATUS[0]}}\n')
            os.chmod(candidate, os.stat(candidate).st_mode | stat.S_IXUSR)
            saved = os.path.join(folder, "saved")
            done = self.checker(candidate, 300, saved)
            self.assertEqual(done.returncode, 1, done.stdout)
            self.assertNotIn("mismatches: 0\n", done.stdout)
            self.assertIn("standard output differs at byte", done.stdout)
            self.assertTrue(os.path.exists(os.path.join(saved, "000001.in")))
            reduced = pathlib.Path(saved, "000001.reduced.in").read_bytes()
            self.assertLess(len(reduced), len(pathlib.Path(saved, "000001.in").read_bytes()))
            reference = subprocess.run([INTERPRETER], input=reduced, stdout=subprocess.PIPE).stdout
            self.assertIn(b"getCdr from", reference)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    INTERPRETER = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
