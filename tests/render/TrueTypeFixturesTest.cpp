// TrueType parser on small fonts built here: the table layouts the parser
// reads, and damaged fonts that must give errors for a glyph, never a crash.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <utility>
#include <vector>

#include "render/PavonaFontRasterizer.h"
#include "render/PavonaTrueTypeParser.h"

namespace {

struct Bytes {
  std::string s;
  Bytes& u8(int v) { return s.push_back(static_cast<char>(v)), *this; }
  Bytes& u16(int v) { return u8((v >> 8) & 0xFF).u8(v & 0xFF); }
  Bytes& u32(uint32_t v) { return u16(int(v >> 16)).u16(int(v & 0xFFFF)); }
  Bytes& raw(const std::string& b) { return s += b, *this; }
};

// An sfnt with the given tables (tags sorted by the caller's map order).
std::string buildFont(const std::map<std::string, std::string>& tables, uint32_t version = 0x00010000) {
  Bytes out;
  out.u32(version).u16(static_cast<int>(tables.size())).u16(0).u16(0).u16(0);
  uint32_t offset = 12 + 16 * static_cast<uint32_t>(tables.size());
  std::string body;
  for (const auto& [tag, data] : tables) {
    out.raw(tag).u32(0).u32(offset + static_cast<uint32_t>(body.size())).u32(static_cast<uint32_t>(data.size()));
    body += data;
    while (body.size() % 4) body.push_back('\0');
  }
  return out.s + body;
}

std::string head(int unitsPerEm, int locFormat) {
  Bytes b;
  b.u32(0x00010000).u32(0x00010000).u32(0).u32(0x5F0F3CF5).u16(0).u16(unitsPerEm);
  b.u32(0).u32(1).u32(0).u32(2).u16(0).u16(0).u16(100).u16(100).u16(0).u16(8).u16(2).u16(locFormat).u16(0);
  return b.s;
}
std::string maxp(int glyphs) { return Bytes().u32(0x00005000).u16(glyphs).s; }

// A square as a simple glyph: flags 0x09 0x02 repeat one on-curve flag over 4 points.
std::string squareGlyph() {
  Bytes g;
  g.u16(1).u16(0).u16(0).u16(10).u16(10);  // one contour, bbox
  g.u16(3).u16(0);                         // end point 3, no instructions
  g.u8(0x09).u8(3);                        // on-curve, repeated 3 more times
  // x: 0, +10, 0, -10; y: 0, 0, +10, 0 as int16 deltas
  g.u16(0).u16(10).u16(0).u16(static_cast<uint16_t>(-10));
  g.u16(0).u16(0).u16(10).u16(0);
  return g.s;
}

std::string locaShort(std::initializer_list<int> offsets) {
  Bytes b;
  for (int o : offsets) b.u16(o / 2);
  return b.s;
}

TEST(TrueTypeFixtures, SimpleGlyphAndShortLoca) {
  std::string glyf = squareGlyph();
  std::string font = buildFont({{"glyf", glyf}, {"head", head(1000, 0)}, {"loca", locaShort({0, 0, int(glyf.size())})},
                                {"maxp", maxp(2)}});
  TPDFTrueTypeParser p;
  p.LoadFromString(font);
  EXPECT_EQ(p.GetGlyphCount(), 2);
  EXPECT_EQ(p.GetUnitsPerEm(), 1000);
  EXPECT_EQ(p.GetGlyph(0).NumberOfContours, 0);
  TPDFTrueTypeGlyph g = p.GetGlyph(1);
  ASSERT_EQ(g.NumberOfContours, 1);
  ASSERT_EQ(g.Points.size(), 4u);
  EXPECT_EQ(g.Flags, (std::vector<uint8_t>{1, 1, 1, 1}));
  EXPECT_EQ(g.Points[2].X, 10);
  EXPECT_EQ(g.Points[2].Y, 10);
  EXPECT_EQ(g.Points[3].X, 0);
  EXPECT_EQ(p.GetGlyph(2).NumberOfContours, 0);
  EXPECT_EQ(p.GetGlyph(-1).NumberOfContours, 0);
  EXPECT_EQ(p.GetAdvance(1), 750);  // no hmtx
}

TEST(TrueTypeFixtures, CompositesResolveAndStayBounded) {
  std::string square = squareGlyph();
  auto component = [](int flags, int glyph, int a, int b) {
    Bytes c;
    c.u16(flags).u16(glyph);
    if (flags & 1) c.u16(a).u16(b);
    else c.u8(a).u8(b);
    return c.s;
  };
  // Glyph 1: square. Glyph 2: square + square moved by (100, 0) (words, more components).
  std::string g2 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0023, 1, 0, 0) +
                   component(0x0003, 1, 100, 0);
  // Glyph 3: scaled by 0.5 (flag 0x08).
  std::string g3 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x000A, 1, 0, 0) +
                   Bytes().u16(0x2000).s;
  // Glyph 4 refers to itself; glyph 5 to glyph 6, which refers to glyph 5.
  std::string g4 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0002, 4, 0, 0);
  std::string g5 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0002, 6, 0, 0);
  std::string g6 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0002, 5, 0, 0);
  // Glyph 7: point matching, square's point 0 on glyph 2's point 6 (110, 10).
  std::string g7 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0022, 2, 0, 0) +
                   component(0x0000, 1, 6, 0);
  // Glyph 8: point matching with a point number beyond the outline.
  std::string g8 = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s + component(0x0000, 1, 50, 0);
  std::vector<std::string> glyphs = {"", square, g2, g3, g4, g5, g6, g7, g8};
  std::string glyf;
  Bytes loca;
  for (const auto& g : glyphs) {
    loca.u32(static_cast<uint32_t>(glyf.size()));
    glyf += g;
    while (glyf.size() % 4) glyf.push_back('\0');
  }
  loca.u32(static_cast<uint32_t>(glyf.size()));
  TPDFTrueTypeParser p;
  p.LoadFromString(buildFont({{"glyf", glyf}, {"head", head(2048, 1)}, {"loca", loca.s}, {"maxp", maxp(9)}}));
  TPDFTrueTypeGlyph record = p.GetGlyph(2);
  ASSERT_EQ(record.Components.size(), 2u);
  EXPECT_EQ(record.Components[1].Dx, 100);
  TPDFGlyphOutline o;
  ASSERT_TRUE(p.GetGlyphOutline(2, o));
  ASSERT_EQ(o.Points.size(), 8u);
  EXPECT_EQ(o.EndPoints, (std::vector<uint32_t>{3, 7}));
  EXPECT_EQ(o.Points[5].X, 110);
  ASSERT_TRUE(p.GetGlyphOutline(3, o));
  EXPECT_EQ(o.Points[2].X, 5);
  EXPECT_EQ(o.Points[2].Y, 5);
  EXPECT_FALSE(p.GetGlyphOutline(4, o));
  EXPECT_TRUE(o.Points.empty());
  EXPECT_FALSE(p.GetGlyphOutline(5, o));
  ASSERT_TRUE(p.GetGlyphOutline(7, o));
  ASSERT_EQ(o.Points.size(), 12u);
  EXPECT_EQ(o.Points[8].X, 110);
  EXPECT_EQ(o.Points[8].Y, 10);
  EXPECT_FALSE(p.GetGlyphOutline(8, o));
}

