#include "platform/Bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "TestSupport.h"

namespace {

// A picture whose every pixel differs from its neighbours: catches swapped
// channels, flipped rows and off-by-one strides.
TColor PatternColor(int x, int y) {
  return RGB(static_cast<uint8_t>(x * 37 + y * 3), static_cast<uint8_t>(y * 29 + x), static_cast<uint8_t>((x ^ y) * 11));
}

TBitmap MakePattern(int w, int h, TPixelFormat format) {
  TBitmap bmp(w, h, format);
  if (format == TPixelFormat::pf8bit) {
    std::vector<TRGBQuad> pal(256);
    for (int i = 0; i < 256; ++i)
      pal[i] = TRGBQuad{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i), 0};
    bmp.SetPalette(pal);
  }
  if (format == TPixelFormat::pf1bit) bmp.SetPalette({TRGBQuad{10, 20, 200, 0}, TRGBQuad{250, 240, 5, 0}});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (format == TPixelFormat::pf1bit)
        bmp.SetPixelIndex(x, y, (x * 7 + y * 3) % 5 < 2);
      else if (format == TPixelFormat::pf8bit)
        bmp.SetPixelIndex(x, y, (x * 13 + y * 71) & 0xFF);
      else
        bmp.SetPixel(x, y, PatternColor(x, y));
    }
  if (format == TPixelFormat::pf32bit) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bmp.ScanLine(y)[4 * x + 3] = static_cast<uint8_t>(255 - (x * 9 + y * 5) % 256);
  }
  return bmp;
}

// Netpbm file (P6, or P7 with alpha) of a bitmap's colours: ImageMagick turns
// it into the reference PNG, so the oracle never sees our BMP code.
std::string ToNetpbm(const TBitmap& bmp, bool withAlpha) {
  std::string out;
  if (withAlpha)
    out = "P7\nWIDTH " + std::to_string(bmp.Width()) + "\nHEIGHT " + std::to_string(bmp.Height()) +
          "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
  else
    out = "P6\n" + std::to_string(bmp.Width()) + " " + std::to_string(bmp.Height()) + "\n255\n";
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) {
      TColor c = bmp.Pixel(x, y);
      out += static_cast<char>(GetRValue(c));
      out += static_cast<char>(GetGValue(c));
      out += static_cast<char>(GetBValue(c));
      if (withAlpha) out += static_cast<char>(bmp.ScanLine(y)[4 * x + 3]);
    }
  return out;
}

std::string MakeReferencePng(const pvltest::TempDir& dir, const std::string& name, const TBitmap& bmp, bool alpha) {
  std::string pnm = dir.File(name + (alpha ? ".pam" : ".ppm"));
  pvltest::WriteFile(pnm, ToNetpbm(bmp, alpha));
  std::string png = dir.File(name + ".png");
  auto r = pvltest::RunCommand({"convert", pnm, png});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return png;
}

// Number of differing pixels according to ImageMagick.
long CompareAE(const std::string& a, const std::string& b) {
  auto r = pvltest::RunCommand({"compare", "-metric", "AE", a, b, "null:"});
  // compare prints the metric on standard error; exit 0 same, 1 different.
  EXPECT_LE(r.exitCode, 1) << r.err;
  return std::stol(r.err);
}

void PutU16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>(v >> 8);
}
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Hand-made BMP file: file header, a header of the given size (fields beyond
// the info header left zero except masks), extra bytes (masks, palette) and data.
std::string MakeBmp(uint32_t headerSize, int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                    const std::string& extra, const std::string& data, uint32_t clrUsed = 0,
                    const std::string& headerTail = "") {
  std::string h;
  PutU32(h, headerSize);
  if (headerSize == 12) {
    PutU16(h, static_cast<uint16_t>(width));
    PutU16(h, static_cast<uint16_t>(height));
    PutU16(h, 1);
    PutU16(h, bits);
  } else {
    PutU32(h, static_cast<uint32_t>(width));
    PutU32(h, static_cast<uint32_t>(height));
    PutU16(h, 1);
    PutU16(h, bits);
    PutU32(h, compression);
    PutU32(h, static_cast<uint32_t>(data.size()));
    PutU32(h, 2835);
    PutU32(h, 2835);
    PutU32(h, clrUsed);
    PutU32(h, 0);
    h += headerTail;
    h.resize(headerSize, '\0');
  }
  std::string f = "BM";
  uint32_t off = static_cast<uint32_t>(14 + h.size() + extra.size());
  PutU32(f, static_cast<uint32_t>(off + data.size()));
  PutU32(f, 0);
  PutU32(f, off);
  return f + h + extra + data;
}

}  // namespace

