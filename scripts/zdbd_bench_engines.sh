#!/usr/bin/env bash
# The zdbd record-path workloads on both storage engines in one run, side by side: SQLite files,
# then PostgreSQL, then two instances over the same PostgreSQL database with 8 clients between
# them. Counts PostgreSQL round trips per request: the data segments zdbd's connections to
# PostgreSQL sent during the workload (one per statement or pipelined batch), from the kernel's
# TCP counters. scripts/zdbd_bench.sh --storage STORAGE runs it.
#
#   scripts/zdbd_bench.sh --storage postgresql://USER@HOST:PORT/DBNAME   a cluster of yours: the
#                                       run makes a database of its own there and drops it after
#   scripts/zdbd_bench.sh --storage private    a private cluster (scripts/pg_cluster.sh), removed
#   ZDBD_BENCH_DOCS=1 ...               also writes docs/perf-engines.md and docs/perf-engines.svg
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/setup.sh"
build="${ZDB_BUILD_DIR:-$root/build}"
zdbd="${ZDBD:-$build/server/zdbd}"
load="${ZDBD_LOAD:-$build/server/zdbd_load}"
ops="${ZDBD_BENCH_OPS:-20000}"  # per client and run
storage=${1:?"usage: zdbd_bench_engines.sh postgresql://... | private"}
for program in "$zdbd" "$load"; do
  [[ -x "$program" ]] || { echo "missing $program: build zdbd and zdbd_load first" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zdbd-engines.XXXXXX")"
chmod 755 "$work"
pids=()
dbname=
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  [[ -n $dbname ]] && psql -qAt "$admin_uri" -c "DROP DATABASE IF EXISTS $dbname WITH (FORCE)" >/dev/null 2>&1
  [[ $storage == private ]] && bash "$root/scripts/pg_cluster.sh" stop "$work/pg"
  rm -rf "$work"
}
trap cleanup EXIT
if [[ $storage == private ]]; then
  cluster=$(bash "$root/scripts/pg_cluster.sh" start "$work/pg")
  eval "$cluster"
  storage=$ZDB_PG_URI
fi
admin_uri=$storage
dbname=zdbdbench$$
psql -qAt "$admin_uri" -c "CREATE DATABASE $dbname" >/dev/null
uri=${storage%/*}/$dbname
pgport=$(sed -n 's|.*@[^:/]*:\([0-9]*\)/.*|\1|p' <<<"$storage")

start() {  # name [zdbd options]: starts an instance, sets address_NAME
  local name=$1
  shift
  mkdir -p "$work/$name"
  "$zdbd" --port 0 --data "$work/$name/data" "$@" >"$work/$name/out" 2>"$work/$name/log" &
  pids+=($!)
  for _ in $(seq 100); do
    local a
    a=$(sed -n 's/^zdbd listening on //p' "$work/$name/out")
    [[ -n $a ]] && { printf -v "address_$name" '%s' "$a"; return 0; }
    sleep 0.1
  done
  cat "$work/$name/log" >&2
  return 1
}

segments() {  # data segments sent so far by the connections to PostgreSQL's port
  ss -tin state established "( dport = :$pgport )" |
    sed -n 's/.*data_segs_out:\([0-9]*\).*/\1/p' | awk '{s += $1} END {print s + 0}'
}

# CPU time (clock ticks) used so far by zdbd's instances and, on the private cluster, by
# PostgreSQL's processes: where the time of a request goes.
cpu() {  # zdbd|postgres
  local p list=() sum=0
  if [[ $1 == zdbd ]]; then
    list=("${pids[@]}")
  elif [[ -n ${ZDB_PG_DIR:-} && -f $ZDB_PG_DIR/data/postmaster.pid ]]; then
    list=($(pgrep -P "$(head -1 "$ZDB_PG_DIR/data/postmaster.pid")"))
  fi
  for p in "${list[@]}"; do
    sum=$((sum + $(awk '{print $14 + $15}' "/proc/$p/stat" 2>/dev/null || echo 0)))
  done
  echo "$sum"
}
tick_us=$((1000000 / $(getconf CLK_TCK)))

results=$work/results
: >"$results"
measure() {  # engine label address clients workload
  local engine=$1 label=$2 address=$3 clients=$4 workload=$5 before after line z0 p0
  before=$(segments)
  z0=$(cpu zdbd)
  p0=$(cpu postgres)
  line=$("$load" "$address" 1 "$clients" "$ops" 60 "$workload") || true  # failures are counted
  after=$(segments)
  echo "$engine: $line"
  awk -v e="$engine" -v l="$label" -v seg=$((after - before)) -v pg="$([[ $engine == sqlite ]] && echo 0 || echo 1)" \
    -v zt=$((($(cpu zdbd) - z0) * tick_us)) -v pt=$((($(cpu postgres) - p0) * tick_us)) '
    {for (i = 1; i <= NF; i++) {if ($(i+1) == "operations/s,") ops = $i; if ($(i+1) == "requests/s,") req = $i}
     split($0, a, " x "); n = a[1]; sub(/.*: /, "", n)}
    END {r = req > 0 ? n * req / ops : 1
         printf "%s\t%s\t%s\t%s\t%s\t%.0f\t%s\n", e, l, ops, req, pg ? sprintf("%.2f", seg / r) : "-",
                zt / r, pg ? sprintf("%.0f", pt / r) : "-"}' \
    <<<"$line" >>"$results"
}

