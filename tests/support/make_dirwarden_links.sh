#!/usr/bin/env bash
# Plants the links that a hostile user could leave in the common
# application-data folder before dirwarden runs: the per-program folder of
# company "qrxlinkuser" and the whole company folder "qrxlinkco" are links
# to folders outside the tree, each holding keep.txt and the folders a
# program's subtree and old log directories would have there. "clean"
# removes them.
set -euo pipefail
action=$1
dir=$2
programdata="${WINEPREFIX:?the Wine prefix}/drive_c/ProgramData"
rm -rf "$dir" "$programdata/qrxlinkuser" "$programdata/qrxlinkco"
[ "$action" = clean ] && exit 0
mkdir -p "$dir/target_user" "$dir/target_co" "$programdata/qrxlinkuser"
chmod 0755 "$dir/target_user" "$dir/target_co"
echo keep > "$dir/target_user/keep.txt"
echo keep > "$dir/target_co/keep.txt"
ln -s "$dir/target_user" "$programdata/qrxlinkuser/dirwarden"
ln -s "$dir/target_co" "$programdata/qrxlinkco"
mkdir -p "$dir/target_user/dirwarden/log.1" "$dir/target_co/dirwarden/dirwarden/log.1"
echo keep > "$dir/target_user/dirwarden/log.1/keep.txt"
echo keep > "$dir/target_co/dirwarden/dirwarden/log.1/keep.txt"
