// Image XObjects and inline images built by the tests: bit depths, /Decode,
// colour spaces, masks, inline abbreviations, codec failures and size limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "TestSupport.h"
#include "graphics/PavonaImageDecoder.h"
#include "objects/PavonaFlate.h"

namespace {

// An image stream in a pool: dictionary syntax plus raw data.
TPDFStream* MakeImage(TPDFStructure& pool, const std::string& dict, const std::string& data) {
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject(dict));
  EXPECT_NE(d, nullptr) << dict;
  return pool.NewStreamWith(data, d);
}

struct Rgba {
  int r, g, b, a;
};

Rgba PixelOf(const TPDFImageDecoder& dec, int x, int y) {
  const TBitmap* b = dec.GetImageBitmap();
  const uint8_t* p = b->ScanLine(y) + 3 * x;
  int a = dec.GetMaskBitmap() ? dec.GetMaskBitmap()->ScanLine(y)[x] : 255;
  return {p[2], p[1], p[0], a};
}

void ExpectPixel(const TPDFImageDecoder& dec, int x, int y, Rgba want, int tolerance = 0) {
  Rgba got = PixelOf(dec, x, y);
  EXPECT_LE(std::abs(got.r - want.r), tolerance) << "x=" << x << " y=" << y << " red";
  EXPECT_LE(std::abs(got.g - want.g), tolerance) << "x=" << x << " y=" << y << " green";
  EXPECT_LE(std::abs(got.b - want.b), tolerance) << "x=" << x << " y=" << y << " blue";
  EXPECT_EQ(got.a, want.a) << "x=" << x << " y=" << y << " alpha";
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

// One row of four grey pixels at every bit depth.
struct DepthCase {
  int bits;
  std::string data;
  int grey[4];
};

class ImageDecoderDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(ImageDecoderDepth, GreySamplesScaleToBytes) {
  const DepthCase& c = GetParam();
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(
      pool, "<< /Width 4 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent " + std::to_string(c.bits) + " >>",
      c.data));
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  for (int x = 0; x < 4; ++x) ExpectPixel(dec, x, 0, {c.grey[x], c.grey[x], c.grey[x], 255});
}

INSTANTIATE_TEST_SUITE_P(
    Depths, ImageDecoderDepth,
    ::testing::Values(DepthCase{1, Bytes({0x50}), {0, 255, 0, 255}},   // 0101
                      DepthCase{2, Bytes({0x1B}), {0, 85, 170, 255}},  // 00 01 10 11
                      DepthCase{4, Bytes({0x0F, 0x78}), {0, 255, 119, 136}},
                      DepthCase{8, Bytes({0, 1, 128, 255}), {0, 1, 128, 255}},
                      DepthCase{16, Bytes({0x00, 0xFF, 0x12, 0x34, 0x80, 0x00, 0xFF, 0xFF}), {1, 18, 128, 255}}));

TEST(ImageDecoder, WidthTenAtOneBitUsesTwoBytesPerRow) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, "<< /Width 10 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 1 >>",
                         Bytes({0xFF, 0xC0, 0x00, 0x40})));
  ASSERT_TRUE(dec.IsReady());
  ExpectPixel(dec, 9, 0, {255, 255, 255, 255});
  ExpectPixel(dec, 0, 1, {0, 0, 0, 255});
  ExpectPixel(dec, 9, 1, {255, 255, 255, 255});
}

// /Decode applies to every colour space.
struct DecodeCase {
  std::string dict;
  std::string data;
  Rgba want;
};

class ImageDecoderDecode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(ImageDecoderDecode, DecodeArrayMapsSamples) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, GetParam().dict, GetParam().data));
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  ExpectPixel(dec, 0, 0, GetParam().want, 1);
}

