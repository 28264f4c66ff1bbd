#!/usr/bin/env bash
# Installs what is missing, builds both Windows targets and the host build,
# and runs every test (the Windows ones under Wine). Ends with the summary.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

bash tools/deps.sh
source tools/wine-env.sh

presets=(i686 x86_64 host host-asan)
for p in "${presets[@]}"; do
  [ -f "build/$p/build.ninja" ] || cmake --preset "$p" >/dev/null
  cmake --build --preset "$p"
done

wine_start
trap wine_stop EXIT

passed=0
failed=0
status=0
for p in "${presets[@]}"; do
  echo "== ctest: $p"
  log="build/$p/ctest.log"
  set +e
  ctest --preset "$p" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  set -e
  [ "$rc" = 0 ] || status=1
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif grep -q 'No tests were found' "$log"; then
    :
  else
    status=1
  fi
done
echo "ctest: $passed passed, $failed failed"
exit $status