TEST(Bitmap, GeometryStrideAndScanLinesAreTopDown) {
  struct Case {
    int w;
    TPixelFormat f;
    int stride;
  } cases[] = {{1, TPixelFormat::pf1bit, 4},  {33, TPixelFormat::pf1bit, 8},  {5, TPixelFormat::pf8bit, 8},
               {3, TPixelFormat::pf24bit, 12}, {5, TPixelFormat::pf24bit, 16}, {3, TPixelFormat::pf32bit, 12}};
  for (const auto& c : cases) {
    TBitmap b(c.w, 3, c.f);
    EXPECT_EQ(b.Stride(), c.stride) << c.w;
    EXPECT_EQ(b.ScanLine(1), b.ScanLine(0) + b.Stride());
    EXPECT_EQ(b.BitsSize(), static_cast<size_t>(c.stride) * 3);
  }
  TBitmap b(2, 2, TPixelFormat::pf24bit);
  b.SetPixel(1, 0, RGB(1, 2, 3));
  const uint8_t* p = b.ScanLine(0) + 3;
  EXPECT_EQ(p[0], 3);  // blue first
  EXPECT_EQ(p[2], 1);
  EXPECT_THROW(b.ScanLine(2), EBitmapError);
  EXPECT_THROW(TBitmap(-1, 1), EBitmapError);
}

TEST(Bitmap, SizeGuardRefusesAbsurdDimensions) {
  EXPECT_THROW(TBitmap(1 << 20, 1 << 20), EBitmapError);
  int64_t old = TBitmap::MaxPixels();
  TBitmap::SetMaxPixels(100);
  EXPECT_THROW(TBitmap(11, 10), EBitmapError);
  EXPECT_NO_THROW(TBitmap(10, 10));
  TBitmap b(10, 10);
  EXPECT_THROW(b.SetSize(101, 1), EBitmapError);
  // A file declaring more pixels than allowed is refused before any allocation.
  std::string f = MakeBmp(40, 20, 20, 24, 0, "", std::string(20 * 60, '\0'));
  EXPECT_THROW(b.LoadFromBytes(f), EBitmapError);
  TBitmap::SetMaxPixels(old);
  EXPECT_NO_THROW(b.LoadFromBytes(f));
}

TEST(Bitmap, ResizeKeepsTopLeftAndConversionsKeepColours) {
  TBitmap b = MakePattern(9, 7, TPixelFormat::pf24bit);
  TBitmap orig = b;
  b.SetSize(5, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(b.Pixel(x, y), y < 7 ? orig.Pixel(x, y) : 0u) << x << "," << y;

  TBitmap m = MakePattern(13, 3, TPixelFormat::pf1bit);
  TBitmap mono = m;
  mono.SetWidth(9);  // cutting the width keeps the bits of the kept columns
  for (int x = 0; x < 9; ++x) EXPECT_EQ(mono.PixelIndex(x, 1), m.PixelIndex(x, 1));
  m.SetPixelFormat(TPixelFormat::pf8bit);
  EXPECT_EQ(m.Palette().size(), 2u);
  m.SetPixelFormat(TPixelFormat::pf32bit);
  TBitmap p8 = MakePattern(13, 3, TPixelFormat::pf8bit);
  TBitmap p32 = p8;
  p32.SetPixelFormat(TPixelFormat::pf32bit);
  p32.SetPixelFormat(TPixelFormat::pf24bit);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 13; ++x) EXPECT_EQ(p32.Pixel(x, y), p8.Pixel(x, y));

  // 24 -> 8 bits maps onto the grey ramp by nearest colour.
  TBitmap g(2, 1, TPixelFormat::pf24bit);
  g.SetPixel(0, 0, RGB(100, 100, 100));
  g.SetPixel(1, 0, RGB(250, 240, 245));
  g.SetPixelFormat(TPixelFormat::pf8bit);
  EXPECT_EQ(g.PixelIndex(0, 0), 100);
  EXPECT_EQ(g.PixelIndex(1, 0), 245);
}

