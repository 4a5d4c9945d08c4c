#!/usr/bin/env bash
# Runs the zdbd-facing tests against zdbd's PostgreSQL engine: a private PostgreSQL cluster on a
# loopback port (scripts/pg_cluster.sh), every zdbd of the integration ring (library against
# zdbd included) and of the guide's examples over a PostgreSQL database of its own
# (ZDB_TEST_STORAGE), then the test that kills the cluster, alone. The cluster is removed at the
# end whatever happened. Expects a build in ZDB_BUILD_DIR (default build/) with the targets
# zdbd, integration_tests and the guide's examples.
#
#   scripts/test_pg.sh [GTEST_FILTER]     the filter narrows the integration ring
#   ZDB_GTEST_REPEAT=N scripts/test_pg.sh FILTER   runs those tests N times (a race's hunt)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZDB_BUILD_DIR:-$root/build}
cluster=$(mktemp -d "${TMPDIR:-/tmp}/zdb-pg.XXXXXX")
# The cluster runs as the postgres account when this runs as root: it must reach the directory.
chmod 755 "$cluster"
cleanup() { bash "$root/scripts/pg_cluster.sh" stop "$cluster" >/dev/null 2>&1 || rm -rf "$cluster"; }
trap cleanup EXIT
eval "$(bash "$root/scripts/pg_cluster.sh" start "$cluster")"
export ZDB_TEST_STORAGE=$ZDB_PG_URI
# The tests that kill the cluster run alone, after the others.
skip=StorageCrash.*
status=0
"$build/tests/integration_tests" --gtest_brief=1 ${ZDB_GTEST_REPEAT:+--gtest_repeat=$ZDB_GTEST_REPEAT} --gtest_filter="${1:-*}:-$skip" || status=1
ctest --test-dir "$build" -R '^guide\.' --output-on-failure -j 2 || status=1
ZDB_TEST_PG_CRASH=1 "$build/tests/integration_tests" --gtest_brief=1 \
  --gtest_filter='StorageCrash.*' || status=1
exit "$status"
