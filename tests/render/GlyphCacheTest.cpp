// The glyph cache: text drawn from cached glyph masks looks like text filled
// as outlines (corpus pages, both ways), the cache stays inside its budget,
// and the text modes that keep drawing outlines (stroke, clip, invisible),
// clipped, translucent, rotated and skewed text still match pdftoppm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "CorpusPages.h"
#include "PageImageCompare.h"
#include "RendererTestSupport.h"
#include "platform/Cairo.h"
#include "render/PavonaGlyphCache.h"

using namespace pvlrender;
using namespace pvltest;

namespace {

// A page drawn through cairo with the given font collection.
TBitmap RenderCairo(TPDFDictionary* page, TPDFFontCollection& fonts, bool useCache, double dpi) {
  TPDFRenderer renderer(&fonts);
  renderer.PageObject = page;
  renderer.Resolution = dpi;
  renderer.UseGlyphCache = useCache;
  TBitmap bitmap = DrawRendererPage(renderer, true);
  EXPECT_EQ(renderer.GetErrorText(), "");
  return bitmap;
}

struct TPixelDifference {
  double mean = 255;         // mean absolute grey difference over the page
  double meanBlurred = 255;  // the same after a 3 x 3 blur (edge shifts count little)
  int maxBlurred = 255;      // largest difference after the blur
};

TPixelDifference Difference(const TBitmap& a, const TBitmap& b) {
  TPixelDifference d;
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Empty()) return d;
  const int w = a.Width(), h = a.Height();
  const std::vector<int> ga = GreyOf(a), gb = GreyOf(b);
  const std::vector<int> ba = Blur3(ga, w, h), bb = Blur3(gb, w, h);
  double total = 0, totalBlurred = 0;
  d.maxBlurred = 0;
  for (size_t i = 0; i < ga.size(); ++i) {
    total += std::abs(ga[i] - gb[i]);
    totalBlurred += std::abs(ba[i] - bb[i]);
    d.maxBlurred = std::max(d.maxBlurred, std::abs(ba[i] - bb[i]));
  }
  d.mean = total / ga.size();
  d.meanBlurred = totalBlurred / ga.size();
  return d;
}

int64_t InkPixels(const TBitmap& b) {
  int64_t n = 0;
  for (int g : GreyOf(b)) n += g < 128;
  return n;
}

struct TTextPage {
  const char* file;
  int page;  // 1-based
  double dpi;
  bool masks;  // whether the page has filled text that masks draw
};

// Text of embedded TrueType, Type 1 and CFF fonts, small and large, at the
// two resolutions the pages are usually drawn at.
const TTextPage kTextPages[] = {
    {"pdfjs/tracemonkey.pdf", 1, 72, true},
    {"pdfjs/tracemonkey.pdf", 2, 150, true},
    {"pdfjs/TAMReview.pdf", 1, 72, true},
    {"pdfjs/TAMReview.pdf", 3, 150, true},
    {"samples/GeoTopo-komprimiert.pdf", 2, 72, true},
    {"samples/pdflatex-4-pages.pdf", 1, 100, true},
    {"pdfjs/ArabicCIDTrueType.pdf", 1, 72, true},
    // Its text is a clip: drawn as outlines either way.
    {"pdfjs/text_clip_cff_cid.pdf", 1, 72, false},
};

