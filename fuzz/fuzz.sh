#!/usr/bin/env bash
# Fuzzes the whole interpreter (reader, evaluator, printer) in process with
# libFuzzer for the given number of seconds: one program per iteration, the
# interpreter put back into its starting state between (fuzz/harness.cpp).
# Two fuzzers run side by side on the same corpus: one built under
# AddressSanitizer and UndefinedBehaviorSanitizer (the fuzz preset), and one
# without sanitizers, several times faster, which still catches every crash,
# hang and difference from a fresh process. Before them, every seed runs
# under the sanitizers and is compared with a fresh process.
# Then, for a sixth of the time, the harness over the traced build
# (vellumark_trace_fuzzer, under the sanitizers) checks the trace's promise:
# its "output" events joined are what the run wrote, and its last event is
# "end" with the run's status.
# Fails on any finding; the inputs go to fuzz/findings/.
#
# Usage: fuzz/fuzz.sh [SECONDS]        (default 3600)
set -euo pipefail
seconds=${1:-3600}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
findings=$root/fuzz/findings

command -v clang++ >/dev/null || { echo "clang++ not found: apt-get install clang" >&2; exit 1; }

# Each build is configured afresh, so that a tree left by an older
# configuration cannot keep flags the preset no longer sets.
configure() {
  local dir=$1
  shift
  cmake -S "$root" --preset fuzz --fresh -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j2 >/dev/null
}
configure "$build/sanitize"
configure "$build/fast" -DVELLUMARK_SANITIZE= -DCMAKE_BUILD_TYPE=Release

rm -rf "$build/seeds" "$findings"
python3 "$root/fuzz/seeds.py" "$build/seeds" $(find "$root/tests/golden" -name '*.case' | sort)
mkdir -p "$build/corpus" "$findings"

export ASAN_OPTIONS=abort_on_error=1:symbolize=1:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
VELLUMARK_COMPARE_ALL=1 "$build/sanitize/vellumark_fuzzer" -runs=0 "$build/seeds" >"$build/seeds.log" 2>&1 ||
  { tail -40 "$build/seeds.log"; exit 1; }

fuzz() {
  local name=$1
  "$build/$name/vellumark_fuzzer" -dict="$root/fuzz/vellumark.dict" -max_len=4096 -timeout=5 -rss_limit_mb=2048 \
    -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/$name-" \
    "$build/corpus" "$build/seeds" >"$build/$name.log" 2>&1
}
fuzz sanitize &
sanitize=$!
fuzz fast &
fast=$!
status=0
wait $sanitize || status=1
wait $fast || status=1

# The trace: every seed, then fuzzing from the corpus just grown.
trace_seconds=$((seconds / 6 > 0 ? seconds / 6 : 1))
mkdir -p "$build/trace-corpus"
"$build/sanitize/vellumark_trace_fuzzer" -runs=0 "$build/seeds" >"$build/trace-seeds.log" 2>&1 ||
  { tail -40 "$build/trace-seeds.log"; status=1; }
"$build/sanitize/vellumark_trace_fuzzer" -dict="$root/fuzz/vellumark.dict" -max_len=4096 -timeout=5 \
  -rss_limit_mb=2048 -max_total_time="$trace_seconds" -print_final_stats=1 -artifact_prefix="$findings/trace-" \
  "$build/trace-corpus" "$build/corpus" "$build/seeds" >"$build/trace.log" 2>&1 || status=1

total=0
for name in sanitize fast trace; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/$name.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$build/$name.log")
  echo "-- $name: ${runs:-?} programs, ${rate:-?} a second"
  total=$((total + ${runs:-0}))
done
echo "$total programs in all"
if [ $status -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
  for name in sanitize fast trace; do grep -m1 -A30 -E "ERROR|differ|deadly|timeout" "$build/$name.log" || true; done
  echo "fuzzing found inputs that fail, in $findings"
  exit 1
fi
echo "fuzzing found nothing"
