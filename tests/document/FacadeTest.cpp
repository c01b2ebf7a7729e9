// The facade as the program uses it: documents and handles, selection,
// coordinates, last-error codes, progress and page images.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "TestSupport.h"
#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaExtra.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"

namespace {

std::u16string W(const std::string& s) { return NativePathToWide(s); }

const std::string kFourPages = "samples/pdflatex-4-pages.pdf";
const std::string kPassworded = "samples/libreoffice-writer-password.pdf";

TBitmap BitmapOf(const TMemoryStream& stream) {
  TBitmap b;
  b.LoadFromBytes(stream.Bytes());
  return b;
}

TEST(Facade, FreshFacadeHoldsOneNewSelectedDocument) {
  TPavona f;
  EXPECT_EQ(f.DocumentCount(), 1);
  EXPECT_EQ(f.SelectedDocument(), pvlHandleBase);
  EXPECT_EQ(f.SelectedPage(), 1);
  EXPECT_EQ(f.PageCount(), 1);
  EXPECT_DOUBLE_EQ(f.PageWidth(), 612);
  EXPECT_DOUBLE_EQ(f.PageHeight(), 792);
  EXPECT_EQ(WideToUTF8(f.GetSelectedDocumentObject()->GetInfo("Producer")), TPavona::Banner());
  EXPECT_EQ(f.LastErrorCode(), 0);
  std::string saved;
  f.SaveToString(saved);
  EXPECT_EQ(saved.compare(0, 5, "%PDF-"), 0);
}

TEST(Facade, HandlesAreStableTypedAndNeverRevived) {
  TPavona f;
  const int32_t first = f.SelectedDocument();
  EXPECT_EQ(f.GetDocumentHandle(1), first);
  EXPECT_EQ(f.GetDocumentHandle(1), first) << "asking twice gives the same handle";
  EXPECT_EQ(f.GetDocumentHandle(0), 0);
  EXPECT_EQ(f.GetDocumentHandle(2), 0);
  // Values that are not handles, or name no slot, resolve to nothing.
  for (int32_t bogus : {0, 1, -1, pvlHandleBase + 5, pvlHandleBase - 1, 0x7FFFFFFF})
    EXPECT_EQ(f.GetDocumentByHandle(bogus), nullptr) << std::hex << bogus;
  // A document handle is not a font, image or object handle.
  EXPECT_EQ(f.GetFontByHandle(first), nullptr);
  EXPECT_EQ(f.GetImageByHandle(first), nullptr);
  EXPECT_EQ(f.GetObjectByHandle(first), nullptr);

  const int32_t second = f.NewDocument();
  ASSERT_NE(second, 0);
  EXPECT_NE(second, first);
  ASSERT_EQ(f.RemoveDocument(second), 1);
  EXPECT_EQ(f.GetDocumentByHandle(second), nullptr) << "a removed document's handle dies";
  EXPECT_EQ(f.SelectDocument(second), 0);
  EXPECT_EQ(f.RemoveDocument(second), 0);
  // New documents (possibly at the freed address) get fresh handles; the
  // old one stays dead.
  for (int i = 0; i < 4; ++i) {
    const int32_t h = f.NewDocument();
    EXPECT_NE(h, second);
    EXPECT_EQ(f.GetDocumentByHandle(second), nullptr);
  }
}

TEST(Facade, RemovingDocumentsKeepsOneSelected) {
  TPavona f;
  const int32_t only = f.SelectedDocument();
  ASSERT_EQ(f.RemoveDocument(only), 1);
  EXPECT_EQ(f.DocumentCount(), 1);
  EXPECT_NE(f.SelectedDocument(), only);
  EXPECT_EQ(f.PageCount(), 1);

  // Three documents, the first selected: removing it selects the former second.
  TPavona g;
  const int32_t a = g.GetDocumentHandle(1);
  ASSERT_EQ(g.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  const int32_t b = g.SelectedDocument();
  ASSERT_NE(g.NewDocument(), 0);
  ASSERT_EQ(g.SelectDocument(a), 1);
  ASSERT_EQ(g.RemoveDocument(a), 1);
  EXPECT_EQ(g.SelectedDocument(), b);
  EXPECT_EQ(g.PageCount(), 4);
  // Removing the selected middle document selects the one before it.
  TPavona h;
  const int32_t h1 = h.GetDocumentHandle(1);
  const int32_t h2 = h.NewDocument();
  h.NewDocument();
  ASSERT_EQ(h.SelectDocument(h2), 1);
  ASSERT_EQ(h.RemoveDocument(h2), 1);
  EXPECT_EQ(h.SelectedDocument(), h1);
}

TEST(Facade, LoadErrorsSetTheirCodesAndLeaveTheListAlone) {
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("junk.pdf"), "%PDF-1.4\nthis is not a PDF body at all\n");
  struct TCase {
    std::string path;
    std::u16string password;
    int32_t code;
  } cases[] = {
      {dir.File("missing.pdf"), u"", pvlErrUnreadable},
      {dir.Path(), u"", pvlErrUnreadable},  // a folder
      {dir.File("junk.pdf"), u"", pvlErrUnreadable},
      {pvltest::CorpusPath(kPassworded), u"", pvlErrWrongPassword},
      {pvltest::CorpusPath(kPassworded), u"not the password", pvlErrWrongPassword},
  };
  for (const TCase& c : cases) {
    TPavona f;
    const int32_t before = f.SelectedDocument();
    EXPECT_EQ(f.LoadFromFile(W(c.path), c.password), 0) << c.path;
    EXPECT_EQ(f.LastErrorCode(), c.code) << c.path;
    EXPECT_EQ(f.DocumentCount(), 1) << c.path;
    EXPECT_EQ(f.SelectedDocument(), before) << c.path;
  }
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kPassworded)), u"openpassword"), 1);
  EXPECT_EQ(f.LastErrorCode(), 0);
  EXPECT_EQ(f.DocumentCount(), 2);
  EXPECT_GE(f.PageCount(), 1);
  std::u16string name;
  f.LoadedFileName(name);
  EXPECT_EQ(WideToUTF8(name), pvltest::CorpusPath(kPassworded));
  // From memory: the same codes.
  EXPECT_EQ(f.LoadFromString(pvltest::ReadFile(pvltest::CorpusPath(kPassworded)), u"wrong"), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrWrongPassword);
  EXPECT_EQ(f.LoadFromString("", u""), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrUnreadable);
  EXPECT_EQ(f.DocumentCount(), 2);
}