// The direct 24 <-> 32-bit conversions write every byte their target keeps:
// colours, opaque alpha, and zero row padding (so files written from a
// converted bitmap do not depend on what the memory held before).
TEST(Bitmap, DirectConversionsAndOverwriteTargets) {
  TBitmap b = MakePattern(5, 4, TPixelFormat::pf24bit);  // 15 of 16 bytes a row used
  TBitmap wide = b;
  wide.SetPixelFormat(TPixelFormat::pf32bit);
  ASSERT_EQ(wide.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(wide.AlphaFormat(), TAlphaFormat::afIgnored);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(wide.Pixel(x, y), b.Pixel(x, y)) << x << "," << y;
      EXPECT_EQ(wide.ScanLine(y)[4 * x + 3], 255);
    }
  // Scribbled alpha does not leak into the 24-bit result.
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) wide.ScanLine(y)[4 * x + 3] = static_cast<uint8_t>(x * 50 + y);
  wide.SetPixelFormat(TPixelFormat::pf24bit);
  EXPECT_TRUE(wide == b);
  EXPECT_EQ(wide.SaveToBytes(), b.SaveToBytes());  // padding included

  for (int round = 0; round < 3; ++round) {
    // Fresh heap blocks may hold anything: the padding is cleared each time.
    TBitmap over = TBitmap::ForOverwrite(5, 4, TPixelFormat::pf24bit);
    EXPECT_EQ(over.Stride(), 16);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(over.ScanLine(y)[15], 0) << y;
    std::memset(over.Bits(), 0xAB, over.BitsSize());
  }
  TBitmap page = TBitmap::ForOverwrite(7, 3, TPixelFormat::pf32bit);
  EXPECT_EQ(page.Stride(), 28);
  EXPECT_EQ(page.BitsSize(), 84u);
  page.Fill(0xFFFFFF);
  EXPECT_EQ(page.Pixel(6, 2), 0xFFFFFFu);
  EXPECT_THROW(TBitmap::ForOverwrite(4, 4, TPixelFormat::pf8bit), EBitmapError);
  EXPECT_THROW(TBitmap::ForOverwrite(-1, 4, TPixelFormat::pf32bit), EBitmapError);
  EXPECT_THROW(TBitmap::ForOverwrite(1 << 20, 1 << 20, TPixelFormat::pf32bit), EBitmapError);
}

