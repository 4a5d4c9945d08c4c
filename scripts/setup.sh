# Sourced by the other scripts: installs the Debian packages that are missing and configures
# and builds the project in build/ (or $ZDB_BUILD_DIR).
#   zdb_require_packages PKG...   installs what `dpkg -s` does not find (as root; otherwise
#                                 prints the sudo command and fails)
#   zdb_build [CMAKE ARGS...]     configures with CMake + Ninja and builds everything
#   zdb_build_targets TARGET...   configures (as it stands) and builds only those targets
#   zdb_runs_i386 [EMULATOR]      succeeds when a tiny 32-bit x86 program starts here (the
#                                 kernel runs i386 code, natively or through binfmt_misc), or
#                                 under EMULATOR (qemu-i386)

ZDB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZDB_BASE_PACKAGES=(build-essential cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev pkg-config clang-format libcli11-dev libedit-dev groff-base)
# zdbd's metrics endpoint, and the HTTP client its test scrapes with
ZDB_BASE_PACKAGES+=(libmicrohttpd-dev curl)
ZDB_BASE_PACKAGES+=(python3) # tests/tools/admin_e2e.sh compares zdb's JSON as data
ZDB_BASE_PACKAGES+=(libpq-dev postgresql) # the PostgreSQL engine and its test cluster
# .ci/postgres.sh: nginx in front of two zdbd instances over one PostgreSQL database
ZDB_PG_PACKAGES=(nginx libnginx-mod-stream)
# .ci/adoption.sh: the reference, the Debian packages and their checks
ZDB_ADOPTION_PACKAGES=(doxygen lintian fakeroot dpkg-dev file adduser init-system-helpers)
ZDB_ADOPTION_PACKAGES+=(logrotate)  # checks the zdbd package's logrotate file
# .ci/i686.sh: the 32-bit x86 Linux build, GoogleTest built from its sources, qemu-i386 where
# the kernel refuses i386 code
ZDB_I686_PACKAGES=(gcc-multilib g++-multilib googletest qemu-user)
ZDB_JOBS=${ZDB_JOBS:-2}

zdb_require_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  ((${#missing[@]} == 0)) && return 0
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

zdb_build() {
  local dir=${ZDB_BUILD_DIR:-$ZDB_ROOT/build}
  cmake -S "$ZDB_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir" -j "$ZDB_JOBS"
}

zdb_build_targets() {
  local dir=${ZDB_BUILD_DIR:-$ZDB_ROOT/build}
  cmake -S "$ZDB_ROOT" -B "$dir" -G Ninja >/dev/null
  ninja -C "$dir" -j "$ZDB_JOBS" "$@"
}

# zdb_start_zdbd ZDBD WORKDIR [ZDBD OPTIONS...]
#   starts ZDBD on a free loopback port with a fresh data directory WORKDIR/data (its output in
#   WORKDIR/zdbd.out, its log in WORKDIR/zdbd.log), waits until it listens and sets ZDBD_PID and
#   ZDBD_ADDRESS. zdb_stop_zdbd ends it again by that pid.
zdb_start_zdbd() {
  local program=$1 work=$2
  shift 2
  "$program" --port 0 --data "$work/data" "$@" >"$work/zdbd.out" 2>"$work/zdbd.log" &
  ZDBD_PID=$!
  ZDBD_ADDRESS=
  for _ in $(seq 100); do
    ZDBD_ADDRESS=$(sed -n 's/^zdbd listening on //p' "$work/zdbd.out" 2>/dev/null || true)
    [[ -n $ZDBD_ADDRESS ]] && return 0
    kill -0 "$ZDBD_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "zdbd did not report its port" >&2
  cat "$work/zdbd.log" >&2
  return 1
}

zdb_stop_zdbd() {
  [[ -n ${ZDBD_PID:-} ]] || return 0
  kill -TERM "$ZDBD_PID" 2>/dev/null && { wait "$ZDBD_PID" 2>/dev/null || true; }
  ZDBD_PID=
  return 0
}

zdb_runs_i386() {
  local dir rc
  dir=$(mktemp -d)
  printf 'int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n' >"$dir/probe.c"
  gcc -m32 -o "$dir/probe" "$dir/probe.c" && timeout 60 "$@" "$dir/probe" 2>/dev/null
  rc=$?
  rm -rf "$dir"
  return $rc
}
