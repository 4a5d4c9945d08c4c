#!/usr/bin/env bash
# Builds everything and runs the whole test suite (unit, protocol and integration rings).
# Extra arguments go to CMake, e.g. -DZDB_SANITIZE=ON (use another ZDB_BUILD_DIR for that).
set -euo pipefail
source "$(dirname "$0")/setup.sh"
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}"
zdb_build "$@"
ctest --test-dir "${ZDB_BUILD_DIR:-$ZDB_ROOT/build}" -j "$ZDB_JOBS" --output-on-failure
