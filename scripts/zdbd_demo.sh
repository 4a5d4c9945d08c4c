#!/usr/bin/env bash
# Starts zdbd on a free loopback port with a fresh data directory, has examples/demo.c create a
# demo database and walk the typical road through the library, shows the server's log, and
# stops the server again. Expects a build in ${ZDB_BUILD_DIR:-build} (scripts/demo.sh makes it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZDB_BUILD_DIR:-$root/build}"
zdbd="$build/server/zdbd"
demo="$build/server/zdb_demo"
for program in "$zdbd" "$demo"; do
  [[ -x "$program" ]] || { echo "missing $program: build first (scripts/demo.sh)" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zdbd-demo.XXXXXX")"
"$zdbd" --port 0 --data "$work/data" --name "zdbd demo" >"$work/stdout" 2>"$work/server.log" &
pid=$!
stop_server() {
  if kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap stop_server EXIT

for _ in $(seq 100); do
  grep -q "listening on" "$work/stdout" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/server.log" >&2; exit 1; }
  sleep 0.1
done
address="$(sed -n 's/^zdbd listening on //p' "$work/stdout")"
[[ -n "$address" ]] || { echo "zdbd did not report its port" >&2; exit 1; }
echo "== zdbd (pid $pid) is listening on $address, data in $work/data"
echo

status=0
(cd "$work" && "$demo" "$address" --setup) || status=$?

echo
echo "== What the server logged:"
sed 's/^/   /' "$work/server.log"
echo
echo "== Stopping zdbd (pid $pid)"
exit "$status"
