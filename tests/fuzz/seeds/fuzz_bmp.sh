#!/usr/bin/env bash
# Seeds for fuzz_bmp: small BMP files in every header variant and depth that
# ImageMagick writes (core, info, V5; 1/4/8/16/24/32 bits; RLE8).
#   tests/fuzz/seeds/fuzz_bmp.sh OUTPUT_DIR
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out"
command -v convert >/dev/null || exit 0
src="$out/.src.png"
convert -size 13x7 gradient:red-blue -fill white -draw "rectangle 2,2 5,4" "PNG24:$src"
convert "$src" -type Palette BMP2:"$out/core-pal.bmp"
convert "$src" -type Palette BMP3:"$out/info-pal8.bmp"
convert "$src" -type Palette -compress RLE BMP3:"$out/info-rle8.bmp"
convert "$src" -type Bilevel BMP3:"$out/info-1bit.bmp"
convert "$src" -colors 16 -type Palette BMP3:"$out/info-4bit.bmp"
convert "$src" -type TrueColor BMP3:"$out/info-24.bmp"
convert "$src" -type TrueColor -define bmp:subtype=RGB565 BMP:"$out/v5-565.bmp"
convert "$src" -type TrueColorAlpha BMP:"$out/v5-32.bmp"
rm -f "$src"
