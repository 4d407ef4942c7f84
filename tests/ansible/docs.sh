#!/usr/bin/env bash
# docs.sh SOURCE VERSION: ansible-doc renders each module and the role from
# the checkout, and ansible-galaxy builds the collection's tarball of the
# project's version.
set -uo pipefail
src=$1
version=$2
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
doc module llc2.llc2.ppa "> LLC2.LLC2.PPA" "- settings" "EXAMPLES:" \
  "RETURN VALUES:" "- result"
doc module llc2.llc2.apply "> LLC2.LLC2.APPLY" "- prune" "EXAMPLES:" \
  "RETURN VALUES:" "- actions"
doc module llc2.llc2.info "> LLC2.LLC2.INFO" "- llc2_path" "EXAMPLES:" \
  "RETURN VALUES:" "- as_configured"
doc module llc2.llc2.conf_info "> LLC2.LLC2.CONF_INFO" "- llc2conf_path" "EXAMPLES:" \
  "RETURN VALUES:" "- ppas"
doc role llc2.llc2.ppas "ENTRY POINT: main" "= llc2_ppas" "- llc2_exclusive" "- llc2_apply" "- llc2_bin_dir" \
  "- llc2_allow_empty"

# Galaxy wants three parts: the project's 0.1 is 0.1.0.
case $version in
  *.*.*) ;;
  *) version=$version.0 ;;
esac
out=$(ansible-galaxy collection build "$src/ansible/ansible_collections/llc2/llc2" \
  --output-path "$tmp/dist" 2>&1) || fail "ansible-galaxy collection build: $out"
tarball=$tmp/dist/llc2-llc2-$version.tar.gz
if [ -f "$tarball" ]; then
  stray=$(tar -tzf "$tarball" | grep -e __pycache__ -e '\.tar\.gz$')
  same "the tarball's stray files" "$stray" ""
else
  fail "no $tarball: $(ls "$tmp/dist")"
fi
exit $status
