#!/usr/bin/env python3
"""Differential check: random programs through two interpreters, byte for byte.

Each generated program runs through a reference binary and a candidate (say,
builds of the commits before and after a change to the evaluator that must not
change behaviour); the whole of standard output and the exit status are
compared through tests/harness.py. Any difference is a mismatch, with one
exception: when the reference ends with "Error: recursion too deep." or
"Error: out of memory.", its limit decided how much was printed first, so
only the status and that last line are compared ("tolerated").

The programs lean towards what a rewrite of evaluation gets wrong: the order
of evaluation and of failures, output interleaved with failures, unbound
symbols everywhere, improper lists, every built-in with zero to four operands
of every kind, malformed forms, definitions that a caller's pops take away,
wrong argument counts, heads that are pairs or quoted procedures, bounded
recursion through a redefined global, deep-ish nesting and raw reader noise.
They end by themselves, except by rare accident.

Usage:
    fuzz/differential.py --reference BIN --candidate BIN --count N
                         [--seed S] [--start I] [--jobs J] [--stop]
                         [--save DIR] [--show K] [--timeout SECONDS] [--reduce RUNS]
    fuzz/differential.py --reference-commit COMMIT --candidate BIN ...
    fuzz/differential.py --sample N [--seed S]      (print programs, run nothing)

A --*-commit is built once into build/reference-<hash>/ and reused. Program I
of seed S is always the same, so `--seed S --start I --count 1` runs it again.
Each mismatch is printed (the first --show in full, with a reduced program on
which the two still differ) and saved under --save as NNNNNN.in,
.reference, .candidate, .reduced.in and .txt. The summary counts programs,
mismatches, tolerated runs and timeouts, and how the reference runs ended.
Exit status 0 when there was no mismatch, else 1.
"""

import argparse
import collections
import concurrent.futures
import os
import random
import re
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tests"))
import harness  # noqa: E402

TOLERATED = (b"Error: recursion too deep.\n", b"Error: out of memory.\n")

# Names, by the role the generator gives them. Keeping the roles apart is what
# keeps programs finite: a procedure body may call only the procedures before
# it in PROCEDURES (and the countdown, which calls only itself while the
# counter falls), and no body calls a variable, so no chain of calls comes back
# to where it started.
VARIABLES = ("a", "b", "x", "y")
PROCEDURES = ("f", "g", "h")
COUNTER, COUNTDOWN = "k", "loop"
UNBOUND = ("zz", "frob", "nil", "-1", "#t", "#f", "else", "X")  # never bound
BUILTINS = ("<", "not", "null?", "+", "-", "/", "*", "print", "newline", "list", "cons", "car", "head", "cdr",
            "tail", "append", "begin")
FORMS = ("quote", "cond", "define", "lambda")
# Quoted data holds no variable or procedure name where it could become the
# head of a call, so data that ends up called as a procedure cannot recurse.
DATA_HEADS = ("zz", "lambda", "quote", "+", "car", "list", "else", "#t", "cond", "frob")
EDGE_INTEGERS = ("2147483647", "2147483648", "4294967295", "4294967296", "65536", "46341", "99999999999", "00",
                 "007", "1000000")

# The kinds of expression (the Generator's make_ methods) and their weights, by
# what the expression should yield: operands mostly fit, and sometimes do not.
KINDS = {
    "any": {"call": 30, "quote": 6, "cond": 6, "define": 4, "lambda": 3, "proc": 8, "immediate": 4, "quoted_proc": 2,
            "pair_head": 2, "bad_head": 1, "var_head": 2, "sequence": 5, "unknown": 3, "leaf": 8, "mixed": 3},
    "int": {"arith": 30, "proc": 4, "cond": 4, "sequence": 3, "int_access": 5, "immediate": 2, "leaf": 10,
            "print_int": 3, "mixed": 2},
    "list": {"list_call": 30, "quote": 8, "proc": 3, "unknown": 4, "cond": 2, "leaf": 6},
    "bool": {"test": 30, "leaf": 6, "proc": 2, "cond": 1},
}


def pick(rng, weighted):
    """One key of `weighted` (a dict of weights)."""
    keys = list(weighted)
    return rng.choices(keys, weights=[weighted[k] for k in keys])[0]


class Context:
    """Where an expression is generated: how much nesting is left, which named
    procedures it may call, and whether it may call a variable."""

    def __init__(self, level, callable_names, top):
        self.level, self.callable, self.top = level, callable_names, top

    def deeper(self):
        return Context(self.level - 1, self.callable, self.top)

    def body(self, callable_names):
        return Context(min(self.level - 1, 3), callable_names, False)


