#include <gtest/gtest.h>
#include <zlib.h>

#include "TestSupport.h"
#include "graphics/PavonaPNG.h"
#include "objects/PavonaFlate.h"

namespace {

using pvltest::HaveTool;
using pvltest::RunCommand;
using pvltest::TempDir;

std::string be32(uint32_t v) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s.push_back(static_cast<char>(v >> shift));
  return s;
}

std::string chunk(const std::string& type, const std::string& data) {
  std::string body = type + data;
  return be32(static_cast<uint32_t>(data.size())) + body + be32(PNGCrc32(body));
}

const std::string kSig("\x89PNG\r\n\x1a\n", 8);

std::string ihdr(uint32_t w, uint32_t h, int depth, int type, int interlace = 0) {
  std::string d = be32(w) + be32(h);
  d.push_back(static_cast<char>(depth));
  d.push_back(static_cast<char>(type));
  d.push_back(0);
  d.push_back(0);
  d.push_back(static_cast<char>(interlace));
  return chunk("IHDR", d);
}

TPNGReader readPNG(const std::string& bytes, bool reduceColor = false, bool reduceAlpha = false) {
  TPNGReader r;
  r.ReduceColor = reduceColor;
  r.ReduceAlpha = reduceAlpha;
  TMemoryStream s(bytes);
  r.LoadFromStream(s);
  return r;
}

// The reader's colour samples as plain rows, whichever form it chose.
std::string plainColorRows(const TPNGReader& r) {
  if (r.Direct) {
    TPDFFlateParms parms;
    parms.Predictor = 15;
    parms.Colors = TPNGReader::ColorChannels(r.ColorType);
    parms.BitsPerComponent = r.ColorBitDepth;
    parms.Columns = static_cast<int32_t>(r.Width);
    return FlateDecodeWithPredictor(r.ColorData, parms);
  }
  return DecompressString(r.ColorData);
}

