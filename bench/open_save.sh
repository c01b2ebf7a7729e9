#!/usr/bin/env bash
# Times the whole document road of the reader beside qpdf doing the same work
# on the same files, in one run: open + page count (`pvl npages` beside
# `qpdf --show-npages`) and open + full rewrite (`pvl save` beside
# `qpdf IN OUT`), for the largest corpus files and for the whole corpus.
#   bench/open_save.sh [COUNT] [REPEAT]    COUNT largest files (8), REPEAT runs each (5)
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT=${1:-8}
REPEAT=${2:-5}
. bench/bench_build.sh

# Wall time in milliseconds of REPEAT runs of a command (status ignored:
# damaged files fail in both programs).
time_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$REPEAT"); do "$@" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 / REPEAT ))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }'; }

printf "%-40s %9s %8s %8s %6s %8s %8s %6s\n" "file" "bytes" "pvl pg" "qpdf pg" "ratio" "pvl sv" "qpdf sv" "ratio"
ls -S ../shared/corpus/*/*.pdf | head -n "$COUNT" | while read -r f; do
  a=$(time_ms "$PVL" npages "$f")
  b=$(time_ms qpdf --show-npages "$f")
  c=$(time_ms "$PVL" save "$f" "$OUT/pvl.pdf")
  d=$(time_ms qpdf "$f" "$OUT/qpdf.pdf")
  printf "%-40s %9s %8s %8s %6s %8s %8s %6s\n" "$(basename "$f")" "$(stat -c %s "$f")" "$a" "$b" "$(ratio "$a" "$b")" \
    "$c" "$d" "$(ratio "$c" "$d")"
done

# The whole corpus once, each program on every file.
all_ms() {
  local start end
  start=$(date +%s%N)
  for f in ../shared/corpus/*/*.pdf; do "$@" "$f" >/dev/null 2>&1 || true; done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
save_pvl() { "$PVL" save "$1" "$OUT/pvl.pdf"; }
save_qpdf() { qpdf "$1" "$OUT/qpdf.pdf"; }
a=$(all_ms "$PVL" npages); b=$(all_ms qpdf --show-npages)
c=$(all_ms save_pvl); d=$(all_ms save_qpdf)
echo "whole corpus: page count pvl ${a} ms, qpdf ${b} ms (ratio $(ratio "$a" "$b")); save pvl ${c} ms, qpdf ${d} ms (ratio $(ratio "$c" "$d"))"
