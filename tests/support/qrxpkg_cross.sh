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
for f in "$exe32" "$exe64" "$linux"; do [ -x "$f" ] || { echo "missing: $f"; exit 1; }; done

work="$ROOT/build/qrxpkg_cross"
src="$work/src/tree"
rm -rf "$work"
mkdir -p "$src/emptydir" "$src/sub"
printf 'first line\nsecond line\nfirst line again\n' >"$src/notes.txt"
seq -f 'line %g of the log' 200 >"$src/run.log"
seq -f 'scan %g: page read, image kept' 80000 >"$src/sub/scan.log"  # many blocks, coded side by side
printf 'Z' >"$src/one.bin"
: >"$src/empty.dat"
printf '[main]\nkey=value\n' >"$src/sub/settings.ini"
printf 'kept as it is\n' >"$src/readonly.txt"
chmod a-w "$src/readonly.txt"
# Directories last, after their contents.
i=0
for p in notes.txt run.log one.bin empty.dat sub/settings.ini sub/scan.log readonly.txt emptydir sub .; do
  i=$((i + 1))
  touch -d "2021-03-14 10:$((20 + i)):$(printf %02d "$i") UTC" "$src/$p"
done

# One line per entry from the tree down: name, modified second, read-only
# mark (from the mode bits: root passes every access check), contents' digest.
listing() {
  (cd "$1" && find tree | LC_ALL=C sort | while read -r p; do
    case $(stat -c %A "$p") in *w*) mark=rw ;; *) mark=ro ;; esac
    [ -d "$p" ] && sum=dir || sum=$(sha256sum <"$p")
    echo "$p $(stat -c %Y "$p") $mark $sum"
  done)
}

fail=0
run() { "$@" </dev/null || { echo "FAILED (exit $?): $*"; fail=1; }; }
check() {
  if diff <(listing "$work/src") <(listing "$2") >"$work/$1.diff"; then
    echo "ok: $1"
  else
    echo "FAILED: $1 differs from the source tree:" && cat "$work/$1.diff"
    fail=1
  fi
}

# The directory's record carries its access time, which reading it moves on:
# both writers start from the same one.
same_access() { find "$src" -exec touch -a -d '2021-03-15 08:00:00 UTC' {} +; }
same_access && run /usr/lib/wine/wine "$exe32" create "Z:$work/i686.pkg" "Z:$src" --recursive
same_access && run /usr/lib/wine/wine64 "$exe64" create "Z:$work/x86_64.pkg" "Z:$src" --recursive
same_access && run /usr/lib/wine/wine "$exe32" create "Z:$work/one.pkg" "Z:$src" --recursive --threads 1
cmp "$work/i686.pkg" "$work/x86_64.pkg" && echo "ok: the i686 and x86_64 packages are the same bytes" ||
  { echo "FAILED: the i686 and x86_64 packages differ"; fail=1; }
cmp "$work/i686.pkg" "$work/one.pkg" && echo "ok: one thread writes the same package as all processors" ||
  { echo "FAILED: the package of one thread differs"; fail=1; }

run /usr/lib/wine/wine64 "$exe64" extract "Z:$work/i686.pkg" "Z:$work/out64" --threads 8
check "x86_64 extract" "$work/out64"
run "$linux" extract "$work/i686.pkg" "$work/outlinux" --threads 3
check "Linux extract" "$work/outlinux"
exit $fail
