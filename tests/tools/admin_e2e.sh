#!/usr/bin/env bash
# admin_e2e.sh ZDB ZDBD: sets a server up from nothing with zdb alone, as an administrator with
# only the installed programs would: the first administrator, a database, a table with every
# field type, an index, a constraint, a default, a cross reference, a first record and a user
# who may only read one table. Then checks that the rules hold, that the read-only user is
# refused writes, and that everything reads back as JSON exactly as it was made.
# Runs with the build's programs (ctest) and with the packaged ones (CI); needs bash and python3.
set -euo pipefail
zdb=$1
zdbd=$2
work=$(mktemp -d)
pid=

stop_server() {
  if [[ -n $pid ]]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=
  fi
}
trap 'stop_server; rm -rf "$work"' EXIT

fail() {
  echo "admin_e2e: $*" >&2
  echo "--- zdbd log:" >&2
  cat "$work/log" >&2 || true
  exit 1
}

# A zdbd that serves metrics names the page in its log; zdb status reads it below.
metrics=()
"$zdbd" --help 2>&1 | grep -q -- '--metrics' && metrics=(--metrics 0)

start_server() {
  : >"$work/out"
  "$zdbd" --port 0 --data "$work/data" "${metrics[@]}" >"$work/out" 2>>"$work/log" &
  pid=$!
  for _ in $(seq 100); do
    grep -q '^zdbd listening on ' "$work/out" && break
    kill -0 "$pid" 2>/dev/null || fail "zdbd did not start"
    sleep 0.05
  done
  ZDB_HOST=$(sed -n 's/^zdbd listening on //p' "$work/out")
  [[ -n $ZDB_HOST ]] || fail "zdbd did not say where it listens"
  export ZDB_HOST
}

# expect CODE COMMAND...: runs the command, its stdout in $work/stdout and stderr in
# $work/stderr, and fails unless it exits with CODE.
expect() {
  local want=$1 code=0
  shift
  "$@" >"$work/stdout" 2>"$work/stderr" </dev/null || code=$?
  [[ $code == "$want" ]] || fail "exit $code, not $want: $* ($(cat "$work/stderr"))"
}

unset ZDB_PASSWORD ZDB_NEW_PASSWORD ZDB_HOST
start_server

# The first administrator: on a fresh server over loopback zdb adds it; a zdbd that wants it
# made beforehand names --init-admin in its help.
export ZDB_PASSWORD=root-secret
if ! ZDB_NEW_PASSWORD=root-secret "$zdb" -q -u root user add root --admin 2>"$work/stderr"; then
  "$zdbd" --help 2>&1 | grep -q -- '--init-admin' ||
    fail "the first administrator cannot be made: $(cat "$work/stderr")"
  stop_server
  echo root-secret | "$zdbd" --data "$work/data" --init-admin root >>"$work/log" 2>&1 ||
    fail "zdbd --init-admin failed"
  start_server
fi
root() { "$zdb" -q -u root "$@"; }

# A database, two tables (one with each field type and subtype), a field's life, an index, a
# constraint, a default and a cross reference.
expect 0 root db create SHOP
expect 0 root table create SHOP KINDS 'KIND C 10' --description 'Kinds of items'
expect 0 root table create SHOP ITEMS \
  'NAME C 20; PRICE N; QTY I; BORN C D; CODE C N 8; NOTE C M; PIC C B; KIND C 10' \
  --description 'Items on sale'
expect 0 root field add SHOP ITEMS 'EXTRA C 5' --description 'scratch'
expect 0 root field change SHOP ITEMS EXTRA 'SPARE C 8'
expect 2 root field drop SHOP ITEMS SPARE
grep -q -- '--yes' "$work/stderr" || fail "a drop without --yes does not name --yes"
expect 0 root field drop SHOP ITEMS SPARE --yes
expect 0 root index create SHOP ITEMS BYNAME NAME --unique
expect 1 root index create SHOP ITEMS BYNAME QTY
grep -q 4025 "$work/stderr" || fail "a second BYNAME index was not refused with 4025"
expect 0 root constraint add SHOP ITEMS QTY range --min 0 --max 1000 --description 'in stock'
expect 0 root default set SHOP ITEMS QTY 1
expect 0 root xref add SHOP ITEMKIND ITEMS.KIND KINDS.KIND --description 'kind of item'

# A user who may read ITEMS and nothing else; the password comes from standard input.
echo 'reader-secret' | root user add reader --password-stdin >/dev/null ||
  fail "user add reader failed"
expect 0 root grant reader SHOP ITEMS read
expect 2 root grant reader SHOP ITEMS read,frob

# The first records, and the rules the server keeps on every write.
expect 0 root sql SHOP "#INSERT INTO KINDS (KIND) VALUES ('pen')"
expect 0 root sql SHOP "#INSERT INTO ITEMS (NAME, PRICE, BORN, KIND) VALUES ('blue pen', 1.5, '2024-02-29', 'pen')"
expect 1 root sql SHOP "#INSERT INTO ITEMS (NAME, QTY, KIND) VALUES ('crate', 5000, 'pen')"
expect 1 root sql SHOP "#INSERT INTO ITEMS (NAME, KIND) VALUES ('brush', 'paint')"
expect 1 root sql SHOP "#INSERT INTO ITEMS (NAME, KIND) VALUES ('blue pen', 'pen')"

