#!/usr/bin/env python3
"""Writes the standard input of every golden case into a folder, one file each,
as the fuzzer's starting corpus. Usage: seeds.py OUTPUT_DIR CASE_FILE..."""

import hashlib
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import golden  # noqa: E402

output = sys.argv[1]
os.makedirs(output, exist_ok=True)
written = set()
for path in sys.argv[2:]:
    for case in golden.parse(path):
        # Small inputs only: the fuzzer mutates faster and finds as much.
        if case.stdin and len(case.stdin) <= 4096 and case.stdin not in written:
            written.add(case.stdin)
            name = hashlib.sha1(case.stdin).hexdigest()[:16]
            with open(os.path.join(output, name), "wb") as f:
                f.write(case.stdin)
print(f"{len(written)} seeds")
