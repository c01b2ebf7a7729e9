// Every glyph of the installed URW base-35 fonts (Type 1 and OpenType CFF)
// and of the Type 1 / CFF programs embedded in the corpus PDFs, decoded by
// TPDFType1Decoder and compared with FreeType's unhinted, unscaled outline
// (within 0.5 font units per point) and advance width.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "GlyphOutlineOracle.h"
#include "TestSupport.h"
#include "render/PavonaType1.h"

using namespace glyphoracle;

namespace {

constexpr double kTolerance = 0.5;
const char* const kType1Dir = "/usr/share/fonts/type1/urw-base35";
const char* const kOpenTypeDir = "/usr/share/fonts/opentype/urw-base35";

std::vector<std::string> FilesIn(const std::string& dir, const std::string& ext) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ext) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Lengths of the clear-text part, the binary eexec part and the trailer of a
// Type 1 program file (the form these files and PDF FontFile streams share).
bool SplitType1File(const std::string& data, int64_t& l1, int64_t& l2, int64_t& l3) {
  size_t e = data.find("eexec");
  if (e == std::string::npos) return false;
  size_t p = e + 5;
  while (p < data.size() && (data[p] == '\r' || data[p] == '\n' || data[p] == ' ' || data[p] == '\t')) ++p;
  size_t mark = data.rfind("cleartomark");
  if (mark == std::string::npos || mark < p) return false;
  size_t q = mark;
  while (q > p && (data[q - 1] == '0' || data[q - 1] == '\r' || data[q - 1] == '\n' || data[q - 1] == ' ')) --q;
  l1 = static_cast<int64_t>(p);
  l2 = static_cast<int64_t>(q - p);
  l3 = static_cast<int64_t>(data.size() - q);
  return true;
}

double Type1Width(const TPavonaStringList& ops) {
  for (int32_t i = 0; i < ops.GetCount(); ++i) {
    const std::string& e = ops.GetString(i);
    if (e.rfind("hsbw(", 0) == 0) return std::stod(e.substr(e.find(',') + 1));
    if (e.rfind("sbw(", 0) == 0) {
      size_t c = e.find(',', e.find(',') + 1);
      return std::stod(e.substr(c + 1));
    }
  }
  return -1;
}

struct FontReport {
  int glyphs = 0;
  int mismatches = 0;
  std::string first;
  void note(const std::string& what) {
    if (mismatches++ < 5) first += what + "\n";
  }
};

// Type 1 program: glyphs matched by name.
FontReport CheckType1(const std::string& data, int64_t l1, int64_t l2, int64_t l3) {
  FontReport rep;
  TPDFType1Decoder dec;
  dec.SplitFontData(data, l1, l2, l3);
  dec.ParseCleartext();
  dec.ParsePrivate();
  FreeTypeFont ft(data.substr(0, static_cast<size_t>(l1 + l2 + l3)));
  if (!ft.Ok()) {
    rep.note("FreeType cannot open the font");
    return rep;
  }
  // FreeType applies a program FontMatrix that is more than a scale (an
  // oblique made by skewing), as the decoder does; both leave the outline in
  // the program's units, so the decoder's scale to 1/1000 em is undone here.
  const double scale = dec.GetGlyphScale();
  const TPDFMatrix programMatrix{1 / scale, 0, 0, 1 / scale, 0, 0};
  const auto& names = dec.GetGlyphNames();
  if (names.GetCount() != ft.GlyphCount())
    rep.note("glyph count " + std::to_string(names.GetCount()) + " vs " + std::to_string(ft.GlyphCount()));
  for (int32_t g = 0; g < names.GetCount(); ++g) {
    const std::string& name = names.GetString(g);
    int gid = ft.IndexOfName(name);
    if (ft.GlyphName(gid) != name) {
      rep.note(name + ": unknown to FreeType");
      continue;
    }
    Outline theirs;
    double advance = 0;
    if (!ft.Load(gid, theirs, advance)) continue;  // FreeType rejects the glyph: nothing to compare
    ++rep.glyphs;
    RecordingCanvas canvas;
    dec.DrawGlyph(&canvas, programMatrix, name, 0, 0);
    std::string diff = Compare(canvas.Result(), theirs, kTolerance);
    if (!diff.empty()) rep.note(name + ": " + diff);
    double width = Type1Width(dec.GetOpList());
    if (std::fabs(width - advance) >= 1)
      rep.note(name + ": width " + std::to_string(width) + " vs " + std::to_string(advance));
  }
  return rep;
}

