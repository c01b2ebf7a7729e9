#!/usr/bin/env python3
"""Writes a scanned-style document for the render benchmark: every page a
1-bit picture of a text page at 300 dpi, coded as a JBIG2 generic region
in a JBIG2Decode image that fills the page.

The pictures come from another PDF rendered by pdftoppm in monochrome. By
default they are coded to Group 4 by ImageMagick's TIFF writer, and the TIFF's
single strip is the region's MMR data as it stands. With --arith ENCODER they
are coded arithmetically (template 0, typical prediction) by the benchmark's
make_jbig2_generic, as most scanners' JBIG2 is; --text adds the source page's
words as invisible text over the picture, as OCR software leaves them.

usage: make_scanned_jbig2.py SOURCE.pdf PAGES OUT.pdf [--arith ENCODER] [--text]
"""
import os
import re
import struct
import subprocess
import sys
import tempfile


def tiff_strip(path):
    """Width, height and the Group 4 data of a single-strip TIFF."""
    data = open(path, 'rb').read()
    end = '<' if data[:2] == b'II' else '>'
    (ifd,) = struct.unpack(end + 'I', data[4:8])
    (count,) = struct.unpack(end + 'H', data[ifd:ifd + 2])
    tags = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack(end + 'HHII', data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        if kind == 3 and n == 1:  # SHORT stored in the first half of the value
            value = struct.unpack(end + 'H', data[ifd + 10 + 12 * i:ifd + 12 + 12 * i])[0]
        tags[tag] = (kind, n, value)
    width, height = tags[256][2], tags[257][2]
    if tags[259][2] != 4:
        sys.exit('the TIFF is not Group 4 coded')
    if tags[273][1] != 1:
        sys.exit('the TIFF has more than one strip')
    if tags.get(266, (0, 0, 1))[2] != 1:
        sys.exit('the TIFF stores its bits least significant first')
    offset, size = tags[273][2], tags[279][2]
    # Photometric 0: 0 is white, the sense of JBIG2 (1 is black) too.
    return width, height, data[offset:offset + size], tags[262][2]


def segment(number, kind, page, payload):
    # Segment header: number, flags (type), no referred-to segments, one-byte
    # page association, data length.
    return struct.pack('>IBBBI', number, kind, 0, page, len(payload)) + payload


def jbig2_page(width, height, region):
    info = struct.pack('>IIIIBH', width, height, 0, 0, 0, 0)  # page information
    return segment(0, 48, 1, info) + segment(1, 38, 1, region)


def mmr_region(width, height, mmr):
    return struct.pack('>IIIIB', width, height, 0, 0, 0) + bytes([1]) + mmr


def text_layer(source, page, w_pt, h_pt):
    """Invisible words of the source page, scaled onto the scanned page."""
    html = subprocess.run(['pdftotext', '-bbox', '-f', str(page), '-l', str(page), source, '-'], check=True,
                          capture_output=True, text=True).stdout
    m = re.search(r'<page width="([\d.]+)" height="([\d.]+)"', html)
    if not m:
        return b''
    sx, sy = w_pt / float(m.group(1)), h_pt / float(m.group(2))
    ops = [b'BT 3 Tr']
    for xmin, ymin, xmax, ymax, word in re.findall(
            r'<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>', html):
        word = word.encode('latin-1', 'replace').replace(b'\\', b'\\\\').replace(b'(', b'\\(').replace(b')', b'\\)')
        size = max((float(ymax) - float(ymin)) * sy, 1.0)
        ops.append(b'/F1 %.2f Tf 1 0 0 1 %.2f %.2f Tm (%s) Tj' % (size, float(xmin) * sx, h_pt - float(ymax) * sy, word))
    ops.append(b'ET')
    return b'\n'.join(ops)


def main():
    source, pages, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    rest = sys.argv[4:]
    encoder = rest[rest.index('--arith') + 1] if '--arith' in rest else None
    with_text = '--text' in rest
    tmp = tempfile.mkdtemp(prefix='scan')
    images = []
    for page in range(1, pages + 1):
        base = os.path.join(tmp, 'p%d' % page)
        subprocess.run(['pdftoppm', '-r', '300', '-mono', '-f', str(page), '-l', str(page), '-singlefile', source,
                        base], check=True)
        if encoder:
            subprocess.run([encoder, base + '.pbm', base + '.jb2'], check=True)
            with open(base + '.pbm', 'rb') as f:
                _, width, height = f.readline(), *map(int, f.readline().split())
            region = open(base + '.jb2', 'rb').read()
        else:
            tif = base + '.tif'
            subprocess.run(['convert', base + '.pbm', '-compress', 'Group4', '-define', 'tiff:rows-per-strip=100000',
                            tif], check=True)
            width, height, mmr, photometric = tiff_strip(tif)
            if photometric != 0:
                sys.exit('the TIFF is not min-is-white')
            region = mmr_region(width, height, mmr)
        w_pt, h_pt = width * 72 / 300, height * 72 / 300
        text = text_layer(source, page, w_pt, h_pt) if with_text else b''
        images.append((width, height, jbig2_page(width, height, region), text))

    objects = []
    kids = []
    font = None
    if with_text:
        objects.append(b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>')
        font = len(objects)
    for width, height, stream, text in images:
        w_pt, h_pt = width * 72 / 300, height * 72 / 300
        image = len(objects) + 1
        objects.append(b'<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceGray '
                       b'/BitsPerComponent 1 /Filter /JBIG2Decode /Length %d >>\nstream\n' % (width, height, len(stream))
                       + stream + b'\nendstream')
        content = b'q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n' % (w_pt, h_pt) + text
        objects.append(b'<< /Length %d >>\nstream\n' % len(content) + content + b'\nendstream')
        page = len(objects) + 1
        objects.append(b'<< /Type /Page /Parent PAGES /MediaBox [0 0 %.2f %.2f] /Resources << /XObject << /Im0 %d 0 R '
                       b'>> FONTS >> /Contents %d 0 R >>' % (w_pt, h_pt, image, image + 1))
        kids.append(page)
    pages_obj = len(objects) + 1
    fonts = b'/Font << /F1 %d 0 R >>' % font if font else b''
    # Only the page dictionaries hold the placeholders (picture data may hold anything).
    objects = [o.replace(b'PAGES', b'%d 0 R' % pages_obj).replace(b'FONTS', fonts) if i in kids else o
               for i, o in enumerate(objects, 1)]
    objects.append(b'<< /Type /Pages /Kids [%s] /Count %d >>' % (b' '.join(b'%d 0 R' % k for k in kids), len(kids)))
    objects.append(b'<< /Type /Catalog /Pages %d 0 R >>' % pages_obj)

    pdf = b'%PDF-1.4\n%\xe2\xe3\xcf\xd3\n'
    offsets = []
    for i, body in enumerate(objects, 1):
        offsets.append(len(pdf))
        pdf += b'%d 0 obj\n' % i + body + b'\nendobj\n'
    xref = len(pdf)
    pdf += b'xref\n0 %d\n0000000000 65535 f \n' % (len(objects) + 1)
    pdf += b''.join(b'%010d 00000 n \n' % o for o in offsets)
    pdf += b'trailer\n<< /Size %d /Root %d 0 R >>\nstartxref\n%d\n%%%%EOF\n' % (len(objects) + 1, len(objects), xref)
    with open(out + '.tmp', 'wb') as f:
        f.write(pdf)
    os.replace(out + '.tmp', out)
    subprocess.run(['rm', '-rf', tmp])


if __name__ == '__main__':
    main()
