#!/usr/bin/env bash
# Checks what make dist wrote: the sums, and that each binary archive holds
# both programs (statically linked, as README.md says), both manual pages and
# the README, and nothing else; the Linux programs are run on examples, the
# trace against the interpreter. The source archive must hold what builds
# the package (the manual pages, the copyright file, the changelog).
# Usage: tests/dist.sh DIST_DIR VERSION [PYTHON]
set -euo pipefail
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 DIST_DIR VERSION [PYTHON]" >&2
  exit 2
fi
dist=$(realpath "$1")
version=$2
python=${3:-python3}
source=$(cd "$(dirname "$0")/.." && pwd)

fail() {
  echo "FAIL dist: $*"
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the archives"

# Each archive's names, one a line, folders left out, sorted.
linux=vellumark-$version-linux-x86_64
windows=vellumark-$version-windows-x86_64
tar -tzf "$dist/$linux.tar.gz" | grep -v '/$' | LC_ALL=C sort >"$work/linux" || fail "$linux.tar.gz does not list"
"$python" - "$dist/$windows.zip" >"$work/windows" <<'PY' || fail "$windows.zip does not list"
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as archive:
    print("\n".join(sorted(name for name in archive.namelist() if not name.endswith("/"))))
PY
expect() {
  local folder=$1 suffix=$2
  printf '%s\n' "$folder/README.md" "$folder/vellumark$suffix" "$folder/vellumark-trace$suffix" \
    "$folder/vellumark-trace.1" "$folder/vellumark.1" | LC_ALL=C sort
}
diff -u <(expect "$linux" "") "$work/linux" || fail "$linux.tar.gz holds other files than these"
diff -u <(expect "$windows" .exe) "$work/windows" || fail "$windows.zip holds other files than these"

tar -xzf "$dist/$linux.tar.gz" -C "$work"
for program in vellumark vellumark-trace; do
  needed=$(readelf --dynamic "$work/$linux/$program" | grep '(NEEDED)' || true)
  [ -z "$needed" ] || fail "$program in $linux.tar.gz is not statically linked:
$needed"
done
report=$("$python" "$source/tests/examples.py" "$work/$linux/vellumark" "$source/examples/square.scm") ||
  fail "vellumark of $linux.tar.gz on examples/square.scm:
$report"
report=$("$python" "$source/tests/trace_check.py" same "$work/$linux/vellumark" "$work/$linux/vellumark-trace" \
  "$source/examples/square.scm" "$source/examples/error.scm" 2>&1) ||
  fail "vellumark-trace of $linux.tar.gz against its vellumark:
$report"

tar -tzf "$dist/vellumark-$version.tar.gz" >"$work/source" || fail "vellumark-$version.tar.gz does not list"
for file in CMakeLists.txt doc/vellumark.1 doc/vellumark-trace.1 packaging/copyright packaging/changelog \
  packaging/lintian-overrides; do
  grep -qx "vellumark-$version/$file" "$work/source" || fail "vellumark-$version.tar.gz has no $file"
done
echo "dist: sums match; both archives hold both programs, their manual pages and the README"
