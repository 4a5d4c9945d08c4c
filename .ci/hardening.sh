#!/usr/bin/env bash
# CI hardening step: the ThreadSanitizer build and its rings (with the 64-thread session stress
# against a real zdbd), the libFuzzer targets for a bounded time each, and leak checks under
# valgrind of the examples and the zdb tool against zdbd. The fault-injection sweep is part of
# the ordinary suite (tests/faults), so the plain and the sanitizer runs of .ci/run cover it.
#   .ci/hardening.sh [tsan] [fuzz] [leaks]     (default: all three)
# Times: see the summary it prints at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}" clang-14 libclang-rt-14-dev llvm-14 valgrind

parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(tsan fuzz leaks)
summary=()
timed() {
  local name=$1 start=$SECONDS
  shift
  "$@"
  summary+=("$name: $((SECONDS - start)) s")
}

tsan() {
  echo "== ThreadSanitizer: library, zdbd and the rings where threads meet"
  local dir=$PWD/build-tsan
  cmake -S . -B "$dir" -G Ninja -DZDB_TSAN=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
  ninja -C "$dir" -j "$ZDB_JOBS" zdbd protocol_tests integration_tests stress_tests
  # A report fails the run (exit code 66); nothing of ours is suppressed. zdbd, a child of the
  # tests, inherits the options; its reports land in its log, which the stress test checks.
  export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
  # Races need threads: the library against zdbd (integration), the registry and per-thread
  # Sessions (protocol tests of threads), and the stress. The single-threaded rings run under
  # AddressSanitizer in .ci/run.
  "$dir/tests/protocol_tests" --gtest_brief=1 --gtest_filter='SessionThreads.*:CatalogRunSession.*'
  "$dir/tests/integration_tests" --gtest_brief=1
  ZDB_STRESS_REQUESTS=${ZDB_STRESS_REQUESTS:-2000} ZDB_STRESS_SECONDS=${ZDB_STRESS_SECONDS:-120} \
    "$dir/tests/stress_tests"
  unset TSAN_OPTIONS
}

fuzz() {
  echo "== libFuzzer targets, ${ZDB_FUZZ_SECONDS:-45} s each"
  bash fuzz/run.sh "${ZDB_FUZZ_SECONDS:-45}"
}

leaks() {
  echo "== Leaks: the examples and the zdb tool under valgrind, against zdbd"
  local build=${ZDB_BUILD_DIR:-$PWD/build}
  cmake -S . -B "$build" -G Ninja >/dev/null
  ninja -C "$build" -j "$ZDB_JOBS" zdbd zdb zdb_demo session_walkthrough round_trip_timing
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/zdb-leaks.XXXXXX")
  # shellcheck disable=SC2064
  trap "zdb_stop_zdbd; rm -rf '$work'" RETURN
  zdb_start_zdbd "$build/server/zdbd" "$work" || return 1
  local address=$ZDBD_ADDRESS
  local vg=(valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect
    --errors-for-leak-kinds=definite,indirect --error-exitcode=97 --track-fds=no)
  local checked=0
  run() {
    echo "-- $*"
    (cd "$work" && "${vg[@]}" "$@") >"$work/run.log" 2>&1 || {
      cat "$work/run.log"
      return 1
    }
    checked=$((checked + 1))
  }
  run "$build/server/zdb_demo" "$address" --setup
  run "$build/server/zdb_demo" "$address"
  run "$build/examples/session_walkthrough"
  run "$build/examples/round_trip_timing" 200
  run "$build/tools/zdb" probe "$address"
  run "$build/tools/zdb" error "$address" 4001
  run "$build/tools/zdb" sql "$address" DEMO "#select * from PEOPLE" --out "$work/people.txt"
  run "$build/tools/zdb" export "$address" DEMO "$work/demo.db"
  run "$build/tools/zdb" import "$address" COPY "$work/demo.db" --report "$work/report.txt"
  run "$build/tools/zdb" dump "$address" --out "$work/dump.sqlite"
  run "$build/tools/zdb" table describe "$address" DEMO PEOPLE --format json
  run "$build/tools/zdb" status "$address"
  echo "valgrind: $checked programs, no leak and no memory error"
  # Stopped here as well: a RETURN trap also fires for the nested run(), and not reliably for this.
  zdb_stop_zdbd
}

for part in "${parts[@]}"; do
  case $part in
    tsan) timed "ThreadSanitizer build and rings" tsan ;;
    fuzz) timed "fuzz builds and runs" fuzz ;;
    leaks) timed "valgrind leak checks" leaks ;;
    *) echo "unknown part $part" >&2; exit 2 ;;
  esac
done
echo "== hardening passed"
printf '   %s\n' "${summary[@]}"
