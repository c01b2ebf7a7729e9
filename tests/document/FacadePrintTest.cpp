// Vector page output and printing through the facade: EMF pages read by an
// independent reader (emf2svg) and by our own metafile converter, EPS pages
// read by Ghostscript, and pages printed to a file checked by qpdf and
// compared with the page as pdftoppm draws it.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "FacadePageOutput.h"
#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "platform/EmfReader.h"

namespace {

using pvltest::CompareImages;
using pvltest::ExpectEmfLooksLikePeerPage;
using pvltest::ExpectMetafileDrawsLikeThePage;
using pvltest::kVectorOutputPages;
using pvltest::LoadPng;
using pvltest::PeerPage;
using pvltest::RunCommand;

std::u16string W(const std::string& s) { return NativePathToWide(s); }

TEST(FacadeVectorOutput, EmfPagesLookLikeThePageInAnIndependentReader) {
  REQUIRE_TOOLS("emf2svg-conv", "rsvg-convert", "pdftoppm");
  pvltest::TempDir dir;
  for (const char* file : kVectorOutputPages) {
    SCOPED_TRACE(file);
    const std::string pdf = pvltest::CorpusPath(file);
    TPavona f;
    ASSERT_EQ(f.LoadFromFile(W(pdf), u""), 1);
    ASSERT_EQ(f.RenderPagesToFile(72, 1, 1, pofEMF, W(dir.File("page%p.emf"))), 1) << f.LastRenderMessage();
    const std::string emf = pvltest::ReadFile(dir.File("page1.emf"));
    ASSERT_TRUE(IsEnhancedMetafile(emf));
    TEmfFile parsed(emf);  // raises on a broken frame
    const auto d = ExpectEmfLooksLikePeerPage(dir.File("page1.emf"), pdf, dir);
    RecordProperty(std::string("emf_mean_") + std::filesystem::path(file).stem().string(), std::to_string(d.mean));
  }
}

TEST(FacadeVectorOutput, EpsPagesLookLikeThePageInGhostscript) {
  REQUIRE_TOOLS("gs", "pdftoppm");
  pvltest::TempDir dir;
  for (const char* file : kVectorOutputPages) {
    SCOPED_TRACE(file);
    const std::string pdf = pvltest::CorpusPath(file);
    TPavona f;
    ASSERT_EQ(f.LoadFromFile(W(pdf), u""), 1);
    TMemoryStream eps;
    ASSERT_EQ(f.RenderPageToStream(72, 1, pofEPS, eps), 1) << f.LastRenderMessage();
    ASSERT_TRUE(eps.Bytes().starts_with("%!PS-Adobe-3.0 EPSF-3.0\r\n"));
    pvltest::WriteFile(dir.File("page.eps"), eps.Bytes());
    auto gs = RunCommand({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dEPSCrop", "-dTextAlphaBits=4",
                          "-dGraphicsAlphaBits=4", "-sDEVICE=png16m", "-r72",
                          "-sOutputFile=" + dir.File("eps.png"), dir.File("page.eps")});
    ASSERT_EQ(gs.exitCode, 0) << gs.err << gs.out;
    EXPECT_EQ(gs.err.find("Error"), std::string::npos) << gs.err;
    const TBitmap ours = LoadPng(dir.File("eps.png"));
    TBitmap peer = PeerPage(pdf, 1, dir, "peer");
    f.SelectPage(1);
    if (std::string(file).find("rotated") != std::string::npos) {
      // EPS keeps the page unrotated: compare with the page's own box.
      EXPECT_NEAR(ours.Width(), peer.Height(), 2);
      continue;
    }
    const auto d = CompareImages(peer, ours);
    EXPECT_NEAR(d.widthB, d.widthA, 2);
    EXPECT_NEAR(d.heightB, d.heightA, 2);
    EXPECT_LT(d.mean, 12.0) << "mean grey difference";
    EXPECT_GT(d.inkRecall, 0.85) << "share of the page's ink found";
  }
}

TEST(FacadeVectorOutput, EmfPagesComeBackThroughOurOwnMetafileConverter) {
  pvltest::TempDir dir;
  const std::string pdf = pvltest::CorpusPath("samples/pdflatex-image.pdf");
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pdf), u""), 1);
  TMemoryStream emf;
  ASSERT_EQ(f.RenderPageToStream(72, 1, pofEMF, emf), 1) << f.LastRenderMessage();
  pvltest::WriteFile(dir.File("page.emf"), emf.Bytes());
  ExpectMetafileDrawsLikeThePage(f, dir.File("page.emf"));
}

