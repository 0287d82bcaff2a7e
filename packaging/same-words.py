#!/usr/bin/env python3
"""same-words.py HELP MANPAGE: checks that a rendered manual page says what the
program's --help text says, word for word.

help2man lays the text out anew and turns the "Usage:" line into the SYNOPSIS
and headings such as "Options:" into sections, so the words are compared, not
the lines: the man page's words from SYNOPSIS up to SEE ALSO, without its
section headings, must be the --help words without "Usage:" and those headings."""
import re
import sys


def plain(text):
    # groff's typographic hyphens, minus signs and quotes back to plain ones
    for a, b in (("\u2010", "-"), ("\u2212", "-"), ("\u2019", "'"), ("\u2018", "`"),
                 ("\u201c", '"'), ("\u201d", '"')):
        text = text.replace(a, b)
    return text


help_lines = plain(open(sys.argv[1], encoding="utf-8").read()).splitlines()
help_words = []
for line in help_lines:
    if re.fullmatch(r"[A-Z][A-Za-z ]*:", line.strip()) and not line.startswith(" "):
        continue  # a heading: help2man makes it a section
    help_words += line.split()
if help_words[:1] == ["Usage:"]:
    help_words = help_words[1:]

man_words = []
inside = False
for line in plain(open(sys.argv[2], encoding="utf-8").read()).splitlines():
    if line and not line[0].isspace():  # a section heading (or the page's header and footer)
        if line.strip() == "SYNOPSIS":
            inside = True
        elif line.strip() == "SEE ALSO":
            inside = False
        continue
    if inside:
        man_words += line.split()

for n, (h, m) in enumerate(zip(help_words, man_words)):
    if h != m:
        print(f"{sys.argv[2]}: word {n + 1}: --help has '{h}', the manual page '{m}' "
              f"(after: {' '.join(help_words[max(0, n - 8):n])})", file=sys.stderr)
        sys.exit(1)
if len(help_words) != len(man_words):
    longer = "--help" if len(help_words) > len(man_words) else "the manual page"
    print(f"{sys.argv[2]}: {longer} goes on: "
          f"{' '.join((help_words if longer == '--help' else man_words)[min(len(help_words), len(man_words)):][:12])}",
          file=sys.stderr)
    sys.exit(1)
