SPDX-License-Identifier: Apache-2.0
check_llc2, the monitoring plugin, against llc2sim: the state as its first
line and exit status, with the performance data, then the lines of the PPAs
not as configured. It runs under sh (dash on Debian), as monitoring systems
run it; the build's llc2 is the one on PATH.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ check_llc2() { shown sh "$LLC2_BUILD/monitoring/check_llc2" "$@"; }
  $ start "$LLC2_SOURCE/tests/transcripts/xnic.json"
  $ check_llc2
  LLC2 OK - no PPA configured | as_configured=0;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  [exit 0]

The README's session: two PPAs up and one switched off are as configured; a
file changed after --apply is pending.

  $ command llc2conf create 0 xnic0 && command llc2conf create 1 xnic1
  PPA 0: created
  PPA 1: created
  $ command llc2conf create 2 xnic0 llc2_on=0 && command llc2 --apply
  PPA 2: created
  PPA 0: plumbed and initialised
  PPA 1: plumbed and initialised
  $ check_llc2
  LLC2 OK - 3 PPAs as configured | as_configured=3;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  [exit 0]
  $ command llc2conf set 1 acktimer=4
  PPA 1: replaced
  $ check_llc2
  LLC2 WARNING - 1 of 3 PPAs changed since applied | as_configured=2;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  PPA 1: up, changed since applied (acktimer)
  [exit 1]
  $ check_llc2 -p 0
  LLC2 OK - 1 PPA as configured | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  [exit 0]

-S runs llc2 through sudo -n by its full path, as the sudoers line names
it (a sudo first on PATH records its arguments and runs the rest); a sudo
that wants a password fails, and says so.

  $ mkdir bin && printf '#!/bin/sh\necho "$*" >sudo.log\nshift\nexec "$@"\n' >bin/sudo
  $ chmod +x bin/sudo && PATH=$PWD/bin:$PATH check_llc2 -S -p 1
  LLC2 WARNING - 1 of 1 PPA changed since applied | as_configured=0;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  PPA 1: up, changed since applied (acktimer)
  [exit 1]
  $ sed "s|$LLC2_BUILD|BUILD|" sudo.log
  -n BUILD/cmd/llc2 --status 1
  $ printf '#!/bin/sh\necho "sudo: a password is required" >&2\nexit 1\n' >bin/sudo
  $ PATH=$PWD/bin:$PATH check_llc2 -S
  LLC2 UNKNOWN - sudo: a password is required
  [exit 3]

Every kind at once: the worst state leads, the others follow it. PPA 1 is
held but down from the start, and the driver refuses to say anything of
PPA 3.

  $ printf '{"interfaces": [{"name": "xnic"}], "ppas": [{"ppa": 1, "instance": 1}],
  >  "faults": [{"request": "getppa", "ppa": 3, "errno": "EIO"}]}\n' >mixed.json
  $ start mixed.json
  $ command llc2conf create 3 xnic3 && command llc2 --apply 0
  PPA 3: created
  PPA 0: plumbed and initialised
  $ command llc2conf set 0 acktimer=3
  PPA 0: replaced
  $ check_llc2
  LLC2 CRITICAL - 1 of 4 PPAs not as configured, 1 changed since applied, 1 cannot tell | as_configured=1;;;0 pending=1;;;0 not_as_configured=1;;;0 cannot_tell=1;;;0
  PPA 0: up, changed since applied (acktimer)
  PPA 1: down (configured, llc2_on=1)
  PPA 3: cannot tell (Input/output error)
  [exit 2]
  $ check_llc2 -p 0 -p 3
  LLC2 WARNING - 1 of 2 PPAs changed since applied, 1 cannot tell | as_configured=0;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=1;;;0
  PPA 0: up, changed since applied (acktimer)
  PPA 3: cannot tell (Input/output error)
  [exit 1]
  $ check_llc2 -p 2 -p 3
  LLC2 UNKNOWN - 1 of 2 PPAs cannot tell | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=1;;;0
  PPA 3: cannot tell (Input/output error)
  [exit 3]

