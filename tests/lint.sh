#!/usr/bin/env bash
# Checks formatting (clang-format) and the checked-in clang-tidy rules over
# src/, the unit tests and the library the preload test builds.
# Usage: tests/lint.sh BUILD_DIR (with compile_commands.json)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
cd "$root"
# The committed files; in a tree that is no git work tree of its own (the
# source archive of make dist), the same files found on disk: that tree holds
# only what was committed.
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ]; then
  files=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/unit/*.cpp' 'tests/preload/*.cpp' 'fuzz/*.cpp')
else
  echo "lint: $root is not a git work tree; checking the files found there"
  files=$(find src tests/unit tests/preload fuzz -name '*.cpp' -o -path 'src/*.h' | LC_ALL=C sort)
fi
clang-format --dry-run --Werror $files
# The release build's link-time optimisation adds a g++ flag that clang does
# not know; it changes nothing that clang-tidy looks at.
if ! report=$(clang-tidy -p "$build" --quiet --extra-arg=-Wno-ignored-optimization-argument \
  $(echo "$files" | grep '\.cpp$') 2>&1); then
  echo "$report" | grep -v 'warnings generated'
  exit 1
fi
echo "lint: clean"
