#!/usr/bin/env bash
# Times merging the largest corpus files by the reader's engine (`pvl merge`,
# object by object through the facade) beside qpdf doing the same merge
# (`qpdf --empty --pages A B ... --`), in one run, and prints the ratio.
#   bench/merge_files.sh [COUNT] [REPEAT]    COUNT largest files (10), REPEAT runs (3)
# Encrypted and damaged files are left out: neither program merges them as is.
set -euo pipefail
cd "$(dirname "$0")/.."
COUNT=${1:-10}
REPEAT=${2:-3}
. bench/bench_build.sh

files=()
while read -r f; do
  case "$f" in *fuzz*) continue ;; esac
  qpdf --show-encryption "$f" 2>/dev/null | grep -q "not encrypted" || continue
  qpdf --check "$f" >/dev/null 2>&1 || continue
  files+=("$f")
  [ "${#files[@]}" -ge "$COUNT" ] && break
done < <(ls -S ../shared/corpus/*/*.pdf)

time_ms() {
  local start end
  start=$(date +%s%N)
  for _ in $(seq "$REPEAT"); do "$@" >/dev/null 2>&1; done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 / REPEAT ))
}

echo "merging ${#files[@]} files:"
for f in "${files[@]}"; do printf "  %-40s %9s bytes\n" "$(basename "$f")" "$(stat -c %s "$f")"; done
a=$(time_ms "$PVL" merge "${files[@]}" --out "$OUT/pvl-merged.pdf")
b=$(time_ms qpdf --empty --pages "${files[@]}" -- "$OUT/qpdf-merged.pdf")
printf "pvl merge %d ms, qpdf --empty --pages %d ms, ratio %s\n" "$a" "$b" \
  "$(awk -v a="$a" -v b="$b" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }')"
printf "pages: pvl %s, qpdf %s\n" "$(qpdf --show-npages "$OUT/pvl-merged.pdf")" "$(qpdf --show-npages "$OUT/qpdf-merged.pdf")"
