#!/usr/bin/env bash
# Times rendering every page of a file through the facade (`pvl render`)
# beside `mutool draw` and `pdftoppm` doing the same pages at the same
# resolutions, in one run, and prints the time ratios.
#   bench/render_pages.sh [FILE] [DPI ...]     (samples/GeoTopo-komprimiert.pdf, 72 150)
set -euo pipefail
cd "$(dirname "$0")/.."
FILE=${1:-../shared/corpus/samples/GeoTopo-komprimiert.pdf}
shift || true
DPIS=("$@")
[ ${#DPIS[@]} -eq 0 ] && DPIS=(72 150)
. bench/bench_build.sh
PAGES=$(qpdf --show-npages "$FILE")

ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }'; }

echo "$(basename "$FILE"): $PAGES pages"
printf "%5s %10s %10s %10s %12s %12s\n" "dpi" "pvl ms" "mutool ms" "pdftoppm ms" "pvl/mutool" "pvl/pdftoppm"
for dpi in "${DPIS[@]}"; do
  a=$(ms "$PVL" render "$FILE" "1-$PAGES" --dpi "$dpi" --format png --out "$OUT/pvl-%p.png")
  b=$(ms mutool draw -q -r "$dpi" -o "$OUT/mu-%d.png" "$FILE" "1-$PAGES")
  c=$(ms pdftoppm -r "$dpi" -png "$FILE" "$OUT/pp")
  printf "%5s %10s %10s %10s %12s %12s\n" "$dpi" "$a" "$b" "$c" "$(ratio "$a" "$b")" "$(ratio "$a" "$c")"
  rm -f "$OUT"/*.png
done
