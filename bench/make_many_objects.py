#!/usr/bin/env python3
"""Writes a PDF with many small objects (pages, content streams, annotations
with dictionaries and arrays), the load the object pool sees on large
documents: bench/make_many_objects.py OUT [PAGES]"""
import sys


def main():
    out = sys.argv[1]
    pages = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    objects = {}
    # 1 catalog, 2 pages root, 3 font; then per page: page, contents, two annotations.
    objects[3] = b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"
    kids = []
    n = 4
    for i in range(pages):
        page, contents, a1, a2 = n, n + 1, n + 2, n + 3
        n += 4
        kids.append(page)
        body = b"BT /F1 12 Tf 72 720 Td (Page %d) Tj ET" % (i + 1)
        objects[contents] = b"<< /Length %d >>\nstream\n%s\nendstream" % (len(body), body)
        for a in (a1, a2):
            objects[a] = (b"<< /Type /Annot /Subtype /Link /Rect [ 72 %d 200 %d ] /Border [ 0 0 1 ] "
                          b"/A << /S /URI /URI (https://example.org/%d) >> /P %d 0 R >>" % (700 - a % 50, 712 - a % 50, a, page))
        objects[page] = (b"<< /Type /Page /Parent 2 0 R /MediaBox [ 0 0 612 792 ] /Contents %d 0 R "
                         b"/Resources << /Font << /F1 3 0 R >> >> /Annots [ %d 0 R %d 0 R ] >>" % (contents, a1, a2))
    objects[1] = b"<< /Type /Catalog /Pages 2 0 R >>"
    objects[2] = b"<< /Type /Pages /Count %d /Kids [ %s ] >>" % (pages, b" ".join(b"%d 0 R" % k for k in kids))
    data = bytearray(b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n")
    offsets = {}
    for num in sorted(objects):
        offsets[num] = len(data)
        data += b"%d 0 obj\n%s\nendobj\n" % (num, objects[num])
    xref = len(data)
    size = n
    data += b"xref\n0 %d\n0000000000 65535 f \n" % size
    for num in range(1, size):
        data += b"%010d 00000 n \n" % offsets[num]
    data += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (size, xref)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