class Generator:
    """Makes one program from a seeded random source."""

    def __init__(self, rng):
        self.rng = rng
        self.shadowed = None  # the one built-in a program may rebind
        self.countdown = False
        self.bound = []  # variables defined so far at the top level
        self.arity = {}  # parameters of each procedure defined so far

    # ---- leaves

    def integer(self):
        r = self.rng.random()
        if r < 0.15:
            return self.rng.choice(EDGE_INTEGERS)
        if r < 0.25:
            return str(self.rng.randrange(0, 1000))
        return str(self.rng.randrange(0, 10))

    def variable(self):
        # Mostly one that has a value, or the run would end at the first lookup.
        r = self.rng.random()
        if self.bound and r < 0.85:
            return self.rng.choice(self.bound)
        if not self.bound and r < 0.6:
            return self.integer()
        return self.rng.choice(VARIABLES + ((COUNTER,) if self.countdown else ()))

    def unbound_symbol(self):
        r = self.rng.random()
        if r < 0.6:
            return self.rng.choice(UNBOUND)
        if r < 0.85:
            return self.rng.choice(BUILTINS)  # a built-in's name is no variable
        return self.rng.choice(FORMS + PROCEDURES + (COUNTDOWN,))

    def datum(self, level, as_list=False):
        """Quoted data: integers, symbols, lists, improper pairs."""
        r = self.rng.random()
        if not as_list and (level <= 0 or r < 0.35):
            s = self.rng.random()
            if s < 0.45:
                return self.integer()
            if s < 0.8:
                return self.rng.choice(DATA_HEADS + VARIABLES)
            return "()"
        items = [self.rng.choice(DATA_HEADS) if self.rng.random() < 0.3 else self.datum(level - 1)
                 for _ in range(self.rng.choice((0, 1, 2, 2, 3, 3, 4)))]
        if items and items[0] in VARIABLES + PROCEDURES:
            items[0] = "zz"
        if items and self.rng.random() < 0.12:
            return "(" + " ".join(items) + " . " + self.datum(level - 1) + ")"
        return "(" + " ".join(items) + ")"

    def leaf(self, want):
        r = self.rng.random()
        if want == "int":
            if r < 0.75:
                return self.integer()
            return self.variable() if r < 0.97 else self.unbound_symbol()
        if want == "list":
            if r < 0.5:
                return "(quote " + self.datum(2, self.rng.random() < 0.9) + ")"
            if r < 0.6:
                return "(list)"
            return self.variable() if r < 0.97 else self.unbound_symbol()
        if r < 0.45:
            return self.integer()
        if r < 0.77:
            return self.variable()
        if r < 0.95:
            return "(quote " + self.datum(2) + ")"
        return self.unbound_symbol()

    # ---- compound expressions

    def expression(self, ctx, want="any"):
        if ctx.level <= 0 or self.rng.random() < 0.18 + 0.08 * max(0, 3 - ctx.level):
            return self.leaf(want)
        if self.rng.random() < 0.05:
            want = "any"  # now and then, an operand of the wrong kind
        kind = pick(self.rng, KINDS[want])
        if kind == "var_head" and not ctx.top:
            kind = "call"
        if kind == "proc" and not ctx.callable:
            kind = "call" if want == "any" else "leaf"
        return getattr(self, "make_" + kind)(ctx, want)

    def operands(self, ctx, count, want):
        return [self.expression(ctx.deeper(), want) for _ in range(count)]

    def operand_count(self):
        return self.rng.choices((0, 1, 2, 3, 4), weights=(2, 4, 5, 2, 1))[0]

    def form(self, head, items, improper_chance=0.015):
        """A list form; now and then with an improper end, as in (+ 1 . 2)."""
        text = "(" + " ".join([head] + items)
        if self.rng.random() < improper_chance:
            return text + " . " + self.leaf("any") + ")"
        return text + ")"

    def make_leaf(self, ctx, want):
        return self.leaf(want)

    def make_call(self, ctx, want):
        name = self.rng.choice(BUILTINS)
        operand_want = {"+": "int", "-": "int", "*": "int", "/": "int", "<": "int", "car": "list", "head": "list",
                        "cdr": "list", "tail": "list", "append": "list", "null?": "list"}.get(name, "any")
        count = self.operand_count()
        if name in ("print", "car", "head", "cdr", "tail", "not", "null?") and self.rng.random() < 0.75:
            count = 1  # what these take; other counts stay possible
        elif name == "cons" and self.rng.random() < 0.75:
            count = 2
        return self.form(name, self.operands(ctx, count, operand_want))

    def make_arith(self, ctx, want):
        return self.form(self.rng.choice(("+", "-", "*", "/", "+", "-", "*")),
                         self.operands(ctx, self.operand_count(), "int"))

    def make_mixed(self, ctx, want):
        """A built-in whose operands are of every kind, several of them wrong:
        which failure comes first is decided by the order of reads."""
        name = self.rng.choice(("+", "-", "*", "/", "<", "-", "<", "cons", "car", "cdr", "append", "print"))

        def operand():
            r = self.rng.random()
            if r < 0.4:
                return self.integer()
            if r < 0.55:
                return self.rng.choice(("(quote zz)", "(quote (1 2))", "(list)", "(quote (1 . 2))"))
            if r < 0.7:
                return self.rng.choice(UNBOUND[:4])
            if r < 0.8:
                return self.variable()
            if r < 0.9 and ctx.level > 1:
                return self.make_mixed(ctx.deeper(), want)
            return "(print " + self.integer() + ")"
        return self.form(name, [operand() for _ in range(self.rng.randrange(1, 5))])

    def make_print_int(self, ctx, want):
        return "(print " + self.expression(ctx.deeper(), "int") + ")"

    def make_int_access(self, ctx, want):
        # car of a list of numbers, or a number that went through begin
        items = self.operands(ctx, self.rng.randrange(1, 4), "int")
        name = self.rng.choice(("car", "head", "begin"))
        if name == "begin":
            return "(begin " + " ".join(items) + ")"
        return "(" + name + " (list " + " ".join(items) + "))"

    def make_list_call(self, ctx, want):
        name = self.rng.choice(("list", "list", "cons", "cons", "cdr", "tail", "append", "append", "car"))
        if name in ("cdr", "tail", "car"):
            return self.form(name, self.operands(ctx, self.rng.choice((0, 1, 1, 1, 2)), "list"))
        if name == "cons":
            count = self.rng.choice((0, 1, 2, 2, 2, 2, 3))
            items = [self.expression(ctx.deeper(), "any" if i == 0 else "list") for i in range(count)]
            return self.form(name, items)
        return self.form(name, self.operands(ctx, self.operand_count(), "list" if name == "append" else "any"))

    def make_test(self, ctx, want):
        name = self.rng.choice(("<", "<", "not", "null?"))
        if name == "<":
            return self.form(name, self.operands(ctx, self.operand_count(), "int"))
        if name == "not":
            return self.form(name, self.operands(ctx, self.rng.choice((0, 1, 1, 1, 2)), "bool"))
        return self.form(name, self.operands(ctx, self.rng.choice((0, 1, 1, 1, 2)), "list"))

    def make_quote(self, ctx, want):
        r = self.rng.random()
        if r < 0.02:
            return self.rng.choice(("(quote)", "(quote . 5)", "(quote 1 2)", "(quote x . y)"))
        return "(quote " + self.datum(3, want == "list" and self.rng.random() < 0.9) + ")"

    def make_cond(self, ctx, want):
        r = self.rng.random()
        if r < 0.02:
            return self.rng.choice(("(cond)", "(cond . 5)", "(cond 5)", "(cond (zz))", "(cond () (1 2))"))
        clauses = []
        count = self.rng.randrange(1, 5)
        for i in range(count):
            s = self.rng.random()
            if s < 0.04:
                clauses.append(self.rng.choice(("5", "()", "x")))
            elif s < 0.08:
                clauses.append("(" + self.expression(ctx.deeper(), "bool") + ")")
            else:
                test = self.expression(ctx.deeper(), "bool")
                if i == count - 1 and self.rng.random() < 0.5:
                    test = "else"  # never evaluated in the last clause
                extra = " " + self.expression(ctx.deeper()) if self.rng.random() < 0.08 else ""
                clauses.append("(" + test + " " + self.expression(ctx.deeper(), want) + extra + ")")
        return self.form("cond", clauses, 0.04)

    def definition_name(self):
        r = self.rng.random()
        if r < 0.8:
            return self.variable() if self.rng.random() < 0.9 else COUNTER
        if r < 0.87:
            return self.rng.choice(("quote", "cond", "lambda", "define"))
        return self.rng.choice(("5", "(x)", "()", "(quote a)"))  # not a symbol

    def make_define(self, ctx, want):
        r = self.rng.random()
        if r < 0.02:
            return self.rng.choice(("(define)", "(define . 5)", "(define a . 5)", "(define a 1 . 2)"))
        name = self.definition_name()
        if name == COUNTER:  # small, or not a number at all: the countdown stays short
            value = self.rng.choice(("0", "1", "2", "3", "(quote zz)", "(- k 1)", "(list 1)"))
            return "(define k " + value + ")"
        count = self.rng.choices((0, 1, 2, 3), weights=(1, 12, 2, 1))[0]
        return self.form("define", [name] + self.operands(ctx, count, "any"))

    def parameters(self):
        """A parameter list and how many parameters it has (None: malformed)."""
        if self.rng.random() < 0.03:
            return self.rng.choice(("x", "(x . y)", "(1)", "(a b . c)", "5")), None
        names = [self.rng.choice(VARIABLES) for _ in range(self.rng.choices((0, 1, 2, 3), weights=(2, 5, 4, 1))[0])]
        return "(" + " ".join(names) + ")", len(names)

    def lambda_text(self, ctx, callable_names, head="lambda"):
        """A lambda form (or a list of its shape) and its number of parameters."""
        if self.rng.random() < 0.02:
            return self.rng.choice(("(" + head + ")", "(" + head + " (x))", "(" + head + " . 5)")), None
        parameters, arity = self.parameters()
        text = "(" + head + " " + parameters + " " + self.expression(ctx.body(callable_names))
        if self.rng.random() < 0.05:
            text += " " + self.expression(ctx.body(callable_names))  # never evaluated
        return text + ")", arity

    def make_lambda(self, ctx, want):
        return self.lambda_text(ctx, ctx.callable)[0]

    def arguments(self, ctx, arity=None):
        """Arguments for a procedure of `arity` parameters: mostly as many,
        sometimes fewer or more. They are bound as written, never evaluated."""
        count = self.rng.choices((0, 1, 2, 3, 4), weights=(3, 5, 4, 2, 1))[0]
        if arity is not None and self.rng.random() < 0.75:
            count = arity
        return self.operands(ctx.body(ctx.callable), count, "any") if ctx.level > 1 else \
            [self.leaf("any") for _ in range(count)]

    def make_proc(self, ctx, want):
        name = self.rng.choice(ctx.callable)
        return self.form(name, self.arguments(ctx, self.arity.get(name)), 0.04)

    def make_immediate(self, ctx, want):
        procedure, arity = self.lambda_text(ctx, ctx.callable)
        return self.form(procedure, self.arguments(ctx, arity), 0.04)

    def make_quoted_proc(self, ctx, want):
        # A quoted list of the right shape is a procedure value too.
        procedure, arity = self.lambda_text(ctx, ctx.callable, self.rng.choice(("any", "lambda", "1")))
        return self.form("(quote " + procedure + ")", self.arguments(ctx, arity))

    def make_pair_head(self, ctx, want):
        head = self.rng.choice((
            "(car (list " + self.make_lambda(ctx, want) + "))",
            "(list 1 2)", "(quote (1 2))", "(quote (p (x) x))", "(cdr (list 1 2 3))",
            "(begin " + self.make_lambda(ctx, want) + ")", "(quote zz)", "(frob)", "(zz 1 2)", "(begin zz)",
            "(car (list zz))",
        ))
        return self.form(head, self.arguments(ctx))

    def make_bad_head(self, ctx, want):
        return self.form(self.rng.choice(("5", "()", "2147483648")), self.operands(ctx, self.operand_count(), "any"))

    def make_var_head(self, ctx, want):
        return self.form(self.rng.choice(VARIABLES), self.arguments(ctx), 0.04)

    def make_sequence(self, ctx, want):
        items = []
        for _ in range(self.rng.randrange(1, 5)):
            r = self.rng.random()
            if r < 0.35:
                items.append("(print " + self.expression(ctx.deeper()) + ")")
            elif r < 0.5:
                items.append("(newline)")
            else:
                items.append(self.expression(ctx.deeper()))
        items.append(self.expression(ctx.deeper(), want))
        return self.form("begin", items, 0.02)

    def make_unknown(self, ctx, want):
        # A name that is no built-in yields its evaluated operands.
        return self.form(self.rng.choice(UNBOUND[:3]), self.operands(ctx, self.operand_count(), "any"))

    # ---- whole programs

    def procedure_definition(self, index, ctx):
        name = PROCEDURES[index]
        allowed = PROCEDURES[:index] + ((COUNTDOWN,) if self.countdown else ())
        if self.rng.random() < 0.1:
            value, self.arity[name] = self.lambda_text(ctx, allowed, "p")
            value = "(quote " + value + ")"
        else:
            value, self.arity[name] = self.lambda_text(ctx, allowed)
        return "(define " + name + " " + value + ")"

    def countdown_definitions(self):
        """A global counted down by a procedure that redefines it and calls
        itself: recursion through a defined name, kept short."""
        self.countdown = True
        start = self.rng.choice(("0", "1", "3", "5", "8", "12")) if self.rng.random() < 0.95 else \
            str(self.rng.randrange(50, 300))
        side = self.rng.choice(("(print k) ", "(newline) ", "", "", "(print (list k)) ", "(print (quote t)) "))
        if self.rng.random() < 0.3:
            # With a parameter each level pops one entry: the caller's pops take
            # the bindings of k made in the body, and some bindings of v stay.
            body = "(lambda (v) (cond ((< k 1) v) (else (begin " + side + "(define k (- k 1)) (loop v)))))"
            call = "(loop " + self.rng.choice(("1", "v", "(quote q)", "(+ 1 2)")) + ")"
            self.arity[COUNTDOWN] = 1
        else:
            body = "(lambda () (cond ((< k 1) k) (else (begin " + side + "(define k (- k 1)) (loop)))))"
            call = "(loop)"
            self.arity[COUNTDOWN] = 0
        return ["(define k " + start + ")", "(define loop " + body + ")"], call

    def shadow_definition(self, ctx):
        """Binds one built-in's name; later calls of it reach the binding."""
        # A countdown stops only while "<" and "-" are the built-ins.
        name = self.rng.choice([n for n in BUILTINS if not (self.countdown and n in ("<", "-"))])
        r = self.rng.random()
        value = self.integer()
        if r < 0.2:
            value = "(quote (p (x y) (%s y x)))" % ("cons" if name == "list" else "list")
        elif r < 0.8:
            # Its body must not call it, not even inside quoted data.
            for _ in range(10):
                text, arity = self.lambda_text(ctx, ())
                if "(" + name + " " not in text and "(" + name + ")" not in text:
                    value, self.arity[name] = text, arity
                    break
        self.shadowed = name
        return "(define " + name + " " + value + ")"

    def variable_definition(self, ctx):
        name = self.rng.choice(VARIABLES)
        value = self.expression(ctx.deeper(), self.rng.choice(("int", "list", "list", "any")))
        self.bound.append(name)
        return "(define " + name + " " + value + ")"

    def statement(self, ctx):
        r = self.rng.random()
        if r < 0.2:
            return "(print " + self.expression(ctx) + ")"
        if r < 0.27:
            return "(newline)"
        if r < 0.35:
            return self.variable_definition(ctx)
        if r < 0.42:
            return self.make_define(ctx, "any")
        if r < 0.6 and ctx.callable:
            return self.make_proc(ctx, "any")
        return self.expression(ctx)

    def final_expression(self, ctx):
        r = self.rng.random()
        if r < 0.25:
            names = [self.variable() for _ in range(self.rng.randrange(1, 4))]
            return "(list " + " ".join(names) + ")"
        if r < 0.35:
            return self.variable()
        return self.expression(ctx)

    def program_text(self):
        r = self.rng.random()
        if r < 0.03:
            return None  # raw reader input instead
        level = self.rng.choice((2, 3, 3, 4, 4, 5))
        if r < 0.05:
            return self.deep_nesting()
        if r < 0.17:
            return self.expression(Context(level, (), True))
        statements, procedures, call = [], 0, None
        while self.rng.random() < 0.5:
            statements.append(self.variable_definition(Context(2, (), True)))
        if self.rng.random() < 0.25:
            definitions, call = self.countdown_definitions()
            statements += definitions
        count = self.rng.randrange(1, 9)
        for _ in range(count):
            ctx = Context(level, PROCEDURES[:procedures] + ((COUNTDOWN,) if self.countdown else ()), True)
            s = self.rng.random()
            if s < 0.3 and procedures < len(PROCEDURES):
                statements.append(self.procedure_definition(procedures, ctx))
                procedures += 1
            elif s < 0.35 and self.shadowed is None:
                statements.append(self.shadow_definition(ctx))
            elif s < 0.4 and call:
                statements.append(call)
            else:
                statements.append(self.statement(ctx))
        if call and self.rng.random() < 0.7:
            statements.append(call)
        callable_names = PROCEDURES[:procedures] + ((COUNTDOWN,) if self.countdown else ())
        statements.append(self.final_expression(Context(level, callable_names, True)))
        return self.form("begin", statements, 0.01)

    def deep_nesting(self):
        depth = self.rng.randrange(10, 400)
        shape = self.rng.randrange(6)
        if shape == 0:
            return "(+" + " (+ 1" * depth + " 0" + ")" * depth + ")"
        if shape == 1:
            return "(car" * depth + " (quote " + "(" * depth + "7" + ")" * depth + ")" + ")" * depth
        if shape == 2:
            return "(quote " + "(1 " * depth + "()" + ")" * depth + ")"
        if shape == 3:
            return "(begin" * depth + " (print 1) 2" + ")" * depth
        if shape == 4:
            return "((lambda (x) " * depth + "(list x)" + ") 1)" * depth
        return "(list" + " (cons 1" * depth + " (quote tail)" + ")" * depth + ")"

    def raw_input(self):
        tokens = ("(", ")", ".", " . ", " ", "\n", "\r", "\t", "\0", "1", "a", "quote", "+", "12345678901", "x.y",
                  "(quote", "\x7f", "\xff", "(+ 1 2)", "()", ")(", "..", "-")
        text = "".join(self.rng.choice(tokens) for _ in range(self.rng.randrange(1, 16)))
        return text.encode("latin-1")

    def program(self):
        """The bytes of one program as it is fed to standard input."""
        text = self.program_text()
        if text is None:
            return self.raw_input()
        r = self.rng.random()
        if r < 0.05:
            # Any whitespace between tokens reads the same.
            text = "".join(self.rng.choice((" ", "\t", "\n", "\r", "  ")) if c == " " else c for c in text)
        tail = "\n"
        s = self.rng.random()
        if s < 0.01:
            tail = ""  # the run ends quietly: no character follows the expression
        elif s < 0.03:
            tail = "\r\n"
        elif s < 0.05:
            tail = self.rng.choice((" 1 2\n", ")\n", "\0", " (car 5)\n", "x"))  # never read
        return text.encode("latin-1") + tail.encode("latin-1")


