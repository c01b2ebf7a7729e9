// Decoding every glyph of the installed URW base-35 fonts (Type 1 and
// OpenType CFF): our decoder (program load, charstrings to op lists, replay
// into outlines) beside FreeType doing the same work (face load, every glyph
// loaded unscaled and unhinted, outline decomposed).
//   build/bench/glyphdecode_bench
#include <benchmark/benchmark.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/PavonaType1.h"

namespace {

class CountingCanvas : public TPDFGenericCanvas {
public:
  size_t ops = 0;
  void BeginPath() override {}
  void MoveTo(double, double) override { ++ops; }
  void LineTo(double, double) override { ++ops; }
  void CurveTo(double, double, double, double, double, double) override { ++ops; }
  void QuadraticCurveTo(double, double, double, double) override { ++ops; }
  void ClosePath() override {}
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
};

struct FontFile {
  std::string bytes;
  int64_t l1 = 0, l2 = 0, l3 = 0;  // Type 1 only
};

std::vector<FontFile> Load(const std::string& dir, const std::string& ext) {
  std::vector<std::string> paths;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.path().extension() == ext) paths.push_back(e.path().string());
  std::sort(paths.begin(), paths.end());
  std::vector<FontFile> out;
  for (const auto& p : paths) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    FontFile f;
    f.bytes = ss.str();
    if (ext == ".t1") {
      const std::string& d = f.bytes;
      size_t e = d.find("eexec");
      size_t q = d.rfind("cleartomark");
      if (e == std::string::npos || q == std::string::npos) continue;
      e += 5;
      while (e < d.size() && (d[e] == '\r' || d[e] == '\n')) ++e;
      while (q > e && (d[q - 1] == '0' || d[q - 1] == '\r' || d[q - 1] == '\n' || d[q - 1] == ' ')) --q;
      f.l1 = static_cast<int64_t>(e);
      f.l2 = static_cast<int64_t>(q - e);
      f.l3 = static_cast<int64_t>(d.size() - q);
    }
    out.push_back(std::move(f));
  }
  return out;
}

const std::vector<FontFile>& Type1Fonts() {
  static const auto fonts = Load("/usr/share/fonts/type1/urw-base35", ".t1");
  return fonts;
}
const std::vector<FontFile>& OpenTypeFonts() {
  static const auto fonts = Load("/usr/share/fonts/opentype/urw-base35", ".otf");
  return fonts;
}

void OursType1(benchmark::State& state) {
  size_t glyphs = 0;
  for (auto _ : state) {
    CountingCanvas canvas;
    for (const FontFile& f : Type1Fonts()) {
      TPDFType1Decoder dec;
      dec.SplitFontData(f.bytes, f.l1, f.l2, f.l3);
      dec.ParseCleartext();
      dec.ParsePrivate();
      const auto& names = dec.GetGlyphNames();
      for (int32_t g = 0; g < names.GetCount(); ++g) dec.DrawGlyph(&canvas, IdentityMatrix, names.GetString(g), 0, 0);
      glyphs += static_cast<size_t>(names.GetCount());
    }
    benchmark::DoNotOptimize(canvas.ops);
  }
  state.counters["glyphs"] = benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kIsRate);
}

void OursCFF(benchmark::State& state) {
  size_t glyphs = 0;
  for (auto _ : state) {
    CountingCanvas canvas;
    for (const FontFile& f : OpenTypeFonts()) {
      TPDFType1Decoder dec;
      dec.LoadCFFData(f.bytes);
      int32_t n = dec.GetGlyphNames().GetCount();
      for (int32_t g = 0; g < n; ++g) dec.DrawGlyph(&canvas, IdentityMatrix, "GID:" + std::to_string(g), 0, 0);
      glyphs += static_cast<size_t>(n);
    }
    benchmark::DoNotOptimize(canvas.ops);
  }
  state.counters["glyphs"] = benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kIsRate);
}

int ftMove(const FT_Vector*, void* u) { return ++*static_cast<size_t*>(u), 0; }
int ftLine(const FT_Vector*, void* u) { return ++*static_cast<size_t*>(u), 0; }
int ftConic(const FT_Vector*, const FT_Vector*, void* u) { return ++*static_cast<size_t*>(u), 0; }
int ftCubic(const FT_Vector*, const FT_Vector*, const FT_Vector*, void* u) { return ++*static_cast<size_t*>(u), 0; }

void FreeType(benchmark::State& state, const std::vector<FontFile>& (*fonts)()) {
  FT_Library lib;
  FT_Init_FreeType(&lib);
  FT_Outline_Funcs funcs{};
  funcs.move_to = ftMove;
  funcs.line_to = ftLine;
  funcs.conic_to = ftConic;
  funcs.cubic_to = ftCubic;
  size_t glyphs = 0;
  for (auto _ : state) {
    size_t ops = 0;
    for (const FontFile& f : fonts()) {
      FT_Face face;
      if (FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte*>(f.bytes.data()),
                             static_cast<FT_Long>(f.bytes.size()), 0, &face) != 0)
        continue;
      for (FT_Long g = 0; g < face->num_glyphs; ++g) {
        if (FT_Load_Glyph(face, static_cast<FT_UInt>(g), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) == 0)
          FT_Outline_Decompose(&face->glyph->outline, &funcs, &ops);
      }
      glyphs += static_cast<size_t>(face->num_glyphs);
      FT_Done_Face(face);
    }
    benchmark::DoNotOptimize(ops);
  }
  FT_Done_FreeType(lib);
  state.counters["glyphs"] = benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kIsRate);
}

void FreeTypeType1(benchmark::State& state) { FreeType(state, Type1Fonts); }
void FreeTypeCFF(benchmark::State& state) { FreeType(state, OpenTypeFonts); }

}  // namespace

BENCHMARK(OursType1)->Unit(benchmark::kMillisecond);
BENCHMARK(FreeTypeType1)->Unit(benchmark::kMillisecond);
BENCHMARK(OursCFF)->Unit(benchmark::kMillisecond);
BENCHMARK(FreeTypeCFF)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
