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
# The prefix is left at Windows 7, whatever ends the run.
trap 'wine_version win7; wine_stop' EXIT

passed=0
failed=0
status=0
# One preset's suites; a_run names the run in its log and its summary line.
# Further arguments go to ctest.
ctest_run() {
  local p=$1 run=$2
  shift 2
  local log="build/$p/ctest-$run.log"
  echo "== ctest: $p ($run)"
  set +e
  ctest --preset "$p" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  [ "$rc" = 0 ] || status=1
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    local total bad
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
    bad=$(sed -E 's/.*tests passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    summary+=("$p $run: $((total - bad)) passed, $bad failed")
    # Tests that skipped a case the machine cannot do, by name, so that a
    # skip never passes unseen.
    local skipped
    skipped=$(grep -hoE '^\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)' "build/$p/Testing/Temporary/LastTest.log" 2>/dev/null |
      awk '{print $4}' | sort -u | tr '\n' ' ' || true)
    [ -z "$skipped" ] || summary+=("$p $run: skipped ${skipped% }")
  elif ! grep -q 'No tests were found' "$log"; then
    status=1
    failed=$((failed + 1))
    summary+=("$p $run: did not run")
  fi
}
summary=()
for p in host host-asan; do ctest_run "$p" linux; done
# The Windows suites under each Windows version the prefix can be: 7 (a fresh
# prefix's), 10, XP (64-bit) and Vista.
for v in win7 win10 winxp64 vista; do
  wine_version "$v"
  for p in i686 x86_64; do
    if [ "$p" = i686 ] && [ "$OS_WINE32" = 0 ]; then
      # On the emulator a process takes a minute to start: the compression
      # suite alone (its containers must match the other targets' byte for
      # byte), under one Windows version.
      if [ "$OS_WINE32_EMULATED" = 1 ] && [ "$v" = win7 ]; then
        ctest_run "$p" "$v" -R '^os_cosfile_compress_test$'
        summary+=("$p $v: only os_cosfile_compress_test, on qemu-i386, as this kernel runs no 32-bit programs")
      elif [ "$OS_WINE32_EMULATED" = 1 ]; then
        summary+=("$p $v: not run, this kernel runs no 32-bit programs and its emulator takes a minute a process")
      else
        summary+=("$p $v: not run, this kernel runs no 32-bit programs")
      fi
      continue
    fi
    ctest_run "$p" "$v"
  done
done
wine_version win7

# Every C++ file as .clang-format lays it out.
echo "== format"
if bash tools/format-check.sh; then
  echo "format: every file formatted"
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  status=1
fi

# A program built against the installed library, found through its CMake
# package, on both Windows targets.
for p in i686 x86_64; do
  echo "== consumer: $p"
  # One process: it runs on the emulator too.
  if [ "$p" = i686 ] && [ "$OS_WINE32" = 0 ] && [ "$OS_WINE32_EMULATED" = 0 ]; then
    echo "consumer ($p): not run, this kernel runs no 32-bit programs"
    summary+=("consumer $p: not run, this kernel runs no 32-bit programs")
    continue
  fi
  if bash tests/consumer/run.sh "$p"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    status=1
  fi
done
# The package tool across its builds (both Windows ones under Wine, the
# Linux one): one test, after every build is there.
echo "== qrxpkg across builds"
set +e
if [ "$OS_WINE32" = 0 ]; then
  rc=skip
else
  bash tests/support/qrxpkg_cross.sh >build/qrxpkg_cross.log 2>&1
  rc=$?
fi
set -e
if [ "$rc" = skip ]; then
  echo "qrxpkg_cross: not run, this kernel runs no 32-bit programs"
  summary+=("qrxpkg_cross: not run, this kernel runs no 32-bit programs")
elif [ "$rc" = 0 ]; then
  echo "qrxpkg_cross: passed"
  passed=$((passed + 1))
else
  echo "qrxpkg_cross: FAILED (exit $rc), see build/qrxpkg_cross.log"
  tail -n 30 build/qrxpkg_cross.log
  failed=$((failed + 1))
  status=1
fi
# The libFuzzer targets (clang, their own build), each for a fixed time after
# the tests; a finding counts as a failed test, a clean run as a passed one.
fuzz_run() {
  local name=$1 seeds=$2 dict=$3
  local log="build/fuzz/$name.log"
  mkdir -p "build/fuzz/corpus_$name"
  set +e
  "build/fuzz/$name" -max_total_time=20 -dict="$dict" -artifact_prefix="build/fuzz/$name-" \
    "build/fuzz/corpus_$name" "$seeds" >"$log" 2>&1
  local rc=$?
  set -e
  if [ "$rc" = 0 ]; then
    echo "fuzz: $name: no finding ($(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 | sed 's/ second/ s/'))"
    passed=$((passed + 1))
  else
    echo "fuzz: $name: FINDING (exit $rc), see $log"
    tail -n 30 "$log"
    failed=$((failed + 1))
    status=1
  fi
}
echo "== fuzz"
if cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null && cmake --build build/fuzz; then
  fuzz_run os_cosxml_fuzz tests/fuzz/seeds/xml tests/fuzz/os_cosxml.dict
  fuzz_run os_coscfg_profile_image_fuzz tests/fuzz/seeds/profile tests/fuzz/os_coscfg_profile.dict
  fuzz_run os_cosfile_compress_fuzz tests/fuzz/seeds/compress tests/fuzz/os_cosfile_compress.dict
  fuzz_run os_cosfile_package_fuzz tests/fuzz/seeds/package tests/fuzz/os_cosfile_package.dict
  fuzz_run os_cosresource_trailer_fuzz tests/fuzz/seeds/resource tests/fuzz/os_cosresource_trailer.dict
else
  echo "fuzz: the targets did not build"
  failed=$((failed + 1))
  status=1
fi

printf '%s\n' "${summary[@]}"
echo "ctest: $passed passed, $failed failed"
exit $status
