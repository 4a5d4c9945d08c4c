#!/usr/bin/env bash
# CI step: the library as a newcomer adopts it, from the tree that scripts/test.sh built in
# build/ (or $ZDB_BUILD_DIR); nothing of the tree is compiled again.
#   1. cmake --install into a temporary prefix, at the paths the README gives (lib/<arch>); the
#      installed zdb and zdbd run without LD_LIBRARY_PATH and report the one version of the top
#      CMakeLists.txt, as do zdb_api.pc and the CMake package; a downstream C program
#      (docs/examples/downstream) built out of tree with find_package (installed prefix and build
#      tree) and with a Makefile using pkg-config, each run against the installed zdbd on a free
#      loopback port;
#   2. the HTML API reference from the header with Doxygen, warnings as errors;
#   3. the Debian packages with CPack, checked with lintian, installed with dpkg -i, the demo
#      built against the installed -dev package and run against the installed zdbd (started by
#      hand as the zdbd user: CI has no init), its metrics scraped with curl, the administration
#      script tests/tools/admin_e2e.sh run with the installed programs (when the tree has it), the
#      logrotate file checked; then removed and purged (the zdbd system user stays).
# Every zdbd it starts listens on 127.0.0.1 and is stopped by its pid.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zdb_require_packages "${ZDB_BASE_PACKAGES[@]}" "${ZDB_ADOPTION_PACKAGES[@]}"

