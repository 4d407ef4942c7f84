--help and --version of llc2 and llc2conf; a bad command line still gets the
usage line of old and status 2.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"

  $ llc2 --help
  Usage: llc2 [-d] [-P | -U | -p PPA | -u PPA | -i PPA | -r PPA | -q]
         llc2 --help | --version
  Administers the PPAs of the llc2 STREAMS driver, one action a run.
  
    (none), -q  print the status table of every PPA from 0 to 63
    -P          plumb and initialise every configured PPA (system start)
    -U          uninitialise and unplumb every PPA the driver reports
    -p PPA      plumb and initialise one PPA
    -u PPA      uninitialise and unplumb one PPA
    -i PPA      initialise one PPA that is already plumbed
    -r PPA      uninitialise one PPA and leave it plumbed
    -d          debug traces on standard error; with -P, list the PPAs
    --help      print this text
    --version   print the name and version
  
  Configuration directory: /tmp/r/etc/llc2/default/, with a file llc2.PPA for each PPA
  
  Exit status:
    0    the action succeeded
    255  the action failed; standard error says why, and -d says more
    2    usage error; nothing was opened
  [exit 0]
  $ llc2 --version
  llc2 [0-9][0-9.]* (re)
  [exit 0]
  $ command llc2 -d --help | cmp - <(command llc2 --help) && echo the same text
  the same text
  $ llc2 --verbose
  llc2: invalid option -- '-'
  Usage: llc2 [-P|-U|-p <ppa>|-u <ppa>|-q]
  [exit 2]
  $ llc2 -p 3x
  Invalid PPA number: 3x
  Usage: llc2 [-P|-U|-p <ppa>|-u <ppa>|-q]
  [exit 2]
  $ llc2 -p --help
  Invalid PPA number: --help
  Usage: llc2 [-P|-U|-p <ppa>|-u <ppa>|-q]
  [exit 2]
  $ llc2conf --help
  Usage: llc2conf create [-f] PPA LINKNAME [KEYWORD=VALUE ...]
         llc2conf check [PPA ...]
         llc2conf show PPA
         llc2conf --help | --version
  Writes, checks and shows the configuration files of the llc2 driver's
  PPAs; never opens the driver.
  
    create     write PPA's file for interface LINKNAME (such as xnic0)
    -f         with create: replace the file if it exists
    check      check the files llc2 -P would find, or the PPAs given
    show       print the ten values llc2 -i would send for PPA
    --help     print this text
    --version  print the name and version
  
  Configuration directory: /tmp/r/etc/llc2/default/, with a file llc2.PPA for each PPA
  
  Exit status:
    0    done, nothing wrong
    1    create refused or failed, check found a fault, show could not read
    2    usage error; nothing was read or written
  [exit 0]
  $ llc2conf --version
  llc2conf [0-9][0-9.]* (re)
  [exit 0]
  $ llc2conf help
  Usage: llc2conf create [-f] <ppa> <linkname> [keyword=value ...]
         llc2conf check [<ppa> ...]
         llc2conf show <ppa>
  [exit 2]
