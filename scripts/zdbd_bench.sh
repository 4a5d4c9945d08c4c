#!/usr/bin/env bash
# The record-path benchmark of zdbd: starts a zdbd on a free loopback port with a fresh data
# directory, runs zdbd_load beside it and prints the figures. Every run is bounded in operations
# and seconds. The machine's other work makes single figures noisy: each line is repeated
# ZDBD_BENCH_REPEAT times (default 3) so the spread shows.
#
#   scripts/zdbd_bench.sh [zdbd options...]
#   ZDBD=path/to/zdbd ZDBD_LOAD=path/to/zdbd_load scripts/zdbd_bench.sh   (compare builds)
#   scripts/zdbd_bench.sh --storage URI|private   both storage engines side by side, and two
#                                                 instances over one PostgreSQL database
#                                                 (scripts/zdbd_bench_engines.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [[ ${1:-} == --storage ]]; then
  exec bash "$root/scripts/zdbd_bench_engines.sh" "${2:?--storage needs a postgresql:// URI or private}"
fi
source "$root/scripts/setup.sh"
build="${ZDB_BUILD_DIR:-$root/build}"
zdbd="${ZDBD:-$build/server/zdbd}"
load="${ZDBD_LOAD:-$build/server/zdbd_load}"
repeat="${ZDBD_BENCH_REPEAT:-3}"
ops="${ZDBD_BENCH_OPS:-20000}"  # per client and run
for program in "$zdbd" "$load"; do
  [[ -x "$program" ]] || { echo "missing $program: build zdbd and zdbd_load first" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zdbd-bench.XXXXXX")"
trap 'zdb_stop_zdbd; rm -rf "$work"' EXIT
zdb_start_zdbd "$zdbd" "$work" "$@"
address=$ZDBD_ADDRESS
echo "== zdbd $zdbd on $address, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

"$load" "$address" 1 1 1 60 setup
"$load" "$address" 1 1 "$ops" 120 putwrite >/dev/null  # the records the reads walk over
run() {  # mode clients workload
  for _ in $(seq "$repeat"); do "$load" "$address" "$1" "$2" "$ops" 60 "$3" || true; done
}
echo "-- 8 persistent clients: version request against record reads"
run 1 8 version
run 1 8 read
echo "-- one persistent client: whole records and single fields; the version request first, the"
echo "   round-trip floor that one client waiting for each reply cannot pass"
run 1 1 version
run 1 1 putwrite
run 1 1 getread
run 1 1 insert
run 1 1 nav4
echo "-- default mode (a connection per request), one client"
run 0 1 version
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Writes above are committed in groups (docs/server.md, Durability); with --durable each one is
# committed and synced to the disk before its reply, and the disk sets the pace.
zdb_stop_zdbd
mkdir "$work/durable"
zdb_start_zdbd "$zdbd" "$work/durable" --durable "$@"
echo "-- --durable, one persistent client (a disk flush per write)"
"$load" "$ZDBD_ADDRESS" 1 1 1 60 setup >/dev/null
durable_ops=$((ops < 2000 ? ops : 2000))
for _ in $(seq "$repeat"); do
  "$load" "$ZDBD_ADDRESS" 1 1 "$durable_ops" 60 putwrite || true
done
