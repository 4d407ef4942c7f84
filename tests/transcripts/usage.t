--help and --version of llc2 and llc2conf: status 0, every option or
subcommand on a line of its own, the configuration directory actually used.
A bad command line still gets the usage line of old and status 2.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"

  $ command llc2 --help | sed -n '1,4p;/directory/p'
  Usage: llc2 [-d] [-P | -U | -p PPA | -u PPA | -i PPA | -r PPA | -q]
         llc2 [-d] --json | --status [PPA ...] | --metrics [PPA ...]
         llc2 [-d] --apply [-n] [--prune] [PPA ...]
         llc2 --help | --version
  Configuration directory: */r/etc/llc2/default/, with a file llc2.PPA for each PPA (glob)
  $ for o in -P -U -p -u -i -r -q -d --json --status --metrics --apply --help --version; do
  >   command llc2 --help | grep -q -e "^  \(([a-z]*), \)\?$o " || echo "no line for $o"
  > done
  $ command llc2 -d --help | cmp - <(command llc2 --help) && echo the same text
  the same text
  $ llc2 --version
  llc2 [0-9][0-9.]* (re)
  [exit 0]
  $ llc2 --verbose
  llc2: invalid option -- '-'
  Usage: llc2 [-P|-U|-p <ppa>|-u <ppa>|-q]
  [exit 2]
  $ llc2 -p --help
  Invalid PPA number: --help
  Usage: llc2 [-P|-U|-p <ppa>|-u <ppa>|-q]
  [exit 2]

  $ command llc2conf --help | sed -n '1,7p;/directory/p'
  Usage: llc2conf create [-f] [-n] PPA LINKNAME [KEYWORD=VALUE ...]
         llc2conf set [-n] PPA KEYWORD=VALUE ...
         llc2conf delete [-n] PPA
         llc2conf check [PPA ...]
         llc2conf show PPA
         llc2conf list [--json]
         llc2conf --help | --version
  Configuration directory: */r/etc/llc2/default/, with a file llc2.PPA for each PPA (glob)
  $ for o in create -f set delete -n, check show list --help --version; do
  >   command llc2conf --help | grep -q -e "^  $o " || echo "no line for $o"
  > done
  $ llc2conf --version
  llc2conf [0-9][0-9.]* (re)
  [exit 0]
  $ llc2conf help
  Usage: llc2conf create [-f] [-n] <ppa> <linkname> [keyword=value ...]
         llc2conf set [-n] <ppa> keyword=value ...
         llc2conf delete [-n] <ppa>
         llc2conf check [<ppa> ...]
         llc2conf show <ppa>
         llc2conf list [--json]
  [exit 2]
