#!/usr/bin/env bash
# Installs a Windows build of the library into a prefix of its own, builds
# this project against it with find_package, runs the program under Wine
# and looks for its log line. Usage: run.sh PRESET (i686 or x86_64); the
# build of that preset must be there, and the Wine server running.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
preset=$1
prefix="$ROOT/build/install/$preset"
build="$ROOT/build/consumer/$preset"
rm -rf "$prefix" "$build"
cmake --install "$ROOT/build/$preset" --prefix "$prefix" >/dev/null
cmake -S "$ROOT/tests/consumer" -B "$build" -G Ninja \
  --toolchain "$ROOT/cmake/toolchain-$preset-w64-mingw32.cmake" -Dqrxos_DIR="$prefix/lib/cmake/qrxos" >/dev/null
cmake --build "$build" >/dev/null
# The log lands in the layout below a common application-data folder of its own.
data="$build/appdata"
mkdir -p "$data"
log=$(QRX_DEBUG=1 QRX_APPDATADIR="$(winepath -w "$data")" wine "$build/qrxos_consumer.exe" </dev/null | tr -d '\r')
[ -n "$log" ] || { echo "consumer ($preset): no log file name printed"; exit 1; }
if grep -q 'consumer>>> linked against qrxos 6' "$(winepath -u "$log")"; then
  echo "consumer ($preset): log line found in $log"
else
  echo "consumer ($preset): log line missing from $log"
  exit 1
fi
