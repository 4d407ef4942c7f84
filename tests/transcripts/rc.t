SPDX-License-Identifier: Apache-2.0
The start-up script as installed: configured with CMAKE_INSTALL_PREFIX in a
directory of this test, installed there, and run from there against llc2sim
without LLC2 set, so it finds llc2 where the install put it. Each action and
its exit status, as LSB init scripts have them, and what reaches the system
log (a logger first on PATH, writing to ./syslog, stands in for the real one).

The install is built for the host the suite's build is for (its toolchain,
when it is cross-built), so that it speaks to that build's llc2sim.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ tc=$(sed -n 's/^CMAKE_TOOLCHAIN_FILE:[A-Z]*=//p' "$LLC2_BUILD/CMakeCache.txt")
  $ cmake -S "$LLC2_SOURCE" -B b -DCMAKE_INSTALL_PREFIX="$PWD/inst" -DBUILD_TESTING=OFF \
  >   -DLLC2_SIM=OFF -DLLC2_BENCH=OFF ${tc:+-DCMAKE_TOOLCHAIN_FILE="$tc"} >/dev/null
  $ cmake --build b --target llc2 llc2conf -j2 >/dev/null
  $ cmake --install b >/dev/null
  $ grep -n '^LLC2=' inst/share/llc2/llc2.rc | sed "s|$PWD|PWD|"
  46:LLC2=${LLC2:-PWD/inst/sbin/llc2}
  $ mkdir bin && printf '#!/bin/sh\necho "$*" >>syslog\ncat >>syslog\n' >bin/logger
  $ chmod +x bin/logger && PATH=$PWD/bin:$PATH && unset LLC2
  $ rc() { shown "$PWD/inst/share/llc2/llc2.rc" "$@"; }

  $ start "$LLC2_SOURCE/tests/transcripts/xnic.json"
  $ rc status
  [exit 0]
  $ command llc2conf create 0 xnic0 && command llc2conf create 1 xnic1
  PPA 0: created
  PPA 1: created
  $ rc status
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: not plumbed (configured, llc2_on=1)
  [exit 3]
  $ rc start
  PPA 0: plumbed and initialised
  PPA 1: plumbed and initialised
  [exit 0]
  $ rc status
  PPA 0: up
  PPA 1: up
  [exit 0]
  $ rc start
  [exit 0]
  $ rc stop
  [exit 0]
  $ rc status
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: not plumbed (configured, llc2_on=1)
  [exit 3]
  $ rc restart
  PPA 0: plumbed and initialised
  PPA 1: plumbed and initialised
  [exit 0]

A changed parameter: reload initialises that PPA again and no other;
force-reload is reload, and with nothing changed does nothing. try-restart
restarts while the driver holds a PPA, and does nothing once it holds none.

  $ command llc2conf set 1 acktimer=4
  PPA 1: replaced
  $ rc reload
  PPA 1: re-initialised
  [exit 0]
  $ rc force-reload
  [exit 0]
  $ rc try-restart
  PPA 0: plumbed and initialised
  PPA 1: plumbed and initialised
  [exit 0]
  $ rc stop
  [exit 0]
  $ rc try-restart
  [exit 0]
  $ rc status
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: not plumbed (configured, llc2_on=1)
  [exit 3]

A standard output closed by whoever runs the script: each action does what
it does with one open, under dash and bash alike.

  $ for sh in dash bash; do
  >   echo "$sh:" $(for action in stop status start status; do
  >     "$sh" inst/share/llc2/llc2.rc "$action" 2>&1 >&-; echo "[exit $?]"; done)
  > done
  dash: [exit 0] [exit 3] [exit 0] [exit 0]
  bash: [exit 0] [exit 3] [exit 0] [exit 0]

