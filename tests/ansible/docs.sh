#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# docs.sh SOURCE: ansible-doc renders each module and the role from the
# checkout, with each module's attributes, and ansible-galaxy builds the
# collection's tarball of galaxy.yml's version, licences included.
set -uo pipefail
src=$1
collection=$src/ansible/ansible_collections/llc2/llc2
. "$src/tests/ansible/lib.sh"
ansible_setup "$src"
trap 'rm -rf "$tmp"' EXIT

# doc TYPE NAME PART...: each PART is in ansible-doc's page of NAME.
doc() {
  local type=$1 name=$2 page part
  shift 2
  page=$(ansible-doc -t "$type" "$name" 2>&1) || fail "ansible-doc -t $type $name: $page"
  for part in "$@"; do
    grep -qF -- "$part" <<<"$page" || fail "ansible-doc -t $type $name: no \"$part\""
  done
}
# The parts a DOCUMENTATION, EXAMPLES or RETURN block that does not parse
# leaves out, and an option of each.
doc module llc2.llc2.ppa "> LLC2.LLC2.PPA" "- settings" "ATTRIBUTES:" "EXAMPLES:" \
  "RETURN VALUES:" "- result"
doc module llc2.llc2.apply "> LLC2.LLC2.APPLY" "- prune" "ATTRIBUTES:" "EXAMPLES:" \
  "RETURN VALUES:" "- actions"
doc module llc2.llc2.ppa_info "> LLC2.LLC2.PPA_INFO" "- llc2_path" "ATTRIBUTES:" "EXAMPLES:" \
  "RETURN VALUES:" "- as_configured"
doc module llc2.llc2.conf_info "> LLC2.LLC2.CONF_INFO" "- llc2conf_path" "ATTRIBUTES:" "EXAMPLES:" \
  "RETURN VALUES:" "- ppas"
# The old name, removed, names the new one.
page=$(ansible-doc llc2.llc2.info 2>&1)
grep -qF "llc2.llc2.info has been removed. Use llc2.llc2.ppa_info instead" <<<"$page" ||
  fail "ansible-doc llc2.llc2.info: $page"

# What each module documents of itself beyond its options: check mode, diff
# mode and the platform, the program it needs, and who wrote it.
while read -r name want; do
  got=$(ansible-doc -j "llc2.llc2.$name" 2>&1 | jq -c --arg m "llc2.llc2.$name" '.[$m].doc
    | [[.attributes | .check_mode.support, .diff_mode.support, .platform.support,
        .platform.platforms], .requirements, .author]' 2>&1)
  same "ansible-doc llc2.llc2.$name" "$got" "$want"
done <<'EOF'
ppa [["full","full","full","posix"],["The C(llc2conf) program on the managed host."],"llc2 developers (@llc2)"]
apply [["full","none","full","posix"],["The C(llc2) program on the managed host."],"llc2 developers (@llc2)"]
ppa_info [["full","N/A","full","posix"],["The C(llc2) program on the managed host."],"llc2 developers (@llc2)"]
conf_info [["full","N/A","full","posix"],["The C(llc2conf) program on the managed host."],"llc2 developers (@llc2)"]
EOF
doc role llc2.llc2.ppas "ENTRY POINT: main" "= llc2_ppas" "- llc2_exclusive" "- llc2_apply" "- llc2_bin_dir" \
  "- llc2_allow_empty"

# The tarball is named by galaxy.yml's version, which has its entry in the
# changelog, or is the next release, whose changes wait as fragments; it
# holds the licence texts, and every other file of it names its licence.
version=$(sed -n 's/^version: *//p' "$collection/galaxy.yml")
last=$(sed -n 's/^  \([0-9][0-9.]*\):$/\1/p' "$collection/changelogs/changelog.yaml" | sort -V | tail -n 1)
waiting=$(find "$collection/changelogs/fragments" -type f ! -name .keep)
if ! grep -q "^  $version:\$" "$collection/changelogs/changelog.yaml" &&
  { [ -z "$waiting" ] || [ "$(printf '%s\n' "$last" "$version" | sort -V | tail -n 1)" = "$last" ]; }; then
  fail "changelogs/changelog.yaml: no release $version, and it is not the next with fragments waiting"
fi
out=$(ansible-galaxy collection build "$collection" --output-path "$tmp/dist" 2>&1) ||
  fail "ansible-galaxy collection build: $out"
tarball=$tmp/dist/llc2-llc2-$version.tar.gz
if [ -f "$tarball" ]; then
  stray=$(tar -tzf "$tarball" | grep -e __pycache__ -e '\.tar\.gz$')
  same "the tarball's stray files" "$stray" ""
  mkdir "$tmp/x"
  tar -C "$tmp/x" -xzf "$tarball"
  for f in COPYING LICENSES/BSD-2-Clause.txt changelogs/changelog.yaml meta/runtime.yml; do
    [ -s "$tmp/x/$f" ] || fail "the tarball has no $f"
  done
  grep -q "GNU GENERAL PUBLIC LICENSE" "$tmp/x/COPYING" || fail "COPYING is not the GPL"
  same "MANIFEST.json's licences" "$(jq -c .collection_info.license "$tmp/x/MANIFEST.json")" \
    '["GPL-3.0-or-later","BSD-2-Clause"]'
  unnamed=$(cd "$tmp/x" && find . -type f ! -path ./COPYING ! -path './LICENSES/*' \
    ! -name MANIFEST.json ! -name FILES.json ! -name .keep -exec grep -L SPDX-License-Identifier {} +)
  same "files naming no licence" "$unnamed" ""
  same "module_utils' licence" "$(grep -h SPDX-License-Identifier "$tmp/x/plugins/module_utils/"*.py)" \
    "# SPDX-License-Identifier: BSD-2-Clause"
else
  fail "no $tarball: $(ls "$tmp/dist")"
fi
exit $status
