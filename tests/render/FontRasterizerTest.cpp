// TrueType rasterizers: glyph keys, outlines against FreeType's decomposition
// of the same glyphs, system font data, and the installed-font rasterizer.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>

#include "TestSupport.h"
#include "render/PavonaFontRasterizer.h"

namespace {

struct Op {
  char kind;  // M L Q C Z
  std::vector<double> v;
};

class RecordingCanvas : public TPDFGenericCanvas {
public:
  std::vector<Op> ops;
  void BeginPath() override {}
  void MoveTo(double x, double y) override { ops.push_back({'M', {x, y}}); }
  void LineTo(double x, double y) override { ops.push_back({'L', {x, y}}); }
  void CurveTo(double a, double b, double c, double d, double e, double f) override {
    ops.push_back({'C', {a, b, c, d, e, f}});
  }
  void QuadraticCurveTo(double a, double b, double c, double d) override { ops.push_back({'Q', {a, b, c, d}}); }
  void ClosePath() override { ops.push_back({'Z', {}}); }
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
};

// FreeType's decomposition of a glyph, in the canvas operations our replay makes.
struct FreeTypeOps {
  std::vector<Op> ops;
  double scale = 1;
  static int move(const FT_Vector* to, void* u) {
    auto* self = static_cast<FreeTypeOps*>(u);
    if (!self->ops.empty()) self->ops.push_back({'Z', {}});
    self->ops.push_back({'M', {to->x * self->scale, to->y * self->scale}});
    return 0;
  }
  static int line(const FT_Vector* to, void* u) {
    auto* self = static_cast<FreeTypeOps*>(u);
    self->ops.push_back({'L', {to->x * self->scale, to->y * self->scale}});
    return 0;
  }
  static int conic(const FT_Vector* c, const FT_Vector* to, void* u) {
    auto* self = static_cast<FreeTypeOps*>(u);
    self->ops.push_back({'Q', {c->x * self->scale, c->y * self->scale, to->x * self->scale, to->y * self->scale}});
    return 0;
  }
  static int cubic(const FT_Vector*, const FT_Vector*, const FT_Vector*, void*) { return 1; }
};

std::string compareOps(const std::vector<Op>& ours, const std::vector<Op>& theirs, double tolerance) {
  if (ours.size() != theirs.size())
    return "operation count " + std::to_string(ours.size()) + " vs " + std::to_string(theirs.size());
  for (size_t i = 0; i < ours.size(); ++i) {
    if (ours[i].kind != theirs[i].kind) return "operation " + std::to_string(i) + " kind";
    for (size_t k = 0; k < ours[i].v.size(); ++k)
      if (std::fabs(ours[i].v[k] - theirs[i].v[k]) > tolerance) return "operation " + std::to_string(i) + " point";
  }
  return {};
}

TEST(TrueTypeRasterizer, EveryGlyphMatchesFreeTypeDecomposition) {
  const char* files[] = {"/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
                         "/usr/share/fonts/truetype/liberation2/LiberationSerif-BoldItalic.ttf",
                         "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  int compared = 0;
  for (const char* file : files) {
    std::string bytes = pvltest::ReadFile(file);
    TPDFTrueTypeRasterizer2 r;
    r.LoadFontData(bytes);
    FT_Face face;
    ASSERT_EQ(FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte*>(bytes.data()), FT_Long(bytes.size()), 0, &face), 0);
    FT_Outline_Funcs funcs{FreeTypeOps::move, FreeTypeOps::line, FreeTypeOps::conic, FreeTypeOps::cubic, 0, 0};
    for (FT_Long g = 0; g < face->num_glyphs; ++g) {
      if (FT_Load_Glyph(face, FT_UInt(g), FT_LOAD_NO_SCALE) != 0) continue;
      FreeTypeOps theirs;
      theirs.scale = 1000.0 / face->units_per_EM;
      FT_Outline_Decompose(&face->glyph->outline, &funcs, &theirs);
      if (!theirs.ops.empty()) theirs.ops.push_back({'Z', {}});
      RecordingCanvas canvas;
      ASSERT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "GID:" + std::to_string(g), 0, 0));
      // FreeType halves implied on-curve points in integer font units; ours are exact.
      std::string problem = compareOps(canvas.ops, theirs.ops, 0.5 * theirs.scale + 1e-9);
      if (!problem.empty()) {
        for (size_t i = 0; i < std::max(canvas.ops.size(), theirs.ops.size()) && i < 8; ++i) {
          std::string line;
          if (i < canvas.ops.size()) for (double v : canvas.ops[i].v) line += std::to_string(v) + " ";
          line += " | ";
          if (i < theirs.ops.size()) for (double v : theirs.ops[i].v) line += std::to_string(v) + " ";
          ADD_FAILURE() << line;
        }
      }
      ASSERT_TRUE(problem.empty()) << file << " glyph " << g << ": " << problem;
      ++compared;
    }
    FT_Done_Face(face);
  }
  FT_Done_FreeType(lib);
  EXPECT_GT(compared, 5000);
}