started=$SECONDS
build=$(cd "${ZDB_BUILD_DIR:-build}" && pwd)
for f in "$build/libzdb_api.so" "$build/server/zdbd" "$build/tools/zdb" "$build/CPackConfig.cmake"; do
  [[ -e "$f" ]] || { echo "adoption: missing $f: run scripts/test.sh first" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/zdb-adoption.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# start_zdbd DIR [COMMAND PREFIX...] -- starts the zdbd named by $ZDBD over DIR on a free port
# and sets $address; the pid is kept for cleanup.
start_zdbd() {
  local dir=$1
  shift
  # shellcheck disable=SC2086 # ZDBD_ARGS is a list of options
  "$@" "$ZDBD" --port 0 --data "$dir/data" ${ZDBD_ARGS:-} >"$dir/stdout" 2>"$dir/log" &
  zdbd_pid=$!
  pids+=("$zdbd_pid")
  address=""
  for _ in $(seq 100); do
    address=$(sed -n 's/^zdbd listening on //p' "$dir/stdout" 2>/dev/null)
    [[ -n "$address" ]] && break
    kill -0 "$zdbd_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ -n "$address" ]] || { cat "$dir/log" >&2; echo "adoption: zdbd did not start" >&2; exit 1; }
  [[ "$address" == 127.0.0.1:* ]] || { echo "adoption: zdbd not on loopback: $address" >&2; exit 1; }
}
stop_zdbd() {
  kill -TERM "$zdbd_pid"
  wait "$zdbd_pid" 2>/dev/null || true
}
expect_hello() {  # the program's one line names the server and its protocol version
  local out
  out=$("$@")
  echo "   $out"
  [[ "$out" == "server $address: protocol version 0x1210, "* ]] ||
    { echo "adoption: unexpected output from $*" >&2; exit 1; }
}

fail() {
  echo "adoption: $*" >&2
  exit 1
}
# The one version: the project's, in the top CMakeLists.txt.
version=$(sed -n 's/^project(zdb_api VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n "$version" ]] || fail "no version in the top CMakeLists.txt"
arch=$(gcc -print-multiarch)

echo "== install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$prefix/lib/$arch  # where the README says it goes
for f in "$libdir/libzdb_api.so" "$libdir/libzdb_api.so.1" "$libdir/libzdb_api.so.$version" \
  "$prefix/include/zdb_api.h" "$libdir/pkgconfig/zdb_api.pc" \
  "$libdir/cmake/zdb_api/zdb_apiConfig.cmake" "$prefix/bin/zdbd" "$prefix/bin/zdb" \
  "$prefix/bin/zdbd_load"; do
  [[ -e "$f" ]] || { echo "adoption: not installed: $f" >&2; exit 1; }
done
soname=$(readelf -d "$libdir/libzdb_api.so.$version" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[[ "$soname" == libzdb_api.so.1 ]] || { echo "adoption: SONAME is '$soname'" >&2; exit 1; }
echo "   $(find "$prefix" -type f | wc -l) files under $prefix; SONAME $soname"
# The programs find the library through their run path, without LD_LIBRARY_PATH.
[[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/zdb" --version)" == "zdb $version" ]] ||
  fail "$prefix/bin/zdb --version is not 'zdb $version'"
[[ "$("$prefix/bin/zdbd" --version)" == "zdbd $version" ]] ||
  fail "$prefix/bin/zdbd --version is not 'zdbd $version'"
load_usage=$(env -u LD_LIBRARY_PATH "$prefix/bin/zdbd_load" 2>&1 || true)  # exits 2: no arguments
[[ "$load_usage" == usage:* ]] || fail "$prefix/bin/zdbd_load does not start without LD_LIBRARY_PATH"
pc_version=$(PKG_CONFIG_PATH="$prefix/lib/$arch/pkgconfig" pkg-config --modversion zdb_api)
[[ "$pc_version" == "$version" ]] || fail "zdb_api.pc says $pc_version, not $version"
grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/zdb_api/zdb_apiConfigVersion.cmake" ||
  fail "the CMake package is not version $version"
echo "   zdb, zdbd, zdb_api.pc and the CMake package: version $version; zdb runs without LD_LIBRARY_PATH"

echo "== downstream program, out of tree, against the installed prefix and the build tree"
mkdir -p "$work/server1"
ZDBD=$prefix/bin/zdbd start_zdbd "$work/server1"
cp -r docs/examples/downstream "$work/src"
cmake -S "$work/src" -B "$work/with-cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
ninja -C "$work/with-cmake" >/dev/null
echo "-- find_package(zdb_api 1.0) from $prefix:"
expect_hello "$work/with-cmake/hello_zdb" "$address"
cmake -S "$work/src" -B "$work/with-build-tree" -G Ninja -Dzdb_api_DIR="$build" >/dev/null
ninja -C "$work/with-build-tree" >/dev/null
echo "-- find_package(zdb_api 1.0) from the build tree:"
expect_hello "$work/with-build-tree/hello_zdb" "$address"
PKG_CONFIG_PATH="$prefix/lib/$arch/pkgconfig" make -s -C "$work/src" >/dev/null
echo "-- Makefile with pkg-config --cflags --libs zdb_api:"
expect_hello env LD_LIBRARY_PATH="$libdir" "$work/src/hello_zdb" "$address"
echo "-- the installed zdb tool, without LD_LIBRARY_PATH:"
env -u LD_LIBRARY_PATH "$prefix/bin/zdb" probe "$address" | sed 's/^/   /'
stop_zdbd

echo "== API reference (Doxygen, warnings as errors)"
rm -rf "$build/docs/html"
(cat docs/Doxyfile; echo "OUTPUT_DIRECTORY = $build/docs") | doxygen - >"$work/doxygen.log" 2>&1 ||
  { cat "$work/doxygen.log" >&2; echo "adoption: Doxygen reported warnings" >&2; exit 1; }
pages=$(find "$build/docs/html" -name '*.html' | wc -l)
grep -q 'ZDB_SelHost' "$build/docs/html/zdb__api_8h.html" ||
  { echo "adoption: the reference lacks the header's functions" >&2; exit 1; }
echo "   $pages pages in $build/docs/html (open index.html)"

echo "== Debian packages (CPack), lintian"
cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
debs=("$work"/deb/*.deb)
printf '   %s\n' "${debs[@]##*/}"
((${#debs[@]} == 4)) || { echo "adoption: expected 4 packages" >&2; exit 1; }
for deb in "${debs[@]}"; do
  [[ "$(dpkg-deb -f "$deb" Version)" == "$version-1" ]] || fail "${deb##*/} is not version $version-1"
done
runtime_files=$(dpkg-deb -c "$work"/deb/libzdb-api1_*.deb)
[[ "$runtime_files" == *" ./usr/lib/$arch/libzdb_api.so.1 -> "* ]] ||
  fail "libzdb-api1 does not put the library in /usr/lib/$arch"
[[ "$(dpkg-deb -f "$work"/deb/zdbd_*.deb Depends)" == *libmicrohttpd* ]] ||
  fail "the zdbd package does not depend on libmicrohttpd"
# Errors fail the step; the warnings left are listed (the man pages come with the tools).
lint=0
lintian --fail-on error --tag-display-limit 0 "${debs[@]}" >"$work/lintian.log" 2>&1 || lint=$?
grep -v 'root privileges' "$work/lintian.log" | sed 's/^/   lintian: /' || true
((lint == 0)) || { echo "adoption: lintian reported errors" >&2; exit 1; }

if [[ $(id -u) -ne 0 ]]; then
  echo "== not root: the packages were built and checked but are not installed"
  echo "== adoption checks passed in $((SECONDS - started)) s"
  exit 0
fi

echo "== dpkg -i, the demo against the installed binaries, dpkg -r and --purge"
names=(zdb-tools libzdb-api-dev zdbd libzdb-api1)
# dpkg waits for nobody: while another installation holds its lock, try again (15 minutes).
run_dpkg() {
  local try
  for try in $(seq 300); do
    dpkg "$@" >"$work/dpkg.log" 2>&1 && return 0
    grep -q 'lock' "$work/dpkg.log" || break
    sleep 3
  done
  cat "$work/dpkg.log" >&2
  return 1
}
run_dpkg -i "${debs[@]}"
# A fresh install tells the operator how the first administrator comes to be.
grep -q 'zdb user add 127.0.0.1 NAME --admin' "$work/dpkg.log" ||
  { cat "$work/dpkg.log" >&2; fail "the zdbd post-install does not give the next step"; }
for f in /usr/bin/zdbd /usr/bin/zdb /usr/include/zdb_api.h /lib/systemd/system/zdbd.service \
  /etc/default/zdbd /etc/logrotate.d/zdbd "/usr/lib/$arch/libzdb_api.so.1"; do
  [[ -e "$f" ]] || { echo "adoption: the packages did not install $f" >&2; exit 1; }
done
[[ "$(stat -c %U /var/lib/zdbd)" == zdbd ]] ||
  { echo "adoption: /var/lib/zdbd does not belong to the zdbd user" >&2; exit 1; }
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify /lib/systemd/system/zdbd.service 2>&1 | sed 's/^/   systemd-analyze: /' || true
fi
# As the service would run it: the zdbd user over a directory of its own.
mkdir -p "$work/server2"
chown zdbd:zdbd "$work/server2"
ZDBD=/usr/bin/zdbd ZDBD_ARGS="--metrics 0" start_zdbd "$work/server2" setpriv --reuid=zdbd \
  --regid=zdbd --init-groups
[[ "$(stat -c %U "$work/server2/data")" == zdbd ]] ||
  { echo "adoption: the installed zdbd did not run as zdbd" >&2; exit 1; }
cc -Wall -Wextra -Werror -o "$work/demo" examples/demo.c $(pkg-config --cflags --libs zdb_api)
echo "-- examples/demo.c built with the installed -dev package:"
(cd "$work" && ./demo "$address" --setup) >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log" >&2; echo "adoption: the demo failed" >&2; exit 1; }
sed 's/^/   /' "$work/demo.log" | tail -8
cmake -S "$work/src" -B "$work/with-system" -G Ninja >/dev/null && ninja -C "$work/with-system" >/dev/null
echo "-- find_package(zdb_api 1.0) from /usr:"
expect_hello "$work/with-system/hello_zdb" "$address"
echo "-- /usr/bin/zdb:"
/usr/bin/zdb probe "$address" | sed 's/^/   /'
metrics=$(sed -n 's|.*metrics at \(http://127\.0\.0\.1:[0-9]*/metrics\).*|\1|p' "$work/server2/log")
[[ -n "$metrics" ]] || fail "the installed zdbd does not name its metrics address"
curl -sf "$metrics" >"$work/metrics.txt" || fail "curl could not scrape $metrics"
grep -q '^zdbd_sessions_opened_total [1-9]' "$work/metrics.txt" ||
  fail "the installed zdbd's metrics do not count the demo's sessions"
echo "-- $metrics: $(grep -c '^zdbd_' "$work/metrics.txt") samples"
stop_zdbd
if command -v logrotate >/dev/null; then
  logrotate -d /etc/logrotate.d/zdbd >"$work/logrotate.log" 2>&1 ||
    { cat "$work/logrotate.log" >&2; fail "logrotate rejects /etc/logrotate.d/zdbd"; }
fi
# The administration commands end to end, with the programs the packages installed.
if [[ -f tests/tools/admin_e2e.sh ]]; then
  echo "-- tests/tools/admin_e2e.sh with /usr/bin/zdb and /usr/bin/zdbd:"
  admin_started=$SECONDS
  bash tests/tools/admin_e2e.sh /usr/bin/zdb /usr/bin/zdbd >"$work/admin_e2e.log" 2>&1 ||
    { cat "$work/admin_e2e.log" >&2; fail "tests/tools/admin_e2e.sh failed"; }
  tail -3 "$work/admin_e2e.log" | sed 's/^/   /'
  echo "   ($((SECONDS - admin_started)) s)"
fi

run_dpkg -r "${names[@]}"
[[ ! -e /usr/bin/zdbd && ! -e /usr/include/zdb_api.h && -e /etc/default/zdbd ]] ||
  { echo "adoption: dpkg -r left the wrong files" >&2; exit 1; }
run_dpkg --purge "${names[@]}"
[[ ! -e /etc/default/zdbd ]] || { echo "adoption: purge left /etc/default/zdbd" >&2; exit 1; }
if dpkg -l "${names[@]}" 2>/dev/null | grep -q '^[ir]i'; then
  echo "adoption: packages still installed after purge" >&2
  exit 1
fi
# Purge keeps the system user, as the postrm says, and removes the logs.
getent passwd zdbd >/dev/null || fail "purge removed the zdbd user, which the postrm says it keeps"
[[ ! -e /var/log/zdbd ]] || fail "purge left /var/log/zdbd"
echo "   installed, demo run, removed and purged"
echo "== adoption checks passed in $((SECONDS - started)) s"
