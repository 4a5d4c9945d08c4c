#!/usr/bin/env bash
# Starts zdbd on a free loopback port with a fresh data directory, has examples/demo.c create a
# demo database and walk the typical road through the library, shows the server's log, and
# stops the server again. Expects a build in ${ZDB_BUILD_DIR:-build} (scripts/demo.sh makes it).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
build="${ZDB_BUILD_DIR:-$root/build}"
zdbd="$build/server/zdbd"
demo="$build/server/zdb_demo"
for program in "$zdbd" "$demo"; do
  [[ -x "$program" ]] || { echo "missing $program: build first (scripts/demo.sh)" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zdbd-demo.XXXXXX")"
trap 'zdb_stop_zdbd; rm -rf "$work"' EXIT
zdb_start_zdbd "$zdbd" "$work" --name "zdbd demo"
address=$ZDBD_ADDRESS pid=$ZDBD_PID
echo "== zdbd (pid $pid) is listening on $address, data in $work/data"
echo

status=0
(cd "$work" && "$demo" "$address" --setup) || status=$?

echo
echo "== What the server logged:"
sed 's/^/   /' "$work/zdbd.log"
echo
echo "== Stopping zdbd (pid $pid)"
exit "$status"
