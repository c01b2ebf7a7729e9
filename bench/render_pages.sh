#!/usr/bin/env bash
# Times rendering every page of files through the facade (`pvl render`, PNG
# pages) beside `mutool draw` and `pdftoppm` doing the same pages at the same
# resolutions, in one run, and prints the median wall times of REPS runs (5;
# the three programs take turns, so a busy spell of the machine falls on all
# of them), the peak memory (the largest resident set, from /usr/bin/time)
# and the ratios ours/mutool.
#   REPS=5 bench/render_pages.sh [--backend cairo|gdi] [FILE ...] [-- DPI ...]
# Without files: one file of each kind from the corpus (a 117-page book, papers
# with Type 1 and Type 3 fonts, CCITT fax, JPEG photos, JPEG 2000, a form,
# CJK text, vector drawing, annotations) and two scanned documents made for
# the run by bench/make_scanned_jbig2.py from 8 pages of the book: 300-dpi
# 1-bit JBIG2 pictures, one MMR coded, one arithmetically coded with an
# invisible text layer as OCR software writes it. Without resolutions: 72
# and 150.
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
REPS=${REPS:-5}
if [ ${#FILES[@]} -eq 0 ]; then
  C=../shared/corpus
  python3 bench/make_scanned_jbig2.py $C/samples/GeoTopo-komprimiert.pdf 8 "$OUT/scanned-jbig2.pdf"
  python3 bench/make_scanned_jbig2.py $C/samples/GeoTopo-komprimiert.pdf 8 "$OUT/scanned-jbig2-ocr.pdf" \
    --arith "$JBIG2_ENCODER" --text
  FILES=($C/samples/GeoTopo-komprimiert.pdf $C/pdfjs/tracemonkey.pdf $C/pdfjs/TAMReview.pdf
         "$OUT/scanned-jbig2.pdf" "$OUT/scanned-jbig2-ocr.pdf" $C/samples/imagemagick-CCITTFaxDecode.pdf
         $C/pdfjs/cmykjpeg.pdf $C/samples/imagemagick-images.pdf $C/pdfjs/bug_jpx.pdf
         $C/samples/libreoffice-form.pdf $C/pdfjs/vertical.pdf $C/pdfjs/tiling-pattern-box.pdf
         $C/pdfjs/annotation-stamp.pdf)
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
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) b = 1; printf "%.2f", a / b }'; }

printf "%-28s %4s %8s %8s %8s %7s | %8s %8s %8s %7s\n" "file" "dpi" "pvl ms" "mutool" "pdftoppm" "ms/mu" \
  "pvl KiB" "mutool" "pdftoppm" "KiB/mu"
for file in "${FILES[@]}"; do
  pages=$(qpdf --show-npages "$file")
  for dpi in "${DPIS[@]}"; do
    at=() bt=() ct=() am=0 bm=0 cm=0
    for ((rep = 0; rep < REPS; ++rep)); do
      read -r t m < <(run "$PVL" render "$file" "1-$pages" --dpi "$dpi" --backend "$BACKEND" --format png \
        --out "$OUT/pvl-%p.png")
      at+=("$t"); am=$(( m > am ? m : am ))
      read -r t m < <(run mutool draw -q -r "$dpi" -o "$OUT/mu-%d.png" "$file" "1-$pages")
      bt+=("$t"); bm=$(( m > bm ? m : bm ))
      read -r t m < <(run pdftoppm -r "$dpi" -png "$file" "$OUT/pp")
      ct+=("$t"); cm=$(( m > cm ? m : cm ))
      rm -f "$OUT"/*.png
    done
    a=$(median "${at[@]}") b=$(median "${bt[@]}") c=$(median "${ct[@]}")
    printf "%-28s %4s %8s %8s %8s %7s | %8s %8s %8s %7s\n" "$(basename "$file") ($pages)" "$dpi" "$a" "$b" "$c" \
      "$(ratio "$a" "$b")" "$am" "$bm" "$cm" "$(ratio "$am" "$bm")"
  done
done
