#!/usr/bin/env bash
# Builds the fuzz targets (preset `fuzz`: clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer), replays their corpora, then runs each target for a bounded
# time, two at a time. New inputs go to build/fuzz/corpus/<target>; a crash leaves its
# input in build/fuzz/crashes/ and fails the run: copy it into tests/fuzz/corpus/<target>/
# once the fault is fixed, so every build replays it.
#   FUZZ_SECONDS  seconds per target (default 30)
#   FUZZ_JOBS     targets run at once (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2
ctest --preset fuzz

bin=build/fuzz/tests/fuzz
crashes=build/fuzz/crashes
mkdir -p "$crashes"
targets=$(cd tests/fuzz && ls fuzz_*.cpp | sed 's/^fuzz_//; s/\.cpp$//')

run_one() {
  local target=$1 work=build/fuzz/corpus/$1 dict=()
  mkdir -p "$work"
  [[ -f tests/fuzz/$target.dict ]] && dict=(-dict="tests/fuzz/$target.dict")
  if "$bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$crashes/$target-" "${dict[@]}" \
      "$work" "tests/fuzz/corpus/$target" >"build/fuzz/$target.log" 2>&1; then
    echo "fuzz $target: $(grep -E '^stat::number_of_executed_units' "build/fuzz/$target.log" |
      awk '{print $2}') runs in ${seconds}s, no failure"
  else
    echo "fuzz $target: FAILED"
    grep -E 'invariant broken|ERROR: |SUMMARY' "build/fuzz/$target.log" | head -5
    return 1
  fi
}
export -f run_one
export bin crashes seconds
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}'