workloads() {  # engine address
  "$load" "$2" 1 1 1 60 setup >"$work/setup" || {
    echo "$1: $(cat "$work/setup")" >&2
    exit 1
  }
  "$load" "$2" 1 1 "$ops" 120 putwrite >/dev/null  # the records the reads walk over
  measure "$1" "PutWrite, 1 client" "$2" 1 putwrite
  measure "$1" "GetRead NEXT, 1 client" "$2" 1 getread
  measure "$1" "Read NEXT + GetField, 1 client" "$2" 1 read
  measure "$1" "AppendBlank + 4 PutField, 1 client" "$2" 1 insert
  measure "$1" "Read NEXT + GetField, 8 clients" "$2" 8 read
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
echo "== zdbd on both engines, $(nproc) cores, load average $load_before"
start sqlite
workloads sqlite "$address_sqlite"
start pg1 --storage "$uri"
workloads postgresql "$address_pg1"
start pg2 --storage "$uri"
# 8 clients over two instances: 4 on each, at the same time.
before=$(segments)
z0=$(cpu zdbd)
p0=$(cpu postgres)
"$load" "$address_pg1" 1 4 "$ops" 60 read >"$work/two-1" &
first=$!
"$load" "$address_pg2" 1 4 "$ops" 60 read >"$work/two-2" || true
wait "$first" || true
after=$(segments)
cat "$work/two-1" "$work/two-2"
awk -v seg=$((after - before)) -v zt=$((($(cpu zdbd) - z0) * tick_us)) \
  -v pt=$((($(cpu postgres) - p0) * tick_us)) '
  {for (i = 1; i <= NF; i++) if ($(i+1) == "requests/s,") req += $i
   split($0, a, " x "); n = a[1]; sub(/.*: /, "", n); total += n * 2; ops += 0}
  END {printf "two instances\tRead NEXT + GetField, 8 clients over 2 instances\t-\t%.0f\t%.2f\t%.0f\t%s\n",
         req, seg / total, zt / total, (pt > 0 ? sprintf("%.0f", pt / total) : "-")}' \
  "$work/two-1" "$work/two-2" >>"$results"
echo "== load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "| workload | engine | operations/s | requests/s | PostgreSQL round trips per request | CPU µs per request: zdbd | PostgreSQL |"
echo "|---|---|---|---|---|---|---|"
awk -F'\t' '{printf "| %s | %s | %s | %s | %s | %s | %s |\n", $2, $1, $3, $4, $5, $6, $7}' "$results"

if [[ ${ZDBD_BENCH_DOCS:-0} == 1 ]]; then
  zdb_require_packages gnuplot-nox
  docs=$root/docs
  awk -F'\t' '$1 == "sqlite" {s[$2] = $4} $1 == "postgresql" {p[$2] = $4; order[++n] = $2}
    END {for (i = 1; i <= n; i++) printf "\"%s\"\t%s\t%s\n", order[i], s[order[i]], p[order[i]]}' \
    "$results" >"$work/chart.dat"
  gnuplot <<EOF
set terminal svg size 900,420 font "sans,11"
set output "$docs/perf-engines.svg"
set title "zdbd requests per second by storage engine (one machine, $(nproc) cores)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set ylabel "requests/s"
set xtics rotate by -20 scale 0
set key top right
set yrange [0:*]
plot "$work/chart.dat" using 2:xtic(1) title "SQLite", "" using 3 title "PostgreSQL"
EOF
  {
    echo "## Storage engines side by side"
    echo
    echo "\`scripts/zdbd_bench.sh --storage private\` on $(date -u +%Y-%m-%d), $(nproc) cores: the same"
    echo "workloads on SQLite files and on a PostgreSQL cluster on the same machine (loopback), each"
    echo "from persistent clients of the library, $ops operations per client and run; then two zdbd"
    echo "instances over the same PostgreSQL database with 4 clients on each. Round trips per request"
    echo "are the data segments zdbd's connections to PostgreSQL sent, per request answered."
    echo "Load average before the run: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)."
    echo
    echo "| workload | engine | operations/s | requests/s | PostgreSQL round trips per request | CPU µs per request: zdbd | PostgreSQL |"
    echo "|---|---|---|---|---|---|---|"
    awk -F'\t' '{printf "| %s | %s | %s | %s | %s | %s | %s |\n", $2, $1, $3, $4, $5, $6, $7}' "$results"
    echo
    echo "![requests per second by storage engine](perf-engines.svg)"
    echo
    echo "Round trips are counted from the kernel's TCP counters; CPU time per request from /proc, for"
    echo "zdbd's instances and for the private cluster's processes (\"-\" for a cluster elsewhere)."
  } >"$docs/perf-engines.md"
  echo "Wrote $docs/perf-engines.md and $docs/perf-engines.svg"
fi
