// Real pages whose fonts were drawn unlike the other readers draw them (the
// drawing repro files beside the corpus), drawn through cairo and compared
// with a peer's rendering of the same page: CID-keyed CFF programs whose
// 1/1000 sits in the Top DICT's matrix rather than the Font DICT's, a
// TrueType program whose only Unicode table is on the Unicode platform, and
// the standard fonts drawn with installed stand-ins (Symbol, ZapfDingbats,
// Courier).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PageImageCompare.h"
#include "RendererTestSupport.h"

using namespace pvlrender;

namespace {

std::string ReproFile(const std::string& name) {
  return pvltest::CorpusDir() + "/../repro/drawing/" + name;
}

struct TReproPage {
  const char* file;
  int page;           // 1-based
  const char* peer;   // pdftoppm or mutool
  double maxMean;     // mean blurred grey difference allowed
  const char* fault;  // what went wrong
};

TBitmap PeerPage(const std::string& file, int page, const std::string& peer, const pvltest::TempDir& dir) {
  const std::string p = std::to_string(page);
  if (peer == "pdftoppm")
    pvltest::RunCommand({"pdftoppm", "-r", "72", "-f", p, "-l", p, "-png", "-singlefile", file, dir.File("ref")});
  else
    pvltest::RunCommand({"mutool", "draw", "-q", "-r", "72", "-o", dir.File("ref.png"), file, p});
  return pvltest::LoadPng(dir.File("ref.png"));
}

}  // namespace

TEST(FontReproPages, DrawnLikeThePeers) {
  const std::vector<TReproPage> cases = {
      // The Top DICT's matrix is 1/1000 and the Font DICT's identity: glyphs
      // were drawn 1000 times too large (a page-sized dark shape) or not at all.
      {"cid-cff-form.pdf", 1, "pdftoppm", 3.0, "CID-keyed CFF, 1/1000 in the Top DICT"},
      {"cid-cff-math.pdf", 1, "pdftoppm", 1.0, "CID-keyed CFF with Identity-H"},
      // Its only Unicode table is (0, 3): "Oslash" was not found.
      {"truetype-missing-oslash.pdf", 1, "pdftoppm", 2.0, "TrueType with a Unicode-platform table only"},
      // The Courier faces: codes 0-31 drew the stand-in's missing-glyph boxes,
      // and Courier New is heavier than the URW Courier the peers draw.
      {"standard-14-fonts.pdf", 1, "pdftoppm", 4.0, "Courier"},
      {"standard-14-fonts.pdf", 4, "pdftoppm", 4.5, "Courier-BoldOblique"},
      {"standard-14-fonts.pdf", 5, "pdftoppm", 4.5, "Helvetica: missing glyphs drawn as boxes"},
      // Symbol's glyph keys name characters the stand-in's CFF program knows by name.
      {"standard-14-fonts.pdf", 13, "pdftoppm", 4.5, "Symbol"},
      // ZapfDingbats codes take the font's own encoding (a1 ... a191); pdftoppm
      // leaves out codes 128-141, mutool draws them as the encoding says.
      {"standard-14-fonts.pdf", 14, "mutool", 3.0, "ZapfDingbats"},
      // Not a font: an image whose soft mask is finer than its picture; the
      // text the mask cuts out came out as blocks at the picture's few pixels.
      {"mask-larger-than-image.pdf", 1, "pdftoppm", 2.5, "soft mask finer than its picture"},
  };
  pvltest::TempDir dir;
  for (const TReproPage& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " page " + std::to_string(c.page) + ": " + c.fault);
    std::string missing;
    if (!pvltest::RequireTool(c.peer, missing)) {
      if (pvltest::InCI()) FAIL() << missing;
      GTEST_SKIP() << missing;
    }
    const std::string file = ReproFile(c.file);
    auto doc = LoadPdf(pvltest::ReadFile(file));
    ASSERT_TRUE(doc);
    auto pages = FindPages(*doc);
    ASSERT_GE(static_cast<int>(pages.size()), c.page);
    TRendered ours = RenderPdfPage(pages[static_cast<size_t>(c.page - 1)], true);
    ASSERT_EQ(ours.error, "");
    const TBitmap ref = PeerPage(file, c.page, c.peer, dir);
    ASSERT_FALSE(ref.Empty());
    const pvltest::TImageDifference forward = pvltest::CompareImages(ref, ours.bitmap);
    const pvltest::TImageDifference backward = pvltest::CompareImages(ours.bitmap, ref);
    EXPECT_GE(forward.inkRecall, 0.97) << "ink the peer drew is missing from ours";
    EXPECT_GE(backward.inkRecall, 0.99) << "ours drew ink where the peer drew none";
    EXPECT_LE(forward.mean, c.maxMean);
  }
}
