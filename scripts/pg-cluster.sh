#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests: initdb in a temporary
# folder, run as an unprivileged user, listening only on a Unix socket in
# that folder (no TCP port).
#   scripts/pg-cluster.sh start DIR     prints the server URL to use
#   scripts/pg-cluster.sh restart DIR   stops one left there first
#   scripts/pg-cluster.sh halt DIR      the server goes away (a crash)
#   scripts/pg-cluster.sh resume DIR    and comes back
#   scripts/pg-cluster.sh freeze DIR    the server hangs (stopped, its sockets open)
#   scripts/pg-cluster.sh thaw DIR      and goes on
#   scripts/pg-cluster.sh stop DIR
#   scripts/pg-cluster.sh sweep         thaws and stops every test's own cluster
#                                       (/tmp/orven-pg-own-NAME-PID) whose test
#                                       process is gone (killed, timed out)
set -euo pipefail
cmd="${1:?start or stop}"
if [ "$cmd" = sweep ]; then
  for own in /tmp/orven-pg-own-*-*; do
    [ -d "$own" ] || continue
    pid="${own##*-}"
    case "$pid" in ''|*[!0-9]*) continue ;; esac
    kill -0 "$pid" 2>/dev/null && continue
    "$0" thaw "$own" || true
    "$0" stop "$own" || true
    echo "swept $own"
  done
  exit 0
fi
dir="${2:?folder}"
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)"
[ -x "$bin/initdb" ] || { echo "PostgreSQL server not installed" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}
owner=$(if [ "$(id -u)" -eq 0 ]; then echo postgres; else id -un; fi)

case "$cmd" in
  restart|start)
    if [ "$cmd" = restart ]; then "$0" stop "$dir"; fi
    # Interrupted half way (a time-out, a failed step): nothing is left running.
    trap '"$0" stop "$dir"' INT TERM
    trap '[ $? -eq 0 ] || "$0" stop "$dir"' EXIT
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
    chmod 700 "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U "$owner" --auth=trust -E UTF8 --locale=C.UTF-8 \
      >"$dir/initdb.log" 2>&1
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=200" start \
      >"$dir/pg_ctl.log" 2>&1
    # Test processes run as root but connect as the cluster's owner.
    chmod 755 "$dir"
    trap - INT TERM EXIT
    echo "postgresql://$owner@/postgres?host=$dir"
    ;;
  halt)
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1
    ;;
  resume)
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=200" start \
      >"$dir/pg_ctl.log" 2>&1
    ;;
  freeze|thaw)
    signal=$([ "$cmd" = freeze ] && echo STOP || echo CONT)
    # Nothing to let go on when no server runs there.
    [ "$cmd" = thaw ] && [ ! -f "$dir/data/postmaster.pid" ] && exit 0
    pid=$(head -1 "$dir/data/postmaster.pid")
    pkill -"$signal" -P "$pid" || true
    kill -"$signal" "$pid"
    ;;
  stop)
    # A frozen server does not stop: it goes on first.
    if [ -f "$dir/data/postmaster.pid" ]; then
      pid=$(head -1 "$dir/data/postmaster.pid")
      pkill -CONT -P "$pid" 2>/dev/null || true
      kill -CONT "$pid" 2>/dev/null || true
    fi
    [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  *)
    echo "usage: $0 start|restart|halt|resume|freeze|thaw|stop DIR, or sweep" >&2
    exit 2
    ;;
esac
