// The facade's page, drawing, font and annotation operations, checked with
// peer tools: every file we write passes qpdf --check, page counts and
// order agree with qpdf and pdftotext, images other pages still use survive
// a deletion (pdfimages), links and notes read back through qpdf --json and
// drawn text is found by pdftotext and seen in pdftoppm's image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"

namespace {

std::u16string W(const std::string& s) {
  return NativePathToWide(s);
}

// A PDF file from object texts (object i + 1 is objects[i]), with a correct
// cross-reference table.
std::string buildPdf(const std::vector<std::string>& objects, int32_t root) {
  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (size_t o : offsets) {
    char line[32];
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root " + std::to_string(root) +
         " 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

std::string stream(const std::string& dict, const std::string& data) {
  return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Six pages, each showing "Page N", in a nested tree:
// root 1 -> node 2 (pages 1, 2), node 3 (node 4 (pages 3, 4), page 5), page 6.
std::string nestedSixPages() {
  std::vector<std::string> o(30);
  o[0] = "<< /Type /Pages /Count 6 /Kids [2 0 R 3 0 R 15 0 R] /MediaBox [0 0 300 200] >>";
  o[1] = "<< /Type /Pages /Parent 1 0 R /Count 2 /Kids [10 0 R 11 0 R] >>";
  o[2] = "<< /Type /Pages /Parent 1 0 R /Count 3 /Kids [4 0 R 14 0 R] >>";
  o[3] = "<< /Type /Pages /Parent 3 0 R /Count 2 /Kids [12 0 R 13 0 R] >>";
  o[4] = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
  o[5] = "<< /Type /Catalog /Pages 1 0 R >>";
  const int parents[6] = {2, 2, 4, 4, 3, 1};
  for (int p = 0; p < 6; ++p) {
    o[size_t(9 + p)] = "<< /Type /Page /Parent " + std::to_string(parents[p]) + " 0 R /Contents " +
                       std::to_string(20 + p) + " 0 R /Resources << /Font << /F1 5 0 R >> >> >>";
    o[size_t(19 + p)] = stream("", "BT /F1 24 Tf 20 100 Td (Page " + std::to_string(p + 1) + ") Tj ET");
  }
  for (auto& s : o)
    if (s.empty()) s = "null";
  return buildPdf(o, 6);
}

// Page texts of a file as pdftotext finds them, one entry per page.
std::vector<std::string> pageTexts(const std::string& path) {
  auto r = pvltest::RunCommand({"pdftotext", "-q", path, "-"});
  std::vector<std::string> pages;
  std::string current;
  for (char c : r.out) {
    if (c == '\f') {
      pages.push_back(current);
      current.clear();
    } else if (c != '\n' && c != '\r') {
      current += c;
    }
  }
  for (auto& p : pages) {
    while (!p.empty() && p.back() == ' ') p.pop_back();
  }
  return pages;
}

void expectSound(const std::string& path, int32_t pages) {
  auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  auto n = pvltest::RunCommand({"qpdf", "--show-npages", path});
  EXPECT_EQ(n.out, std::to_string(pages) + "\n");
}

std::string saveTo(TPavona& f, const pvltest::TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  EXPECT_EQ(f.SaveToFile(W(path)), 1);
  return path;
}

// Text without white space, for searching qpdf's JSON.
std::string tight(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\n' && c != '\r' && c != '\t') out += c;
  return out;
}

// Dark pixels in a PPM image from pdftoppm inside a rectangle of pixels.
int darkPixels(const std::string& ppm, int x0, int y0, int x1, int y1) {
  std::istringstream in(ppm);
  std::string magic;
  int w = 0, h = 0, max = 0;
  in >> magic >> w >> h >> max;
  in.get();
  if (magic != "P6" || w <= 0 || h <= 0) return -1;
  const size_t start = static_cast<size_t>(in.tellg());
  int dark = 0;
  for (int y = std::max(0, y0); y < std::min(h, y1); ++y)
    for (int x = std::max(0, x0); x < std::min(w, x1); ++x) {
      const size_t at = start + size_t(y * w + x) * 3;
      if (at + 2 >= ppm.size()) continue;
      const int sum = uint8_t(ppm[at]) + uint8_t(ppm[at + 1]) + uint8_t(ppm[at + 2]);
      if (sum < 3 * 160) ++dark;
    }
  return dark;
}

std::string render(const std::string& path, int page) {
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-f", std::to_string(page), "-l", std::to_string(page), path});
  return r.out;
}

TEST(FacadePages, InsertAtFirstMiddleAndLastPlacesOfANestedTree) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "a peer tool is missing";
  struct Case {
    int32_t position, count;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      {1, 2, {"", "", "Page 1", "Page 2", "Page 3", "Page 4", "Page 5", "Page 6"}},
      {4, 1, {"Page 1", "Page 2", "Page 3", "", "Page 4", "Page 5", "Page 6"}},
      {5, 2, {"Page 1", "Page 2", "Page 3", "Page 4", "", "", "Page 5", "Page 6"}},
      {7, 3, {"Page 1", "Page 2", "Page 3", "Page 4", "Page 5", "Page 6", "", "", ""}},
  };
  pvltest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + "+" + std::to_string(c.count));
    TPavona f;
    ASSERT_EQ(f.LoadFromString(nestedSixPages(), u""), 1);
    ASSERT_EQ(f.InsertPages(c.position, c.count), 6 + c.count);
    EXPECT_EQ(f.SelectedPage(), c.position);
    EXPECT_DOUBLE_EQ(f.PageWidth(), 300) << "the new pages take the selected page's size";
    const std::string out = saveTo(f, dir, "insert.pdf");
    expectSound(out, 6 + c.count);
    EXPECT_EQ(pageTexts(out), c.texts);
  }
}

TEST(FacadePages, DeletedRangesLeaveTheRestInOrder) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "a peer tool is missing";
  struct Case {
    int32_t first, count;
    std::vector<std::string> texts;
  };
  const std::vector<Case> cases = {
      {1, 1, {"Page 2", "Page 3", "Page 4", "Page 5", "Page 6"}},
      {2, 3, {"Page 1", "Page 5", "Page 6"}},
      {3, 2, {"Page 1", "Page 2", "Page 5", "Page 6"}},
      {5, 99, {"Page 1", "Page 2", "Page 3", "Page 4"}},
  };
  pvltest::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
    TPavona f;
    ASSERT_EQ(f.LoadFromString(nestedSixPages(), u""), 1);
    ASSERT_EQ(f.DeletePages(c.first, c.count), int32_t(c.texts.size()));
    const std::string out = saveTo(f, dir, "delete.pdf");
    expectSound(out, int32_t(c.texts.size()));
    EXPECT_EQ(pageTexts(out), c.texts);
  }
  TPavona f;
  ASSERT_EQ(f.LoadFromString(nestedSixPages(), u""), 1);
  EXPECT_EQ(f.DeletePages(7, 1), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  EXPECT_EQ(f.DeletePages(1, 0), 0);
  EXPECT_EQ(f.PageCount(), 6);
}

