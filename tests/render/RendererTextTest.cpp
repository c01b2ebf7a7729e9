// Text operators on pages built by the tests. A Type 3 font whose glyph "a"
// fills its whole 1000-unit em square (advance 1000) makes every glyph a
// solid square of the font size, so positions, spacing, scaling and rise can
// be read from pixels exactly; a standard font checks outline glyphs.
#include <gtest/gtest.h>

#include "RendererTestSupport.h"
#include "render/PavonaFontCollection.h"

using namespace pvlrender;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0xFF0000, kBlue = 0x0000FF;

// Objects 4.. of a page whose /F3 is the square Type 3 font and /F1 Helvetica.
std::vector<std::string> FontObjects(const std::string& glyph = "1000 0 0 0 1000 1000 d1 0 0 1000 1000 re f",
                                     const std::string& type3Resources = "") {
  std::string widths = "[1000 ";  // code 32
  for (int code = 33; code < 97; ++code) widths += "0 ";
  widths += "1000]";  // code 97
  return {"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
          "/CharProcs << /a 5 0 R >> /Encoding << /Type /Encoding /Differences [32 /a 97 /a] >> "
          "/FirstChar 32 /LastChar 97 /Widths " +
              widths + " " + type3Resources + " >>",
          StreamObject("", glyph), "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
}

const char* const kFontResources = "<< /Font << /F3 4 0 R /F1 6 0 R >> >>";

struct TRenderedText {
  TBitmap bitmap;
  std::string error;
};

TRenderedText RenderText(const std::string& content, const std::vector<std::string>& fonts = FontObjects(),
                         bool cairo = false) {
  auto doc = LoadPdf(PagePdf(content, kFontResources, fonts));
  if (!doc) return {};
  TPDFFontCollection fonts_;
  fonts_.LoadOutlines = true;
  TPDFRenderer renderer(&fonts_);
  renderer.PageObject = FindPages(*doc).at(0);
  TRenderedText out;
  out.bitmap = DrawRendererPage(renderer, cairo);
  out.error = renderer.GetErrorText();
  return out;
}

// Colour at user-space point (x, y) of the 100 x 100 page.
uint32_t At(const TBitmap& b, double x, double y) {
  return Rgb(b, static_cast<int>(x), 100 - 1 - static_cast<int>(y));
}

struct TSquareCase {
  const char* name;
  std::string content;
  std::vector<std::pair<double, double>> filled;  // centres of pixels that must be black
  std::vector<std::pair<double, double>> empty;   // and white
};

TEST(RendererText, Type3SquaresShowPositionsAndSpacing) {
  const std::vector<TSquareCase> cases = {
      {"Tj advances by the width", "BT /F3 10 Tf 10 10 Td (aa) Tj ET", {{15, 15}, {25, 15}}, {{35, 15}, {15, 25}}},
      {"TJ number moves the next glyph", "BT /F3 10 Tf 10 10 Td [(a) -1000 (a)] TJ ET", {{15, 15}, {35, 15}},
       {{25, 15}}},
      {"Tz 50 halves glyphs and advances", "BT /F3 10 Tf 50 Tz 10 10 Td (aa) Tj (a) Tj ET",
       {{12, 15}, {17, 15}, {22, 15}}, {{27, 15}}},
      {"Tc spaces glyphs", "BT /F3 10 Tf 5 Tc 10 10 Td (aa) Tj ET", {{15, 15}, {30, 15}}, {{22, 15}}},
      {"Tw applies to byte 32 only", "BT /F3 10 Tf 10 Tw 10 10 Td ( a) Tj ET", {{15, 15}, {35, 15}}, {{25, 15}}},
      {"Ts raises", "BT /F3 10 Tf 10 Ts 10 10 Td (a) Tj ET", {{15, 25}}, {{15, 15}}},
      {"Tm places and scales", "BT /F3 10 Tf 2 0 0 2 40 40 Tm (a) Tj ET", {{45, 45}, {58, 58}}, {{65, 45}}},
      {"T* and TL", "BT /F3 10 Tf 20 TL 10 50 Td (a) Tj T* (a) Tj ET", {{15, 55}, {15, 35}}, {{15, 45}}},
      {"TD sets the leading", "BT /F3 10 Tf 10 70 Td 0 -20 TD (a) Tj T* (a) Tj ET", {{15, 55}, {15, 35}},
       {{15, 75}}},
      {"quote moves to the next line", "BT /F3 10 Tf 20 TL 10 50 Td (a) ' ET", {{15, 35}}, {{15, 55}}},
      {"double quote sets spacings", "BT /F3 10 Tf 20 TL 10 50 Td 0 10 (aa) \" ET", {{15, 35}, {35, 35}},
       {{25, 35}}},
      {"text matrix resets at BT", "BT /F3 10 Tf 50 50 Td ET BT (a) Tj ET", {{5, 5}}, {{55, 55}}},
      {"size 0 shows nothing", "BT /F3 0 Tf 10 10 Td (a) Tj /F3 10 Tf (a) Tj ET", {{15, 15}}, {{25, 15}}},
      {"render mode 3 advances invisibly", "BT /F3 10 Tf 3 Tr 10 10 Td (a) Tj 0 Tr (a) Tj ET", {{25, 15}},
       {{15, 15}}},
      {"Q selects the saved font", "BT /F3 10 Tf q /F1 10 Tf Q 10 10 Td (a) Tj ET", {{15, 15}}, {}},
      // Type 3 glyphs are painted by their procedures and clip nothing
      // (TextClipGathersTheGlyphsOfTheTextObject compares this with a peer).
      {"Type 3 text in clip mode 7", "BT /F3 10 Tf 7 Tr 10 10 Td (a) Tj ET 0 0 100 100 re f", {{15, 15}, {50, 50}},
       {}},
  };
  for (const auto& c : cases) {
    for (bool cairo : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (cairo ? " cairo" : " gdi"));
      TRenderedText r = RenderText(c.content, FontObjects(), cairo);
      EXPECT_EQ(r.error, "");
      for (auto [x, y] : c.filled) EXPECT_EQ(At(r.bitmap, x, y), kBlack) << x << "," << y;
      for (auto [x, y] : c.empty) EXPECT_EQ(At(r.bitmap, x, y), kWhite) << x << "," << y;
    }
  }
}

