#!/usr/bin/env bash
# A private PostgreSQL cluster for tests and benchmarks: initdb in a directory of its own, a
# server on a loopback port, a role `zdbd` that may create databases and roles, and nothing
# left behind after `stop`. Run as root it runs the cluster as the `postgres` account (the
# server refuses to run as root); otherwise as the caller.
#
#   scripts/pg_cluster.sh start DIR [PORT]   prints shell assignments to eval:
#                                            ZDB_PG_URI, PGPASSWORD, ZDB_PG_DIR, ZDB_PG_PORT
#   scripts/pg_cluster.sh stop DIR           stops the server (fast) and removes DIR
#   scripts/pg_cluster.sh kill DIR           ends the server at once (SIGKILL), as a crash would
#   scripts/pg_cluster.sh restart DIR        starts a stopped or killed server again on its port
set -euo pipefail

pg_bin() {
  local d
  for d in /usr/lib/postgresql/*/bin; do
    [[ -x $d/initdb ]] && { echo "$d"; return; }
  done
  command -v initdb >/dev/null && { dirname "$(command -v initdb)"; return; }
  echo "pg_cluster: PostgreSQL's server programs are not installed (apt-get install postgresql)" >&2
  exit 1
}

as_owner() {
  if [[ $(id -u) == 0 ]]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

PASSWORD=zdbd-test-password
cmd=${1:-}
dir=${2:-}
[[ -n $cmd && -n $dir ]] || { sed -n 2,12p "$0" >&2; exit 2; }
BIN=$(pg_bin)

case $cmd in
  start)
    port=${3:-$(free_port)}
    mkdir -p "$dir"
    dir=$(cd "$dir" && pwd)
    [[ $(id -u) == 0 ]] && chown postgres: "$dir"
    printf '%s\n' "$PASSWORD" >"$dir/.pw"
    [[ $(id -u) == 0 ]] && chown postgres: "$dir/.pw"
    as_owner "$BIN/initdb" -D "$dir/data" -U postgres --auth-local=trust \
      --auth-host=scram-sha-256 --pwfile="$dir/.pw" -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
      || { cat "$dir/initdb.log" >&2; exit 1; }
    {
      echo "listen_addresses = '127.0.0.1'"
      echo "port = $port"
      echo "unix_socket_directories = '$dir'"
      echo "max_connections = 300"
      echo "fsync = on"
    } >>"$dir/data/postgresql.conf"
    echo "$port" >"$dir/port"
    as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
    as_owner "$BIN/psql" -h "$dir" -p "$port" -U postgres -d postgres -qAt -v ON_ERROR_STOP=1 \
      -c "CREATE ROLE zdbd LOGIN CREATEDB CREATEROLE PASSWORD '$PASSWORD'" \
      -c "CREATE DATABASE zdbd OWNER zdbd" >/dev/null
    echo "export ZDB_PG_URI=postgresql://zdbd@127.0.0.1:$port/zdbd"
    echo "export PGPASSWORD=$PASSWORD"
    echo "export ZDB_PG_DIR=$dir"
    echo "export ZDB_PG_PORT=$port"
    ;;
  stop)
    [[ -d $dir ]] || exit 0
    if [[ -f $dir/data/postmaster.pid ]]; then
      as_owner "$BIN/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
    ;;
  kill)
    pid=$(head -1 "$dir/data/postmaster.pid")
    # The server's own processes go with it, as in a crash of the machine: a backend left
    # running would hold the shared memory and keep the restart from starting.
    children=$(ps -o pid= --ppid "$pid" || true)
    kill -KILL "$pid" $children 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    for c in $children; do while kill -0 "$c" 2>/dev/null; do sleep 0.05; done; done
    ;;
  restart)
    as_owner "$BIN/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null
    ;;
  *)
    sed -n 2,12p "$0" >&2
    exit 2
    ;;
esac