# The read-only user reads ITEMS, and is refused a write, another table and administration.
reader() { ZDB_PASSWORD=reader-secret "$zdb" -q -u reader "$@"; }
printf 'use SHOP\nopen ITEMS\nfirst\n' | reader shell >"$work/stdout" 2>"$work/stderr" ||
  fail "the reader cannot read ITEMS: $(cat "$work/stdout" "$work/stderr")"
grep -q 'blue pen' "$work/stdout" || fail "the reader does not see the first record"
expect 1 reader sql SHOP "#INSERT INTO ITEMS (NAME, KIND) VALUES ('red pen', 'pen')"
grep -q 4005 "$work/stderr" || fail "the reader's write was not refused with 4005"
printf 'use SHOP\nopen KINDS\nfirst\n' | reader shell >"$work/stdout" 2>&1 &&
  fail "the reader reads KINDS"
grep -q 4005 "$work/stdout" || fail "the reader's read of KINDS was not refused with 4005"
expect 1 reader db create OTHER
ZDB_NEW_PASSWORD=intruder-secret expect 1 reader user add intruder
grep -q 4005 "$work/stderr" || fail "the reader's user add was not refused with 4005"
ZDB_PASSWORD=wrong expect 1 "$zdb" -q -u root user list

# Everything read back as JSON, compared as data.
compare() {
  python3 - "$work/stdout" "$1" <<'PY' || fail "$2 differs (got, then wanted): $(cat "$work/stdout") $1"
import json, sys
got = json.load(open(sys.argv[1]))
want = json.loads(sys.argv[2])
sys.exit(0 if got == want else 1)
PY
}
expect 0 root user list --format json
compare '[{"name":"reader","role":"USER","grants":[{"database":"SHOP","table":"ITEMS","privileges":["read"]}]},
          {"name":"root","role":"ADMIN","grants":[]}]' "user list"
expect 0 root db list --format json
compare '[{"name":"SHOP","tables":2}]' "db list"
expect 0 root table list SHOP --format json
compare '[{"name":"KINDS","fields":1,"records":1,"description":"Kinds of items"},
          {"name":"ITEMS","fields":8,"records":1,"description":"Items on sale"}]' "table list"
expect 0 root table describe SHOP ITEMS --format json
compare '{"database":"SHOP","name":"ITEMS","description":"Items on sale","records":1,
  "fields":[{"name":"NAME","type":"C","subtype":"","width":20,"description":""},
            {"name":"PRICE","type":"N","subtype":"","width":20,"description":""},
            {"name":"QTY","type":"I","subtype":"","width":6,"description":""},
            {"name":"BORN","type":"C","subtype":"D","width":10,"description":""},
            {"name":"CODE","type":"C","subtype":"N","width":8,"description":""},
            {"name":"NOTE","type":"C","subtype":"M","width":255,"description":""},
            {"name":"PIC","type":"C","subtype":"B","width":255,"description":""},
            {"name":"KIND","type":"C","subtype":"","width":10,"description":""}],
  "indexes":[{"name":"BYNAME","unique":true,"fields":["NAME"]}],
  "constraints":[{"field":"QTY","number":1,"kind":"range","value1":"0","value2":"1000",
                  "description":"in stock"}],
  "defaults":[{"field":"QTY","value":"1"}],
  "xrefs":[{"name":"ITEMKIND","kind":"field","from":"ITEMS.KIND","to":"KINDS.KIND",
            "rule":"RESTRICT","description":"kind of item"}]}' "table describe"
expect 0 root sql SHOP '#SELECT NAME, PRICE, QTY, BORN, KIND FROM ITEMS' --format json
compare '[{"NAME":"blue pen","PRICE":1.5,"QTY":1,"BORN":"2024-02-29","KIND":"pen"}]' "the first record"

# The server's state: over the protocol, and from its metrics page when it serves one.
expect 0 root status --format json
check_status() {
  python3 - "$work/stdout" <<'PY' || fail "status: $(cat "$work/stdout")"
import json, sys
s = json.load(open(sys.argv[1]))
sys.exit(0 if s["answers"] == "yes" and int(s["databases"]) == 1 else 1)
PY
}
check_status
if ((${#metrics[@]})); then
  page=$(sed -n 's|.*metrics at http://\([0-9.]*:[0-9]*\)/metrics.*|\1|p' "$work/log" | tail -1)
  [[ -n $page ]] || fail "zdbd --metrics 0 names no page in its log"
  expect 0 "$zdb" status --metrics "$page" --format json
  python3 - "$work/stdout" <<'PY' || fail "the metrics page: $(cat "$work/stdout")"
import json, sys
samples = {m["name"] + m["labels"]: float(m["value"]) for m in json.load(open(sys.argv[1]))}
sys.exit(0 if samples.get("zdbd_sessions_opened_total", 0) >= 20 else 1)
PY
fi

# The same verbs inside the shell, and drops that leave nothing behind.
printf 'index list SHOP ITEMS --format json\nindex drop SHOP ITEMS BYNAME --yes\nindex list SHOP ITEMS --format json\n' |
  root shell >"$work/stdout" 2>"$work/stderr" || fail "shell verbs failed: $(cat "$work/stderr")"
tr -d '\n' <"$work/stdout" | grep -qx '\[{"name":"BYNAME","unique":true,"fields":\["NAME"\]}\]\[\]' ||
  fail "the shell's index list and drop: $(cat "$work/stdout")"
expect 0 root user drop reader --yes
expect 0 root db drop SHOP --yes
expect 0 root db list --format json
compare '[]' "db list after the drop"
expect 0 root stop
pid_was=$pid
wait "$pid_was" 2>/dev/null || true
pid=
echo "admin_e2e: a server set up, used and listed back with zdb alone"