TEST(RendererText, Type3GlyphColours) {
  // d1 glyphs take the text's fill colour; colours set after d1 are ignored.
  TRenderedText d1 = RenderText("0 0 1 rg BT /F3 10 Tf 10 10 Td (a) Tj ET",
                                FontObjects("1000 0 0 0 1000 1000 d1 1 0 0 rg 0 0 1000 1000 re f"));
  EXPECT_EQ(At(d1.bitmap, 15, 15), kBlue);
  // d0 glyphs carry their own colour.
  TRenderedText d0 = RenderText("0 0 1 rg BT /F3 10 Tf 10 10 Td (a) Tj ET",
                                FontObjects("1000 0 d0 1 0 0 rg 0 0 1000 1000 re f"));
  EXPECT_EQ(At(d0.bitmap, 15, 15), kRed);
}

TEST(RendererText, Type3GlyphShowingItsOwnFontEndsWithAnError) {
  TRenderedText r = RenderText("BT /F3 10 Tf 10 10 Td (a) Tj ET 0 g 80 80 10 10 re f",
                               FontObjects("1000 0 0 0 1000 1000 d1 0 0 1000 1000 re f BT /F3 1 Tf (aa) Tj ET",
                                           "/Resources << /Font << /F3 4 0 R >> >>"));
  EXPECT_NE(r.error.find("Rendering exception: "), std::string::npos) << r.error;
  EXPECT_EQ(At(r.bitmap, 15, 15), kBlack);  // the glyph's own square still drawn
  EXPECT_EQ(At(r.bitmap, 85, 85), kBlack);  // and the rest of the page
}

TEST(RendererText, StandardFontGlyphsAreDrawn) {
  for (bool cairo : {false, true}) {
    SCOPED_TRACE(cairo ? "cairo" : "gdi");
    TRenderedText r = RenderText("BT /F1 40 Tf 10 30 Td (HH) Tj ET", FontObjects(), cairo);
    EXPECT_EQ(r.error, "");
    // The left stem of the first H (about 3 to 8 units into the glyph at size 40).
    int dark = 0;
    for (int x = 10; x < 40; ++x)
      if (At(r.bitmap, x, 40) != kWhite) ++dark;
    EXPECT_GE(dark, 6);
    EXPECT_EQ(At(r.bitmap, 5, 40), kWhite);
    EXPECT_EQ(At(r.bitmap, 95, 40), kWhite);  // two H are about 58 units wide
    // Stroked text (mode 1) leaves the inside of the stem unpainted at a hairline.
    TRenderedText filled = RenderText("BT /F1 40 Tf 10 30 Td 2 Tr 1 0 0 RG (H) Tj ET", FontObjects(), cairo);
    EXPECT_NE(At(filled.bitmap, 15, 40), kWhite);
  }
}

