#!/usr/bin/env bash
# Installs the Debian package (make package) with apt-get as a user would,
# checks what it put in place, runs the installed interpreter on an example,
# and removes the package again, checking that nothing of it is left. Needs
# root, as apt-get does; CI runs it.
# Usage: tests/package.sh PACKAGE.deb [PYTHON]
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 PACKAGE.deb [PYTHON]" >&2
  exit 2
fi
package=$(realpath "$1")
python=${2:-python3}
source=$(cd "$(dirname "$0")/.." && pwd)

fail() {
  echo "FAIL package: $*"
  exit 1
}

DEBIAN_FRONTEND=noninteractive apt-get install -y "$package" >/dev/null || fail "apt-get install $package failed"
for file in /usr/bin/vellumark /usr/share/man/man1/vellumark.1; do
  dpkg -S "$file" >/dev/null 2>&1 || fail "$file is not the package's"
done
[ "$(command -v vellumark)" = /usr/bin/vellumark ] || fail "vellumark on PATH is $(command -v vellumark), not /usr/bin/vellumark"
report=$("$python" "$source/tests/examples.py" /usr/bin/vellumark "$source/examples/square.scm") ||
  fail "the installed interpreter on examples/square.scm:
$report"
grep -q '^\.TH VELLUMARK 1 .*"Vellumark [0-9.]*"' /usr/share/man/man1/vellumark.1 || fail "the manual page names no version"

DEBIAN_FRONTEND=noninteractive apt-get remove -y vellumark >/dev/null || fail "apt-get remove vellumark failed"
for file in /usr/bin/vellumark /usr/share/man/man1/vellumark.1; do
  [ ! -e "$file" ] || fail "$file is still there after removing the package"
done
echo "package: installed, ran examples/square.scm, removed"
