#!/usr/bin/env bash
# Runs the Linux build's test programs under valgrind memcheck: any memory error or leak
# fails. The programs the tests start (the simulators) run without valgrind. The 60-day
# soak is left to the sanitizer build: under valgrind it would take many minutes. The test of
# kelvor.exe's operator new is left out: valgrind puts its own in its place.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/linux
[[ -d $build ]] || { echo "build the linux preset first" >&2; exit 1; }

programs=$(find "$build/tests" -maxdepth 3 -type f -executable \
  \( -name 'kelvor_*test*' -o -name 'fuzz_*' \) \
  ! -name kelvor_soak_test ! -name kelvor_operator_new_test | sort)
logs=$build/memcheck
mkdir -p "$logs"

run_one() {
  local program=$1 name args=()
  name=$(basename "$program")
  # A replay program replays its corpus.
  [[ $name == fuzz_* ]] && args=("tests/fuzz/corpus/${name#fuzz_}")
  if valgrind --tool=memcheck --error-exitcode=1 --leak-check=full \
      --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
      --log-file="$logs/$name.log" "$program" "${args[@]}" >"$logs/$name.out" 2>&1; then
    echo "memcheck $name: $(grep -o 'ERROR SUMMARY: [0-9]* errors' "$logs/$name.log")"
  else
    echo "memcheck $name: FAILED (see $logs/$name.log)"
    grep -E 'ERROR SUMMARY|definitely|indirectly|possibly|FAILED' "$logs/$name.log" "$logs/$name.out" | head -10
    return 1
  fi
}
export -f run_one
export logs
printf '%s\n' $programs | xargs -P 2 -I{} bash -c 'run_one {}'
