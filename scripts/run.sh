#!/usr/bin/env bash
# Builds and starts the workstation next to a simulated M702 collector.
# Without a display it runs under Xvfb, saves a screenshot of the main window
# to screenshots/main-window.png and stops (set ORVEN_KEEP_RUNNING=1 to keep it).
# ORVEN_VNC=1 (with ORVEN_KEEP_RUNNING=1) also serves that display over VNC on
# port 5900, so the workstation can be watched and driven from a VNC viewer.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target Orven_KV4100 orven-sim orven-report orven_templates

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# The simulated collector appears in every port list as /tmp/orven-m702. It
# behaves like a chamber: it follows the run in the workstation's database
# (read only) and its channels settle to the set values of the point being
# run, a few tenths apart, moving by a few hundredths. It answers the
# measurement request with function 06, as the collectors' reply layout has it,
# and echoes its correction and coefficient writes whole.
# ORVEN_SIM_ARGS adds options (e.g. "--write-replies counted").
SIM_LINK=${ORVEN_SIM_LINK:-/tmp/orven-m702}
DB=${ORVEN_DB:-$ROOT/build/app/ORVDB.db3}
build/sim/orven-sim --model M702 --serial ORV7020001 --link "$SIM_LINK" \
  --humidity-channels 103,104 --chamber "$DB" --reading-function 06 \
  --write-replies echo ${ORVEN_SIM_ARGS:-} 2> build/orven-sim.log > build/orven-sim.port &
pids+=($!)
for _ in $(seq 50); do [ -s build/orven-sim.port ] && break; sleep 0.1; done
echo "simulated M702 on $(cat build/orven-sim.port)"
export ORVEN_EXTRA_PORTS="$SIM_LINK${ORVEN_EXTRA_PORTS:+:$ORVEN_EXTRA_PORTS}"

if [ -n "${DISPLAY:-}" ]; then
  build/app/Orven_KV4100
  exit $?
fi

export DISPLAY=:97
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp > build/xvfb.log 2>&1 &
pids+=($!)
sleep 1
build/app/Orven_KV4100 &
app=$!
pids+=($app)
sleep 6 # splash for three seconds, then the main window
mkdir -p "$ROOT/screenshots"
import -window root "$ROOT/screenshots/main-window.png"
echo "screenshot: $ROOT/screenshots/main-window.png"
if [ "${ORVEN_KEEP_RUNNING:-0}" = "1" ]; then
  if [ "${ORVEN_VNC:-0}" = "1" ]; then
    if ! command -v x11vnc > /dev/null; then
      SUDO=""
      [ "$(id -u)" -ne 0 ] && SUDO="sudo"
      $SUDO apt-get install -y -qq --no-install-recommends x11vnc
    fi
    x11vnc -display "$DISPLAY" -forever -shared -nopw -rfbport 5900 -quiet > build/x11vnc.log 2>&1 &
    pids+=($!)
    echo "VNC: connect a viewer to $(hostname -I | cut -d' ' -f1):5900 (no password; keep it on a trusted network)"
  fi
  echo "workstation running on $DISPLAY; Ctrl-C stops it"
  wait "$app"
fi