INSTANTIATE_TEST_SUITE_P(
    ColourSpaces, ImageDecoderDecode,
    ::testing::Values(
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0] >>",
                   Bytes({0x00}),
                   {255, 255, 255, 255}},
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Decode [1 0] >>",
                   Bytes({64}),
                   {191, 191, 191, 255}},
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Decode [1 0 0 1 0 0.5] >>",
                   Bytes({255, 255, 255}),
                   {0, 255, 128, 255}},
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8 /Decode [1 0 1 0 1 0 1 0] >>",
                   Bytes({255, 255, 0, 255}),
                   {255, 242, 0, 255}},
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FF0000 00FF00>] /BitsPerComponent 8 "
                   "/Decode [1 0] >>",
                   Bytes({0}),
                   {0, 255, 0, 255}},
        DecodeCase{"<< /Width 1 /Height 1 /ColorSpace [/Separation /Spot /DeviceRGB << /FunctionType 2 /Domain [0 1] "
                   "/C0 [1 1 1] /C1 [0 0 1] /N 1 >>] /BitsPerComponent 8 /Decode [1 0] >>",
                   Bytes({255}),
                   {255, 255, 255, 255}}));

struct SpaceCase {
  std::string name;
  std::string dict;
  std::string data;
  std::vector<Rgba> want;
  int tolerance;
};

class ImageDecoderColourSpace : public ::testing::TestWithParam<SpaceCase> {};

TEST_P(ImageDecoderColourSpace, PixelsMapToRgb) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, GetParam().dict, GetParam().data));
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  for (size_t i = 0; i < GetParam().want.size(); ++i)
    ExpectPixel(dec, static_cast<int>(i), 0, GetParam().want[i], GetParam().tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Spaces, ImageDecoderColourSpace,
    ::testing::Values(
        SpaceCase{"IndexedClampsToHival",
                  "<< /Width 3 /Height 1 /ColorSpace [/Indexed /DeviceRGB 3 <000000 FF0000 00FF00 0000FF>] "
                  "/BitsPerComponent 8 >>",
                  Bytes({1, 3, 7}),
                  {{255, 0, 0, 255}, {0, 0, 255, 255}, {0, 0, 255, 255}},
                  0},
        SpaceCase{"IndexedShortLookupIsBlack",
                  "<< /Width 2 /Height 1 /ColorSpace [/Indexed /DeviceRGB 1 <FFFFFF>] /BitsPerComponent 8 >>",
                  Bytes({0, 1}),
                  {{255, 255, 255, 255}, {0, 0, 0, 255}},
                  0},
        SpaceCase{"IndexedTwoBit",
                  "<< /Width 4 /Height 1 /ColorSpace [/Indexed /DeviceGray 3 <00 40 80 FF>] /BitsPerComponent 2 >>",
                  Bytes({0x1B}),
                  {{0, 0, 0, 255}, {64, 64, 64, 255}, {128, 128, 128, 255}, {255, 255, 255, 255}},
                  0},
        SpaceCase{"IndexedCMYKBase",
                  "<< /Width 1 /Height 1 /ColorSpace [/Indexed /DeviceCMYK 0 <00FF0000>] /BitsPerComponent 8 >>",
                  Bytes({0}),
                  {{236, 0, 140, 255}},
                  0},
        SpaceCase{"DeviceCMYK",
                  "<< /Width 2 /Height 1 /ColorSpace /DeviceCMYK /BitsPerComponent 8 >>",
                  Bytes({0, 0, 0, 0, 0, 255, 255, 0}),
                  {{255, 255, 255, 255}, {237, 28, 0, 255}},
                  0},
        SpaceCase{"SeparationType2",
                  "<< /Width 2 /Height 1 /ColorSpace [/Separation /Orange /DeviceCMYK << /FunctionType 2 /Domain [0 1] "
                  "/C0 [0 0 0 0] /C1 [0 0.5 1 0] /N 1 >>] /BitsPerComponent 8 >>",
                  Bytes({0, 255}),
                  {{255, 255, 255, 255}, {246, 135, 0, 255}},
                  1},
        SpaceCase{"Lab",
                  "<< /Width 3 /Height 1 /ColorSpace [/Lab << /WhitePoint [0.9505 1 1.089] /Range [-128 127 -128 "
                  "127] >>] /BitsPerComponent 8 >>",
                  // L 100 a 0 b 0 (white); L 0 (black); L 50.2 (sRGB grey 120).
                  Bytes({255, 128, 128, 0, 128, 128, 128, 128, 128}),
                  {{255, 255, 255, 255}, {0, 0, 0, 255}, {120, 120, 120, 255}},
                  2}),
    [](const auto& info) { return info.param.name; });

