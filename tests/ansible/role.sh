#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# role.sh BUILD SOURCE: the role llc2.llc2.ppas run by ansible-playbook, and
# the modules run by ansible, on a local connection against llc2sim: from
# nothing, again, one keyword changed in check mode and for real, a PPA
# dropped, the modules' results, PPAs taken down by hand, no driver.
set -uo pipefail
build=$1
src=$2
. "$src/tests/ansible/lib.sh"
. "$src/scripts/lib/sim.sh"
ansible_setup "$src"
root=$tmp/r
conf=$root/etc/llc2/default
trap 'sim_stop; rm -rf "$tmp"' EXIT
mkdir "$root" "$tmp/bin"
ln -s "$build/cmd/llc2" "$build/llc2conf/llc2conf" "$tmp/bin/"
echo '{"interfaces": [{"name": "xnic"}]}' >"$tmp/xnic.json"
echo 'localhost ansible_connection=local ansible_python_interpreter=/usr/bin/python3' >"$tmp/hosts"
export ANSIBLE_INVENTORY=$tmp/hosts
sim_start "$root" "$tmp/xnic.json" || exit 1

llc2() { LLC2_ROOT=$root "$tmp/bin/llc2" "$@"; }
status_of() { llc2 --status 2>&1; echo "[exit $?]"; }

# role PPAS [OPTION...]: the role with llc2_ppas PPAS (JSON; empty, none),
# llc2 and llc2conf in llc2_bin_dir only; recap is "changed=N failed=N".
role() {
  local vars="{\"llc2_root\": \"$root\", \"llc2_bin_dir\": \"$tmp/bin\"${1:+, \"llc2_ppas\": $1}}"
  shift
  ansible-playbook "$src/tests/ansible/site.yml" -e "$vars" "$@" >"$tmp/out" 2>&1
  recap=$(sed -n 's/^localhost *:.* \(changed=[0-9]*\) .* \(failed=[0-9]*\) .*/\1 \2/p' "$tmp/out")
}
# role_json PPAS [OPTION...]: role with the json callback; recap as role sets
# it, and actions: the apply task's, "would" and the verb made the done form.
role_json() {
  ANSIBLE_STDOUT_CALLBACK=json role "$@"
  recap=$(jq -r '.stats.localhost | "changed=\(.changed) failed=\(.failures)"' "$tmp/out")
  actions=$(jq -c '[.plays[0].tasks[] | select(.task.name | endswith("The driver brought to the files"))
    | .hosts.localhost.actions // empty | .[] | .action |= ({"would take down": "taken down",
      "would re-plumb and initialise": "re-plumbed and initialised",
      "would plumb and initialise": "plumbed and initialised",
      "would re-initialise": "re-initialised", "would initialise": "initialised"}[.] // .)]' \
    "$tmp/out")
}
expect_recap() { # WHAT WANT
  [ "$recap" = "$2" ] || { fail "$1: $recap, want $2"; cat "$tmp/out"; }
}

# mod MODULE ARGS [OPTION...]: one module, llc2 and llc2conf found on PATH;
# prints its result, with "failed" from ansible's exit status and "shown",
# what ansible showed (the callback keeps a diff only for the screen).
mod() {
  local failed=false
  rm -rf "$tmp/tree"
  PATH=$tmp/bin:$PATH LLC2_ROOT=$root ansible localhost -m "llc2.llc2.$1" ${2:+-a "$2"} \
    -t "$tmp/tree" "${@:3}" >"$tmp/out" 2>&1 || failed=true
  jq --argjson failed "$failed" --rawfile shown "$tmp/out" '.failed = $failed | .shown = $shown' \
    "$tmp/tree/localhost"
}