def make_program(seed, index):
    """Program number `index` of `seed`: the same bytes on every run."""
    return Generator(random.Random(f"{seed}:{index}")).program()


# ---- running and comparing


def run(binary, program, timeout):
    """One run, as tests/harness.py makes it: its returncode is negative when
    a signal killed it, None when it timed out."""
    return harness.run([binary], program, timeout)


def compare(reference, candidate):
    """"same", "tolerated" (the reference ended at its depth or memory limit
    and the candidate ended with the same status and error line), "timeout"
    (both timed out) or "differ"."""
    if reference.returncode is None and candidate.returncode is None:
        return "timeout"
    if reference.returncode == candidate.returncode and reference.stdout == candidate.stdout:
        return "same"
    if reference.returncode == 1 == candidate.returncode and any(
            reference.stdout.endswith(line) and candidate.stdout.endswith(line) for line in TOLERATED):
        return "tolerated"
    return "differ"


def outcome(result):
    """How a run ended, for the summary: a result, a quiet end, or its last line."""
    if result.returncode is None:
        return "timed out"
    if result.returncode < 0:
        return f"killed by signal {-result.returncode}"
    lines = result.stdout.split(b"\n")
    last = lines[-2] if len(lines) >= 2 else lines[-1]
    if result.returncode == 0:
        if b"Out:  " in last:
            return "exit 0: a result"
        return "exit 0: input ended before a whole expression"
    for marker in (b"Error:", b"Bad input.", b"Bad pair"):
        at = last.find(marker)
        if at >= 0:
            return f"exit {result.returncode}: {last[at:].decode(errors='replace')}"
    return f"exit {result.returncode}: {last[:60].decode(errors='replace')!r}"