TEST(Facade, OriginAndUnitsBelongToEachDocument) {
  TPavona f;
  EXPECT_EQ(f.SetOrigin(7), 1);
  EXPECT_EQ(f.GetOrigin(), 0);
  EXPECT_DOUBLE_EQ(f.ToPageY(100), 100);
  f.SetOrigin(1);
  EXPECT_DOUBLE_EQ(f.ToPageY(100), 692);
  EXPECT_DOUBLE_EQ(f.ToPageX(100), 100);
  f.SetOrigin(2);
  EXPECT_DOUBLE_EQ(f.ToPageX(100), 512);
  EXPECT_DOUBLE_EQ(f.ToPageY(100), 692);
  f.SetOrigin(3);
  EXPECT_DOUBLE_EQ(f.ToPageX(100), 512);
  EXPECT_DOUBLE_EQ(f.ToPageY(100), 100);
  const int32_t first = f.SelectedDocument();
  f.NewDocument();
  EXPECT_EQ(f.GetOrigin(), 0) << "a new document starts at the bottom-left corner";
  f.SelectDocument(first);
  EXPECT_EQ(f.GetOrigin(), 3);
}

TEST(Facade, SelectingPagesAndMergingBadArguments) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  EXPECT_EQ(f.SelectPage(3), 1);
  EXPECT_EQ(f.SelectedPage(), 3);
  EXPECT_EQ(f.SelectPage(9), 0);
  EXPECT_EQ(f.SelectedPage(), 3) << "an invalid page keeps the selection";
  EXPECT_EQ(f.SelectPage(0), 0);
  EXPECT_EQ(f.MergeDocument(f.SelectedDocument()), 0) << "a document cannot be merged into itself";
  EXPECT_EQ(f.DocumentCount(), 2);
}