TEST(ImageDecoder, ICCBasedUsesAlternateOrComponentCount) {
  struct Case {
    const char* profile;
    std::string data;
    Rgba want;
  } cases[] = {{"<< /N 3 /Alternate /DeviceGray >>", Bytes({77}), {77, 77, 77, 255}},
               // CMYK through the colour manager's polynomial.
               {"<< /N 4 >>", Bytes({255, 0, 0, 0}), {0, 173, 239, 255}},
               {"<< /N 1 >>", Bytes({90}), {90, 90, 90, 255}},
               {"<< /N 3 /Alternate [/CalRGB << /WhitePoint [0.95 1 1.09] >>] >>", Bytes({1, 2, 3}), {1, 2, 3, 255}}};
  for (const Case& c : cases) {
    TPDFStructure pool;
    TPDFStream* profile = pool.NewStreamWith("profile bytes", PDFAsDictionary(pool.ParseObject(c.profile)));
    TPDFStream* img = MakeImage(pool, "<< /Width 1 /Height 1 /BitsPerComponent 8 >>", c.data);
    TPDFArray* cs = PDFAsArray(pool.ParseObject("[/ICCBased]"));
    cs->Add(profile);
    img->GetDictionary()->SetValue("ColorSpace", cs);
    TPDFImageDecoder dec;
    dec.SetImage(img);
    ASSERT_TRUE(dec.IsReady()) << c.profile << ": " << dec.GetErrorText();
    ExpectPixel(dec, 0, 0, c.want);
  }
}

// Each tint of a DeviceN space counts: a sampled function with corners (0,0)
// black, (1,0) red, (0,1) blue, (1,1) magenta.
TEST(ImageDecoder, DeviceNUsesEveryTint) {
  TPDFStructure pool;
  TPDFDictionary* fn = PDFAsDictionary(
      pool.ParseObject("<< /FunctionType 0 /Domain [0 1 0 1] /Range [0 1 0 1 0 1] /Size [2 2] /BitsPerSample 8 >>"));
  TPDFStream* fnStream = pool.NewStreamWith(Bytes({0, 0, 0, 255, 0, 0, 0, 0, 255, 255, 0, 255}), fn);
  TPDFArray* cs = PDFAsArray(pool.ParseObject("[/DeviceN [/A /B] /DeviceRGB]"));
  cs->Add(fnStream);
  TPDFStream* img =
      MakeImage(pool, "<< /Width 4 /Height 1 /BitsPerComponent 8 >>", Bytes({0, 0, 255, 0, 0, 255, 255, 255}));
  img->GetDictionary()->SetValue("ColorSpace", cs);
  TPDFImageDecoder dec;
  dec.SetImage(img);
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  ExpectPixel(dec, 0, 0, {0, 0, 0, 255});
  ExpectPixel(dec, 1, 0, {255, 0, 0, 255});
  ExpectPixel(dec, 2, 0, {0, 0, 255, 255});
  ExpectPixel(dec, 3, 0, {255, 0, 255, 255});
}

TEST(ImageDecoder, ColourKeyOnGreyKeepsBlackOpaque) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, "<< /Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Mask [200 255] >>",
                         Bytes({0, 128, 220})));
  ASSERT_TRUE(dec.IsReady());
  EXPECT_EQ(dec.GetMaskKind(), imkMask);
  ExpectPixel(dec, 0, 0, {0, 0, 0, 255});
  ExpectPixel(dec, 1, 0, {128, 128, 128, 255});
  ExpectPixel(dec, 2, 0, {220, 220, 220, 0});
}

TEST(ImageDecoder, ColourKeyOnIndexedMasksTheIndexRange) {
  TPDFStructure pool;
  std::string palette(3 * 32, '\x10');
  TPDFStream* img =
      MakeImage(pool, "<< /Width 4 /Height 1 /BitsPerComponent 8 /Mask [10 20] >>", Bytes({9, 10, 20, 21}));
  TPDFArray* cs = PDFAsArray(pool.ParseObject("[/Indexed /DeviceRGB 31]"));
  cs->Add(pool.NewString(palette));
  img->GetDictionary()->SetValue("ColorSpace", cs);
  TPDFImageDecoder dec;
  dec.SetImage(img);
  ASSERT_TRUE(dec.IsReady());
  int alphas[4] = {255, 0, 0, 255};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelOf(dec, x, 0).a, alphas[x]) << x;
}

