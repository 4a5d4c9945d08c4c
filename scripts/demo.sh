#!/usr/bin/env bash
# The main job: builds the library and walks a client through select host, login, version,
# error text and logout in both connection modes, against a scripted stand-in server.
set -euo pipefail
source "$(dirname "$0")/setup.sh"
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}"
zdb_build
"${ZDB_BUILD_DIR:-$ZDB_ROOT/build}/examples/session_walkthrough"
