#!/usr/bin/env bash
# Times `pvl objects` (open, load and decode every object) beside
# `qpdf --check` (open, read and check every object) on the largest corpus
# files, in one run, and prints the ratio per file.
#   bench/read_objects.sh [COUNT] [REPEAT]    COUNT largest files (8), REPEAT runs each (5)
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT=${1:-8}
REPEAT=${2:-5}
BUILD_DIR=${BENCH_BUILD_DIR:-bench-build}

./scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPVL_TESTS=OFF >/dev/null
cmake --build "$BUILD_DIR" --target pvl >/dev/null
PVL="$BUILD_DIR/tools/pvl"

# Wall time in milliseconds of REPEAT runs of a command (its status ignored:
# qpdf --check exits 3 on warnings).
time_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$REPEAT"); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 / REPEAT ))
}

printf "%-44s %9s %10s %10s %7s\n" "file" "bytes" "pvl ms" "qpdf ms" "ratio"
ls -S ../shared/corpus/*/*.pdf | head -n "$COUNT" | while read -r f; do
  pvl_ms=$(time_ms "$PVL" objects "$f")
  qpdf_ms=$(time_ms qpdf --check "$f")
  ratio=$(awk -v a="$pvl_ms" -v b="$qpdf_ms" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }')
  printf "%-44s %9s %10s %10s %7s\n" "$(basename "$f")" "$(stat -c %s "$f")" "$pvl_ms" "$qpdf_ms" "$ratio"
done
