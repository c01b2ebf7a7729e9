// Device-independent bitmaps (the BITMAPINFO + bits pairs of metafile
// records and BMP files): our stand-in for the system's DIB conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TDibImage {
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t BitsPerPixel = 0;
  // Pixels top row first, four bytes each: red, green, blue and the fourth
  // byte of a 32-bit pixel (255 for other depths).
  std::vector<uint8_t> Rgba;
  // True when the pixels carried a fourth byte (32 bpp or an alpha mask).
  bool HasAlphaByte = false;
  // JPEG (4) or PNG (5) bits are passed on as they are.
  int32_t PassThroughKind = 0;
  std::string PassThrough;

  uint8_t* Pixel(int32_t x, int32_t y) { return Rgba.data() + (size_t(y) * size_t(Width) + size_t(x)) * 4; }
  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return Rgba.data() + (size_t(y) * size_t(Width) + size_t(x)) * 4;
  }
};

// Largest pixel count of a decoded DIB.
constexpr int64_t kMaxDibPixels = int64_t(1) << 26;

// Decodes a bitmap: info holds the header (12, 16, 40, 52, 56, 64, 108 or 124
// bytes) and its colour table; bits the pixel data. usage 1 (DIB_PAL_COLORS)
// reads the table as indices into the system palette. False with a reason
// for anything it cannot read; short bits leave the missing rows black.
bool DecodeDib(std::string_view info, std::string_view bits, uint32_t usage, TDibImage& out, std::string& error);

// A 24-bit bottom-up BMP file of the pixels (the fourth byte is dropped).
std::string EncodeBmp24(const TDibImage& image);
