// Content-stream interpreter on small pages built by the tests: every
// operator group drawn through plain GDI and through cairo and checked at
// chosen pixels, and hostile content that must end without harm.
#include <gtest/gtest.h>

#include "RendererTestSupport.h"

using namespace pvlrender;

namespace {

constexpr uint32_t kWhite = 0xFFFFFF, kBlack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// A probe: PDF user-space point (page 100 x 100 at 72 dpi) and expected colour.
struct TProbe {
  int x, y;
  uint32_t rgb;
};

struct TContentCase {
  const char* name;
  std::string content;
  std::string resources;
  std::vector<std::string> extra;  // objects 4, 5, ...
  std::vector<TProbe> probes;
};

// Colours may differ by a step of rounding between back-ends.
bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
  for (int shift = 0; shift < 24; shift += 8) {
    int da = static_cast<int>((a >> shift) & 0xFF), db = static_cast<int>((b >> shift) & 0xFF);
    if (std::abs(da - db) > tolerance) return false;
  }
  return true;
}

void CheckCase(const TContentCase& c) {
  for (bool cairo : {false, true}) {
    SCOPED_TRACE(std::string(c.name) + (cairo ? " (cairo)" : " (GDI)"));
    TRendered r = RenderContent(PagePdf(c.content, c.resources.empty() ? "<< >>" : c.resources, c.extra), cairo);
    ASSERT_EQ(r.bitmap.Width(), 100);
    ASSERT_EQ(r.bitmap.Height(), 100);
    EXPECT_EQ(r.error, "");
    for (const TProbe& p : c.probes) {
      uint32_t got = Rgb(r.bitmap, p.x, 100 - 1 - p.y);
      EXPECT_TRUE(Near(got, p.rgb)) << "at " << p.x << "," << p.y << " got " << std::hex << got << " expected "
                                    << p.rgb;
    }
  }
}

std::string Function2(const std::string& c0, const std::string& c1) {
  return "<< /FunctionType 2 /Domain [0 1] /C0 " + c0 + " /C1 " + c1 + " /N 1 >>";
}

