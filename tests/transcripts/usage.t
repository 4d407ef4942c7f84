SPDX-License-Identifier: Apache-2.0
--help and --version of llc2 and llc2conf: status 0, every option or
subcommand on a line of its own, the configuration directory actually used.
A bad command line still gets the usage line of old and status 2.

  $ . "$LLC2_SOURCE/tests/transcripts/sim.sh"

  $ command llc2 --help | sed -n '1,4p;/directory/p'
  Usage: llc2 [-d] [-D DIR] [-P | -U | -p PPA | -u PPA | -i PPA | -r PPA | -q]
         llc2 [-d] [-D DIR] --json | --status [PPA ...] | --metrics [PPA ...]
         llc2 [-d] [-D DIR] --apply [-n] [--json] [--prune] [PPA ...]
         llc2 --help | --version
  Configuration directory: */r/etc/llc2/default/, with a file llc2.PPA for each PPA (glob)
  $ command llc2 -D staged --help | grep directory
  Configuration directory: staged/, with a file llc2.PPA for each PPA
  $ command llc2conf --config-dir=/srv/llc2/ --help | grep directory
  Configuration directory: /srv/llc2/, with a file llc2.PPA for each PPA
  $ for o in -P -U -p -u -i -r -q -d -D --json --status --metrics --apply --help --version; do
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
  Usage: llc2conf [-D DIR] create [-f] [-n] PPA LINKNAME [KEYWORD=VALUE ...]
         llc2conf [-D DIR] set [-n] PPA KEYWORD=VALUE ...
         llc2conf [-D DIR] delete [-n] PPA
         llc2conf [-D DIR] check [PPA ...]
         llc2conf [-D DIR] show PPA
         llc2conf [-D DIR] list [--json]
         llc2conf --help | --version
  Configuration directory: */r/etc/llc2/default/, with a file llc2.PPA for each PPA (glob)
  $ for o in create -f set delete -n, check show list -D --help --version; do
  >   command llc2conf --help | grep -q -e "^  $o " || echo "no line for $o"
  > done
  $ llc2conf --version
  llc2conf [0-9][0-9.]* (re)
  [exit 0]
  $ llc2conf help
  Usage: llc2conf [-D <dir>] create [-f] [-n] <ppa> <linkname> [keyword=value ...]
         llc2conf [-D <dir>] set [-n] <ppa> keyword=value ...
         llc2conf [-D <dir>] delete [-n] <ppa>
         llc2conf [-D <dir>] check [<ppa> ...]
         llc2conf [-D <dir>] show <ppa>
         llc2conf [-D <dir>] list [--json]
  [exit 2]
