// DIB decoding: every header version, 1 to 32 bits per pixel, BI_RGB,
// BITFIELDS, RLE4 and RLE8; JPEG and PNG bits are handed on untouched.
#include "platform/Dib.h"

#include <algorithm>

namespace {

uint32_t le32(std::string_view b, size_t o) {
  return uint32_t(uint8_t(b[o])) | uint32_t(uint8_t(b[o + 1])) << 8 | uint32_t(uint8_t(b[o + 2])) << 16 |
         uint32_t(uint8_t(b[o + 3])) << 24;
}
uint16_t le16(std::string_view b, size_t o) { return uint16_t(uint8_t(b[o]) | uint8_t(b[o + 1]) << 8); }

// The twenty static colours of the default system palette (indices 0..9 and 246..255).
struct TRgb {
  uint8_t r, g, b;
};
TRgb systemPaletteColor(uint32_t index) {
  static const TRgb kLow[10] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                                {128, 0, 128}, {0, 128, 128}, {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
  static const TRgb kHigh[10] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
                                 {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
  index &= 0xFF;
  if (index < 10) return kLow[index];
  if (index >= 246) return kHigh[index - 246];
  if (index < 20) return kHigh[index - 10];
  return {0, 0, 0};
}

// Value of a masked field scaled to 0..255.
struct TMaskField {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit TMaskField(uint32_t m) : mask(m) {
    if (!m) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  uint8_t Get(uint32_t v) const {
    if (!mask) return 0;
    return uint8_t(uint64_t((v & mask) >> shift) * 255 / max);
  }
};

}  // namespace

bool DecodeDib(std::string_view info, std::string_view bits, uint32_t usage, TDibImage& out, std::string& error) {
  out = TDibImage();
  if (info.size() < 12) return error = "bitmap header too short", false;
  const uint32_t headerSize = le32(info, 0);
  if (headerSize < 12 || headerSize > info.size()) return error = "bitmap header size outside the record", false;
  int64_t width, height;
  uint32_t bpp, compression = 0, colorsUsed = 0;
  bool core = headerSize < 16;
  if (core) {
    width = le16(info, 4);
    height = int16_t(le16(info, 6));
    bpp = le16(info, 10);
  } else {
    if (headerSize < 16) return error = "bitmap header too short", false;
    width = int32_t(le32(info, 4));
    height = int32_t(le32(info, 8));
    bpp = le16(info, 14);
    if (headerSize >= 20) compression = le32(info, 16);
    if (headerSize >= 36) colorsUsed = le32(info, 32);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535 || width * height > kMaxDibPixels)
    return error = "bitmap size out of range", false;
  out.Width = int32_t(width);
  out.Height = int32_t(height);
  out.BitsPerPixel = int32_t(bpp);
  if (compression == 4 || compression == 5) {
    out.PassThroughKind = int32_t(compression);
    out.PassThrough.assign(bits);
    return true;
  }
  if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return error = "unsupported bit depth " + std::to_string(bpp), false;
  if (compression != 0 && compression != 1 && compression != 2 && compression != 3 && compression != 6)
    return error = "unsupported bitmap compression " + std::to_string(compression), false;
  if ((compression == 1 && bpp != 8) || (compression == 2 && bpp != 4) ||
      ((compression == 3 || compression == 6) && bpp != 16 && bpp != 32))
    return error = "compression does not fit the bit depth", false;

  // Channel masks: defaults, then those of the header (V4/V5) or after it.
  uint32_t masks[4] = {0, 0, 0, 0};
  if (bpp == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  if (bpp == 32 || bpp == 24) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  size_t tableOffset = headerSize;
  if (compression == 3 || compression == 6) {
    const size_t n = compression == 6 ? 4 : 3;
    if (headerSize >= 40 + 4 * n) {
      for (size_t i = 0; i < n; ++i) masks[i] = le32(info, 40 + 4 * i);
    } else if (headerSize == 40) {
      if (info.size() < 40 + 4 * n) return error = "bitmap masks missing", false;
      for (size_t i = 0; i < n; ++i) masks[i] = le32(info, 40 + 4 * i);
      tableOffset += 4 * n;
    }
    if (headerSize >= 56 && compression == 3) masks[3] = le32(info, 52);
  }

  // Colour table: whatever the header promises, bounded by what is there.
  std::vector<TRgb> palette;
  if (bpp <= 8) {
    size_t count = colorsUsed ? std::min<size_t>(colorsUsed, size_t(1) << bpp) : size_t(1) << bpp;
    const size_t entry = usage == 1 ? 2 : (core ? 3 : 4);
    count = std::min(count, (info.size() - tableOffset) / entry);
    for (size_t i = 0; i < count; ++i) {
      const size_t o = tableOffset + i * entry;
      if (usage == 1)
        palette.push_back(systemPaletteColor(le16(info, o)));
      else
        palette.push_back({uint8_t(info[o + 2]), uint8_t(info[o + 1]), uint8_t(info[o])});
    }
    palette.resize(size_t(1) << bpp, TRgb{0, 0, 0});
  }
  out.Rgba.assign(size_t(width) * size_t(height) * 4, 0);
  for (size_t i = 3; i < out.Rgba.size(); i += 4) out.Rgba[i] = 255;
  out.HasAlphaByte = bpp == 32 && (compression == 0 || masks[3] != 0);

  auto setIndex = [&](int64_t x, int64_t row, uint32_t index) {
    if (x < 0 || x >= width || row < 0 || row >= height) return;
    const int64_t y = topDown ? row : height - 1 - row;
    uint8_t* p = out.Pixel(int32_t(x), int32_t(y));
    const TRgb c = palette[index % palette.size()];
    p[0] = c.r, p[1] = c.g, p[2] = c.b;
  };

  if (compression == 1 || compression == 2) {
    // Run-length data: rows from the bottom, escapes 0 0 end of line, 0 1
    // end of bitmap, 0 2 dx dy delta, 0 n absolute run.
    const bool rle4 = compression == 2;
    size_t pos = 0;
    int64_t x = 0, row = 0;
    while (pos + 1 < bits.size() && row < height) {
      const uint8_t a = uint8_t(bits[pos]), b = uint8_t(bits[pos + 1]);
      pos += 2;
      if (a > 0) {
        for (int i = 0; i < a; ++i, ++x) setIndex(x, row, rle4 ? ((i & 1) ? b & 15 : b >> 4) : b);
      } else if (b == 0) {
        x = 0, ++row;
      } else if (b == 1) {
        break;
      } else if (b == 2) {
        if (pos + 1 >= bits.size()) break;
        x += uint8_t(bits[pos]), row += uint8_t(bits[pos + 1]);
        pos += 2;
      } else {
        const size_t bytes = rle4 ? (size_t(b) + 1) / 2 : b;
        for (int i = 0; i < b; ++i, ++x) {
          const size_t o = pos + (rle4 ? size_t(i) / 2 : size_t(i));
          if (o >= bits.size()) break;
          const uint8_t v = uint8_t(bits[o]);
          setIndex(x, row, rle4 ? ((i & 1) ? v & 15 : v >> 4) : v);
        }
        pos += (bytes + 1) & ~size_t(1);
      }
    }
    return true;
  }

  const size_t stride = ((size_t(width) * bpp + 31) / 32) * 4;
  const TMaskField fr(masks[0]), fg(masks[1]), fb(masks[2]), fa(masks[3]);
  for (int64_t row = 0; row < height; ++row) {
    const size_t start = size_t(row) * stride;
    if (start + stride > bits.size()) break;  // missing rows stay black
    const std::string_view line = bits.substr(start, stride);
    const int64_t y = topDown ? row : height - 1 - row;
    for (int64_t x = 0; x < width; ++x) {
      uint8_t* p = out.Pixel(int32_t(x), int32_t(y));
      if (bpp <= 8) {
        const size_t bit = size_t(x) * bpp;
        const uint32_t v = (uint8_t(line[bit / 8]) >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        const TRgb c = palette[v];
        p[0] = c.r, p[1] = c.g, p[2] = c.b;
      } else if (bpp == 24) {
        p[0] = uint8_t(line[x * 3 + 2]), p[1] = uint8_t(line[x * 3 + 1]), p[2] = uint8_t(line[x * 3]);
      } else {
        const uint32_t v = bpp == 16 ? le16(line, size_t(x) * 2) : le32(line, size_t(x) * 4);
        p[0] = fr.Get(v), p[1] = fg.Get(v), p[2] = fb.Get(v);
        if (bpp == 32) p[3] = masks[3] ? fa.Get(v) : uint8_t(v >> 24);
      }
    }
  }
  return true;
}

std::string EncodeBmp24(const TDibImage& image) {
  const size_t stride = ((size_t(image.Width) * 3 + 3) / 4) * 4;
  const size_t dataSize = stride * size_t(image.Height);
  std::string out(54 + dataSize, '\0');
  auto put32 = [&](size_t o, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[o + i] = char((v >> (8 * i)) & 0xFF);
  };
  out[0] = 'B', out[1] = 'M';
  put32(2, uint32_t(out.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(image.Width));
  put32(22, uint32_t(image.Height));
  out[26] = 1, out[28] = 24;
  put32(34, uint32_t(dataSize));
  for (int32_t y = 0; y < image.Height; ++y) {
    char* row = out.data() + 54 + size_t(image.Height - 1 - y) * stride;
    for (int32_t x = 0; x < image.Width; ++x) {
      const uint8_t* p = image.Pixel(x, y);
      row[x * 3] = char(p[2]), row[x * 3 + 1] = char(p[1]), row[x * 3 + 2] = char(p[0]);
    }
  }
  return out;
}
