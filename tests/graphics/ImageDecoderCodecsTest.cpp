// Image decoder cases that lean on the engine's codecs and functions: PostScript
// calculator tint transforms (checked against pdfimages), JPEG 2000 images
// carrying their own soft mask (/SMaskInData), /Matte un-premultiplying, and
// the sample access the decoder uses in the JPEG and JPEG 2000 classes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaJPEG.h"
#include "graphics/PavonaJpeg2000Bitmap.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

TPDFStream* MakeImage(TPDFStructure& pool, const std::string& dict, const std::string& data) {
  TPDFDictionary* d = PDFAsDictionary(pool.ParseObject(dict));
  EXPECT_NE(d, nullptr) << dict;
  return pool.NewStreamWith(data, d);
}

// R, G, B and alpha of a decoded pixel.
std::array<int, 4> Pixel(const TPDFImageDecoder& dec, int x, int y) {
  const uint8_t* p = dec.GetImageBitmap()->ScanLine(y) + 3 * x;
  int a = dec.GetMaskBitmap() ? dec.GetMaskBitmap()->ScanLine(y)[x] : 255;
  return {p[2], p[1], p[0], a};
}

// A one-page PDF showing one image XObject (dictionary text and data), for the peers.
std::string OneImagePdf(const std::string& dict, const std::string& data) {
  std::string pdf = "%PDF-1.7\n";
  std::vector<size_t> offsets;
  auto add = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  const std::string content = "q 8 0 0 8 0 0 cm /Im0 Do Q";
  add("<< /Type /Catalog /Pages 2 0 R >>");
  add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 8 8] /Resources << /XObject << /Im0 5 0 R >> >> /Contents 4 0 "
      "R >>");
  add("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  add(dict.substr(0, dict.rfind(">>")) + " /Type /XObject /Subtype /Image /Length " + std::to_string(data.size()) +
      " >>\nstream\n" + data + "\nendstream");
  const size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[24];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    pdf += line;
  }
  pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

// Type 4 (PostScript calculator) tint transforms: hand values, and pdfimages'
// picture of the same image where it is installed.
struct Type4Case {
  const char* name;
  std::string colorSpace;
  std::string data;  // four pixels
  std::vector<std::array<int, 3>> want;
};

class ImageDecoderType4Tint : public ::testing::TestWithParam<Type4Case> {};

