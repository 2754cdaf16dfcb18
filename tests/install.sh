#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what a user gets there:
# an interpreter that runs examples/square.scm as recorded in square.out, a
# vellumark-trace whose output events are that same output, a manual page for
# each that groff renders without a warning (when groff is present), and the
# copyright file and changelog beside the README.
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

for program in vellumark vellumark-trace; do
  [ -x "$prefix/bin/$program" ] || fail "no executable $prefix/bin/$program"
done
docs=$prefix/share/doc/vellumark
[ -f "$docs/copyright" ] || fail "no copyright file in $docs"
ls "$docs"/changelog* >/dev/null 2>&1 || fail "no changelog in $docs"
# Nothing that only the Debian package wants.
[ ! -e "$prefix/share/lintian" ] || fail "the lintian override was installed outside the package"

# The same check as the test examples/square, on the installed binary; then
# the installed trace against it.
if ! report=$("$python" "$source/tests/examples.py" "$prefix/bin/vellumark" "$source/examples/square.scm"); then
  fail "the installed interpreter on examples/square.scm:
$report"
fi
if ! report=$("$python" "$source/tests/trace_check.py" same "$prefix/bin/vellumark" "$prefix/bin/vellumark-trace" \
  "$source/examples/square.scm" "$source/examples/error.scm" 2>&1); then
  fail "the installed vellumark-trace against the installed vellumark:
$report"
fi

# Manual pages are compressed where gzip was found at build time.
rendered=0
for program in vellumark vellumark-trace; do
  page=$prefix/share/man/man1/$program.1
  if [ -f "$page.gz" ]; then
    text=$(gzip -dc "$page.gz") || fail "$page.gz does not decompress"
  elif [ -f "$page" ]; then
    text=$(cat "$page")
  else
    fail "no manual page $page(.gz)"
  fi
  grep -q "^\.TH ${program^^} 1 " <<<"$text" || fail "$page is not the page of $program"
  if command -v groff >/dev/null; then
    warnings=$(groff -ww -z -man <<<"$text" 2>&1) || fail "groff failed on $page: $warnings"
    [ -z "$warnings" ] || fail "groff warns about $page:
$warnings"
    rendered=$((rendered + 1))
  fi
done
[ $rendered -gt 0 ] || echo "groff not installed: the manual pages were not rendered"

echo "1 passed, 0 failed"
