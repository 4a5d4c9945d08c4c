#!/usr/bin/env bash
# check_guide.sh ROOT: docs/guide.md quotes every example of docs/examples as it stands. An
# example is quoted as a line "<!-- example: NAME.c -->" followed by a ```c block that must be
# the file's content, byte for byte.
set -euo pipefail
root=$1
guide=$root/docs/guide.md
failed=0
for file in "$root"/docs/examples/*.c "$root"/docs/examples/downstream/*; do
  rel=${file#"$root"/docs/examples/}
  quoted=$(awk -v marker="<!-- example: $rel -->" '
    $0 == marker { found = 1; next }
    found == 1 && /^```/ { found = 2; next }
    found == 2 && /^```$/ { exit }
    found == 2 { print }' "$guide")
  if [[ -z "$quoted" ]]; then
    echo "check_guide: docs/guide.md does not quote $rel" >&2
    failed=1
  elif ! diff -u "$file" <(printf '%s\n' "$quoted") >&2; then
    echo "check_guide: the guide's copy of $rel differs from the file (- file, + guide)" >&2
    failed=1
  fi
done
((failed == 0)) && echo "check_guide: the guide quotes every example as it stands"
exit "$failed"