TEST(FacadeVectorOutput, WmfPagesArePlaceableMetafilesThatLibwmfDraws) {
  REQUIRE_TOOLS("wmf2gd");
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath("samples/pdflatex-image.pdf")), u""), 1);
  TMemoryStream wmf;
  ASSERT_EQ(f.RenderPageToStream(72, 1, pofWMF, wmf), 1) << f.LastRenderMessage();
  const std::string& bytes = wmf.Bytes();
  ASSERT_TRUE(IsPlaceableWmf(bytes));
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  EXPECT_EQ(u16(10), 595u);  // bounds: the page in device units (rounded, as metafiles are)
  EXPECT_EQ(u16(12), 842u);
  EXPECT_EQ(u16(14), 72u);   // units per inch
  // The memory metafile header counts the file's words; the records walk
  // to the end record exactly, none larger than the header says.
  ASSERT_EQ(u16(22), 1u);
  EXPECT_EQ(u32(28) * 2 + 22, bytes.size());
  size_t at = 22 + 18, records = 0;
  uint32_t largest = 0;
  bool ended = false;
  while (at + 6 <= bytes.size()) {
    const uint32_t words = u32(at);
    ASSERT_GE(words, 3u);
    largest = std::max(largest, words);
    ++records;
    if (u16(at + 4) == 0) {
      ended = at + words * 2 == bytes.size();
      break;
    }
    at += words * 2;
  }
  EXPECT_TRUE(ended);
  EXPECT_EQ(largest, u32(34));
  EXPECT_GT(records, 20u);
  pvltest::WriteFile(dir.File("page.wmf"), bytes);
  auto r = RunCommand({"wmf2gd", "-t", "png", "--maxwidth=596", "--maxheight=842", "-o", dir.File("wmf.png"),
                       dir.File("page.wmf")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const TBitmap drawn = LoadPng(dir.File("wmf.png"));
  ASSERT_FALSE(drawn.Empty());
  const TBitmap peer = PeerPage(pvltest::CorpusPath("samples/pdflatex-image.pdf"), 1, dir, "peer");
  if (drawn.Width() == peer.Width()) {
    const auto d = CompareImages(peer, drawn);
    EXPECT_GT(d.inkRecall, 0.7);
    EXPECT_LT(d.mean, 20.0);
  } else {
    int dark = 0;
    for (int y = 0; y < drawn.Height(); ++y)
      for (int x = 0; x < drawn.Width(); ++x) dark += (drawn.Pixel(x, y) & 0xFF) < 128;
    EXPECT_GT(dark, drawn.Width() * drawn.Height() / 50) << "the picture and the text are drawn";
  }
}

// ---------------------------------------------------------------------------
// Printing

TEST(FacadePrint, OptionCodesNameTheirTitles) {
  TPavona f;
  EXPECT_EQ(f.PrintOptions(0, 0, u"Print document"), 450 * 256);
  EXPECT_EQ(f.PrintOptions(1, 1, u"Second"), 451 * 256 + 1 + 16);
  // Only exactly 1 turns pages; the scaling keeps its low four bits.
  EXPECT_EQ(f.PrintOptions(0x12, 2, u"Third"), 452 * 256 + 2);
}

// Bounding box of the dark pixels: left, top, right, bottom.
std::array<int, 4> InkBox(const TBitmap& b) {
  std::array<int, 4> box{b.Width(), b.Height(), -1, -1};
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x)
      if ((b.Pixel(x, y) & 0xFF) < 128) {
        box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
        box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
      }
  return box;
}