TEST(TrueTypeFixtures, DeepCompositeChainsAreCut) {
  // Glyph i (1..40) uses glyph i+1 twice; glyph 41 is the square: 2^40 points if unbounded.
  std::string glyf;
  Bytes loca;
  loca.u32(0).u32(0);  // glyph 0 is empty
  for (int i = 1; i <= 41; ++i) {
    std::string g;
    if (i == 41) {
      g = squareGlyph();
    } else {
      g = Bytes().u16(0xFFFF).u16(0).u16(0).u16(0).u16(0).s;
      g += Bytes().u16(0x0022).u16(i + 1).u8(0).u8(0).s + Bytes().u16(0x0002).u16(i + 1).u8(0).u8(0).s;
    }
    glyf += g;
    loca.u32(static_cast<uint32_t>(glyf.size()));
  }
  TPDFTrueTypeParser p;
  p.LoadFromString(buildFont({{"glyf", glyf}, {"head", head(2048, 1)}, {"loca", loca.s}, {"maxp", maxp(42)}}));
  TPDFGlyphOutline o;
  EXPECT_FALSE(p.GetGlyphOutline(1, o));
  EXPECT_TRUE(p.GetGlyphOutline(30, o));  // 2^11 squares: within the bounds
  EXPECT_EQ(o.Points.size(), 4u << 11);
}

