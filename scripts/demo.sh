#!/usr/bin/env bash
# The main job: builds only what the demo needs (the library, zdbd and the demo program; the
# rest is scripts/test.sh's), starts zdbd on a free loopback port, creates a demo database
# (a table with a few records), walks the typical road through the library (examples/demo.c:
# select host, log in, use and select the database, open and select the table, seek a record,
# read fields with size -1, run an SQL script, log out) and stops zdbd again.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}"
zdb_build_targets zdb_api zdbd zdb_demo
exec bash "$ZDB_ROOT/scripts/zdbd_demo.sh"
