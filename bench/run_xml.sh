#!/usr/bin/env bash
# Builds the host preset and runs the XML reader's load benchmark (an 8 MB
# task-style document; the reader, pugixml and expat in one run). An optional
# argument sets the loads per round (default 20).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
bash tools/deps.sh
[ -f build/host/build.ninja ] || cmake --preset host >/dev/null
cmake --build --preset host -j2 --target os_cosxml_bench
exec build/host/bench/os_cosxml_bench "$@"
