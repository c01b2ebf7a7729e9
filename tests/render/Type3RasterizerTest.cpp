// TPDFType3Rasterizer: FontMatrix and CharProcs loading, the small outline
// interpreter, inline images (each read once, never looping), the nesting
// guard, and the corpus's Type 3 fonts read through qpdf as object source.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "GlyphOutlineOracle.h"
#include "TestSupport.h"
#include "render/PavonaType3.h"

using namespace glyphoracle;

namespace {

struct Fixture {
  TPDFStructure pool;
  std::map<int, TPDFObject*> objects;
  Fixture() {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t n, int32_t) -> TPDFObject* {
      auto it = objects.find(n);
      return it == objects.end() ? nullptr : it->second;
    };
  }
  TPDFIndRef* add(int n, TPDFObject* obj) {
    objects[n] = obj;
    return pool.NewIndRef(n, 0);
  }
  TPDFDictionary* font(const std::string& fontMatrix, const std::vector<std::pair<std::string, std::string>>& procs) {
    TPDFDictionary* f =
        PDFAsDictionary(pool.ParseObject("<< /Type /Font /Subtype /Type3 /FontMatrix " + fontMatrix + " >>"));
    TPDFDictionary* cp = pool.NewDictionary();
    int n = 100;
    for (const auto& [name, text] : procs) cp->SetValue(name, add(n++, pool.NewStream(text, false)));
    f->SetValue("CharProcs", cp);
    return f;
  }
};

}  // namespace

TEST(Type3Rasterizer, FontMatrixAndProcedures) {
  Fixture fx;
  TPDFType3Rasterizer r;
  r.Load(fx.font("[0.001 0 0 0.001 0 0]", {{"tri", "1000 0 d0 0 0 m 100 0 l 100 100 l h f"}}));
  EXPECT_DOUBLE_EQ(r.FontMatrix[0], 0.001);
  EXPECT_DOUBLE_EQ(r.FontMatrix[3], 0.001);
  EXPECT_EQ(r.GetCharProc("tri"), "1000 0 d0 0 0 m 100 0 l 100 100 l h f");
  EXPECT_EQ(r.GetCharProc("Tri"), "");
  TPDFType3Rasterizer five;
  five.Load(fx.font("[0.5 0 0 0.5 0]", {}));
  EXPECT_EQ(five.FontMatrix, (std::array<double, 6>{1, 0, 0, 1, 0, 0}));
  // A direct stream value gives an empty procedure.
  TPDFDictionary* f = fx.font("[1 0 0 1 0 0]", {});
  f->GetDictionary("CharProcs")->SetValue("direct", fx.pool.NewStream("0 0 m", false));
  TPDFType3Rasterizer d;
  d.Load(f);
  ASSERT_EQ(d.CharNames.GetCount(), 1);
  EXPECT_EQ(d.GetCharProc("direct"), "");
}

TEST(Type3Rasterizer, DrawsPathsTranslatedAndThroughCm) {
  Fixture fx;
  TPDFType3Rasterizer r;
  r.Load(fx.font("[0.001 0 0 0.001 0 0]", {{"tri", "1000 0 d0 0 0 m 100 0 l 100 100 l h f"},
                                           {"big", "2 0 0 2 0 0 cm 0 0 m 10 0 l 0 10 5 5 10 10 c h f"}}));
  RecordingCanvas canvas;
  EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "tri", 7, 3));
  Outline o = canvas.Result();
  ASSERT_EQ(o.size(), 1u);
  EXPECT_DOUBLE_EQ(o[0].sx, 7);
  EXPECT_DOUBLE_EQ(o[0].segs[1].x, 107);
  EXPECT_DOUBLE_EQ(o[0].segs[1].y, 103);
  canvas.Clear();
  EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "big", 0, 0));
  o = canvas.Result();
  ASSERT_EQ(o.size(), 1u);
  EXPECT_DOUBLE_EQ(o[0].segs[0].x, 20);
  ASSERT_TRUE(o[0].segs[1].cubic);
  EXPECT_DOUBLE_EQ(o[0].segs[1].y1, 20);
  EXPECT_DOUBLE_EQ(o[0].segs[1].x, 20);
  EXPECT_FALSE(r.DrawGlyph(&canvas, IdentityMatrix, "missing", 0, 0));
}

