#!/usr/bin/env bash
# wine32-smoke.sh BUILD_DIR: runs the i686 windows_smoke program (linked through our import
# library) against ZDB_TEST_SERVER under 32-bit Wine, in a 32-bit prefix of its own. Under
# qemu-user emulation every program start takes about a minute and the prefix several, so the
# whole step is bounded; a time-out is reported as a skip, a failed check fails.
set -uo pipefail
build=$1
export WINEPREFIX=${ZDB_WINE32_PREFIX:?} WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine32=/usr/lib/wine/wine
run=$(mktemp -d)
trap 'WINEPREFIX=$WINEPREFIX timeout 60 /usr/lib/wine/wineserver -k 2>/dev/null; rm -rf "$run"' EXIT
cp "$build/windows_smoke.exe" "$build/zdb_api.dll" "$run/"
start=$SECONDS
if [[ ! -d "$WINEPREFIX/drive_c" ]]; then
  timeout 300 "$wine32" wineboot -i >/dev/null 2>&1
  rc=$?
  if ((rc != 0)) || [[ ! -d "$WINEPREFIX/drive_c" ]]; then
    # Seen on machines whose i386 code runs through qemu-user: wineboot starts threads and
    # the emulated Wine then waits for ever, or gives up.
    echo "skipped: i686 smoke: no 32-bit Wine prefix (wineboot exit $rc after $((SECONDS - start)) s)"
    rm -rf "$WINEPREFIX"
    exit 0
  fi
  echo "wine32-smoke: 32-bit prefix made in $((SECONDS - start)) s"
fi
start=$SECONDS
(cd "$run" && timeout 300 "$wine32" windows_smoke.exe "${ZDB_TEST_SERVER:?}") | tee "$run/out"
rc=${PIPESTATUS[0]}
# Only a program that ran and printed its verdict counts; Wine failing to start it is a skip.
if ! grep -q '^windows_smoke: ' "$run/out"; then
  echo "skipped: i686 smoke: 32-bit Wine did not run the program (exit $rc after $((SECONDS - start)) s)"
  exit 0
fi
echo "wine32-smoke: the i686 smoke ran in $((SECONDS - start)) s, exit code $rc"
exit $rc
