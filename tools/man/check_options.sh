#!/bin/sh
# Every option that `zdbd --help` lists is in zdbd.8, and every command (and every verb of a
# command that has them) that `zdb --help` lists is in zdb.1. The lists come from the programs
# at test time, so a new option or command without its man page entry fails here.
#   check_options.sh ZDBD ZDB ZDBD_PAGE ZDB_PAGE
set -u
zdbd=$1 zdb=$2 zdbd_page=$3 zdb_page=$4
status=0
render() {  # the page as plain text, hyphens as typed
  LC_ALL=C groff -man -Tascii -P-cbou "$1" 2>/dev/null
}
# Lines "  NAME   help" under the heading "Subcommands:" of a CLI11 help text.
commands_of() {
  sed -n '/^Subcommands:/,/^$/s/^  \([a-z][a-z0-9-]*\) .*/\1/p'
}

zdbd_text=$(render "$zdbd_page")
options=$("$zdbd" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p')
[ -n "$options" ] || { echo "zdbd --help lists no options"; exit 1; }
count=0
for option in $options; do
  count=$((count + 1))
  if ! printf '%s\n' "$zdbd_text" | grep -q -e "$option\\b"; then
    echo "zdbd.8 lacks $option"
    status=1
  fi
done
echo "zdbd: $count options in --help checked against zdbd.8"

zdb_text=$(render "$zdb_page")
commands=$("$zdb" --help | commands_of)
[ -n "$commands" ] || { echo "zdb --help lists no commands"; exit 1; }
count=0
for command in $commands; do
  count=$((count + 1))
  # A command entry starts a line of the page, the way .TP and .SS lay them out.
  if ! printf '%s\n' "$zdb_text" | grep -q -E "^ *(zdb )?$command( |\$)"; then
    echo "zdb.1 lacks the command $command"
    status=1
  fi
  for verb in $("$zdb" "$command" --help 2>/dev/null | commands_of); do
    count=$((count + 1))
    if ! printf '%s\n' "$zdb_text" | grep -q -E "(^|[ ])$command $verb( |\$)"; then
      echo "zdb.1 lacks the command $command $verb"
      status=1
    fi
  done
done
echo "zdb: $count commands in --help checked against zdb.1"
exit $status
