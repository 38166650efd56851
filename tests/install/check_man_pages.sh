#!/usr/bin/env bash
# Every manual page renders with man(1) without a single warning, at the
# usual terminal widths.
set -u
status=0
for page in "$@"; do
  for width in 80 120; do
    warnings=$(MANWIDTH=$width man --warnings -l "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
      echo "FAIL: $page at width $width:"
      echo "$warnings"
      status=1
    fi
  done
  # The page must say something: a NAME line and a description.
  text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
  if ! grep -q "^NAME" <<<"$text" || ! grep -q "^DESCRIPTION" <<<"$text"; then
    echo "FAIL: $page has no NAME or DESCRIPTION section"
    status=1
  fi
done
exit $status
