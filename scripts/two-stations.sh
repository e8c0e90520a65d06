#!/usr/bin/env bash
# Two stations walk the operator's road at the same time against one
# throw-away PostgreSQL server, each with its own simulated collector, on
# one Xvfb display; each ends on the query page with the other station's
# calibration loaded. Saves OUT/two-stations.png (the display) and
# OUT/two-stations-A.png, -B.png (each main window).
# With --outage the stations record longer, and while both record the
# server is frozen for 12 s, then stopped and started again; the script
# then checks that every reading is stored once, in the calibration it
# belongs to, that no point has a hole of more than 3 s, and that neither window stood still more than 200 ms while
# the server was away (or for 3 s after it came back).
#   scripts/two-stations.sh [--outage] [OUT]   (default: screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
outage=0
if [ "${1:-}" = --outage ]; then outage=1; shift; fi
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
ask() { psql -X -At "$url" -c "$1"; }
export ORVEN_OUTAGE_FLAG="$work/outage"
if [ $outage = 1 ]; then export ORVEN_ROAD_ROWS=40; fi

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
if [ $outage = 1 ]; then
  # Both stations record; then the outages, each marked for the stations'
  # stall meters, a few seconds past its end included.
  for _ in $(seq 180); do
    [ "$(ask "select count(distinct station) from orven.data" 2>/dev/null)" = 2 ] && break
    sleep 1
  done
  outage() { # what, command, seconds, command
    echo "$1"
    touch "$work/outage"
    bash scripts/pg-cluster.sh "$2" "$work/pg"
    sleep "$3"
    bash scripts/pg-cluster.sh "$4" "$work/pg"
    sleep 3
    rm -f "$work/outage"
  }
  outage "both stations record: the server is frozen for 12 s" freeze 12 thaw
  sleep 5
  outage "the server stops and starts again" halt 4 resume
fi
# Both on the query page (each leaves its window up a few seconds).
for _ in $(seq 300); do
  grep -q "calibrations on the server" "$work/A.log" && grep -q "calibrations on the server" "$work/B.log" && break
  sleep 1
done
sleep 1
import -window root "$OUT/two-stations.png"
status=0
wait "$a" || status=1
wait "$b" || status=1
cat "$work/A.log" "$work/B.log"
if [ $outage = 1 ]; then
  twice=$(ask "select count(*) from (select 1 from orven.data group by station, coltime, colname, coldata having count(*) > 1) d")
  astray=$(ask "select count(*) from orven.data d where not exists (select 1 from orven.datamark m where m.run = d.run)")
  miscounted=$(ask "select count(*) from orven.datamark m where m.samplenum::int <> (select count(*) from orven.data d where d.run = m.run)")
  # Readings every second through the outages: no hole in any point.
  gap=$(ask "select coalesce(max(extract(epoch from t - p)), 0)::int from (select coltime::timestamp t, lag(coltime::timestamp) over (partition by station, run, jdnum order by coltime) p from orven.data) g")
  echo "readings: $(ask "select count(*) from orven.data"); stored twice: $twice; in no calibration: $astray; calibrations whose count differs: $miscounted; longest gap in a point: $gap s"
  [ "$gap" -le 3 ] || status=1
  if [ "$twice" != 0 ]; then
    ask "select d.station, d.coltime, d.colname, d.coldata, d.run, d.spoolkey from orven.data d join (select station, coltime, colname, coldata from orven.data group by 1, 2, 3, 4 having count(*) > 1) t using (station, coltime, colname, coldata) order by 1, 2"
  fi
  [ "$twice" = 0 ] && [ "$astray" = 0 ] && [ "$miscounted" = 0 ] || status=1
  for log in "$work/A.log" "$work/B.log"; do
    away=$(sed -n 's/.*while the server was away: \([0-9]*\) ms.*/\1/p' "$log")
    if [ -z "$away" ] || [ "$away" -gt 200 ]; then
      echo "a window stood still ${away:-?} ms while the server was away"
      status=1
    fi
  done
fi
echo "screenshots: $OUT/two-stations.png, two-stations-A.png, two-stations-B.png"
exit $status