TEST(TrueTypeFixtures, PostNamesAndCmapFormats) {
  // post 2.0 for 3 glyphs: .notdef, "A" (standard 36), first custom string.
  Bytes post;
  post.u32(0x00020000).u32(0).u16(0).u16(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  post.u16(3).u16(0).u16(36).u16(258).u8(5).raw("hello");
  // cmap: (3,1) format 4 with one segment [0x20..0x7E] idDelta -29, plus the end segment;
  // (1,0) format 0; (3,0) format 6 from 0xF041; (3,10) format 12.
  Bytes f4;
  f4.u16(4).u16(32).u16(0).u16(4).u16(0).u16(0).u16(0);
  f4.u16(0x7E).u16(0xFFFF).u16(0).u16(0x20).u16(0xFFFF).u16(static_cast<uint16_t>(-29)).u16(1).u16(0).u16(0);
  Bytes f0;
  f0.u16(0).u16(262).u16(0);
  for (int i = 0; i < 256; ++i) f0.u8(i == 'A' ? 1 : 0);
  Bytes f6;
  f6.u16(6).u16(14).u16(0).u16(0xF041).u16(2).u16(1).u16(2);
  Bytes f12;
  f12.u16(12).u16(0).u32(28).u32(0).u32(1).u32(0x1F600).u32(0x1F602).u32(1);
  Bytes cmap;
  const uint32_t dir = 4 + 8 * 4;
  cmap.u16(0).u16(4);
  cmap.u16(3).u16(1).u32(dir);
  cmap.u16(1).u16(0).u32(dir + static_cast<uint32_t>(f4.s.size()));
  cmap.u16(3).u16(0).u32(dir + static_cast<uint32_t>(f4.s.size() + f0.s.size()));
  cmap.u16(3).u16(10).u32(dir + static_cast<uint32_t>(f4.s.size() + f0.s.size() + f6.s.size()));
  cmap.raw(f4.s).raw(f0.s).raw(f6.s).raw(f12.s);
  Bytes hhea;
  hhea.u32(0x00010000).u16(800).u16(static_cast<uint16_t>(-200)).u16(0).u16(1000);
  for (int i = 0; i < 11; ++i) hhea.u16(0);
  hhea.u16(2);
  Bytes hmtx;
  hmtx.u16(500).u16(0).u16(1000).u16(0).u16(7);
  TPDFTrueTypeParser p;
  p.LoadFromString(buildFont({{"cmap", cmap.s},
                              {"head", head(2000, 0)},
                              {"hhea", hhea.s},
                              {"hmtx", hmtx.s},
                              {"maxp", maxp(3)},
                              {"post", post.s}}));
  EXPECT_EQ(p.GetGlyphName(1), "A");
  EXPECT_EQ(p.GetGlyphName(2), "hello");
  EXPECT_EQ(p.FindGlyphName("hello"), 2);
  EXPECT_EQ(p.FindGlyphName("B"), -1);
  int32_t unicode = p.FindCmapSubtable(3, 1);
  ASSERT_GE(unicode, 0);
  EXPECT_EQ(p.CmapLookup(unicode, 0x41), 36);
  EXPECT_EQ(p.CmapLookup(unicode, 0x7F), -1);
  EXPECT_EQ(p.CmapCodeCount(unicode), 0x5Fu);
  int32_t mac = p.FindCmapSubtable(1, 0);
  EXPECT_EQ(p.CmapCodeCount(mac), 256u);
  EXPECT_EQ(p.CmapLookup(mac, 'A'), 1);
  int32_t symbol = p.FindCmapSubtable(3, 0);
  EXPECT_EQ(p.CmapLookup(symbol, 0xF041), 1);
  EXPECT_EQ(p.CmapLookupLowByte(symbol, 0x41), 1);
  EXPECT_EQ(p.CmapLookupLowByte(symbol, 0x43), -1);
  int32_t full = p.FindCmapSubtable(3, 10);
  EXPECT_EQ(p.CmapLookup(full, 0x1F601), 2);
  EXPECT_EQ(p.FindCmapSubtable(0, 3), -1);
  EXPECT_EQ(p.Ascender, 400);
  EXPECT_EQ(p.Descender, -100);
  EXPECT_EQ(p.GetAdvance(0), 250);
  EXPECT_EQ(p.GetAdvance(1), 500);
  EXPECT_EQ(p.GetAdvance(2), 500);  // past the metrics: the last advance
  EXPECT_EQ(p.GetLeftSideBearing(2), 7);
}

TEST(TrueTypeFixtures, PostNamesByFormatAndLookup) {
  // The three post formats that carry names; the last glyph of a name given
  // twice is the one found; a number past the table's own strings names nothing.
  Bytes v2;
  v2.u32(0x00020000).u32(0).u16(0).u16(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  v2.u16(5).u16(0).u16(36).u16(258).u16(258).u16(300).u8(5).raw("hello").u8(2).raw("zz");
  Bytes v1;
  v1.u32(0x00010000).u32(0).u16(0).u16(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  Bytes v25;  // glyph i is named by standard name i + offset
  v25.u32(0x00025000).u32(0).u16(0).u16(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  v25.u8(0).u8(35).u8(35).u8(0).u8(static_cast<uint8_t>(-4));
  struct Case {
    const char* name;
    const std::string* post;
    int glyphs;
    std::vector<std::string> names;
    std::vector<std::pair<std::string, int32_t>> lookups;
  };
  const Case cases[] = {
      {"2.0", &v2.s, 5, {".notdef", "A", "hello", "hello", ""}, {{"hello", 3}, {"A", 1}, {"zz", -1}, {"", -1}}},
      {"1.0", &v1.s, 300, {".notdef", ".null"}, {{"A", 36}, {"dcroat", 257}, {"hello", -1}}},
      {"2.5", &v25.s, 5, {".notdef", "A", "B", "space", ".notdef"}, {{"B", 2}, {".notdef", 4}, {".null", -1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPDFTrueTypeParser p;
    p.LoadFromString(buildFont({{"head", head(1000, 0)}, {"maxp", maxp(c.glyphs)}, {"post", *c.post}}));
    ASSERT_EQ(p.GetGlyphNameCount(), c.glyphs);
    for (size_t g = 0; g < c.names.size(); ++g) EXPECT_EQ(p.GetGlyphName(static_cast<int32_t>(g)), c.names[g]) << g;
    for (const auto& [name, glyph] : c.lookups) EXPECT_EQ(p.FindGlyphName(name), glyph) << name;
    EXPECT_THROW(p.GetGlyphName(c.glyphs), std::out_of_range);
  }
}

TEST(TrueTypeFixtures, DirectoryOnlyCollectionsAndCFF) {
  std::string font = buildFont({{"CFF ", "xxxx"}, {"head", head(1000, 0)}, {"maxp", maxp(0)}}, 0x4F54544F);
  TPDFTrueTypeParser p;
  p.LoadFromString(font);
  EXPECT_GT(p.GetCFFTableOffset(), 0u);
  EXPECT_EQ(p.GetTableData("CFF "), "xxxx");
  // Inside a collection at offset 100, table offsets count from the collection's start.
  std::string rebased = std::string(100, 'x') + font;
  std::string copy = font;
  TPDFTrueTypeParser::RebaseTableOffsets(copy, static_cast<uint32_t>(-100));  // offsets + 100
  TPDFTrueTypeParser q;
  q.CollectionOffset = 100;
  q.LoadFromString(copy);
  EXPECT_EQ(q.GetTableData("CFF "), "xxxx");
  TPDFTrueTypeParser r;
  r.OffsetsOnly = true;
  r.LoadFromString(font);
  EXPECT_EQ(r.GetTables().size(), 3u);
  EXPECT_EQ(r.GetGlyphCount(), 0);
  TPDFTrueTypeParser notFont;
  notFont.LoadFromString("%PDF-1.4 not a font");
  EXPECT_TRUE(notFont.GetTables().empty());
  notFont.LoadFromString("");
  EXPECT_EQ(notFont.GetUnitsPerEm(), 2048);
}

// Every prefix of a real-looking font, and every byte flipped, parses without
// harm (ASan checks the reads).
TEST(TrueTypeFixtures, DamagedFontsAreHarmless) {
  std::string glyf = squareGlyph();
  std::string font = buildFont({{"glyf", glyf}, {"head", head(1000, 0)}, {"loca", locaShort({0, 0, int(glyf.size())})},
                                {"maxp", maxp(2)}});
  TPDFGlyphOutline o;
  for (size_t cut = 0; cut <= font.size(); ++cut) {
    TPDFTrueTypeParser p;
    p.LoadFromString(std::string_view(font).substr(0, cut));
    for (int32_t g = -1; g < 3; ++g) p.GetGlyphOutline(g, o);
  }
  for (size_t i = 0; i < font.size(); ++i) {
    for (int v : {0x00, 0x7F, 0xFF}) {
      std::string bad = font;
      bad[i] = static_cast<char>(v);
      TPDFTrueTypeParser p;
      p.LoadFromString(bad);
      for (int32_t g = 0; g < std::min(p.GetGlyphCount(), 8); ++g) p.GetGlyphOutline(g, o);
      p.GetAdvance(0);
    }
  }
  // A glyph whose contour ends go backwards is damaged.
  Bytes g;
  g.u16(2).u16(0).u16(0).u16(0).u16(0).u16(3).u16(1).u16(0).u8(0x31).u8(0x31).u8(0x31).u8(0x31);
  TPDFTrueTypeParser p;
  p.LoadFromString(buildFont({{"glyf", g.s}, {"head", head(1000, 0)}, {"loca", locaShort({0, int(g.s.size())})},
                              {"maxp", maxp(1)}}));
  EXPECT_EQ(p.GetGlyph(0).NumberOfContours, 0);
  EXPECT_FALSE(p.GetGlyphOutline(0, o));
}

// Rasterizer keys on fixture fonts: "U+" through post names when there is no
// Unicode map, a symbolic font's (3,0) map by low byte, and contours made only
// of off-curve points.
TEST(TrueTypeFixtures, RasterizerKeysAndOffCurveContours) {
  // Glyph 36 ("A" in the standard Macintosh order of post 1.0): four off-curve points.
  Bytes a;
  a.u16(1).u16(0).u16(0).u16(100).u16(100).u16(3).u16(0);
  a.u8(0x00).u8(0x00).u8(0x00).u8(0x00);      // all off the curve, int16 deltas
  a.u16(0).u16(100).u16(0).u16(static_cast<uint16_t>(-100));  // x: 0 100 100 0
  a.u16(0).u16(0).u16(100).u16(0);                              // y: 0 0 100 100
  std::string glyf;
  Bytes loca;
  for (int g = 0; g <= 40; ++g) {
    loca.u32(static_cast<uint32_t>(glyf.size()));
    if (g == 36) glyf += a.s;
  }
  Bytes post;
  post.u32(0x00010000).u32(0).u16(0).u16(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  // (3,0) format 6 mapping 0xF041 to glyph 36.
  Bytes cmap;
  cmap.u16(0).u16(1).u16(3).u16(0).u32(12).u16(6).u16(12).u16(0).u16(0xF041).u16(1).u16(36);
  std::string font = buildFont({{"cmap", cmap.s}, {"glyf", glyf}, {"head", head(1000, 1)}, {"loca", loca.s},
                                {"maxp", maxp(40)}, {"post", post.s}});
  TPDFTrueTypeRasterizer2 r;
  r.LoadFontData(font);
  EXPECT_EQ(r.FindGlyphIndex("U+0041"), 36);
  EXPECT_EQ(r.FindGlyphIndex("CID:65"), 0);  // not symbolic: no low-byte search
  r.SetFlags(4);
  EXPECT_EQ(r.FindGlyphIndex("CID:65"), 36);
  struct Canvas : TPDFGenericCanvas {
    std::string ops;
    void BeginPath() override {}
    void MoveTo(double x, double y) override { ops += "M" + std::to_string(int(x)) + "," + std::to_string(int(y)) + " "; }
    void LineTo(double x, double y) override { ops += "L" + std::to_string(int(x)) + "," + std::to_string(int(y)) + " "; }
    void CurveTo(double, double, double, double, double, double) override { ops += "C "; }
    void QuadraticCurveTo(double, double, double x, double y) override {
      ops += "Q" + std::to_string(int(x)) + "," + std::to_string(int(y)) + " ";
    }
    void ClosePath() override { ops += "Z"; }
    void StrokePath() override {}
    void FillPath() override {}
    void FillAndStrokePath() override {}
    void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
  } canvas;
  ASSERT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "GID:36", 0, 0));
  // Starts between the last and the first point; curves through the midpoints.
  EXPECT_EQ(canvas.ops, "M0,50 Q50,0 Q100,50 Q50,100 Q0,50 Z");
}

}  // namespace
