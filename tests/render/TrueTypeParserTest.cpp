// TrueType parser against FreeType: for every glyph of the installed TrueType
// fonts and of the TrueType programs embedded in the corpus, the outline
// (points and on-curve flags, composites resolved) equals FreeType's unhinted
// outline, the advances equal hmtx as FreeType reads it, and the Unicode
// character map and the glyph names agree.
#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_ADVANCES_H

#include <cmath>
#include <filesystem>
#include <sstream>

#include "TestSupport.h"
#include "render/PavonaTrueTypeParser.h"

namespace {

struct FreeTypeLibrary {
  FT_Library lib = nullptr;
  FreeTypeLibrary() { FT_Init_FreeType(&lib); }
  ~FreeTypeLibrary() { FT_Done_FreeType(lib); }
};

struct Report {
  int glyphs = 0;
  int compared = 0;
  std::vector<std::string> problems;
  void add(const std::string& s) {
    if (problems.size() < 20) problems.push_back(s);
  }
};

// Compares one face; returns false when FreeType cannot open it.
bool compareWithFreeType(const std::string& bytes, int faceIndex, Report& report) {
  static FreeTypeLibrary ft;
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(ft.lib, reinterpret_cast<const FT_Byte*>(bytes.data()), static_cast<FT_Long>(bytes.size()),
                         faceIndex, &face) != 0)
    return false;
  TPDFTrueTypeParser parser;
  parser.LoadFromString(bytes);
  EXPECT_EQ(parser.GetGlyphCount(), face->num_glyphs);
  EXPECT_EQ(parser.GetUnitsPerEm(), face->units_per_EM);
  for (FT_Long g = 0; g < face->num_glyphs; ++g) {
    ++report.glyphs;
    if (FT_Load_Glyph(face, static_cast<FT_UInt>(g), FT_LOAD_NO_SCALE) != 0) continue;
    ++report.compared;
    const FT_Outline& o = face->glyph->outline;
    TPDFGlyphOutline ours;
    bool ok = parser.GetGlyphOutline(static_cast<int32_t>(g), ours);
    std::ostringstream where;
    where << "glyph " << g << ": ";
    if (!ok || ours.Points.size() != static_cast<size_t>(o.n_points) ||
        ours.EndPoints.size() != static_cast<size_t>(o.n_contours)) {
      report.add(where.str() + "points " + std::to_string(ours.Points.size()) + " vs " + std::to_string(o.n_points) +
                 ", contours " + std::to_string(ours.EndPoints.size()) + " vs " + std::to_string(o.n_contours));
      continue;
    }
    for (int c = 0; c < o.n_contours; ++c)
      if (ours.EndPoints[static_cast<size_t>(c)] != static_cast<uint32_t>(o.contours[c])) {
        report.add(where.str() + "contour end");
        break;
      }
    for (int p = 0; p < o.n_points; ++p) {
      const auto& q = ours.Points[static_cast<size_t>(p)];
      // Scaled components are rounded by FreeType's fixed-point arithmetic.
      if (std::fabs(q.X - o.points[p].x) > 1.0 || std::fabs(q.Y - o.points[p].y) > 1.0 ||
          q.OnCurve != ((o.tags[p] & 1) != 0)) {
        report.add(where.str() + "point " + std::to_string(p) + " (" + std::to_string(q.X) + "," +
                   std::to_string(q.Y) + ") vs (" + std::to_string(o.points[p].x) + "," +
                   std::to_string(o.points[p].y) + ")");
        break;
      }
    }
    FT_Fixed advance = 0;  // hmtx as FreeType reads it (no glyph-program adjustments)
    FT_Get_Advance(face, static_cast<FT_UInt>(g), FT_LOAD_NO_SCALE, &advance);
    if (parser.GetAdvanceUnits(static_cast<int32_t>(g)) != advance)
      report.add(where.str() + "advance " + std::to_string(parser.GetAdvanceUnits(static_cast<int32_t>(g))) + " vs " +
                 std::to_string(advance));
    if (FT_HAS_GLYPH_NAMES(face) && g < parser.GetGlyphNameCount()) {
      char name[256] = {};
      if (FT_Get_Glyph_Name(face, static_cast<FT_UInt>(g), name, sizeof name) == 0 && name[0] &&
          parser.GetGlyphName(static_cast<int32_t>(g)) != name)
        report.add(where.str() + "name " + std::string(parser.GetGlyphName(static_cast<int32_t>(g))) + " vs " + name);
    }
  }
  // Every character map FreeType reads (3,x and 1,0): the glyph of every code.
  for (int m = 0; m < face->num_charmaps; ++m) {
    FT_CharMap cm = face->charmaps[m];
    int32_t sub = parser.FindCmapSubtable(cm->platform_id, cm->encoding_id);
    if (sub < 0 || FT_Set_Charmap(face, cm) != 0) continue;
    const uint32_t top = parser.GetCmapSubtable(sub).Format == 12 ? 0x10FFFF : 0xFFFE;
    for (uint32_t code = 0; code <= top; code += (code < 0x10000 ? 1 : 97)) {
      int32_t ours = std::max(parser.CmapLookup(sub, code), 0);
      if (ours >= face->num_glyphs) ours = 0;  // FreeType hides indexes beyond the font
      FT_UInt theirs = FT_Get_Char_Index(face, code);
      if (static_cast<FT_UInt>(ours) != theirs) {
        report.add("cmap (" + std::to_string(cm->platform_id) + "," + std::to_string(cm->encoding_id) + ") code " +
                   std::to_string(code) + ": " + std::to_string(ours) + " vs " + std::to_string(theirs));
        break;
      }
    }
  }
  FT_Done_Face(face);
  return true;
}