TEST(GlyphCacheCorpus, MasksDrawTheSameTextAsOutlines) {
  for (const TTextPage& t : kTextPages) {
    SCOPED_TRACE(std::string(t.file) + " page " + std::to_string(t.page) + " at " + std::to_string(int(t.dpi)));
    auto doc = LoadPdf(ReadFile(CorpusPath(t.file)));
    ASSERT_TRUE(doc);
    auto pages = FindPages(*doc);
    ASSERT_GE(static_cast<int>(pages.size()), t.page);
    TPDFFontCollection outlineFonts, maskFonts;
    outlineFonts.LoadOutlines = maskFonts.LoadOutlines = true;
    const TBitmap outlines = RenderCairo(pages[t.page - 1], outlineFonts, false, t.dpi);
    const TBitmap masks = RenderCairo(pages[t.page - 1], maskFonts, true, t.dpi);
    // The masks were used, and the outline rendering used none.
    EXPECT_EQ(maskFonts.GlyphCache.Count() > 0, t.masks);
    EXPECT_EQ(outlineFonts.GlyphCache.Count(), 0u);
    const TPixelDifference d = Difference(outlines, masks);
    std::printf("[ masks    ] %-36s p%d %3d dpi: mean %.3f, blurred mean %.3f max %d, %zu masks, %llu hits\n", t.file,
                t.page, int(t.dpi), d.mean, d.meanBlurred, d.maxBlurred, maskFonts.GlyphCache.Count(),
                static_cast<unsigned long long>(maskFonts.GlyphCache.Hits()));
    // Glyph origins move by at most 1/16 pixel across and 1/8 down: edges
    // shift within their anti-aliasing, never a glyph.
    EXPECT_LT(d.mean, 2.0);
    EXPECT_LT(d.meanBlurred, 1.0);
    EXPECT_LE(d.maxBlurred, 32);
    EXPECT_GT(InkPixels(outlines), 0);
    EXPECT_NEAR(double(InkPixels(masks)), double(InkPixels(outlines)), 0.02 * InkPixels(outlines) + 20);
  }
}

// A document's second rendering of a page takes every glyph from the cache
// and draws exactly the first rendering's pixels.
TEST(GlyphCacheCorpus, SecondRenderingHitsAndRepeatsPixels) {
  auto doc = LoadPdf(ReadFile(CorpusPath("pdfjs/tracemonkey.pdf")));
  ASSERT_TRUE(doc);
  auto pages = FindPages(*doc);
  ASSERT_FALSE(pages.empty());
  TPDFFontCollection fonts;
  fonts.LoadOutlines = true;
  const TBitmap first = RenderCairo(pages[0], fonts, true, 72);
  const uint64_t misses = fonts.GlyphCache.Misses();
  const TBitmap second = RenderCairo(pages[0], fonts, true, 72);
  EXPECT_EQ(fonts.GlyphCache.Misses(), misses);
  const TPixelDifference d = Difference(first, second);
  EXPECT_EQ(d.mean, 0);
  EXPECT_EQ(d.maxBlurred, 0);
}

// A budget smaller than one page's glyphs: the least recently used masks go,
// the used bytes stay within the budget, and the page still looks the same.
TEST(GlyphCacheCorpus, SmallBudgetEvictsAndStillDraws) {
  auto doc = LoadPdf(ReadFile(CorpusPath("pdfjs/tracemonkey.pdf")));
  ASSERT_TRUE(doc);
  auto pages = FindPages(*doc);
  ASSERT_FALSE(pages.empty());
  TPDFFontCollection big, outlines;
  big.LoadOutlines = outlines.LoadOutlines = true;
  const TBitmap reference = RenderCairo(pages[0], outlines, false, 150);
  RenderCairo(pages[0], big, true, 150);
  const size_t full = big.GlyphCache.UsedBytes();
  ASSERT_GT(full, 0u);

  TPDFFontCollection small;
  small.LoadOutlines = true;
  small.GlyphCache.SetBudget(full / 4);
  const TBitmap masks = RenderCairo(pages[0], small, true, 150);
  EXPECT_LE(small.GlyphCache.UsedBytes(), full / 4);
  EXPECT_LT(small.GlyphCache.Count(), big.GlyphCache.Count());
  EXPECT_GT(small.GlyphCache.Misses(), big.GlyphCache.Misses());  // evicted masks were made again
  const TPixelDifference d = Difference(reference, masks);
  EXPECT_LT(d.meanBlurred, 1.0);
  EXPECT_LE(d.maxBlurred, 32);
}