uint32_t sampleAt(const std::string& rows, size_t rowBytes, uint32_t y, uint64_t index, int depth) {
  const auto* line = reinterpret_cast<const uint8_t*>(rows.data()) + y * rowBytes;
  if (depth == 16) return (uint32_t{line[2 * index]} << 8) | line[2 * index + 1];
  if (depth == 8) return line[index];
  uint64_t bit = index * depth;
  return (line[bit / 8] >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

// Every pixel as 16-bit R, G, B, A (alpha 65535 without an alpha channel),
// the form ImageMagick writes with "-depth 16 rgba:".
std::vector<uint16_t> toRGBA16(const TPNGReader& r) {
  const std::string color = plainColorRows(r);
  const std::string alpha = DecompressString(r.AlphaData);
  const int cch = TPNGReader::ColorChannels(r.ColorType);
  const size_t colorRow = (static_cast<size_t>(r.Width) * cch * r.ColorBitDepth + 7) / 8;
  const size_t alphaRow = static_cast<size_t>(r.Width) * r.AlphaBitDepth / 8;
  EXPECT_EQ(color.size(), colorRow * r.Height);
  std::vector<uint16_t> out;
  if (color.size() != colorRow * r.Height) return out;
  auto scale = [](uint32_t v, int depth) { return static_cast<uint16_t>(v * 65535u / ((1u << depth) - 1)); };
  for (uint32_t y = 0; y < r.Height; ++y) {
    for (uint32_t x = 0; x < r.Width; ++x) {
      uint16_t rgb[3];
      if (r.ColorType == 3) {
        uint32_t index = sampleAt(color, colorRow, y, x, r.ColorBitDepth);
        for (int c = 0; c < 3; ++c)
          rgb[c] = static_cast<uint16_t>(static_cast<uint8_t>(r.Palette.at(3 * index + c)) * 257);
      } else if (cch == 1) {
        rgb[0] = rgb[1] = rgb[2] = scale(sampleAt(color, colorRow, y, x, r.ColorBitDepth), r.ColorBitDepth);
      } else {
        for (int c = 0; c < 3; ++c)
          rgb[c] = scale(sampleAt(color, colorRow, y, 3 * uint64_t{x} + c, r.ColorBitDepth), r.ColorBitDepth);
      }
      uint16_t a = r.AlphaBitDepth ? scale(sampleAt(alpha, alphaRow, y, x, r.AlphaBitDepth), r.AlphaBitDepth) : 65535;
      out.insert(out.end(), {rgb[0], rgb[1], rgb[2], a});
    }
  }
  return out;
}

std::vector<uint16_t> magickRGBA16(const std::string& path) {
  auto res = RunCommand({"convert", path, "-depth", "16", "-endian", "MSB", "rgba:-"});
  EXPECT_EQ(res.exitCode, 0) << res.err;
  std::vector<uint16_t> out;
  for (size_t i = 0; i + 1 < res.out.size(); i += 2)
    out.push_back(
        static_cast<uint16_t>((static_cast<uint8_t>(res.out[i]) << 8) | static_cast<uint8_t>(res.out[i + 1])));
  return out;
}

struct MagickPNG {
  int colorType;
  int depth;
  bool interlaced;
};

class PNGFromImageMagick : public ::testing::TestWithParam<MagickPNG> {};

TEST_P(PNGFromImageMagick, ReadsTheSamePixels) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  const MagickPNG p = GetParam();
  TempDir dir;
  const std::string path = dir.File("in.png");
  std::vector<std::string> cmd = {"convert", "-size", "19x13", "gradient:red-blue", "-seed", "3", "+noise", "Random"};
  std::string prefix;
  switch (p.colorType) {
    case 0:
      cmd.insert(cmd.end(), {"-colorspace", "gray"});
      break;
    case 3:
      cmd.insert(cmd.end(), {"+dither", "-colors", std::to_string(p.depth == 8 ? 200 : 1 << p.depth)});
      prefix = "PNG8:";
      break;
    case 4:
      cmd.insert(cmd.end(), {"-colorspace", "gray", "-alpha", "set", "-channel", "A", "-fx", "i/w", "+channel"});
      break;
    case 6:
      cmd.insert(cmd.end(), {"-alpha", "set", "-channel", "A", "-fx", "j/h", "+channel"});
      break;
  }
  cmd.insert(cmd.end(),
             {"-interlace", p.interlaced ? "PNG" : "none", "-define", "png:color-type=" + std::to_string(p.colorType),
              "-define", "png:bit-depth=" + std::to_string(p.depth), prefix + path});
  auto made = RunCommand(cmd);
  ASSERT_EQ(made.exitCode, 0) << made.err;

  TPNGReader r = readPNG(pvltest::ReadFile(path));
  ASSERT_TRUE(r.ErrorText.empty()) << r.ErrorText;
  ASSERT_EQ(r.ColorType, p.colorType);
  ASSERT_EQ(r.BitDepth, p.depth);
  ASSERT_EQ(r.InterlaceMethod, p.interlaced ? 1 : 0);
  EXPECT_EQ(r.Width, 19u);
  EXPECT_EQ(r.Height, 13u);
  // Plain 8/16-bit colour without alpha or interlacing passes the file's data through.
  EXPECT_EQ(r.Direct, p.colorType != 4 && p.colorType != 6 && !p.interlaced);
  if (r.Direct) {
    EXPECT_EQ(r.ColorData, r.ImageData);
  }
  EXPECT_EQ(toRGBA16(r), magickRGBA16(path));
}

INSTANTIATE_TEST_SUITE_P(AllTypes, PNGFromImageMagick, ::testing::ValuesIn([] {
                           std::vector<MagickPNG> cases;
                           const std::vector<std::pair<int, std::vector<int>>> depths = {
                               {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
                           for (const auto& [type, list] : depths)
                             for (int d : list)
                               for (bool il : {false, true}) cases.push_back({type, d, il});
                           return cases;
                         }()),
                         [](const auto& info) {
                           return "Type" + std::to_string(info.param.colorType) + "Depth" +
                                  std::to_string(info.param.depth) + (info.param.interlaced ? "Interlaced" : "");
                         });

TEST(PNGReader, ReduceSwitchesKeepTheHighBytes) {
  // 2 x 1 RGBA at 16 bits.
  std::string raw;
  raw.push_back(0);
  const uint8_t px[16] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0,
                          0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  raw.append(reinterpret_cast<const char*>(px), 16);
  std::string file = kSig + ihdr(2, 1, 16, 6) + chunk("IDAT", CompressString(raw)) + chunk("IEND", "");
  TPNGReader both = readPNG(file, true, true);
  EXPECT_EQ(both.ColorBitDepth, 8);
  EXPECT_EQ(both.AlphaBitDepth, 8);
  EXPECT_EQ(DecompressString(both.ColorData), std::string("\x12\x56\x9A\x01\x03\x05", 6));
  EXPECT_EQ(DecompressString(both.AlphaData), std::string("\xDE\x07", 2));
  TPNGReader none = readPNG(file);
  EXPECT_EQ(none.ColorBitDepth, 16);
  EXPECT_EQ(none.AlphaBitDepth, 16);
  EXPECT_EQ(DecompressString(none.AlphaData), std::string("\xDE\xF0\x07\x08", 4));
}

TEST(PNGReader, ResolutionAndPalette) {
  std::string raw("\0\0", 2);
  auto phys = [](uint32_t x, uint32_t y, char unit) { return chunk("pHYs", be32(x) + be32(y) + std::string(1, unit)); };
  std::string plte = chunk("PLTE", std::string("\0\0\0\xFF\xFF\xFF", 6));
  std::string head = kSig + ihdr(1, 1, 1, 3) + plte;
  std::string tail = chunk("IDAT", CompressString(raw)) + chunk("IEND", "");
  struct {
    std::string phys;
    int dpiX, dpiY;
  } cases[] = {{phys(3780, 3780, 1), 96, 96}, {phys(11811, 2835, 1), 299, 72}, {phys(0, 0, 1), 96, 96},
               {phys(2, 4, 0), 96, 192},      {phys(5, 5, 1), 96, 96},         {"", 96, 96}};
  for (const auto& c : cases) {
    TPNGReader r = readPNG(head + c.phys + tail);
    EXPECT_EQ(r.DpiX, c.dpiX);
    EXPECT_EQ(r.DpiY, c.dpiY);
    EXPECT_EQ(r.GetIndexedColorSpace(), "/DeviceRGB 1<000000FFFFFF>");
    // The palette position points at the PLTE data in the file.
    EXPECT_EQ((head + c.phys + tail).substr(static_cast<size_t>(r.PalettePosition), 6),
              std::string("\0\0\0\xFF\xFF\xFF", 6));
  }
}

TEST(PNGReader, MalformedFilesGiveNoImage) {
  const std::string raw = CompressString(std::string(1 + 4, '\0'));
  const std::string idat = chunk("IDAT", raw) + chunk("IEND", "");
  struct {
    const char* name;
    std::string file;
  } cases[] = {
      {"no signature", "GIF89a" + ihdr(1, 1, 8, 0) + idat},
      {"IHDR not first", kSig + chunk("gAMA", be32(45455)) + ihdr(1, 1, 8, 0) + idat},
      {"palette without PLTE", kSig + ihdr(1, 1, 8, 3) + idat},
      {"PLTE of 257 entries", kSig + ihdr(1, 1, 8, 3) + chunk("PLTE", std::string(771, '\1')) + idat},
      {"PLTE larger than 1-bit", kSig + ihdr(1, 1, 1, 3) + chunk("PLTE", std::string(9, '\1')) + idat},
      {"PLTE not whole entries", kSig + ihdr(1, 1, 8, 3) + chunk("PLTE", std::string(4, '\1')) + idat},
      {"bit depth 3", kSig + ihdr(1, 1, 3, 0) + idat},
      {"RGB at 4 bits", kSig + ihdr(1, 1, 4, 2) + idat},
      {"colour type 5", kSig + ihdr(1, 1, 8, 5) + idat},
      {"interlace 2", kSig + ihdr(1, 1, 8, 0, 2) + idat},
      {"width 0", kSig + ihdr(0, 1, 8, 0) + idat},
      {"huge", kSig + ihdr(0x7FFFFFFF, 0x7FFFFFFF, 8, 0) + idat},
      {"beyond 2^31", kSig + ihdr(0x80000000u, 1, 8, 0) + idat},
      {"short IHDR", kSig + chunk("IHDR", std::string(12, '\1')) + idat},
      {"no image data", kSig + ihdr(1, 1, 8, 0) + chunk("IEND", "")},
      {"chunk length beyond 2^31", kSig + ihdr(1, 1, 8, 0) + be32(0xFFFFFFF0u) + "IDAT" + raw},
  };
  for (const auto& c : cases) {
    TPNGReader r = readPNG(c.file);
    EXPECT_TRUE(r.Width == 0 || r.Height == 0 || r.ColorData.empty()) << c.name;
    EXPECT_FALSE(r.ErrorText.empty()) << c.name;
  }
}

TEST(PNGReader, TruncatedDataDecodesAsFarAsItGoes) {
  // 2 x 3 gray+alpha: only the first row is present, the rest read as 0xFF.
  std::string raw("\0\x10\x20\x30\x40", 5);
  std::string file = kSig + ihdr(2, 3, 8, 4) + chunk("IDAT", CompressString(raw));
  TPNGReader r = readPNG(file);
  EXPECT_TRUE(r.ErrorText.empty());
  EXPECT_EQ(DecompressString(r.ColorData), std::string("\x10\x30\xFF\xFF\xFF\xFF", 6));
  EXPECT_EQ(DecompressString(r.AlphaData), std::string("\x20\x40\xFF\xFF\xFF\xFF", 6));
  // A chunk cut off inside its data keeps what is there.
  std::string cut = kSig + ihdr(2, 3, 8, 4) + chunk("IDAT", CompressString(raw));
  cut.resize(cut.size() - 6);
  TPNGReader partial = readPNG(cut);
  EXPECT_EQ(partial.Width, 2u);
}

// ---------------------------------------------------------------------------
// Writer

TBitmap testBitmap(int w, int h) {
  TBitmap b(w, h, TPixelFormat::pf24bit);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      b.SetPixel(x, y,
                 RGB(static_cast<uint8_t>(x * 37), static_cast<uint8_t>(y * 59), static_cast<uint8_t>((x ^ y) * 13)));
  return b;
}

std::string writePNG(const TPNGWriter& w) {
  TMemoryStream s;
  w.SaveToStream(s);
  return s.Bytes();
}

// Chunk types in file order.
std::vector<std::string> chunkTypes(const std::string& file) {
  std::vector<std::string> types;
  size_t pos = 8;
  while (pos + 8 <= file.size()) {
    uint32_t len = (uint32_t(uint8_t(file[pos])) << 24) | (uint32_t(uint8_t(file[pos + 1])) << 16) |
                   (uint32_t(uint8_t(file[pos + 2])) << 8) | uint8_t(file[pos + 3]);
    types.push_back(file.substr(pos + 4, 4));
    pos += 12 + len;
  }
  return types;
}

TEST(PNGWriter, ChunksFollowTheSettings) {
  TBitmap b = testBitmap(5, 4);
  {
    TPNGWriter w(b);
    EXPECT_EQ(chunkTypes(writePNG(w)), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));  // no pHYs without DPI
  }
  {
    TPNGWriter w(b);
    w.SetDPI(96);
    w.SetTransparentColor(RGB(1, 2, 3));
    w.SetICCProfile("profile bytes");
    std::string file = writePNG(w);
    EXPECT_EQ(chunkTypes(file), (std::vector<std::string>{"IHDR", "pHYs", "tRNS", "iCCP", "IDAT", "IEND"}));
    TPNGReader r = readPNG(file);
    EXPECT_EQ(r.DpiX, 96);
    EXPECT_EQ(r.Transparency, std::string("\0\1\0\2\0\3", 6));
    size_t phys = file.find("pHYs");
    EXPECT_EQ(file.substr(phys + 4, 9), be32(3780) + be32(3780) + "\1");
    size_t iccp = file.find("iCCP");
    EXPECT_EQ(file.substr(iccp + 4, 12), std::string("PVLProfile\0\0", 12));
  }
  {
    TPNGWriter w(b);
    w.SetDPI(72);
    TBitmap mask = testBitmap(5, 4);
    w.SetBitmap(&mask, false);
    w.SetTransparentColor(RGB(1, 2, 3));
    std::string file = writePNG(w);
    // Never tRNS with an alpha channel.
    EXPECT_EQ(chunkTypes(file), (std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(file.substr(file.find("pHYs") + 4, 4), be32(2835));
  }
  TBitmap empty;
  TPNGWriter w(empty);
  TMemoryStream s;
  EXPECT_THROW(w.SaveToStream(s), EPNGError);
}

// The image data are deflated strip by strip and written as they come, in
// IDAT chunks of at most a little over 64 KB; joined, the chunks hold what
// deflating all filtered rows at once gives (the page images written before
// strips were the same bytes). A page-sized image spans several strips; a
// rendered page handed over as opaque 32-bit pixels writes the same file as
// its 24-bit copy.
TEST(PNGWriter, StripsDeflateAsOneAndPagesNeedNoCopy) {
  const int w = 613, h = 977;  // rows of 1840 bytes: several strips
  TBitmap page(w, h, TPixelFormat::pf32bit);
  std::string rows;
  uint32_t noise = 1;
  for (int y = 0; y < h; ++y) {
    rows.push_back('\0');
    uint8_t* line = page.ScanLine(y);
    for (int x = 0; x < w; ++x) {
      // The lower half is noise, so the compressed data need several chunks.
      noise = noise * 1103515245u + 12345u;
      const uint8_t r = static_cast<uint8_t>(y < h / 2 ? (x * y) >> 3 : noise >> 24);
      const uint8_t g = static_cast<uint8_t>(y * 3), b = static_cast<uint8_t>(x ^ y);
      line[4 * x] = b, line[4 * x + 1] = g, line[4 * x + 2] = r, line[4 * x + 3] = 255;
      rows += static_cast<char>(r);
      rows += static_cast<char>(g);
      rows += static_cast<char>(b);
    }
  }
  TBitmap as24 = page;
  as24.SetPixelFormat(TPixelFormat::pf24bit);
  const std::string fromCopy = writePNG(TPNGWriter(as24));
  TBitmap handed = page;
  const std::string fromPage = writePNG(TPNGWriter(std::move(handed)));
  EXPECT_EQ(fromPage, fromCopy);
  std::string joined;
  int chunks = 0;
  for (size_t at = 8; at + 12 <= fromCopy.size();) {
    const uint32_t length = (uint32_t(uint8_t(fromCopy[at])) << 24) | (uint32_t(uint8_t(fromCopy[at + 1])) << 16) |
                            (uint32_t(uint8_t(fromCopy[at + 2])) << 8) | uint8_t(fromCopy[at + 3]);
    if (fromCopy.compare(at + 4, 4, "IDAT") == 0) {
      joined += fromCopy.substr(at + 8, length);
      ++chunks;
      EXPECT_LE(length, (1u << 16) + (1u << 16));
    }
    at += 12 + length;
  }
  EXPECT_GT(chunks, 1);
  std::string expected(compressBound(static_cast<uLong>(rows.size())), '\0');
  uLongf expectedSize = static_cast<uLongf>(expected.size());
  ASSERT_EQ(
      compress2(reinterpret_cast<Bytef*>(expected.data()), &expectedSize, reinterpret_cast<const Bytef*>(rows.data()),
                static_cast<uLong>(rows.size()), TPNGWriter::kDeflateLevel),
      Z_OK);
  expected.resize(expectedSize);
  EXPECT_EQ(joined, expected);

  // 32-bit pixels with alpha handed over lose the alpha, as a copy does.
  TBitmap straight = page;
  straight.SetAlphaFormat(TAlphaFormat::afDefined);
  straight.ScanLine(0)[3] = 7;
  EXPECT_EQ(writePNG(TPNGWriter(std::move(straight))), fromCopy);
}

TEST(PNGWriter, ImageMagickReadsTheSamePixels) {
  if (!HaveTool("convert") || !HaveTool("pngcheck")) GTEST_SKIP() << "ImageMagick or pngcheck missing";
  TempDir dir;
  TBitmap b = testBitmap(23, 17);
  TBitmap mask(11, 5, TPixelFormat::pf24bit);  // smaller: sampled to the image size
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 11; ++x) mask.SetPixel(x, y, RGB(0, 0, static_cast<uint8_t>(x * 20 + y)));
  for (bool withAlpha : {false, true}) {
    TPNGWriter w(b);
    w.SetDPI(150);
    if (withAlpha) w.SetBitmap(&mask, true);
    const std::string path = dir.File(withAlpha ? "a.png" : "o.png");
    pvltest::WriteFile(path, writePNG(w));
    auto check = RunCommand({"pngcheck", path});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    auto res = RunCommand({"convert", path, "-depth", "8", "rgba:-"});
    ASSERT_EQ(res.exitCode, 0);
    ASSERT_EQ(res.out.size(), 23u * 17 * 4);
    for (int y = 0; y < 17; ++y) {
      for (int x = 0; x < 23; ++x) {
        const char* p = res.out.data() + (y * 23 + x) * 4;
        TColor c = b.Pixel(x, y);
        ASSERT_EQ(uint8_t(p[0]), GetRValue(c));
        ASSERT_EQ(uint8_t(p[1]), GetGValue(c));
        ASSERT_EQ(uint8_t(p[2]), GetBValue(c));
        uint8_t expectedAlpha = 255;
        if (withAlpha) expectedAlpha = 255 - static_cast<uint8_t>((x * 10 / 22) * 20 + y * 4 / 16);
        ASSERT_EQ(uint8_t(p[3]), expectedAlpha) << x << "," << y;
      }
    }
  }
}

}  // namespace