TEST(Facade, ProgressReportsRoundHalvesToEvenAndSkipRepeats) {
  TPavona f;
  std::vector<int32_t> seen;
  f.SetProgressEvent([&](int32_t p) { seen.push_back(p); });
  f.SetProgressPhase(0.75, 0);
  for (int p : {0, 1, 2, 3}) f.ReportProgress(p);
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2})) << "0 equals the last percent; Round(2.25) repeats 2";
  seen.clear();
  f.SetProgressSteps(2, 2);
  for (int p : {0, 1, 2, 3}) f.ReportProgress(p);
  EXPECT_EQ(seen, (std::vector<int32_t>{50, 51}));
  f.ReportProgressDone();
  EXPECT_EQ(seen.back(), 100);
}

TEST(Facade, RendersPagesToStreamsAtDpiAndScale) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  ASSERT_EQ(f.SelectPage(2), 1);
  struct TCase {
    double dpi, scale;
    int32_t page;
  } cases[] = {{72, 1, 1}, {72, 0.5, 0}, {144, 1, 999}, {36, 2, 4}};
  for (const TCase& c : cases) {
    f.SetRenderScale(c.scale);
    TMemoryStream bmp;
    ASSERT_EQ(f.RenderPageToStream(c.dpi, c.page, pofBMP, bmp), 1) << f.LastRenderMessage();
    EXPECT_TRUE(f.LastRenderMessage().empty()) << f.LastRenderMessage();
    TBitmap b = BitmapOf(bmp);
    const double k = c.dpi * c.scale / 72;
    // An A4 page: 595.28 x 841.89 points.
    EXPECT_NEAR(b.Width(), 595.28 * k, 1.01) << c.dpi << " x " << c.scale;
    EXPECT_NEAR(b.Height(), 841.89 * k, 1.01) << c.dpi << " x " << c.scale;
    EXPECT_EQ(f.SelectedPage(), 2) << "rendering keeps the selected page";
  }
  // Some ink on the page: a blank image would pass the size checks.
  f.SetRenderScale(1);
  TMemoryStream bmp;
  ASSERT_EQ(f.RenderPageToStream(72, 1, pofBMP, bmp), 1);
  TBitmap b = BitmapOf(bmp);
  int dark = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) dark += (b.Pixel(x, y) & 0xFF) < 128;
  EXPECT_GT(dark, 1000);
}

