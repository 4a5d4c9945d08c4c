#!/bin/sh
# Renders each man page with every groff warning enabled; any warning fails the check.
status=0
for page in "$@"; do
  out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  if [ -n "$out" ]; then
    echo "$page: groff warnings:"
    echo "$out"
    status=1
  else
    echo "$page: renders without warnings"
  fi
done
exit $status