TEST(TrueTypeRasterizer, KeysSelectTheSameGlyph) {
  TPDFTrueTypeRasterizer2 r;
  r.LoadFontData(pvltest::ReadFile("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"));
  const TPDFTrueTypeParser& p = r.GetParser();
  int32_t a = p.FindGlyphName("A");
  ASSERT_GT(a, 0);
  for (const char* key : {"A", "U+0041", "PS:A"}) EXPECT_EQ(r.FindGlyphIndex(key), a) << key;
  EXPECT_EQ(r.FindGlyphIndex(("GID:" + std::to_string(a)).c_str()), a);
  EXPECT_EQ(r.FindGlyphIndex("Aacute"), p.FindGlyphName("Aacute"));
  EXPECT_EQ(r.FindGlyphIndex("no-such-glyph"), 0);
  EXPECT_EQ(r.FindGlyphIndex("GID:x"), 0);
  // Drawing: translated by (x, y) in glyph space, then mapped by the matrix; cached afterwards.
  RecordingCanvas plain, moved;
  ASSERT_TRUE(r.DrawGlyph(&plain, IdentityMatrix, "A", 0, 0));
  ASSERT_TRUE(r.DrawGlyph(&moved, TPDFMatrix{2, 0, 0, 2, 5, 7}, "A", 10, 20));
  ASSERT_EQ(plain.ops.size(), moved.ops.size());
  ASSERT_FALSE(plain.ops.empty());
  EXPECT_EQ(plain.ops[0].kind, 'M');
  EXPECT_DOUBLE_EQ(moved.ops[0].v[0], (plain.ops[0].v[0] + 10) * 2 + 5);
  EXPECT_DOUBLE_EQ(moved.ops[0].v[1], (plain.ops[0].v[1] + 20) * 2 + 7);
  // The missing glyph for index 0; nothing past the font, which holds no such glyph.
  RecordingCanvas none;
  EXPECT_FALSE(r.DrawGlyph(&none, IdentityMatrix, "GID:999999", 0, 0));
  EXPECT_TRUE(none.ops.empty());
  EXPECT_TRUE(r.DrawGlyph(nullptr, IdentityMatrix, "GID:0", 0, 0));
  // Advances for names the font knows; others untouched.
  TPDFGlyphNames names;
  names.fill("nosuch");
  names[65] = "A";
  std::array<double, 256> widths;
  widths.fill(-1);
  r.GetWidths(names, widths);
  EXPECT_EQ(widths[65], 1366 * 1000 / 2048);
  EXPECT_EQ(widths[66], -1);
  // An empty rasterizer draws nothing.
  TPDFTrueTypeRasterizer2 empty;
  empty.LoadFontData("not a font");
  EXPECT_FALSE(empty.DrawGlyph(&none, IdentityMatrix, "A", 0, 0));
}

// A symbolic font whose (3,0) map holds 0xF041 finds that glyph for "CID:65".
TEST(TrueTypeRasterizer, SymbolicFontsUseTheLowByte) {
  TPDFTrueTypeRasterizer2 r;
  // DejaVu Sans has no (3,0) map; a symbolic flag then still finds codes through (3,1) by low byte.
  r.LoadFontData(pvltest::ReadFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  r.SetFlags(4);
  EXPECT_TRUE(r.SymbolicFont);
  const TPDFTrueTypeParser& p = r.GetParser();
  // (3,0) first, then (1,0), then (3,1).
  int32_t mac = p.FindCmapSubtable(1, 0);
  ASSERT_GE(mac, 0);
  EXPECT_EQ(r.FindGlyphIndex("CID:65"), p.CmapLookupLowByte(mac, 65));
  EXPECT_GT(r.FindGlyphIndex("CID:65"), 0);
  r.SetFlags(0);
  EXPECT_FALSE(r.SymbolicFont);
}

TEST(TrueTypeRasterizer, SystemFontData) {
  TPDFTrueTypeRasterizer2 r;
  MapFontNameToSystemFont("Helvetica-Bold", 0, r.GetFont());
  r.LoadSystemFontData();
  EXPECT_FALSE(r.HasCFF);
  EXPECT_TRUE(r.FontData.empty());
  EXPECT_GT(r.GetParser().GetGlyphCount(), 100);
  EXPECT_GT(r.GetParser().FindGlyphName("A"), 0);
  RecordingCanvas canvas;
  EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "A", 0, 0));
  EXPECT_FALSE(canvas.ops.empty());
  // A face with CFF outlines keeps its bytes for the CFF reader.
  TPDFTrueTypeRasterizer2 cff;
  cff.GetFont().Name = "Nimbus Sans";
  cff.LoadSystemFontData();
  EXPECT_TRUE(cff.HasCFF);
  EXPECT_EQ(cff.FontData.substr(0, 4), "OTTO");
}

TEST(SimpleTrueTypeRasterizer, InstalledGlyphsByIndex) {
  TPDFSimpleTrueTypeRasterizer r;
  r.GetFont().Name = "DejaVu Sans";
  RecordingCanvas canvas;
  EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "GID:36", 0, 0));  // "A"
  ASSERT_FALSE(canvas.ops.empty());
  EXPECT_EQ(canvas.ops.front().kind, 'M');
  EXPECT_EQ(canvas.ops.back().kind, 'Z');
  double top = 0;
  for (const Op& op : canvas.ops)
    for (size_t k = 1; k < op.v.size(); k += 2) top = std::max(top, op.v[k]);
  EXPECT_NEAR(top, 729, 2);  // the cap height of DejaVu Sans in 1/1000 em
  RecordingCanvas none;
  EXPECT_FALSE(r.DrawGlyph(&none, IdentityMatrix, "U+0041", 0, 0));
  EXPECT_FALSE(r.DrawGlyph(&none, IdentityMatrix, "CID:0", 0, 0));
  EXPECT_TRUE(none.ops.empty());
  EXPECT_EQ(r.GetGlyphScale(), 1.0);
}

}  // namespace
