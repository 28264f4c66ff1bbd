#!/usr/bin/env bash
# Writes 1 MiB of random bytes and, for every prefix length from 0 to 1000
# and for the whole, the digest that sha256sum gives: "length HEX" lines.
set -euo pipefail
dir=$1
mkdir -p "$dir"
head -c 1048576 /dev/urandom > "$dir/data.bin"
{
  for n in $(seq 0 1000); do
    printf '%d %s\n' "$n" "$(head -c "$n" "$dir/data.bin" | sha256sum | cut -c1-64)"
  done
  printf '%d %s\n' 1048576 "$(sha256sum < "$dir/data.bin" | cut -c1-64)"
} > "$dir/digests.txt.tmp"
mv "$dir/digests.txt.tmp" "$dir/digests.txt"