A PPA up that no record of llc2's proves is not wrong, only unproven: it
counts as pending, as a change does, named by its own words, and --apply
brings it back.

  $ find r -name ppa.0.link -delete && check_llc2 -p 0
  LLC2 WARNING - 1 of 1 PPA link not known | as_configured=0;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  PPA 0: up, link not known
  [exit 1]
  $ find r -name ppa.0.params -delete && check_llc2 -p 0
  LLC2 WARNING - 1 of 1 PPA not recorded | as_configured=0;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  PPA 0: up, not recorded
  [exit 1]
  $ command llc2 --apply 0 && check_llc2 -p 0
  PPA 0: re-plumbed and initialised
  LLC2 OK - 1 PPA as configured | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  [exit 0]

A driver that stops answering: the PPA it hung on cannot be told, and the
numbers from there on were never asked. They are said once, as the range
llc2 names, and not counted as PPAs.

  $ printf '{"interfaces": [{"name": "xnic"}], "ppas": [{"ppa": 1, "instance": 1}],
  >  "faults": [{"request": "getppa", "ppa": 2, "noreply": true}]}\n' >hung.json
  $ start hung.json && rm r/etc/llc2/default/llc2.3
  $ LLC2_EMU_WAIT_MS=500 check_llc2
  LLC2 CRITICAL - 2 of 3 PPAs not as configured, 1 cannot tell, PPAs 2 to 63 cannot tell | as_configured=0;;;0 pending=0;;;0 not_as_configured=2;;;0 cannot_tell=1;;;0
  PPA 0: not plumbed (configured, llc2_on=1)
  PPA 1: down (configured, llc2_on=1)
  PPA 2: cannot tell (the driver does not answer)
  PPAs 2 to 63: cannot tell (the driver does not answer)
  [exit 2]

No driver, no llc2: UNKNOWN with the reason and nothing to count. llc2's
exit status 4 makes it UNKNOWN even when every line it wrote is fine.

  $ sim_stop
  $ check_llc2
  LLC2 UNKNOWN - Cannot open LLC2 device: No such file or directory
  [exit 3]
  $ check_llc2 -l /nonexistent/llc2
  LLC2 UNKNOWN - llc2 not found: /nonexistent/llc2
  [exit 3]
  $ printf '#!/bin/sh\necho "PPA 0: up"\nprintf "llc2: out of memory\\nand more\\n" >&2\nexit 4\n' >bin/llc2
  $ chmod +x bin/llc2 && check_llc2 -l bin/llc2
  LLC2 UNKNOWN - llc2: out of memory | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  [exit 3]

A '|' in what llc2 says, from a file or a path, would start performance
data: it is passed on as '!', in its lines and in its message alike.

  $ printf '#!/bin/sh\necho "PPA 1: not plumbed (configuration unusable: llc2.1:7: invalid line: a|b)"\nexit 3\n' >bin/llc2
  $ check_llc2 -l bin/llc2
  LLC2 CRITICAL - 1 of 1 PPA not as configured | as_configured=0;;;0 pending=0;;;0 not_as_configured=1;;;0 cannot_tell=0;;;0
  PPA 1: not plumbed (configuration unusable: llc2.1:7: invalid line: a!b)
  [exit 2]
  $ printf '#!/bin/sh\necho "Cannot open /tmp/a|b/etc/llc2/default: Permission denied" >&2\nexit 255\n' >bin/llc2
  $ check_llc2 -l bin/llc2
  LLC2 UNKNOWN - Cannot open /tmp/a!b/etc/llc2/default: Permission denied
  [exit 3]

