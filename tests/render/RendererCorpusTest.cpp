// Corpus pages rendered at 72 dpi through cairo and through the GDI stand-in,
// compared pixel by pixel with pdftoppm's rendering of the same page. Each
// row allows a fraction of pixels to differ by more than a threshold; the
// reason column says where the remaining difference comes from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "CorpusPages.h"
#include "RendererTestSupport.h"

using namespace pvlrender;
using namespace pvltest;

namespace {

class RendererCorpus : public ::testing::TestWithParam<TCorpusPage> {};

TEST_P(RendererCorpus, FirstPageMatchesPdftoppm) {
  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm not installed";
  const TCorpusPage& c = GetParam();
  const std::string path = pvltest::CorpusPath(c.file);
  pvltest::TempDir dir;
  TReference ref;
  ASSERT_TRUE(RenderReference(path, dir, ref));
  auto doc = LoadPdf(pvltest::ReadFile(path));
  ASSERT_TRUE(doc);
  auto pages = FindPages(*doc);
  ASSERT_FALSE(pages.empty());
  for (bool cairo : {true, false}) {
    TRendered r = RenderPdfPage(pages[0], cairo);
    EXPECT_EQ(r.error, "");
    // Sizes agree to the pixel (pdftoppm rounds the page size up as well).
    EXPECT_NEAR(r.bitmap.Width(), ref.width, 1);
    EXPECT_NEAR(r.bitmap.Height(), ref.height, 1);
    double fraction = DifferingFraction(r.bitmap, ref);
    std::printf("[ differs  ] %-48s %-5s %.4f\n", c.file, cairo ? "cairo" : "GDI", fraction);
    EXPECT_LE(fraction, cairo ? c.cairoMax : c.gdiMax)
        << (cairo ? "cairo" : "GDI") << ": " << c.file << " (" << c.reason << ")";
  }
}

std::string PageName(const ::testing::TestParamInfo<TCorpusPage>& info) {
  std::string name = info.param.file;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Pages, RendererCorpus, ::testing::ValuesIn(kPages), PageName);

// Every corpus file's first page renders to the end (or stops with an
// error) without crashing; damaged and hostile files included.
TEST(RendererCorpusAll, EveryFirstPageEnds) {
  int rendered = 0;
  for (const std::string& file : pvltest::CorpusPdfFiles()) {
    // One huge JPEG page (a downscaling test) takes too long under sanitizers.
    if (file.find("large_jpeg_downscale") != std::string::npos) continue;
    SCOPED_TRACE(file);
    auto doc = LoadPdf(pvltest::ReadFile(file));
    if (!doc) continue;
    auto pages = FindPages(*doc);
    if (pages.empty()) continue;
    TPDFFontCollection fonts;
    fonts.LoadOutlines = true;
    TPDFRenderer renderer(&fonts);
    renderer.PageObject = pages[0];
    renderer.Resolution = 36;
    renderer.RenderPage();
    EXPECT_GT(renderer.GetOutputWidth(), 0);
    ++rendered;
  }
  EXPECT_GT(rendered, 150);
}

}  // namespace