def printed_during_evaluation(result):
    """Whether the program wrote anything between its "In:" line and the label
    or error line that ends the run."""
    if not result.stdout.startswith(harness.BANNER + b"In:   "):
        return False
    rest = result.stdout[result.stdout.index(b"\n", len(harness.BANNER)) + 1:]
    return max(rest.rfind(marker) for marker in (b"Out:  ", b"Error:")) > 0


def show(data, limit=4000):
    """Bytes as lines of text, escaped as case files write them."""
    text = "\n".join(harness.escape(line) for line in data[:limit].split(b"\n"))
    return text + (f"... ({len(data) - limit} more bytes)" if len(data) > limit else "")


def report(number, index, seed, program, reference, candidate, full, reduced):
    """Prints a mismatch: the candidate's run compared with the reference's as
    the harness compares a run with what was expected; with `full`, also the
    program, its reduced form and both outputs."""
    lines = [f"=== mismatch {number}: program {index} (again: --seed {seed} --start {index} --count 1)",
             *harness.compare(candidate, reference.stdout, reference.returncode)]
    if not full:
        print(lines[0] + ": " + "; ".join(line for line in lines[1:] if not line.startswith(" ")), flush=True)
        return
    lines += ["--- program", show(program)]
    if reduced:
        lines += ["--- reduced program (the two still differ on it)", show(reduced)]
    lines += ["--- reference output", show(reference.stdout), "--- candidate output", show(candidate.stdout)]
    print("\n".join(lines), flush=True)


