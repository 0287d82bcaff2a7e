#!/bin/sh
# Runs PROGRAM ARGS... and joins the indented lines that continue its "Usage:"
# line onto that line, the form help2man reads as the synopsis.
program=$1
shift
"$program" "$@" | awk '
  NR == 1 && /^Usage:/ { usage = $0; joining = 1; next }
  joining && /^[ \t]+[^ \t]/ { sub(/^[ \t]+/, " "); usage = usage $0; next }
  joining { print usage; joining = 0 }
  { print }
  END { if (joining) print usage }'
