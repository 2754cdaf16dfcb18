#!/usr/bin/env bash
# Checks the Debian package (make package) with lintian, when it is installed,
# failing on any error it reports; installs the package with apt-get as a user
# would, checks what it put in place, runs both installed programs on
# examples, and removes the package again, checking that nothing of it is
# left. Needs root, as apt-get does; CI runs it.
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

if command -v lintian >/dev/null; then
  report=$(lintian --fail-on error "$package" 2>&1) || fail "lintian reports errors:
$report"
  # Warnings and notes are shown, not its remark on running as root.
  grep -v 'running with root privileges' <<<"$report" || true
  linted="lintian: no error"
else
  linted="lintian not installed: not checked"
fi

programs=(vellumark vellumark-trace)
files=(/usr/share/doc/vellumark/copyright /usr/share/doc/vellumark/changelog.gz)
for program in "${programs[@]}"; do
  files+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
done

# A program that needs shared libraries needs them declared too, or it fails
# to start where the package installed without them (lintian only warns).
depends=$(dpkg-deb --field "$package" Depends)
if [ -z "$depends" ]; then
  contents=$(mktemp -d)
  trap 'rm -rf "$contents"' EXIT
  dpkg-deb --extract "$package" "$contents"
  for program in "${programs[@]}"; do
    needed=$(readelf --dynamic "$contents/usr/bin/$program" | grep '(NEEDED)' || true)
    [ -z "$needed" ] || fail "/usr/bin/$program needs shared libraries, and the package declares no dependency:
$needed"
  done
fi

DEBIAN_FRONTEND=noninteractive apt-get install -y "$package" >/dev/null || fail "apt-get install $package failed"
for file in "${files[@]}"; do
  dpkg -S "$file" >/dev/null 2>&1 || fail "$file is not the package's"
done
for program in "${programs[@]}"; do
  [ "$(command -v "$program")" = "/usr/bin/$program" ] ||
    fail "$program on PATH is $(command -v "$program"), not /usr/bin/$program"
  title=$(gzip -dc "/usr/share/man/man1/$program.1.gz" | grep '^\.TH ' || true)
  grep -q "^\.TH ${program^^} 1 .*\"Vellumark [0-9.]*\"" <<<"$title" ||
    fail "the manual page of $program does not name it and a version: $title"
done
report=$("$python" "$source/tests/examples.py" /usr/bin/vellumark "$source/examples/square.scm") ||
  fail "the installed interpreter on examples/square.scm:
$report"
report=$("$python" "$source/tests/trace_check.py" same /usr/bin/vellumark /usr/bin/vellumark-trace \
  "$source/examples/square.scm" "$source/examples/error.scm" 2>&1) ||
  fail "the installed vellumark-trace against the installed vellumark:
$report"
installed=$(dpkg -L vellumark)

DEBIAN_FRONTEND=noninteractive apt-get remove -y vellumark >/dev/null || fail "apt-get remove vellumark failed"
while read -r file; do
  [ -d "$file" ] || [ ! -e "$file" ] || fail "$file is still there after removing the package"
done <<<"$installed"
echo "package: $linted; installed, ran vellumark and vellumark-trace on examples, removed"
