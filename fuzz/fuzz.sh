#!/usr/bin/env bash
# Fuzzes the whole interpreter (reader, evaluator, printer) with AFL++ for the
# given number of seconds, under AddressSanitizer and UndefinedBehaviorSanitizer.
# The real program runs for every input, exits and all, so nothing about it is
# special-cased except a cap on the work of one run (see src/budget.h).
# Fails when the fuzzer saved any crash or hang; these go to fuzz/findings/.
#
# Usage: fuzz/fuzz.sh [SECONDS]        (default 3600)
set -euo pipefail
seconds=${1:-3600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
findings=$root/fuzz/findings

command -v afl-fuzz >/dev/null || { echo "afl-fuzz not found: apt-get install afl++" >&2; exit 1; }

# Two instances share the findings: the main one, built by the fuzz preset
# under both sanitizers, and a second, several times faster, under
# UndefinedBehaviorSanitizer alone, which still catches every crash as a signal.
# Each is configured afresh, so that a tree left by an older configuration
# cannot keep flags the preset no longer sets.
configure() {
  local dir=$1
  shift
  cmake -S "$root" --preset fuzz --fresh -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j2 >/dev/null
}
export AFL_QUIET=1
configure "$build/main"
configure "$build/fast" -DVELLUMARK_SANITIZE=undefined

rm -rf "$build/seeds"
python3 "$root/fuzz/seeds.py" "$build/seeds" $(find "$root/tests/golden" -name '*.case' | sort)
rm -rf "$findings"

export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_SKIP_CRASHES=1 AFL_NO_AFFINITY=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:symbolize=0
fuzz() {
  local role=$1 name=$2
  afl-fuzz "$role" "$name" -i "$build/seeds" -o "$findings" -x "$root/fuzz/vellumark.dict" -m none -t 5000 \
    -V "$seconds" -- "$build/$name/vellumark" >"$build/afl-$name.log" 2>&1
}
fuzz -M main &
main=$!
fuzz -S fast &
fast=$!
status=0
wait $main || { tail -20 "$build/afl-main.log"; status=1; }
wait $fast || { tail -20 "$build/afl-fast.log"; status=1; }
[ $status -eq 0 ] || exit 1

found=0
for instance in main fast; do
  echo "-- $instance"
  grep -E '^(run_time|execs_done|execs_per_sec|corpus_count|bitmap_cvg|saved_crashes|saved_hangs) ' \
    "$findings/$instance/fuzzer_stats" || true
  found=$((found + $(find "$findings/$instance/crashes" "$findings/$instance/hangs" -type f ! -name README.txt | wc -l)))
done
if [ "$found" -ne 0 ]; then
  echo "fuzzing found $found crashing or hanging inputs in $findings/*/{crashes,hangs}"
  exit 1
fi
echo "fuzzing found no crash and no hang"
