#!/bin/sh
# Renders each man page with every groff warning enabled (what `man --warnings -l` runs, without
# man-db's change of user, which may not read a checkout under /root); any warning fails.
status=0
for page in "$@"; do
  out=$(LC_ALL=C.UTF-8 groff -ww -z -man -Tutf8 "$page" 2>&1)
  if [ -n "$out" ]; then
    echo "$page: groff warnings:"
    echo "$out"
    status=1
  else
    echo "$page: renders without warnings"
  fi
done
exit $status