TEST_P(ImageDecoderType4Tint, MatchesHandValuesAndPdfimages) {
  const Type4Case& c = GetParam();
  TPDFStructure pool;
  // The calculator program is the function stream's data.
  const size_t open = c.colorSpace.find('{'), close = c.colorSpace.rfind('}');
  const std::string program = c.colorSpace.substr(open, close - open + 1);
  const std::string prefix = c.colorSpace.substr(0, open);
  const std::string fnDict = c.colorSpace.substr(close + 1, c.colorSpace.rfind(']') - close - 1);
  TPDFStream* fn = pool.NewStreamWith(program, PDFAsDictionary(pool.ParseObject(fnDict)));
  TPDFArray* cs = PDFAsArray(pool.ParseObject(prefix + "]"));
  ASSERT_NE(cs, nullptr);
  cs->Add(fn);
  TPDFStream* img = MakeImage(pool, "<< /Width 4 /Height 1 /BitsPerComponent 8 >>", c.data);
  img->GetDictionary()->SetValue("ColorSpace", cs);
  TPDFImageDecoder dec;
  dec.SetImage(img);
  ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
  for (size_t x = 0; x < c.want.size(); ++x)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(Pixel(dec, int(x), 0)[k], c.want[x][k], 1) << "pixel " << x << " component " << k;

  if (!pvltest::HaveTool("pdfimages")) GTEST_SKIP() << "a peer tool is missing";
  // The same image in a file: the function becomes object 6.
  std::string pdfCs = prefix + "6 0 R]";
  std::string dict = "<< /Width 4 /Height 1 /BitsPerComponent 8 /ColorSpace " + pdfCs + " >>";
  pvltest::TempDir dir;
  std::string pdf = OneImagePdf(dict, c.data);
  pdf.insert(pdf.find("xref\n"), "6 0 obj\n" + fnDict.substr(0, fnDict.rfind(">>")) + " /Length " +
                                     std::to_string(program.size()) + " >>\nstream\n" + program + "\nendstream\nendobj\n");
  pvltest::WriteFile(dir.File("a.pdf"), pdf);
  auto r = pvltest::RunCommand({"pdfimages", "-png", dir.File("a.pdf"), dir.File("img")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto conv = pvltest::RunCommand({"convert", dir.File("img-000.png"), "-depth", "8", "rgb:" + dir.File("out.rgb")});
  ASSERT_EQ(conv.exitCode, 0) << conv.err;
  std::string theirs = pvltest::ReadFile(dir.File("out.rgb"));
  ASSERT_EQ(theirs.size(), 12u);
  for (int x = 0; x < 4; ++x)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(Pixel(dec, x, 0)[k], uint8_t(theirs[size_t(3 * x + k)]), 1) << "pdfimages, pixel " << x;
}

INSTANTIATE_TEST_SUITE_P(
    Spaces, ImageDecoderType4Tint,
    ::testing::Values(
        // t -> (1 - t, (1 - t) / 2, 1)
        Type4Case{"SeparationRgb",
                  "[/Separation /Spot /DeviceRGB { 1 exch sub dup 0.5 mul 1 } << /FunctionType 4 /Domain [0 1] "
                  "/Range [0 1 0 1 0 1] >>]",
                  Bytes({0, 51, 255, 128}),
                  {{255, 128, 255}, {204, 102, 255}, {0, 0, 255}, {127, 64, 255}}},
        // Conditionals: t > 0.5 gives full red, otherwise 2t red.
        Type4Case{"SeparationIfElse",
                  "[/Separation /Spot /DeviceRGB { dup 0.5 gt { pop 1 } { 2 mul } ifelse 0 0 } << /FunctionType 4 "
                  "/Domain [0 1] /Range [0 1 0 1 0 1] >>]",
                  Bytes({0, 51, 128, 255}),
                  {{0, 0, 0}, {102, 0, 0}, {255, 0, 0}, {255, 0, 0}}},
        // Two inks onto cyan and magenta.
        Type4Case{"DeviceNCmyk",
                  "[/DeviceN [/A /B] /DeviceCMYK { 0 0 } << /FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 "
                  "1] >>]",
                  Bytes({0, 0, 255, 0, 0, 255, 255, 255}),
                  {{255, 255, 255}, {0, 173, 239}, {236, 0, 140}, {46, 49, 146}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Tint transforms that cannot serve leave the image undrawn, with the reason.
TEST(ImageDecoderTint, UnusableTintTransformsAreReported) {
  struct Case {
    const char* colorSpace;
    const char* why;
  } cases[] = {
      {"[/Separation /S /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [0] /C1 [1] >>]",
       "does not fit"},
      {"[/Separation /S [/Separation /T /DeviceGray << /FunctionType 2 /Domain [0 1] >>] << /FunctionType 2 /Domain "
       "[0 1] >>]",
       "special colour space"},
      {"[/DeviceN [/A /B] /DeviceGray << /FunctionType 2 /Domain [0 1] >>]", "does not fit"},
      {"[/Separation /S /DeviceGray << /FunctionType 7 /Domain [0 1] >>]", "type 0, 2, 3 or 4"},
  };
  for (const Case& c : cases) {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    dec.SetImage(MakeImage(pool, std::string("<< /Width 1 /Height 1 /BitsPerComponent 8 /ColorSpace ") + c.colorSpace +
                                     " >>",
                           Bytes({10, 20})));
    EXPECT_FALSE(dec.IsReady()) << c.colorSpace;
    EXPECT_NE(dec.GetErrorText().find(c.why), std::string::npos) << c.colorSpace << ": " << dec.GetErrorText();
  }
}

// A 2 x 1 JPEG 2000 picture with an opacity channel: (128, 255, 128) at alpha
// 128 and (0, 255, 0) at alpha 0, written losslessly.
std::string JpxWithAlpha() {
  TJpeg2000Bitmap src;
  src.SetSize(2, 1);
  src.SetPixelFormat(TPixelFormat::pf32bit);
  uint8_t* row = src.ScanLine(0);
  const uint8_t bgra[8] = {128, 255, 128, 128, 0, 255, 0, 0};
  std::copy(bgra, bgra + 8, row);
  src.Lossless = true;
  TMemoryStream out;
  src.SaveToStream(out);
  return out.Bytes();
}

TEST(ImageDecoderJpx, SMaskInDataGivesTheImageItsOwnAlpha) {
  struct Case {
    const char* keys;
    std::array<int, 4> first, second;
    uint8_t maskKind;
  } cases[] = {
      // The opacity channel is ignored.
      {"", {128, 255, 128, 255}, {0, 255, 0, 255}, imkNone},
      {"/SMaskInData 1", {128, 255, 128, 128}, {0, 255, 0, 0}, imkSoftMask},
      // Pre-blended with black: 128 at alpha 128 was full intensity.
      {"/SMaskInData 2", {255, 255, 255, 128}, {0, 255, 0, 0}, imkSoftMask},
      // Pre-blended with green.
      {"/SMaskInData 2 /Matte [0 1 0]", {255, 255, 255, 128}, {0, 255, 0, 0}, imkSoftMask},
      {"/SMaskInData 2 /Matte [1 1 1]", {2, 255, 2, 128}, {0, 255, 0, 0}, imkSoftMask},
  };
  const std::string jpx = JpxWithAlpha();
  for (const Case& c : cases) {
    TPDFStructure pool;
    TPDFImageDecoder dec;
    dec.SetImage(MakeImage(
        pool, std::string("<< /Width 2 /Height 1 /ColorSpace /DeviceRGB /Filter /JPXDecode ") + c.keys + " >>", jpx));
    ASSERT_TRUE(dec.IsReady()) << c.keys << ": " << dec.GetErrorText();
    EXPECT_EQ(dec.GetMaskKind(), c.maskKind) << c.keys;
    for (int k = 0; k < 4; ++k) {
      EXPECT_NEAR(Pixel(dec, 0, 0)[k], c.first[k], 1) << c.keys << " first pixel, component " << k;
      EXPECT_EQ(Pixel(dec, 1, 0)[k], c.second[k]) << c.keys << " second pixel, component " << k;
    }
  }
}

// A soft mask's /Matte: the parent's colours were blended with it.
TEST(ImageDecoderJpx, SoftMaskMatteUnpremultipliesTheParent) {
  struct Case {
    const char* matte;
    std::array<int, 3> first;
  } cases[] = {{"", {128, 64, 0}}, {"/Matte [0 0 0]", {255, 127, 0}}, {"/Matte [1 1 1]", {2, 0, 0}}};
  for (const Case& c : cases) {
    TPDFStructure pool;
    TPDFStream* smask = MakeImage(
        pool, std::string("<< /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 ") + c.matte + " >>",
        Bytes({128, 255}));
    TPDFStream* img = MakeImage(pool, "<< /Width 2 /Height 1 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>",
                                Bytes({128, 64, 0, 10, 20, 30}));
    img->GetDictionary()->SetValue("SMask", smask);
    TPDFImageDecoder dec;
    dec.SetImage(img);
    ASSERT_TRUE(dec.IsReady()) << dec.GetErrorText();
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(Pixel(dec, 0, 0)[k], c.first[k], 1) << c.matte << " component " << k;
    EXPECT_EQ(Pixel(dec, 1, 0), (std::array<int, 4>{10, 20, 30, 255})) << c.matte;
  }
}

TEST(Jpeg2000Components, ChannelsRolesAndSizeCap) {
  const std::string jpx = JpxWithAlpha();
  TJpeg2000Components c;
  DecodeJpeg2000Components(jpx, 100, c);
  ASSERT_EQ(c.Planes.size(), 4u);
  EXPECT_EQ(c.Width, 2);
  EXPECT_EQ(c.Height, 1);
  EXPECT_EQ(c.Roles, (std::vector<int32_t>{crRed, crGreen, crBlue, crOpacity}));
  EXPECT_EQ(c.Alpha, (std::vector<uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(c.Planes[0], Bytes({128, 0}));
  EXPECT_EQ(c.Planes[1], Bytes({255, 255}));
  EXPECT_EQ(c.Planes[3], Bytes({128, 0}));
  // Refused after the header, before decoding.
  try {
    DecodeJpeg2000Components(jpx, 1, c);
    ADD_FAILURE() << "no error";
  } catch (const EJpeg2000Error& e) {
    EXPECT_STREQ(e.what(), "JPEG 2000 image too large");
  }
  EXPECT_THROW(DecodeJpeg2000Components("not a JPEG 2000 file", 100, c), EJpeg2000Error);
  EXPECT_THROW(DecodeJpeg2000Components(jpx.substr(0, jpx.size() / 2), 100, c), EJpeg2000Error);
}

TEST(JPEGSamples, ComponentsAsStoredAndSizeCap) {
  if (!pvltest::HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  pvltest::TempDir dir;
  struct Case {
    const char* colour;
    const char* extra;
    int components;
    std::vector<int> want;  // samples of the first pixel
  } cases[] = {{"gray(60)", "-type=Grayscale", 1, {60}},
               {"rgb(200,40,30)", "", 3, {200, 40, 30}},
               // ImageMagick writes Adobe CMYK JPEGs with inverted samples.
               {"cmyk(255,0,51,0)", "-colorspace=CMYK", 4, {0, 255, 204, 255}}};
  for (const Case& c : cases) {
    std::vector<std::string> argv = {"convert", "-size", "16x8", std::string("xc:") + c.colour};
    std::string extra = c.extra;
    if (!extra.empty()) {
      size_t eq = extra.find('=');
      argv.push_back(extra.substr(0, eq));
      argv.push_back(extra.substr(eq + 1));
    }
    argv.insert(argv.end(), {"-quality", "100", dir.File("a.jpg")});
    auto run = pvltest::RunCommand(argv);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    TPDFJPEGImage jpeg;
    TMemoryStream in(pvltest::ReadFile(dir.File("a.jpg")));
    jpeg.LoadFromStream(in);
    std::string samples;
    int w = 0, h = 0, n = 0;
    ASSERT_TRUE(jpeg.DecodeSamples(samples, w, h, n, 1000)) << c.colour;
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 8);
    ASSERT_EQ(n, c.components) << c.colour;
    ASSERT_EQ(samples.size(), size_t(16 * 8 * n));
    for (int k = 0; k < n; ++k) EXPECT_NEAR(uint8_t(samples[size_t(k)]), c.want[size_t(k)], 3) << c.colour;
    EXPECT_FALSE(jpeg.DecodeSamples(samples, w, h, n, 127)) << "16 x 8 is above 127 pixels";
    EXPECT_TRUE(samples.empty());
  }
  TPDFJPEGImage broken;
  TMemoryStream in(std::string("\xFF\xD8\xFF\xDB garbage", 13));
  broken.LoadFromStream(in);
  std::string samples;
  int w = 0, h = 0, n = 0;
  EXPECT_FALSE(broken.DecodeSamples(samples, w, h, n, 1000));
}

}  // namespace
