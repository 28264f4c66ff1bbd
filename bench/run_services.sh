#!/usr/bin/env bash
# Builds the log, allocator and sync-group benchmarks for both targets, runs them under
# Wine and prints one table per benchmark, each row with its goal and whether
# it is met. Arguments: the rounds per case (default 3; the best is
# reported), then "parts" to add where one line's and one pair's time goes.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/deps.sh
source tools/wine-env.sh
wine_start
trap wine_stop EXIT
rounds=${1:-3}
read -r -a targets <<<"$(wine_targets)"
for p in "${targets[@]}"; do
  [ -f "build/$p/build.ninja" ] || cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" --target os_coslog_bench os_cosmem_bench os_cossync_bench >/dev/null
done
for bench in os_coslog_bench os_cosmem_bench os_cossync_bench; do
  echo
  # The first target prints the table's title and header, the next ones only
  # their rows.
  mode=""
  for p in "${targets[@]}"; do
    wine "build/$p/bench/services/$bench.exe" "$rounds" $mode </dev/null
    mode=rows
  done
done
if [ "${2:-}" = parts ]; then
  for bench in os_coslog_bench os_cosmem_bench; do
    for p in "${targets[@]}"; do
      wine "build/$p/bench/services/$bench.exe" parts </dev/null
    done
  done
fi
cat <<'NOTE'

ns/line and ns per pair: wall time divided by all lines (pairs) of all
threads. The disabled call's goal is per core: wall time per call times the
processors kept busy (threads beyond the processors only share them). The
floor: the log's own system calls per line (open, lock, seek to the end,
write, unlock, close) on a file of its own.
NOTE
