#!/usr/bin/env bash
# Runs the Windows build (make windows) under Wine on what the suite has for a
# program seen from outside: every golden case, every example, and from the
# large inputs the million nested calls, a million levels of nesting and the
# recursion without end. Left out: the golden cases that set an address-space
# limit (limits/address-space.case, limits/start-up-memory.case), since Wine
# itself cannot start under one.
# The harness compares every byte, so a carriage return that Windows' text
# mode would add or take away fails here.
#
# Wine keeps its state in a prefix, made here in a temporary folder that root
# owns (Wine refuses a prefix another user owns) and removed at the end, with
# the one Wine server started for all the runs.
# Usage: tests/wine.sh VELLUMARK_EXE [PYTHON]
set -euo pipefail
if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 VELLUMARK_EXE [PYTHON]" >&2
  exit 2
fi
exe=$(realpath "$1")
python=${2:-python3}
tests=$(cd "$(dirname "$0")" && pwd)
source=$(dirname "$tests")

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
# No Mono and no Gecko: the interpreter needs neither, and their installers
# would ask on a screen there is none of.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

# The harness starts one executable per run: this one starts the .exe in Wine.
cat >"$work/vellumark" <<EOF
#!/bin/sh
exec wine "$exe" "\$@"
EOF
chmod +x "$work/vellumark"

# One server for every run, instead of one started and stopped with each;
# then the prefix is made (the first start takes seconds).
mkdir "$WINEPREFIX"
wineserver -p
wineboot --init >/dev/null 2>&1
echo "$(wine --version) running $exe"

failed=0
mapfile -t cases < <(find "$tests/golden" -name '*.case' ! -name address-space.case ! -name start-up-memory.case | sort)
"$python" "$tests/golden.py" "$work/vellumark" "${cases[@]}" | tail -n 40 || failed=1
examples=0
for example in "$source"/examples/*.scm; do
  if ! report=$("$python" "$tests/examples.py" "$work/vellumark" "$example"); then
    echo "$report"
    failed=1
  fi
  examples=$((examples + 1))
done
echo "examples: $examples run"
for large in a_million_nested_calls nesting_a_million_deep recursion_without_end; do
  "$python" "$tests/large.py" "$work/vellumark" "$large" | sed "s/^/$large: /" || failed=1
done
if [ $failed -ne 0 ]; then
  echo "FAIL: the Windows build under Wine"
  exit 1
fi
echo "the Windows build under Wine: all passed"