TEST(FacadePages, AnImageSharedThroughAFormSurvivesTheDeletionOfAnotherPageUsingIt) {
  if (!pvltest::HaveTools({"qpdf", "pdfimages"})) GTEST_SKIP() << "a peer tool is missing";
  // Pages 1 and 2 draw form 8, which draws the 2 x 2 image 9; page 3 draws
  // the 3 x 1 image 10 alone.
  std::vector<std::string> o(12, "null");
  o[0] = "<< /Type /Pages /Count 3 /Kids [2 0 R 3 0 R 4 0 R] /MediaBox [0 0 100 100] >>";
  o[1] = "<< /Type /Page /Parent 1 0 R /Contents 11 0 R /Resources << /XObject << /Fm 8 0 R >> >> >>";
  o[2] = "<< /Type /Page /Parent 1 0 R /Contents 11 0 R /Resources << /XObject << /Fm 8 0 R >> >> >>";
  o[3] = "<< /Type /Page /Parent 1 0 R /Contents 12 0 R /Resources << /XObject << /Im 10 0 R >> >> >>";
  o[4] = "<< /Type /Catalog /Pages 1 0 R >>";
  o[7] = stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im 9 0 R >> >>", "/Im Do");
  o[8] = stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8",
                std::string("\xFF\0\0\0\xFF\0\0\0\xFF\xFF\xFF\0", 12));
  o[9] = stream("/Type /XObject /Subtype /Image /Width 3 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
                std::string("\x10\x80\xF0", 3));
  o[10] = stream("", "q 50 0 0 50 10 10 cm /Fm Do Q");
  o[11] = stream("", "q 50 0 0 50 10 10 cm /Im Do Q");
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromString(buildPdf(o, 5), u""), 1);
  ASSERT_EQ(f.DeletePages(1, 1), 2);
  const std::string out = saveTo(f, dir, "shared.pdf");
  expectSound(out, 2);
  auto list = pvltest::RunCommand({"pdfimages", "-list", out});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  // page num type width height ...
  EXPECT_NE(tight(list.out).find("10image22rgb"), std::string::npos) << list.out;
  EXPECT_NE(tight(list.out).find("21image31gray"), std::string::npos) << list.out;
  // The image's samples are those of the source.
  TPavona back;
  ASSERT_EQ(back.LoadFromFile(W(out), u""), 1);
  TPDFDocument* doc = back.GetSelectedDocumentObject();
  int images = 0;
  for (int32_t i = 0; i < doc->GetObjectCount(); ++i) {
    TPDFStream* s = PDFAsStream(doc->GetIndObj(i)->GetObject());
    if (s && s->GetDictionary()->GetNameValue("Subtype") == "Image" &&
        s->GetDictionary()->GetInteger("Width", 0) == 2) {
      EXPECT_EQ(s->GetDecodedData(), std::string("\xFF\0\0\0\xFF\0\0\0\xFF\xFF\xFF\0", 12));
      ++images;
    }
  }
  EXPECT_EQ(images, 1);
}

