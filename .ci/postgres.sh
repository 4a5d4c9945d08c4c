#!/usr/bin/env bash
# CI: zdbd over PostgreSQL. The zdbd rings against the PostgreSQL engine (scripts/test_pg.sh, on
# a cluster of its own); then one private PostgreSQL cluster (initdb in a temporary directory,
# run by the postgres account, on a loopback port) serves: the locks, handles and leases that
# instances share,
# two in one process; two zdbd instances over one database (writes, locks, users and privileges
# across them, one killed mid-run, PostgreSQL killed and restarted under --durable); nginx in
# front of them (started by the test on a loopback port, stopped by its pid). Everything started
# here is stopped and removed at the end. Besides scripts/test_pg.sh, about 1 minute on the 2-core
# runner (the programs are built by the tests step before).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}" "${ZDB_PG_PACKAGES[@]}"
BUILD=${ZDB_BUILD_DIR:-$PWD/build}
start=$SECONDS

echo "== zdbd over PostgreSQL: the rings against the PostgreSQL engine"
[[ -f scripts/test_pg.sh ]] || { echo "scripts/test_pg.sh is missing" >&2; exit 1; }
timeout 1200 bash scripts/test_pg.sh

echo "== zdbd over PostgreSQL: several instances, one data set"
zdb_build_targets zdbd unit_tests integration_tests
work=$(mktemp -d /tmp/zdb-pg-ci.XXXXXX)
chmod 755 "$work"  # the cluster inside runs as the postgres account
cleanup() {
  bash scripts/pg_cluster.sh stop "$work/pg" || true
  rm -rf "$work"
}
trap cleanup EXIT
cluster=$(bash scripts/pg_cluster.sh start "$work/pg")
eval "$cluster"
export ZDB_PG_CLUSTER=$PWD/scripts/pg_cluster.sh

# Runs a test program; a test skipped here (no cluster, no nginx) fails the step.
run() {
  local log=$work/run.log rc=0
  timeout 300 "$@" >"$log" 2>&1 || rc=$?
  grep -E '^\[ *(OK|FAILED|SKIPPED|PASSED) *\]|free after|failover|through nginx|restart' "$log" || true
  ((rc == 0)) || { cat "$log"; return 1; }
  if grep -q '^\[  SKIPPED \]' "$log"; then
    echo "a test was skipped: the step checks nothing it does not run" >&2
    return 1
  fi
}
run "$BUILD/tests/unit_tests" --gtest_filter='ClusterTest.*:ClusterReach.*'
# The test that kills PostgreSQL runs last: it is the only one that stops the shared cluster.
run "$BUILD/tests/integration_tests" --gtest_filter='Instances.*:-Instances.PostgresKilled*'
run "$BUILD/tests/integration_tests" --gtest_filter='Instances.PostgresKilled*'
echo "== zdbd over PostgreSQL: passed in $((SECONDS - start)) s"
