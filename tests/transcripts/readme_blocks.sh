#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# readme_blocks.sh README TRANSCRIPT...: every transcript block of the README
# (a ```text block whose first line is a "$ " command) must appear, as it
# stands, in one of the cram transcripts, which run it against llc2sim. A
# block right after a line "<!-- not checked: REASON -->" is left out.
set -euo pipefail
readme=$1
shift
awk '
FNR == 1 && FILENAME != README { file = FILENAME }
FILENAME != README { text[file] = text[file] $0 "\n"; next }
/^<!-- not checked: .* -->$/ { skip = 1; next }
/^```text$/ { inblock = 1; block = ""; start = FNR; next }
inblock && /^```$/ {
  inblock = 0
  if (block ~ /^  \$ /) {
    if (skip) {
      skipped++
    } else {
      found = 0
      for (f in text)
        if (index(text[f], block)) found = 1
      if (found) {
        checked++
      } else {
        printf "%s:%d: this transcript is in no cram transcript\n", README, start
        bad++
      }
    }
  }
  skip = 0
  next
}
# A tab is shown as cram shows it, which is how the transcript holds it.
inblock && /\t/ { gsub(/\\/, "\\\\"); gsub(/\t/, "\\t"); block = block "  " $0 " (esc)\n"; next }
inblock { block = block "  " $0 "\n"; next }
NF { skip = 0 }
END {
  printf "%d README transcripts checked, %d marked not checked\n", checked, skipped
  exit (bad > 0 || checked == 0)
}
' README="$readme" "$@" "$readme"
