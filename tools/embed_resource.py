#!/usr/bin/env python3
"""Turns a data file into a program resource: the file is converted to the
layout the engine reads (see the modes), compressed with zlib and written as a
C++ byte array.

  embed_resource.py MODE ID INPUT OUTPUT.cpp

Modes:
  raw        the file's bytes as they are
  glyphlist  an Adobe Glyph List text file -> the glyph-name table layout:
             58 three-byte little-endian positions (first characters 'A'..'z',
             1-based byte position of the first record, 0 when none), then per
             record a length byte, the name, a little-endian uint16 Unicode value
  cmap       a CMap file (code -> CID) -> the binary CMap layout
  cmap-ucs   a CID -> UCS-2/UTF-16 CMap file -> the binary CMap layout, every
             CID below the highest one that the file leaves unmapped holding U+FFFD

Binary CMap layout (little-endian): int32 section count; per section int32 code
length, int32 value size, int32 entry count N, N key deltas (uint8 / uint16 /
int32 by code length), N * value size value bytes.
"""
import re
import struct
import sys
import zlib


def glyph_list(text):
    records = {}
    order = []
    for line in text.splitlines():
        if line.startswith('#') or ';' not in line:
            continue
        name, codes = line.split(';')
        first = ord(name[0])
        if not 0x41 <= first <= 0x7A:
            continue
        records.setdefault(first, []).append((name.encode('ascii'), int(codes.split()[0], 16)))
        if first not in order:
            order.append(first)
    header_size = 58 * 3
    body = bytearray()
    positions = [0] * 58
    for first in sorted(records):
        positions[first - 0x41] = header_size + len(body) + 1
        for name, code in records[first]:
            body += bytes([len(name)]) + name + struct.pack('<H', code & 0xFFFF)
    header = b''.join(struct.pack('<I', p)[:3] for p in positions)
    return header + bytes(body)


TOKEN = re.compile(rb'<[0-9A-Fa-f\s]*>|\[|\]|[^\s\[\]<>]+')


def hex_bytes(tok):
    digits = re.sub(rb'[\s<>]', b'', tok)
    if len(digits) % 2:
        digits += b'0'
    return bytes.fromhex(digits.decode())


def add_to_last_unit(value, offset):
    if len(value) == 1:
        v = value[0] + offset
        return bytes([v]) if v < 256 else struct.pack('>H', v)
    units = list(struct.unpack('>%dH' % (len(value) // 2), value[:len(value) // 2 * 2]))
    if len(units) >= 2 and 0xD800 <= units[-2] < 0xDC00 and 0xDC00 <= units[-1] < 0xE000:
        cp = 0x10000 + ((units[-2] - 0xD800) << 10) + (units[-1] - 0xDC00) + offset
        cp -= 0x10000
        units[-2:] = [0xD800 + (cp >> 10), 0xDC00 + (cp & 0x3FF)]
    else:
        units[-1] += offset
    return struct.pack('>%dH' % len(units), *units)


def parse_cmap(text):
    """Returns {(code length, code): value bytes}; the first mapping of a code wins."""
    tokens = TOKEN.findall(re.sub(rb'%[^\r\n]*', b'', text))
    maps = {}

    def put(length, code, value):
        maps.setdefault((length, code), value)

    i = 0
    while i < len(tokens):
        t = tokens[i]
        if t in (b'begincidrange', b'beginbfrange', b'begincidchar', b'beginbfchar'):
            kind = t
            i += 1
            while tokens[i] not in (b'endcidrange', b'endbfrange', b'endcidchar', b'endbfchar'):
                lo_tok = tokens[i]
                length = len(hex_bytes(lo_tok))
                lo = int.from_bytes(hex_bytes(lo_tok), 'big')
                if kind in (b'begincidrange', b'beginbfrange'):
                    hi = int.from_bytes(hex_bytes(tokens[i + 1]), 'big')
                    i += 2
                else:
                    hi = lo
                    i += 1
                dest = tokens[i]
                if dest == b'[':
                    i += 1
                    code = lo
                    while tokens[i] != b']':
                        put(length, code, hex_bytes(tokens[i]))
                        code += 1
                        i += 1
                    i += 1
                    continue
                i += 1
                if dest.startswith(b'<'):
                    base = hex_bytes(dest)
                    for code in range(lo, hi + 1):
                        put(length, code, add_to_last_unit(base, code - lo))
                else:
                    for code in range(lo, hi + 1):
                        put(length, code, struct.pack('>H', int(dest) + code - lo))
            i += 1
        else:
            i += 1
    return maps


def binary_cmap(maps):
    sections = {}
    for (length, code), value in maps.items():
        sections.setdefault((length, len(value)), []).append((code, value))
    out = bytearray(struct.pack('<i', len(sections)))
    key_format = {1: '<B', 2: '<H'}
    for (length, size), entries in sections.items():
        entries.sort()
        if len(entries) > 0xFFFF:
            raise SystemExit('section too large for the resource layout')
        out += struct.pack('<iii', length, size, len(entries))
        previous = 0
        for code, _ in entries:
            out += struct.pack(key_format.get(length, '<i'), code - previous)
            previous = code
        for _, value in entries:
            out += value
    return bytes(out)


def main():
    mode, res_id, src, dst = sys.argv[1:5]
    data = open(src, 'rb').read()
    if mode == 'glyphlist':
        data = glyph_list(data.decode('ascii'))
    elif mode == 'cmap':
        data = binary_cmap(parse_cmap(data))
    elif mode == 'cmap-ucs':
        maps = parse_cmap(data)
        top = max(code for (length, code) in maps if length == 2)
        for cid in range(top + 1):
            maps.setdefault((2, cid), b'\xff\xfd')
        data = binary_cmap(maps)
    elif mode != 'raw':
        raise SystemExit('unknown mode ' + mode)
    packed = zlib.compress(data, 6)
    with open(dst, 'w') as f:
        f.write('// Generated from %s by tools/embed_resource.py; do not edit.\n' % src.split('/')[-1])
        f.write('#include <cstddef>\n#include <cstdint>\n\n')
        f.write('extern const uint8_t kResource%s[];\nextern const size_t kResource%sSize;\n' % (res_id, res_id))
        f.write('const size_t kResource%sSize = %d;\n' % (res_id, len(packed)))
        f.write('const uint8_t kResource%s[] = {' % res_id)
        for i, b in enumerate(packed):
            f.write(('\n' if i % 20 == 0 else '') + '%d,' % b)
        f.write('\n};\n')


main()
