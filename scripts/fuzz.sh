#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/fuzz_*.cpp) with clang and runs each
# for SECONDS seconds on its seed corpus. Exits non-zero when a target finds a
# crash, a leak, a timeout or an out-of-memory case.
#   scripts/fuzz.sh 60            every target, 60 seconds each
#   scripts/fuzz.sh 60 fuzz_xyz   one target
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
ONLY=${2:-}

./scripts/install-deps.sh

BUILD_DIR=${FUZZ_BUILD_DIR:-fuzz-build}
CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPVL_FUZZ=ON -DPVL_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
WORK=${FUZZ_WORK_DIR:-fuzz-corpus}
mkdir -p "$WORK"
status=0
for bin in "$BUILD_DIR"/tests/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  [ -n "$ONLY" ] && [ "$name" != "$ONLY" ] && continue
  corpus="$WORK/$name"
  mkdir -p "$corpus"
  # Seeds: the target's own seed folder, plus anything a seed script makes.
  if [ -d "tests/fuzz/seeds/$name" ]; then cp -n tests/fuzz/seeds/$name/* "$corpus"/ 2>/dev/null || true; fi
  if [ -x "tests/fuzz/seeds/$name.sh" ]; then "tests/fuzz/seeds/$name.sh" "$corpus" || true; fi
  echo "== $name ($SECONDS_PER_TARGET s)"
  if ! "$bin" "$corpus" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb=2048 -timeout=10 \
       -max_len=65536 -artifact_prefix="$WORK/$name-" -print_final_stats=1 2>"$WORK/$name.log"; then
    echo "!! $name found a problem; see $WORK/$name.log and $WORK/$name-*"
    tail -40 "$WORK/$name.log"
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$WORK/$name.log" | tail -2 || true
  fi
done
exit $status
