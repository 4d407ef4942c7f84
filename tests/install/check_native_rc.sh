#!/usr/bin/env bash
# check_native_rc.sh CMAKE SOURCE_DIR
# The start-up script as a native build makes it. Configure refuses the
# native backend on a host without STREAMS, so the script is made here as
# the build makes it (cmake/rc_script.cmake), with the native choice. It
# must name no LLC2_ROOT, and a stray one in root's environment must not
# let stop pass over the driver: with /dev/llc2 present, stop runs llc2 -U.
set -euo pipefail
cmake=$1 source=$2
work=$(mktemp -d /tmp/llc2rc.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$cmake" -DIN="$source/examples/share/llc2.rc.in" -DOUT="$work/llc2.rc" \
  -DBACKEND=native -DSBINDIR=/nonexistent -P "$source/cmake/rc_script.cmake"

status=0
if grep -n LLC2_ROOT "$work/llc2.rc"; then
  echo "the native script names LLC2_ROOT"
  status=1
fi

# A stub llc2 that notes what it was asked, and a stray root without a
# driver in it.
printf '#!/bin/sh\necho "$*" >>"%s/asked"\n' "$work" >"$work/llc2"
chmod +x "$work/llc2"
mkdir -p "$work/stray/dev" "$work/dev"
# This host has no /dev/llc2: a private mount namespace gets a /dev that
# has one (and the null device the script writes to).
touch "$work/dev/llc2" "$work/dev/null"
if ! unshare -rm true 2>/dev/null; then
  echo "skipped: no private mount namespace here (unshare -rm)"
  [ "$status" -eq 0 ] && exit 77
  exit "$status"
fi
rc=0
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -rm sh -c 'mount --bind /dev/null "$1/dev/null" && mount --bind "$1/dev" /dev &&
  LLC2="$1/llc2" LLC2_ROOT="$1/stray" exec sh "$1/llc2.rc" stop' sh "$work" || rc=$?
got="$(cat "$work/asked" 2>/dev/null || true) [exit $rc]"
[ "$got" = "-U [exit 0]" ] || { echo "stop with a stray LLC2_ROOT: $got"; status=1; }
exit $status
