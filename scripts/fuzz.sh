#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs each one
# for SECONDS (default 60) over a working copy of its seed corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# Environment: KGL_FUZZ_JOBS (targets run side by side, default 1), KGL_FUZZ_BUILD_DIR,
# KGL_FUZZ_REPEATABLE (fixed seed and run counts instead of time: what scripts/test.sh uses).
# A crash, a leak, a hang (over 10 s for one input) or an input that needs more than
# 2 GB is a finding: it is kept in tests/fuzz/findings/<target>/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${1:-60}
shift || true
all_targets=(obj kgm roundtrip import binary bmp tga jpeg)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
jobs=${KGL_FUZZ_JOBS:-1}

build=${KGL_FUZZ_BUILD_DIR:-$root/build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKGL_BUILD_FUZZ=ON -DKGL_BUILD_APP=OFF -DKGL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target $(printf 'fuzz_%s ' "${targets[@]}")

findings=$root/tests/fuzz/findings
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
unset LSAN_OPTIONS

# Runs of each target for about 10 s on a quiet development machine (KGL_FUZZ_REPEATABLE).
declare -A repeatable_runs=([obj]=20000 [roundtrip]=18000 [kgm]=16000 [import]=40000 [binary]=40000 [bmp]=2000000 [tga]=1600000 [jpeg]=3000)

run_one() {
  local t=$1
  local seeds=$root/tests/fuzz/corpus/$t
  local work=$build/corpus/$t
  local dict=$root/tests/fuzz/$t.dict
  [ "$t" = roundtrip ] && dict=$root/tests/fuzz/obj.dict
  mkdir -p "$work" "$findings/$t"
  local limit=(-max_total_time="$seconds")
  if [ -n "${KGL_FUZZ_REPEATABLE:-}" ]; then
    # A fixed seed and a fixed number of runs: the same inputs on every machine, so a
    # test run cannot fail on luck; the time limit only bounds a slow machine.
    limit=(-seed=1 -runs="${repeatable_runs[$t]}" -max_total_time=$((seconds * 6)))
  fi
  local args=("${limit[@]}" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024
              -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/$t/")
  [ -f "$dict" ] && args+=(-dict="$dict")
  local log=$build/fuzz_$t.log
  local start=$SECONDS
  # Inputs that once broke a reader are seeds too, so every run replays them first.
  local dirs=("$work" "$seeds")
  [ -d "$root/tests/fuzz/regressions/$t" ] && dirs+=("$root/tests/fuzz/regressions/$t")
  if "$build/tests/fuzz/fuzz_$t" "${args[@]}" "${dirs[@]}" >"$log" 2>&1; then
    echo "fuzz_$t: $((SECONDS - start)) s, $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, no finding"
  else
    echo "fuzz_$t: FINDING after $((SECONDS - start)) s (log $log, input in $findings/$t/)"
    grep -E 'ERROR|SUMMARY|reader promise broken|out-of-memory|timeout' "$log" | head -5
    return 1
  fi
}

for t in "${targets[@]}"; do
  rm -f "$build/fuzz_$t.status"
  ( if run_one "$t"; then r=ok; else r=finding; fi; echo $r >"$build/fuzz_$t.status" ) &
  # Keep at most $jobs runs going.
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
done
wait
status=0
for t in "${targets[@]}"; do
  [ "$(cat "$build/fuzz_$t.status" 2>/dev/null)" = ok ] || status=1
done
exit $status
