#!/usr/bin/env bash
# Builds and runs the tree-operation benchmark (10,000 files in 100
# directories) under Wine for both targets and prints the figures.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/deps.sh
source tools/wine-env.sh
wine_start
trap wine_stop EXIT
for p in $(wine_targets); do
  [ -f "build/$p/build.ninja" ] || cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" --target os_cosfile_bench >/dev/null
  echo "== $p"
  wine "build/$p/bench/files/os_cosfile_bench.exe" "${1:-3}"
done
