#!/usr/bin/env bash
# windows-zdb-smoke.sh SDK_BIN LINUX_ZDB HOST: runs zdb.exe (from the unpacked x86_64 SDK, beside
# zdb_api.dll) under wine64 against the zdbd at HOST, whose database DEMO the SDK example made,
# and holds every answer to the Linux zdb's: the same bytes on standard output, the same
# messages (their CR LF, Windows's text mode on stderr, read as LF) and the same exit code. Then checks what zdb.exe leaves
# out (trace, SQLite dumps, load) is refused with its reason and exit code 1.
set -uo pipefail
bin=$1 linux_zdb=$(realpath "$2") host=$3
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0 checks=0

# run NAME SIDE ARGS...: one zdb run, its stdout, stderr and exit code kept under $out/NAME.SIDE.
# Standard input comes from $out/NAME.in when there is one.
run() {
  local name=$1 side=$2
  shift 2
  local input=/dev/null
  [[ -f $out/$name.in ]] && input=$out/$name.in
  if [[ $side == win ]]; then
    (cd "$bin" && timeout 120 "$wine64" zdb.exe "$@") <"$input" >"$out/$name.win.out" \
      2>"$out/$name.win.err"
  else
    (cd "$out" && timeout 120 "$linux_zdb" "$@") <"$input" >"$out/$name.linux.out" \
      2>"$out/$name.linux.err"
  fi
  echo $? >"$out/$name.$side.rc"
  cp "$out/$name.$side.out" "$out/$name.$side.txt"
  tr -d '\r' <"$out/$name.$side.err" >"$out/$name.$side.msg"
}

fail() {
  echo "zdb.exe smoke: FAILED: $*" >&2
  failures=$((failures + 1))
}

# same NAME EXPECTED_RC ARGS...: both tools give the same output and messages, exit EXPECTED_RC.
same() {
  local name=$1 rc=$2
  shift 2
  checks=$((checks + 1))
  run "$name" linux "$@"
  run "$name" win "$@"
  local lrc wrc
  lrc=$(<"$out/$name.linux.rc") wrc=$(<"$out/$name.win.rc")
  [[ $lrc == "$rc" ]] || fail "$name: the Linux zdb exits $lrc, not $rc: $(head -c 300 "$out/$name.linux.msg")"
  [[ $wrc == "$rc" ]] || fail "$name: zdb.exe exits $wrc, not $rc: $(head -c 300 "$out/$name.win.msg")"
  cmp -s "$out/$name.linux.txt" "$out/$name.win.txt" ||
    fail "$name: output differs: $(diff "$out/$name.linux.txt" "$out/$name.win.txt" | head -8)"
  cmp -s "$out/$name.linux.msg" "$out/$name.win.msg" ||
    fail "$name: messages differ: $(diff "$out/$name.linux.msg" "$out/$name.win.msg" | head -8)"
  [[ -s $out/$name.win.txt || -s $out/$name.win.msg ]] || fail "$name: zdb.exe printed nothing"
}

# refused NAME TEXT ARGS...: zdb.exe alone; exit 1 with TEXT in its message.
refused() {
  local name=$1 text=$2
  shift 2
  checks=$((checks + 1))
  run "$name" win "$@"
  [[ $(<"$out/$name.win.rc") == 1 ]] || fail "$name: zdb.exe exits $(<"$out/$name.win.rc"), not 1"
  grep -qF "$text" "$out/$name.win.msg" ||
    fail "$name: zdb.exe's message lacks '$text': $(head -c 300 "$out/$name.win.msg")"
}

[[ -x $bin/zdb.exe || -f $bin/zdb.exe ]] || { echo "no zdb.exe in $bin" >&2; exit 1; }

