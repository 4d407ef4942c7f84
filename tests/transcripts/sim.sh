# SPDX-License-Identifier: Apache-2.0
# Sourced by the transcripts (cram runs each in a directory of its own):
# a root ./r with an empty configuration directory, llc2sim on it with the
# scenario given, and llc2 and llc2conf shown as the README shows them:
# standard error with standard output in the order written, the exit status
# as "[exit N]", and the root as /tmp/r. The programs are the build's, first
# on PATH; llc2sim is stopped when the transcript ends.
build=$LLC2_BUILD
# shellcheck source=../../scripts/lib/sim.sh
. "$LLC2_SOURCE/scripts/lib/sim.sh"
mkdir -p r/etc/llc2/default r/dev
export LLC2_ROOT=$PWD/r
trap sim_stop EXIT

# start SCENARIO: (re)starts llc2sim on the root with the scenario file.
start() {
  sim_stop
  sim_start "$LLC2_ROOT" "$1"
}

# shown COMMAND...: runs it and shows what it said, then its exit status.
shown() {
  local status=0
  "$@" >said 2>&1 || status=$?
  sed "s|$LLC2_ROOT|/tmp/r|g" said
  echo "[exit $status]"
}
llc2() { shown command llc2 "$@"; }
llc2conf() { shown command llc2conf "$@"; }
