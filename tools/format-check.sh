#!/usr/bin/env bash
# Fails, naming the files, when a C++ file of the tree is not formatted as
# .clang-format says. `bash tools/format-check.sh --fix` formats them.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i --style=file "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format --style=file "$f" | cmp -s - "$f"; then
    echo "format: $f differs from .clang-format (bash tools/format-check.sh --fix)"
    bad=1
  fi
done
exit $bad