same version 0 --version
same probe 0 probe "$host"
same probe_silent 1 probe 127.0.0.1:9
same error_text 0 error "$host" 4011
same sql_tsv 0 sql "$host" DEMO "#SELECT * FROM PEOPLE ORDER BY NAME"
same sql_csv 0 sql "$host" DEMO "#SELECT * FROM PEOPLE ORDER BY NAME" --format csv
same sql_json 0 sql "$host" DEMO "#SELECT NAME FROM PEOPLE ORDER BY NAME" --format json
same sql_param 0 sql "$host" DEMO "#SELECT NAME FROM PEOPLE WHERE NAME = &1" --param "1=it's"
same sql_no_db 1 sql "$host" NODB "#SELECT 1"
same sql_bad_format 2 sql "$host" DEMO "#SELECT 1" --format xml
same unknown_command 2 frobnicate
printf 'databases\nuse DEMO\ntables\nopen PEOPLE\nfields\nfirst\nnext\nlast\nprior\nread 1\nseek NAME Jones\nsql SELECT count(*) FROM PEOPLE\nquit\n' >"$out/shell.in"
same shell 0 shell "$host"
printf 'use NODB\nuse DEMO\nopen PEOPLE\nseek NAME nobody\nread 99\nquit\n' >"$out/shell_fail.in"
same shell_fail 1 shell "$host"

# Export from Windows, import that file on Linux under a new name: the same rows come back.
checks=$((checks + 1))
(cd "$bin" && timeout 120 "$wine64" zdb.exe -q export "$host" DEMO demo.export) ||
  fail "export: zdb.exe exits $?"
cp "$bin/demo.export" "$out/demo.export" 2>/dev/null && rm -f "$bin/demo.export"
[[ -s $out/demo.export ]] || fail "export: no file"
copy=DEMOWIN  # a fresh server: the import refuses a database that exists
"$linux_zdb" -q import "$host" "$copy" "$out/demo.export" >/dev/null ||
  fail "import of zdb.exe's export: exit $?"
same export_round 0 sql "$host" "$copy" "#SELECT * FROM PEOPLE ORDER BY NAME" --format csv
cmp -s "$out/export_round.win.txt" "$out/sql_csv.win.txt" || fail "export: the rows differ after import"

# An export to '-' is the bytes of the file; an import from '-' reads them.
checks=$((checks + 1))
(cd "$bin" && timeout 120 "$wine64" zdb.exe -q export "$host" DEMO -) >"$out/demo.stdout" ||
  fail "export to stdout: exit $?"
cmp -s "$out/demo.stdout" "$out/demo.export" || fail "export to stdout: not the bytes of the file"
(cd "$bin" && timeout 120 "$wine64" zdb.exe -q import "$host" DEMOSTD - >/dev/null) \
  <"$out/demo.export" || fail "import from stdin: exit $?"
same stdin_round 0 sql "$host" DEMOSTD "#SELECT * FROM PEOPLE ORDER BY NAME" --format csv
cmp -s "$out/stdin_round.win.txt" "$out/sql_csv.win.txt" || fail "import from stdin: the rows differ"

# dump writes CSV folders on Windows: the same files as the Linux tool's.
checks=$((checks + 1))
(cd "$bin" && timeout 120 "$wine64" zdb.exe -q dump "$host" -d DEMO -o dumpwin) || fail "dump: zdb.exe exits $?"
"$linux_zdb" -q dump "$host" -d DEMO --format csv -o "$out/dumplinux" || fail "dump (Linux): exit $?"
if [[ -d $bin/dumpwin ]]; then
  mv "$bin/dumpwin" "$out/dumpwin"
  diff -r "$out/dumplinux" "$out/dumpwin" >/dev/null ||
    fail "dump: CSV files differ from Linux's: $(diff -r "$out/dumplinux" "$out/dumpwin" | head -5)"
  [[ -s $out/dumpwin/DEMO/PEOPLE.csv ]] || fail "dump: no DEMO/PEOPLE.csv"
else
  fail "dump: no folder"
fi

refused trace "trace: not in this build" trace "$host"
refused dump_sqlite "SQLite dumps are not in this build" dump "$host" -o x.sqlite --format sqlite
refused load "load: not in this build" load "$host" -i x.sqlite
[[ ! -e $bin/x.sqlite ]] || fail "dump_sqlite: left x.sqlite behind"

if ((failures)); then
  echo "zdb.exe smoke: $failures of $checks checks failed" >&2
  exit 1
fi
echo "zdb.exe smoke: $checks checks passed (version, probe, error texts, sql in three formats," \
  "the shell's catalog and record commands, export/import through files and stdio, CSV dump," \
  "and what it leaves out)"
