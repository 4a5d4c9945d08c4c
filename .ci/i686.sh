#!/usr/bin/env bash
# CI, i686 Linux: builds the library and its unit, protocol, fault, integration and DLL rings
# for 32-bit x86 (cmake/linux-i686.cmake: 4-byte pointers and sizes, exports that clean their
# own arguments off the stack as the 32-bit DLL's do), checks the library's export table and
# runs the rings against the scripted peers and the native zdbd of build/. Natively where the
# kernel runs i386 code, decided by starting a tiny 32-bit program; elsewhere every test program
# runs under qemu-i386 (CTest's emulator, so that nothing of the machine changes).
# ZDB_I686_EMULATE=1 takes the emulated road on a machine that could run the programs itself.
# Expects the native build in build/ (scripts/test.sh) for zdbd.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zdb_require_packages "${ZDB_I686_PACKAGES[@]}"

root=$PWD
dir=$root/build-i686
zdbd=$root/build/server/zdbd
rings=(unit_tests protocol_tests fault_tests integration_tests dll_tests)
start=$SECONDS
echo "== i686 Linux: the library and its rings in 32 bits"
[[ -x "$zdbd" ]] || ninja -C "$root/build" -j "$ZDB_JOBS" zdbd >/dev/null

emulator=()
if [[ ${ZDB_I686_EMULATE:-0} != 1 ]] && zdb_runs_i386; then
  how="natively"
  [[ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]] &&
    grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386 && how="through binfmt_misc's qemu-i386"
else
  qemu=$(command -v qemu-i386-static || command -v qemu-i386) || {
    echo "i686: this machine does not run i386 code and qemu-user has no qemu-i386" >&2
    exit 1
  }
  zdb_runs_i386 "$qemu" || {
    echo "i686: $qemu does not run a 32-bit program either" >&2
    exit 1
  }
  emulator=(-DCMAKE_CROSSCOMPILING_EMULATOR="$qemu")
  how="under $qemu"
fi
echo "i686: 32-bit programs run $how"

# Optimised as the native build, without debug information, which costs half again the
# compile time of this step.
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DZDB_TEST_ZDBD="$zdbd" \
  -DCMAKE_CROSSCOMPILING_EMULATOR= "${emulator[@]}" >/dev/null
ninja -C "$dir" -j "$ZDB_JOBS" zdb_api "${rings[@]}" >/dev/null
readelf -h "$dir/libzdb_api.so" | grep -q 'Class: *ELF32' || {
  echo "i686: $dir/libzdb_api.so is not a 32-bit library" >&2
  exit 1
}
bash cmake/check_exports.sh linux "$dir/libzdb_api.so" "$dir/exports_expected.txt"
echo "i686: libzdb_api.so is ELF32, exports exactly the list under plain names" \
  "($((SECONDS - start)) s so far)"

out=$(mktemp)
trap 'rm -f "$out"' EXIT
if ! ctest --test-dir "$dir" -j "$ZDB_JOBS" --output-on-failure >"$out" 2>&1; then
  cat "$out"
  echo "i686: rings failed ($how)" >&2
  exit 1
fi
grep -A2 'tests passed' "$out"
# Every test case is a CTest test of its own; the summary counts them per ring.
ctest --test-dir "$dir" -N -V | sed -n 's/^[0-9]*: Test command: //p' |
  grep -oE "/($(IFS='|' && echo "${rings[*]}"))[ \"]" | tr -d '/ "' | sort | uniq -c |
  awk '{ printf "i686: %s: %d test cases passed\n", $2, $1 }'
echo "   (i686 Linux build and rings $how took $((SECONDS - start)) s)"
