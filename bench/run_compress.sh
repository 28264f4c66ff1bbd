#!/usr/bin/env bash
# Builds the host preset's compression benchmark, assembles the text corpus
# (32 MiB of the machine's text files: licence and copyright notes under
# /usr/share/doc, then C headers under /usr/include, each list in byte-wise
# sorted order) and prints the table. Usage: bench/run_compress.sh [runs]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

[ -f build/host/build.ninja ] || cmake --preset host >/dev/null
cmake --build --preset host --target os_compress_bench -j2 >/dev/null

corpus=build/host/bench/corpus.txt
if [ ! -s "$corpus" ]; then
  mkdir -p "$(dirname "$corpus")"
  {
    find /usr/share/doc -type f -name copyright -print0 | LC_ALL=C sort -z
    find /usr/include -type f -name '*.h' -print0 | LC_ALL=C sort -z
  } | xargs -0 cat 2>/dev/null | head -c $((32 * 1024 * 1024)) > "$corpus" || true
fi
size=$(stat -c %s "$corpus")
if [ "$size" -lt $((32 * 1024 * 1024)) ]; then
  echo "run_compress: only $size bytes of text found" >&2
  exit 1
fi
echo "corpus: $corpus ($size bytes), $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg)"
build/host/bench/os_compress_bench "$corpus" "${1:-5}"
