#!/usr/bin/env bash
# Links a C program that includes zdb_api.h and takes the address of every exported function
# against each import library of a Windows build, and checks that every name the program then
# imports from zdb_api.dll is in the DLL's export table:
#   check_import_libs.sh i686|x86_64 BUILD_DIR
# mingw: gcc + libzdb_api.dll.a. MSVC: lld-link, the linker that reads what link.exe reads, with
# zdb_api.lib. The object comes from clang against the mingw headers (no Windows SDK here); it
# references the same symbols cl.exe makes of the header (_ZDB_SelHost@4 and
# __imp__ZDB_SelHost@4 on 32-bit, the plain names on 64-bit). No runtime is needed: the
# program is linked as a DLL without an entry point.
set -euo pipefail

arch=$1 build=$2
sdk=$build/sdk/zdb_api-$arch
src=$build/zdb_all_imports.c
inc=$(cd "$(dirname "$0")/../include" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
objdump=$arch-w64-mingw32-objdump
case "$arch" in
  i686) machine=x86 ;;
  x86_64) machine=x64 ;;
  *) echo "usage: $0 i686|x86_64 BUILD_DIR" >&2; exit 2 ;;
esac
lld_link=$(command -v lld-link || command -v lld-link-14)

exports() { "$objdump" -p "$build/zdb_api.dll" | tr -d '\r' |
  awk '/\[Ordinal\/Name Pointer\] Table/ { s = 1; next } NF == 0 { s = 0 }
       s && /^[ \t]*\[/ { print $NF }' | sort -u; }
# The names a linked image imports from zdb_api.dll.
imports() { "$objdump" -p "$1" | tr -d '\r' |
  awk '/DLL Name:/ { s = ($3 == "zdb_api.dll"); next }
       s && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+[ \t]+[^ \t]+$/ { print $3 }
       /^$/ && s == 1 { n++ } ' | sort -u; }

exports >"$work/exports"
expected=$(grep -c . <<<"$(grep -E '^[A-Za-z_]' "$(dirname "$0")/../src/api/exports.txt" |
  grep -v posix-only)")

check() {
  local kind=$1 image=$2
  imports "$image" >"$work/imports.$kind"
  local n missing
  n=$(grep -c . "$work/imports.$kind" || true)
  missing=$(comm -23 "$work/imports.$kind" "$work/exports")
  if [[ -n "$missing" ]]; then
    echo "check_import_libs: $arch $kind imports names the DLL does not export:" $missing >&2
    exit 1
  fi
  if ((n != expected)); then
    echo "check_import_libs: $arch $kind imports $n names, expected $expected" >&2
    exit 1
  fi
  echo "check_import_libs: $arch $kind import library links all $n functions of the header"
}

"$arch-w64-mingw32-gcc" -Wall -Werror -I"$inc" -shared -o "$work/mingw.dll" "$src" \
  "$sdk/lib/libzdb_api.dll.a"
check mingw "$work/mingw.dll"

clang --target="$arch-w64-windows-gnu" -Wall -Werror -I"$inc" -c "$src" -o "$work/msvc.obj"
# llvm-dlltool's alias members carry no SafeSEH mark; link.exe accepts that by default.
"$lld_link" /nologo /dll /noentry /nodefaultlib /machine:$machine /safeseh:no \
  /out:"$work/msvc.dll" "$work/msvc.obj" "$sdk/lib/zdb_api.lib"
check msvc "$work/msvc.dll"
