#!/usr/bin/env bash
# Builds the workstation and runs every test.
#   scripts/test.sh                    Qt 5 build in build/
#   scripts/test.sh --sanitize         AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --qt6              Qt 6 build in build-qt6/
#   scripts/test.sh --qt6 --sanitize   both, in build-qt6-asan/ (what CI runs beside the Qt 5 build)
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=0
qt6=0
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    --qt6) qt6=1 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

ORVEN_WITH_QT6=$qt6 bash scripts/install-deps.sh

BUILD=build
FLAGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ $qt6 = 1 ]; then
  BUILD=build-qt6
  FLAGS+=(-DORVEN_QT=6)
fi
if [ $sanitize = 1 ]; then
  BUILD=$BUILD-asan
  # The server runs of the database suites are left to the normal build.
  FLAGS+=(-DCMAKE_BUILD_TYPE=Debug -DORVEN_SANITIZE=ON -DORVEN_BUILD_BENCH=OFF -DORVEN_TEST_SERVER=OFF)
  export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:fast_unwind_on_malloc=0"
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi

cmake -S . -B "$BUILD" "${FLAGS[@]}"
cmake --build "$BUILD" -j"$(nproc)"
cd "$BUILD"
# Most suites wait on serial lines, timers, a server and child programs,
# asleep: four at once per core (two under the sanitizers, which make the
# work itself three times as long).
per_core=4
[ $sanitize = 1 ] && per_core=2
ctest --output-on-failure -j"$(( $(nproc) * per_core ))"
