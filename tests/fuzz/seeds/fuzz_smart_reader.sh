#!/usr/bin/env bash
# Seeds: the cross-reference reader's seed files (whole small PDFs).
cp -n "$(dirname "$0")/fuzz_xref/"* "$1"/ 2>/dev/null || true
