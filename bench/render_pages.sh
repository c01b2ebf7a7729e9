#!/usr/bin/env bash
# Times rendering every page of files through the facade (`pvl render`, PNG
# pages) beside `mutool draw` and `pdftoppm` doing the same pages at the same
# resolutions, in one run, and prints the wall times, the peak memory (the
# largest resident set, from /usr/bin/time) and the ratios ours/mutool.
#   bench/render_pages.sh [--backend cairo|gdi] [FILE ...] [-- DPI ...]
# Without files: GeoTopo, tracemonkey, TAMReview and a scanned document
# (8 pages of GeoTopo as 300-dpi 1-bit JBIG2 pictures, made for the run by
# bench/make_scanned_jbig2.py). Without resolutions: 72 and 150.
set -euo pipefail
cd "$(dirname "$0")/.."
BACKEND=cairo
if [ "${1:-}" = --backend ]; then BACKEND=$2; shift 2; fi
FILES=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do FILES+=("$1"); shift; done
[ "${1:-}" = -- ] && shift
DPIS=("$@")
[ ${#DPIS[@]} -eq 0 ] && DPIS=(72 150)
. bench/bench_build.sh
if [ ${#FILES[@]} -eq 0 ]; then
  python3 bench/make_scanned_jbig2.py ../shared/corpus/samples/GeoTopo-komprimiert.pdf 8 "$OUT/scanned-jbig2.pdf"
  FILES=(../shared/corpus/samples/GeoTopo-komprimiert.pdf ../shared/corpus/pdfjs/tracemonkey.pdf
         ../shared/corpus/pdfjs/TAMReview.pdf "$OUT/scanned-jbig2.pdf")
fi

# "milliseconds peak-KiB" of one run (the status is ignored: the programs
# report damaged pages but go on).
run() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -o "$OUT/time" -f "%M" "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  echo "$(( (end - start) / 1000000 )) $(tail -n 1 "$OUT/time")"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }'; }

printf "%-28s %4s %8s %8s %8s %7s | %8s %8s %8s %7s\n" "file" "dpi" "pvl ms" "mutool" "pdftoppm" "ms/mu" \
  "pvl KiB" "mutool" "pdftoppm" "KiB/mu"
for file in "${FILES[@]}"; do
  pages=$(qpdf --show-npages "$file")
  for dpi in "${DPIS[@]}"; do
    read -r a am < <(run "$PVL" render "$file" "1-$pages" --dpi "$dpi" --backend "$BACKEND" --format png \
      --out "$OUT/pvl-%p.png")
    read -r b bm < <(run mutool draw -q -r "$dpi" -o "$OUT/mu-%d.png" "$file" "1-$pages")
    read -r c cm < <(run pdftoppm -r "$dpi" -png "$file" "$OUT/pp")
    printf "%-28s %4s %8s %8s %8s %7s | %8s %8s %8s %7s\n" "$(basename "$file") ($pages)" "$dpi" "$a" "$b" "$c" \
      "$(ratio "$a" "$b")" "$am" "$bm" "$cm" "$(ratio "$am" "$bm")"
    rm -f "$OUT"/*.png
  done
done
