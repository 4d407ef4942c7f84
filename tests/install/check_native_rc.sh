#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# check_native_rc.sh CMAKE SOURCE_DIR
# The start-up script as a native build makes it (configure refuses that
# backend here, so made as cmake/rc_script.cmake makes it). It names no
# LLC2_ROOT, and with /dev/llc2 present a stray one does not let stop pass
# over the driver: stop runs llc2 -U.
set -euo pipefail
cmake=$1 source=$2
work=$(mktemp -d /tmp/llc2rc.XXXXXX)
trap 'rm -rf "$work"' EXIT
"$cmake" -DIN="$source/examples/share/llc2.rc.in" -DOUT="$work/llc2.rc" \
  -DBACKEND=native -DSBINDIR=/nonexistent -P "$source/cmake/rc_script.cmake"
! grep -n LLC2_ROOT "$work/llc2.rc" || { echo "the native script names LLC2_ROOT"; exit 1; }
# No /dev/llc2 here: a private mount namespace gets a /dev with one, and the
# null device the script writes to. llc2 is a stub noting what it is asked.
unshare -rm true 2>/dev/null || { echo "skipped: no unshare -rm here"; exit 77; }
printf '#!/bin/sh\necho "$*" >>"%s/asked"\n' "$work" >"$work/llc2"
chmod +x "$work/llc2"
mkdir -p "$work/stray/dev" "$work/dev"
touch "$work/dev/llc2" "$work/dev/null"
rc=0
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -rm sh -c 'mount --bind /dev/null "$1/dev/null" && mount --bind "$1/dev" /dev &&
  LLC2="$1/llc2" LLC2_ROOT="$1/stray" exec sh "$1/llc2.rc" stop' sh "$work" || rc=$?
got="$(cat "$work/asked" 2>/dev/null || true) [exit $rc]"
[ "$got" = "-U [exit 0]" ] || { echo "stop with a stray LLC2_ROOT: $got"; exit 1; }
