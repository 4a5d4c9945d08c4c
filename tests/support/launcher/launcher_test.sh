#!/usr/bin/env bash
# launcher_test.sh LAUNCHER: the launcher's line protocol, request by request, with exact
# answers: a server started with options serves on the port it names and writes its log, the
# stop verbs give zdbd's exit status, unknown names and verbs are refused, and nothing is left
# behind: no server process after end or after the launcher's own SIGTERM, no log file.
set -uo pipefail
launcher=$1
work=$(mktemp -d)
failures=0
trap 'kill "$lpid" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
# ask REQUEST: the launcher's whole answer.
ask() {
  exec 3<>"/dev/tcp/127.0.0.1/$port" || return 1
  printf '%s\n' "$1" >&3
  cat <&3
  exec 3<&-
}
expect() {  # expect WHAT GOT WANTED
  [[ $2 == "$3" ]] || fail "$1: got '$2', want '$3'"
}

"$launcher" --lifetime 120 >"$work/out" 2>"$work/err" &
lpid=$!
for _ in $(seq 100); do
  port=$(sed -n 's/^zdbd launcher listening on 127\.0\.0\.1://p' "$work/out")
  [[ -n $port ]] && break
  sleep 0.1
done
[[ -n $port ]] || { echo "FAILED: the launcher named no port" >&2; exit 1; }

a=$(ask $'start\t'"$work/data"$'\t--max-sessions\t3')
[[ $a =~ ^ok$'\t'([0-9]+)$'\t'([0-9]+)$ ]] || fail "start: '$a'"
pid=${BASH_REMATCH[1]} zport=${BASH_REMATCH[2]}
kill -0 "$pid" 2>/dev/null || fail "start: no process $pid"
[[ $(tr '\0' ' ' <"/proc/$pid/cmdline") == *"--data $work/data --max-sessions 3 "* ]] ||
  fail "start: zdbd's options: $(tr '\0' ' ' <"/proc/$pid/cmdline")"
# The named port is zdbd's and takes connections.
exec 4<>"/dev/tcp/127.0.0.1/$zport" || fail "start: nothing listens on $zport"
exec 4<&-
[[ -d $work/data ]] || fail "start: no data directory"

a=$(ask $'log\t'"$pid")
[[ $a == ok$'\t'* && $a == *"serving data directory $work/data"* ]] || fail "log: '$a'"
len=${a#ok$'\t'}
len=${len%%$'\n'*}
expect "log length" "$len" "$(($(printf '%s' "${a#*$'\n'}" | wc -c) + 1))"
a=$(ask $'rss\t'"$pid")
[[ $a =~ ^ok$'\t'[1-9][0-9]*$ ]] || fail "rss: '$a'"
expect "wait while running" "$(ask $'wait\t'"$pid"$'\t100')" running
expect terminate "$(ask $'terminate\t'"$pid")" ok
expect "wait after terminate" "$(ask $'wait\t'"$pid"$'\t10000')" $'ok\t0'
kill -0 "$pid" 2>/dev/null && fail "terminate: process $pid still there"
[[ $(ask $'log\t'"$pid") == *"stopped after"* ]] || fail "log after the stop"
[[ -f $work/data.log ]] || fail "the log file is not where expected"
expect end "$(ask $'end\t'"$pid")" ok
[[ ! -e $work/data.log ]] || fail "end: the log file was left behind"
expect "end again" "$(ask $'end\t'"$pid")" $'error\tno such server'
expect "unknown server" "$(ask $'log\t1')" $'error\tno such server'
expect "start without a directory" "$(ask start)" $'error\tstart needs a data directory'
expect "start that fails" "$(ask $'start\t'"$work/data2"$'\t--no-such-option')" \
  $'error\tzdbd did not start'

# stop: SIGTERM and the wait in one; then the launcher's own end stops what is still running.
a=$(ask $'start\t'"$work/data3")
[[ $a =~ ^ok$'\t'([0-9]+) ]] || fail "second start: '$a'"
pid3=${BASH_REMATCH[1]}
expect "unknown verb" "$(ask $'frobnicate\t'"$pid3")" $'error\tunknown request'
expect stop "$(ask $'stop\t'"$pid3")" $'ok\t0'
# kill: SIGKILL, seen by wait as an end by a signal.
a=$(ask $'start\t'"$work/data5")
[[ $a =~ ^ok$'\t'([0-9]+) ]] || fail "start before kill: '$a'"
pid5=${BASH_REMATCH[1]}
expect kill "$(ask $'kill\t'"$pid5")" ok
expect "wait after kill" "$(ask $'wait\t'"$pid5"$'\t10000')" $'ok\t-1'
kill -0 "$pid5" 2>/dev/null && fail "kill: process $pid5 still there"
a=$(ask $'start\t'"$work/data4")
[[ $a =~ ^ok$'\t'([0-9]+) ]] || fail "third start: '$a'"
pid4=${BASH_REMATCH[1]}
kill -TERM "$lpid"
wait "$lpid"
expect "the launcher's exit status" "$?" 0
kill -0 "$pid4" 2>/dev/null && fail "the launcher's end left zdbd $pid4 running"
[[ ! -e $work/data4.log ]] || fail "the launcher's end left a log file"

((failures == 0)) || exit 1
echo "launcher protocol: every answer as expected"
