#!/bin/sh
# run_with_launcher.sh [EMULATOR] PROGRAM [ARGS]: runs a Windows test program that starts its own
# zdbd servers through the Linux launcher named in ZDB_TEST_LAUNCHER; exits 77 (a skip for CTest)
# when there is none. ZDB_INTEGRATION_FILTER, when set, limits the tests run (a gtest filter).
[ -n "$ZDB_TEST_LAUNCHER" ] || { echo "skipped: no zdbd launcher named in ZDB_TEST_LAUNCHER"; exit 77; }
if [ -n "$ZDB_INTEGRATION_FILTER" ]; then
  exec "$@" --gtest_filter="$ZDB_INTEGRATION_FILTER"
fi
exec "$@"