A link an interrupted run left under no PPA is a WARNING of its own, told
after the PPAs and named in the summary.

  $ printf '#!/bin/sh\necho "PPA 0: up"\necho "Link 7: left linked by an interrupted run"\nexit 3\n' >bin/llc2
  $ check_llc2 -l bin/llc2
  LLC2 WARNING - 1 link left linked by an interrupted run | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  Link 7: left linked by an interrupted run
  [exit 1]
  $ printf '#!/bin/sh\necho "PPA 0: down (configured, llc2_on=1)"\necho "Link 7: left linked by an interrupted run"\necho "Link 9: left linked by an interrupted run"\nexit 3\n' >bin/llc2
  $ check_llc2 -l bin/llc2
  LLC2 CRITICAL - 1 of 1 PPA not as configured, 2 links left linked by an interrupted run | as_configured=0;;;0 pending=0;;;0 not_as_configured=1;;;0 cannot_tell=0;;;0
  PPA 0: down (configured, llc2_on=1)
  Link 7: left linked by an interrupted run
  Link 9: left linked by an interrupted run
  [exit 2]

So are links an interrupted run may have made, their identifiers not known.

  $ printf '#!/bin/sh\necho "PPA 0: up"\necho "Links made by an interrupted run may be held (identifier not known); llc2 -U removes them"\nexit 3\n' >bin/llc2
  $ check_llc2 -l bin/llc2
  LLC2 WARNING - links of an interrupted run may be held | as_configured=1;;;0 pending=0;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  Links made by an interrupted run may be held (identifier not known); llc2 -U removes them
  [exit 1]

A bad option, a missing argument or an operand is UNKNOWN, with a usage
line; help and version end with 3 too, as the plugin guidelines have it.

  $ check_llc2 -x
  LLC2 UNKNOWN - unknown option: -x
  Usage: check_llc2 [-Sv] [-t SECONDS] [-l PATH] [-p PPA]...
           [--pending=ok|warning|critical] [--unknown=unknown|critical]
         check_llc2 -h | --help | -V | --version
  [exit 3]
  $ check_llc2 -p
  LLC2 UNKNOWN - option -p needs an argument
  Usage: check_llc2 [-Sv] [-t SECONDS] [-l PATH] [-p PPA]...
           [--pending=ok|warning|critical] [--unknown=unknown|critical]
         check_llc2 -h | --help | -V | --version
  [exit 3]
  $ check_llc2 0
  LLC2 UNKNOWN - unexpected argument: 0
  Usage: check_llc2 [-Sv] [-t SECONDS] [-l PATH] [-p PPA]...
           [--pending=ok|warning|critical] [--unknown=unknown|critical]
         check_llc2 -h | --help | -V | --version
  [exit 3]
  $ check_llc2 -V
  check_llc2 [0-9][0-9.]* (re)
  [exit 3]
  $ check_llc2 -h | sed -n '1p;$p'
  check_llc2 [0-9][0-9.]*: whether the llc2 driver's PPAs are as configured. (re)
  [exit 3]

An llc2 that does not answer in time is ended, through sudo too, and the
state is UNKNOWN; none is left running (each stand-in writes its pid, then
becomes the sleep).

  $ printf '#!/bin/sh\necho $$ >>llc2.pids\nexec sleep 30\n' >bin/llc2
  $ check_llc2 -t 1 -l bin/llc2
  LLC2 UNKNOWN - llc2 did not answer within 1 s
  [exit 3]
  $ printf '#!/bin/sh\nshift\n"$@" &\nc=$!\ntrap "kill $c; wait $c; exit 143" TERM\nwait $c\n' >bin/sudo
  $ PATH=$PWD/bin:$PATH check_llc2 -S --timeout 1 -l bin/llc2
  LLC2 UNKNOWN - llc2 did not answer within 1 s
  [exit 3]
  $ wc -l <llc2.pids && for p in $(cat llc2.pids); do kill -0 "$p" 2>/dev/null && echo "left: $p"; done; true
  2

