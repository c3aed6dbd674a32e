#!/usr/bin/env bash
# The evidence of robustness, as CI runs it after the ordinary tests:
#   1. every test under AddressSanitizer and UndefinedBehaviorSanitizer (preset asan);
#   2. the Linux build's test programs under valgrind memcheck (tools/memcheck.sh);
#   3. each fuzz target over its corpus, then for FUZZ_SECONDS (default 30) (tools/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

echo "-- tests under ASan and UBSan"
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
ctest --preset asan -j2 -LE e2e
ctest --preset asan -j"${E2E_JOBS:-6}" -L e2e

echo "-- tests under valgrind memcheck"
bash tools/memcheck.sh

echo "-- fuzzing"
bash tools/fuzz.sh
