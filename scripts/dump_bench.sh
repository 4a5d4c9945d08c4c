#!/usr/bin/env bash
# Speed of zdb dump and zdb load: a table of 100,000 short records and one of 2,000 memos of
# 10,000 characters, each dumped to SQLite and loaded into a new database of the same zdbd,
# ZDB_DUMP_BENCH_REPEAT times (default 3); records per second of each run. Give ZDB_BASE_TOOL
# (the zdb of another build) to measure it beside this build's zdb in the same run.
#
#   scripts/dump_bench.sh
#   ZDB_BASE_TOOL=/path/to/old/zdb scripts/dump_bench.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
build="${ZDB_BUILD_DIR:-$root/build}"
zdbd="${ZDBD:-$build/server/zdbd}"
tool="${ZDB_TOOL:-$build/tools/zdb}"
library="$build/libzdb_api.so"
repeat="${ZDB_DUMP_BENCH_REPEAT:-3}"
for program in "$zdbd" "$tool" "$library" ${ZDB_BASE_TOOL:+"$ZDB_BASE_TOOL"}; do
  [[ -e "$program" ]] || { echo "missing $program: build zdbd, zdb and zdb_api first" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zdb-dump-bench.XXXXXX")"
trap 'zdb_stop_zdbd; rm -rf "$work"' EXIT
zdb_start_zdbd "$zdbd" "$work"
address=$ZDBD_ADDRESS
echo "== zdbd on $address, $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

# The databases are made through the library; the records by one script each.
python3 - "$library" "$address" <<'PY'
import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
def ok(code, what):
    if code != 1000:
        sys.exit("%s: %d" % (what, code))
ok(lib.ZDB_SelHost(sys.argv[2].encode()), "host")
ok(lib.ZDB_Init(b"", b""), "login")
record = ctypes.create_string_buffer(113)
for db, spec in ((b"SHORT", b"NAME C 20; CODE C 10; PRICE N; QTY I"), (b"MEMOS", b"NAME C 20; NOTE C M")):
    ok(lib.Z_NewDB(db, b"", b"", 0, b""), "database")
    ok(lib.ZDB_UseDB(db), "use")
    ok(lib.ZDB_SelDB(db), "select")
    ok(lib.Z_CreTable(b"T", spec, b"", record), "table")
    ok(lib.ZDB_UnUseDB(db), "unuse")
lib.ZDB_Finish()
PY
"$tool" sql "$address" SHORT -q "#WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n
  WHERE i<100000) INSERT INTO T(NAME,CODE,PRICE,QTY) SELECT 'name '||i, 'c'||(i%1000), i*0.37,
  i%30000 FROM n"
"$tool" sql "$address" MEMOS -q "#WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n
  WHERE i<2000) INSERT INTO T(NAME,NOTE) SELECT 'memo '||i, printf('%.*c', 10000, 'x') FROM n"

seconds() { date +%s.%N; }
rate() { awk -v n="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%8.0f", n / (b - a) }'; }
n=0
measure() {  # label zdb database records
  local label=$1 zdb=$2 db=$3 records=$4 out dump load line
  for _ in $(seq "$repeat"); do
    n=$((n + 1))
    out="$work/dump$n.sqlite"
    local t0 t1 t2
    t0=$(seconds)
    "$zdb" dump "$address" -q -d "$db" -o "$out"
    t1=$(seconds)
    "$zdb" load "$address" -q -i "$out" -d "$db=L$n"
    t2=$(seconds)
    printf '%-6s %-6s %7d records: dump %s rec/s, load %s rec/s\n' "$label" "$db" "$records" \
      "$(rate "$records" "$t0" "$t1")" "$(rate "$records" "$t1" "$t2")"
    rm -f "$out"
  done
}
for db in SHORT MEMOS; do
  records=$([[ $db == SHORT ]] && echo 100000 || echo 2000)
  [[ -n ${ZDB_BASE_TOOL:-} ]] && measure base "$ZDB_BASE_TOOL" "$db" "$records"
  measure this "$tool" "$db" "$records"
done
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
