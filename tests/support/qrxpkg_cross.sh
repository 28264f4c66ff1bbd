#!/usr/bin/env bash
# The package tool across its builds: a tree packed by the 32-bit Windows
# build under Wine is extracted by the 64-bit Windows build and by the Linux
# build, and both results match the tree (names, contents, modified times to
# the second, the read-only mark); the two Windows builds pack the same tree
# into the same bytes. Run by tools/test.sh once every build is there, with
# the Wine server already up; exit 0 when all holds.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$ROOT"
source tools/wine-env.sh

exe32=build/i686/setup/source/qrxpkg/qrxpkg.exe
exe64=build/x86_64/setup/source/qrxpkg/qrxpkg.exe
linux=build/host/setup/source/qrxpkg/qrxpkg
for f in "$exe32" "$exe64" "$linux"; do
  [ -x "$f" ] || { echo "missing: $f"; exit 1; }
done
run32() { /usr/lib/wine/wine "$exe32" "$@" </dev/null; }
run64() { /usr/lib/wine/wine64 "$exe64" "$@" </dev/null; }

work="$ROOT/build/qrxpkg_cross"
rm -rf "$work"
mkdir -p "$work/src/tree/emptydir" "$work/src/tree/sub"
src="$work/src/tree"
printf 'first line\nsecond line\nfirst line again\n' >"$src/notes.txt"
for i in $(seq 1 200); do echo "line $i of the log"; done >"$src/run.log"
printf 'Z' >"$src/one.bin"
: >"$src/empty.dat"
printf '[main]\nkey=value\n' >"$src/sub/settings.ini"
printf 'kept as it is\n' >"$src/readonly.txt"
touch -d '2021-03-14 10:21:01 UTC' "$src/notes.txt"
touch -d '2021-03-14 10:22:02 UTC' "$src/run.log"
touch -d '2021-03-14 10:23:03 UTC' "$src/one.bin"
touch -d '2021-03-14 10:24:04 UTC' "$src/empty.dat"
touch -d '2021-03-14 10:25:05 UTC' "$src/sub/settings.ini"
touch -d '2021-03-14 10:26:06 UTC' "$src/readonly.txt"
chmod a-w "$src/readonly.txt"
touch -d '2021-03-14 10:27:07 UTC' "$src/emptydir"
touch -d '2021-03-14 10:28:08 UTC' "$src/sub"
touch -d '2021-03-14 10:29:09 UTC' "$src"

# One line per entry below a tree: name, kind, modified second, read-only
# mark and the contents' digest. Root passes every access check, so the
# mark is read from the mode bits.
listing() {
  (cd "$1" && find . -mindepth 1 | LC_ALL=C sort | while read -r p; do
    if [ -d "$p" ]; then
      echo "$p dir $(stat -c %Y "$p")"
    else
      mode=$(stat -c %a "$p")
      ro=rw
      [ $((8#$mode & 8#222)) = 0 ] && ro=ro
      echo "$p file $(stat -c %Y "$p") $ro $(sha256sum <"$p" | cut -d' ' -f1)"
    fi
  done)
}

fail=0
# A tool run that fails is said and counted; the checks after it still run.
step() {
  local rc=0
  "$@" || rc=$?
  if [ "$rc" != 0 ]; then
    echo "FAILED (exit $rc): $*"
    fail=1
  fi
}
check() {
  local what=$1 dir=$2
  if diff <(listing "$src") <(listing "$dir/tree") >"$work/$what.diff"; then
    echo "ok: $what"
  else
    echo "FAILED: $what differs from the source tree:"
    cat "$work/$what.diff"
    fail=1
  fi
}

win() { echo "Z:$1"; }

# The source directory's record carries its access time, which reading it
# moves on: both writers start from the same one.
same_access() { find "$src" -exec touch -a -d '2021-03-15 08:00:00 UTC' {} +; }
same_access
step run32 create "$(win "$work/i686.pkg")" "$(win "$src")" --recursive
same_access
step run64 create "$(win "$work/x86_64.pkg")" "$(win "$src")" --recursive
if cmp "$work/i686.pkg" "$work/x86_64.pkg"; then
  echo "ok: the i686 and x86_64 packages are the same bytes"
else
  echo "FAILED: the i686 and x86_64 packages differ"
  fail=1
fi

step run64 extract "$(win "$work/i686.pkg")" "$(win "$work/out64")"
check "x86_64 extract" "$work/out64"
# Again into the same destination: the package's tree replaces the first
# result, a file left there included.
[ -d "$work/out64/tree" ] && echo stale >"$work/out64/tree/stale.txt"
step run64 extract "$(win "$work/i686.pkg")" "$(win "$work/out64")"
check "x86_64 extract over the first" "$work/out64"
step "$linux" extract "$work/i686.pkg" "$work/outlinux"
check "Linux extract" "$work/outlinux"
step "$linux" verify "$work/i686.pkg"
# A directory is packed under its own name.
first=$("$linux" list "$work/i686.pkg" | head -n 1)
if [ "${first##* }" = tree ]; then
  echo "ok: the first record is the directory tree"
else
  echo "FAILED: the first record is not the directory tree: $first"
  fail=1
fi

exit $fail
