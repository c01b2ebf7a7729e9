// Small image files written byte by byte for formats Qt does not write.
#pragma once

#include <cstdint>
#include <string>

// GIF89a, 1 x 1, its one pixel red (palette index 0).
inline std::string OneRedPixelGif() {
  return std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + std::string("\xFF\x00\x00\x00\x00\x00", 6) +
         std::string("\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10) +
         std::string("\x02\x02\x44\x01\x00", 5) + ";";
}

// Icon file with one 16 x 16, 32-bit opaque green image.
inline std::string GreenIcon16() {
  std::string s;
  auto u16 = [&](uint16_t v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8); };
  auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
  const uint32_t pixels = 16 * 16 * 4, mask = 16 * 4, dib = 40 + pixels + mask;
  u16(0), u16(1), u16(1);                                     // header: icon, one image
  s += '\x10', s += '\x10', s += '\0', s += '\0', u16(1), u16(32), u32(dib), u32(22);
  u32(40), u32(16), u32(32), u16(1), u16(32), u32(0), u32(pixels), u32(0), u32(0), u32(0), u32(0);
  for (int i = 0; i < 256; ++i) s += std::string("\x00\xFF\x00\xFF", 4);  // BGRA
  s += std::string(mask, '\0');
  return s;
}
