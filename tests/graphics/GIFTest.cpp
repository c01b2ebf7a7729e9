#include "graphics/PavonaGIF.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

#include "TestSupport.h"

namespace {

using pvltest::HaveTool;
using pvltest::RunCommand;
using pvltest::TempDir;

TBitmap decode(const std::string& bytes, TPDFGIFDecoder* keep = nullptr) {
  TPDFGIFDecoder d;
  TMemoryStream s(bytes);
  d.LoadFromStream(s);
  TBitmap b;
  d.DrawToBitmap(b);
  if (keep) *keep = d;
  return b;
}

std::string le16(int v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }

// LZW codes packed least significant bit first, as GIF stores them.
std::string packCodes(const std::vector<std::pair<int, int>>& codes) {
  std::string out;
  uint32_t bucket = 0;
  int bits = 0;
  for (auto [code, width] : codes) {
    bucket |= static_cast<uint32_t>(code) << bits;
    bits += width;
    while (bits >= 8) {
      out.push_back(char(bucket & 0xFF));
      bucket >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) out.push_back(char(bucket & 0xFF));
  return out;
}

// Image data for indexes that are all below 4 with code size 2: one code per
// pixel, a clear code whenever the 3-bit range would be passed.
std::string simpleImageData(const std::vector<int>& indexes) {
  std::vector<std::pair<int, int>> codes;
  for (int i : indexes) {
    codes.push_back({4, 3});  // clear: the table never grows
    codes.push_back({i, 3});
  }
  codes.push_back({5, 3});
  std::string data = packCodes(codes);
  std::string blocks;
  for (size_t at = 0; at < data.size(); at += 255) {
    std::string part = data.substr(at, 255);
    blocks.push_back(char(part.size()));
    blocks += part;
  }
  return std::string(1, '\2') + blocks + std::string(1, '\0');
}

std::string colors(const std::vector<std::array<int, 3>>& table) {
  std::string s;
  for (auto& c : table) s += {char(c[0]), char(c[1]), char(c[2])};
  return s;
}

const std::vector<std::array<int, 3>> kFour = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};

std::string screen(int w, int h, bool global, int background) {
  std::string s = "GIF89a" + le16(w) + le16(h);
  s.push_back(char(global ? 0x80 | 0x01 : 0));  // 4-entry table
  s.push_back(char(background));
  s.push_back(0);
  if (global) s += colors(kFour);
  return s;
}

std::string image(int left, int top, int w, int h, uint8_t flags, const std::string& local, const std::string& data) {
  return "," + le16(left) + le16(top) + le16(w) + le16(h) + std::string(1, char(flags)) + local + data;
}

TEST(GIFDecoder, InterlacedRowsLocalTablesAndBackground) {
  // Height 3 interlaced: data rows go to rows 0, 2, 1.
  std::string file = screen(2, 3, true, 3) + image(0, 0, 2, 3, 0x40, "", simpleImageData({0, 0, 1, 1, 2, 2})) + ";";
  TBitmap b = decode(file);
  ASSERT_EQ(b.Width(), 2);
  ASSERT_EQ(b.Height(), 3);
  EXPECT_EQ(b.Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(b.Pixel(0, 2), RGB(0, 255, 0));
  EXPECT_EQ(b.Pixel(1, 1), RGB(0, 0, 255));

  // Only a local table; the image covers part of the screen, the rest is the
  // background (black without a global table).
  std::string local = colors({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {11, 12, 13}});
  file = screen(4, 2, false, 0) + image(1, 1, 2, 1, 0x81, local, simpleImageData({2, 3})) + ";";
  b = decode(file);
  EXPECT_EQ(b.Pixel(1, 1), RGB(7, 8, 9));
  EXPECT_EQ(b.Pixel(2, 1), RGB(11, 12, 13));
  EXPECT_EQ(b.Pixel(0, 0), RGB(0, 0, 0));

  // The background entry (10, 20, 30) fills the screen around the image.
  file = screen(3, 1, true, 3) + image(0, 0, 1, 1, 0, "", simpleImageData({0})) + ";";
  b = decode(file);
  EXPECT_EQ(b.Pixel(2, 0), RGB(10, 20, 30));
  // A background index beyond the table gives black rather than a read past it.
  file = screen(3, 1, true, 200) + image(0, 0, 1, 1, 0, "", simpleImageData({0})) + ";";
  EXPECT_EQ(decode(file).Pixel(2, 0), RGB(0, 0, 0));
}

TEST(GIFDecoder, TransparencyAndDamage) {
  // Graphic control: transparent index 1. Those pixels keep the background.
  std::string gce = std::string("!\xF9\x04\x01\x00\x00\x01\x00", 8);
  std::string file = screen(2, 1, true, 3) + gce + image(0, 0, 2, 1, 0, "", simpleImageData({0, 1})) + ";";
  TPDFGIFDecoder d;
  TBitmap b = decode(file, &d);
  EXPECT_EQ(b.Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(b.Pixel(1, 0), RGB(10, 20, 30));
  ASSERT_EQ(d.Images.size(), 1u);
  EXPECT_TRUE(d.Images[0].Control.Transparent);
  EXPECT_FALSE(d.PendingControl.Present);

  // A graphic control of the wrong size ends reading; earlier images remain.
  std::string badGce = std::string("!\xF9\x05\x01\x00\x00\x01\x00\x00", 9);
  file = screen(2, 1, true, 3) + image(0, 0, 2, 1, 0, "", simpleImageData({2, 2})) + badGce +
         image(0, 0, 2, 1, 0, "", simpleImageData({0, 0})) + ";";
  b = decode(file, &d);
  EXPECT_TRUE(d.Error);
  EXPECT_EQ(d.Images.size(), 1u);
  EXPECT_EQ(b.Pixel(0, 0), RGB(0, 0, 255));

  // Code sizes outside 2..8 are not decoded; truncated data gives index 0.
  for (char codeSize : {'\0', '\1', '\x0C', '\xFF'}) {
    std::string data = simpleImageData({2, 2});
    data[0] = codeSize;
    b = decode(screen(2, 1, true, 3) + image(0, 0, 2, 1, 0, "", data) + ";");
    EXPECT_EQ(b.Pixel(0, 0), RGB(10, 20, 30)) << int(codeSize);
  }
  std::string cut = screen(3, 1, true, 3) + image(0, 0, 3, 1, 0, "", simpleImageData({2, 2, 2}));
  cut.resize(cut.size() - 2);
  b = decode(cut);
  EXPECT_EQ(b.Pixel(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(b.Pixel(2, 0), RGB(255, 0, 0));

  // Images larger than or outside the screen are clipped.
  b = decode(screen(2, 2, true, 3) + image(1, 1, 60000, 60000, 0, "", simpleImageData({1})) +
             image(5000, 0, 1, 1, 0, "", simpleImageData({1})) + ";");
  EXPECT_EQ(b.Pixel(1, 1), RGB(0, 255, 0));
  EXPECT_EQ(b.Pixel(0, 0), RGB(10, 20, 30));

  // Not a GIF: nothing is loaded and the picture is empty.
  TPDFGIFDecoder none;
  TMemoryStream s(std::string("GIF90a\1\0\1\0\0\0\0;", 14));
  none.LoadFromStream(s);
  EXPECT_FALSE(none.ValidVersion);
  TBitmap empty;
  none.DrawToBitmap(empty);
  EXPECT_TRUE(empty.Empty());
}

TEST(GIFDecoder, ReadsImageMagickFilesLikeImageMagick) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  TempDir dir;
  for (const char* interlace : {"none", "GIF"}) {
    for (const char* colors : {"2", "7", "256"}) {
      const std::string path = dir.File("g.gif");
      auto made = RunCommand({"convert", "-size", "41x29", "gradient:red-blue", "-seed", "5", "+noise", "Random",
                              "+dither", "-colors", colors, "-interlace", interlace, path});
      ASSERT_EQ(made.exitCode, 0) << made.err;
      TBitmap b = decode(pvltest::ReadFile(path));
      auto rgb = RunCommand({"convert", path, "-depth", "8", "rgb:-"});
      ASSERT_EQ(rgb.out.size(), 41u * 29 * 3);
      ASSERT_EQ(b.Width(), 41);
      ASSERT_EQ(b.Height(), 29);
      for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 41; ++x) {
          const char* p = rgb.out.data() + (y * 41 + x) * 3;
          ASSERT_EQ(b.Pixel(x, y), RGB(uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])))
              << interlace << " " << colors << " at " << x << "," << y;
        }
    }
  }
}

// ---------------------------------------------------------------------------
// Writer

std::string writeGIF(const TBitmap& b) {
  TPDFGIFWriter w;
  w.SetBitmap(b);
  TMemoryStream s;
  w.SaveToStream(s);
  return s.Bytes();
}

TEST(GIFWriter, OnePixelIsClearPixelEnd) {
  TBitmap b(1, 1, TPixelFormat::pf24bit);
  b.SetPixel(0, 0, RGB(200, 100, 50));
  std::string file = writeGIF(b);
  ASSERT_EQ(file.substr(0, 6), "GIF87a");
  EXPECT_EQ(uint8_t(file[10]), 0x70);
  // Header 13, descriptor 10, palette 768: then code size, one sub-block.
  const size_t at = 13 + 10 + 768;
  EXPECT_EQ(uint8_t(file[22]), 0x87);
  EXPECT_EQ(file.substr(13 + 10, 3), std::string("\xC8\x64\x32", 3));  // palette entry 0
  EXPECT_EQ(file.substr(at), std::string(1, '\x08') + std::string(1, '\x04') +
                                 packCodes({{256, 9}, {0, 9}, {257, 9}}) + std::string(1, '\0') + ";");
  EXPECT_EQ(decode(file).Pixel(0, 0), RGB(200, 100, 50));
  TPDFGIFWriter unset;
  TMemoryStream s;
  EXPECT_THROW(unset.SaveToStream(s), EBitmapError);
}

TEST(GIFWriter, QuantisedPicturesReadBackInImageMagick) {
  std::mt19937 random(7);
  // Few colours come through exactly; many colours go through the octree
  // (and the long random runs overflow the LZW table, forcing clear codes).
  struct Case {
    int width, height, colors;
  } cases[] = {{37, 23, 5}, {160, 120, 100000}, {300, 200, 16}};
  TempDir dir;
  for (const Case& c : cases) {
    std::vector<TColor> pool;
    for (int i = 0; i < std::min(c.colors, 4096); ++i) pool.push_back(random() & 0xFFFFFF);
    TBitmap b(c.width, c.height, TPixelFormat::pf24bit);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x)
        b.SetPixel(x, y, c.colors > 4096 ? TColor(random() & 0xFFFFFF) : pool[random() % pool.size()]);
    const std::string file = writeGIF(b);
    TPDFGIFDecoder d;
    TMemoryStream s(file);
    d.LoadFromStream(s);
    ASSERT_EQ(d.Images.size(), 1u);
    const auto& palette = d.Images[0].LocalColors;
    ASSERT_EQ(palette.size(), 256u);
    TBitmap ours;
    d.DrawToBitmap(ours);
    std::set<TColor> used;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) used.insert(ours.Pixel(x, y));
    EXPECT_LE(used.size(), 256u);
    if (c.colors <= 256) {
      EXPECT_TRUE(ours == b) << c.colors;  // few colours survive exactly
    }
    if (!HaveTool("convert")) continue;
    const std::string path = dir.File("w.gif");
    pvltest::WriteFile(path, file);
    auto rgb = RunCommand({"convert", path, "-depth", "8", "rgb:-"});
    ASSERT_EQ(rgb.exitCode, 0) << rgb.err;
    ASSERT_EQ(rgb.out.size(), size_t(c.width) * c.height * 3);
    std::set<TColor> paletteColors;
    for (const auto& p : palette) paletteColors.insert(RGB(p.Red, p.Green, p.Blue));
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const char* p = rgb.out.data() + (size_t(y) * c.width + x) * 3;
        TColor seen = RGB(uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2]));
        ASSERT_EQ(seen, ours.Pixel(x, y)) << x << "," << y;
        ASSERT_TRUE(paletteColors.count(seen));
      }
  }
}