TEST(ImageDecoder, ColourKeyOnRgbNeedsEveryComponentInRange) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool,
                         "<< /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask [250 255 0 5 0 5] >>",
                         Bytes({255, 0, 0, 255, 0, 9})));
  ASSERT_TRUE(dec.IsReady());
  EXPECT_EQ(PixelOf(dec, 0, 0).a, 0);
  EXPECT_EQ(PixelOf(dec, 1, 0).a, 255);
}

TEST(ImageDecoder, SoftMaskGivesAlpha) {
  TPDFStructure pool;
  TPDFStream* smask =
      MakeImage(pool, "<< /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>", Bytes({0, 200}));
  TPDFStream* img = MakeImage(pool,
                              "<< /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask [0 255 0 "
                              "255 0 255] >>",
                              Bytes({255, 0, 0, 0, 255, 0}));
  img->GetDictionary()->SetValue("SMask", smask);
  TPDFImageDecoder dec;
  dec.SetImage(img);
  ASSERT_TRUE(dec.IsReady());
  // The soft mask wins over /Mask.
  EXPECT_EQ(dec.GetMaskKind(), imkSoftMask);
  ExpectPixel(dec, 0, 0, {255, 0, 0, 0});
  ExpectPixel(dec, 1, 0, {0, 255, 0, 200});
}

TEST(ImageDecoder, ExplicitMaskPaintsWhereItsSampleIsZero) {
  for (const char* decode : {"", "/Decode [1 0]"}) {
    TPDFStructure pool;
    TPDFStream* mask =
        MakeImage(pool, std::string("<< /Width 2 /Height 1 /ImageMask true /BitsPerComponent 1 ") + decode + " >>",
                  Bytes({0x40}));  // samples 0 1
    TPDFStream* img =
        MakeImage(pool, "<< /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>", Bytes({50, 60}));
    img->GetDictionary()->SetValue("Mask", mask);
    TPDFImageDecoder dec;
    dec.SetImage(img);
    ASSERT_TRUE(dec.IsReady());
    EXPECT_EQ(dec.GetMaskKind(), imkMask);
    bool inverted = *decode != 0;
    EXPECT_EQ(PixelOf(dec, 0, 0).a, inverted ? 0 : 255) << decode;
    EXPECT_EQ(PixelOf(dec, 1, 0).a, inverted ? 255 : 0) << decode;
  }
}

// Stencils drawn onto a white page: painted where the decoded sample is 0.
TEST(ImageDecoder, StencilPolaritiesDrawTheFillColour) {
  for (const char* decode : {"", "/Decode [1 0]"}) {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    dec.SetImage(MakeImage(pool, std::string("<< /Width 8 /Height 1 /ImageMask true ") + decode + " >>",
                           Bytes({0x0F})));  // left half 0, right half 1
    ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
    EXPECT_EQ(dec.GetMaskKind(), imkStencil);
    TBitmap page(20, 10, TPixelFormat::pf24bit);
    page.Fill(0xFFFFFF);
    {
      TCanvas canvas(page);
      TPDFPicasso picasso;
      TGDIPlusSettings settings;
      picasso.AttachCanvas(&canvas, settings);
      const double m[6] = {20, 0, 0, -10, 0, 10};  // unit square onto the whole page, y down
      dec.DrawImage(picasso, m, RGB(255, 0, 0));
    }
    bool inverted = *decode != 0;
    // Image smoothing may blend a little at the edges.
    auto near = [](TColor a, TColor b) {
      return std::abs(GetRValue(a) - GetRValue(b)) < 24 && std::abs(GetGValue(a) - GetGValue(b)) < 24 &&
             std::abs(GetBValue(a) - GetBValue(b)) < 24;
    };
    TColor left = page.Pixel(2, 5), right = page.Pixel(17, 5);
    EXPECT_TRUE(near(left, inverted ? 0xFFFFFFu : RGB(255, 0, 0))) << decode << " " << std::hex << left;
    EXPECT_TRUE(near(right, inverted ? RGB(255, 0, 0) : 0xFFFFFFu)) << decode << " " << std::hex << right;
  }
}

TEST(ImageDecoder, ShortDataIsPaddedWithZeros) {
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, "<< /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
                         Bytes({255, 255, 255, 10})));
  ASSERT_TRUE(dec.IsReady());
  ExpectPixel(dec, 0, 0, {255, 255, 255, 255});
  ExpectPixel(dec, 1, 0, {10, 0, 0, 255});
  ExpectPixel(dec, 1, 1, {0, 0, 0, 255});
}

