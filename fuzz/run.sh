#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   fuzz/run.sh                 every target, 50 s each (what CI runs)
#   fuzz/run.sh 3600 fuzz_zdbd  one target for an hour
# New inputs go to build-fuzz/corpus/<target>; the checked-in seeds are only read. Crashes are
# written to build-fuzz/crashes/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-50}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_record_stream fuzz_trace_parser fuzz_library_replies fuzz_zdbd)
build=${ZDB_FUZZ_BUILD_DIR:-$PWD/build-fuzz}
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DZDB_FUZZ=ON -DZDB_BUILD_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j "${ZDB_JOBS:-2}" "${targets[@]}"
mkdir -p "$build/crashes"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  log="$build/$t.log"
  if ! "$build/fuzz/$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$t-" \
      "$build/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1; then
    echo "$t: FAILED (see $log and $build/crashes)"
    tail -40 "$log"
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  echo "$t: $runs executions in ${seconds} s, ${cov:-cov: ?}"
done
exit $status