# Every entry of the configuration directory, with its inode and times.
files() { find "$conf" -mindepth 1 -printf '%f %i %T@ %C@ %s\n' | sort; }
# What the driver was asked since the mark, probes (GETPPA, GETLINK) and DLPI
# queries left out.
mark() { mark=$(wc -l <"$root/llc2sim.log"); }
changes() {
  tail -n "+$((mark + 1))" "$root/llc2sim.log" | jq -r '
    select((.kind | IN("open", "close", "getmsg", "poll", "flush", "ident"))
           or (.request | IN("getppa", "getlink", "attach", "info", "detach")) | not)
    | [.request // .kind, .ppa] | map(select(. != null) | tostring) | join(" ")'
}

p0='{"ppa": 0, "link": "xnic0"}'
p1() { echo "{\"ppa\": 1, \"link\": \"xnic1\", \"settings\": {\"acktimer\": $1}}"; }
p2='{"ppa": 2, "link": "xnic2", "enabled": false}'

role "[$p0, $(p1 5), $p2]"
expect_recap "from nothing" "changed=2 failed=0"
same "from nothing: llc2 --status" "$(status_of)" \
  $'PPA 0: up\nPPA 1: up\nPPA 2: switched off\n[exit 0]'

before=$(files)
mark
role "[$p0, $(p1 5), $p2]"
expect_recap "again" "changed=0 failed=0"
same "again: the files" "$(files)" "$before"
same "again: the driver asked" "$(changes)" ""

# Check mode foresees the real run on a host that drifted: a keyword
# changed, an unusable file and a stray one, both of which the role,
# exclusive, deletes.
# The files are staged in a copy; the live ones and the driver are not
# touched, and the copy is gone afterwards.
echo devicename=xnic >"$conf/llc2.41"
cp "$conf/llc2.2" "$conf/llc2.40"
before=$(files)
mark
role "[$p0, $(p1 6), $p2]" -e '{"llc2_exclusive": true}' --check --diff
expect_recap "--check --diff" "changed=3 failed=0"
if ! grep -q $'^-acktimer=5\t' "$tmp/out" || ! grep -q $'^+acktimer=6\t' "$tmp/out"; then
  fail "--check --diff: no diff of acktimer"
fi
role_json "[$p0, $(p1 6), $p2]" -e '{"llc2_exclusive": true}' --check
expect_recap "--check" "changed=3 failed=0"
foreseen=$actions
same "--check: the files" "$(files)" "$before"
same "--check: the driver asked" "$(changes)" ""
same "--check: stages left" "$(find "${TMPDIR:-/tmp}" -maxdepth 1 -name 'llc2-stage.*' 2>/dev/null)" ""
mark
role_json "[$p0, $(p1 6), $p2]" -e '{"llc2_exclusive": true}'
expect_recap "one keyword changed" "changed=3 failed=0"
same "one keyword changed: what check mode foresaw" "$actions" "$foreseen"
same "one keyword changed: the actions" "$actions" \
  '[{"action":"re-initialised","keywords":["acktimer"],"ppa":1}]'
same "one keyword changed: the driver asked" "$(changes)" $'uninit 1\ndisable 1\nenable 1\ninit 1'
role "[$p0, $(p1 6), $p2]"
expect_recap "one keyword changed, again" "changed=0 failed=0"

# Numbers a template made strings are the same PPAs: nothing to change,
# no file removed, nothing taken down.
before=$(files)
mark
role '[{"ppa": "{{ base }}", "link": "xnic0"}, {"ppa": "{{ base | int + 1 }}", "link": "xnic1",
  "settings": {"acktimer": 6}}, {"ppa": "{{ base | int + 2 }}", "link": "xnic2", "enabled": false}]' \
  -e '{"base": 0, "llc2_exclusive": true}'
expect_recap "templated numbers" "changed=0 failed=0"
same "templated numbers: the files" "$(files)" "$before"
same "templated numbers: the driver asked" "$(changes)" ""

# By default what the list leaves out is left alone; exclusive, removed.
before=$(files)
mark
role "[$(p1 6), $p2]" -e '{"llc2_exclusiv": true}'
expect_recap "PPA 0 not listed" "changed=0 failed=0"
same "PPA 0 not listed: the files" "$(files)" "$before"
same "PPA 0 not listed: the driver asked" "$(changes)" ""
role "[$(p1 6), $p2]" -e '{"llc2_exclusive": true}'
expect_recap "PPA 0 dropped" "changed=2 failed=0"
[ ! -e "$conf/llc2.0" ] || fail "PPA 0 dropped: llc2.0 is still there"
held=$(llc2 --json | jq -c '[.ppas[] | select(.state) | .ppa]')
same "PPA 0 dropped: the PPAs held" "$held" "[1]"