TEST(ImageDecoder, SizesAreCheckedBeforeAllocation) {
  const char* dicts[] = {
      "<< /Width 100000 /Height 100000 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
      "<< /Width 5000000 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 >>",
      "<< /Width -4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 8 >>",
      "<< /Width 4 /Height 4 /ColorSpace /DeviceGray /BitsPerComponent 3 >>",
      "<< /Width 4 /Height 4 /ColorSpace /Pattern /BitsPerComponent 8 >>",
      // 8000 x 8000 RGB from a handful of bytes is no picture.
      "<< /Width 8000 /Height 8000 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
  };
  for (const char* d : dicts) {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    dec.SetImage(MakeImage(pool, d, "abc"));
    EXPECT_FALSE(dec.IsReady()) << d;
    EXPECT_FALSE(dec.GetErrorText().empty()) << d;
  }
}

TEST(ImageDecoder, FiltersRunInOrderIncludingRunLength) {
  TPDFStructure pool;
  // RunLength: 2 literal bytes, then 3 repeats of 0x80.
  std::string rl = Bytes({1, 10, 20, 254, 0x80, 128});
  std::string hex;
  static const char* digits = "0123456789ABCDEF";
  for (unsigned char c : rl) hex += std::string{digits[c >> 4], digits[c & 15]};
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(
      pool, "<< /Width 5 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter [/AHx /RL] >>", hex + ">"));
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  int want[5] = {10, 20, 128, 128, 128};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelOf(dec, x, 0).r, want[x]);
}

TEST(ImageDecoder, RunLengthStopsAtTheEndCodeAndTheInput) {
  EXPECT_EQ(RunLengthDecodeString(Bytes({2, 'a', 'b', 'c', 128, 0, 'x'})), "abc");
  TPDFDecodeStatus st;
  EXPECT_EQ(RunLengthDecodeString(Bytes({5, 'a', 'b'}), &st), "ab");
  EXPECT_EQ(st, TPDFDecodeStatus::dsDamaged);
  EXPECT_EQ(RunLengthDecodeString(Bytes({255})), "");
}