TEST(FacadePages, LinksAndNotesReadBackByQpdfAndDrawnByPdftoppm) {
  if (!pvltest::HaveTools({"qpdf", "pdftoppm"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.InsertPages(2, 1), 2);
  ASSERT_EQ(f.SelectPage(1), 1);
  EXPECT_EQ(f.AddLinkToWeb(u"https://example.org/stra\u00DFe?q=\u0436", 1, 72, 700, 100, 20), 1);
  EXPECT_EQ(f.AddLinkToPage(2, 0, 72, 650, 100, 20, 500), 1);
  EXPECT_EQ(f.AddLinkToPage(3, 0, 72, 650, 100, 20, 500), 0) << "no page 3";
  EXPECT_EQ(f.AddLinkToLocalFile(u"other \u0444.pdf", 3, 72, 600, 100, 20, 300, 1, 0), 1);
  EXPECT_EQ(f.AddLinkToLocalFile(u"other.pdf", 0, 72, 600, 100, 20, 300, 1, 0), 0);
  EXPECT_EQ(
      f.AddAnnotation(0, u"Reviewer", 300, 500, 320, 500, 150, 80, u"\u041F\u0440\u0438\u0432\u0435\u0442", 1, 0, 0, 1),
      1);
  const std::string out = saveTo(f, dir, "links.pdf");
  expectSound(out, 2);
  auto json = pvltest::RunCommand({"qpdf", "--json", "--json-key=qpdf", out});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  const std::string t = tight(json.out);
  EXPECT_NE(t.find("\"/URI\":\"u:https://example.org/stra%C3%9Fe?q=%D0%B6\""), std::string::npos)
      << "the IRI's characters survive as escaped UTF-8";
  EXPECT_NE(t.find("\"/Rect\":[72,700,172,680]"), std::string::npos);
  EXPECT_NE(t.find("\"/S\":\"/GoTo\""), std::string::npos);
  EXPECT_NE(t.find("\"/XYZ\",0,500,0]"), std::string::npos);
  EXPECT_NE(t.find("\"/S\":\"/GoToR\""), std::string::npos);
  EXPECT_NE(t.find("\"/UF\":\"u:other\u0444.pdf\""), std::string::npos);
  EXPECT_NE(t.find("\"/D\":[2,\"/XYZ\",0,300,0]"), std::string::npos);
  EXPECT_NE(t.find("\"/Subtype\":\"/Text\""), std::string::npos);
  EXPECT_NE(t.find("\"/Contents\":\"u:\u041F\u0440\u0438\u0432\u0435\u0442\""), std::string::npos);
  EXPECT_NE(t.find("\"/Subtype\":\"/Popup\""), std::string::npos);
  EXPECT_NE(t.find("\"/Rect\":[300,476,320,500]"), std::string::npos) << "the note icon's 20 x 24 box";
  // The link's border and the note's icon are drawn (y from the top: 792 - 700 = 92).
  const std::string image = render(out, 1);
  EXPECT_GT(darkPixels(image, 72, 92, 173, 113), 20) << "the bordered link";
  EXPECT_GT(darkPixels(image, 300, 292, 321, 317), 10) << "the note icon";
}

TEST(FacadePages, TextInStandardTrueTypeAndType3FontsIsFoundAndSeen) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext", "pdftoppm"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.SelectPage(1), 1);
  // A fresh document has no font: Helvetica is added first.
  EXPECT_EQ(f.DrawText(u"Standard Helvetica line", 72, 700), 1);
  EXPECT_EQ(f.GetSelectedDocumentObject()->GetFontCount(), 1);
  ASSERT_NE(f.AddTrueTypeFont(u"DejaVu Sans", 1), 0);
  f.SetTextSize(18);
  EXPECT_EQ(f.DrawText(u"TrueType Latin line", 72, 600), 1);
  ASSERT_NE(f.AddTrueTypeFont(u"DejaVu Sans {1251}", 1), 0);
  f.SetTextSize(18);
  EXPECT_EQ(f.DrawText(u"\u041A\u0438\u0440\u0438\u043B\u043B\u0438\u0446\u0430 text", 72, 500), 1);
  ASSERT_NE(f.AddType3Font(u"DejaVu Serif", u"Type3 glyphs"), 0);
  f.SetTextSize(20);
  EXPECT_EQ(f.DrawText(u"Type3 glyphs", 72, 400), 1);
  const std::string out = saveTo(f, dir, "fonts.pdf");
  expectSound(out, 1);
  const std::vector<std::string> texts = pageTexts(out);
  ASSERT_EQ(texts.size(), 1u);
  for (const char* line :
       {"Standard Helvetica line", "TrueType Latin line",
        "\xD0\x9A\xD0\xB8\xD1\x80\xD0\xB8\xD0\xBB\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0 text", "Type3 glyphs"})
    EXPECT_NE(texts[0].find(line), std::string::npos) << line << " in " << texts[0];
  const std::string image = render(out, 1);
  for (int top : {700, 600, 500, 400}) EXPECT_GT(darkPixels(image, 72, 792 - top - 16, 300, 792 - top + 4), 40) << top;
}

TEST(FacadePages, ArgumentsAndFontsThatCannotServeAreReported) {
  TPavona f;
  ASSERT_EQ(f.SelectPage(1), 1);
  EXPECT_EQ(f.InsertPages(1, 10000), 0);
  EXPECT_EQ(f.InsertPages(1, 0), 0);
  EXPECT_EQ(f.PageCount(), 1);
  EXPECT_EQ(f.DrawText(u"", 10, 10), 1);
  // Helvetica has no Cyrillic: the rest is drawn and the loss reported.
  EXPECT_EQ(f.DrawText(u"ab\u0436c", 10, 10), 0);
  EXPECT_EQ(f.LastErrorCode(), TPavona::pvlErrUnencodableText);
  EXPECT_NE(f.GetSelectedDocumentObject()->GetPageTree()->GetPainter()->Content().find("(abc)Tj"), std::string::npos)
      << f.GetSelectedDocumentObject()->GetPageTree()->GetPainter()->Content();
  EXPECT_EQ(f.DrawRotatedText(u"x", 10, 10, 360), 1);
  EXPECT_EQ(f.DrawRotatedText(u"x", 10, 10, 361), 0);
  EXPECT_EQ(f.DrawRotatedText(u"x", 10, 10, -1), 0);
  EXPECT_EQ(f.SetPageMode(9), 0);
  EXPECT_EQ(f.SetPageMode(1), 1);
  EXPECT_EQ(f.GetSelectedDocumentObject()->GetRoot()->GetNameValue("PageMode"), "UseOutlines");
  EXPECT_EQ(f.RotatePage(45), 0);
  EXPECT_EQ(f.PageRotation(), 0);
  EXPECT_EQ(f.RotatePage(-90), 1);
  EXPECT_EQ(f.PageRotation(), -90);
  f.SetTextSize(12);
  const double w = f.WidestCharWidth();
  EXPECT_NEAR(w, 944 * 12 / 1000.0, 1e-9) << "Helvetica's W";
  EXPECT_EQ(f.DrawTextBox(u"text", 0, 10, 700, w * 0.9, 100, 0), 0);
  EXPECT_EQ(f.DrawTextBox(u"text", 6, 10, 700, 200, 100, 0), 0);
  EXPECT_EQ(f.AddImageFromFile(u"/nonexistent/picture.png", 0), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  // Transparency: one graphics state per value, alpha = 1 - percent / 100.
  EXPECT_EQ(f.SetTransparency(30), 1);
  EXPECT_EQ(f.SetTransparency(30), 1);
  EXPECT_EQ(f.SetTransparency(101), 0);
  TPDFDictionary* gs = f.GetSelectedDocumentObject()->GetPageTree()->GetPageResources()->GetDictionary("ExtGState");
  ASSERT_NE(gs, nullptr);
  ASSERT_EQ(gs->GetCount(), 1);
  TPDFDictionary* state = PDFAsDictionary(PDFResolve(gs->Entries()[0].value));
  ASSERT_NE(state, nullptr);
  EXPECT_DOUBLE_EQ(state->GetNumber("ca", 0), 0.7);
  // A Type 3 font without a "W" still answers a widest character.
  ASSERT_NE(f.AddType3Font(u"DejaVu Sans", u"il"), 0);
  f.SetTextSize(10);
  EXPECT_GT(f.WidestCharWidth(), 0);
}

TEST(FacadePages, NewPagesSizesAndThumbnails) {
  TPavona f;
  ASSERT_EQ(f.SetPageDimensions(400, 300), 1);
  EXPECT_EQ(f.NewPage(), 2);
  EXPECT_EQ(f.SelectedPage(), 2);
  EXPECT_DOUBLE_EQ(f.PageWidth(), 400);
  EXPECT_DOUBLE_EQ(f.PageHeight(), 300);
  EXPECT_EQ(f.SetPageDimensions(-1, 10), 0);
  EXPECT_EQ(f.SetPageThumbnail(), 0) << "no image selected";
  EXPECT_EQ(f.HasFontResources(), 0);
  EXPECT_EQ(f.DrawText(u"x", 1, 1), 1);
  EXPECT_EQ(f.HasFontResources(), 1);
}

TEST(FacadePages, PvlInsertDeleteAndStamp) {
  if (!pvltest::HaveTools({"qpdf", "pdftotext"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  const std::string pvl = std::string(PVL_BINARY_DIR) + "/tools/pvl";
  pvltest::WriteFile(dir.File("six.pdf"), nestedSixPages());
  auto r = pvltest::RunCommand({pvl, "insert", dir.File("six.pdf"), "2", "3", "--out", dir.File("ins.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  expectSound(dir.File("ins.pdf"), 8);
  EXPECT_EQ(pageTexts(dir.File("ins.pdf")),
            (std::vector<std::string>{"Page 1", "Page 2", "", "", "Page 3", "Page 4", "Page 5", "Page 6"}));
  r = pvltest::RunCommand({pvl, "delete", dir.File("six.pdf"), "2-4", "--out", dir.File("del.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  expectSound(dir.File("del.pdf"), 3);
  EXPECT_EQ(pageTexts(dir.File("del.pdf")), (std::vector<std::string>{"Page 1", "Page 5", "Page 6"}));
  r = pvltest::RunCommand({pvl, "delete", dir.File("six.pdf"), "5-", "--out", dir.File("tail.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  expectSound(dir.File("tail.pdf"), 4);
  r = pvltest::RunCommand(
      {pvl, "stamp", dir.File("six.pdf"), "Stamped copy", "--size", "12", "--out", dir.File("stamp.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  expectSound(dir.File("stamp.pdf"), 6);
  const std::vector<std::string> texts = pageTexts(dir.File("stamp.pdf"));
  ASSERT_EQ(texts.size(), 6u);
  for (size_t i = 0; i < texts.size(); ++i) {
    EXPECT_NE(texts[i].find("Page " + std::to_string(i + 1)), std::string::npos) << texts[i];
    EXPECT_NE(texts[i].find("Stamped copy"), std::string::npos) << texts[i];
  }
  // Text Helvetica cannot show needs a font that can; errors are usage errors.
  r = pvltest::RunCommand({pvl, "stamp", dir.File("six.pdf"), "\xD0\x96", "--out", dir.File("x.pdf")});
  EXPECT_EQ(r.exitCode, 3);
  r = pvltest::RunCommand(
      {pvl, "stamp", dir.File("six.pdf"), "\xD0\x96 ok", "--font", "DejaVu Sans {1251}", "--out", dir.File("cyr.pdf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(pageTexts(dir.File("cyr.pdf"))[0].find("\xD0\x96 ok"), std::string::npos);
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"delete", dir.File("six.pdf"), "7", "--out", dir.File("x.pdf")},
        std::vector<std::string>{"delete", dir.File("six.pdf"), "4-2", "--out", dir.File("x.pdf")},
        std::vector<std::string>{"insert", dir.File("six.pdf"), "1", "8", "--out", dir.File("x.pdf")},
        std::vector<std::string>{"insert", dir.File("six.pdf"), "0", "1", "--out", dir.File("x.pdf")}}) {
    std::vector<std::string> argv{pvl};
    argv.insert(argv.end(), bad.begin(), bad.end());
    EXPECT_EQ(pvltest::RunCommand(argv).exitCode, 3) << bad[0] << " " << bad[2];
  }
  r = pvltest::RunCommand({pvl, "delete", dir.File("missing.pdf"), "1", "--out", dir.File("x.pdf")});
  EXPECT_EQ(r.exitCode, 2);
}

TEST(FacadePages, ImageSearchFindsEachImageOnceThroughFormsPatternsAndAppearances) {
  // Image 9 is drawn by pages 1, 2 and 3 (directly, through form 8 and
  // through pattern 13); image 10 only by an annotation's appearance; forms
  // 8 and 12 draw each other.
  std::vector<std::string> o(14, "null");
  o[0] = "<< /Type /Pages /Count 3 /Kids [2 0 R 3 0 R 4 0 R] /MediaBox [0 0 100 100] >>";
  o[1] = "<< /Type /Page /Parent 1 0 R /Resources << /XObject << /Im 9 0 R >> >> >>";
  o[2] = "<< /Type /Page /Parent 1 0 R /Resources << /XObject << /Fm 8 0 R >> >> /Annots [7 0 R] >>";
  o[3] = "<< /Type /Page /Parent 1 0 R /Resources << /Pattern << /P 13 0 R >> >> >>";
  o[4] = "<< /Type /Catalog /Pages 1 0 R >>";
  o[6] = "<< /Type /Annot /Subtype /Square /Rect [0 0 1 1] /AP << /N 11 0 R >> >>";
  o[7] = stream("/Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Im 9 0 R /Other 12 0 R >> >>", "");
  o[8] = stream("/Subtype /Image /Width 2 /Height 3 /ColorSpace /DeviceGray /BitsPerComponent 8", "abcdef");
  o[9] = stream("/Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8", "z");
  o[10] = stream("/Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /I 10 0 R >> >>", "");
  o[11] = stream("/Subtype /Form /BBox [0 0 1 1] /Resources << /XObject << /Back 8 0 R >> >>", "");
  o[12] = stream(
      "/PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 1 1] /XStep 1 /YStep 1 "
      "/Resources << /XObject << /Im 9 0 R >> >>",
      "");
  TPavona f;
  ASSERT_EQ(f.LoadFromString(buildPdf(o, 5), u""), 1);
  TPDFDocument* doc = f.GetSelectedDocumentObject();
  EXPECT_EQ(doc->FindImagesByPages(0), 2);
  ASSERT_EQ(doc->GetImageCount(), 2);
  std::vector<int32_t> found;
  for (int32_t i = 0; i < doc->GetImageCount(); ++i) found.push_back(doc->GetImage(i)->GetObject()->GetRefNumber());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<int32_t>{9, 10}));
  EXPECT_EQ(doc->GetImage(0)->GetObject()->GetRefNumber() == 9 ? doc->GetImage(0)->GetHeight()
                                                               : doc->GetImage(1)->GetHeight(),
            3);
  EXPECT_EQ(doc->FindImagesByObjects(0), 2);
  // Every page's inherited attributes become its own.
  doc->CopyAllInheritedAttributes();
  for (int32_t n = 1; n <= 3; ++n) {
    TPDFDictionary* page = doc->GetPageTree()->FindPage(n);
    ASSERT_NE(page, nullptr);
    EXPECT_NE(page->GetValue("MediaBox"), nullptr) << n;
    EXPECT_NE(page->GetValue("Rotate"), nullptr) << n;
  }
}

// Every corpus file that qpdf reads stays readable with the expected page
// count after its first page is deleted, after a page is inserted, and
// after pvl copy appends its first page twice.
std::string pvlProgram() { return std::string(PVL_BINARY_DIR) + "/tools/pvl"; }

// The corpus is taken in shards, each a test of its own, so that the
// shards run side by side and each stays well inside its time limit.
constexpr size_t kRoundTripShards = 8;

class FacadePagesCorpus : public testing::TestWithParam<size_t> {};

TEST_P(FacadePagesCorpus, RoundTripsThroughDeleteInsertAndCopy) {
  if (!pvltest::HaveTools({"qpdf"})) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  int checked = 0;
  const std::vector<std::string> files = pvltest::CorpusPdfFiles();
  for (size_t i = GetParam(); i < files.size(); i += kRoundTripShards) {
    const std::string& file = files[i];
    auto check = pvltest::RunCommand({"qpdf", "--check", file});
    if (check.exitCode != 0) continue;  // qpdf itself finds faults or needs a password
    auto n = pvltest::RunCommand({"qpdf", "--show-npages", file});
    const int pages = std::atoi(n.out.c_str());
    if (pages < 1) continue;
    TPavona f;
    if (f.LoadFromFile(W(file), u"") != 1) continue;
    SCOPED_TRACE(file);
    ASSERT_EQ(f.PageCount(), pages);
    if (pages > 1) {
      ASSERT_EQ(f.DeletePages(1, 1), pages - 1);
    } else {
      ASSERT_EQ(f.InsertPages(1, 1), 2);
    }
    const std::string out = dir.File("round.pdf");
    ASSERT_EQ(f.SaveToFile(W(out)), 1);
    auto after = pvltest::RunCommand({"qpdf", "--check", out});
    EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
    auto count = pvltest::RunCommand({"qpdf", "--show-npages", out});
    EXPECT_EQ(std::atoi(count.out.c_str()), pages > 1 ? pages - 1 : 2);
    // pvl copy: the file's first page twice after its own pages.
    const std::string copied = dir.File("copied.pdf");
    auto copy = pvltest::RunCommand({pvlProgram(), "copy", file, "1,1", file, "--out", copied});
    ASSERT_EQ(copy.exitCode, 0) << copy.err;
    after = pvltest::RunCommand({"qpdf", "--check", copied});
    EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
    count = pvltest::RunCommand({"qpdf", "--show-npages", copied});
    EXPECT_EQ(std::atoi(count.out.c_str()), pages + 2);
    ++checked;
  }
  // Every shard meets files qpdf accepts (the corpus has about 200).
  EXPECT_GT(checked, 2);
}

INSTANTIATE_TEST_SUITE_P(Shards, FacadePagesCorpus, testing::Range<size_t>(0, kRoundTripShards));

}  // namespace