// Every render mode on an outline glyph: a Helvetica "I" at size 100 drawn
// at 10 10 has its stem from about x 19 to 28; stroked 4 wide in red and
// filled in blue, then green painted over the whole page, which the clip
// modes keep to the glyphs.
TEST(RendererText, RenderModesFillStrokeAndClip) {
  struct TModeCase {
    int mode;
    uint32_t stem, edge, outside;  // at x 24 (inside), 18 (on the stroke only) and 60
  };
  constexpr uint32_t kGreen = 0x00FF00;
  const TModeCase cases[] = {
      {0, kBlue, kWhite, kGreen},  {1, kWhite, kRed, kGreen},  {2, kBlue, kRed, kGreen},
      {3, kWhite, kWhite, kGreen}, {4, kGreen, kWhite, kWhite}, {5, kGreen, kRed, kWhite},
      {6, kGreen, kRed, kWhite},   {7, kGreen, kWhite, kWhite},
  };
  for (const TModeCase& c : cases) {
    for (bool cairo : {false, true}) {
      SCOPED_TRACE("mode " + std::to_string(c.mode) + (cairo ? " cairo" : " gdi"));
      // The green goes right of the glyph for the modes that do not clip.
      const std::string green = c.mode < 4 ? "0 1 0 rg 50 0 50 100 re f" : "0 1 0 rg 0 0 100 100 re f";
      TRenderedText r = RenderText("q 1 0 0 RG 0 0 1 rg 4 w BT /F1 100 Tf " + std::to_string(c.mode) +
                                       " Tr 10 10 Td (I) Tj ET " + green + " Q",
                                   FontObjects(), cairo);
      EXPECT_EQ(r.error, "");
      EXPECT_EQ(At(r.bitmap, 24, 40), c.stem) << std::hex << At(r.bitmap, 24, 40);
      EXPECT_EQ(At(r.bitmap, 18, 40), c.edge) << std::hex << At(r.bitmap, 18, 40);
      EXPECT_EQ(At(r.bitmap, 60, 40), c.outside) << std::hex << At(r.bitmap, 60, 40);
    }
  }
}

// Type 3 glyphs that set no colour (d1) paint in the text's fill colour,
// and in the stroke colour when the mode only strokes.
TEST(RendererText, Type3UncolouredGlyphsByRenderMode) {
  const std::pair<int, uint32_t> cases[] = {{0, kBlue}, {1, kRed}, {2, kBlue}, {5, kRed}, {6, kBlue}};
  for (auto [mode, colour] : cases) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    TRenderedText r =
        RenderText("1 0 0 RG 0 0 1 rg BT /F3 10 Tf " + std::to_string(mode) + " Tr 10 10 Td (a) Tj ET");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(At(r.bitmap, 15, 15), colour) << std::hex << At(r.bitmap, 15, 15);
  }
}