def save(folder, number, program, reference, candidate, reduced):
    os.makedirs(folder, exist_ok=True)
    stem = os.path.join(folder, f"{number:06d}")
    files = {".in": program, ".reference": reference.stdout, ".candidate": candidate.stdout, ".reduced.in": reduced,
             ".txt": "\n".join(harness.compare(candidate, reference.stdout, reference.returncode)).encode() + b"\n"}
    for suffix, data in files.items():
        if data:
            with open(stem + suffix, "wb") as f:
                f.write(data)


# ---- reducing a mismatch


def parse(text):
    """The expression in `text` as nested tuples of tokens, or None when the
    text is not exactly one balanced expression."""
    stack = [[]]
    for token in re.findall(r"[().]|[^\s().]+", text):
        if token == "(":
            stack.append([])
        elif token == ")":
            if len(stack) < 2:
                return None
            done = tuple(stack.pop())
            stack[-1].append(done)
        else:
            stack[-1].append(token)
    return stack[0][0] if len(stack) == 1 and len(stack[0]) == 1 else None


def render(tree):
    return tree if isinstance(tree, str) else "(" + " ".join(render(item) for item in tree) + ")"


def smaller_trees(tree):
    """Every tree one step smaller: a list replaced by one of its elements, or
    one element left out; the larger cuts come first."""
    places = []

    def walk(node, path):
        if isinstance(node, tuple):
            places.append((render(node).count(" "), path, node))
            for i, item in enumerate(node):
                walk(item, path + (i,))
    walk(tree, ())

    def replace(node, path, new):
        if not path:
            return new
        i = path[0]
        return node[:i] + (replace(node[i], path[1:], new),) + node[i + 1:]
    for _, path, node in sorted(places, key=lambda place: -place[0]):
        for i, item in enumerate(node):
            yield replace(tree, path, item)
        for i in range(len(node)):
            yield replace(tree, path, node[:i] + node[i + 1:])