Ended itself, by the monitoring system's SIGTERM, the plugin still says
UNKNOWN, and ends llc2 first (which the plugin no longer waits for: left
to init, it may be a zombie a while).

  $ rm llc2.pids && { sh "$LLC2_BUILD/monitoring/check_llc2" -l bin/llc2 >said & }
  $ until [ -s llc2.pids ]; do sleep 0.1; done && kill -TERM $! && wait $!
  [3]
  $ running() { ps -o stat= -p "$(cat llc2.pids)" | grep -qv Z; }
  $ for _ in $(seq 100); do running && sleep 0.1; done; cat said; running || echo ended
  LLC2 UNKNOWN - ended by SIGTERM while llc2 ran
  ended
  $ check_llc2 -t 0
  LLC2 UNKNOWN - the timeout is a whole number of seconds above 0, not 0
  Usage: check_llc2 [-Sv] [-t SECONDS] [-l PATH] [-p PPA]...
           [--pending=ok|warning|critical] [--unknown=unknown|critical]
         check_llc2 -h | --help | -V | --version
  [exit 3]

--pending sets the state of the pending words and of a link left linked,
--unknown that of cannot tell; the summary leads with the worst. Long
options take their value after '=' or as the next word.

  $ printf '#!/bin/sh\necho "PPA 0: up"\necho "PPA 1: up, changed since applied (acktimer)"\necho "PPA 2: cannot tell (Input/output error)"\necho "Link 7: left linked by an interrupted run"\nexit 4\n' >bin/llc2
  $ for o in '' --pending=ok '--pending critical' --unknown=critical '--pending=ok --unknown=critical' '--pending=warning --unknown unknown'; do
  >   check_llc2 -l bin/llc2 $o | sed -n 's/ |.*//p; /exit/p'; done
  LLC2 WARNING - 1 of 3 PPAs changed since applied, 1 link left linked by an interrupted run, 1 cannot tell
  [exit 1]
  LLC2 UNKNOWN - 1 of 3 PPAs cannot tell, 1 changed since applied, 1 link left linked by an interrupted run
  [exit 3]
  LLC2 CRITICAL - 1 of 3 PPAs changed since applied, 1 link left linked by an interrupted run, 1 cannot tell
  [exit 2]
  LLC2 CRITICAL - 1 of 3 PPAs cannot tell, 1 changed since applied, 1 link left linked by an interrupted run
  [exit 2]
  LLC2 CRITICAL - 1 of 3 PPAs cannot tell, 1 changed since applied, 1 link left linked by an interrupted run
  [exit 2]
  LLC2 WARNING - 1 of 3 PPAs changed since applied, 1 link left linked by an interrupted run, 1 cannot tell
  [exit 1]
  $ printf '#!/bin/sh\necho "PPA 0: up"\necho "PPA 1: up, not recorded"\nexit 3\n' >bin/llc2
  $ check_llc2 -l bin/llc2 --pending=ok
  LLC2 OK - 1 of 2 PPAs as configured, 1 not recorded | as_configured=1;;;0 pending=1;;;0 not_as_configured=0;;;0 cannot_tell=0;;;0
  PPA 1: up, not recorded
  [exit 0]

-v (--verbose) shows every PPA's line, as configured too.

  $ check_llc2 --verbose -l bin/llc2 | sed 1d
  PPA 0: up
  PPA 1: up, not recorded
  [exit 1]
  $ check_llc2 -v -l bin/llc2 | sed 1d
  PPA 0: up
  PPA 1: up, not recorded
  [exit 1]

Bad long options and values are usage errors; --help and --version are -h
and -V.

  $ for o in --bogus=1 --pending=bad '--unknown warning' --unknown; do check_llc2 -l bin/llc2 $o | sed 1q; done
  LLC2 UNKNOWN - unknown option: --bogus
  LLC2 UNKNOWN - --pending is ok, warning or critical, not bad
  LLC2 UNKNOWN - --unknown is unknown or critical, not warning
  LLC2 UNKNOWN - option --unknown needs an argument
  $ check_llc2 --version
  check_llc2 [0-9][0-9.]* (re)
  [exit 3]
  $ check_llc2 --help | sed -n '1p;$p'
  check_llc2 [0-9][0-9.]*: whether the llc2 driver's PPAs are as configured. (re)
  [exit 3]
