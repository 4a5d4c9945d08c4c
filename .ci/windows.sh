#!/usr/bin/env bash
# CI, Windows: cross-builds both DLLs with the posix thread model of mingw-w64 (the test
# programs need std::thread), checks their export tables and both import libraries, runs the
# x86_64 test rings under wine64 (the unit and protocol rings, and the DLL loaded as users load
# it), the integration ring against Linux zdbd servers that a launcher on loopback starts for it,
# and the SDK example and zdb.exe against a Linux zdbd on loopback; builds the i686 test programs
# through our import library, makes an SDK archive per architecture, checks that the DLL alone
# builds with the win32 thread model too, and, where the machine runs i386 code, runs the i686
# DLL's unit, protocol and DLL rings and the smoke under 32-bit Wine (.ci/wine32-setup.sh),
# printing a skip line elsewhere.
# Expects the native build in build/ (scripts/test.sh) for zdbd, zdb and zdbd_launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zdb_require_packages g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  g++-mingw-w64-x86-64-win32 googletest wine64 llvm lld clang unzip libcli11-dev gcc-multilib

root=$PWD
export WINEPREFIX=$root/build-wine/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
zdbd=$root/build/server/zdbd
work=$(mktemp -d)
launcher_pid=
finish() {
  zdb_stop_zdbd
  # The launcher stops the servers it started before it ends.
  [[ -z $launcher_pid ]] || { kill -TERM "$launcher_pid" 2>/dev/null && wait "$launcher_pid" || true; }
  "$wineserver" -k 2>/dev/null || true  # only the server of our own WINEPREFIX
  WINEPREFIX=$root/build-wine/prefix32 "$wineserver" -k 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

step_start=$SECONDS
step() {
  echo "== windows: $*"
  step_start=$SECONDS
}
took() { echo "   ($* took $((SECONDS - step_start)) s)"; }

# A 32-bit prefix for the i686 programs, made (or brought up to date) in a bounded time. Its
# services start here rather than under CTest, whose output pipe they would hold open. Prints
# a skip line and fails when 32-bit Wine cannot make it.
make_prefix32() {
  local prefix=$1 begin=$SECONDS rc=0
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix WINEARCH=win32 timeout 120 /usr/lib/wine/wine wineboot -i >/dev/null 2>&1 ||
    rc=$?
  if ((rc != 0)) || [[ ! -d "$prefix/drive_c" ]]; then
    echo "skipped: i686 rings under 32-bit Wine: no 32-bit prefix (wineboot exit $rc after" \
      "$((SECONDS - begin)) s)"
    rm -rf "$prefix"
    return 1
  fi
  echo "32-bit Wine: prefix ready in $((SECONDS - begin)) s"
}

# zdbd (a Linux program) on a free loopback port with a fresh data directory.
start_zdbd() {
  [[ -x "$zdbd" ]] || ninja -C "$root/build" -j "$ZDB_JOBS" zdbd
  zdb_start_zdbd "$zdbd" "$work" --name "windows ci"
  export ZDB_TEST_SERVER=$ZDBD_ADDRESS
}

# The launcher that starts and stops zdbd servers for the Windows integration ring.
start_launcher() {
  ninja -C "$root/build" -j "$ZDB_JOBS" zdbd zdbd_launcher >/dev/null
  "$root/build/tests/zdbd_launcher" --lifetime 1800 >"$work/launcher.out" 2>"$work/launcher.err" &
  launcher_pid=$!
  for _ in $(seq 100); do
    ZDB_TEST_LAUNCHER=$(sed -n 's/^zdbd launcher listening on //p' "$work/launcher.out")
    [[ -n $ZDB_TEST_LAUNCHER ]] && break
    sleep 0.1
  done
  [[ -n $ZDB_TEST_LAUNCHER ]] || { echo "zdbd_launcher did not start" >&2; cat "$work/launcher.err" >&2; exit 1; }
  export ZDB_TEST_LAUNCHER
}

step "cross builds"
for arch in x86_64 i686; do
  dir=build-win-$arch
  # zdb.exe only for x86_64, the architecture it is smoke-tested on.
  tools=OFF
  [[ $arch == x86_64 ]] && tools=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch-posix.cmake" \
    -DZDB_BUILD_TOOLS=$tools >/dev/null
  if [[ $arch == x86_64 ]]; then
    ninja -C "$dir" -j "$ZDB_JOBS" all zdb_sdk
  else
    # The 32-bit programs that can run where 32-bit Wine runs only under emulation.
    ninja -C "$dir" -j "$ZDB_JOBS" zdb_api zdb_sdk windows_smoke dll_tests
  fi
  OBJDUMP=$arch-w64-mingw32-objdump bash cmake/check_exports.sh windows "$dir/zdb_api.dll" \
    "$dir/exports_expected.txt"
  bash cmake/check_import_libs.sh "$arch" "$dir"
  took "$arch build and checks"
  step_start=$SECONDS
done

step "the DLL alone with the win32 thread model (x86_64)"
# The library keeps to platform::Mutex and the loader's thread notifications, so it needs no
# std::thread; the test programs do, and stay with the posix model.
dir=build-win-x86_64-w32
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64-win32.cmake \
  -DZDB_BUILD_TOOLS=OFF -DZDB_BUILD_TESTS=OFF >/dev/null
ninja -C "$dir" -j "$ZDB_JOBS" zdb_api
OBJDUMP=x86_64-w64-mingw32-objdump bash cmake/check_exports.sh windows "$dir/zdb_api.dll" \
  "$dir/exports_expected.txt"
if x86_64-w64-mingw32-objdump -p "$dir/zdb_api.dll" | grep -qi 'libwinpthread'; then
  echo "the win32-model DLL imports libwinpthread" >&2
  exit 1
fi
echo "win32 thread model: zdb_api.dll builds, exports as expected, needs no winpthread"
took "win32 thread model"

step "x86_64 rings under wine64, and the smoke against zdbd"
# A fresh clone has no prefix yet: wineboot makes it (and starts a server), then that server is
# kept for every program start of this run.
mkdir -p "$(dirname "$WINEPREFIX")"
"$wine64" wineboot -i >/dev/null 2>&1 || true
"$wineserver" -p 60 2>/dev/null || true  # already running: wineboot started it
start_zdbd
ctest --test-dir build-win-x86_64 --output-on-failure --timeout 600 -E '^integration_tests$'
took "wine64 unit, protocol and DLL rings"

step "x86_64 integration ring under wine64, its zdbd servers from the launcher"
start_launcher
# 30,000 one-connection requests instead of 100,000 in the port-exhaustion test: still more
# than the client has ports, in a minute rather than three under Wine.
ZDBD_DEFAULT_MODE_REQUESTS=30000 ctest --test-dir build-win-x86_64 --output-on-failure \
  -R '^integration_tests$'
took "wine64 integration ring"

step "SDK archives, and the SDK example (mingw) against zdbd under wine64"
for arch in x86_64 i686; do
  archive=build-win-$arch/zdb_api-sdk-$arch.zip
  unzip -q -o "$archive" -d "$work/sdk-$arch"
  sdk=$work/sdk-$arch/zdb_api-$arch
  files="include/zdb_api.h include/zdb_api_catalog.h bin/zdb_api.dll lib/libzdb_api.dll.a
    lib/zdb_api.lib lib/zdb_api.def README.md example/zdb_example.c"
  [[ $arch == x86_64 ]] && files+=" bin/zdb.exe"
  for f in $files; do
    [[ -s "$sdk/$f" ]] || { echo "SDK $arch lacks $f" >&2; exit 1; }
  done
  "$arch-w64-mingw32-gcc" -Wall -Werror -I"$sdk/include" "$sdk/example/zdb_example.c" \
    "$sdk/lib/libzdb_api.dll.a" -o "$sdk/bin/zdb_example.exe"
  echo "SDK $archive: complete; its example links against libzdb_api.dll.a"
done
(cd "$work/sdk-x86_64/zdb_api-x86_64/bin" &&
  timeout 120 "$wine64" zdb_example.exe "$ZDB_TEST_SERVER" --setup)
took "SDK"

step "zdb.exe from the x86_64 SDK under wine64, held to the Linux zdb"
ninja -C "$root/build" -j "$ZDB_JOBS" zdb >/dev/null
bash .ci/windows-zdb-smoke.sh "$work/sdk-x86_64/zdb_api-x86_64/bin" "$root/build/tools/zdb" \
  "$ZDB_TEST_SERVER"
took "zdb.exe smoke"

step "i686 rings under 32-bit Wine"
# Where the kernel runs i386 code, 32-bit Wine makes its prefix in seconds and runs the i686
# DLL's unit, protocol and DLL rings and the smoke against zdbd as wine64 runs the x86_64 ones.
# The integration ring passes there too, but its build and run would add two and a half
# minutes to this run: ZDB_WINE32_INTEGRATION=1 adds it. Elsewhere 32-bit Wine would run only
# under qemu-user, where it installs but cannot make a prefix, and finding that out costs a
# quarter of an hour: there the smoke stays opt-in (ZDB_WINE32=1).
prefix32=$root/build-wine/prefix32
wine32=/usr/lib/wine/wine
if zdb_runs_i386; then
  if bash .ci/wine32-setup.sh && make_prefix32 "$prefix32"; then
    WINEPREFIX=$prefix32 "$wineserver" -p 60 2>/dev/null || true  # one server for every start
    rings32=(unit_tests protocol_tests dll_tests windows_smoke)
    [[ ${ZDB_WINE32_INTEGRATION:-0} == 1 ]] && rings32+=(integration_tests)
    cmake -S . -B build-win-i686 -DCMAKE_CROSSCOMPILING_EMULATOR="$wine32" >/dev/null
    ninja -C build-win-i686 -j "$ZDB_JOBS" "${rings32[@]}"
    WINEPREFIX=$prefix32 ZDBD_DEFAULT_MODE_REQUESTS=30000 ctest --test-dir build-win-i686 \
      --output-on-failure --timeout 900 -R "^($(IFS='|' && echo "${rings32[*]}"))\$"
  fi
elif [[ ${ZDB_WINE32:-0} != 1 ]]; then
  echo "skipped: i686 rings under 32-bit Wine: this machine does not run i386 code, and under" \
    "qemu-user emulation 32-bit Wine does not start programs (ZDB_WINE32=1 tries the smoke)"
elif bash .ci/wine32-setup.sh; then
  ZDB_WINE32_PREFIX=$prefix32 ZDB_TEST_SERVER=$ZDB_TEST_SERVER \
    bash .ci/wine32-smoke.sh build-win-i686
fi
took "i686 under 32-bit Wine"
