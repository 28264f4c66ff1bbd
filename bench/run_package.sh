#!/usr/bin/env bash
# Builds and runs the package benchmark (a 200 MiB tree of text and log
# files, packed and extracted, against the container on the same bytes in
# memory) under Wine for both targets and prints the figures.
# Usage: bench/run_package.sh [runs]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/deps.sh
source tools/wine-env.sh
wine_start
trap wine_stop EXIT
for p in $(wine_targets); do
  [ -f "build/$p/build.ninja" ] || cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" --target os_cosfile_package_bench >/dev/null
  echo "== $p"
  wine "build/$p/bench/files/os_cosfile_package_bench.exe" "${1:-3}"
done