// Text in the clipping modes (Tr 4 to 7): the outlines of every glyph a text
// object shows in such a mode gather into one path, which joins the clip at
// its ET. Each row is drawn by us (GDI and cairo) and by the peers named,
// which must agree with the expected colours: where they disagree with each
// other the row says whom it follows. Helvetica "I" at size 100 placed at
// x 10 has its stem about x 19 to 28, at x 60 about 69 to 78; green painted
// over the whole page after the text object shows the clip.
TEST(RendererText, TextClipGathersTheGlyphsOfTheTextObject) {
  struct TClipProbe {
    int x, y;
    uint32_t rgb;
  };
  struct TClipCase {
    const char* name;
    std::string content;
    std::vector<TClipProbe> probes;
    unsigned peers;  // TPeerTool bits
    std::string resources = kFontResources;
    std::vector<std::string> extra = {};  // objects 7, ... after the fonts
  };
  constexpr uint32_t kGreen = 0x00FF00;
  constexpr unsigned kBoth = ptPoppler | ptMupdf;
  const std::string green = " 0 1 0 rg 0 0 100 100 re f";
  const std::vector<TClipProbe> bothStems = {{24, 40, kGreen}, {74, 40, kGreen}, {50, 40, kWhite}};
  const std::vector<TClipCase> cases = {
      {"two strings in mode 7 clip to both glyphs", "BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj 50 0 Td (I) Tj ET" + green,
       bothStems, kBoth},
      {"TJ and quote gather too", "BT /F1 100 Tf 7 Tr 0 TL 10 10 Td [(I)] TJ 50 0 Td (I) ' ET" + green, bothStems,
       kBoth},
      {"fill and clip (mode 4) over two strings",
       "0 0 1 rg BT /F1 100 Tf 4 Tr 10 10 Td (I) Tj 50 0 Td (I) Tj ET" + green, bothStems, kBoth},
      {"stroke and clip (mode 5): the stroke outside the outlines stays",
       "1 0 0 RG 4 w BT /F1 100 Tf 5 Tr 10 10 Td (I) Tj 50 0 Td (I) Tj ET" + green,
       {{24, 40, kGreen}, {74, 40, kGreen}, {18, 40, kRed}, {68, 40, kRed}, {50, 40, kWhite}},
       kBoth},
      {"a space alone clips everything away",
       "BT /F1 100 Tf 7 Tr 10 10 Td ( ) Tj ET" + green,
       {{24, 40, kWhite}, {50, 40, kWhite}},
       kBoth},
      {"a text object that shows nothing clips nothing",
       "BT /F1 100 Tf 7 Tr 10 10 Td ET" + green,
       {{24, 40, kGreen}, {50, 40, kGreen}},
       kBoth},
      // mutool adds the glyphs to the clip at the next path already.
      {"painting inside the text object is not clipped yet",
       "BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj 0 1 0 rg 0 50 100 50 re f ET 1 0 0 rg 0 0 100 50 re f",
       {{50, 75, kGreen}, {24, 25, kRed}, {50, 25, kWhite}},
       ptPoppler},
      // pdftoppm keeps the glyphs of a q Q inside the text object; mutool and
      // Ghostscript give them up with the state, as we do.
      {"glyphs shown between q and Q are given up at the Q",
       "BT /F1 100 Tf 7 Tr 10 10 Td q (I) Tj Q 50 0 Td (I) Tj ET" + green,
       {{24, 40, kWhite}, {74, 40, kGreen}, {50, 40, kWhite}},
       ptMupdf},
      {"a Q of a q before BT gives up the glyphs",
       "q BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj Q ET" + green,
       {{24, 40, kGreen}, {50, 40, kGreen}},
       ptMupdf},
      {"an ET between q and Q clips until the Q",
       "BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj q ET Q" + green,
       {{24, 40, kGreen}, {50, 40, kGreen}},
       kBoth},
      {"a BT without an ET before it gathers on", "BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj BT 60 10 Td (I) Tj ET" + green,
       bothStems, kBoth},
      {"a form that ends inside its text object clips nothing after it",
       "/Fm Do" + green,
       {{24, 40, kGreen}, {50, 40, kGreen}},
       kBoth,
       "<< /Font << /F1 6 0 R >> /XObject << /Fm 7 0 R >> >>",
       {StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources << /Font << /F1 6 0 R >> >>",
                     "BT /F1 100 Tf 7 Tr 10 10 Td (I) Tj")}},
      // Hidden content still clips (the peers draw the text, which the green
      // covers: the clip is the same).
      {"hidden text still clips to its glyphs",
       "/OC /Off BDC 0 0 1 rg BT /F1 100 Tf 4 Tr 10 10 Td (I) Tj 50 0 Td (I) Tj ET EMC" + green,
       bothStems,
       kBoth,
       "<< /Font << /F1 6 0 R >> /Properties << /Off 7 0 R >> >>",
       {"<< /Type /OCG /Name (off) /Usage << /View << /ViewState /OFF >> >> >>"}},
      // Type 3 glyphs: pdftoppm and Ghostscript paint what the procedure
      // paints and clip nothing; mutool clips to the painted shape.
      {"Type 3 glyphs clip nothing",
       "BT /F3 30 Tf 7 Tr 10 10 Td (a) Tj ET" + green,
       {{20, 20, kGreen}, {50, 50, kGreen}, {90, 90, kGreen}},
       ptPoppler},
      {"outline glyphs after Type 3 ones still clip",
       "0 0 1 rg BT /F3 20 Tf 7 Tr 60 60 Td (a) Tj /F1 100 Tf -50 -50 Td (I) Tj ET" + green,
       {{70, 70, kBlue}, {24, 40, kGreen}, {50, 40, kWhite}},
       ptPoppler},
  };
  auto near = [](uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 24; shift += 8)
      if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > 8) return false;
    return true;
  };
  const bool poppler = pvltest::HaveTools({"pdftoppm"}), mupdf = pvltest::HaveTools({"mutool"});
  pvltest::TempDir dir;
  for (const TClipCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> objects = FontObjects();
    objects.insert(objects.end(), c.extra.begin(), c.extra.end());
    const std::string pdf = PagePdf(c.content, c.resources, objects);
    for (bool cairo : {false, true}) {
      TRendered r = RenderContent(pdf, cairo);
      EXPECT_EQ(r.error, "");
      for (const TClipProbe& p : c.probes)
        EXPECT_TRUE(near(At(r.bitmap, p.x, p.y), p.rgb))
            << (cairo ? "cairo" : "GDI") << " at " << p.x << "," << p.y << ": " << std::hex << At(r.bitmap, p.x, p.y);
    }
    for (TPeerTool tool : {ptPoppler, ptMupdf}) {
      if (!(c.peers & tool) || !(tool == ptPoppler ? poppler : mupdf)) continue;
      TPeerPage page;
      ASSERT_TRUE(DrawWithPeer(tool, pdf, dir, page)) << PeerToolName(tool);
      for (const TClipProbe& p : c.probes)
        EXPECT_TRUE(near(page.Rgb(p.x, page.height - 1 - p.y), p.rgb))
            << PeerToolName(tool) << " at " << p.x << "," << p.y << ": " << std::hex
            << page.Rgb(p.x, page.height - 1 - p.y);
    }
  }
}

