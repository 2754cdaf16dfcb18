#!/usr/bin/env python3
"""Checks the harness's own failure output. golden.py runs on
selftest/NAME.case, which is wrong on purpose, and must print exactly
selftest/NAME.out and end with the status in selftest/NAME.status: a mismatch
shows the first differing byte, a malformed file gives one line that names
the file and line, not a traceback.

Usage: selftest.py INTERPRETER NAME
"""

import os
import pathlib
import sys

import harness
from examples import expected_status

HERE = pathlib.Path(__file__).resolve().parent
TIMEOUT_SECONDS = 60


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    interpreter, name = os.path.abspath(sys.argv[1]), sys.argv[2]

    def checks():
        # Run from tests/ with a relative path, so that the names in the
        # output do not depend on where the source tree lies.
        case = pathlib.Path("selftest", name + ".case")
        expected, status = (HERE / case).with_suffix(".out").read_bytes(), expected_status(HERE / case)
        command = [sys.executable, "golden.py", interpreter, str(case)]
        return [harness.report(str(case), harness.check(command, b"", expected, status, TIMEOUT_SECONDS,
                                                        cwd=HERE)[0])]

    harness.main(checks)


if __name__ == "__main__":
    main()
