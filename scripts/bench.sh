#!/usr/bin/env bash
# The benchmark report in one command: builds the benchmarks in release mode (build-bench/),
# measures the library against raw socket clients sending the same bytes to the same
# in-memory server on 127.0.0.1 (rounds taking turns), and writes docs/performance.md with
# its charts docs/perf-*.svg (gnuplot). Never part of the test suite's pass/fail.
#
#   scripts/bench.sh [rounds]     (default 7; a few minutes on 2 cores, each step bounded)
#   ZDB_BENCH_RESULTS=build-bench/results.tsv scripts/bench.sh   (report and charts only)
#   ZDB_BENCH_BUILD=build-rel scripts/bench.sh   (another release build directory)
#
# Besides the timed rounds it counts what load cannot change: the system calls of the client
# thread alone (a kernel tracepoint counter) and its user-space instructions (callgrind), per
# request of the library and of the raw client.
#
# Everything goes to loopback; the stream files live in a temporary directory that is
# removed at the end. Needs about 1.1 GB of free space in $TMPDIR (or /tmp).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

ROUNDS=${1:-7}
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}" gnuplot-nox valgrind

BUILD=${ZDB_BENCH_BUILD:-$ZDB_ROOT/build-bench}
[[ $BUILD == /* ]] || BUILD=$ZDB_ROOT/$BUILD
DOCS=$ZDB_ROOT/docs
cmake -S "$ZDB_ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZDB_BUILD_TESTS=OFF \
  >/dev/null
ninja -C "$BUILD" -j "$ZDB_JOBS" request_bench stream_bench

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
RESULTS=$WORK/results.tsv
LOAD_BEFORE=$(cut -d' ' -f1-3 /proc/loadavg)
START=$(date +%s)
if [[ -n ${ZDB_BENCH_RESULTS:-} ]]; then
  # Only the report and charts again, from the figures of an earlier run.
  cp "$ZDB_BENCH_RESULTS" "$RESULTS"
else
  echo "Requests (about 1 minute)..."
  timeout 600 "$BUILD/bench/request_bench" "$ROUNDS" | tee "$RESULTS"
  echo "Streams (about 1.5 minutes)..."
  timeout 900 "$BUILD/bench/stream_bench" "$ROUNDS" >"$WORK/streams.tsv"
  grep -v '^rss' "$WORK/streams.tsv"
  cat "$WORK/streams.tsv" >>"$RESULTS"
  echo "Counted, not timed (about a minute)..."
  # System calls: needs the tracepoint counter (root or a permissive perf_event_paranoid).
  timeout 120 "$BUILD/bench/request_bench" syscalls | tee -a "$RESULTS" ||
    echo "  no system call counter on this machine"
  timeout 300 "$BUILD/bench/stream_bench" 1 syscalls | tee -a "$RESULTS" || true
  # User-space instructions of the client thread inside the counted loop only.
  COUNTED=2000
  for mode in persistent default; do
    declare -A ir=()
    for client in library raw; do
      timeout 300 valgrind --tool=callgrind --callgrind-out-file="$WORK/cg.$client.$mode" \
        --toggle-collect='*CountedRequests*' \
        "$BUILD/bench/request_bench" once "$client" "$mode" "$COUNTED" >/dev/null 2>&1 || true
      ir[$client]=$(awk '/^totals:/ {print $2}' "$WORK/cg.$client.$mode" 2>/dev/null)
    done
    if [[ -n ${ir[library]} && -n ${ir[raw]} ]]; then
      awk -v m="$mode" -v l="${ir[library]}" -v r="${ir[raw]}" -v n="$COUNTED" 'BEGIN {
        printf "instructions\t%s\t%.0f\t%.0f\t%.0f\t%.0f\t%.0f\t%.0f\tper request\n", m, l / n, l / n, l / n, r / n, r / n, r / n
      }' | tee -a "$RESULTS"
    fi
  done
  cp "$RESULTS" "$BUILD/results.tsv" # the figures of every round's summary, kept
fi
ELAPSED=$(($(date +%s) - START))

# ---- charts -----------------------------------------------------------------------------
# Columns of the results: measure, case, library min/median/max, raw min/median/max, unit.
select_rows() { awk -F'\t' -v m="$1" '$1 == m' "$RESULTS" >"$WORK/$1.dat"; }
for m in payload threads export-size import-size; do select_rows "$m"; done
awk -F'\t' '$1 == "rss" && $2 == "export" {print $3, $4 / 1024}' "$RESULTS" >"$WORK/rss-export.dat"
awk -F'\t' '$1 == "rss" && $2 == "import" {print $3, $4 / 1024}' "$RESULTS" >"$WORK/rss-import.dat"

gnuplot <<EOF || echo "gnuplot could not draw every chart (a measure missing from the results?)"
set terminal svg size 760,420 dynamic font "sans,12" background rgb "white"
set datafile separator "\t"
set grid ytics
set key top left
set style data yerrorlines
set bars 0.5

set output "$DOCS/perf-payload.svg"
set title "Latency of one request against its payload (held connection; median, min-max bars)"
set xlabel "payload bytes each way"
set ylabel "microseconds per request"
set logscale y
plot "$WORK/payload.dat" using 0:4:3:5:xtic(2) title "library" lw 2 pt 7, \
     "" using 0:7:6:8 title "raw socket" lw 2 pt 6
unset logscale y

set output "$DOCS/perf-threads.svg"
set title "Requests per second against threads (each its own session, one server)"
set xlabel "threads"
set ylabel "requests per second"
plot "$WORK/threads.dat" using 0:4:3:5:xtic(2) title "library" lw 2 pt 7, \
     "" using 0:7:6:8 title "raw socket" lw 2 pt 6

set output "$DOCS/perf-streams.svg"
set title "Stream throughput against file size (median, min-max bars)"
set xlabel "file size, MB"
set ylabel "MB/s"
plot "$WORK/export-size.dat" using 0:4:3:5:xtic(2) title "export, library" lw 2 pt 7, \
     "" using 0:7:6:8 title "export, raw 64 KiB" lw 2 pt 6, \
     "$WORK/import-size.dat" using 0:4:3:5 title "import, library" lw 2 pt 7, \
     "" using 0:7:6:8 title "import, raw 2 MiB" lw 2 pt 6

set output "$DOCS/perf-rss.svg"
set title "Resident memory of the whole process while 1 GB streams through the library"
set style data lines
set datafile separator whitespace
set xlabel "seconds"
set ylabel "RSS, MiB"
set yrange [0:*]
plot "$WORK/rss-export.dat" using 1:2 title "export (download)" lw 2, \
     "$WORK/rss-import.dat" using 1:2 title "import (upload)" lw 2
EOF

# ---- the report ---------------------------------------------------------------------------
# The rows of one measure together, measures in the order they were first written.
awk -F'\t' '!($1 in n) {order[++count] = $1} {rows[$1, ++n[$1]] = $0}
  END {for (i = 1; i <= count; i++) for (k = 1; k <= n[order[i]]; k++) print rows[order[i], k]}' \
  "$RESULTS" >"$WORK/grouped.tsv"
CPU=$(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)
{
  cat <<EOF
# Performance

Written by \`scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') — do not edit by hand.

Machine: $(nproc) CPUs ($CPU), $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo) RAM,
$(uname -sr); load average before the run: $LOAD_BEFORE. Release build, loopback only.
$ROUNDS rounds per measure (five times as many for held connections, three times for records,
export and import, four times as many short ones for the default mode; fewer for the slowest
cases); the library and the raw client run back to back in every round, taking turns at going
first, so both see the same machine. Each figure is min / median / max over the rounds.
**library / raw (rounds)** is the median over the rounds of the ratio within each round: the
machine here runs faster and slower by tens of percent from one second to the next, which moves
both clients of a round alike but not two medians taken from different rounds. The goals are
judged on it; the ratio of the two medians, and of the best round of each (the one least
disturbed by other work on the machine), are shown beside it. The whole run took ${ELAPSED} s.

The **raw client** sends exactly the library's bytes over a plain socket with no library code:
for requests, one gathering send of header and slot and the reply's slot received straight
into the caller's buffer; for streams, the block sizes named in each row. The server
(\`bench/bench_server.cpp\`) answers from memory with a thread per connection.

EOF
  echo "## Goals at a glance"
  echo
  echo "| measure | library / raw (rounds) | library / raw (medians) | library / raw (best rounds) | goal | |"
  echo "|---|---|---|---|---|---|"
  awk -F'\t' '
    function goal(name, op, limit) {
      r = paired()
      # The best round: the shortest time, or the highest rate.
      best = op == "<=" ? $3 / $6 : $5 / $8
      ok = op == "<=" ? r <= limit : r >= limit
      printf "| %s | %.3f | %.3f | %.3f | %s %s | %s |\n", name, r, $4 / $7, best, op == "<=" ? "≤" : "≥", limit, ok ? "holds" : "**missed**"
    }
    function paired() { return $10 != "" ? $10 : $4 / $7 }
    $1 == "persistent" { goal("one request, held connection (latency)", "<=", 1.01) }
    $1 == "default" { goal("one request, default mode (latency)", "<=", 1.02) }
    $1 == "export" && $2 ~ /16 KiB/ { goal("100 MB export vs raw 16 KiB (throughput)", ">=", 0.98) }
    $1 == "export" && $2 ~ /64 KiB/ { goal("100 MB export vs raw 64 KiB (throughput)", ">=", 0.95) }
    $1 == "import" && $2 ~ /best/ { goal("100 MB import vs the best raw client (throughput)", ">=", 0.95) }
    $1 == "records" { goal("1M records of 40 bytes (throughput)", ">=", 0.95) }
    $1 == "persistent-control" {
      printf "| control: the raw client against itself, held connection | %.3f | %.3f | %.3f | — | the measure'"'"'s own spread |\n", paired(), $4 / $7, $3 / $6
    }
  ' "$RESULTS"
  if grep -qE '^(syscalls|instructions)\b' "$RESULTS"; then
    cat <<'EOF'

## Counted, not timed

What the client thread itself does for the same work, counted where the machine's load
cannot change it: system calls entered (the kernel's raw_syscalls:sys_enter counter, this
thread alone) and user-space instructions executed (callgrind, inside the counted loop only).
The raw client is the one of the timed rounds; for the streams it is the raw client named.

| count | case | library | raw | library − raw |
|---|---|---|---|---|
EOF
    awk -F'\t' '$1 == "syscalls" || $1 == "instructions" {
      what = $1 == "syscalls" ? "system calls " : "user-space instructions "
      printf "| %s%s | %s | %g | %g | %+g |\n", what, $9, $2, $4, $7, $4 - $7
    }' "$RESULTS"
  fi
  awk -F'\t' '
    function num(x) { return x >= 100 ? sprintf("%.0f", x) : (x >= 10 ? sprintf("%.1f", x) : sprintf("%.2f", x)) }
    function cell(a, b, c) { return num(b) " (" num(a) "–" num(c) ")" }
    function paired() { return $10 != "" ? $10 : $4 / $7 }
    function row(goalText, holds) {
      printf "| %s | %s | %s | %.3f | %.3f | %s |\n", $2, cell($3, $4, $5), cell($6, $7, $8), paired(), $4 / $7, goalText (goalText == "" ? "" : (holds ? " holds" : " **missed**"))
    }
    function head(title, unit, note) {
      printf "\n## %s\n\n%s\n\n| case | library, %s: median (min–max) | raw, %s: median (min–max) | library / raw (rounds) | library / raw (medians) | goal |\n|---|---|---|---|---|---|\n", title, note, unit, unit
    }
    $1 == "rss" || $1 == "syscalls" || $1 == "instructions" { next }
    $1 != last {
      last = $1
      if ($1 == "persistent") head("One request, held connection", "µs", "The version request (165 bytes each way), 10,000 per round, five times as many rounds as the other measures, each round on new connections of both clients (a held connection keeps the places the scheduler gave its client and server threads, which alone can make one connection a few percent faster than another). Lower is better.")
      if ($1 == "persistent-control") head("Control: the raw client against itself", "µs", "The held-connection measure run with the raw client in both places, each round on new connections as above. Its \"library\" column is a second raw client. A ratio away from 1 here is the spread of the measure itself on this machine, not anything the library does.")
      if ($1 == "payload") head("Latency against payload size", "µs", "An echo request carrying the payload in one slot each way, held connection, each round on new connections of both clients. Up to 1 MiB of data the Session keeps its frame buffer; the library copies the reply into the slot once, the raw client receives it in place. Chart: [perf-payload.svg](perf-payload.svg).\n\n![latency against payload](perf-payload.svg)")
      if ($1 == "default") head("One request, default mode (a connection per request)", "µs", "Connect, send, receive, close; 250 per round, four times as many rounds as the other measures (each connection leaves a port in TIME_WAIT, so a second run within a minute is slower). Lower is better.")
      if ($1 == "threads") head("Threads", "req/s", "Each thread its own session and held connection, 0.2 s per run, twice as many rounds as the other measures, all against one server. With two threads on two cores the client and server threads share the cores in ways that change from run to run, and that count is the noisiest. A ratio near 1 at every count means the library adds no contention of its own.\n\n![requests per second against threads](perf-threads.svg)")
      if ($1 == "records") head("Record stream", "records/s", "A script run returning 1,000,000 records of 40 bytes, written to a local file.")
      if ($1 == "export") head("Export (file download), 100 MB", "MB/s", "The library (256 KiB receives) against raw clients receiving 16, 64 and 256 KiB at a time.")
      if ($1 == "import") head("Import (file upload), 100 MB", "MB/s", "The library (2 MiB blocks read from the file and sent) against raw clients sending blocks of 64 KiB to 4 MiB read from the file, and with sendfile; the goal is against the one the library compares worst with, round by round.")
      if ($1 == "export-size") head("Export against file size", "MB/s", "Against the raw client receiving 64 KiB at a time.\n\n![stream throughput against file size](perf-streams.svg)")
      if ($1 == "import-size") head("Import against file size", "MB/s", "Against the raw client sending 2 MiB blocks.")
    }
    $1 == "persistent" { row("≤ 1.01", paired() <= 1.01); next }
    $1 == "default" { row("≤ 1.02", paired() <= 1.02); next }
    $1 == "records" { row("≥ 0.95", paired() >= 0.95); next }
    $1 == "export" && $2 ~ /16 KiB/ { row("≥ 0.98", paired() >= 0.98); next }
    $1 == "export" && $2 ~ /64 KiB/ { row("≥ 0.95", paired() >= 0.95); next }
    $1 == "import" && $2 ~ /best/ { row("≥ 0.95", paired() >= 0.95); next }
    { row("", 0) }
  ' "$WORK/grouped.tsv"
  echo
  echo "## Memory while streaming 1 GB"
  echo
  echo "Resident memory of the whole benchmark process (server and its prepared data included),"
  echo "sampled every 10 ms while the library moves 1,000 MB each way through its fixed buffers."
  echo
  echo "| stream | first sample, MiB | peak, MiB | last sample, MiB | samples |"
  echo "|---|---|---|---|---|"
  for s in export import; do
    awk -v s="$s" 'NR == 1 {first = $2} {if ($2 > peak) peak = $2; last = $2; n++}
      END {printf "| %s | %.1f | %.1f | %.1f | %d |\n", s, first, peak, last, n}' "$WORK/rss-$s.dat"
  done
  echo
  echo "![resident memory while streaming 1 GB](perf-rss.svg)"
  # The engines' section comes from scripts/zdbd_bench.sh --storage (ZDBD_BENCH_DOCS=1).
  if [[ -f $DOCS/perf-engines.md ]]; then
    echo
    cat "$DOCS/perf-engines.md"
    # What the figures mean and where the time goes, written by hand beside them.
    [[ -f $DOCS/perf-engines-notes.md ]] && { echo; cat "$DOCS/perf-engines-notes.md"; }
  fi
} >"$DOCS/performance.md"
echo "Wrote $DOCS/performance.md and $DOCS/perf-*.svg in ${ELAPSED} s of measuring."
