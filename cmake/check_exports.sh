#!/usr/bin/env bash
# Checks a built library against the export list generated from src/api/exports.txt:
#   check_exports.sh linux   build/libzdb_api.so       build/exports_expected.txt
#   check_exports.sh windows build-win32/zdb_api.dll   build-win32/exports_expected.txt
# The library must export exactly the expected names. The Linux library must also not call
# anything that ends or signals its host program; the C++ runtime's own static-init guard
# (__cxa_guard_abort) and destructor registration (__cxa_atexit) are allowed, and
# std::terminate, which only a broken noexcept promise reaches, is tolerated.
set -euo pipefail

kind=$1 lib=$2 expected=$3
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT

case "$kind" in
  linux)
    nm -D --defined-only "$lib" | awk '$2 ~ /^[TWDBRVi]$/ { sub(/@.*/, "", $3); print $3 }' |
      sort -u >"$actual"
    forbidden=$(nm -D --undefined-only "$lib" | awk '{ sub(/@.*/, "", $2); print $2 }' |
      grep -Ex '(exit|_exit|_Exit|quick_exit|abort|raise|kill|pthread_kill|tgkill|signal|sigaction)' || true)
    if [[ -n "$forbidden" ]]; then
      echo "check_exports: $lib calls what ends or signals its host:" $forbidden >&2
      exit 1
    fi
    ;;
  windows)
    objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
    table=$("$objdump" -p "$lib" | tr -d '\r')
    # name -> entry address, from the ordinal of each name and the address of each ordinal
    entries=$(awk '/^Export Address Table --/ { sec = 1; next }
                   /\[Ordinal\/Name Pointer\] Table/ { sec = 2; next }
                   NF == 0 { sec = 0 }
                   sec == 1 && /Export RVA/ { gsub(/[][]/, " "); rva[$1] = $(NF - 2) }
                   sec == 2 && /^[ \t]*\[/ { gsub(/[][]/, " "); print $2, rva[$1] }' <<<"$table")
    awk '{ print $1 }' <<<"$entries" | sort -u >"$actual"
    rva_of() { awk -v n="$1" '$1 == n { print $2 }' <<<"$entries"; }
    # The plain ZDB_GetError leads to Z_GetError's entry; the decorated one has its own.
    if grep -qx 'ZDB_GetError' "$actual"; then
      if [[ "$(rva_of ZDB_GetError)" != "$(rva_of Z_GetError)" ]]; then
        echo "check_exports: ZDB_GetError does not lead to the entry of Z_GetError" >&2
        exit 1
      fi
      decorated=$(grep -x '_ZDB_GetError@8' "$actual" || true)
      if [[ -n "$decorated" && "$(rva_of "$decorated")" == "$(rva_of Z_GetError)" ]]; then
        echo "check_exports: _ZDB_GetError@8 has no entry of its own" >&2
        exit 1
      fi
    fi
    ;;
  *)
    echo "usage: $0 linux|windows LIBRARY EXPECTED" >&2
    exit 2
    ;;
esac

if ! diff -u <(sort -u "$expected") "$actual"; then
  echo "check_exports: the export table of $lib differs from $expected (- expected, + built)" >&2
  exit 1
fi
echo "check_exports: $lib exports exactly the $(wc -l <"$actual") expected names"
