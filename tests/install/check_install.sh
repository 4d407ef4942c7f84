#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# check_install.sh CMAKE BUILD_DIR SBINDIR MANDIR DATADIR LOCALEDIR FULL_LOCALEDIR PLUGINDIR
# Installs the build into a staging directory outside the build tree, as an
# installed copy lives, and checks each file and its mode.
set -euo pipefail
cmake=$1 build=$2 sbin=$3 man=$4 data=$5 locale=$6 prefix_locale=$7 plugins=$8
stage=$(mktemp -d /tmp/llc2stage.XXXXXX)
trap 'rm -rf "$stage"' EXIT
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
expect "$man/man8/check_llc2.8" 644
expect "$plugins/check_llc2" 755
expect "$data/llc2/llc2.sample" 644
expect "$data/llc2/llc2.rc" 755
expect "$locale/de/LC_MESSAGES/ZANT_OST_OSCMD.mo" 644
# The installed tool runs.
"$stage/$sbin/llc2" -q -q 2>/dev/null && rc=0 || rc=$?
[ "$rc" -eq 2 ] || { echo "installed llc2 -q -q: status $rc, want 2"; status=1; }
# So does the plugin, under the shell monitoring systems run it with.
said=$(sh "$stage/$plugins/check_llc2" -V) && rc=0 || rc=$?
case $rc:$said in
"3:check_llc2 "[0-9]*) ;;
*) echo "installed check_llc2 -V: status $rc, said $said"; status=1 ;;
esac
# The installed plugin calls the llc2 of the install, under the prefix given
# to cmake --install, not the one configured; under DESTDIR, the final one.
installed_line() { grep '^installed=' "$1"; }
said=$(installed_line "$stage/$plugins/check_llc2")
[ "$said" = "installed='$stage/$sbin/llc2'" ] || { echo "installed check_llc2: $said"; status=1; }
said=$(sh "$stage/$plugins/check_llc2" -h | grep -e '-l PATH') || true
case $said in
*"default: $stage/$sbin/llc2,"*) ;;
*) echo "installed check_llc2 -h: $said"; status=1 ;;
esac
# An installed program reads catalogues only under the prefix it was built
# for, never at the build tree's path, though a German catalogue stands there
# now: anybody who can make that path could otherwise supply the formats.
if [ ! -e "$prefix_locale/de/LC_MESSAGES/ZANT_OST_OSCMD.mo" ]; then
  said=$(LC_ALL=C.UTF-8 LANGUAGE=de "$stage/$sbin/llc2" -p 3x 2>&1 >/dev/null) || true
  case $said in
    "Invalid PPA number: 3x"*) ;;
    *) echo "installed llc2 took a catalogue from outside its prefix: $said"; status=1 ;;
  esac
fi
# The installed sample is a file the tool accepts as it stands.
conf=$(mktemp -d)
mkdir -p "$conf/etc/llc2/default"
cp "$stage/$data/llc2/llc2.sample" "$conf/etc/llc2/default/llc2.0"
LLC2_ROOT=$conf "$stage/$sbin/llc2conf" check 0 >/dev/null || { echo "llc2conf check rejects the sample"; status=1; }
rm -rf "$conf"
# The Ansible collection, its modules looking for the programs in the sbin
# directory of the install, here and under DESTDIR.
coll=$data/llc2/ansible/ansible_collections/llc2/llc2
expect "$coll/galaxy.yml" 644
expect "$coll/roles/ppas/tasks/main.yml" 644
expect "$coll/plugins/modules/ppa.py" 644
expect "$coll/plugins/module_utils/llc2.py" 644
sbindir_line() { grep '^SBINDIR = ' "$1/plugins/module_utils/llc2.py"; }
said=$(sbindir_line "$stage/$coll")
[ "$said" = "SBINDIR = \"$stage/$sbin\"" ] || { echo "installed collection: $said"; status=1; }
[ -z "$(find "$stage/$coll" -name __pycache__)" ] || { echo "installed collection: __pycache__"; status=1; }
DESTDIR=$stage/dest "$cmake" --install "$build" --prefix /opt/llc2 >/dev/null
said=$(sbindir_line "$stage/dest/opt/llc2/$coll")
[ "$said" = "SBINDIR = \"/opt/llc2/$sbin\"" ] || { echo "collection under DESTDIR: $said"; status=1; }
said=$(installed_line "$stage/dest/opt/llc2/$plugins/check_llc2")
[ "$said" = "installed='/opt/llc2/$sbin/llc2'" ] || { echo "check_llc2 under DESTDIR: $said"; status=1; }
expect "dest/opt/llc2/$plugins/check_llc2" 755
exit $status