TEST(Type3Rasterizer, InlineImagesAreReadOnceAndNeverLoop) {
  Fixture fx;
  std::string img = "BI /W 2 /H 1 /BPC 8 /CS /G ID \x01\x02 EI ";
  std::string two = "0 0 m 10 0 l " + img + "20 0 l " + img + "30 0 l h f";
  std::string broken = "0 0 m BI /W 1 /H 1 ID \x05\x06\x07 5 0 l h f";
  TPDFType3Rasterizer r;
  r.Load(fx.font("[1 0 0 1 0 0]", {{"two", two}, {"broken", broken}}));
  for (int round = 0; round < 2; ++round) {  // the second round uses the cached positions
    RecordingCanvas canvas;
    EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "two", 0, 0));
    Outline o = canvas.Result();
    ASSERT_EQ(o.size(), 1u);
    ASSERT_EQ(o[0].segs.size(), 4u);  // three lines and the close: both images passed over
    EXPECT_DOUBLE_EQ(o[0].segs[2].x, 30);
  }
  size_t first = two.find("BI") + 2, second = two.find("BI", first) + 2;
  EXPECT_EQ(r.GetInlineImageEnd("two", first), two.find("EI") + 2);
  EXPECT_EQ(r.GetInlineImageEnd("two", second), two.find("EI", second) + 2);
  RecordingCanvas canvas;
  EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, "broken", 0, 0));
  EXPECT_EQ(r.GetInlineImageEnd("broken", broken.find("BI") + 2), 0u);
  EXPECT_EQ(FindInlineImageEnd("ID", 0), std::string_view::npos);
}

TEST(Type3Rasterizer, NestingGuardStopsAtTheCap) {
  int32_t depth = 0;
  std::function<void(int)> nest = [&](int level) {
    TPDFType3Rasterizer::TNestingGuard guard(depth);
    nest(level + 1);
  };
  EXPECT_THROW(nest(0), EPDFType3Error);
  EXPECT_EQ(depth, 0);
}

// ---------------------------------------------------------------------------
// Corpus: objects come from qpdf (--show-object, decoded stream data), so the
// oracle is qpdf's reading of the file.

namespace {

class QpdfObjects {
public:
  explicit QpdfObjects(std::string file) : file_(std::move(file)) {
    pool_.OnLookupObject = [this](TPDFIndRef*, int32_t n, int32_t) { return get(n); };
  }
  TPDFObject* get(int n) {
    if (auto it = cache_.find(n); it != cache_.end()) return it->second;
    cache_[n] = nullptr;  // a reference cycle resolves to nothing while loading
    auto text = pvltest::RunCommand({"qpdf", "--show-object=" + std::to_string(n), file_});
    TPDFObject* obj = nullptr;
    if (text.exitCode == 0 || text.exitCode == 3) {
      // qpdf prints a stream's dictionary after "Object is stream.  Dictionary:".
      size_t dict = text.out.rfind("Dictionary:", 0) == std::string::npos ? text.out.find("Dictionary:") : 0;
      bool stream = text.out.rfind("Object is stream", 0) == 0 && dict != std::string::npos;
      obj = pool_.ParseObject(stream ? std::string_view(text.out).substr(dict + 11) : std::string_view(text.out));
      if (TPDFDictionary* d = PDFAsDictionary(obj); d && stream) {
        d->DeleteKey("Filter");
        d->DeleteKey("DecodeParms");
        obj = pool_.NewStreamWith(data(n), d);
      }
    }
    cache_[n] = obj;
    return obj;
  }
  std::string data(int n) {
    return pvltest::RunCommand({"qpdf", "--show-object=" + std::to_string(n), "--filtered-stream-data", file_}).out;
  }
  TPDFStructure& pool() { return pool_; }

private:
  std::string file_;
  TPDFStructure pool_;
  std::map<int, TPDFObject*> cache_;
};

std::vector<int> Type3FontNumbers(const std::string& file) {
  auto out = pvltest::RunCommand({"python3", "-c",
                                  "import json,subprocess,sys\n"
                                  "d=json.loads(subprocess.run(['qpdf','--json=2','--json-stream-data=none',sys.argv[1]"
                                  "],capture_output=True).stdout)\n"
                                  "for k,v in d['qpdf'][1].items():\n"
                                  "  val=v.get('value')\n"
                                  "  if k.startswith('obj:') and isinstance(val,dict) and "
                                  "val.get('/Subtype')=='/Type3': print(k.split()[0][4:])\n",
                                  file});
  std::vector<int> nums;
  std::istringstream in(out.out);
  for (int n; in >> n;) nums.push_back(n);
  return nums;
}

// Runs content the way the renderer will, as far as nesting goes: text shown
// with Tj in a Type 3 font (selected with Tf from the current resources) runs
// that font's glyph procedures, and text or paths painted while a tiling
// pattern is the fill colour (set with scn) run the pattern's content. Every
// nested run sits inside a nesting guard.
struct MiniRunner {
  int32_t depth = 0;
  int procsRun = 0;
  int patternsRun = 0;

  static TPDFDictionary* sub(TPDFDictionary* res, const char* key, const std::string& name) {
    TPDFDictionary* d = res ? PDFAsDictionary(PDFResolve(res->GetValue(key))) : nullptr;
    return d ? PDFAsDictionary(PDFResolve(d->GetValue(name))) : nullptr;
  }

  void glyph(TPDFDictionary* font, const std::string& name) {
    TPDFType3Rasterizer::TNestingGuard guard(depth);
    TPDFType3Rasterizer r;
    r.Load(font);
    ++procsRun;
    content(r.GetCharProc(name), PDFAsDictionary(PDFResolve(font->GetValue("Resources"))));
  }

