// A metafile written by Debian's libEMF (lines, curves, a polygon with a
// hole, ellipse, arc, a filled path, text in two faces, save/restore around
// a world transform) converts into a page that qpdf accepts and that looks
// like emf2svg-conv's rendering of the same file: at 40 dpi, at most 5 % of
// the pixels find no pixel of the same colour (within 80 per channel) in a
// 5 x 5 neighbourhood of the other picture. The remaining differences are
// emf2svg's: it keeps the world transform across RestoreDC and draws pens
// thinner (3.4 % when this was written).
#include <gtest/gtest.h>

#include <cstdlib>

#include "PainterTestSupport.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"

namespace {

struct TPpm {
  int width = 0, height = 0;
  std::string rgb;
  const unsigned char* At(int x, int y) const {
    return reinterpret_cast<const unsigned char*>(rgb.data()) + (size_t(y) * size_t(width) + size_t(x)) * 3;
  }
};

bool readPpm(const std::string& path, TPpm& out) {
  return codectest::ReadPpmRgb(pvltest::ReadFile(path), out.width, out.height, out.rgb);
}

// Share of the pixels of a that have no close pixel in b nearby.
double unmatched(const TPpm& a, const TPpm& b) {
  size_t bad = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const unsigned char* p = a.At(x, y);
      bool found = false;
      for (int dy = -2; dy <= 2 && !found; ++dy)
        for (int dx = -2; dx <= 2 && !found; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= b.width || yy >= b.height) continue;
          const unsigned char* q = b.At(xx, yy);
          found = std::abs(p[0] - q[0]) < 80 && std::abs(p[1] - q[1]) < 80 && std::abs(p[2] - q[2]) < 80;
        }
      bad += !found;
    }
  return double(bad) / double(size_t(a.width) * size_t(a.height));
}

TEST(MetafileLibEmf, LooksLikeEmf2svgsRendering) {
#ifndef PVL_LIBEMF_SAMPLE
  if (pvltest::InCI()) FAIL() << "libEMF (libemf-dev) is missing";
  GTEST_SKIP() << "libEMF (libemf-dev) is missing";
#else
  for (const char* tool : {"emf2svg-conv", "rsvg-convert", "convert", "pdftoppm", "qpdf", "pdftotext"})
    if (!pvltest::HaveTool(tool)) GTEST_SKIP() << tool << " is missing";
  pvltest::TempDir dir;
  const std::string emf = dir.File("sample.emf");
  ASSERT_EQ(pvltest::RunCommand({PVL_LIBEMF_SAMPLE, emf}).exitCode, 0);

  pvltest::TTestPdf file;
  TPDFImage image(&file.pool, "PavonaIm1");
  TMemoryStream stream(pvltest::ReadFile(emf));
  ASSERT_TRUE(image.LoadFromStream(stream, 0));
  EXPECT_EQ(image.GetWidth(), 454);  // 160 mm
  EXPECT_EQ(image.GetHeight(), 340);  // 120 mm
  TPDFPainter painter;
  painter.DrawImage(image, 0, image.GetHeight(), image.GetWidth(), image.GetHeight());
  const std::string pdf = dir.File("sample.pdf");
  pvltest::WriteFile(pdf, file.Write(painter.GetContent(), image.GetWidth(), image.GetHeight(), {},
                                     {{"PavonaIm1", image.GetObject()->GetRefNumber()}}));
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", pdf}).exitCode, 0);
  const std::string text = pvltest::RunCommand({"pdftotext", pdf, "-"}).out;
  EXPECT_NE(text.find("Sans text"), std::string::npos) << text;
  EXPECT_NE(text.find("Serif bold"), std::string::npos) << text;

  ASSERT_EQ(pvltest::RunCommand({"pdftoppm", "-r", "40", "-singlefile", pdf, dir.File("ours")}).exitCode, 0);
  TPpm ours, theirs;
  ASSERT_TRUE(readPpm(dir.File("ours.ppm"), ours));
  ASSERT_EQ(pvltest::RunCommand({"emf2svg-conv", "-i", emf, "-o", dir.File("sample.svg")}).exitCode, 0);
  ASSERT_EQ(pvltest::RunCommand({"rsvg-convert", "-w", std::to_string(ours.width), "-h", std::to_string(ours.height), "-b",
                                 "white", dir.File("sample.svg"), "-o", dir.File("theirs.png")})
                .exitCode,
            0);
  ASSERT_EQ(pvltest::RunCommand({"convert", dir.File("theirs.png"), "-flatten", dir.File("theirs.ppm")}).exitCode, 0);
  ASSERT_TRUE(readPpm(dir.File("theirs.ppm"), theirs));
  ASSERT_EQ(ours.width, theirs.width);
  ASSERT_EQ(ours.height, theirs.height);
  EXPECT_LT(unmatched(ours, theirs), 0.05);
  EXPECT_LT(unmatched(theirs, ours), 0.05);
#endif
}

}  // namespace
