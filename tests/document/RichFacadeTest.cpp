// HTML-subset text and metafile pages through the facade and through pvl:
// positions read back with pdftotext -bbox, links with qpdf --json,
// metafile pages drawn by pdftoppm, and the failures each reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "EmfTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

namespace {

using pvltest::TEmfBuilder;

std::u16string W(const std::string& s) { return NativePathToWide(s); }

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(RichFacade, HtmlTextLandsInItsBoxWithCheckedPageLinks) {
  if (!pvltest::HaveTools({"pdftotext", "qpdf"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath("samples/pdflatex-4-pages.pdf")), u""), 1);
  ASSERT_EQ(f.SelectPage(1), 1);
  const std::string before = pvltest::RunCommand({"qpdf", "--json", pvltest::CorpusPath("samples/pdflatex-4-pages.pdf")}).out;
  f.SetOrigin(1);
  EXPECT_EQ(f.DrawHTMLText(u"x", 10, 10, 0), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  const std::u16string text =
      u"<p>Zyxwv one two three four five six seven eight nine ten eleven twelve thirteen</p>"
      u"<a href=\"page:2\">Go</a> <a href='page:9'>Nowhere</a> <a href=page:0>Zero</a>";
  ASSERT_EQ(f.DrawHTMLText(text, 72, 72, 150), 1);
  EXPECT_EQ(f.LastErrorCode(), 0);
  const std::string path = dir.File("html.pdf");
  ASSERT_EQ(f.SaveToFile(W(path)), 1);
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", path}).exitCode, 0);
  const std::string bbox = pvltest::RunCommand({"pdftotext", "-f", "1", "-l", "1", "-bbox", path, "-"}).out;
  const size_t at = bbox.find(">Zyxwv<");
  ASSERT_NE(at, std::string::npos) << bbox;
  const size_t line = bbox.rfind("<word", at);
  auto field = [&](const char* key) { return std::atof(bbox.c_str() + bbox.find(key, line) + std::strlen(key)); };
  EXPECT_NEAR(field("xMin=\""), 72, 1);
  EXPECT_NEAR(field("yMin=\""), 72, 3);
  // Every word of the paragraph stays inside the box's width.
  for (size_t p = bbox.find("xMax=\""); p != std::string::npos; p = bbox.find("xMax=\"", p + 1)) {
    const double xMax = std::atof(bbox.c_str() + p + 6);
    const size_t close = bbox.find('>', p);
    const std::string word = bbox.substr(close + 1, bbox.find('<', close) - close - 1);
    if (word == "Zyxwv" || word == "thirteen" || word == "twelve") {
      EXPECT_LE(xMax, 222.5) << word;
    }
  }
  // One new link: page 2 exists, pages 9 and 0 do not.
  const std::string after = pvltest::RunCommand({"qpdf", "--json", path}).out;
  EXPECT_EQ(count(after, "\"/Subtype\": \"/Link\"") - count(before, "\"/Subtype\": \"/Link\""), 1u);
  EXPECT_NE(after.find("\"/XYZ\""), std::string::npos);
}

TEST(RichFacade, MetafilePageTakesThePicturesSizeAndLooksLikeIt) {
  if (!pvltest::HaveTools({"pdftoppm", "qpdf"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TEmfBuilder b(400, 200);  // 100 x 50 mm
  b.Brush(1, 0, TEmfBuilder::Rgb(0, 0, 255)).Select(1).Rectangle(0, 0, 200, 200);
  const std::string emf = dir.File("in.emf");
  pvltest::WriteFile(emf, b.Finish());
  TPavona f;
  ASSERT_EQ(f.DrawMetafilePage(W(emf)), 1);
  EXPECT_NEAR(f.PageWidth(), 283, 1);
  EXPECT_NEAR(f.PageHeight(), 142, 1);
  const std::string pdf = dir.File("out.pdf");
  ASSERT_EQ(f.SaveToFile(W(pdf)), 1);
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", pdf}).exitCode, 0);
  TMemoryStream image;
  ASSERT_EQ(f.RenderPageToStream(72, 1, 0, image), 1);
  TBitmap page;
  page.LoadFromBytes(image.Bytes());
  const TColor left = page.Pixel(70, 70), right = page.Pixel(210, 70);
  EXPECT_LT(GetRValue(left), 40);
  EXPECT_GT(GetBValue(left), 200);
  EXPECT_GT(GetRValue(right), 200);

  // Failures: a missing file, a WMF, a file that is no EMF.
  EXPECT_EQ(f.DrawMetafilePage(W(dir.File("none.emf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  std::string wmf = TEmfBuilder::U32(0x9AC6CDD7u) + std::string(16, '\0');
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= uint16_t(uint8_t(wmf[size_t(i * 2)]) | uint8_t(wmf[size_t(i * 2 + 1)]) << 8);
  pvltest::WriteFile(dir.File("a.wmf"), wmf + TEmfBuilder::U16(sum) + std::string(40, '\0'));
  EXPECT_EQ(f.DrawMetafilePage(W(dir.File("a.wmf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), TPavona::pvlErrMetafileWMF);
  pvltest::WriteFile(dir.File("bad.emf"), std::string(200, 'x'));
  EXPECT_EQ(f.DrawMetafilePage(W(dir.File("bad.emf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
}

TEST(RichFacade, PvlConvertsMetafilesAndHtml) {
  if (!pvltest::HaveTools({"pdftotext", "qpdf"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  const std::string pvl = std::string(PVL_BINARY_DIR) + "/tools/pvl";
  TEmfBuilder b(400, 200);
  b.Font(1, "Arial", -30, 400).Select(1).Text(10, 10, u"Metafile words");
  pvltest::WriteFile(dir.File("in.emf"), b.Finish());
  auto r = pvltest::RunCommand({pvl, "emf2pdf", dir.File("in.emf"), "--out", dir.File("emf.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", dir.File("emf.pdf")}).exitCode, 0);
  EXPECT_NE(pvltest::RunCommand({"pdftotext", dir.File("emf.pdf"), "-"}).out.find("Metafile words"), std::string::npos);

  pvltest::WriteFile(dir.File("in.txt"), "<p>Hello <b>bold</b> world</p><ul><li>item</li></ul>");
  r = pvltest::RunCommand({pvl, "html2pdf", dir.File("in.txt"), "--out", dir.File("html.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string text = pvltest::RunCommand({"pdftotext", dir.File("html.pdf"), "-"}).out;
  EXPECT_NE(text.find("Hello bold world"), std::string::npos) << text;
  EXPECT_NE(text.find("item"), std::string::npos);

  r = pvltest::RunCommand({pvl, "emf2pdf", dir.File("in.txt"), "--out", dir.File("x.pdf")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("not a readable enhanced metafile"), std::string::npos) << r.err;
}

}  // namespace
