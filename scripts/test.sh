#!/usr/bin/env bash
# Builds the workstation and runs every test.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UBSan build in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

BUILD=build
FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  BUILD=build-asan
  # The server runs of the database suites are left to the normal build.
  FLAGS=(-DCMAKE_BUILD_TYPE=Debug -DORVEN_SANITIZE=ON -DORVEN_BUILD_BENCH=OFF -DORVEN_TEST_SERVER=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:fast_unwind_on_malloc=0"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

cmake -S . -B "$BUILD" "${FLAGS[@]}"
cmake --build "$BUILD" -j"$(nproc)"
cd "$BUILD"
ctest --output-on-failure -j2
