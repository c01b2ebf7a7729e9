#!/usr/bin/env bash
# Seeds for fuzz_document_parts: the same small whole documents as
# fuzz_document (outlines, attachments, forms and images among them).
exec "$(dirname "$0")/fuzz_document.sh" "$1"
