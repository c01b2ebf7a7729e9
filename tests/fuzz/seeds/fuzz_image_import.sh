#!/usr/bin/env bash
# Seeds for image import: small images of every format, each behind an option byte.
set -euo pipefail
out=$1
command -v convert >/dev/null || exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
i=0
for spec in a.jpg png24:b.png png32:c.png png8:d.png e.gif bmp3:f.bmp g.tif "-compress LZW h.tif" \
            "-type Bilevel -compress Group4 i.tif" "-compress JPEG j.tif" "-define tiff:rows-per-strip=2 k.tif"; do
  set -- $spec
  file=${!#}
  opts=("${@:1:$#-1}")
  name=${file#*:}
  prefix=${file%%"$name"}
  convert -size 12x6 plasma: "${opts[@]}" "$prefix$tmp/$name" 2>/dev/null || continue
  for opt in '\x01' '\x03' '\x83'; do
    i=$((i + 1))
    { printf "$opt"; cat "$tmp/$name"; } > "$out/seed_$i"
  done
done
