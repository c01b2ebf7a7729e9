#!/usr/bin/env bash
# Seeds for fuzz_truetype: the TrueType programs embedded in the corpus PDFs.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
python3 "$root/tests/render/scripts/extract_fontfile2.py" "$1" "$root"/../shared/corpus/*/*.pdf
