#!/bin/sh
# Runs PROGRAM ARGS... and joins the indented lines that continue its "Usage:"
# line onto that line, the form help2man reads as the synopsis. A continuation
# that starts with the program's name is another form of the command: it gets
# its own line, as "  or:  PROGRAM ...", which help2man reads as such.
program=$1
shift
"$program" "$@" | awk -v name="$(basename "$program")" '
  NR == 1 && /^Usage:/ { usage = $0; joining = 1; next }
  joining && /^[ \t]+[^ \t]/ {
    sub(/^[ \t]+/, "")
    if (index($0, name " ") == 1 || $0 == name) { print usage; usage = "  or:  " $0 }
    else usage = usage " " $0
    next
  }
  joining { print usage; joining = 0 }
  { print }
  END { if (joining) print usage }'