# Refused before anything is done: the recap, the whole message, no file
# touched, no request but probes.
while IFS='~' read -r what ppas options want; do
  before=$(files)
  mark
  # shellcheck disable=SC2086 # the options are words
  role "$ppas" $options
  expect_recap "$what" "changed=0 failed=1"
  grep -qF "\"msg\": \"$want\"" "$tmp/out" || { fail "$what: not the message $want"; cat "$tmp/out"; }
  same "$what: the files" "$(files)" "$before"
  same "$what: the driver asked" "$(changes)" ""
done <<EOF
no llc2_ppas~~~Validation of arguments failed:\\nmissing required arguments: llc2_ppas
llc2_ppas misspelt~~-e {"llc2_ppa":[{"ppa":2,"link":"xnic2"}]}~Validation of arguments failed:\\nmissing required arguments: llc2_ppas
no programs~[$p2]~-e {"llc2_bin_dir":"/nonexistent"}~llc2_bin_dir holds no llc2 and llc2conf programs: /nonexistent
empty~[]~-e {"llc2_exclusive":true}~llc2_ppas is empty and llc2_exclusive is true: every file would be removed and every PPA taken down. Removing every PPA must be asked for with llc2_allow_empty: true.
twice, 300, bad link, bad value~[$(p1 6), $p2, $(p1 7), {"ppa": 300, "link": "xnic3"}, {"ppa": 4, "link": "x"}, {"ppa": 5, "link": "xnic5", "settings": {"acktimer": -1}}, $p2]~~Nothing done, items refused: PPA 300: Not a PPA number, 0 to 255: 300; PPA 4: Invalid link name: x; PPA 5: Invalid value for acktimer: -1: a whole number from 0 up is expected; PPA 1: listed more than once; PPA 2: listed more than once
string and number~[{"ppa": "1", "link": "xnic1"}, {"ppa": 1, "link": "xnic1"}]~~Nothing done, items refused: PPA 1: listed more than once
EOF
# An empty list goes through when asked for, or when not exclusive.
role "[]" -e '{"llc2_allow_empty": true, "llc2_exclusive": true}' --check
expect_recap "empty, llc2_allow_empty, --check" "changed=2 failed=0"
role "[]"
expect_recap "empty, not exclusive" "changed=0 failed=0"

# The modules' results, one after the other on the state the last left.
while IFS='~' read -r module args options expr want; do
  # shellcheck disable=SC2086 # the options are words
  same "$module $args $options" "$(mod "$module" "$args" $options | jq -cS "$expr")" "$want"
done <<'EOF'
ppa~{"ppa": 3, "link": "xnic3"}~--check --diff~[.changed, .result, (.shown | test("\n[+]deviceinstance=3\n"))]~[true,"created",true]
ppa~{"ppa": 1, "link": "xnic1", "settings": {"acktimer": 9, "maxretry": 3}}~~[.changed, .result]~[true,"replaced"]
ppa_info~~~[.changed, .as_configured, [.ppas[] | [.ppa, .pending]], (.shown | test("DEPRECATION"))]~[false,false,[[1,["acktimer","maxretry"]],[2,null]],false]
info~~~[.failed, .msg]~[true,"[DEPRECATED]: llc2.llc2.info has been removed. Use llc2.llc2.ppa_info instead; llc2.llc2.info was its old name. This feature was removed from llc2.llc2 in version 2.0.0. Please update your playbooks."]
conf_info~~~[.changed, [.ppas[] | [.ppa, .llc2_on]]]~[false,[[1,1],[2,0]]]
apply~~--check~[.changed, .actions]~[true,[{"action":"would re-initialise","keywords":["acktimer","maxretry"],"ppa":1}]]
apply~~~[.changed, .actions]~[true,[{"action":"re-initialised","keywords":["acktimer","maxretry"],"ppa":1}]]
ppa~{"ppa": 1, "link": "xnic1", "settings": {"acktimer": 6}}~~[.changed, .result]~[true,"replaced"]
ppa~{"ppa": 0, "state": "absent"}~~[.changed, .result]~[false,"absent"]
ppa~{"ppa": 1, "link": "xnic1", "settings": {"llc2_on": 0}}~~[.failed, .msg]~[true,"llc2_on is not a setting: use enabled"]
ppa~{"ppa": 300, "state": "absent"}~~[.failed, .msg]~[true,"Not a PPA number, 0 to 255: 300"]
apply~{"ppas": [300, 1, -1]}~~[.failed, .msg, .changed]~[true,"Not a PPA number, 0 to 255: 300, -1",false]
ppa~{"ppa": 1}~~[.failed, .msg]~[true,"state is present but all of the following are missing: link"]
ppa_info~{"llc2_path": "/nonexistent/llc2"}~~[.failed, .msg]~[true,"llc2_path names no llc2 program: /nonexistent/llc2"]
ppa~{"ppa": 1, "link": "xnic1", "settings": {"acktimer": "x"}}~~[.failed, (.msg | test("^Invalid value for acktimer")), (.stderr | test("^Invalid value for acktimer")), .stdout]~[true,true,true,""]
conf_info~{"config_dir": "/etc/passwd"}~~[.failed, .rc, .stdout, .stderr]~[true,1,"","Cannot use configuration directory /etc/passwd: Not a directory\n"]
EOF
[ ! -e "$conf/llc2.3" ] || fail "ppa in check mode: llc2.3 written"
# A PPA brought up and another file unusable: failed, but changed; llc2's
# whole output passed on.
llc2 -u 1
echo devicename=xnic >"$conf/llc2.5"
same "apply, PPA 5 unusable" \
  "$(mod apply '' | jq -cS '[.failed, .changed, .actions, (.msg | test("^PPA 5: ")),
    (.stderr | test("^PPA 5: ")), (.stdout | fromjson | .failed | map(.ppa))]')" \
  '[true,true,[{"action":"plumbed and initialised","keywords":[],"ppa":1}],true,true,[5]]'