// The "CFF " table of an OpenType font; the data itself otherwise.
std::string BareCFF(const std::string& data) {
  if (data.compare(0, 4, "OTTO") != 0 || data.size() < 12) return data;
  auto u = [&](size_t p, int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | static_cast<uint8_t>(p + k < data.size() ? data[p + k] : 0);
    return v;
  };
  for (uint32_t t = 0; t < u(4, 2); ++t) {
    size_t rec = 12 + t * 16;
    if (data.compare(rec, 4, "CFF ") == 0) return data.substr(u(rec + 8, 4), u(rec + 12, 4));
  }
  return std::string();
}

// CFF program (bare or OpenType): glyphs matched by glyph index. Advances
// are compared with the CFF program's own widths (an OpenType font's hmtx
// may disagree with them, as it does for .notdef in two URW fonts).
FontReport CheckCFF(const std::string& data) {
  FontReport rep;
  TPDFType1Decoder dec;
  EXPECT_TRUE(dec.LoadCFFData(data));
  FreeTypeFont ft(data);
  FreeTypeFont ftWidths(BareCFF(data));
  if (!ft.Ok()) {
    rep.note("FreeType cannot open the font");
    return rep;
  }
  const auto& names = dec.GetGlyphNames();
  // FreeType numbers the glyphs of a bare CID-keyed CFF font by CID.
  const bool byCID = dec.IsCIDKeyed() && data.compare(0, 4, "OTTO") != 0;
  if (!byCID && names.GetCount() != ft.GlyphCount())
    rep.note("glyph count " + std::to_string(names.GetCount()) + " vs " + std::to_string(ft.GlyphCount()));
  double s = dec.GetGlyphScale();
  TPDFMatrix unscale{1 / s, 0, 0, 1 / s, 0, 0};
  for (int32_t g = 0; g < names.GetCount(); ++g) {
    std::string key = dec.IsCIDKeyed() ? names.GetString(g) : "GID:" + std::to_string(g);
    int ftIndex = byCID ? std::stoi(key.substr(4)) : g;
    if (ftIndex >= ft.GlyphCount()) {
      rep.note(key + ": beyond FreeType's glyphs");
      continue;
    }
    if (!dec.IsCIDKeyed()) {
      std::string ftName = ft.GlyphName(g);
      if (!ftName.empty() && ftName != names.GetString(g)) rep.note(key + ": name " + names.GetString(g) + " vs " + ftName);
    }
    Outline theirs;
    double advance = 0;
    if (!ft.Load(ftIndex, theirs, advance)) continue;
    ++rep.glyphs;
    // A Font DICT matrix other than 1/1000 em: FreeType transforms its
    // integer points and rounds again, which adds up to half a unit.
    dec.FindCharString(key);
    int32_t fd = dec.GetCurrentFDIndex();
    double fdScale = fd >= 0 && fd < static_cast<int32_t>(dec.GetFDScales().size())
                         ? dec.GetFDScales()[static_cast<size_t>(fd)] : 1.0;
    double tol = fdScale == 1.0 ? kTolerance : kTolerance + 0.5;
    RecordingCanvas canvas;
    dec.DrawGlyph(&canvas, unscale, key, 0, 0);
    std::string diff = Compare(canvas.Result(), theirs, tol);
    if (!diff.empty()) rep.note(key + ": " + diff);
    Outline unused;
    // FreeType reports advances in whole font units (a real width is truncated).
    if (ftWidths.Ok() && ftWidths.Load(ftIndex, unused, advance) &&
        std::fabs(dec.GetLastType2Width() * fdScale - advance) >= 1)
      rep.note(key + ": width " + std::to_string(dec.GetLastType2Width()) + " vs " + std::to_string(advance));
  }
  return rep;
}

class URWType1 : public ::testing::TestWithParam<std::string> {};
class URWOpenType : public ::testing::TestWithParam<std::string> {};