def reduce(program, reference, candidate, timeout, budget):
    """A smaller program on which the two binaries still differ (greedy: the
    first smaller tree that still differs is kept, until none does), or None
    when the program is not one expression and a line end."""
    text = program.decode("latin-1")
    tree = parse(text[:-1]) if text.endswith("\n") else None
    if tree is None or isinstance(tree, str):
        return None
    improved = True
    while improved and budget > 0:
        improved = False
        for smaller in smaller_trees(tree):
            budget -= 1
            attempt = (render(smaller) + "\n").encode("latin-1")
            if compare(run(reference, attempt, timeout), run(candidate, attempt, timeout)) == "differ":
                tree, improved = smaller, True
                break
            if budget <= 0:
                break
    return (render(tree) + "\n").encode("latin-1")


# ---- building a commit


def build_commit(commit):
    """The interpreter of `commit`, built once into build/reference-<hash>/."""
    def git(*args):
        return subprocess.run(["git", "-C", REPO, *args], check=True, stdout=subprocess.PIPE,
                              text=True).stdout.strip()

    full = git("rev-parse", "--verify", commit + "^{commit}")
    folder = os.path.join(REPO, "build", "reference-" + git("rev-parse", "--short", full))
    source, build = os.path.join(folder, "source"), os.path.join(folder, "build")
    binary = os.path.join(build, "vellumark")
    if os.access(binary, os.X_OK):
        return binary
    print(f"building {commit} ({full[:12]}) in {folder} ...", file=sys.stderr, flush=True)
    if not os.path.isdir(source):
        git("worktree", "prune")
        git("worktree", "add", "--detach", source, full)
    # Release, as shipped; without tests, which only slow the build down.
    for command in (["cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DVELLUMARK_TESTS=OFF",
                     "-DVELLUMARK_STATIC=ON"],
                    ["cmake", "--build", build, "--target", "vellumark", "-j2"]):
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if done.returncode != 0:
            sys.exit(done.stdout + f"\nbuilding {commit} failed: {' '.join(command)}")
    return binary


