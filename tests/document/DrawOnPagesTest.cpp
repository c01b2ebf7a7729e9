// What the program draws onto an existing page starts from the default
// graphics state, whatever the page's own content leaves behind (a flipped
// matrix never restored, as Google Docs and pdfkit write pages, a "q" never
// closed, an open text object): stamps, watermarks, text from a file and
// images land where they were asked to, upright, as pdftotext -bbox and
// pdftoppm see them, on hand-made pages and on page 1 of every corpus file.
#include <filesystem>

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "CorpusPages.h"
#include "DocumentTestSupport.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"
#include "platform/Bitmap.h"

namespace {

struct TWord {
  std::string text;
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

struct TTextPage {
  double width = 0, height = 0;
  std::vector<TWord> words;
};

double attribute(const std::string& line, const std::string& name) {
  const size_t at = line.find(name + "=\"");
  return at == std::string::npos ? 0 : std::strtod(line.c_str() + at + name.size() + 2, nullptr);
}

// Page 1 as pdftotext -bbox sees it (top-left origin, points); nullopt when
// pdftotext cannot read the file.
std::optional<TTextPage> textPage(const std::string& path) {
  const auto r = pvltest::RunCommand({"pdftotext", "-bbox", "-f", "1", "-l", "1", path, "-"});
  if (r.exitCode != 0) return std::nullopt;
  TTextPage page;
  size_t pos = 0;
  for (size_t end; (end = r.out.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = r.out.substr(pos, end - pos);
    if (line.find("<page ") != std::string::npos) {
      page.width = attribute(line, "width");
      page.height = attribute(line, "height");
    } else if (const size_t open = line.find("<word "); open != std::string::npos) {
      const size_t start = line.find('>', open) + 1, stop = line.find("</word>");
      if (stop == std::string::npos || stop < start) continue;
      page.words.push_back({line.substr(start, stop - start), attribute(line, "xMin"), attribute(line, "yMin"),
                            attribute(line, "xMax"), attribute(line, "yMax")});
    }
  }
  return page;
}

const TWord* findWord(const TTextPage& page, const std::string& text) {
  for (const TWord& w : page.words)
    if (w.text == text) return &w;
  for (const TWord& w : page.words)
    if (w.text.find(text) != std::string::npos) return &w;
  return nullptr;
}

// ---------------------------------------------------------------------------
// Hand-made pages

std::string pageWithContent(const std::vector<std::string>& contents) {
  std::string refs;
  std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                      "", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
  for (const std::string& c : contents) {
    refs += std::to_string(objects.size() + 1) + " 0 R ";
    objects.push_back("STREAM:" + c);
  }
  objects[2] = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents [" + refs +
               "] /Resources << /Font << /F1 4 0 R >> >> >>";
  return pvltest::MakePdf(objects);
}

struct TPageCase {
  const char* name;
  std::vector<std::string> contents;
};

// "Original" stands at 72 pt from the left and its baseline 100 pt below the
// top edge, as the page means it.
const TPageCase kPages[] = {
    {"flipped matrix never restored", {"1 0 0 -1 0 842 cm BT /F1 12 Tf 1 0 0 -1 72 100 Tm (Original) Tj ET"}},
    {"q never closed", {"q 1 0 0 -1 0 842 cm BT /F1 12 Tf 1 0 0 -1 72 100 Tm (Original) Tj ET"}},
    {"text object never ended", {"1 0 0 -1 0 842 cm BT /F1 12 Tf 1 0 0 -1 72 100 Tm (Original) Tj"}},
    {"two streams, the matrix set in the first",
     {"q q 2 0 0 2 0 0 cm Q 1 0 0 -1 0 842 cm", "BT /F1 12 Tf 1 0 0 -1 72 100 Tm (Original) Tj ET"}},
    {"inline image data holding a Q",
     {"1 0 0 -1 0 842 cm q BI /W 2 /H 1 /BPC 8 /CS /G ID Q\n EI Q q BT /F1 12 Tf 1 0 0 -1 72 100 Tm (Original) Tj "
      "ET"}},
    {"plain page", {"BT /F1 12 Tf 72 742 Td (Original) Tj ET"}},
};

TEST(DrawOnPages, DrawingStartsFromTheDefaultGraphicsState) {
  if (!pvltest::HaveTools({"pdftotext", "pdftoppm", "qpdf"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  // A red picture for the image watermark.
  TBitmap red;
  red.SetPixelFormat(TPixelFormat::pf24bit);
  red.SetSize(4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) {
      uint8_t* p = red.ScanLine(y) + 3 * x;
      p[0] = 0, p[1] = 0, p[2] = 255;
    }
  red.SaveToFile(dir.File("red.bmp"));
  for (const TPageCase& c : kPages) {
    SCOPED_TRACE(c.name);
    pvltest::WriteFile(dir.File("in.pdf"), pageWithContent(c.contents));
    TPavona f;
    ASSERT_EQ(f.LoadFromFile(NativePathToWide(dir.File("in.pdf")), u""), 1);
    ASSERT_EQ(f.SelectPage(1), 1);
    // Bottom-left origin: the numbers are PDF user space.
    ASSERT_NE(f.AddStandardFont(4), 0);
    f.SetTextSize(12);
    ASSERT_EQ(f.DrawText(u"Stamped", 100, 700), 1);
    f.SetTransparency(50);
    ASSERT_EQ(f.DrawRotatedText(u"Watermark", 100, 400, 0), 1);
    f.SetTransparency(0);
    ASSERT_EQ(f.DrawHTMLText(u"Fromfile", 100, 200, 300), 1);
    ASSERT_NE(f.AddImageFromFile(NativePathToWide(dir.File("red.bmp")), 0), 0);
    ASSERT_EQ(f.DrawImage(300, 600, 100, 100), 1);
    ASSERT_EQ(f.SaveToFile(NativePathToWide(dir.File("out.pdf"))), 1);
    EXPECT_EQ(pvltest::RunCommand({"qpdf", "--check", dir.File("out.pdf")}).exitCode, 0);

    const auto page = textPage(dir.File("out.pdf"));
    ASSERT_TRUE(page);
    // Baselines from the top edge: 842 - y.
    for (const auto& [word, x, baseline] : std::vector<std::tuple<std::string, double, double>>{
             {"Original", 72, 100}, {"Stamped", 100, 142}, {"Watermark", 100, 442}}) {
      const TWord* w = findWord(*page, word);
      ASSERT_NE(w, nullptr) << word;
      EXPECT_NEAR(w->xMin, x, 2) << word;
      EXPECT_LT(w->yMin, baseline) << word;
      EXPECT_GT(w->yMax, baseline - 3) << word;
      EXPECT_LT(w->yMax - w->yMin, 20) << word << " drawn larger than asked";
      EXPECT_GT(w->xMax - w->xMin, 20) << word;
    }
    // HTML text hangs from its top at 842 - 200.
    const TWord* html = findWord(*page, "Fromfile");
    ASSERT_NE(html, nullptr);
    EXPECT_NEAR(html->xMin, 100, 3);
    EXPECT_GT(html->yMin, 642 - 2);
    EXPECT_LT(html->yMax, 642 + 30);

    // The picture covers x 300..400 and y 500..600: at 72 dpi its middle
    // is pixel (350, 842 - 550).
    pvltest::TReference image;
    ASSERT_TRUE(pvltest::RenderReference(dir.File("out.pdf"), dir, image));
    ASSERT_EQ(image.height, 842);
    const auto* px = reinterpret_cast<const uint8_t*>(image.pixels.data()) + (size_t(292) * image.width + 350) * 3;
    EXPECT_GT(px[0], 200);
    EXPECT_LT(px[1], 60);
    EXPECT_LT(px[2], 60);
  }
}

// ---------------------------------------------------------------------------
// Page 1 of every corpus file

// Where a user-space point of the page shows in pdftotext's page (top-left
// origin, the page turned by its /Rotate); box is the visible box.
std::pair<double, double> shownAt(double x, double y, const std::array<double, 4>& box, int rotate) {
  const double u = x - box[0], v = y - box[1];
  const double w = box[2] - box[0], h = box[3] - box[1];
  switch (rotate) {
    case 90:
      return {v, u};
    case 180:
      return {w - u, v};
    case 270:
      return {h - v, w - u};
    default:
      return {u, h - v};
  }
}

TEST(DrawOnPages, StampWatermarkAndTextFromFileOnEveryCorpusPage) {
  if (!pvltest::HaveTools({"pdftotext", "qpdf"})) GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  int checked = 0;
  for (const std::string& path : pvltest::CorpusPdfFiles()) {
    // Fuzzed files are broken on purpose: their text need not come back out.
    if (std::filesystem::path(path).filename().string().find("fuzzed") != std::string::npos) continue;
    const int qpdf = pvltest::RunCommand({"qpdf", "--show-npages", path}).exitCode;
    if (qpdf != 0 && qpdf != 3) continue;  // qpdf cannot read it
    TPavona f;
    if (f.LoadFromFile(NativePathToWide(path), u"") != 1 || f.SelectPage(1) != 1) continue;  // password files
    SCOPED_TRACE(path);
    TPDFPageTree* tree = f.GetSelectedDocumentObject()->GetPageTree();
    TPDFDictionary* dict = tree->GetSelectedPage();
    ASSERT_NE(dict, nullptr);
    auto media = TPDFPageTree::GetPageBox(dict, "MediaBox");
    std::array<double, 4> box = media ? *media : std::array<double, 4>{0, 0, 612, 792};
    if (auto crop = TPDFPageTree::GetPageBox(dict, "CropBox")) {
      box = {std::max(box[0], (*crop)[0]), std::max(box[1], (*crop)[1]), std::min(box[2], (*crop)[2]),
             std::min(box[3], (*crop)[3])};
    }
    const int rotate = ((TPDFPageTree::GetPageRotate(dict) % 360) + 360) % 360;
    const double w = box[2] - box[0], h = box[3] - box[1];
    if (w < 100 || h < 100) continue;  // no room for a line of HTML text
    const double size = std::clamp(std::min(w, h) / 20, 2.0, 12.0);
    struct TMark {
      std::string word;
      double x, y;  // user space: baseline start, or top left for HTML
    };
    const TMark marks[] = {{"Qstampq", box[0] + 0.1 * w, box[1] + 0.8 * h},
                           {"Qwatermarkq", box[0] + 0.1 * w, box[1] + 0.5 * h},
                           {"Qfromfileq", box[0] + 0.1 * w, box[1] + 0.3 * h}};
    ASSERT_NE(f.AddStandardFont(4), 0);
    f.SetTextSize(size);
    ASSERT_EQ(f.DrawText(UTF8ToWide(marks[0].word), marks[0].x, marks[0].y), 1);
    f.SetTransparency(50);
    ASSERT_EQ(f.DrawRotatedText(UTF8ToWide(marks[1].word), marks[1].x, marks[1].y, 0), 1);
    f.SetTransparency(0);
    ASSERT_EQ(f.DrawHTMLText(UTF8ToWide(marks[2].word), marks[2].x, marks[2].y, 0.8 * w), 1);
    const std::string out = dir.File("out.pdf");
    ASSERT_EQ(f.SaveToFile(NativePathToWide(out)), 1);
    const auto page = textPage(out);
    if (!page) {
      EXPECT_FALSE(textPage(path)) << "pdftotext reads the file, but not the stamped copy";
      continue;
    }
    ++checked;
    for (const TMark& m : marks) {
      const TWord* word = findWord(*page, m.word);
      ASSERT_NE(word, nullptr) << m.word;
      const auto [X, Y] = shownAt(m.x, m.y, box, rotate);
      if (rotate == 0) {
        // Upright and in place: the left edge where the text starts, the
        // text no taller than a line, and its box on the right side of the
        // baseline (or below the top for the HTML text).
        if (word->text == m.word) {
          EXPECT_NEAR(word->xMin, X, 3) << m.word;
        }
        // (HTML text keeps its own font size.)
        EXPECT_LT(word->yMax - word->yMin, &m == &marks[2] ? 30 : 3 * size) << m.word;
        if (&m == &marks[2]) {
          EXPECT_GT(word->yMin, Y - 3) << m.word;
          EXPECT_LT(word->yMin, Y + 3 * size) << m.word;
        } else {
          EXPECT_LT(word->yMin, Y) << m.word;
          EXPECT_GT(word->yMax, Y - 3) << m.word;
        }
      } else {
        // A turned page turns the text too: the starting point is on the
        // word's box.
        const double grow = 3 * size;
        EXPECT_TRUE(X > word->xMin - grow && X < word->xMax + grow && Y > word->yMin - grow && Y < word->yMax + grow)
            << m.word << " at " << word->xMin << "," << word->yMin << " - " << word->xMax << "," << word->yMax
            << " expected near " << X << "," << Y;
      }
    }
  }
  EXPECT_GE(checked, 100);
}

}  // namespace