std::vector<std::string> installedTrueTypeFonts() {
  std::vector<std::string> files;
  const std::filesystem::path root = "/usr/share/fonts/truetype";
  if (!std::filesystem::exists(root)) return files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file() && e.path().extension() == ".ttf") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

class InstalledTrueType : public testing::TestWithParam<std::string> {};

TEST_P(InstalledTrueType, GlyphsMatchFreeType) {
  Report report;
  ASSERT_TRUE(compareWithFreeType(pvltest::ReadFile(GetParam()), 0, report));
  EXPECT_GT(report.compared, 0);
  for (const auto& p : report.problems) ADD_FAILURE() << GetParam() << ": " << p;
}

INSTANTIATE_TEST_SUITE_P(Fonts, InstalledTrueType, testing::ValuesIn(installedTrueTypeFonts()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = std::filesystem::path(info.param).stem().string();
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// The corpus holds at least this many embedded TrueType programs.
constexpr int kCorpusTrueTypeFonts = 40;

int ttfCount(const std::string& dir) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) n += e.path().extension() == ".ttf";
  return n;
}

TEST(TrueTypeParser, CorpusFontsMatchFreeType) {
  if (!pvltest::HaveTool("qpdf") || !pvltest::HaveTool("python3")) GTEST_SKIP();
  // Extracted once per build folder (the corpus is read-only). The step is
  // done only when it gave the fonts: a run without the corpus, or one cut
  // short, is redone the next time instead of leaving an empty folder for
  // good. The stamp names the corpus it was made from.
  const std::string dir = std::string(PVL_BINARY_DIR) + "/corpus-fontfile2";
  const std::string stamp = dir + "/done";
  const std::vector<std::string> corpus = pvltest::CorpusPdfFiles();
  ASSERT_FALSE(corpus.empty()) << "no corpus at " << pvltest::CorpusDir();
  const std::string made = pvltest::CorpusDir() + " " + std::to_string(corpus.size()) + " files";
  if (!std::filesystem::exists(stamp) || pvltest::ReadFile(stamp) != made) {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::vector<std::string> argv = {"python3",
                                     std::string(PVL_SOURCE_DIR) + "/tests/render/scripts/extract_fontfile2.py", dir};
    argv.insert(argv.end(), corpus.begin(), corpus.end());
    ASSERT_EQ(pvltest::RunCommand(argv).exitCode, 0);
    if (ttfCount(dir) >= kCorpusTrueTypeFonts) pvltest::WriteFile(stamp, made);
  }
  int fonts = 0, opened = 0, glyphs = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.path().extension() != ".ttf") continue;
    ++fonts;
    Report report;
    if (!compareWithFreeType(pvltest::ReadFile(e.path().string()), 0, report)) {
      // FreeType refuses it; our parser must still come through unharmed.
      TPDFTrueTypeParser parser;
      parser.LoadFromString(pvltest::ReadFile(e.path().string()));
      TPDFGlyphOutline outline;
      for (int32_t g = 0; g < std::min(parser.GetGlyphCount(), 2000); ++g) parser.GetGlyphOutline(g, outline);
      continue;
    }
    ++opened;
    glyphs += report.compared;
    for (const auto& p : report.problems) ADD_FAILURE() << e.path().filename() << ": " << p;
  }
  EXPECT_GE(fonts, kCorpusTrueTypeFonts);
  EXPECT_GE(opened, kCorpusTrueTypeFonts);
  EXPECT_GT(glyphs, 1000);
}

}  // namespace