// Type 3 glyphs fill with the text's pattern themselves; the text's own
// pattern fill had no path left and drew every cell into nothing, so a few
// dozen glyphs spent the page's nested runs and the rest of the page was lost.
TEST(RendererText, Type3TextFilledWithAPatternLeavesTheRestOfThePage) {
  std::vector<std::string> objects = FontObjects();
  objects.push_back(StreamObject("/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 2 2] "
                                 "/XStep 2 /YStep 2 /Resources << >>",
                                 "0 0 1 rg 0 0 2 2 re f"));
  std::string shows;
  for (int i = 0; i < 45; ++i) shows += "(a) Tj ";
  const std::string pdf = PagePdf("/Pattern cs /P0 scn BT /F3 5 Tf 0 0 Td " + shows + "ET 0 g 90 90 10 10 re f",
                                  "<< /Font << /F3 4 0 R >> /Pattern << /P0 7 0 R >> >>", objects);
  for (bool cairo : {false, true}) {
    SCOPED_TRACE(cairo ? "cairo" : "gdi");
    TRendered r = RenderContent(pdf, cairo);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(At(r.bitmap, 2, 2), kBlue);
    EXPECT_EQ(At(r.bitmap, 2, 20), kWhite);
    EXPECT_EQ(At(r.bitmap, 95, 95), kBlack);
  }
  if (pvltest::HaveTools({"pdftoppm"})) {
    pvltest::TempDir dir;
    TPeerPage page;
    ASSERT_TRUE(DrawWithPeer(ptPoppler, pdf, dir, page));
    EXPECT_EQ(page.Rgb(2, page.height - 1 - 2), kBlue);
    EXPECT_EQ(page.Rgb(2, page.height - 1 - 20), kWhite);
    EXPECT_EQ(page.Rgb(95, page.height - 1 - 95), kBlack);
  }
}

// A Type 3 glyph shows text filled with a pattern whose cell shows text in
// the first Type 3 font again: the cycle ends with an error.
TEST(RendererCorpusText, Type3CycleThroughAPatternEndsWithAnError) {
  auto doc = LoadPdf(pvltest::ReadFile(pvltest::CorpusPath("pdfjs/ContentStreamCycleType3insideType3.pdf")));
  ASSERT_TRUE(doc);
  for (bool cairo : {false, true}) {
    TRendered r = RenderPdfPage(FindPages(*doc).at(0), cairo);
    EXPECT_NE(r.error.find("Rendering exception: "), std::string::npos) << r.error;
  }
}

TEST(RendererCorpusText, Type3InsideType3IsDrawn) {
  auto doc = LoadPdf(pvltest::ReadFile(pvltest::CorpusPath("pdfjs/ContentStreamNoCycleType3insideType3.pdf")));
  ASSERT_TRUE(doc);
  TRendered r = RenderPdfPage(FindPages(*doc).at(0), true);
  EXPECT_EQ(r.error, "");
  int inked = 0;
  for (int y = 0; y < r.bitmap.Height(); y += 2)
    for (int x = 0; x < r.bitmap.Width(); x += 2)
      if (Rgb(r.bitmap, x, y) != kWhite) ++inked;
  EXPECT_GT(inked, 100);
}

}  // namespace
