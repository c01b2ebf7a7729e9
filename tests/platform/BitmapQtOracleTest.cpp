// BMP reading checked against Qt's own BMP reader: a table of small files of
// every header kind and depth, written here with pseudo-random pixels and
// palettes, read by TBitmap::LoadFromStream and by QImage, compared pixel for
// pixel.
#include <QImage>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/Bitmap.h"

namespace {

void PutU16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Deterministic bytes, different for every case.
struct TNoise {
  uint32_t state;
  uint8_t Next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
  }
  std::string Bytes(size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += static_cast<char>(Next());
    return out;
  }
};

struct TCase {
  const char* name;
  uint32_t headerSize;  // 12 core, 40 info, 108 V4, 124 V5
  int32_t width, height;  // negative height: top-down rows
  uint16_t bits;
  uint32_t compression;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  uint32_t paletteSize;  // entries written (clrUsed when not the full table)
  std::vector<uint32_t> masks;  // bit-field masks (red, green, blue[, alpha])
  int tolerance;  // per channel: 16-bit channels are widened differently by readers
};

// Run-length data of rows of runs and absolute runs of pseudo-random indices.
std::string RunLengthData(TNoise& noise, int width, int height, bool four) {
  std::string out;
  const int maxIndex = four ? 16 : 256;
  for (int y = 0; y < height; ++y) {
    int x = 0;
    while (x < width) {
      const int left = width - x;
      if (noise.Next() & 1 || left < 3) {  // encoded run
        const int n = std::min(left, 1 + noise.Next() % 6);
        out += static_cast<char>(n);
        out += four ? static_cast<char>(noise.Next()) : static_cast<char>(noise.Next() % maxIndex);
        x += n;
      } else {  // absolute run of at least three pixels
        const int n = std::min(left, 3 + noise.Next() % 5);
        out += '\0';
        out += static_cast<char>(n);
        const size_t bytes = four ? (n + 1) / 2 : n;
        for (size_t i = 0; i < bytes; ++i) out += static_cast<char>(noise.Next() % (four ? 256 : maxIndex));
        if (bytes & 1) out += '\0';
        x += n;
      }
    }
    out += std::string("\0\0", 2);  // end of line
  }
  out += std::string("\0\1", 2);  // end of bitmap
  return out;
}

std::string MakeFile(const TCase& c, TNoise& noise) {
  const bool core = c.headerSize == 12;
  const int absHeight = c.height < 0 ? -c.height : c.height;
  std::string pixels;
  if (c.compression == 1 || c.compression == 2) {
    pixels = RunLengthData(noise, c.width, absHeight, c.compression == 2);
  } else {
    const size_t stride = ((size_t(c.width) * c.bits + 31) / 32) * 4;
    pixels = noise.Bytes(stride * absHeight);
  }
  std::string palette;
  for (uint32_t i = 0; i < c.paletteSize; ++i) {
    palette += noise.Bytes(3);
    if (!core) palette += '\0';
  }
  std::string maskBytes;
  for (uint32_t m : c.masks) PutU32(maskBytes, m);

  std::string h;
  PutU32(h, c.headerSize);
  if (core) {
    PutU16(h, static_cast<uint32_t>(c.width));
    PutU16(h, static_cast<uint32_t>(c.height));
    PutU16(h, 1);
    PutU16(h, c.bits);
  } else {
    PutU32(h, static_cast<uint32_t>(c.width));
    PutU32(h, static_cast<uint32_t>(c.height));
    PutU16(h, 1);
    PutU16(h, c.bits);
    PutU32(h, c.compression);
    PutU32(h, static_cast<uint32_t>(pixels.size()));
    PutU32(h, 2835);
    PutU32(h, 2835);
    PutU32(h, c.bits <= 8 && c.paletteSize != (1u << c.bits) ? c.paletteSize : 0);
    PutU32(h, 0);
    if (c.headerSize >= 108) {
      h += maskBytes;  // masks live inside V4 and V5 headers
      maskBytes.clear();
      h.resize(56, '\0');
      PutU32(h, 0x73524742);  // colour space "sRGB"
    }
    h.resize(c.headerSize, '\0');
  }
  std::string f = "BM";
  const uint32_t off = static_cast<uint32_t>(14 + h.size() + maskBytes.size() + palette.size());
  PutU32(f, static_cast<uint32_t>(off + pixels.size()));
  PutU32(f, 0);
  PutU32(f, off);
  return f + h + maskBytes + palette + pixels;
}

