# SPDX-License-Identifier: Apache-2.0
# Shell helpers for the scripts that run llc2 against llc2sim. Source it;
# it expects $build to name a configured and built build directory.

# sim_start ROOT SCENARIO [PREFIX...]: starts llc2sim on ROOT (which must
# exist) with the scenario file, logging to ROOT/llc2sim.log, optionally
# under a wrapper such as valgrind. Sets sim_pid; waits for the ready line.
sim_start() {
  local root=$1 scenario=$2
  shift 2
  # Emptied first: a ready line left by an earlier llc2sim on this root must
  # not pass for this one's.
  : >"$root/llc2sim.out"
  "$@" "$build/sim/llc2sim" --root "$root" --scenario "$scenario" --log "$root/llc2sim.log" \
    >"$root/llc2sim.out" 2>"$root/llc2sim.err" &
  sim_pid=$!
  local _
  for _ in $(seq 300); do
    grep -q '^llc2sim: ready$' "$root/llc2sim.out" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "llc2sim did not come up:" >&2
  cat "$root/llc2sim.err" >&2
  return 1
}

# sim_stop: SIGTERM, then waits; prints nothing. Returns llc2sim's status.
sim_stop() {
  [ -n "${sim_pid:-}" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=
  return $status
}

# conf_file DEVICE INSTANCE [LLC2_ON]: a complete configuration file.
conf_file() {
  printf 'devicename=%s\ndeviceinstance=%s\nllc2_on=%s\ndeviceloopback=0\n' "$1" "$2" "${3:-1}"
  printf 'timeinterval=0\nacktimer=2\nrsptimer=2\npolltimer=4\nrejecttimer=6\n'
  printf 'rembusytimer=8\ninacttimer=30\nmaxretry=6\nxmitwindowsz=14\nrcvwindowsz=14\n'
}
