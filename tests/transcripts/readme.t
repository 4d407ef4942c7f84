SPDX-License-Identifier: Apache-2.0
The README's transcripts of every action against llc2sim, in the order of
the README's one session, and of its failure scenario.
tests/transcripts/readme_blocks.sh checks that every transcript block of the
README is found here as it stands.

llc2sim with one interface, xnic, and no PPA yet; no configuration
directory, nor its parents:

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ start "$LLC2_SOURCE/tests/transcripts/xnic.json"
  $ rm -r r/etc

  $ llc2conf create 0 xnic0
  Created directory /tmp/r/etc
  Created directory /tmp/r/etc/llc2
  Created directory /tmp/r/etc/llc2/default
  PPA 0: created
  [exit 0]
  $ llc2conf create 0 xnic0
  PPA 0: unchanged
  [exit 0]
  $ llc2conf create 0 xnic0 acktimer=5
  /tmp/r/etc/llc2/default/llc2.0 exists; give -f to replace it
  [exit 1]

  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
  [exit 0]

llc2 -d -P lists the files in the order the directory gives them, which
differs between file systems; with one file there is one order, and the
identifiers the driver hands out follow it.

  $ llc2 -d -P
  
  Existing config files found:
  Device: xnic, instance: 0, PPA 0
  Plumbing PPA 0: xnic(0)
  Initializing PPA 0
  [exit 0]
  $ llc2 -q
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic0
  [exit 0]

  $ llc2conf create 1 xnic1 acktimer=5 maxretry=10
  PPA 1: created
  [exit 0]
  $ llc2conf create 2 xnic2 llc2_on=0
  PPA 2: created
  [exit 0]
  $ llc2conf check
  PPA 0: ok: device xnic, instance 0, llc2_on 1
  PPA 1: ok: device xnic, instance 1, llc2_on 1
  PPA 2: ok: device xnic, instance 2, llc2_on 0
  [exit 0]
  $ llc2conf show 1
  PPA 1: device xnic, instance 1, llc2_on 1
  keyword         written     sent
  acktimer              5        5
  polltimer             0        4  default
  rejecttimer           0        6  default
  rembusytimer          0        8  default
  inacttimer            0       30  default
  maxretry             10       10
  xmitwindowsz          0       14  default
  rcvwindowsz           0       14  default
  timeinterval          0        0
  rsptimer              0        2  default
  [exit 0]

Run again and again: set, delete and their dry runs. The dry run's diff
is the whole change, the Built line too; a second passes first so that its
time is not the old one, and the time is left out as it differs between
runs.

  $ sleep 1
  $ llc2conf set -n 1 acktimer=6 link=xnic7 | sed 's/Built: .*/Built: (time)/'
  --- /tmp/r/etc/llc2/default/llc2.1
  +++ /tmp/r/etc/llc2/default/llc2.1
  @@ -4,15 +4,15 @@
   #
   
   # llc2 - Class II Logical Link Control Driver configuration file
  -# Built: (time)
  +# Built: (time)
   
   
   devicename=xnic
  -deviceinstance=1
  +deviceinstance=7
   llc2_on=1\t# LLC2: On/Off on this device (esc)
   deviceloopback=0
   timeinterval=0\t# LLC2: Timer Multiplier (esc)
  -acktimer=5\t# LLC2: Ack Timer (esc)
  +acktimer=6\t# LLC2: Ack Timer (esc)
   rsptimer=0\t# LLC2: Response Timer (esc)
   polltimer=0\t# LLC2: Poll Timer (esc)
   rejecttimer=0\t# LLC2: Reject Timer (esc)
  PPA 1: replaced
  [exit 0]
  $ llc2conf set 1 acktimer=6
  PPA 1: replaced
  [exit 0]
  $ llc2conf set 1 acktimer=6
  PPA 1: unchanged
  [exit 0]
  $ llc2conf set 4 acktimer=6
  no configuration for PPA 4; use create
  [exit 1]
  $ llc2conf delete 2
  PPA 2: deleted
  [exit 0]
  $ llc2conf delete 2
  PPA 2: absent
  [exit 0]
  $ llc2conf create 2 xnic2 llc2_on=0
  PPA 2: created
  [exit 0]

  $ llc2 -p 1
  [exit 0]
  $ llc2 -p 2
  Cannot plumb PPA 2
  [exit 255]
  $ llc2 -d -p 2
  Skip plumbing PPA 2.
  Cannot plumb PPA 2
  [exit 255]
  $ llc2 -r 1
  [exit 0]
  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic0
    1  down  0002 020000a1b2c4 ethernet   1500      1    1       xnic1
  [exit 0]
  $ llc2 -i 1
  [exit 0]
  $ llc2 -u 1
  [exit 0]
  $ llc2 -q
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0001 020000a1b2c3 ethernet   1500      1    1       xnic0
  [exit 0]
  $ llc2 -p 1
  [exit 0]
  $ llc2 -i 5
  Cannot open /tmp/r/etc/llc2/default/llc2.5: No such file or directory
  Cannot open configuration files for PPA 5
  [exit 255]
  $ llc2 -u 5
  Error getting info from PPA 5: No such file or directory
  [exit 255]

  $ llc2 -d -U
  Unplumbing PPA 0
  Unplumbing PPA 1
  [exit 0]
  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
  [exit 0]

