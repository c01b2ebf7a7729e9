#!/usr/bin/env bash
# Seeds for fuzz_parse_object: object bodies cut from the uncompressed (qpdf
# QDF) form of a few corpus files, plus small hand-made snippets.
#   tests/fuzz/seeds/fuzz_parse_object.sh OUTPUT_DIR
set -euo pipefail
out=${1:?output folder}
mkdir -p "$out"
root="$(cd "$(dirname "$0")/../../.." && pwd)"
corpus="$root/../shared/corpus"
command -v qpdf >/dev/null || exit 0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
n=0
for f in "$corpus"/samples/*.pdf "$corpus"/pdfjs/*.pdf; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  [ $((n % 8)) -eq 0 ] || continue  # every eighth file is enough variety
  qpdf --qdf --object-streams=disable "$f" "$tmp/q.pdf" >/dev/null 2>&1 || [ $? -eq 3 ] || continue
  python3 - "$tmp/q.pdf" "$out" "$(basename "$f" .pdf)" <<'PY'
import re, sys
data = open(sys.argv[1], 'rb').read()
heads = [m for m in re.finditer(rb'^\d+ \d+ obj\n', data, re.M)]
for i, m in enumerate(heads[:40]):
    end = heads[i + 1].start() if i + 1 < len(heads) else len(data)
    body = data[m.end():end]
    cut = body.find(b'stream\n')
    if cut >= 0:
        body = body[:cut]
    body = body[:4000]
    open('%s/%s-%d' % (sys.argv[2], sys.argv[3], i), 'wb').write(body)
PY
done
printf '%s' '<< /Type /Page /Kids [ 3 0 R 4 0 R ] /S (a\(b\)c\101\
x) /H <41 42 4> /N /A#20B >>' >"$out/hand-dict"
printf '%s' '[ +5 -.5 5. 1.2.3 123456789012 true false null (\0053) /Name} ]' >"$out/hand-array"