// The mask rasteriser against simple shapes whose coverage is known.
TEST(GlyphCacheMask, CoverageOfKnownShapes) {
  TCairoDLL cairo;
  ASSERT_TRUE(cairo.Load("libcairo.so.2"));
  struct TCase {
    const char* name;
    double x0, y0, x1, y1;  // an axis-aligned rectangle
    int width, height;
    double dx, dy;
    int expectedSum;  // sum of coverage / 255 (pixels covered)
  };
  const TCase cases[] = {
      {"whole pixels", 1, 1, 4, 3, 6, 5, 0, 0, 6},
      {"half pixels", 0.5, 0, 2.5, 1, 4, 2, 0, 0, 2},
      {"shifted", 0, 0, 2, 2, 4, 4, 1.25, 1, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPDFOutlineRecorder outline;
    outline.MoveTo(c.x0, c.y0);
    outline.LineTo(c.x1, c.y0);
    outline.LineTo(c.x1, c.y1);
    outline.LineTo(c.x0, c.y1);
    outline.ClosePath();
    TPDFGlyphMask mask;
    mask.Width = c.width, mask.Height = c.height, mask.Stride = (c.width + 3) & ~3;
    mask.Bits.assign(size_t(mask.Stride) * mask.Height, 0);
    ASSERT_TRUE(TPDFGlyphCache::Rasterize(cairo, outline, c.dx, c.dy, mask));
    double sum = 0;
    for (int y = 0; y < mask.Height; ++y)
      for (int x = 0; x < mask.Width; ++x) sum += mask.Bits[size_t(y) * mask.Stride + x];
    EXPECT_NEAR(sum / 255, c.expectedSum, 0.05);
  }
  // A half-covered pixel column is half dark.
  TPDFOutlineRecorder outline;
  outline.MoveTo(0.5, 0);
  outline.LineTo(1, 0);
  outline.LineTo(1, 1);
  outline.LineTo(0.5, 1);
  outline.ClosePath();
  TPDFGlyphMask mask;
  mask.Width = 1, mask.Height = 1, mask.Stride = 4;
  mask.Bits.assign(4, 0);
  ASSERT_TRUE(TPDFGlyphCache::Rasterize(cairo, outline, 0, 0, mask));
  EXPECT_NEAR(mask.Bits[0], 128, 8);
}

// ---------------------------------------------------------------------------
// Pages built here with an installed TrueType font embedded, each glyph
// placed by its own Tm or Td so that the advances do not matter; compared
// with pdftoppm's rendering of the same file.

std::string EmbeddedFontPage(const std::string& content, const std::string& font, const std::string& extraResources) {
  const std::string program = ReadFile(font);
  return PagePdf(content,
                 "<< /Font << /F1 4 0 R >> " + extraResources + " >>",
                 {"<< /Type /Font /Subtype /TrueType /BaseFont /Embedded /FontDescriptor 5 0 R "
                  "/Encoding /WinAnsiEncoding >>",
                  "<< /Type /FontDescriptor /FontName /Embedded /Flags 32 /FontBBox [-600 -300 2000 1100] "
                  "/ItalicAngle 0 /Ascent 900 /Descent -200 /CapHeight 700 /StemV 80 /FontFile2 6 0 R >>",
                  StreamObject("/Length1 " + std::to_string(program.size()), program)},
                 "", "[0 0 300 200]");
}

struct TTextCase {
  const char* name;
  const char* content;
  // Pixels differing from pdftoppm by more than the channel threshold: the
  // glyph edges of an unhinted outline against a hinted one.
  double maxFraction;
  bool masks;  // filled text: drawn from masks when the cache is on
};

// Glyphs wholly off the page (left of it, above it), across its right and
// bottom edges, and inside it: four distinct glyphs reach the page.
const char* const kEdgeText =
    "BT /F1 30 Tf 1 0 0 1 -200 100 Tm (AB) Tj 1 0 0 1 50 900 Tm (AB) Tj 1 0 0 1 275 100 Tm (W) Tj "
    "1 0 0 1 120 -12 Tm (g) Tj 1 0 0 1 50 50 Tm (EF) Tj ET";

const TTextCase kTextCases[] = {
    {"filled, upright",
     "BT /F1 28 Tf 1 0 0 1 20 150 Tm (Hamburg) Tj 0 -40 Td /F1 11 Tf (small text of eleven points) Tj ET", 0.04, true},
    {"filled, rotated 30 degrees", "BT /F1 24 Tf 0.866 0.5 -0.5 0.866 40 40 Tm (Rotated) Tj 0 -30 Td (glyphs) Tj ET",
     0.04, true},
    {"filled, skewed and mirrored", "BT /F1 26 Tf 1 0 0.4 1 30 140 Tm (Skewed) Tj -1 0 0 1 260 60 Tm (mirror) Tj ET",
     0.04, true},
    {"stroked (mode 1)", "BT 1 Tr 0.8 w 1 0 0 RG /F1 40 Tf 1 0 0 1 20 100 Tm (Stroke) Tj ET", 0.04, false},
    {"filled and stroked (mode 2)", "BT 2 Tr 1.5 w 0 0 1 RG 1 1 0 rg /F1 40 Tf 1 0 0 1 20 100 Tm (Both) Tj ET", 0.04,
     false},
    {"invisible (mode 3) draws nothing", "BT 3 Tr /F1 40 Tf 1 0 0 1 20 100 Tm (Unseen) Tj ET", 0.0005, false},
    {"clip only (mode 7), rotated",
     "BT 7 Tr /F1 60 Tf 0.966 0.259 -0.259 0.966 20 40 Tm (Clip) Tj ET 1 0 0 rg 0 0 300 200 re f", 0.04, false},
    {"fill and clip (mode 4)", "BT 4 Tr 0 0 1 rg /F1 50 Tf 1 0 0 1 20 80 Tm (Fill) Tj ET 0 1 0 rg 0 90 300 30 re f",
     0.04, false},
    {"filled inside a clip rectangle", "q 40 60 120 50 re W n BT /F1 48 Tf 1 0 0 1 20 70 Tm (Clipped) Tj ET Q", 0.04,
     true},
    {"filled at half opacity",
     "/GS1 gs 0 0 1 rg BT /F1 36 Tf 1 0 0 1 20 100 Tm (Alpha) Tj 1 0 0 1 30 92 Tm (Alpha) Tj ET", 0.04, true},
    {"filled across and beyond the page's edges", kEdgeText, 0.04, true},
};

TEST(GlyphCacheText, ModesAndMatricesMatchPdftoppm) {
  std::string missing;
  if (!RequireTool("pdftoppm", missing)) GTEST_SKIP() << missing;
  std::string font;
  for (const char* candidate : {"/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
                                "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"})
    if (std::filesystem::exists(candidate)) {
      font = candidate;
      break;
    }
  if (font.empty()) {
    if (InCI()) ADD_FAILURE() << "no installed TrueType font to embed";
    GTEST_SKIP() << "no installed TrueType font to embed";
  }
  for (const TTextCase& c : kTextCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string pdf = EmbeddedFontPage(c.content, font, "/ExtGState << /GS1 << /ca 0.5 >> >>");
    WriteFile(dir.File("page.pdf"), pdf);
    TReference ref;
    ASSERT_TRUE(RenderReference(dir.File("page.pdf"), dir, ref));
    auto doc = LoadPdf(pdf);
    ASSERT_TRUE(doc);
    auto pages = FindPages(*doc);
    ASSERT_EQ(pages.size(), 1u);
    TBitmap rendered[2];
    for (bool useCache : {true, false}) {
      TPDFFontCollection fonts;
      fonts.LoadOutlines = true;
      const TBitmap ours = RenderCairo(pages[0], fonts, useCache, 72);
      ASSERT_EQ(ours.Width(), ref.width);
      ASSERT_EQ(ours.Height(), ref.height);
      const double fraction = DifferingFraction(ours, ref);
      std::printf("[ text     ] %-40s %-8s %.4f\n", c.name, useCache ? "masks" : "outlines", fraction);
      EXPECT_LE(fraction, c.maxFraction) << (useCache ? "with" : "without") << " the glyph cache";
      rendered[useCache] = ours;
      EXPECT_EQ(fonts.GlyphCache.Count() > 0, useCache && c.masks);
    }
    const TPixelDifference d = Difference(rendered[0], rendered[1]);
    EXPECT_LT(d.meanBlurred, 1.0);
    EXPECT_LE(d.maxBlurred, 32);
  }
}

// Glyphs that fall wholly outside the page are measured but neither
// rasterised nor kept; those across an edge are drawn like the others.
TEST(GlyphCacheText, GlyphsOffThePageAreNotRasterised) {
  const char* font = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
  ASSERT_TRUE(std::filesystem::exists(font)) << "installed by scripts/install-deps.sh";
  auto doc = LoadPdf(EmbeddedFontPage(kEdgeText, font, ""));
  ASSERT_TRUE(doc);
  auto pages = FindPages(*doc);
  ASSERT_EQ(pages.size(), 1u);
  TPDFFontCollection masks, outlines;
  masks.LoadOutlines = outlines.LoadOutlines = true;
  const TBitmap drawn = RenderCairo(pages[0], masks, true, 72);
  EXPECT_EQ(masks.GlyphCache.Count(), 4u) << "W, g, E and F";
  const TPixelDifference d = Difference(drawn, RenderCairo(pages[0], outlines, false, 72));
  EXPECT_LT(d.meanBlurred, 1.0);
  EXPECT_LE(d.maxBlurred, 32);
  // The W crosses the right edge, the g the bottom: both leave ink there.
  const std::vector<int> grey = GreyOf(drawn);
  auto inkAt = [&](int x, int y) { return grey[static_cast<size_t>(y) * drawn.Width() + x] < 200; };
  bool right = false, bottom = false;
  for (int y = 0; y < drawn.Height(); ++y) right = right || inkAt(drawn.Width() - 1, y);
  for (int x = 0; x < drawn.Width(); ++x) bottom = bottom || inkAt(x, drawn.Height() - 1);
  EXPECT_TRUE(right);
  EXPECT_TRUE(bottom);
}

}  // namespace

