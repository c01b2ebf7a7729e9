#!/usr/bin/env bash
# Seeds for fuzz_document: every corpus PDF small enough for the runs'
# -max_len (64 KB), plus the object-table seeds.
set -euo pipefail
root="$(cd "$(dirname "$0")/../../.." && pwd)"
cp -n "$(dirname "$0")/fuzz_object_table/"* "$1"/ 2>/dev/null || true
find "$root"/../shared/corpus -name '*.pdf' -size -64k -exec cp -n {} "$1"/ \;
