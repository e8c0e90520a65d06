#!/usr/bin/env bash
# Two stations walk the operator's road at the same time against one
# throw-away PostgreSQL server, each with its own simulated collector, on
# one Xvfb display; each ends on the query page with the other station's
# calibration loaded. Saves OUT/two-stations.png (the display) and
# OUT/two-stations-A.png, -B.png (each main window).
#   scripts/two-stations.sh [OUT]   (default: screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
OUT=$(realpath -m "${1:-screenshots}")
mkdir -p "$OUT"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build -j"$(nproc)" --target roadwalk orven_templates > /dev/null

work=$(mktemp -d /tmp/orven-two-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash scripts/pg-cluster.sh stop "$work/pg" || true
  rm -rf "$work"
}
trap cleanup EXIT
url=$(bash scripts/pg-cluster.sh start "$work/pg")

export DISPLAY=${ORVEN_DISPLAY:-:93}
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
pids+=($!)
sleep 1

walk() { # station serial equipment shot x y
  XDG_DATA_HOME="$work/$1/data" XDG_CONFIG_HOME="$work/$1/config" ORVEN_STATION="$1" \
    ORVEN_TEMPLATES="$ROOT/build/app" build/tests/roadwalk "$url" "$2" "$3" 2 "$4" "$5" "$6"
}
walk 一号工作站 ORV7020001 "恒温恒湿箱 A-01" "$OUT/two-stations-A.png" 0 0 > "$work/A.log" 2>&1 &
a=$!
sleep 3
walk 二号工作站 ORV7020002 "高低温箱 B-07" "$OUT/two-stations-B.png" 720 370 > "$work/B.log" 2>&1 &
b=$!
# Both on the query page (each leaves its window up a few seconds).
for _ in $(seq 120); do
  grep -q "calibrations on the server" "$work/A.log" && grep -q "calibrations on the server" "$work/B.log" && break
  sleep 1
done
sleep 1
import -window root "$OUT/two-stations.png"
status=0
wait "$a" || status=1
wait "$b" || status=1
cat "$work/A.log" "$work/B.log"
echo "screenshots: $OUT/two-stations.png, two-stations-A.png, two-stations-B.png"
exit $status
