#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a user gets there:
# an interpreter that runs examples/square.scm as recorded in square.out, and
# a manual page that groff renders without a warning (when groff is present).
# Usage: tests/install.sh BUILD_DIR SOURCE_DIR [PYTHON]
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 BUILD_DIR SOURCE_DIR [PYTHON]" >&2
  exit 2
fi
build=$1
source=$2
python=${3:-python3}

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() {
  echo "FAIL install: $*"
  echo "0 passed, 1 failed"
  exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null || fail "cmake --install $build failed"

binary=$prefix/bin/vellumark
page=$prefix/share/man/man1/vellumark.1
[ -x "$binary" ] || fail "no executable $binary"
[ -f "$page" ] || fail "no manual page $page"

# The same check as the test examples/square, on the installed binary.
if ! report=$("$python" "$source/tests/examples.py" "$binary" "$source/examples/square.scm"); then
  fail "the installed interpreter on examples/square.scm:
$report"
fi

if command -v groff >/dev/null; then
  warnings=$(groff -ww -z -man "$page" 2>&1) || fail "groff failed on the manual page: $warnings"
  [ -z "$warnings" ] || fail "groff warns about the manual page:
$warnings"
else
  echo "groff not installed: the manual page was not rendered"
fi

echo "1 passed, 0 failed"
