SPDX-License-Identifier: Apache-2.0
The scenarios of llc2sim(8)'s EXAMPLES, copied from the rendered page, are
scenarios llc2sim accepts; a fault shown on its own is tried as the one
fault of a scenario.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ mandoc -T utf8 "$LLC2_SOURCE/man/llc2sim.8" | sed 's/.\x08//g' | awk '
  >   /^EXAMPLES/ { on = 1 }
  >   /^SEE ALSO/ { on = 0 }
  >   on && depth == 0 && /^ +\{/ { n++; text = "" }
  >   on && n && (depth > 0 || /^ +\{/) {
  >     text = text $0 "\n"
  >     depth += gsub(/\{/, "{") - gsub(/\}/, "}")
  >     if (depth == 0) {
  >       if (text ~ /^ *\{"request"/) text = "{\"faults\": [" text "]}\n"
  >       printf "%s", text > ("example" n ".json")
  >     }
  >   }'
  $ for f in example*.json; do start "$f" && echo "$f: llc2sim is ready"; done
  example1.json: llc2sim is ready
  example2.json: llc2sim is ready
  example3.json: llc2sim is ready
  example4.json: llc2sim is ready
  $ grep -ho '{"request".*}' example3.json example4.json
  {"request": "info", "dlpi": "poll_errno", "errno": "EIO"}
  {"request": "detach", "dlpi": "poll_errno", "errno": "ENOMEM"}
