#!/usr/bin/env python3
"""Writes every embedded TrueType program (/FontFile2) of the given PDF files
into OUTDIR as <pdf name>-<object number>.ttf, through qpdf.

  extract_fontfile2.py OUTDIR FILE.pdf...
"""
import json
import os
import subprocess
import sys


def refs(value, found):
    if isinstance(value, dict):
        for k, v in value.items():
            if k == '/FontFile2' and isinstance(v, str) and v.endswith(' R'):
                found.add(int(v.split()[0]))
            else:
                refs(v, found)
    elif isinstance(value, list):
        for v in value:
            refs(v, found)


def main():
    out = sys.argv[1]
    for pdf in sys.argv[2:]:
        with open(pdf, 'rb') as f:
            raw = f.read()
        if b'FontFile2' not in raw and b'ObjStm' not in raw:
            continue  # no TrueType program, visible or inside an object stream
        r = subprocess.run(['qpdf', '--json=1', '--json-key=objects', pdf], capture_output=True)
        if r.returncode not in (0, 3):
            continue
        try:
            objects = json.loads(r.stdout).get('objects', {})
        except ValueError:
            continue
        found = set()
        refs(objects, found)
        for num in sorted(found):
            s = subprocess.run(['qpdf', '--show-object=%d' % num, '--filtered-stream-data', pdf], capture_output=True)
            if s.returncode in (0, 3) and s.stdout:
                name = os.path.splitext(os.path.basename(pdf))[0]
                with open(os.path.join(out, '%s-%d.ttf' % (name, num)), 'wb') as f:
                    f.write(s.stdout)


main()