// Every pixel format written by us opens in ImageMagick with the same pixels
// as a PNG made independently from the same colours.
TEST(Bitmap, WrittenFilesMatchImageMagick) {
  if (!pvltest::HaveTool("compare") || !pvltest::HaveTool("identify")) GTEST_SKIP() << "ImageMagick missing";
  pvltest::TempDir dir;
  struct Case {
    TPixelFormat f;
    TAlphaFormat a;
    const char* depth;
  } cases[] = {{TPixelFormat::pf1bit, TAlphaFormat::afIgnored, "1"},
               {TPixelFormat::pf8bit, TAlphaFormat::afIgnored, "8"},
               {TPixelFormat::pf24bit, TAlphaFormat::afIgnored, "24"},
               {TPixelFormat::pf32bit, TAlphaFormat::afIgnored, "32"},
               {TPixelFormat::pf32bit, TAlphaFormat::afDefined, "32a"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    TBitmap b = MakePattern(37, 23, c.f);
    b.SetAlphaFormat(c.a);
    bool alpha = c.a != TAlphaFormat::afIgnored;
    std::string bmp = dir.File(std::string("w") + c.depth + ".bmp");
    b.SaveToFile(bmp);
    auto id = pvltest::RunCommand({"identify", "-format", "%m %w %h", bmp});
    EXPECT_EQ(id.exitCode, 0) << id.err;
    EXPECT_TRUE(id.out == "BMP 37 23" || id.out == "BMP3 37 23") << id.out;
    std::string png = MakeReferencePng(dir, std::string("w") + c.depth, b, alpha);
    EXPECT_EQ(CompareAE(bmp, png), 0);
    // And we read our own file back unchanged.
    TBitmap back;
    back.LoadFromFile(bmp);
    EXPECT_TRUE(back == b);
  }
  // Premultiplied pixels are written as straight alpha.
  TBitmap pm(1, 1, TPixelFormat::pf32bit);
  uint8_t* px = pm.ScanLine(0);
  px[0] = 20, px[1] = 40, px[2] = 64, px[3] = 128;
  pm.SetAlphaFormat(TAlphaFormat::afPremultiplied);
  TBitmap straight;
  straight.LoadFromBytes(pm.SaveToBytes());
  EXPECT_EQ(straight.Pixel(0, 0), RGB(128, 80, 40));
  EXPECT_EQ(straight.ScanLine(0)[3], 128);
}

// Files written by ImageMagick in its BMP variants read back with the pixels
// of the source picture.
TEST(Bitmap, ReadsImageMagickVariants) {
  if (!pvltest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  pvltest::TempDir dir;
  TBitmap src = MakePattern(29, 17, TPixelFormat::pf24bit);
  std::string png = MakeReferencePng(dir, "src", src, false);
  // A picture of few colours for the palette and run-length variants.
  TBitmap few(29, 17, TPixelFormat::pf24bit);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 29; ++x) few.SetPixel(x, y, (x / 4 + y / 3) % 3 == 0 ? RGB(200, 10, 30) : (x < 10 ? RGB(0, 0, 0) : RGB(20, 200, 90)));
  std::string fewPng = MakeReferencePng(dir, "few", few, false);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const std::string* source;
    int bits;
  } cases[] = {
      {"bmp3-24", {"-type", "TrueColor", "BMP3:"}, &png, 24},
      {"bmp2-24", {"-type", "TrueColor", "BMP2:"}, &png, 24},
      {"bmp4-24", {"-type", "TrueColor", "BMP:"}, &png, 24},
      {"bmp3-pal8", {"-type", "Palette", "BMP3:"}, &fewPng, 8},
      {"bmp2-pal", {"-type", "Palette", "BMP2:"}, &fewPng, 8},
      {"rle8", {"-type", "Palette", "-compress", "RLE", "BMP3:"}, &fewPng, 8},
      {"bmp4-565", {"-type", "TrueColor", "-define", "bmp:subtype=RGB565", "BMP:"}, &png, 24},
      {"bmp4-555", {"-type", "TrueColor", "-define", "bmp:subtype=RGB555", "BMP:"}, &png, 24},
      {"bmp4-32", {"-type", "TrueColorAlpha", "BMP:"}, &png, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv = {"convert", *c.source};
    std::string out = dir.File(std::string(c.name) + ".bmp");
    for (size_t i = 0; i + 1 < c.args.size(); ++i) argv.push_back(c.args[i]);
    argv.push_back(c.args.back() + out);
    auto r = pvltest::RunCommand(argv);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    TBitmap b;
    ASSERT_NO_THROW(b.LoadFromFile(out));
    EXPECT_EQ(b.Width(), 29);
    EXPECT_EQ(b.Height(), 17);
    TBitmap as24 = b;
    as24.SetPixelFormat(TPixelFormat::pf24bit);
    std::string ours = MakeReferencePng(dir, std::string(c.name) + "-ours", as24, false);
    // The oracle is ImageMagick's own reading of the same file (16-bit
    // variants lose precision against the source).
    std::string theirs = dir.File(std::string(c.name) + "-im.png");
    ASSERT_EQ(pvltest::RunCommand({"convert", out, "-alpha", "off", theirs}).exitCode, 0);
    EXPECT_EQ(CompareAE(ours, theirs), 0);
    EXPECT_EQ(b.BitsPerPixel(), c.bits);
  }
}

// Hand-made headers: core, info with bit fields, V4/V5, top-down, RLE4 and
// RLE8 with deltas and absolute runs.
TEST(Bitmap, ReadsEveryHeaderVariant) {
  // 2 x 2, 24 bits: blue, green / red, white (top row first).
  std::string rows24;
  rows24 += std::string("\x00\x00\xFF\xFF\xFF\xFF", 6) + std::string(2, '\0');  // bottom: red, white
  rows24 += std::string("\xFF\x00\x00\x00\xFF\x00", 6) + std::string(2, '\0');  // top: blue, green
  const TColor expect[2][2] = {{RGB(0, 0, 255), RGB(0, 255, 0)}, {RGB(255, 0, 0), RGB(255, 255, 255)}};
  auto check = [&](const TBitmap& b) {
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(b.Pixel(x, y), expect[y][x]) << x << "," << y;
  };
  std::string topDown = rows24.substr(8) + rows24.substr(0, 8);
  std::string masks565, masksV4;
  PutU32(masks565, 0xF800);
  PutU32(masks565, 0x07E0);
  PutU32(masks565, 0x001F);
  // 16 bits 565: blue, green / red, white
  std::string rows16;
  PutU16(rows16, 0xF800), PutU16(rows16, 0xFFFF);
  PutU16(rows16, 0x001F), PutU16(rows16, 0x07E0);
  // 32 bits with masks in a V4/V5 header: alpha in the low byte (ARGB reversed).
  std::string v4tail;
  PutU32(v4tail, 0xFF000000);  // red
  PutU32(v4tail, 0x00FF0000);  // green
  PutU32(v4tail, 0x0000FF00);  // blue
  PutU32(v4tail, 0x000000FF);  // alpha
  std::string rows32;
  PutU32(rows32, 0xFF000080), PutU32(rows32, 0xFFFFFFFF);
  PutU32(rows32, 0x0000FF40), PutU32(rows32, 0x00FF00FF);
  // Core header: 3-byte palette entries, 1 bit.
  std::string corePal = std::string("\xFF\x00\x00", 3) + std::string("\x00\x00\xFF", 3);  // blue, red
  std::string rows1 = std::string("\x40\0\0\0", 4) + std::string("\x80\0\0\0", 4);      // bottom: 0 1; top: 1 0

  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"info24", MakeBmp(40, 2, 2, 24, 0, "", rows24)},
      {"info24-topdown", MakeBmp(40, 2, -2, 24, 0, "", topDown)},
      {"v4-24", MakeBmp(108, 2, 2, 24, 0, "", rows24)},
      {"v5-24", MakeBmp(124, 2, 2, 24, 0, "", rows24)},
      {"os2v2-24", MakeBmp(64, 2, 2, 24, 0, "", rows24)},
      {"os2v2-short", MakeBmp(16, 2, 2, 24, 0, "", rows24)},
      {"info16-bitfields", MakeBmp(40, 2, 2, 16, 3, masks565, rows16)},
      {"v4-32-bitfields", MakeBmp(108, 2, 2, 32, 3, "", rows32, 0, v4tail)},
      {"v5-32-bitfields", MakeBmp(124, 2, 2, 32, 3, "", rows32, 0, v4tail)},
      {"info32-alphabitfields", MakeBmp(40, 2, 2, 32, 6, v4tail, rows32)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBitmap b;
    ASSERT_NO_THROW(b.LoadFromBytes(c.file));
    check(b);
  }
  TBitmap a;
  a.LoadFromBytes(MakeBmp(108, 2, 2, 32, 3, "", rows32, 0, v4tail));
  EXPECT_EQ(a.AlphaFormat(), TAlphaFormat::afDefined);
  EXPECT_EQ(a.ScanLine(0)[3], 0x40);

  TBitmap core;
  core.LoadFromBytes(MakeBmp(12, 2, 2, 1, 0, corePal, rows1));
  EXPECT_EQ(core.PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(core.Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(core.Pixel(1, 0), RGB(0, 0, 255));
  EXPECT_EQ(core.Pixel(1, 1), RGB(255, 0, 0));

  // RLE8 4 x 3 with a palette of four: run, delta, absolute run, end of line/bitmap.
  std::string pal4;
  for (int i = 0; i < 4; ++i) PutU32(pal4, 0x00404040u * i);
  std::string rle8 = std::string("\x04\x01\x00\x00", 4)                // bottom row: 1 1 1 1
                     + std::string("\x00\x02\x01\x01", 4)              // delta: skip one column and one row
                     + std::string("\x00\x03\x02\x03\x01\x00", 6)      // absolute 2 3 1, padded
                     + std::string("\x00\x01", 2);                     // end of bitmap
  TBitmap r8;
  r8.LoadFromBytes(MakeBmp(40, 4, 3, 8, 1, pal4, rle8, 4));
  EXPECT_EQ(r8.PixelIndex(0, 2), 1);
  EXPECT_EQ(r8.PixelIndex(3, 2), 1);
  EXPECT_EQ(r8.PixelIndex(0, 0), 0);  // skipped by the delta
  EXPECT_EQ(r8.PixelIndex(1, 0), 2);
  EXPECT_EQ(r8.PixelIndex(2, 0), 3);
  EXPECT_EQ(r8.PixelIndex(3, 0), 1);
  // RLE4: a run alternating two nibbles, an absolute run of three nibbles.
  std::string rle4 = std::string("\x05\x12\x00\x00", 4) + std::string("\x00\x03\x31\x20\x00\x01", 6);
  TBitmap r4;
  r4.LoadFromBytes(MakeBmp(40, 5, 2, 4, 2, pal4, rle4, 4));
  const int row1[] = {1, 2, 1, 2, 1};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(r4.PixelIndex(x, 1), row1[x]);
  EXPECT_EQ(r4.PixelIndex(0, 0), 3);
  EXPECT_EQ(r4.PixelIndex(1, 0), 1);
  EXPECT_EQ(r4.PixelIndex(2, 0), 2);
}

// Hostile files: every truncation of valid files, absurd sizes, bad fields.
// Each gives EBitmapError and leaves the bitmap as it was.
TEST(Bitmap, HostileFilesGiveErrorsNotCrashes) {
  std::vector<std::string> valid;
  valid.push_back(MakePattern(7, 5, TPixelFormat::pf24bit).SaveToBytes());
  valid.push_back(MakePattern(9, 4, TPixelFormat::pf8bit).SaveToBytes());
  TBitmap withAlpha = MakePattern(3, 3, TPixelFormat::pf32bit);
  withAlpha.SetAlphaFormat(TAlphaFormat::afDefined);
  valid.push_back(withAlpha.SaveToBytes());
  TBitmap keep = MakePattern(2, 2, TPixelFormat::pf24bit);
  const TBitmap before = keep;
  for (const auto& file : valid) {
    for (size_t len = 0; len < file.size(); ++len) {
      EXPECT_THROW(keep.LoadFromBytes(std::string_view(file).substr(0, len)), EBitmapError) << len;
    }
  }
  EXPECT_TRUE(keep == before);

  std::string pal2 = std::string(8, '\0');
  struct Case {
    const char* name;
    std::string file;
  } cases[] = {
      {"huge", MakeBmp(40, 0x7FFFFFFF, 0x7FFFFFFF, 24, 0, "", "")},
      {"huge-negative", MakeBmp(40, 100000, -2147483647 - 1, 24, 0, "", "")},
      {"zero-width", MakeBmp(40, 0, 5, 24, 0, "", "")},
      {"negative-width", MakeBmp(40, -5, 5, 24, 0, "", std::string(100, '\0'))},
      {"bad-depth", MakeBmp(40, 1, 1, 7, 0, "", std::string(4, '\0'))},
      {"bad-header-size", MakeBmp(41, 1, 1, 24, 0, "", std::string(4, '\0'))},
      {"palette-too-big", MakeBmp(40, 1, 1, 8, 0, pal2, std::string(4, '\0'), 100000)},
      {"rle-wrong-depth", MakeBmp(40, 1, 1, 24, 1, "", std::string(4, '\0'))},
      {"jpeg-compression", MakeBmp(40, 1, 1, 24, 4, "", std::string(4, '\0'))},
      {"rle-cut-in-absolute-run", MakeBmp(40, 8, 1, 8, 1, pal2, std::string("\x00\x08\x01\x02", 4), 2)},
      {"not-bmp", std::string("PK\x03\x04", 4) + std::string(60, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(keep.LoadFromBytes(c.file), EBitmapError) << c.name;
  }
  EXPECT_TRUE(keep == before);
  // A run-length image that claims a huge height but holds little data stays
  // within the size guard and decodes what is there.
  TBitmap::SetMaxPixels(1 << 16);
  EXPECT_THROW(keep.LoadFromBytes(MakeBmp(40, 1000, 1000, 8, 1, pal2, std::string("\x00\x01", 2), 2)), EBitmapError);
  TBitmap::SetMaxPixels(TBitmap::DefaultMaxPixels);
}

TEST(Bitmap, LoadFromStreamReadsOnlyItsOwnBytes) {
  TBitmap b = MakePattern(5, 3, TPixelFormat::pf8bit);
  TMemoryStream s;
  s.WriteString("xx");
  b.SaveToStream(s);
  s.WriteString("tail");
  s.SetPosition(2);
  TBitmap r;
  r.LoadFromStream(s);
  EXPECT_TRUE(r == b);
  EXPECT_EQ(s.ReadAll(), "tail");
}