TEST(RendererContent, PathsAndPainting) {
  const std::vector<TContentCase> cases = {
      {"fill rectangle", "1 0 0 rg 10 10 30 30 re f", "", {}, {{20, 20, kRed}, {50, 50, kWhite}}},
      {"stroke line", "0 0 1 RG 4 w 10 50 m 90 50 l S", "", {}, {{50, 50, kBlue}, {50, 60, kWhite}}},
      {"closed stroke s", "0 1 0 RG 2 w 10 10 m 90 10 l 90 90 l s", "", {}, {{50, 50, kGreen}, {20, 80, kWhite}}},
      {"nonzero keeps the hole filled",
       "0 g 10 10 80 80 re 30 30 40 40 re f",
       "",
       {},
       {{50, 50, kBlack}, {15, 15, kBlack}}},
      {"even-odd leaves the hole",
       "0 g 10 10 80 80 re 30 30 40 40 re f*",
       "",
       {},
       {{50, 50, kWhite}, {15, 15, kBlack}}},
      {"fill and stroke B", "1 0 0 rg 0 0 1 RG 6 w 20 20 60 60 re B", "", {}, {{50, 50, kRed}, {20, 50, kBlue}}},
      {"b* closes and uses even-odd",
       "1 0 0 rg 0 0 1 RG 1 w 10 10 80 80 re 30 30 40 40 re b*",
       "",
       {},
       {{50, 50, kWhite}, {20, 20, kRed}}},
      {"curves c v y",
       "0 g 10 10 m 10 90 90 90 90 10 c f 0 1 0 rg 10 10 m 50 0 90 10 v 90 10 l f",
       "",
       {},
       {{50, 50, kBlack}, {50, 2, kWhite}}},
      {"n paints nothing", "0 g 10 10 80 80 re n", "", {}, {{50, 50, kWhite}}},
      {"dash gaps stay white",
       "0 g 10 w [20 20] 0 d 0 50 m 100 50 l S",
       "",
       {},
       {{10, 50, kBlack}, {30, 50, kWhite}, {50, 50, kBlack}}},
      {"comment is skipped", "1 0 0 rg % 0 0 100 100 re f\n10 10 20 20 re f", "", {}, {{15, 15, kRed}, {80, 80, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

TEST(RendererContent, ClippingAndStateStack) {
  const std::vector<TContentCase> cases = {
      {"clip W n", "20 20 20 20 re W n 1 0 0 rg 0 0 100 100 re f", "", {}, {{30, 30, kRed}, {60, 60, kWhite}}},
      {"even-odd clip W* n",
       "10 10 80 80 re 30 30 40 40 re W* n 0 g 0 0 100 100 re f",
       "",
       {},
       {{50, 50, kWhite}, {15, 15, kBlack}, {95, 95, kWhite}}},
      {"Q restores clip and colour",
       "q 20 20 20 20 re W n 1 0 0 rg Q 0 0 100 100 re f",
       "",
       {},
       {{30, 30, kBlack}, {80, 80, kBlack}}},
      {"cm scales and translates", "1 0 0 rg 2 0 0 2 50 50 cm 0 0 10 10 re f", "", {}, {{60, 60, kRed}, {40, 40, kWhite}}},
      {"Q restores the CTM", "q 1 0 0 1 50 50 cm Q 1 0 0 rg 0 0 10 10 re f", "", {}, {{5, 5, kRed}, {55, 55, kWhite}}},
      {"extra Q pops the implicit save only",
       "q 1 0 0 1 10 10 cm Q Q Q 0 0 1 rg 0 0 10 10 re f",
       "",
       {},
       {{5, 5, kBlue}, {15, 15, kWhite}}},
      {"ExtGState line width",
       "0 g /G1 gs 0 50 m 100 50 l S /G2 gs 0 60 m 100 60 l S",
       "<< /ExtGState << /G1 << /Type /ExtGState /LW 10 >> /G2 << /Type /Other /LW 1 >> >> >>",
       {},
       {{50, 53, kBlack}, {50, 63, kBlack}, {50, 70, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

TEST(RendererContent, ColourSpaces) {
  const std::string spaces =
      "<< /ColorSpace << /Icc3 [/ICCBased 4 0 R] /Icc1 [/ICCBased 5 0 R] /Idx [/Indexed /DeviceRGB 1 <FF000000FF00>] "
      "/Sep [/Separation /Spot /DeviceRGB " +
      Function2("[1 1 1]", "[0 0 1]") +
      "] /DevN [/DeviceN [/A /B] /DeviceCMYK 6 0 R] /CalG [/CalGray << /WhitePoint [0.95 1 1.09] >>] "
      "/Lab [/Lab << /WhitePoint [0.9505 1 1.089] >>] >> >>";
  const std::vector<std::string> extra = {
      StreamObject("/N 3", "icc"), StreamObject("/N 1 /Alternate /DeviceGray", "icc"),
      StreamObject("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1]", "{ pop pop 0 0 0 0 }")};
  const std::vector<TContentCase> cases = {
      {"gray g", "0.5 g 0 0 100 100 re f", "", {}, {{50, 50, 0x808080}}},
      {"rgb rg", "0 1 0 rg 0 0 100 100 re f", "", {}, {{50, 50, kGreen}}},
      {"cmyk k", "0 0 0 0 k 0 0 100 100 re f 0 0 0 1 k 0 0 50 50 re f 1 0 0 0 k 0 0 20 20 re f", "", {},
       {{75, 75, kWhite}, {25, 25, 0x231F20}, {10, 10, 0x00AEEF}}},
      {"cs DeviceRGB sc", "/DeviceRGB cs 0 0 1 sc 0 0 100 100 re f", "", {}, {{50, 50, kBlue}}},
      {"stroke CS SCN", "/DeviceRGB CS 1 0 0 SCN 20 w 0 50 m 100 50 l S", "", {}, {{50, 50, kRed}}},
      {"ICCBased by N", "/Icc3 cs 1 0 0 scn 0 0 100 100 re f", spaces, extra, {{50, 50, kRed}}},
      {"ICCBased alternate gray", "/Icc1 cs 0 scn 0 0 100 100 re f", spaces, extra, {{50, 50, kBlack}}},
      {"Indexed", "/Idx cs 1 scn 0 0 100 100 re f", spaces, extra, {{50, 50, kGreen}}},
      {"Separation tint", "/Sep cs 1 scn 0 0 100 100 re f /Sep cs 0 scn 0 0 50 50 re f", spaces, extra,
       {{75, 75, kBlue}, {25, 25, kWhite}}},
      {"DeviceN two tints", "/DevN cs 0.3 0.7 scn 0 0 100 100 re f", spaces, extra, {{50, 50, kWhite}}},
      {"CalGray takes one operand", "1 0 0 rg /CalG cs 0 sc 0 0 100 100 re f", spaces, extra, {{50, 50, kBlack}}},
      {"Lab white", "/Lab cs 100 0 0 sc 0 0 100 100 re f", spaces, extra, {{50, 50, kWhite}}},
      {"Pattern fill paints nothing", "/Pattern cs /P0 scn 0 0 100 100 re f", "", {}, {{50, 50, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

// Spaces made from the resources' arrays are kept one per array, each with
// its own kind and place: the spaces must not be mistaken for one another,
// and the state stack must give back the space that was set.
TEST(RendererContent, ColourSpacesKeptApart) {
  const std::string spaces =
      "<< /ColorSpace << /Blue [/Separation /Spot /DeviceRGB " + Function2("[1 1 1]", "[0 0 1]") +
      "] /Red [/Separation /Other /DeviceRGB " + Function2("[1 1 1]", "[1 0 0]") +
      "] /IdxG [/Indexed /DeviceGray 2 <0080FF>] /IdxK [/Indexed /DeviceCMYK 1 <00000000FF000000>] "
      "/IdxRG [/Indexed /DeviceRGB 1 <FF000000FF00>] /Icc4 [/ICCBased 4 0 R] >> >>";
  const std::vector<std::string> extra = {StreamObject("/N 4 /Alternate [/Separation /X /DeviceRGB 5 0 R]", "icc"),
                                          Function2("[1 1 1]", "[0 1 0]")};
  const std::vector<TContentCase> cases = {
      {"two Separations",
       "/Blue cs 1 scn 0 0 100 100 re f /Red cs 1 scn 0 0 50 50 re f /Blue cs 1 scn 0 0 20 20 re f", spaces, extra,
       {{75, 75, kBlue}, {35, 35, kRed}, {10, 10, kBlue}}},
      {"fill and stroke spaces apart", "/Red CS /Blue cs 1 SCN 1 scn 20 w 10 10 80 80 re B", spaces, extra,
       {{50, 50, kBlue}, {10, 50, kRed}}},
      {"Indexed over gray, CMYK and RGB",
       "/IdxG cs 1 scn 0 0 100 100 re f /IdxK cs 1 scn 0 0 50 50 re f /IdxRG cs 0 scn 0 0 20 20 re f", spaces, extra,
       {{75, 75, 0x808080}, {35, 35, 0x00AEEF}, {10, 10, kRed}}},
      {"ICCBased with a non-device alternate by N", "/Icc4 cs 1 0 0 0 scn 0 0 100 100 re f", spaces, extra,
       {{50, 50, 0x00AEEF}}},
      {"Q gives back the space", "/Red cs q /DeviceRGB cs Q 1 scn 0 0 100 100 re f", spaces, extra,
       {{50, 50, kRed}}},
      {"unknown space reads RGB", "/Nothing cs 0 1 0 sc 0 0 100 100 re f", spaces, extra, {{50, 50, kGreen}}},
      {"calibrated names", "/CalRGB cs 0 0 1 sc 0 0 100 100 re f /CalGray cs 0.5 sc 0 0 50 50 re f", "", {},
       {{75, 75, kBlue}, {25, 25, 0x808080}}},
      {"stroke with a pattern is not painted", "/Pattern CS /P0 SCN 0 0 1 rg 20 w 10 10 80 80 re B", "", {},
       {{50, 50, kBlue}, {5, 50, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

TEST(RendererContent, ImagesFormsAndMarkedContent) {
  // A 2 x 1 RGB image: red then blue.
  const std::string image = StreamObject("/Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceRGB "
                                         "/BitsPerComponent 8",
                                         std::string("\xFF\x00\x00\x00\x00\xFF", 6));
  const std::string form = StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Matrix [2 0 0 2 0 0]",
                                        "0 1 0 rg -100 -100 300 300 re f");
  const std::string resources = "<< /XObject << /Im 4 0 R /Fm 5 0 R >> /Properties << /Off 6 0 R /On 7 0 R >> >>";
  const std::vector<std::string> extra = {
      image, form, "<< /Type /OCG /Name (off) /Usage << /View << /ViewState /OFF >> >> >>",
      "<< /Type /OCG /Name (on) /Usage << /View << /ViewState /ON >> >> >>"};
  const std::vector<TContentCase> cases = {
      {"image XObject", "q 100 0 0 100 0 0 cm /Im Do Q", resources, extra, {{25, 50, kRed}, {75, 50, kBlue}}},
      {"inline image",
       std::string("q 100 0 0 100 0 0 cm BI /W 2 /H 1 /CS /G /BPC 8 ID ") + std::string("\x00\xFF", 2) + " EI Q",
       "",
       {},
       {{25, 50, kBlack}, {75, 50, kWhite}}},
      {"form with matrix and box clip", "/Fm Do", resources, extra, {{10, 10, kGreen}, {30, 30, kWhite}}},
      {"hidden optional content",
       "/OC /Off BDC 1 0 0 rg 0 0 100 100 re f EMC /OC /On BDC 0 0 1 rg 0 0 50 50 re f EMC",
       resources,
       extra,
       {{75, 75, kWhite}, {25, 25, kBlue}}},
      {"EMC restores visibility",
       "/OC /Off BDC /Span BMC EMC EMC 1 0 0 rg 0 0 100 100 re f",
       resources,
       extra,
       {{50, 50, kRed}}},
      {"stencil mask painted in fill colour",
       "0 0 1 rg q 100 0 0 100 0 0 cm BI /W 2 /H 1 /IM true /BPC 1 ID \x40 EI Q",
       "",
       {},
       {{25, 50, kBlue}, {75, 50, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

TEST(RendererContent, FillAlphaThroughCairo) {
  TRendered r = RenderContent(PagePdf("/G2 gs 1 0 0 rg 0 0 30 30 re f", "<< /ExtGState << /G2 << /ca 0.5 >> >> >>"), true);
  EXPECT_TRUE(Near(Rgb(r.bitmap, 15, 85), 0xFF8080)) << std::hex << Rgb(r.bitmap, 15, 85);
}

TEST(RendererContent, TilingPatternFillsCellsInsideThePath) {
  const std::string pattern = StreamObject("/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] "
                                           "/XStep 20 /YStep 20 /Resources << >>",
                                           "1 0 0 rg 0 0 10 10 re f");
  const TContentCase c{"coloured tiling pattern",
                       "/Pattern cs /P0 scn 0 0 50 50 re f 0 0 1 rg 60 60 10 10 re f",
                       "<< /Pattern << /P0 4 0 R >> >>",
                       {pattern},
                       {{5, 5, kRed}, {25, 5, kRed}, {45, 45, kRed}, {15, 5, kWhite}, {85, 85, kWhite}, {65, 65, kBlue}}};
  CheckCase(c);
}

// An uncoloured pattern's cells paint in the colour given with the pattern
// (in the space's base space), strokes included.
TEST(RendererContent, UncolouredTilingPatternPaintsInTheGivenColour) {
  const std::string pattern = StreamObject("/Type /Pattern /PatternType 1 /PaintType 2 /TilingType 1 /BBox [0 0 10 10] "
                                           "/XStep 20 /YStep 20 /Resources << >>",
                                           "0 0 10 5 re f 2 w 0 8 m 10 8 l S");
  const std::string resources = "<< /Pattern << /P0 4 0 R >> /ColorSpace << /PRGB [/Pattern /DeviceRGB] "
                                "/PGray [/Pattern /DeviceGray] >> >>";
  const std::vector<TContentCase> cases = {
      {"RGB base", "/PRGB cs 0 0 1 /P0 scn 0 0 100 100 re f", resources, {pattern},
       {{5, 2, kBlue}, {25, 22, kBlue}, {5, 8, kBlue}, {15, 2, kWhite}, {5, 15, kWhite}}},
      {"gray base", "/PGray cs 0 /P0 scn 0 0 50 50 re f", resources, {pattern},
       {{5, 2, kBlack}, {5, 8, kBlack}, {15, 2, kWhite}, {65, 62, kWhite}}},
  };
  for (const auto& c : cases) CheckCase(c);
}

// A tiling pattern as the fill colour takes the path (or the glyphs) as the
// clip of its cells; the stroke of B, b, B*, b* and of text in the stroking
// modes is still painted over the cells, and the clip of a W or of text in a
// clipping mode is still taken. Drawn by us and by the peers named.
TEST(RendererContent, PatternFillKeepsTheStrokeAndTheClip) {
  const std::string pattern = StreamObject(
      "/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] "
      "/XStep 10 /YStep 10 /Resources << >>",
      "0 0 1 rg 0 0 10 10 re f");
  const std::string resources = "<< /Pattern << /P0 4 0 R >> /Font << /F1 5 0 R >> >>";
  const std::string helvetica = "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>";
  const std::string fill = "/Pattern cs /P0 scn 1 0 0 RG 6 w ";
  const std::string text = "/Pattern cs /P0 scn 1 0 0 RG 4 w BT /F1 100 Tf ";
  const std::string green = " 0 1 0 rg 0 0 100 100 re f";
  constexpr unsigned kBoth = ptPoppler | ptMupdf;
  struct TPatternCase {
    const char* name;
    std::string content;
    std::vector<TProbe> probes;
    unsigned peers;  // TPeerTool bits
  };
  // Helvetica "I" at size 100 placed at x 10: the stem about x 19 to 28.
  const std::vector<TPatternCase> cases = {
      {"B",
       fill + "20 20 60 60 re B",
       {{50, 50, kBlue}, {20, 50, kRed}, {80, 50, kRed}, {50, 80, kRed}, {10, 10, kWhite}},
       kBoth},
      {"b closes the path it strokes",
       fill + "20 20 m 80 20 l 80 80 l 20 80 l b",
       {{50, 50, kBlue}, {20, 50, kRed}, {50, 20, kRed}, {10, 10, kWhite}},
       kBoth},
      {"B* keeps the hole and strokes it",
       fill + "20 20 60 60 re 40 40 20 20 re B*",
       {{50, 50, kWhite}, {30, 50, kBlue}, {40, 50, kRed}, {20, 50, kRed}},
       kBoth},
      {"b* likewise",
       fill + "20 20 m 80 20 l 80 80 l 20 80 l h 40 40 m 60 40 l 60 60 l 40 60 l b*",
       {{50, 50, kWhite}, {30, 50, kBlue}, {40, 50, kRed}, {20, 50, kRed}},
       kBoth},
      // mutool and Ghostscript drop the clip of a W painted with a pattern
      // (not with a colour); pdftoppm keeps it either way, as we do.
      {"W f keeps the clip",
       "q /Pattern cs /P0 scn 20 20 60 60 re W f" + green + " Q 0 g 90 90 5 5 re f",
       {{50, 50, kGreen}, {10, 10, kWhite}, {92, 92, kBlack}},
       ptPoppler},
      {"text filled and stroked (mode 2)",
       text + "2 Tr 10 10 Td (I) Tj ET",
       {{24, 40, kBlue}, {18, 40, kRed}, {50, 40, kWhite}},
       kBoth},
      // pdftoppm takes no clip from text filled with a pattern; mutool and
      // Ghostscript do, as we do.
      {"text filled, stroked and clipped (mode 6)",
       text + "6 Tr 10 10 Td (I) Tj ET" + green,
       {{24, 40, kGreen}, {18, 40, kRed}, {50, 40, kWhite}},
       ptMupdf},
      {"text filled and clipped (mode 4)",
       text + "4 Tr 10 10 Td (I) Tj ET" + green,
       {{24, 40, kGreen}, {18, 40, kWhite}, {50, 40, kWhite}},
       ptMupdf},
  };
  const bool poppler = pvltest::HaveTools({"pdftoppm"}), mupdf = pvltest::HaveTools({"mutool"});
  pvltest::TempDir dir;
  for (const TPatternCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string pdf = PagePdf(c.content, resources, {pattern, helvetica});
    for (bool cairo : {false, true}) {
      TRendered r = RenderContent(pdf, cairo);
      EXPECT_EQ(r.error, "");
      for (const TProbe& p : c.probes) {
        const uint32_t got = Rgb(r.bitmap, p.x, 100 - 1 - p.y);
        EXPECT_TRUE(Near(got, p.rgb, 8)) << (cairo ? "cairo" : "GDI") << " at " << p.x << "," << p.y << ": " << std::hex
                                         << got;
      }
    }
    for (TPeerTool tool : {ptPoppler, ptMupdf}) {
      if (!(c.peers & tool) || !(tool == ptPoppler ? poppler : mupdf)) continue;
      TPeerPage page;
      ASSERT_TRUE(DrawWithPeer(tool, pdf, dir, page)) << PeerToolName(tool);
      for (const TProbe& p : c.probes) {
        const uint32_t got = page.Rgb(p.x, page.height - 1 - p.y);
        EXPECT_TRUE(Near(got, p.rgb, 8)) << PeerToolName(tool) << " at " << p.x << "," << p.y << ": " << std::hex
                                         << got;
      }
    }
  }
}

TEST(RendererContent, PatternFillingWithItselfEndsWithAnError) {
  const std::string pattern = StreamObject("/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 10 10] "
                                           "/XStep 10 /YStep 10 /Resources << /Pattern << /P0 4 0 R >> >>",
                                           "/Pattern cs /P0 scn 0 0 10 10 re f");
  TRendered r = RenderContent(PagePdf("/Pattern cs /P0 scn 0 0 100 100 re f 0 g 90 90 10 10 re f",
                                      "<< /Pattern << /P0 4 0 R >> >>", {pattern}));
  EXPECT_NE(r.error.find("draws itself"), std::string::npos) << r.error;
  EXPECT_EQ(Rgb(r.bitmap, 95, 5), kBlack);
}

TEST(RendererContent, ImageDecodedOncePerRender) {
  const std::string image = StreamObject("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                         "/BitsPerComponent 8",
                                         std::string(1, '\0'));
  auto doc = LoadPdf(PagePdf("q 10 0 0 10 0 0 cm /Im Do Q q 10 0 0 10 50 50 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
                             {image}));
  ASSERT_TRUE(doc);
  TPDFRenderer renderer(nullptr);
  renderer.PageObject = FindPages(*doc).at(0);
  renderer.RenderPage();
  EXPECT_EQ(renderer.GetErrorText(), "");
  EXPECT_EQ(renderer.GetImageCacheCount(), 1);
  EXPECT_EQ(Rgb(renderer.GetBitmap(), 5, 95), kBlack);
  EXPECT_EQ(Rgb(renderer.GetBitmap(), 55, 45), kBlack);
  EXPECT_EQ(Rgb(renderer.GetBitmap(), 30, 30), kWhite);
}

TEST(RendererContent, ImageListCollectsPlacements) {
  const std::string image = StreamObject("/Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray "
                                         "/BitsPerComponent 8",
                                         std::string(1, '\0'));
  auto doc = LoadPdf(PagePdf("q 10 0 0 20 5 6 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>", {image}));
  ASSERT_TRUE(doc);
  TPDFImageList list;
  TPDFRenderer renderer(nullptr);
  renderer.PageObject = FindPages(*doc).at(0);
  renderer.OutputKind = rokImageList;
  renderer.ImageList = &list;
  renderer.RenderPage();
  ASSERT_EQ(list.Count(), 1);
  const TPDFImageListItem& item = list.Item(0);
  EXPECT_EQ(item.Width, 1);
  EXPECT_EQ(item.DataForm, 2);
  // Corners (0,1), (1,1), (0,0), (1,0) in user space.
  const double expected[8] = {5, 26, 15, 26, 5, 6, 15, 6};
  for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(item.Corners[i], expected[i]) << i;
}

TEST(RendererContent, AnnotationAppearancesByFlags) {
  // Three annotations: shown (F 4), hidden (F 2) and NoView (F 32).
  const std::string ap = StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 1 1]", "1 0 0 rg 0 0 1 1 re f");
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents 4 0 R /Annots [5 0 R 6 0 R 7 0 R] >>",
      StreamObject("", ""),
      "<< /Type /Annot /Subtype /Square /F 4 /Rect [0 0 20 20] /AP << /N 8 0 R >> >>",
      "<< /Type /Annot /Subtype /Square /F 2 /Rect [40 40 60 60] /AP << /N 8 0 R >> >>",
      "<< /Type /Annot /Subtype /Square /F 32 /Rect [80 80 100 100] /AP << /N 8 0 R >> >>",
      ap};
  TRendered r = RenderContent(MakePdf(objects));
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(Rgb(r.bitmap, 10, 90), kRed);
  EXPECT_EQ(Rgb(r.bitmap, 50, 50), kWhite);
  EXPECT_EQ(Rgb(r.bitmap, 90, 10), kWhite);
}

// Pages whose size follows the boxes and the rotation.
TEST(RendererPage, OutputSizeFromBoxesAndRotation) {
  struct TCase {
    std::string pageExtra, mediaBox;
    double dpi;
    int32_t width, height;
  } cases[] = {
      {"", "[0 0 612.4 792]", 72, 613, 792},
      {"", "[0 0 200 100]", 144, 400, 200},
      {"/Rotate 90", "[0 0 200 100]", 72, 100, 200},
      {"/Rotate -90", "[0 0 200 100]", 72, 100, 200},
      {"/Rotate 450", "[0 0 200 100]", 72, 100, 200},
      {"/Rotate 45", "[0 0 200 100]", 72, 200, 100},
      {"/CropBox [10 10 5000 50]", "[0 0 200 100]", 72, 190, 40},
      {"", "[0 0 0 100]", 72, 612, 792},  // degenerate: a Letter page
      {"", "[100 100 0 0]", 72, 100, 100},
      {"", "(no box)", 72, 612, 792},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.pageExtra + " " + c.mediaBox);
    TRendered r = RenderContent(PagePdf("", "<< >>", {}, c.pageExtra, c.mediaBox), false, c.dpi);
    EXPECT_EQ(r.width, c.width);
    EXPECT_EQ(r.height, c.height);
    EXPECT_EQ(r.bitmap.Width(), c.width);
  }
}

TEST(RendererPage, RotationPutsTheOriginInTheRightCorner) {
  // A red square at the user-space origin lands bottom-left unrotated, top-left at 90.
  struct TCase {
    int rotate;
    int px, py;
  } cases[] = {{0, 5, 195}, {90, 5, 5}, {180, 95, 5}, {270, 195, 95}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.rotate);
    TRendered r = RenderContent(
        PagePdf("1 0 0 rg 0 0 10 10 re f", "<< >>", {}, "/Rotate " + std::to_string(c.rotate), "[0 0 100 200]"));
    EXPECT_EQ(Rgb(r.bitmap, c.px, c.py), kRed);
  }
}

// Content that must end (with an error or skipped), never crash or hang.
TEST(RendererContent, HostileContentEnds) {
  const std::string selfForm = StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources 6 0 R",
                                            "0 g 0 0 1 1 re f /Me Do /Me Do /Me Do /Me Do");
  const std::string formA = StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources "
                                         "<< /XObject << /B 5 0 R >> >>",
                                         "/B Do /B Do /B Do");
  const std::string formB = StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Resources "
                                         "<< /XObject << /A 4 0 R >> >>",
                                         "/A Do /A Do /A Do");
  std::string deepQ(20000 * 2, ' ');
  for (size_t i = 0; i < deepQ.size(); i += 2) deepQ[i] = 'q';
  std::string flood;
  for (int i = 0; i < 200000; ++i) flood += "1 ";
  struct TCase {
    const char* name;
    std::string content, resources;
    std::vector<std::string> extra;
    bool expectError;
  } cases[] = {
      {"form drawing itself", "/Me Do 1 0 0 rg 90 90 10 10 re f", "<< /XObject << /Me 4 0 R >> >>",
       {selfForm, "<< >>", "<< /XObject << /Me 4 0 R >> >>"}, true},
      {"two forms drawing each other", "/A Do", "<< /XObject << /A 4 0 R >> >>", {formA, formB}, true},
      {"deep q nesting", deepQ + " 0 g 0 0 10 10 re f", "", {}, false},
      {"unbalanced Q", "Q Q Q Q 0 g 0 0 10 10 re f Q", "", {}, false},
      {"operand flood", flood + " 0 g 0 0 10 10 re f", "", {}, false},
      {"huge numbers", "99999999999999999999 0 0 99999999999999999999 -1e400 1e400 cm 0 0 1 1 re f "
                       "1e308 w 999999999 999999999 m -999999999 0 l S 1 0 0 99999999 99999999 re f", "", {}, false},
      {"truncated operands", "1 0 0 rg re f m l c cm Tf Tj TJ ] [ d", "", {}, false},
      {"unterminated string and dictionary", "(abc /F1 12 Tf <<  /A (", "", {}, false},
      {"inline image without EI", "BI /W 10 /H 10 /BPC 8 /CS /G ID abc", "", {}, false},
      {"inline image with absurd size", "BI /W 99999999 /H 99999999 /BPC 8 /CS /G ID abc EI 0 g 0 0 10 10 re f", "",
       {}, false},
      {"missing resources", "/Nope Do /G9 gs /CS9 cs 1 sc /Sh sh 0 g 0 0 10 10 re f", "", {}, false},
      {"dash of zeros and negatives", "[0 0] 0 d 0 g 0 0 m 100 100 l S [-5 3] -2 d 0 100 m 100 0 l S", "", {}, false},
  };
  for (const TCase& c : cases) {
    for (bool cairo : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (cairo ? " cairo" : " gdi"));
      TRendered r = RenderContent(PagePdf(c.content, c.resources.empty() ? "<< >>" : c.resources, c.extra), cairo);
      ASSERT_EQ(r.bitmap.Width(), 100);
      if (c.expectError) {
        EXPECT_NE(r.error.find("Rendering exception: "), std::string::npos) << r.error;
        // A skipped repeated drawing is reported without stopping the run.
        if (r.error.find("skipped") == std::string::npos) {
          EXPECT_NE(r.error.find("\r\nToken position "), std::string::npos) << r.error;
        }
      } else {
        EXPECT_EQ(r.error, "");
      }
    }
  }
}

TEST(RendererContent, InlineImageWithoutEIDrawsWhatIsThere) {
  // Two rows of a 2 x 2 grey image, the second cut short; no EI follows.
  TRendered r = RenderContent(PagePdf(std::string("q 100 0 0 100 0 0 cm BI /W 2 /H 2 /BPC 8 /CS /G ID ") +
                                      std::string("\x00\x00\x00", 3)));
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(Rgb(r.bitmap, 25, 25), kBlack) << "the first row is drawn";
  EXPECT_EQ(Rgb(r.bitmap, 75, 25), kBlack);
}

TEST(RendererContent, SelfDrawingFormStillDrawsTheRestOfThePage) {
  const std::string selfForm =
      StreamObject("/Type /XObject /Subtype /Form /BBox [0 0 100 100]",
                   "0 g 0 0 10 10 re f /Me Do 0 0 1 rg 20 20 10 10 re f");
  TRendered r = RenderContent(
      PagePdf("/Me Do 1 0 0 rg 90 90 10 10 re f", "<< /XObject << /Me 4 0 R >> >>", {selfForm}));
  EXPECT_NE(r.error.find("draws itself"), std::string::npos) << r.error;
  EXPECT_EQ(Rgb(r.bitmap, 5, 95), kBlack);
  EXPECT_EQ(Rgb(r.bitmap, 25, 75), kBlue) << "the form goes on after the skipped drawing";
  EXPECT_EQ(Rgb(r.bitmap, 95, 5), kRed);
}

TEST(RendererContent, ContentArrayIsJoinedWithoutSeparator) {
  // "0 0 1" + "0 rg" reads as "0 0 10 rg": a colour of 10 is clipped to full.
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 100] /Contents [4 0 R 5 0 R] >>",
      StreamObject("", "0 0 1"),
      StreamObject("", "0 rg 0 0 100 100 re f")};
  TRendered r = RenderContent(MakePdf(objects));
  EXPECT_EQ(Rgb(r.bitmap, 50, 50), kBlue);
}

TEST(RendererContent, LineWidthZeroIsOneDevicePixel) {
  // A hairline at 300 dpi darkens about one pixel row, not four.
  TRendered r = RenderContent(PagePdf("0 w 0 g 0 50.1 m 100 50.1 l S"), false, 300);
  int dark = 0;
  for (int y = 0; y < r.bitmap.Height(); ++y)
    if (Rgb(r.bitmap, 200, y) != kWhite) ++dark;
  EXPECT_GE(dark, 1);
  EXPECT_LE(dark, 2);
}

}  // namespace