Files made wrong by hand, as the README tells:

  $ command llc2conf create 3 xnic3 && command llc2conf create 4 xnic4
  PPA 3: created
  PPA 4: created
  $ llc2conf create 5 ynic0
  llc2.5:10: Warning: devicename=ynic: no /tmp/r/dev/ynic: llc2 -p would fail to open it
  PPA 5: created
  [exit 0]
  $ sed -i '$a acktimer=9' r/etc/llc2/default/llc2.5
  $ sed -i 's/^acktimer=0/acktimer=x2/' r/etc/llc2/default/llc2.3
  $ sed -i '/^maxretry=/d' r/etc/llc2/default/llc2.4

  $ llc2 -p 3
  Invalid line: acktimer=x2\t# LLC2: Ack Timer (esc)
  
  Cannot plumb PPA 3
  [exit 255]
  $ llc2 -p 4
  Cannot plumb PPA 4
  [exit 255]
  $ llc2 -d -p 4
  Cannot find all required keywords.
  Invalid configuration file llc2.4
  Cannot plumb PPA 4
  [exit 255]
  $ llc2 -p 5
  Cannot plumb PPA 5
  [exit 255]
  $ llc2 -d -p 5
  Plumbing PPA 5: ynic(0)
  Error opening device /tmp/r/dev/ynic: No such file or directory
  Cannot plumb PPA 5
  [exit 255]
  $ llc2conf check 3 4 5
  llc2.3:15: invalid line: acktimer=x2\t# LLC2: Ack Timer (esc)
  llc2.4: missing keywords: maxretry
  llc2.5:24: Warning: acktimer is never read: llc2 stops after line 23
  llc2.5:10: Warning: devicename=ynic: no /tmp/r/dev/ynic: llc2 -p would fail to open it
  PPA 5: ok: device ynic, instance 0, llc2_on 1
  [exit 1]

