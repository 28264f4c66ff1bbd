#!/usr/bin/env bash
# Installs what the build and the tests need, once: MinGW-w64 (posix thread
# model drivers for i686 and x86_64), Wine for both bitnesses (with the i386
# architecture added), CMake, Ninja, the GoogleTest sources; bzip2's library
# (the compression benchmark's comparison), clang for the libFuzzer targets,
# pugixml and expat for the XML benchmark's peers; clang-format for the
# formatting check.
# Idempotent: a second run checks the packages and installs nothing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

packages=(
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386
  cmake ninja-build googletest g++ make
  libbz2-dev clang clang-format libpugixml-dev libexpat1-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# A mirror in the middle of a sync makes one index fail; try again, then go
# on with the lists that did arrive (the install says if a package is missing).
for try in 1 2 3; do
  $SUDO apt-get update -qq && break
  echo "deps: apt-get update failed (try $try)"
  sleep 10
done
if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  # With one architecture's update index missing, the two architectures'
  # candidates differ and the 32-bit libraries cannot match the 64-bit ones:
  # take both from the release itself.
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deps: retrying the install from $release alone"
  $SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades -t "$release" "${missing[@]}" >/dev/null
fi
