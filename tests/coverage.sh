#!/usr/bin/env bash
# Measures line coverage of src/ by the whole test suite with gcov and gcovr,
# prints the table, and fails below the floor (95% unless given).
# Usage: tests/coverage.sh [FLOOR]
set -euo pipefail
floor=${1:-95}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
command -v gcovr >/dev/null || { echo "gcovr not found: apt-get install gcovr" >&2; exit 1; }
find build/coverage -name '*.gcda' -delete 2>/dev/null || true
# Configured afresh, so that an older tree cannot keep flags the preset no longer sets.
cmake --workflow --preset coverage --fresh
gcovr --root "$root" --filter "$root/src/" --object-directory "$root/build/coverage" \
  --print-summary --fail-under-line "$floor" --txt - 
