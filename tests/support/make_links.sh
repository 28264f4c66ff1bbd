#!/usr/bin/env bash
# Plants directory links from the Linux side, where Wine cannot make them
# itself: DIR/tree holds a file, a subdirectory and "link", a symbolic link
# to DIR/target, which holds keep.txt; DIR/walk is the same tree for the
# walks that must not follow the links. "clean" removes DIR.
set -euo pipefail
action=$1
dir=$2
rm -rf "$dir"
[ "$action" = clean ] && exit 0
mkdir -p "$dir/tree/sub" "$dir/target/inner"
echo keep > "$dir/target/keep.txt"
echo keep > "$dir/target/inner/deep.txt"
echo x > "$dir/tree/file.txt"
echo x > "$dir/tree/sub/file.txt"
ln -s ../target "$dir/tree/link"
ln -s ../../target "$dir/tree/sub/link2"
mkdir -p "$dir/walk/sub"
echo x > "$dir/walk/file.txt"
echo x > "$dir/walk/sub/file.txt"
ln -s ../target "$dir/walk/link"
ln -s ../../target "$dir/walk/sub/link2"