# ---- the check


def main():
    parser = argparse.ArgumentParser(description="Run random programs through two interpreters and compare them.",
                                     epilog="See the docstring at the top of this file for how to read the output.")
    parser.add_argument("--reference", help="the binary whose behaviour is right")
    parser.add_argument("--reference-commit", help="build this commit and use it as the reference")
    parser.add_argument("--candidate", help="the binary under test")
    parser.add_argument("--candidate-commit", help="build this commit and use it as the candidate")
    parser.add_argument("--count", type=int, default=10000, help="programs to run (default 10000)")
    parser.add_argument("--seed", default="1", help="seed of the program generator (default 1)")
    parser.add_argument("--start", type=int, default=0, help="number of the first program (default 0)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="programs run at once")
    parser.add_argument("--timeout", type=float, default=30, help="seconds one run may take (default 30)")
    parser.add_argument("--stop", action="store_true", help="stop at the first mismatch")
    parser.add_argument("--save", default=os.path.join(REPO, "build", "differential"),
                        help="folder for mismatching programs and outputs (default build/differential)")
    parser.add_argument("--show", type=int, default=5, help="mismatches shown in full (default 5)")
    parser.add_argument("--reduce", type=int, default=500, metavar="RUNS",
                        help="for each mismatch shown, try up to RUNS smaller programs to find a small one on which "
                             "the two still differ (default 500; 0: do not reduce)")
    parser.add_argument("--sample", type=int, metavar="N", help="print N generated programs and run nothing")
    args = parser.parse_args()

    if args.sample is not None:
        for index in range(args.start, args.start + args.sample):
            print(f"--- program {index}\n{show(make_program(args.seed, index))}")
        return
    reference = build_commit(args.reference_commit) if args.reference_commit else args.reference
    candidate = build_commit(args.candidate_commit) if args.candidate_commit else args.candidate
    if not reference or not candidate:
        parser.error("give a reference (--reference or --reference-commit) and a candidate")
    reference, candidate = os.path.abspath(reference), os.path.abspath(candidate)
    for binary in (reference, candidate):
        if not os.access(binary, os.X_OK):
            sys.exit(f"not an executable: {binary}")

    print(f"reference: {reference}\ncandidate: {candidate}\n"
          f"programs {args.start}..{args.start + args.count - 1} of seed {args.seed}, {args.jobs} jobs", flush=True)
    started = time.monotonic()
    outcomes, verdicts, printed = collections.Counter(), collections.Counter(), 0

    def check(index):
        program = make_program(args.seed, index)
        ref, cand = run(reference, program, args.timeout), run(candidate, program, args.timeout)
        return index, program, ref, cand, compare(ref, cand)

    def checked(pool, end=args.start + args.count):
        # In the order of the programs, so that the report and the numbering of
        # mismatches do not depend on --jobs; a thousand at a time, so that runs
        # done while a mismatch is reduced do not pile up.
        for first in range(args.start, end, 1000):
            yield from pool.map(check, range(first, min(first + 1000, end)))

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for done, (index, program, ref, cand, verdict) in enumerate(checked(pool), 1):
            verdicts[verdict] += 1
            outcomes[outcome(ref)] += 1
            printed += printed_during_evaluation(ref)
            if verdict in ("differ", "timeout"):
                number = verdicts["differ"] + verdicts["timeout"]
                reduced = None
                if number <= args.show and verdict == "differ" and args.reduce > 0:
                    reduced = reduce(program, reference, candidate, args.timeout, args.reduce)
                report(number, index, args.seed, program, ref, cand, number <= args.show, reduced)
                save(args.save, number, program, ref, cand, reduced)
                if args.stop:
                    pool.shutdown(cancel_futures=True)
                    break
            if done % 10000 == 0:
                print(f"... {done} programs, {verdicts['differ']} mismatches, {time.monotonic() - started:.0f} s",
                      file=sys.stderr, flush=True)

    done, elapsed = sum(verdicts.values()), max(time.monotonic() - started, 1e-6)
    print(f"\nprograms: {done} in {elapsed:.1f} s ({done / elapsed:.0f} a second, {args.jobs} jobs)")
    print(f"mismatches: {verdicts['differ']}")
    print(f"tolerated (reference ended at its depth or memory limit; status and error line agree): "
          f"{verdicts['tolerated']}")
    print(f"timed out on both: {verdicts['timeout']}")
    if verdicts["differ"] + verdicts["timeout"]:
        print(f"saved in: {args.save}")
    print(f"how the reference runs ended ({printed} printed something before their last line):")
    for name, count in sorted(outcomes.items(), key=lambda item: (-item[1], item[0])):
        print(f"  {count:8d}  {100.0 * count / max(done, 1):5.1f}%  {name}")
    sys.exit(1 if verdicts["differ"] else 0)


if __name__ == "__main__":
    main()