  void pattern(TPDFStream* pat) {
    TPDFType3Rasterizer::TNestingGuard guard(depth);
    ++patternsRun;
    TPDFDictionary* dict = pat->GetDictionary();
    content(pat->GetDecodedData(), PDFAsDictionary(PDFResolve(dict->GetValue("Resources"))));
  }

  void content(const std::string& text, TPDFDictionary* res) {
    std::istringstream in(text);
    std::vector<std::string> toks;
    for (std::string t; in >> t;) toks.push_back(t);
    TPDFDictionary* font = nullptr;
    TPDFStream* fillPattern = nullptr;
    for (size_t i = 0; i < toks.size(); ++i) {
      const std::string& op = toks[i];
      if (op == "Tf" && i >= 2) {
        font = sub(res, "Font", toks[i - 2].substr(1));
      } else if (op == "scn" && i >= 1 && toks[i - 1][0] == '/') {
        TPDFDictionary* resPatterns = res ? PDFAsDictionary(PDFResolve(res->GetValue("Pattern"))) : nullptr;
        fillPattern = resPatterns ? PDFAsStream(PDFResolve(resPatterns->GetValue(toks[i - 1].substr(1)))) : nullptr;
      } else if (op == "Tj" && i >= 1) {
        if (fillPattern) pattern(fillPattern);
        if (!font || font->GetNameValue("Subtype") != "Type3") continue;
        TPDFArray* diffs = nullptr;
        if (TPDFDictionary* enc = PDFAsDictionary(PDFResolve(font->GetValue("Encoding"))))
          diffs = PDFAsArray(PDFResolve(enc->GetValue("Differences")));
        const std::string& str = toks[i - 1];
        for (size_t k = 1; k + 1 < str.size(); ++k) {
          int code = static_cast<unsigned char>(str[k]), at = 0;
          std::string name;
          for (int32_t j = 0; diffs && j < diffs->GetCount(); ++j) {
            if (TPDFNumeric* n = PDFAsNumeric(diffs->GetItem(j))) {
              at = static_cast<int>(n->AsInteger());
            } else if (TPDFName* nm = PDFAsName(diffs->GetItem(j))) {
              if (at++ == code) name = nm->GetValue();
            }
          }
          if (!name.empty()) glyph(font, name);
        }
      }
    }
  }
};

}  // namespace

class CorpusType3 : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusType3, ProceduresAreQpdfsStreamsAndCyclesEndWithAnError) {
  if (!pvltest::HaveTool("qpdf") || !pvltest::HaveTool("python3")) GTEST_SKIP();
  std::string file = pvltest::CorpusPath(GetParam());
  QpdfObjects objs(file);
  std::vector<int> fonts = Type3FontNumbers(file);
  ASSERT_FALSE(fonts.empty());
  bool cycled = false;
  for (int n : fonts) {
    TPDFDictionary* font = PDFAsDictionary(objs.get(n));
    ASSERT_NE(font, nullptr);
    TPDFType3Rasterizer r;
    r.Load(font);
    TPDFDictionary* procs = PDFAsDictionary(PDFResolve(font->GetValue("CharProcs")));
    ASSERT_NE(procs, nullptr);
    ASSERT_EQ(r.CharNames.GetCount(), procs->GetCount());
    for (int32_t i = 0; i < r.CharNames.GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(procs->GetValue(r.CharNames.GetString(i)));
      ASSERT_NE(ref, nullptr);
      EXPECT_EQ(r.CharProcs.GetString(i), objs.data(ref->GetRefNumber())) << r.CharNames.GetString(i);
      EXPECT_FALSE(r.CharProcs.GetString(i).empty());
      RecordingCanvas canvas;
      EXPECT_TRUE(r.DrawGlyph(&canvas, IdentityMatrix, r.CharNames.GetString(i), 0, 0));
      MiniRunner runner;
      try {
        runner.glyph(font, r.CharNames.GetString(i));
      } catch (const EPDFType3Error&) {
        cycled = true;
      }
      EXPECT_EQ(runner.depth, 0);
    }
    // Widths: one per code from FirstChar to LastChar.
    TPDFArray* widths = PDFAsArray(PDFResolve(font->GetValue("Widths")));
    ASSERT_NE(widths, nullptr);
    EXPECT_EQ(widths->GetCount(), font->GetInteger("LastChar", 0) - font->GetInteger("FirstChar", 0) + 1);
  }
  // Only the "Cycle" file nests without end: font A's glyph shows text in
  // font B, whose glyph fills text with a pattern that shows text in font A.
  // The guard ends it with an error; the "NoCycle" file runs through.
  EXPECT_EQ(cycled, GetParam().find("ContentStreamCycle") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusType3,
                         ::testing::Values("pdfjs/simpletype3font.pdf", "pdfjs/Type3WordSpacing.pdf",
                                           "pdfjs/ContentStreamCycleType3insideType3.pdf",
                                           "pdfjs/ContentStreamNoCycleType3insideType3.pdf"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string n = info.param.substr(info.param.find('/') + 1);
                           n = n.substr(0, n.find('.'));
                           return n;
                         });