std::string BaseName(const ::testing::TestParamInfo<std::string>& info) {
  std::string n = std::filesystem::path(info.param).stem().string();
  for (char& c : n)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return n;
}

}  // namespace

TEST_P(URWType1, EveryGlyphMatchesFreeType) {
  std::string data = pvltest::ReadFile(GetParam());
  int64_t l1 = 0, l2 = 0, l3 = 0;
  ASSERT_TRUE(SplitType1File(data, l1, l2, l3));
  FontReport rep = CheckType1(data, l1, l2, l3);
  EXPECT_GT(rep.glyphs, 100);
  EXPECT_EQ(rep.mismatches, 0) << rep.first;
}

TEST_P(URWOpenType, EveryGlyphMatchesFreeType) {
  std::string data = pvltest::ReadFile(GetParam());
  FontReport rep = CheckCFF(data);
  EXPECT_GT(rep.glyphs, 100);
  EXPECT_EQ(rep.mismatches, 0) << rep.first;
}

INSTANTIATE_TEST_SUITE_P(Installed, URWType1, ::testing::ValuesIn(FilesIn(kType1Dir, ".t1")), BaseName);
INSTANTIATE_TEST_SUITE_P(Installed, URWOpenType, ::testing::ValuesIn(FilesIn(kOpenTypeDir, ".otf")), BaseName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(URWType1);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(URWOpenType);

// The font programs embedded in the corpus, listed by qpdf and extracted with
// it; one case per corpus file that embeds Type 1 or CFF programs.
class CorpusFontPrograms : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusFontPrograms, EveryGlyphMatchesFreeType) {
  if (!pvltest::HaveTool("qpdf") || !pvltest::HaveTool("python3")) GTEST_SKIP() << "qpdf or python3 missing";
  std::string pdf = pvltest::CorpusPath(GetParam());
  pvltest::CommandResult list =
      pvltest::RunCommand({"python3", std::string(PVL_SOURCE_DIR) + "/tests/render/font_programs.py", pdf});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  std::istringstream lines(list.out);
  std::string line;
  int programs = 0, glyphs = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> f;
    std::istringstream cols(line);
    std::string col;
    while (std::getline(cols, col, '\t')) f.push_back(col);
    if (f.size() != 6) continue;
    pvltest::CommandResult data = pvltest::RunCommand({"qpdf", "--show-object=" + f[1], "--filtered-stream-data", pdf});
    if (data.exitCode != 0 && data.exitCode != 3) continue;
    SCOPED_TRACE("object " + f[1] + " " + f[2]);
    FontReport rep = f[2] == "FontFile" ? CheckType1(data.out, std::stoll(f[3]), std::stoll(f[4]), std::stoll(f[5]))
                                        : CheckCFF(data.out);
    ++programs;
    glyphs += rep.glyphs;
    EXPECT_EQ(rep.mismatches, 0) << rep.first;
  }
  EXPECT_GT(programs, 0);
  EXPECT_GT(glyphs, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, CorpusFontPrograms,
    ::testing::Values("pdfjs/Embedded_font.pdf", "pdfjs/TAMReview.pdf", "pdfjs/annotation-button-widget.pdf",
                      "pdfjs/annotation-choice-widget.pdf", "pdfjs/annotation-text-widget.pdf",
                      "pdfjs/cff_bluescale_small_zones.pdf", "pdfjs/cid_cff.pdf", "pdfjs/form_two_pages.pdf",
                      "pdfjs/mmtype1.pdf", "pdfjs/outlines_se.pdf", "pdfjs/pattern_text_embedded_font.pdf",
                      "pdfjs/text_clip_cff_cid.pdf", "pdfjs/tracemonkey.pdf", "samples/GeoTopo-komprimiert.pdf",
                      "samples/crazyones-pdfa.pdf", "samples/minimal-document.pdf",
                      "samples/mistitled_outlines_example.pdf", "samples/multicolumn.pdf",
                      "samples/pdflatex-4-pages.pdf", "samples/pdflatex-forms.pdf", "samples/pdflatex-image.pdf",
                      "samples/pdflatex-outline.pdf", "samples/with-attachment.pdf"),
    [](const ::testing::TestParamInfo<std::string>& info) {
      std::string n = std::filesystem::path(info.param).stem().string();
      for (char& c : n)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return n;
    });
