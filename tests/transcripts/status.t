SPDX-License-Identifier: Apache-2.0
llc2 --status, --json, --metrics and --apply against llc2sim: the README's
transcripts of them, and a start-up job cut short by SIGTERM between its
passes that --apply then completes. `jq` here reads standard output only.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ jq() { grep -v '^\[exit [0-9]*\]$' | command jq "$@"; }
  $ printf '{"interfaces": [{"name": "xnic", "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]}],
  >  "faults": [{"request": "open", "device": "llc2", "skip": 2, "count": 1, "errno": "ENXIO"}]}\n' >cut.json
  $ start cut.json
  $ command llc2conf create 0 xnic0 && command llc2conf create 1 xnic1 acktimer=5
  PPA 0: created
  PPA 1: created
  $ command llc2conf create 2 xnic2 llc2_on=0
  PPA 2: created

The README's session.

  $ llc2 --status
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: not plumbed (configured, llc2_on=1)
  PPA 2: switched off
  [exit 3]
  $ llc2 -P
  Cannot open LLC2 device: No such device or address
  [exit 255]
  $ llc2 --status
  PPA 0: down (configured, llc2_on=1)
  PPA 1: down (configured, llc2_on=1)
  PPA 2: switched off
  [exit 3]
  $ llc2 --apply
  PPA 0: initialised
  PPA 1: initialised
  [exit 0]
  $ llc2 --apply
  [exit 0]
  $ llc2 --status 1
  PPA 1: up
  [exit 0]
  $ llc2 --status 1 5
  PPA 1: up
  PPA 5: not configured
  [exit 3]
  $ llc2 --json | jq '.ppas[1] | del(.id, .applied.at)'
  {
    "ppa": 1,
    "state": "up",
    "mac": "020000a1b2c4",
    "type": "ethernet",
    "max_sdu": 1500,
    "min_sdu": 1,
    "mode": 1,
    "configured": true,
    "llc2_on": 1,
    "device": "xnic",
    "instance": 1,
    "error": null,
    "as_configured": true,
    "applied": {
      "devicename": "xnic",
      "deviceinstance": 1,
      "acktimer": 5,
      "polltimer": 4,
      "rejecttimer": 6,
      "rembusytimer": 8,
      "inacttimer": 30,
      "maxretry": 6,
      "xmitwindowsz": 14,
      "rcvwindowsz": 14,
      "timeinterval": 0,
      "rsptimer": 2
    },
    "pending": []
  }
  $ llc2 --json | jq -r '.ppas[] | select(.as_configured | not) | .ppa'
  $ llc2 -u 0
  [exit 0]
  $ llc2 --json | jq -r '.ppas[] | select(.as_configured | not) | .ppa'
  0

The README's configuration management: a change after applying shows, a
dry run tells, --apply on one PPA re-initialises it alone.

  $ command llc2conf set 1 acktimer=4
  PPA 1: replaced
  $ llc2 --status 1
  PPA 1: up, changed since applied (acktimer)
  [exit 3]
  $ llc2 --json | jq -c '.ppas[1].pending'
  ["acktimer"]
  $ llc2 --apply -n
  PPA 0: would plumb and initialise
  PPA 1: would re-initialise (acktimer)
  [exit 0]
  $ llc2 --apply 1
  PPA 1: re-initialised
  [exit 0]
  $ llc2 --status
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: up
  PPA 2: switched off
  [exit 3]

The README's staging: a new configuration in a directory of its own, seen
against the driver before it is installed.

  $ command llc2conf -D staged create 1 xnic1 acktimer=4 maxretry=3
  Created directory staged
  PPA 1: created
  $ llc2 -D staged --apply -n --json | jq -c '.actions[]'
  {"ppa":1,"action":"would re-initialise","keywords":["maxretry"]}
  $ llc2 -D staged --apply -n --prune
  PPA 1: would re-initialise (maxretry)
  [exit 0]

The README's metrics of the same PPAs.

  $ llc2 --metrics 0 | grep -v -e '^#' -e _seconds -e _build_info
  llc2_ppa_up{ppa="0",device="xnic0"} 0
  llc2_ppa_info{ppa="0",device="xnic",device_instance="0"} 1
  llc2_ppa_state{ppa="0",state="up"} 0
  llc2_ppa_state{ppa="0",state="down"} 0
  llc2_ppa_state{ppa="0",state="off"} 0
  llc2_ppa_state{ppa="0",state="bad"} 0
  llc2_ppa_state{ppa="0",state="not plumbed"} 1
  llc2_ppa_state{ppa="0",state="unknown"} 0
  llc2_ppa_as_configured{ppa="0"} 0
  llc2_scan_success 1
  [exit 0]
  $ llc2 --metrics | grep as_configured
  # HELP llc2_ppa_as_configured Whether the PPA is as its configuration wants it, as llc2 --status judges.
  # TYPE llc2_ppa_as_configured gauge
  llc2_ppa_as_configured{ppa="0"} 0
  llc2_ppa_as_configured{ppa="1"} 1
  llc2_ppa_as_configured{ppa="2"} 1

The README's monitoring line, and a driver that is not there.

  $ command llc2 --status >/dev/null; echo $?
  3
  $ sim_stop
  $ llc2 --status
  Cannot open LLC2 device: No such file or directory
  [exit 4]

The configuration alone needs no driver.

  $ llc2conf list
  PPA 0: xnic0, llc2_on 1
  PPA 1: xnic1, llc2_on 1
  PPA 2: xnic2, llc2_on 0
  [exit 0]
  $ llc2conf list --json | jq -c '.ppas[2]'
  {"ppa":2,"device":"xnic","instance":2,"llc2_on":0,"error":null}

-P stopped by SIGTERM while it waits for its second control stream: both
PPAs plumbed, neither up; --apply brings them up without plumbing again.

  $ printf '{"faults": [{"request": "open", "device": "llc2", "skip": 1, "count": 1, "delay_ms": 60000}]}\n' >slow.json
  $ start slow.json
  $ command llc2 -P & pid=$!
  $ for _ in $(seq 100); do [ "$(grep -c '"device":"llc2","kind":"open"' r/llc2sim.log)" -ge 2 ] && break; sleep 0.1; done
  $ kill -TERM $pid; wait $pid; echo $?
  143
  $ llc2 --status
  PPA 0: down (configured, llc2_on=1)
  PPA 1: down (configured, llc2_on=1)
  PPA 2: switched off
  [exit 3]
  $ llc2 --apply
  PPA 0: initialised
  PPA 1: initialised
  [exit 0]
  $ grep -c '"kind":"link"' r/llc2sim.log
  2