// A render font collection kept for a document's pages: a font the last page
// selected keeps its record (and its masks), one it did not is dropped and
// loaded again when a later page selects it.
TEST(GlyphCacheFonts, PagesKeepTheFontsTheyShare) {
  const std::string pdf = pvlrender::MakePdf({"<< /Type /Catalog >>",
                                   "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
                                   "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>",
                                   "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>"});
  auto doc = LoadPdf(pdf);
  ASSERT_TRUE(doc);
  std::vector<TPDFObject*> refs;
  for (int n : {2, 3, 4}) refs.push_back(doc->GetPool().ParseObject(std::to_string(n) + " 0 R"));
  for (TPDFObject* r : refs) ASSERT_TRUE(PDFAsIndRef(r));

  TPDFFontCollection fonts;
  struct TStep {
    std::vector<int> select;  // indexes into refs selected on the page
    size_t fontsAfterBegin;   // records left when the page begins
  };
  const TStep pages[] = {{{0, 1}, 0}, {{0, 2}, 2}, {{2}, 2}, {{0}, 1}};
  std::map<int, uint64_t> lastId;
  std::set<int> onLastPage;
  for (const TStep& page : pages) {
    fonts.BeginPage();
    EXPECT_EQ(fonts.CurrentFont, nullptr);
    EXPECT_EQ(fonts.Fonts.size(), page.fontsAfterBegin);
    std::set<int> used;
    for (int i : page.select) {
      fonts.SelectFont(refs[static_cast<size_t>(i)]);
      ASSERT_TRUE(fonts.CurrentFont);
      EXPECT_EQ(fonts.CurrentFont->ObjectNumber, i + 2);
      // Kept from the page before: the same record; otherwise a new load.
      if (onLastPage.count(i))
        EXPECT_EQ(fonts.CurrentFont->CacheId, lastId[i]);
      else if (lastId.count(i))
        EXPECT_NE(fonts.CurrentFont->CacheId, lastId[i]);
      lastId[i] = fonts.CurrentFont->CacheId;
      used.insert(i);
    }
    onLastPage = used;
  }
}
