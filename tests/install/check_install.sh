#!/usr/bin/env bash
# check_install.sh CMAKE BUILD_DIR STAGE SBINDIR MANDIR DATADIR LOCALEDIR
# Installs the build into STAGE and checks each file and its mode.
set -euo pipefail
cmake=$1 build=$2 stage=$3 sbin=$4 man=$5 data=$6 locale=$7
rm -rf "$stage"
"$cmake" --install "$build" --prefix "$stage" >/dev/null

status=0
expect() { # path mode
  local got
  if [ ! -f "$stage/$1" ]; then
    echo "missing: $1"
    status=1
    return
  fi
  got=$(stat -c %a "$stage/$1")
  if [ "$got" != "$2" ]; then
    echo "$1: mode $got, want $2"
    status=1
  fi
}
expect "$sbin/llc2" 755
expect "$sbin/llc2sim" 755
expect "$sbin/llc2conf" 755
expect "$man/man8/llc2.8" 644
expect "$man/man8/llc2sim.8" 644
expect "$man/man8/llc2conf.8" 644
expect "$data/llc2/llc2.sample" 644
expect "$data/llc2/llc2.rc" 755
expect "$locale/de/LC_MESSAGES/ZANT_OST_OSCMD.mo" 644
# The installed tool runs.
"$stage/$sbin/llc2" -q -q 2>/dev/null && rc=0 || rc=$?
[ "$rc" -eq 2 ] || { echo "installed llc2 -q -q: status $rc, want 2"; status=1; }
# The installed sample is a file the tool accepts as it stands.
conf=$(mktemp -d)
mkdir -p "$conf/etc/llc2/default"
cp "$stage/$data/llc2/llc2.sample" "$conf/etc/llc2/default/llc2.0"
LLC2_ROOT=$conf "$stage/$sbin/llc2conf" check 0 >/dev/null || { echo "llc2conf check rejects the sample"; status=1; }
rm -rf "$conf"
exit $status
