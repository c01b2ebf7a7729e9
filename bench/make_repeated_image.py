#!/usr/bin/env python3
"""Writes a one-page document that draws one large picture many times: a
page of another PDF rendered at 600 dpi (4,958 pixels wide for an A4 page),
stored once as a JPEG image XObject and placed as a grid of small tiles.

It measures what repeated draws of one big image cost: decoding it once,
reducing it once to the size it is drawn at, and drawing the reduced copy.

usage: make_repeated_image.py SOURCE.pdf OUT.pdf [COPIES]
"""
import os
import subprocess
import sys
import tempfile


def main():
    source, out = sys.argv[1], sys.argv[2]
    copies = int(sys.argv[3]) if len(sys.argv) > 3 else 35
    tmp = tempfile.mkdtemp(prefix='repeat')
    base = os.path.join(tmp, 'p')
    subprocess.run(['pdftoppm', '-r', '600', '-f', '1', '-l', '1', '-singlefile', '-jpeg', '-jpegopt', 'quality=85',
                    source, base], check=True)
    jpeg = open(base + '.jpg', 'rb').read()
    # Width and height from the JPEG's start-of-frame marker.
    i = 2
    while True:
        marker, length = jpeg[i + 1], int.from_bytes(jpeg[i + 2:i + 4], 'big')
        if marker in (0xC0, 0xC1, 0xC2):
            height = int.from_bytes(jpeg[i + 5:i + 7], 'big')
            width = int.from_bytes(jpeg[i + 7:i + 9], 'big')
            break
        i += 2 + length

    columns = 5
    rows = (copies + columns - 1) // columns
    page_w, page_h = 595.0, 842.0
    cell_w, cell_h = page_w / columns, page_h / rows
    scale = min(cell_w / width, cell_h / height) * 0.95
    tile_w, tile_h = width * scale, height * scale
    content = b''
    for n in range(copies):
        x = (n % columns) * cell_w + (cell_w - tile_w) / 2
        y = page_h - (n // columns + 1) * cell_h + (cell_h - tile_h) / 2
        content += b'q %.3f 0 0 %.3f %.3f %.3f cm /Im0 Do Q\n' % (tile_w, tile_h, x, y)

    objects = [
        b'<< /Type /Catalog /Pages 2 0 R >>',
        b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
        b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %.0f %.0f] /Resources << /XObject << /Im0 4 0 R >> >> '
        b'/Contents 5 0 R >>' % (page_w, page_h),
        b'<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB /BitsPerComponent 8 '
        b'/Filter /DCTDecode /Length %d >>\nstream\n' % (width, height, len(jpeg)) + jpeg + b'\nendstream',
        b'<< /Length %d >>\nstream\n' % len(content) + content + b'endstream',
    ]
    pdf = b'%PDF-1.4\n%\xe2\xe3\xcf\xd3\n'
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(pdf))
        pdf += b'%d 0 obj\n' % i + body + b'\nendobj\n'
    xref = len(pdf)
    pdf += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objects) + 1)
    pdf += b''.join(b'%010d 00000 n \n' % o for o in offsets)
    pdf += b'trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objects) + 1, xref)
    with open(out + '.tmp', 'wb') as f:
        f.write(pdf)
    os.replace(out + '.tmp', out)
    subprocess.run(['rm', '-rf', tmp])


if __name__ == '__main__':
    main()