rm "$conf/llc2.5"

llc2 -U
role "[$(p1 6), $p2]"
expect_recap "after llc2 -U" "changed=1 failed=0"
same "after llc2 -U: llc2 --status" "$(status_of)" $'PPA 1: up\nPPA 2: switched off\n[exit 0]'

sim_stop
before=$(files)
role "[$(p1 7), $p2, {\"ppa\": 3, \"link\": \"xnic3\"}]"
expect_recap "no driver" "changed=0 failed=1"
grep -q '"msg": "Cannot open LLC2 device: No such file or directory"' "$tmp/out" ||
  fail "no driver: llc2's message missing"
same "no driver: the files" "$(files)" "$before"
role "[$(p1 7), $p2, {\"ppa\": 3, \"link\": \"xnic3\"}]" -e '{"llc2_apply": false}'
expect_recap "no driver, llc2_apply false" "changed=1 failed=0"
[ -f "$conf/llc2.3" ] || fail "no driver, llc2_apply false: llc2.3 not written"

# A PPA the driver will not tell about is not as configured, though every
# other one is.
LLC2_ROOT=$root "$tmp/bin/llc2conf" delete 3 >/dev/null
echo '{"interfaces": [{"name": "xnic"}], "faults": [{"request": "getppa", "ppa": 1, "errno": "EIO"}]}' \
  >"$tmp/eio.json"
sim_start "$root" "$tmp/eio.json" || exit 1
same "ppa_info, PPA 1 untold" "$(mod ppa_info '' | jq -c '[.as_configured, [.ppas[] | .as_configured]]')" \
  "[false,[null,true]]"

# A link left bound to nothing (SETPPA and the unlink after it refused), its
# PPA's file gone: unlinking it is the change, foreseen in check mode.
sim_stop
echo '{"interfaces": [{"name": "xnic"}], "faults": [{"request": "setppa", "errno": "EIO", "count": 1},
  {"request": "punlink", "errno": "EBUSY", "count": 1}]}' >"$tmp/orphan.json"
sim_start "$root" "$tmp/orphan.json" || exit 1
llc2 -p 1 2>/dev/null
LLC2_ROOT=$root "$tmp/bin/llc2conf" delete 1 >/dev/null
same "a link left" "$(llc2 --json | jq -c .orphan_links)" "[1]"
while IFS='~' read -r options want; do
  # shellcheck disable=SC2086 # the options are words
  same "apply $options, a link left" "$(mod apply '' $options | jq -c '[.changed, .actions, .unlinked, .unasked]')" \
    "$want"
done <<'EOF'
--check~[true,[],[1],null]
~[true,[],[1],null]
~[false,[],[],null]
EOF

exit $status
