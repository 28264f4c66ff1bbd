#!/usr/bin/env bash
# Installs what the build and the tests need, once: MinGW-w64 (posix thread
# model drivers for i686 and x86_64), Wine for both bitnesses (with the i386
# architecture added), CMake, Ninja, the GoogleTest sources; bzip2's library
# (the compression benchmark's comparison), clang for the libFuzzer targets,
# pugixml and expat for the XML benchmark's peers; clang-format for the
# formatting check.
# Where the kernel runs no 32-bit programs (ia32 emulation off), also qemu's
# user-mode emulation of i386, registered with the kernel for 32-bit programs.
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

install_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  echo "deps: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # A mirror in the middle of a sync makes one index fail; try again, then go
  # on with the lists that did arrive (the install says if a package is missing).
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq && break
    echo "deps: apt-get update failed (try $try)"
    sleep 10
  done
  if ! $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
    # With one architecture's update index missing, the two architectures'
    # candidates differ and the 32-bit libraries cannot match the 64-bit ones:
    # take both from the release itself.
    local release
    release=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "deps: retrying the install from $release alone"
    $SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades -t "$release" "${missing[@]}" >/dev/null
  fi
}
install_packages "${packages[@]}"

# A kernel without 32-bit support refuses Wine's 32-bit loader: exec format
# error. Its programs then run on qemu-i386, which binfmt_misc starts for
# every 32-bit x86 program (flag F: the emulator is opened now, so it serves
# in any mount namespace). Where binfmt_misc is not at hand the 32-bit side
# stays off and the scripts say so.
binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e "$binfmt/qemu-i386" ] && ! err=$(/usr/lib/wine/wine --version 2>&1 >/dev/null) &&
  [[ $err == *"Exec format error"* ]]; then
  if [ ! -e "$binfmt/register" ]; then
    $SUDO modprobe binfmt_misc 2>/dev/null || true
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || true
  fi
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # The package may register the emulator itself.
  if [ -e "$binfmt/register" ] && install_packages qemu-user-static &&
    { [ -e "$binfmt/qemu-i386" ] ||
      printf '%s\n' ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:FP" |
      $SUDO tee "$binfmt/register" >/dev/null 2>&1; }; then
    echo "deps: 32-bit programs run on qemu-i386 (this kernel runs none itself)"
  else
    echo "deps: this kernel runs no 32-bit programs, and qemu-i386 cannot be registered for them"
  fi
fi
