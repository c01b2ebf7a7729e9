// EMF text in every script: Chinese and Japanese EXTTEXTOUTW text (no 8-bit
// code page holds it) and EXTTEXTOUTA text in the code page of its font's
// character set (Cyrillic, Shift-JIS) come out of the converted page as
// text (pdftotext) and as glyphs on the page (pdftoppm).
#include <gtest/gtest.h>

#include <cstdlib>

#include "EmfTestSupport.h"
#include "PainterTestSupport.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"

namespace {

using pvltest::TEmfBuilder;
using pvltest::TTestPdf;

// EXTCREATEFONTINDIRECTW with a character set.
std::string FontRecordBody(uint32_t index, const std::string& face, int32_t height, uint8_t charset) {
  std::string body = TEmfBuilder::U32(index) + TEmfBuilder::I32(height) + TEmfBuilder::I32(0) + TEmfBuilder::I32(0) +
                     TEmfBuilder::I32(0) + TEmfBuilder::I32(400);
  body += std::string(3, '\0') + std::string(1, char(charset)) + std::string(4, '\0');
  for (size_t i = 0; i < 32; ++i) body += TEmfBuilder::U16(i < face.size() ? uint16_t(uint8_t(face[i])) : 0);
  return body;
}

// EXTTEXTOUTA at (x, y) with 8-bit text and no advances.
std::string AnsiTextBody(int32_t x, int32_t y, const std::string& bytes) {
  std::string body = TEmfBuilder::Rect(0, 0, -1, -1) + TEmfBuilder::U32(1) + TEmfBuilder::F32(1) + TEmfBuilder::F32(1);
  body += TEmfBuilder::I32(x) + TEmfBuilder::I32(y) + TEmfBuilder::U32(uint32_t(bytes.size())) + TEmfBuilder::U32(76) +
          TEmfBuilder::U32(0) + TEmfBuilder::Rect(0, 0, 0, 0) + TEmfBuilder::U32(0);
  return body + bytes;
}

TEST(MetafileScripts, TextOfEveryScriptIsKeptAndDrawn) {
  for (const char* tool : {"pdftotext", "pdftoppm", "qpdf"})
    if (!pvltest::HaveTool(tool)) {
      if (std::getenv("CI")) FAIL() << tool << " is missing";
      GTEST_SKIP() << tool << " is missing";
    }
  pvltest::TempDir dir;
  TEmfBuilder e(400, 200);
  e.Record(82, FontRecordBody(1, "Arial", -28, 0)).Select(1);
  e.Text(10, 10, u"\u4E2D\u6587\u6D4B\u8BD5");                          // Chinese
  e.Text(10, 50, u"\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8");  // Japanese, kana included
  e.Record(82, FontRecordBody(2, "Arial", -28, 204)).Select(2);         // Cyrillic character set
  e.Record(83, AnsiTextBody(10, 100, "\xCF\xF0\xE8\xE2\xE5\xF2"));      // cp1251
  e.Record(82, FontRecordBody(3, "Arial", -28, 128)).Select(3);         // Shift-JIS
  e.Record(83, AnsiTextBody(10, 150, "\x93\xFA\x96\x7B"));
  const std::string emf = e.Finish();

  TTestPdf pdf;
  TPDFImage image(&pdf.pool, "PavonaIm00000001");
  TMemoryStream stream(emf);
  ASSERT_TRUE(image.LoadFromStream(stream, 0));
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.DrawImage(image, 0, 200, 400, 200);
  const std::string path = dir.File("scripts.pdf");
  pvltest::WriteFile(
      path, pdf.Write(painter.GetContent(), 400, 200, {}, {{"PavonaIm00000001", image.GetObject()->GetRefNumber()}}));
  auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  auto text = pvltest::RunCommand({"pdftotext", "-enc", "UTF-8", path, "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  for (const char* expected : {"\u4E2D\u6587\u6D4B\u8BD5", "\u65E5\u672C\u8A9E\u306E\u30C6\u30AD\u30B9\u30C8",
                               "\u041F\u0440\u0438\u0432\u0435\u0442", "\u65E5\u672C"})
    EXPECT_NE(text.out.find(expected), std::string::npos) << expected << " in:\n" << text.out;

  // Every line is drawn: ink in the band of each.
  pvltest::TRenderedPage page;
  ASSERT_TRUE(pvltest::RenderPage(path, dir.File("scripts"), page));
  // The picture is 400 x 200 pixels at 4 per millimetre, drawn over 400 x 200 points.
  for (int top : {10, 50, 100, 150}) {
    int dark = 0;
    for (int y = top; y < top + 30 && y < page.height; ++y)
      for (int x = 0; x < page.width; ++x) dark += page.At(x, y)[0] < 128;
    EXPECT_GT(dark, 60) << "glyphs of the line at " << top;
  }
}

}  // namespace