// Draft quality (96 dpi) keeps the printed pages small.
TPrinterOptions Draft() {
  TPrinterOptions o;
  o.PrintQuality = 4;
  return o;
}

TEST(FacadePrint, PagesPrintedToAFileAreAValidPdfThatLooksLikeThePages) {
  REQUIRE_TOOLS("qpdf", "pdfinfo", "pdftoppm");
  pvltest::TempDir dir;
  const std::string pdf = pvltest::CorpusPath("samples/pdflatex-4-pages.pdf");
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pdf), u""), 1);
  f.SelectPage(2);
  f.SetPrintOutputFile(W(dir.File("printed.pdf")));
  f.SetPrinterSettings(u"test printer", Draft());
  const int32_t options = f.PrintOptions(1, 0, u"Four pages");
  // 3..999 clamps to the last page: pages 3 and 4.
  ASSERT_EQ(f.PrintDocument(u"Test Printer", 3, 999, options), 1) << f.LastRenderMessage();
  EXPECT_EQ(f.SelectedPage(), 2) << "printing keeps the selected page";
  auto check = RunCommand({"qpdf", "--check", dir.File("printed.pdf")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  auto info = RunCommand({"pdfinfo", dir.File("printed.pdf")});
  EXPECT_NE(info.out.find("Pages:           2"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Title:           Four pages"), std::string::npos) << info.out;
  // An A4 page fitted to A4 paper lands where it was.
  for (int page : {1, 2}) {
    const TBitmap printed = PeerPage(dir.File("printed.pdf"), page, dir, "printed" + std::to_string(page));
    const TBitmap original = PeerPage(pdf, page + 2, dir, "original" + std::to_string(page));
    // Printed at 96 dpi and drawn again at 72, dense text thickens: the
    // mean is loose, the ink and its place on the paper are not.
    const auto d = CompareImages(original, printed);
    EXPECT_LT(d.mean, 30.0) << "page " << page;
    EXPECT_GT(d.inkRecall, 0.9) << "page " << page;
    const auto a = InkBox(original), b = InkBox(printed);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(a[k], b[k], 3) << "page " << page << " edge " << k;
  }
  // Nothing but the printed file is left in its folder.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    files += entry.path().extension() == ".tmp";
  EXPECT_EQ(files, 0);
}

// A one-page document with the given box, content and page entries.
std::string OnePagePdf(const std::string& box, const std::string& content, const std::string& pageExtra = "") {
  std::string pdf = "%PDF-1.4\n";
  std::vector<size_t> offsets;
  auto obj = [&](const std::string& body) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  obj("<< /Type /Catalog /Pages 2 0 R >>");
  obj("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
  obj("<< /Type /Page /Parent 2 0 R /MediaBox " + box + " /Contents 4 0 R " + pageExtra + " >>");
  obj("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
  const size_t xref = pdf.size();
  pdf += "xref\n0 5\n0000000000 65535 f \n";
  char line[32];
  for (size_t o : offsets) {
    std::snprintf(line, sizeof line, "%010zu 00000 n \n", o);
    pdf += line;
  }
  pdf += "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

TEST(FacadePrint, PlacementOnThePaperFollowsScalingAndRotation) {
  REQUIRE_TOOLS("pdftoppm");
  pvltest::TempDir dir;
  TPavona f;
  // A landscape page holding one wide black bar.
  ASSERT_EQ(f.LoadFromString(OnePagePdf("[0 0 842 595]", "0 g 71 247 700 100 re f"), u""), 1);
  f.SetPrinterSettings(u"paper", Draft());
  struct TCase {
    int32_t scaling, rotate;
    bool barUpright;  // the bar runs down the portrait paper
  } cases[] = {{1, 0, false}, {1, 1, true}, {0, 0, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.scaling) + " " + std::to_string(c.rotate));
    f.SetPrintOutputFile(W(dir.File("bar.pdf")));
    ASSERT_EQ(f.PrintDocument(u"paper", 1, 1, f.PrintOptions(c.scaling, c.rotate, u"bar")), 1) << f.LastRenderMessage();
    const TBitmap paper = PeerPage(dir.File("bar.pdf"), 1, dir, "bar");
    ASSERT_NEAR(paper.Width(), 595.5, 1);  // A4 portrait at 72 dpi
    const auto box = InkBox(paper);
    ASSERT_GE(box[2], box[0]) << "the bar was printed";
    const int w = box[2] - box[0] + 1, h = box[3] - box[1] + 1;
    EXPECT_EQ(h > w, c.barUpright) << w << " x " << h;
    if (c.scaling == 1 && !c.rotate) {
      // Fitted: 842 points wide into 595, centred on the paper.
      EXPECT_NEAR(w, 700 * 595.0 / 842, 4);
      EXPECT_NEAR((box[1] + box[3]) / 2.0, 842 / 2.0, 4);
    }
    if (c.scaling == 1 && c.rotate) {
      // Turned a quarter, 842 points tall fit into 842: actual size.
      EXPECT_NEAR(h, 700, 4);
      EXPECT_NEAR(w, 100, 4);
    }
    if (c.scaling == 0) {
      // Actual size at the top of the paper: the bar's top edge is 248
      // points below the page's top, its left edge 71 points in.
      EXPECT_NEAR(box[0], 71, 3);
      EXPECT_NEAR(box[1], 248, 3);
    }
  }
}

TEST(FacadePrint, TurnedPagesAreScaledAfterTheTurn) {
  REQUIRE_TOOLS("pdftoppm");
  pvltest::TempDir dir;
  TPavona f;
  // 400 x 200 points turned a quarter: a black page 200 wide and 400 tall,
  // which fitting doubles and more (842 / 400) to fill the paper's height.
  ASSERT_EQ(f.LoadFromString(OnePagePdf("[0 0 400 200]", "0 g 0 0 400 200 re f", "/Rotate 90"), u""), 1);
  f.SetPrinterSettings(u"paper", Draft());
  f.SetPrintOutputFile(W(dir.File("turned.pdf")));
  ASSERT_EQ(f.PrintDocument(u"paper", 1, 1, f.PrintOptions(1, 0, u"turned")), 1) << f.LastRenderMessage();
  const TBitmap paper = PeerPage(dir.File("turned.pdf"), 1, dir, "turned");
  const auto box = InkBox(paper);
  const double scale = 842.0 / 400;
  EXPECT_NEAR(box[3] - box[1] + 1, 400 * scale, 4);
  EXPECT_NEAR(box[2] - box[0] + 1, 200 * scale, 4);
  EXPECT_NEAR((box[0] + box[2]) / 2.0, 595 / 2.0, 3) << "centred across the paper";
  EXPECT_LE(box[1], 2);
}

TEST(FacadePrint, FailuresAreReportedAndLeaveNoFile) {
  pvltest::TempDir dir;
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath("samples/minimal-document.pdf")), u""), 1);
  f.SetPrinterSettings(u"p", Draft());
  f.SetPrintOutputFile(W(dir.File("no/such/folder/out.pdf")));
  EXPECT_EQ(f.PrintDocument(u"p", 1, 1, 0), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
  EXPECT_FALSE(f.LastRenderMessage().empty());
  EXPECT_FALSE(std::filesystem::exists(dir.File("no/such/folder/out.pdf")));
  // A document without pages prints nothing.
  TPavona empty;
  empty.SetPrintOutputFile(W(dir.File("empty.pdf")));
  if (empty.PageCount() == 0) {
    EXPECT_EQ(empty.PrintDocument(u"p", 1, 1, 0), 0);
    EXPECT_EQ(empty.LastErrorCode(), pvlErrRenderFailed);
  }
}

TEST(FacadePrint, DefaultPrinterNameIsOneOfThePrinters) {
  TPavona f;
  std::u16string name = u"unchanged";
  f.GetDefaultPrinterName(name);
  const auto& printers = Printer().Printers();
  if (printers.empty())
    EXPECT_TRUE(name.empty());
  else
    EXPECT_NE(std::find(printers.begin(), printers.end(), WideToUTF8(name)), printers.end());
}

}  // namespace
