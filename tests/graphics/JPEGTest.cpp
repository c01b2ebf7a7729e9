#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <filesystem>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "graphics/PavonaJPEG.h"

namespace {

std::unique_ptr<TPDFJPEGImage> Load(const std::string& bytes) {
  auto img = std::make_unique<TPDFJPEGImage>();
  TMemoryStream s(bytes);
  img->LoadFromStream(s);
  return img;
}

// The picture's pixels as bytes in file order: gray, or R, G, B.
std::string Samples(const TBitmap& bm, int components) {
  std::string out;
  for (int y = 0; y < bm.Height(); ++y) {
    const uint8_t* row = bm.ScanLine(y);
    for (int x = 0; x < bm.Width(); ++x) {
      if (bm.PixelFormat() == TPixelFormat::pf8bit) {
        const TRGBQuad& q = bm.Palette()[row[x]];
        if (components == 1) {
          out += static_cast<char>(q.rgbRed);
        } else {
          out += {static_cast<char>(q.rgbRed), static_cast<char>(q.rgbGreen), static_cast<char>(q.rgbBlue)};
        }
      } else {
        const uint8_t* p = row + x * (bm.BitsPerPixel() / 8);
        out += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
      }
    }
  }
  return out;
}

// A photograph-like test picture: a gradient and a soft disc.
TBitmap TestPicture(pvltest::TempDir& dir, int w, int h) {
  auto r = pvltest::RunCommand({"convert", "-size", std::to_string(w) + "x" + std::to_string(h), "gradient:red-blue",
                                "-fill", "yellow", "-draw", "circle 60,40 60,10", "-blur", "0x2",
                                "BMP3:" + dir.File("src.bmp")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  TBitmap bm;
  bm.LoadFromBytes(pvltest::ReadFile(dir.File("src.bmp")));
  return bm;
}

double Psnr(const std::string& a, const std::string& b) {
  double se = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
    se += d * d;
  }
  double mse = se / static_cast<double>(a.size());
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The corpus's gray and RGB JPEG images decode to djpeg's pixels.
TEST(JPEGImage, CorpusImagesMatchDjpeg) {
  if (!pvltest::HaveTool("djpeg") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  int compared = 0;
  // RGB and grey (ICC-based, one component) pictures.
  for (const char* rel : {"pdfjs/alphatrans.pdf", "samples/imagemagick-images.pdf", "samples/pdflatex-image.pdf"}) {
    auto images = codectest::PdfImages(pvltest::CorpusPath(rel), "DCTDecode");
    for (const auto& img : images) {
      SCOPED_TRACE(std::string(rel) + " object " + std::to_string(img.object));
      pvltest::TempDir dir;
      pvltest::WriteFile(dir.File("in.jpg"), img.data);
      auto r = pvltest::RunCommand({"djpeg", "-pnm", "-outfile", dir.File("out.pnm"), dir.File("in.jpg")});
      if (r.exitCode != 0) continue;  // CMYK: see below
      auto pnm = codectest::ReadPnm(pvltest::ReadFile(dir.File("out.pnm")));
      auto jpeg = Load(img.data);
      EXPECT_EQ(jpeg->Width(), pnm.width);
      EXPECT_EQ(jpeg->Height(), pnm.height);
      const TBitmap& bm = jpeg->GetBitmap();
      ASSERT_EQ(bm.Width(), pnm.width);
      ASSERT_EQ(bm.Height(), pnm.height);
      EXPECT_EQ(bm.PixelFormat(), pnm.kind == '5' ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
      EXPECT_TRUE(Samples(bm, pnm.kind == '5' ? 1 : 3) == pnm.data);
      ++compared;
    }
  }
  EXPECT_GE(compared, 3);
}

// CMYK: the ink amounts handed to the colour manager are those ImageMagick
// reads (it undoes Adobe's inverted storage too); without Adobe's marker the
// samples are taken as stored.
TEST(JPEGImage, CmykInkAmountsMatchImageMagick) {
  if (!pvltest::HaveTool("convert") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  auto images = codectest::PdfImages(pvltest::CorpusPath("pdfjs/cmykjpeg.pdf"), "DCTDecode");
  ASSERT_EQ(images.size(), 1u);
  const std::string& jpg = images[0].data;
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("in.jpg"), jpg);
  auto r = pvltest::RunCommand({"convert", dir.File("in.jpg"), "-depth", "8", "cmyk:" + dir.File("ink.raw")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string ink = pvltest::ReadFile(dir.File("ink.raw"));
  ASSERT_NE(jpg.find("Adobe"), std::string::npos);

  // A colour manager that reports ink values as colours: (C, M, Y), then K.
  auto inks = [](const std::string& data) {
    std::string cmyk;
    std::array<std::string, 2> planes;
    for (int pass = 0; pass < 2; ++pass) {
      auto img = Load(data);
      img->SetColorManager([pass](const std::array<double, 4>& c, std::array<double, 3>& rgb) {
        if (pass == 0) {
          rgb = {c[0], c[1], c[2]};
        } else {
          rgb = {c[3], c[3], c[3]};
        }
      });
      planes[static_cast<size_t>(pass)] = Samples(img->GetBitmap(), 3);
    }
    for (size_t i = 0; i < planes[0].size() / 3; ++i) cmyk += planes[0].substr(i * 3, 3) + planes[1][i * 3];
    return cmyk;
  };
  std::string ours = inks(jpg);
  ASSERT_EQ(ours.size(), ink.size());
  EXPECT_TRUE(ours == ink);

  // The same data without the APP14 marker: ink = stored samples, the inverse.
  size_t app14 = jpg.find("\xFF\xEE");
  ASSERT_NE(app14, std::string::npos);
  size_t len = (static_cast<uint8_t>(jpg[app14 + 2]) << 8) | static_cast<uint8_t>(jpg[app14 + 3]);
  std::string plain = jpg.substr(0, app14) + jpg.substr(app14 + 2 + len);
  std::string stored = inks(plain);
  ASSERT_EQ(stored.size(), ink.size());
  size_t inverse = 0;
  for (size_t i = 0; i < ink.size(); ++i) inverse += static_cast<uint8_t>(stored[i]) == 255 - static_cast<uint8_t>(ink[i]);
  EXPECT_EQ(inverse, ink.size());

  // DecodeInvertedCMYK takes the samples as stored even with the marker, once.
  auto img = Load(jpg);
  TBitmap adobe = img->GetBitmap();
  img->DecodeInvertedCMYK();
  TBitmap first = img->GetBitmap();
  EXPECT_FALSE(first == adobe);
  const TBitmap* before = &img->GetBitmap();
  img->DecodeInvertedCMYK();  // already so: nothing is decoded again
  EXPECT_TRUE(img->InvertedCMYK());
  EXPECT_EQ(before, &img->GetBitmap());
  EXPECT_TRUE(first == img->GetBitmap());
}

TEST(JPEGImage, CmykUsesTheEnginesConversion) {
  std::array<double, 3> rgb;
  DefaultCMYKToRGB({0, 0, 0, 0}, rgb);
  EXPECT_NEAR(rgb[0], 1, 1e-9);
  EXPECT_NEAR(rgb[1], 1, 1e-9);
  EXPECT_NEAR(rgb[2], 1, 1e-9);
  DefaultCMYKToRGB({0, 0, 0, 1}, rgb);
  EXPECT_NEAR(rgb[0], 0.1373, 1e-4);
  EXPECT_NEAR(rgb[1], 0.1216, 1e-4);
  EXPECT_NEAR(rgb[2], 0.1255, 1e-4);
}

// A baseline JPEG we write opens in djpeg at the size we gave it, close to the
// source picture; colours are not swapped (rows are blue-green-red).
TEST(JPEGImage, EncodedBaselineOpensInDjpegWithGoodQuality) {
  if (!pvltest::HaveTool("djpeg") || !pvltest::HaveTool("convert")) GTEST_SKIP();
  pvltest::TempDir dir;
  TBitmap src = TestPicture(dir, 160, 100);
  ASSERT_EQ(src.Width(), 160);
  TPDFJPEGImage img;
  img.Assign(src);
  img.CompressionQuality = 75;
  img.ProgressiveEncoding = true;  // stored only
  TMemoryStream out;
  img.SaveToStream(out);
  const std::string& jpg = out.Bytes();
  ASSERT_GT(jpg.size(), 100u);
  EXPECT_NE(jpg.find("\xFF\xC0"), std::string::npos);  // baseline frame
  EXPECT_EQ(jpg.find("\xFF\xC2"), std::string::npos);  // no progressive frame
  pvltest::WriteFile(dir.File("ours.jpg"), jpg);
  auto r = pvltest::RunCommand({"djpeg", "-pnm", "-outfile", dir.File("ours.ppm"), dir.File("ours.jpg")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto ppm = codectest::ReadPnm(pvltest::ReadFile(dir.File("ours.ppm")));
  EXPECT_EQ(ppm.width, 160);
  EXPECT_EQ(ppm.height, 100);
  double psnr = Psnr(ppm.data, Samples(src, 3));
  EXPECT_GT(psnr, 35.0);
  auto id = pvltest::RunCommand({"identify", "-format", "%w %h %[colorspace]", dir.File("ours.jpg")});
  EXPECT_EQ(id.out, "160 100 sRGB");
}

TEST(JPEGImage, GrayscaleSettingWritesOneComponent) {
  TBitmap src(40, 30, TPixelFormat::pf24bit);
  src.Fill(RGB(200, 100, 50));
  TPDFJPEGImage img;
  img.Assign(src);
  img.Grayscale = true;
  TMemoryStream out;
  img.SaveToStream(out);
  const std::string& jpg = out.Bytes();
  size_t sof = jpg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ(jpg[sof + 9], 1);  // number of components
  auto back = Load(jpg);
  EXPECT_EQ(back->GetBitmap().PixelFormat(), TPixelFormat::pf8bit);
}

TEST(JPEGImage, ScaledSizeBeforeDecodingAndDamagedData) {
  TBitmap src(101, 250, TPixelFormat::pf24bit);
  for (int y = 0; y < src.Height(); ++y)
    for (int x = 0; x < src.Width(); ++x) src.SetPixel(x, y, RGB(static_cast<uint8_t>(x * 2), 200, static_cast<uint8_t>(y)));
  TPDFJPEGImage enc;
  enc.Assign(src);
  TMemoryStream out;
  enc.SaveToStream(out);
  std::string jpg = out.Bytes();

  auto scaled = Load(jpg);
  scaled->Scale = 2;
  EXPECT_EQ(scaled->Width(), 26);  // ceil(101 / 4)
  EXPECT_EQ(scaled->Height(), 63);
  EXPECT_EQ(scaled->GetBitmap().Width(), 26);

  // Cut in the middle: no exception, the size stays, the top is decoded.
  auto cut = Load(jpg.substr(0, jpg.size() / 2));
  const TBitmap& bm = cut->GetBitmap();
  EXPECT_EQ(bm.Width(), 101);
  EXPECT_EQ(bm.Height(), 250);
  EXPECT_NEAR(GetGValue(bm.Pixel(5, 0)), 200, 4);
  EXPECT_NEAR(GetRValue(bm.Pixel(50, 10)), 100, 4);

  // Not a JPEG at all: empty picture, no exception, no crash.
  auto junk = Load("\xFF\xD8\xFF\xC0 this is not a jpeg at all");
  EXPECT_EQ(junk->Width(), 0);
  EXPECT_TRUE(junk->GetBitmap().Empty());
  auto empty = Load("");
  EXPECT_TRUE(empty->Empty());
}

TEST(JPEGImage, ProgressEventsFrameAnEncode) {
  // Running events come at most every 500 ms: a small picture sees only the
  // starting and ending events.
  TBitmap src(64, 64, TPixelFormat::pf24bit);
  src.Fill(RGB(1, 2, 3));
  TPDFJPEGImage img;
  img.Assign(src);
  int events = 0;
  img.OnProgress = [&](TPDFJPEGImage&, TProgressStage stage, uint8_t percent, bool, const TProgressRect&,
                       const std::string&) {
    ++events;
    if (stage == TProgressStage::psEnding) {
      EXPECT_EQ(percent, 100);
    }
  };
  TMemoryStream out;
  img.SaveToStream(out);
  EXPECT_EQ(events, 2);
  EXPECT_GT(out.GetSize(), 0);
}

}  // namespace