TEST(ImageDecoder, JpegDecodesAndBrokenJpegIsNotDrawn) {
  if (!pvltest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  pvltest::TempDir dir;
  auto run =
      pvltest::RunCommand({"convert", "-size", "16x8", "xc:rgb(200,40,30)", "-quality", "95", dir.File("a.jpg")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::string jpeg = pvltest::ReadFile(dir.File("a.jpg"));
  {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    // A stray line feed in front of the JPEG, and a Flate layer around it.
    dec.SetImage(MakeImage(pool,
                           "<< /Width 16 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter [/FlateDecode "
                           "/DCTDecode] >>",
                           CompressString("\n" + jpeg)));
    ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
    EXPECT_EQ(dec.GetImageFilter(), "DCTDecode");
    ExpectPixel(dec, 8, 4, {200, 40, 30, 255}, 4);
  }
  {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    dec.SetImage(MakeImage(pool,
                           "<< /Width 16 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode >>",
                           jpeg.substr(0, 20)));
    EXPECT_FALSE(dec.IsReady());
    EXPECT_NE(dec.GetErrorText().find("JPEG"), std::string::npos) << dec.GetErrorText();
    TBitmap page(16, 8, TPixelFormat::pf24bit);
    page.Fill(0xFFFFFF);
    {
      TCanvas canvas(page);
      TPDFPicasso picasso;
      picasso.AttachCanvas(&canvas, TGDIPlusSettings());
      const double m[6] = {16, 0, 0, -8, 0, 8};
      dec.DrawImage(picasso, m, 0);
    }
    EXPECT_EQ(page.Pixel(8, 4), 0xFFFFFFu);  // no black box
  }
}

// JBIG2: a page of 12 x 3 with an MMR-coded black run of 10 pixels at (1, 1).
std::string Jbig2Page() {
  auto u32 = [](uint32_t v) { return Bytes({int(v >> 24), int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)}); };
  auto segment = [&](uint32_t number, int type, const std::string& data) {
    return u32(number) + Bytes({type, 0, 1}) + u32(uint32_t(data.size())) + data;
  };
  std::string page = u32(12) + u32(3) + u32(0) + u32(0) + Bytes({0, 0, 0});
  // Region info (10 x 1 at 1,1, OR), MMR on, then horizontal mode: white 0, black 10.
  std::string region = u32(10) + u32(1) + u32(1) + u32(1) + Bytes({0, 1, 0x26, 0xA1, 0x00});
  return segment(0, 48, page) + segment(1, 38, region);
}

struct Jbig2Case {
  const char* name;
  std::string dict;
  std::string data;
  Rgba black, white;  // the pixel at (2, 1) and at (0, 0)
  bool ready;
};

class ImageDecoderJbig2 : public ::testing::TestWithParam<Jbig2Case> {};

TEST_P(ImageDecoderJbig2, BlackPixelsAreSampleZero) {
  const Jbig2Case& c = GetParam();
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(pool, c.dict, c.data));
  ASSERT_EQ(dec.IsReady(), c.ready) << dec.GetErrorText();
  if (!c.ready) {
    EXPECT_NE(dec.GetErrorText().find("JBIG2"), std::string::npos) << dec.GetErrorText();
    return;
  }
  EXPECT_EQ(dec.GetImageFilter(), "JBIG2Decode");
  ExpectPixel(dec, 2, 1, c.black);
  ExpectPixel(dec, 0, 0, c.white);
  ExpectPixel(dec, 11, 1, c.white);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageDecoderJbig2,
    ::testing::Values(
        Jbig2Case{"Grey", "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode >>",
                  Jbig2Page(), {0, 0, 0, 255}, {255, 255, 255, 255}, true},
        Jbig2Case{"DecodeInverts",
                  "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode "
                  "/Decode [1 0] >>",
                  Jbig2Page(), {255, 255, 255, 255}, {0, 0, 0, 255}, true},
        Jbig2Case{"IndexedBlackIsEntryZero",
                  "<< /Width 12 /Height 3 /ColorSpace [/Indexed /DeviceRGB 1 <FF0000 00FF00>] /BitsPerComponent 1 "
                  "/Filter [/JBIG2Decode] >>",
                  Jbig2Page(), {255, 0, 0, 255}, {0, 255, 0, 255}, true},
        Jbig2Case{"AfterFlate",
                  "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter [/FlateDecode "
                  "/JBIG2Decode] >>",
                  CompressString(Jbig2Page()), {0, 0, 0, 255}, {255, 255, 255, 255}, true},
        Jbig2Case{"StencilPaintsBlack",
                  "<< /Width 12 /Height 3 /ImageMask true /Filter /JBIG2Decode >>", Jbig2Page(), {0, 0, 0, 255},
                  {255, 255, 255, 255}, true},
        Jbig2Case{"BrokenDataIsNotDrawn",
                  "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode >>",
                  Jbig2Page().substr(0, 9), {}, {}, false},
        Jbig2Case{"ColourSpaceOfThreeComponents",
                  "<< /Width 12 /Height 3 /ColorSpace /DeviceRGB /BitsPerComponent 1 /Filter /JBIG2Decode >>",
                  Jbig2Page(), {}, {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A JBIG2 page far taller than the image (found by fuzzing: 12 x 4.8 million
// pixels) is refused at the picture limit instead of being copied out row by row.
TEST(ImageDecoder, Jbig2PageAbovePixelLimitIsRefused) {
  const int64_t saved = TBitmap::MaxPixels();
  TBitmap::SetMaxPixels(int64_t(1) << 16);
  auto u32 = [](uint32_t v) { return Bytes({int(v >> 24), int((v >> 16) & 255), int((v >> 8) & 255), int(v & 255)}); };
  std::string page = u32(12) + u32(0x4A4249) + u32(0) + u32(0) + Bytes({0, 0, 0});
  std::string data = u32(0) + Bytes({48, 0, 1}) + u32(uint32_t(page.size())) + page;
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.SetImage(MakeImage(
      pool, "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /JBIG2Decode >>", data));
  TBitmap::SetMaxPixels(saved);
  EXPECT_FALSE(dec.IsReady());
  EXPECT_NE(dec.GetErrorText().find("JBIG2"), std::string::npos) << dec.GetErrorText();
}

// /JBIG2Globals is a reference to a stream whose segments are read before the
// image's own: here the page information, so the image cannot decode without it.
TEST(ImageDecoder, Jbig2GlobalsAreResolvedAndReadFirst) {
  const std::string all = Jbig2Page();
  const size_t pageSegment = 11 + 19;  // header and page information
  for (bool withGlobals : {false, true}) {
    TPDFStructure pool;
    TPDFStream* globals = pool.NewStreamWith(CompressString(all.substr(0, pageSegment)),
                                             PDFAsDictionary(pool.ParseObject("<< /Filter /FlateDecode >>")));
    pool.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      return number == 7 && withGlobals ? globals : nullptr;
    };
    TPDFStream* img = MakeImage(pool,
                                "<< /Width 12 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter "
                                "/JBIG2Decode /DecodeParms << /JBIG2Globals 7 0 R >> >>",
                                all.substr(pageSegment));
    TPDFImageDecoder dec;
    dec.SetImage(img);
    ASSERT_EQ(dec.IsReady(), withGlobals) << dec.GetErrorText();
    if (withGlobals) {
      ExpectPixel(dec, 2, 1, {0, 0, 0, 255});
      ExpectPixel(dec, 2, 0, {255, 255, 255, 255});
    }
  }
}

// Inline images: abbreviations expand once, the data end at EI.
TEST(ImageDecoder, InlineImageAbbreviationsExpandOnce) {
  std::string content = "BI /W 2 /H 1 /CS [/I /RGB 1 <FF0000 0000FF>] /BPC 8 /F [/AHx] ID 0001> EI Q";
  size_t pos = 2;
  TPDFInlineImage img;
  ASSERT_TRUE(ParseInlineImage(content, pos, img, nullptr, nullptr));
  EXPECT_EQ(img.Filter, "[ /ASCIIHexDecode ]");
  EXPECT_EQ(img.ColorSpace.substr(0, 22), "[ /Indexed /DeviceRGB ");
  EXPECT_EQ(content.substr(pos), " Q");
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.ExpandInlineImage(img, &pool);
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  ExpectPixel(dec, 0, 0, {255, 0, 0, 255});
  ExpectPixel(dec, 1, 0, {0, 0, 255, 255});

  const char* filters[][2] = {{"/DCT", "/DCTDecode"},
                              {"/DCTDecode", "/DCTDecode"},
                              {"/Fl", "/FlateDecode"},
                              {"/FlateDecode", "/FlateDecode"},
                              {"[/A85 /Fl]", "[ /ASCII85Decode /FlateDecode ]"},
                              {"/CCF", "/CCITTFaxDecode"},
                              {"/RL", "/RunLengthDecode"},
                              {"/LZW", "/LZWDecode"}};
  for (auto& f : filters) {
    std::string text = std::string("BI /W 1 /H 1 /BPC 8 /CS /G /F ") + f[0] + " ID x EI";
    size_t p = 2;
    TPDFInlineImage i;
    ASSERT_TRUE(ParseInlineImage(text, p, i, nullptr, nullptr)) << f[0];
    EXPECT_EQ(i.Filter, f[1]);
  }
}

TEST(ImageDecoder, InlineRawDataMayHoldEI) {
  // Exactly Width x Height bytes of data are taken even when they spell "EI ".
  std::string content = "BI /W 3 /H 1 /BPC 8 /CS /G ID EI  EI Q";
  size_t pos = 2;
  TPDFInlineImage img;
  ASSERT_TRUE(ParseInlineImage(content, pos, img, nullptr, nullptr));
  EXPECT_EQ(img.Data, "EI ");
  EXPECT_EQ(content.substr(pos), " Q");
}

TEST(ImageDecoder, InlineStencilAndFlateData) {
  std::string data = CompressString(Bytes({0x40}));
  std::string content = "BI /IM true /W 2 /H 1 /F /Fl /D [1 0] ID " + data + "\nEI";
  size_t pos = 2;
  TPDFInlineImage img;
  ASSERT_TRUE(ParseInlineImage(content, pos, img, nullptr, nullptr));
  EXPECT_EQ(img.Data, data);
  TPDFStructure pool;
  TPDFImageDecoder dec;
  dec.ExpandInlineImage(img, &pool);
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  EXPECT_EQ(dec.GetMaskKind(), imkStencil);
  // Decode [1 0]: sample 0 becomes 1 (not painted, white), sample 1 becomes 0.
  EXPECT_EQ(PixelOf(dec, 0, 0).r, 255);
  EXPECT_EQ(PixelOf(dec, 1, 0).r, 0);
}

TEST(ImageDecoder, InlineNamedColourSpaceFromResources) {
  TPDFStructure pool;
  TPDFDictionary* resources =
      PDFAsDictionary(pool.ParseObject("<< /ColorSpace << /CS0 [/Indexed /DeviceRGB 1 <00FF00 FFFFFF>] >> >>"));
  std::string content = "BI /W 1 /H 1 /BPC 8 /CS /CS0 ID ";
  content += '\0';
  content += " EI";
  size_t pos = 2;
  TPDFInlineImage img;
  ASSERT_TRUE(ParseInlineImage(content, pos, img, nullptr, resources));
  ASSERT_NE(img.ColorSpaceObject, nullptr);
  TPDFImageDecoder dec;
  dec.ExpandInlineImage(img, &pool);
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  ExpectPixel(dec, 0, 0, {0, 255, 0, 255});
}

}  // namespace

// Pictures left as samples (KeepSamples) give, row by row, the pixels the
// unpacked picture holds, and become that picture when something asks for
// it; pictures whose samples would cost more than the picture, or that need
// the whole picture (colour keys), are unpacked as before.
TEST(ImageDecoder, KeptSamplesGiveTheUnpackedRows) {
  struct Case {
    const char* what;
    std::string dict;
    int components, bits;
    bool kept;
  };
  const int w = 7, h = 5;
  const Case cases[] = {
      {"grey 8", "/ColorSpace /DeviceGray /BitsPerComponent 8", 1, 8, true},
      {"grey 2 decoded", "/ColorSpace /DeviceGray /BitsPerComponent 2 /Decode [1 0]", 1, 2, true},
      {"rgb 8", "/ColorSpace /DeviceRGB /BitsPerComponent 8", 3, 8, true},
      {"indexed 4", "/ColorSpace [/Indexed /DeviceRGB 3 <FF000000FF000000FF808080>] /BitsPerComponent 4", 1, 4,
       true},
      {"lab 8", "/ColorSpace [/Lab << /WhitePoint [0.9505 1 1.089] >>] /BitsPerComponent 8", 3, 8, true},
      {"cmyk 8", "/ColorSpace /DeviceCMYK /BitsPerComponent 8", 4, 8, false},
      {"rgb 16", "/ColorSpace /DeviceRGB /BitsPerComponent 16", 3, 16, false},
      {"grey 8 keyed", "/ColorSpace /DeviceGray /BitsPerComponent 8 /Mask [10 90]", 1, 8, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string data(size_t((w * c.components * c.bits + 7) / 8) * h, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 37 + i / 5) & 0xFF);
    data.resize(data.size() - 3);  // the last row is short: read as zero bytes
    const std::string dict = "<< /Width 7 /Height 5 " + c.dict + " >>";
    TPDFStructure pool;
    TPDFImageDecoder whole, kept;
    kept.KeepSamples = true;
    whole.SetImage(MakeImage(pool, dict, data));
    kept.SetImage(MakeImage(pool, dict, data));
    ASSERT_TRUE(whole.IsReady()) << whole.GetErrorText();
    ASSERT_TRUE(kept.IsReady()) << kept.GetErrorText();
    EXPECT_FALSE(whole.HasPendingSamples());
    ASSERT_EQ(kept.HasPendingSamples(), c.kept);
    EXPECT_EQ(kept.GetCentrePixel(), whole.GetCentrePixel());
    if (c.kept) {
      EXPECT_TRUE(kept.GetImageBitmap()->Empty());
      std::vector<uint8_t> row(size_t(w) * 3);
      for (int y = 0; y < h; ++y) {
        kept.GetSampleRow(y, row.data());
        EXPECT_EQ(std::string(row.begin(), row.end()),
                  std::string(reinterpret_cast<const char*>(whole.GetImageBitmap()->ScanLine(y)), row.size()))
            << "row " << y;
      }
      kept.ExpandSamples();
      EXPECT_FALSE(kept.HasPendingSamples());
    }
    EXPECT_EQ(kept.GetBitmapBytes(), whole.GetBitmapBytes());
  }
}