TEST(GIFWriter, PaletteAfterTheLastLeafIsBlack) {
  TBitmap b(4, 1, TPixelFormat::pf24bit);
  b.SetPixel(0, 0, RGB(255, 255, 255));
  b.SetPixel(1, 0, RGB(255, 0, 0));
  b.SetPixel(2, 0, RGB(255, 255, 255));
  b.SetPixel(3, 0, RGB(0, 0, 255));
  TColorQuantizer q(256, 8);
  auto out = q.Quantize(b);
  ASSERT_EQ(out->PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_EQ(out->Palette().size(), 256u);
  // Leaves in tree order: blue (0,0,255) has child index 1 at the top, red 4, white 7.
  EXPECT_EQ(out->Palette()[0], (TRGBQuad{255, 0, 0, 0}));
  EXPECT_EQ(out->Palette()[1], (TRGBQuad{0, 0, 255, 0}));
  EXPECT_EQ(out->Palette()[2], (TRGBQuad{255, 255, 255, 0}));
  for (size_t i = 3; i < 256; ++i) EXPECT_EQ(out->Palette()[i], TRGBQuad()) << i;
  EXPECT_EQ(out->PixelIndex(0, 0), 2);
  EXPECT_EQ(out->PixelIndex(3, 0), 0);

  // More leaves than allowed are merged: at most 4 colours.
  TColorQuantizer four(4, 8);
  TBitmap many(64, 1, TPixelFormat::pf24bit);
  for (int x = 0; x < 64; ++x) many.SetPixel(x, 0, RGB(uint8_t(x * 4), uint8_t(255 - x * 4), uint8_t(x)));
  auto reduced = four.Quantize(many);
  std::set<int> indexes;
  for (int x = 0; x < 64; ++x) indexes.insert(reduced->PixelIndex(x, 0));
  EXPECT_LE(indexes.size(), 4u);
}

}  // namespace
