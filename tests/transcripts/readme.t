The README's transcripts of every action against llc2sim, in the order of
the README's one session. tests/transcripts/readme_blocks.sh checks that
every transcript block of the README is found here as it stands.

llc2sim with one interface, xnic, and no PPA yet; no configuration
directory, nor its parents:

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"
  $ start "$LLC2_SOURCE/tests/transcripts/xnic.json"
  $ rm -r r/etc

  $ llc2conf create 0 xnic0
  Created directory /tmp/r/etc
  Created directory /tmp/r/etc/llc2
  Created directory /tmp/r/etc/llc2/default
  [exit 0]
  $ llc2conf create 1 xnic1 acktimer=5 maxretry=10
  [exit 0]
  $ llc2conf create 2 xnic2 llc2_on=0
  [exit 0]
  $ llc2conf create 0 xnic0
  /tmp/r/etc/llc2/default/llc2.0 exists; give -f to replace it
  [exit 1]

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

  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
  [exit 0]

What llc2 -P leaves, given to llc2sim as it stands: the identifiers the
driver hands out follow the order in which -P finds the files, which is the
directory's and differs between file systems.

  $ cat >up.json <<'JSON'
  > {"ppas": [
  >   {"ppa": 0, "instance": 0, "state": 4, "id": 2, "mac": "02:00:00:a1:b2:c3", "link_id": 1},
  >   {"ppa": 1, "instance": 1, "state": 4, "id": 1, "mac": "02:00:00:a1:b2:c4", "link_id": 2}]}
  > JSON
  $ start up.json

  $ llc2 -r 1
  [exit 0]
  $ llc2
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0002 020000a1b2c3 ethernet   1500      1    1       xnic0
    1  down  0001 020000a1b2c4 ethernet   1500      1    1       xnic1
  [exit 0]
  $ llc2 -i 1
  [exit 0]
  $ llc2 -u 1
  [exit 0]
  $ llc2 -q
  PPA State    ID      MACAddr     Type MaxSDU MinSDU Mode     Device
    0    up  0002 020000a1b2c3 ethernet   1500      1    1       xnic0
  [exit 0]
  $ llc2 -p 1
  [exit 0]
  $ llc2 -p 2
  Cannot plumb PPA 2
  [exit 255]
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
