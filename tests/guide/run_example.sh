#!/usr/bin/env bash
# run_example.sh ZDBD PROGRAM: starts ZDBD on a free port of 127.0.0.1 over a fresh data
# directory, runs PROGRAM 127.0.0.1:PORT in a fresh working directory, stops ZDBD by its pid
# (unless the program stopped it) and passes PROGRAM's exit status on.
set -euo pipefail
zdbd=$1 program=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/zdb-guide.XXXXXX")
# With ZDB_TEST_STORAGE (a PostgreSQL URI) the example runs over a PostgreSQL database of its own.
storage=() pgdb=""
if [[ -n ${ZDB_TEST_STORAGE:-} ]]; then
  pgdb=zg_$(basename "$work" | tr 'A-Z.-' 'a-z__')
  # Two CREATE DATABASE at once may find the template busy: the loser tries again.
  for try in $(seq 20); do
    psql "$ZDB_TEST_STORAGE" -qAt -c "CREATE DATABASE $pgdb" >/dev/null 2>&1 && break
    ((try < 20)) || { echo "cannot make PostgreSQL database $pgdb" >&2; exit 1; }
    sleep 0.2
  done
  storage=(--storage "${ZDB_TEST_STORAGE%/*}/$pgdb")
fi
# The file exists before zdbd starts: the loop below may read it before the shell that starts
# zdbd has opened it.
: >"$work/stdout"
"$zdbd" --port 0 --data "$work/data" "${storage[@]}" >"$work/stdout" 2>"$work/server.log" &
pid=$!
cleanup() {
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
  fi
  [[ -z $pgdb ]] || psql "$ZDB_TEST_STORAGE" -qAt -c "DROP DATABASE IF EXISTS $pgdb WITH (FORCE)" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
address=""
for _ in $(seq 100); do
  address=$(sed -n 's/^zdbd listening on //p' "$work/stdout")
  [[ -n "$address" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[[ -n "$address" ]] || { cat "$work/server.log" >&2; echo "zdbd did not start" >&2; exit 1; }
mkdir "$work/run"
status=0
(cd "$work/run" && "$program" "$address") || status=$?
if ((status != 0)); then
  echo "--- $program exited $status; zdbd logged:" >&2
  cat "$work/server.log" >&2
fi
exit "$status"