The failure scenario: llc2sim restarted with the README's scenario, PPAs 0
to 5 configured and PPA 2 switched off. What -P says does not depend on the
order in which it finds the files:

  $ cat >faults.json <<'JSON'
  > {"interfaces": [{"name": "xnic", "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]}],
  >  "faults": [{"request": "enable", "ppa": 1, "errno": "EBUSY"},
  >             {"request": "attach", "ppa": 3, "noreply": true},
  >             {"request": "attach", "ppa": 4, "dlpi": "error_ack"},
  >             {"request": "info", "ppa": 5, "dlpi": "short", "length": 20}]}
  > JSON
  $ rm r/etc/llc2/default/*
  $ for ppa in 0 1 3 4 5; do command llc2conf create $ppa xnic$ppa; done >/dev/null
  $ command llc2conf create 2 xnic2 llc2_on=0
  PPA 2: created
  $ start faults.json

  $ llc2 -P
  Timeout initializing PPA 1: Device or resource busy
  [exit 255]

The identifiers in the table follow that order, though, which is the
directory's. So the table is run against llc2sim given, with the same
faults, the state -P leaves with the README's identifiers; what is checked
is how each fault shows in the table:

  $ cat >left.json <<'JSON'
  > {"interfaces": [{"name": "xnic", "macs": ["02:00:00:a1:b2:c3", "02:00:00:a1:b2:c4"]}],
  >  "ppas": [
  >   {"ppa": 0, "instance": 0, "state": 4, "id": 5, "mac": "02:00:00:a1:b2:c3", "link_id": 1},
  >   {"ppa": 3, "instance": 3, "state": 4, "id": 4, "mac": "02:00:00:00:00:03", "link_id": 2},
  >   {"ppa": 4, "instance": 4, "state": 4, "id": 2, "mac": "02:00:00:00:00:04", "link_id": 3},
  >   {"ppa": 5, "instance": 5, "state": 4, "id": 3, "mac": "02:00:00:00:00:05", "link_id": 4}],
  >  "faults": [{"request": "attach", "ppa": 3, "noreply": true},
  >             {"request": "attach", "ppa": 4, "dlpi": "error_ack"},
  >             {"request": "info", "ppa": 5, "dlpi": "short", "length": 20}]}
  > JSON
  $ start left.json

  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0005 020000a1b2c3 ethernet   1500      1    1       xnic0
    3    up  0004 020000000003       ??     ??     ??   ??       xnic3
    4    up  0002 020000000004       ??     ??     ??   ??       xnic4
    5    up  0003 020000000005       ??     ??     ??   ??       xnic5
  [exit 255]

The sample configuration file, shown whole:

  $ ln -s "$LLC2_SOURCE/examples" examples
  $ cat examples/share/llc2.sample
  # SPDX-License-Identifier: Apache-2.0
  #
  # Sample llc2 configuration file. Copy it to /etc/llc2/default/llc2.<ppa>,
  # where <ppa> is the PPA number (0 to 63), and edit the values.
  #
  # One setting a line, "keyword=value". Lines whose first character other
  # than white space is "#" are comments; so is everything after a value's
  # tab. All fourteen keywords must be present except llc2_on (default 1).
  # A file that lacks one, or has a bad value, is refused as a whole.
  #
  # The network interface beneath the PPA: /dev/<devicename>, and its
  # instance (a link name "xnic0" is devicename xnic, deviceinstance 0).
  devicename=xnic
  deviceinstance=0
  # 1: plumb this PPA at start-up (llc2 -P); 0: leave it out.
  llc2_on=1\t# LLC2: On/Off on this device (esc)
  # Read but not sent to the driver.
  deviceloopback=0
  #
  # The LLC2 timers, retry count and window sizes that initialising hands the
  # driver. Each is sent as 16 bits: 0, or a value whose low 16 bits are 0
  # (65536), sends the default given after it; a larger value is cut to its
  # low 16 bits (70000 sends 4464).
  timeinterval=0\t# LLC2: Timer Multiplier (no default: 0 is sent as 0) (esc)
  acktimer=2\t# LLC2: Ack Timer (default 2) (esc)
  rsptimer=2\t# LLC2: Response Timer (default 2) (esc)
  polltimer=4\t# LLC2: Poll Timer (default 4) (esc)
  rejecttimer=6\t# LLC2: Reject Timer (default 6) (esc)
  rembusytimer=8\t# LLC2: Remote Busy Timer (default 8) (esc)
  inacttimer=30\t# LLC2: Inactivity Timer (default 30) (esc)
  maxretry=6\t# LLC2: Maximum Retry Value (default 6) (esc)
  xmitwindowsz=14\t# LLC2: Transmit Window Size (default 14) (esc)
  rcvwindowsz=14\t# LLC2: Receive Window Size (default 14) (esc)
