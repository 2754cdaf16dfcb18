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

AFL_USE_ASAN=1 AFL_USE_UBSAN=1 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=afl-clang-fast++ -DVELLUMARK_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="-DVELLUMARK_WORK_LIMIT=2000000 -DVELLUMARK_STACK_MIB=64 -fsanitize=address,undefined -fno-sanitize-recover=all" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
AFL_USE_ASAN=1 AFL_USE_UBSAN=1 cmake --build "$build" -j2 >/dev/null

rm -rf "$build/seeds"
python3 "$root/fuzz/seeds.py" "$build/seeds" $(find "$root/tests/golden" -name '*.case' | sort)
rm -rf "$findings"

export AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_SKIP_CRASHES=1
export AFL_NO_AFFINITY=1 AFL_QUIET=1
export ASAN_OPTIONS=abort_on_error=1:symbolize=0:detect_leaks=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:symbolize=0
afl-fuzz -i "$build/seeds" -o "$findings" -x "$root/fuzz/vellumark.dict" -m none -t 5000 \
  -V "$seconds" -- "$build/vellumark" >"$build/afl.log" 2>&1 || { tail -30 "$build/afl.log"; exit 1; }

stats=$findings/default/fuzzer_stats
grep -E '^(run_time|execs_done|execs_per_sec|corpus_count|bitmap_cvg|saved_crashes|saved_hangs|unique_crashes|unique_hangs) ' "$stats" || true
found=$(find "$findings/default/crashes" "$findings/default/hangs" -type f ! -name README.txt | wc -l)
if [ "$found" -ne 0 ]; then
  echo "fuzzing found $found crashing or hanging inputs in $findings/default/{crashes,hangs}"
  exit 1
fi
echo "fuzzing found no crash and no hang"
