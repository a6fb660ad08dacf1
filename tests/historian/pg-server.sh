#!/usr/bin/env bash
# A throw-away PostgreSQL 15 server for the historian tests.
#   pg-server.sh start DIR   initdb into DIR/data (first time), start it with its
#                            socket in DIR and a free loopback port (kept in DIR/port)
#   pg-server.sh stop DIR    stop it (fast); DIR stays for a restart
#   pg-server.sh clean DIR   stop it and remove DIR
#   pg-server.sh fresh DIR   clean, then start (a new cluster)
# The server may not run as root: as root the script runs it as "nobody".
# Roles: px5800 (superuser, trusted) and guarded (password "right", always asked).
set -euo pipefail

cmd=$1
dir=$2
bin=$(ls -d /usr/lib/postgresql/15/bin 2>/dev/null || dirname "$(command -v pg_ctl)")

as_server() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

free_port() {
  local p
  for _ in $(seq 1 50); do
    p=$((20000 + RANDOM % 30000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
  done
  echo "no free port found" >&2
  exit 1
}

case "$cmd" in
start)
  mkdir -p "$dir"
  if [ "$(id -u)" -eq 0 ]; then chown nobody "$dir"; fi
  if [ ! -f "$dir/data/PG_VERSION" ]; then
    rm -rf "$dir/data"
    as_server "$bin/initdb" -D "$dir/data" -U px5800 --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log"
    cat >"$dir/data/pg_hba.conf" <<'EOF'
local all guarded scram-sha-256
local all all trust
host all guarded 127.0.0.1/32 scram-sha-256
host all all 127.0.0.1/32 trust
EOF
    fresh=1
  fi
  [ -f "$dir/port" ] || free_port >"$dir/port"
  port=$(cat "$dir/port")
  as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-k '$dir' -p $port -c listen_addresses=127.0.0.1 -c fsync=on" start >/dev/null
  if [ "${fresh:-0}" = 1 ]; then
    as_server "$bin/psql" -h "$dir" -p "$port" -U px5800 -d postgres -qAt \
      -c "create role guarded login password 'right'" -c "create database plant owner px5800" \
      -c "grant all on database plant to guarded" >/dev/null
  fi
  ;;
stop)
  [ -f "$dir/data/postmaster.pid" ] && as_server "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
  ;;
clean)
  "$0" stop "$dir"
  rm -rf "$dir"
  ;;
fresh)
  "$0" clean "$dir"
  exec "$0" start "$dir"
  ;;
*)
  echo "usage: $0 start|stop|clean|fresh DIR" >&2
  exit 2
  ;;
esac
