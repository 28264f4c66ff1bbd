#!/usr/bin/env bash
# Builds the shipped 32-bit dirwarden.exe, runs it under Wine with the given
# company name (optional), and shows what it left under the prefix's common
# application-data folder: the tree and the access rights of the company folder.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

bash tools/deps.sh
source tools/wine-env.sh
preset=i686
if [ "$OS_WINE32_EMULATED" = 1 ]; then
  echo "this kernel runs no 32-bit programs: dirwarden.exe runs on qemu-i386 (about a minute)"
elif [ "$OS_WINE32" = 0 ]; then
  # The shipped program is 32-bit; where the kernel runs no 32-bit program
  # the 64-bit build of the same sources shows the same tree.
  preset=x86_64
  echo "this kernel runs no 32-bit programs: running the x86_64 build of dirwarden.exe"
fi
[ -f "build/$preset/build.ninja" ] || cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target dirwarden >/dev/null

wine_start
trap wine_stop EXIT

exe=$(winepath -w "$ROOT/build/$preset/setup/source/dirwarden/dirwarden.exe" 2>/dev/null)
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
