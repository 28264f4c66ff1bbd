#!/usr/bin/env bash
# Builds the shipped 32-bit dirwarden.exe, runs it under Wine with the given
# company name (optional), and shows what it left under the prefix's common
# application-data folder: the tree and the access rights of the company folder.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

bash tools/deps.sh
source tools/wine-env.sh
[ -f build/i686/build.ninja ] || cmake --preset i686 >/dev/null
cmake --build --preset i686 --target dirwarden >/dev/null

wine_start
trap wine_stop EXIT

exe=$(winepath -w "$ROOT/build/i686/setup/source/dirwarden/dirwarden.exe" 2>/dev/null)
set +e
wine "$exe" "$@"
rc=$?
set -e
echo "dirwarden.exe exited with $rc"

programdata="$WINEPREFIX/drive_c/ProgramData"
company=${1:-qrx_orvik}
echo "== C:\\ProgramData"
find "$programdata" -mindepth 1 -maxdepth 3 -not -path '*/Microsoft*' | sed "s|^$programdata/||" | sort
if [ -d "$programdata/$company" ]; then
  echo "== access rights of C:\\ProgramData\\$company"
  wine icacls "C:\\ProgramData\\$company" 2>/dev/null | tr -d '\r' || true
  stat -c '%A %n' "$programdata/$company" | sed "s|$programdata/||"
else
  echo "(no folder C:\\ProgramData\\$company)"
fi
