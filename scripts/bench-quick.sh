#!/usr/bin/env bash
# Runs every benchmark once in its quick form (less data, the same
# measurements). Fails when a benchmark cannot measure, never on its timing.
#   scripts/bench-quick.sh [BUILD]     (default build/)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
export QT_QPA_PLATFORM=offscreen ORVEN_BENCH_QUICK=1 ORVEN_EXTRA_PORTS= ORVEN_DB=
export ORVEN_TEMPLATES="$PWD/$BUILD/app"
failed=()
ran=0
for bench in "$BUILD"/bench/bench_*; do
  [ -x "$bench" ] && [ -f "$bench" ] || continue
  name=$(basename "$bench")
  ran=$((ran + 1))
  start=$(date +%s)
  if timeout 600 "$bench" --quick; then
    echo "$name: measured in $(( $(date +%s) - start )) s"
  else
    echo "$name: FAILED to measure (exit $?)"
    failed+=("$name")
  fi
done
if [ "$ran" -eq 0 ]; then
  echo "no benchmark built in $BUILD/bench"
  exit 1
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "benchmarks that could not measure: ${failed[*]}"
  exit 1
fi
echo "all $ran benchmarks measured"