TEST(Facade, RenderFailuresAreRealResults) {
  TPavona f;
  TMemoryStream out;
  // A zoom that would make a giant bitmap is bounded, then refused by size.
  f.SetRenderScale(100000);
  EXPECT_EQ(f.RenderPageToStream(72, 1, pofBMP, out), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
  EXPECT_NE(f.LastRenderMessage().find("pixels"), std::string::npos) << f.LastRenderMessage();
  EXPECT_EQ(out.GetSize(), 0);
  f.SetRenderScale(1);
  for (double dpi : {0.0, -72.0, std::nan("")}) {
    EXPECT_EQ(f.RenderPageToStream(dpi, 1, pofBMP, out), 0) << dpi;
    EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
  }
  EXPECT_EQ(f.RenderPageToStream(72, 1, 42, out), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrBadArgument);
}

TEST(Facade, WritesEveryFormatThatPeersRead) {
  if (!pvltest::HaveTool("identify")) GTEST_SKIP() << "identify is missing";
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  pvltest::TempDir dir;
  struct TCase {
    int32_t format;
    const char* name;
    const char* kind;
  } cases[] = {{pofBMP, "p.bmp", "BMP3"}, {pofJPEG, "p.jpg", "JPEG"}, {pofPNG, "p.png", "PNG"}, {pofGIF, "p.gif", "GIF"},
               {pofTIFF, "p.tif", "TIFF"}};
  for (const TCase& c : cases) {
    ASSERT_EQ(f.RenderPagesToFile(72, 1, 1, c.format, W(dir.File(c.name))), 1) << c.name << f.LastRenderMessage();
    // Without "%p" the page number goes before the extension.
    const std::string written = dir.File(std::string(c.name).insert(1, "1"));
    auto r = pvltest::RunCommand({"identify", "-format", "%m %w %h", written});
    EXPECT_EQ(r.out, std::string(c.kind) + " 596 842") << written << r.err;  // A4 at 72 dpi
  }
}

TEST(Facade, PageRangesToFilesAreSwappedAndClamped) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  pvltest::TempDir dir;
  ASSERT_EQ(f.RenderPagesToFile(36, 9, 2, pofPNG, W(dir.File("page%p.png"))), 1) << f.LastRenderMessage();
  for (int n = 1; n <= 5; ++n)
    EXPECT_EQ(std::filesystem::exists(dir.File("page" + std::to_string(n) + ".png")), n >= 2 && n <= 4) << n;
  EXPECT_EQ(f.RenderPagesToFile(72, 1, 1, pofPNG, W(dir.File("no/such/folder/p%p.png"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrRenderFailed);
  EXPECT_NE(f.LastRenderMessage().find("page 1:"), std::string::npos) << f.LastRenderMessage();
}

TEST(Facade, FileNamePatterns) {
  struct TCase {
    const char16_t* pattern;
    int32_t page;
    const char16_t* name;
  } cases[] = {
      {u"page%p.bmp", 2, u"page2.bmp"},    {u"a%pb%p.png", 4, u"a4b4.png"},
      {u"scan.png", 1, u"scan1.png"},      {u"out.v2/scan.png", 3, u"out.v2/scan3.png"},
      {u"out.v2/scan", 3, u"out.v2/scan3"}, {u"scan", 12, u"scan12"},
      {u"dir/.png", 5, u"dir/.png5"},      {u"a.b.c", 7, u"a.b7.c"},
  };
  for (const TCase& c : cases) EXPECT_EQ(PageImageFileName(c.pattern, c.page), c.name) << WideToUTF8(c.pattern);
}

TEST(Facade, SaveGoesThroughATemporaryFile) {
  pvltest::TempDir dir;
  const std::string target = dir.File("out.pdf");
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  ASSERT_EQ(f.SaveToFile(W(target)), 1);
  EXPECT_EQ(f.LastErrorCode(), 0);
  TPavona g;
  ASSERT_EQ(g.LoadFromFile(W(target), u""), 1);
  EXPECT_EQ(g.PageCount(), 4);
  const std::string before = pvltest::ReadFile(target);
  // A failed save reports it and leaves what is there untouched.
  EXPECT_EQ(f.SaveToFile(W(dir.File("missing/out.pdf"))), 0);
  EXPECT_EQ(f.LastErrorCode(), pvlErrSaveFailed);
  EXPECT_EQ(pvltest::ReadFile(target), before);
}

TEST(Facade, PageText) {
  TPavona f;
  ASSERT_EQ(f.LoadFromFile(W(pvltest::CorpusPath(kFourPages)), u""), 1);
  std::u16string text;
  f.GetPageText(0, text);
  EXPECT_NE(WideToUTF8(text).find("information"), std::string::npos) << WideToUTF8(text);
  std::u16string one;
  f.GetPageText(1, one);
  EXPECT_EQ(one, text) << "mode 1 is plain text like mode 0";
  f.GetPageText(9, text);
  EXPECT_TRUE(text.empty());
}

}  // namespace
