examples/share/llc2.rc against llc2sim: each action and its exit status, as
LSB init scripts have them, and what reaches the system log (a logger that
writes to ./syslog stands in for the real one). The identifiers in the
table follow the directory's order, which differs between file systems.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ start "$LLC2_SOURCE/tests/transcripts/xnic.json"
  $ command llc2conf create 0 xnic0 && command llc2conf create 1 xnic1
  PPA 0: created
  PPA 1: created
  $ mkdir bin && printf '#!/bin/sh\necho "$*" >>syslog\n[ $# -gt 2 ] || cat >>syslog\n' >bin/logger
  $ chmod +x bin/logger && PATH=$PWD/bin:$PATH
  $ rc() { LLC2=$LLC2_BUILD/cmd/llc2 shown sh "$LLC2_SOURCE/examples/share/llc2.rc" "$@"; }

  $ rc status
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
  [exit 3]
  $ rc start
  [exit 0]
  $ rc status
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  000? 020000a1b2c3 ethernet   1500      1    1       xnic0 (glob)
    1    up  000? 020000a1b2c4 ethernet   1500      1    1       xnic1 (glob)
  [exit 0]
  $ rc start
  llc2: PPAs are already up; restart plumbs them afresh
  [exit 0]
  $ rc stop
  [exit 0]
  $ rc status
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
  [exit 3]
  $ rc restart
  [exit 0]
  $ rc force-reload
  [exit 0]
  $ rc stop
  [exit 0]

A PPA whose parameters the driver refuses: start fails, the other PPA stays
up, and the log says why.

  $ printf '{"faults": [{"request": "init", "ppa": 1, "errno": "EIO"}]}\n' >refuse.json
  $ start refuse.json
  $ rc start
  Error initialization PPA 1
  llc2: start: llc2 -P failed (status 255); some PPAs are down
  [exit 1]
  $ rc status
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  000? 020000a1b2c3 ethernet   1500      1    1       xnic0 (glob)
  [exit 0]

No driver: nothing is up and nothing can be started; stop has nothing to do.

  $ sim_stop
  $ rc status
  llc2: no /tmp/r/dev/llc2; the driver is not loaded
  [exit 3]
  $ rc start
  llc2: start: no /tmp/r/dev/llc2; the driver is not loaded
  [exit 1]
  $ rc stop
  [exit 0]

A bad action, and llc2 not where the script looks for it.

  $ rc reload
  llc2: usage: llc2.rc start|stop|restart|force-reload|status
  [exit 2]
  $ LLC2=/nonexistent/llc2 shown sh "$LLC2_SOURCE/examples/share/llc2.rc" start
  llc2: /nonexistent/llc2 is not installed
  [exit 5]

Every failure reached the log.

  $ sed "s|$LLC2_ROOT|/tmp/r|g" syslog
  -t llc2
  Error initialization PPA 1
  -t llc2 -- start: llc2 -P failed (status 255); some PPAs are down
  -t llc2 -- start: no /tmp/r/dev/llc2; the driver is not loaded
  -t llc2 -- usage: llc2.rc start|stop|restart|force-reload|status
  -t llc2 -- /nonexistent/llc2 is not installed
