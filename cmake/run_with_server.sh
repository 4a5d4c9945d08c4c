#!/bin/sh
# run_with_server.sh [EMULATOR] PROGRAM: runs a Windows test program against the zdbd whose
# address the runner put in ZDB_TEST_SERVER; exits 77 (a skip for CTest) when there is none.
[ -n "$ZDB_TEST_SERVER" ] || { echo "skipped: no zdbd named in ZDB_TEST_SERVER"; exit 77; }
exec "$@" "$ZDB_TEST_SERVER"