TEST(BitmapQtOracle, EveryHeaderKindAndDepthReadsAsQtReadsIt) {
  const TCase cases[] = {
      {"info 1 bit", 40, 13, 5, 1, 0, 2, {}, 0},
      {"info 4 bits", 40, 11, 4, 4, 0, 16, {}, 0},
      {"info 4 bits, 6 colours", 40, 9, 3, 4, 0, 6, {}, 0},
      {"info 8 bits", 40, 7, 6, 8, 0, 256, {}, 0},
      {"info 8 bits, 200 colours", 40, 10, 3, 8, 0, 200, {}, 0},
      {"info 24 bits, padded rows", 40, 9, 3, 24, 0, 0, {}, 0},
      {"info 24 bits, top-down", 40, 6, -5, 24, 0, 0, {}, 0},
      {"info 32 bits", 40, 5, 4, 32, 0, 0, {}, 0},
      {"info 16 bits 5-5-5", 40, 7, 3, 16, 0, 0, {}, 8},
      {"info 16 bits 5-6-5 fields", 40, 7, 3, 16, 3, 0, {0xF800, 0x07E0, 0x001F}, 8},
      {"info 32 bits fields", 40, 6, 3, 32, 3, 0, {0x00FF0000, 0x0000FF00, 0x000000FF}, 0},
      {"info RLE8", 40, 17, 5, 8, 1, 256, {}, 0},
      {"info RLE4", 40, 15, 4, 4, 2, 16, {}, 0},
      {"core 1 bit", 12, 19, 3, 1, 0, 2, {}, 0},
      {"core 4 bits", 12, 5, 5, 4, 0, 16, {}, 0},
      {"core 8 bits", 12, 8, 2, 8, 0, 256, {}, 0},
      {"core 24 bits", 12, 5, 3, 24, 0, 0, {}, 0},
      {"V4 24 bits", 108, 6, 4, 24, 0, 0, {}, 0},
      {"V4 8 bits", 108, 6, 4, 8, 0, 256, {}, 0},
      {"V5 32 bits fields", 124, 4, 4, 32, 3, 0, {0x00FF0000, 0x0000FF00, 0x000000FF, 0}, 0},
      {"V5 16 bits fields", 124, 5, 2, 16, 3, 0, {0x7C00, 0x03E0, 0x001F, 0}, 8},
  };
  uint32_t seed = 1;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TNoise noise{seed++ * 2654435761u};
    const std::string file = MakeFile(c, noise);
    QImage theirs;
    ASSERT_TRUE(theirs.loadFromData(reinterpret_cast<const uchar*>(file.data()), static_cast<int>(file.size()), "BMP"))
        << "Qt cannot read the test file";
    TBitmap ours;
    TMemoryStream stream(file);
    ASSERT_NO_THROW(ours.LoadFromStream(stream));
    ASSERT_EQ(ours.Width(), theirs.width());
    ASSERT_EQ(ours.Height(), theirs.height());
    int mismatches = 0;
    for (int y = 0; y < ours.Height(); ++y)
      for (int x = 0; x < ours.Width(); ++x) {
        const TColor a = ours.Pixel(x, y);
        const QRgb b = theirs.pixel(x, y);
        const int dr = std::abs(GetRValue(a) - qRed(b)), dg = std::abs(GetGValue(a) - qGreen(b)),
                  db = std::abs(GetBValue(a) - qBlue(b));
        if (dr > c.tolerance || dg > c.tolerance || db > c.tolerance) {
          if (++mismatches <= 3)
            ADD_FAILURE() << "pixel " << x << "," << y << ": ours " << std::hex << a << ", Qt " << (b & 0xFFFFFF);
        }
      }
    EXPECT_EQ(mismatches, 0);
  }
}

}  // namespace