A driver that refuses PPA 1's parameters: start fails and says why; PPA 0
comes up, PPA 1 is unplumbed again. A link the driver will not remove (the
second asked for): stop fails and says why.

  $ printf '{"faults": [{"request": "init", "ppa": 1, "errno": "EIO"}, %s]}\n' \
  >   '{"request": "punlink", "skip": 1, "count": 1, "errno": "EBUSY"}' >refuse.json
  $ start refuse.json
  $ rc start
  PPA 0: plumbed and initialised
  Error initialization PPA 1
  PPA 1: not up
  llc2: start: llc2 --apply failed (status 255)
  [exit 1]
  $ rc stop
  Error unplumbing PPA 0: Device or resource busy
  llc2: stop: llc2 -U failed (status 255)
  [exit 1]

restart starts whatever stop did: PPA 1's own unlink is refused (the
unlink of every link that ends stop still takes it, so start plumbs it
anew), PPA 2's second initialisation is refused; both are said and logged,
and the rest comes up.

  $ command llc2conf create 2 xnic2
  PPA 2: created
  $ printf '{"faults": [{"request": "punlink", "ppa": 1, "errno": "EBUSY"}, %s]}\n' \
  >   '{"request": "init", "ppa": 2, "skip": 1, "errno": "EIO"}' >stuck.json
  $ start stuck.json
  $ rc start >/dev/null
  $ rc restart
  Error unplumbing PPA 1: Device or resource busy
  llc2: stop: llc2 -U failed (status 255)
  PPA 0: plumbed and initialised
  PPA 1: plumbed and initialised
  Error initialization PPA 2
  PPA 2: not up
  llc2: start: llc2 --apply failed (status 255)
  [exit 1]

No driver: status cannot tell, start fails, and stop has nothing to do.

  $ sim_stop
  $ rc status
  Cannot open LLC2 device: No such file or directory
  [exit 4]
  $ rc start
  Cannot open LLC2 device: No such file or directory
  llc2: start: llc2 --apply failed (status 255)
  [exit 1]
  $ rc stop
  [exit 0]
  $ rc try-restart
  [exit 0]

A driver there, but llc2 --json failing (the driver not answering, the
directory unreadable): nothing tells that no PPA is held, so try-restart
restarts. A stand-in llc2 notes what it is asked and fails --json.

  $ mkdir stub && printf '#!/bin/sh\necho "$*" >>asked\n[ "$1" != --json ] || exit 255\n' >stub/llc2
  $ chmod +x stub/llc2 && : >r/dev/llc2 && LLC2=$PWD/stub/llc2 rc try-restart
  [exit 0]
  $ cat asked && rm r/dev/llc2
  --json
  -U
  --apply

llc2 not where the script looks, and an action it does not know.

  $ LLC2=/nonexistent/llc2 rc status
  llc2: /nonexistent/llc2 is not installed
  [exit 4]
  $ LLC2=/nonexistent/llc2 rc start
  llc2: /nonexistent/llc2 is not installed
  [exit 5]
  $ rc frobnicate
  usage: llc2.rc start|stop|restart|try-restart|reload|force-reload|status
  [exit 2]

What reached the log: the failures of start and stop, with llc2's words;
not the usage error, and not what status found.

  $ sed "s|$LLC2_ROOT|/tmp/r|g" syslog
  -t llc2 -p daemon.err
  Error initialization PPA 1
  PPA 1: not up
  start: llc2 --apply failed (status 255)
  -t llc2 -p daemon.err
  Error unplumbing PPA 0: Device or resource busy
  stop: llc2 -U failed (status 255)
  -t llc2 -p daemon.err
  Error unplumbing PPA 1: Device or resource busy
  stop: llc2 -U failed (status 255)
  -t llc2 -p daemon.err
  Error initialization PPA 2
  PPA 2: not up
  start: llc2 --apply failed (status 255)
  -t llc2 -p daemon.err
  Cannot open LLC2 device: No such file or directory
  start: llc2 --apply failed (status 255)
  -t llc2 -p daemon.err
  /nonexistent/llc2 is not installed
