#!/usr/bin/env python3
"""Writes the pager's button glyphs as 8-bit BMP files (data/ui/*.bmp).

The glyphs are drawn here from a few rows of text so that they can be read
and changed without an image editor. White is the background: the buttons
draw bitmaps with the bottom-left pixel's colour transparent."""
import os
import struct
import sys

GLYPHS = {
    # The bottom-left pixel is the transparent colour: keep the corners clear.
    "KVXAOCLOSE": [
        ".........", ".##...##.", "..##.##..", "...###...", "....#....",
        "...###...", "..##.##..", ".##...##.", "........."],
    "KVXAOLIST": [
        ".........", "#########", ".........", ".........", "#########",
        ".#######.", "..#####..", "...###...", "....#...."],
    "KVXAOPREV": [
        ".....#...", "....##...", "...###...", "..####...", ".#####...",
        "..####...", "...###...", "....##...", ".....#..."],
    "KVXAONEXT": [
        "...#.....", "...##....", "...###...", "...####..", "...#####.",
        "...####..", "...###...", "...##....", "...#....."],
    "KVXAOUP": [
        ".........", ".........", "....#....", "...###...", "..#####..",
        ".#######.", "#########", ".........", "........."],
    "KVXAODOWN": [
        ".........", ".........", "#########", ".#######.", "..#####..",
        "...###...", "....#....", ".........", "........."],
    "KVXAOFIRST": [
        "...##.....#.....", "...##....##.....", "...##...###.....", "...##..####.....",
        "...##.#####.....", "...##..####.....", "...##...###.....", "...##....##.....",
        "...##.....#....."],
    "KVXAOLAST": [
        ".....#.....##...", ".....##....##...", ".....###...##...", ".....####..##...",
        ".....#####.##...", ".....####..##...", ".....###...##...", ".....##....##...",
        ".....#.....##..."],
}
GLYPHS["KVXAOUPFIRST"] = [
    ".........", ".........", ".........", "#########", "#########", ".........",
    "....#....", "...###...", "..#####..", ".#######.", "#########",
    ".........", ".........", ".........", ".........", "........."]
GLYPHS["KVXAODOWNLAST"] = [
    ".........", ".........", ".........", ".........", ".........",
    "#########", ".#######.", "..#####..", "...###...", "....#....", ".........",
    "#########", "#########", ".........", ".........", "........."]


def bmp8(rows):
    h, w = len(rows), len(rows[0])
    stride = (w + 3) & ~3
    palette = struct.pack("<4B", 255, 255, 255, 0) + struct.pack("<4B", 0x40, 0x40, 0x40, 0)
    pixels = b""
    for row in reversed(rows):  # bottom-up
        line = bytes(1 if c == "#" else 0 for c in row)
        pixels += line + b"\0" * (stride - w)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 2, 2)
    return header + info + palette + pixels


def main():
    for name, rows in GLYPHS.items():
        assert rows[-1][0] == ".", name + ": the bottom-left pixel must be background"
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "data", "ui")
    for name, rows in GLYPHS.items():
        assert all(len(r) == len(rows[0]) for r in rows), name
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(bmp8(rows))


if __name__ == "__main__":
    main()
