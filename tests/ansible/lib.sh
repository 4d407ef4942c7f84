# SPDX-License-Identifier: Apache-2.0
# shellcheck shell=bash disable=SC2034 # status: the test's, which fail sets
# Sourced by the Ansible tests. ansible_setup SOURCE: skips the test (77)
# without ansible-playbook, makes $tmp and works there, and keeps whatever
# Ansible writes in it, so that nothing is left in the user's home.
ansible_setup() {
  if ! command -v ansible-playbook >/dev/null 2>&1; then
    echo "ansible-playbook is missing: test skipped (scripts/deps test installs ansible-core)"
    exit 77
  fi
  tmp=$(mktemp -d /tmp/llc2ans.XXXXXX)
  mkdir "$tmp/home"
  # Ansible refuses to run in a locale that is not UTF-8.
  export HOME=$tmp/home LC_ALL=C.UTF-8 ANSIBLE_LOCAL_TEMP=$tmp/home/local \
    ANSIBLE_REMOTE_TEMP=$tmp/home/remote ANSIBLE_COLLECTIONS_PATH=$1/ansible \
    ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_STDOUT_CALLBACK=default \
    PYTHONDONTWRITEBYTECODE=1
  # The play must bring its own.
  unset LLC2_ROOT
  cd "$tmp" || exit 1
  status=0
}

fail() {
  echo "FAIL: $*"
  status=1
}

# same WHAT GOT WANT
same() {
  [ "$2" = "$3" ] || fail "$1: got [$2], want [$3]"
}
