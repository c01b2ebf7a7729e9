// The page images the program shows: corpus pages rendered through the
// facade (BMP in a stream at 72 dpi, as the page view asks for them) agree
// with pdftoppm as closely as the renderer's own corpus test requires of
// cairo, the back-end that draws anti-aliased page images.
#include <gtest/gtest.h>

#include <cstdio>

#include "CorpusPages.h"
#include "document/Pavona0813.h"
#include "objects/PavonaExtra.h"
#include "platform/Classes.h"

namespace {

using pvltest::TCorpusPage;

class FacadeCorpus : public ::testing::TestWithParam<TCorpusPage> {};

TEST_P(FacadeCorpus, PageImageMatchesPdftoppm) {
  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm is missing";
  const TCorpusPage& c = GetParam();
  const std::string path = pvltest::CorpusPath(c.file);
  pvltest::TempDir dir;
  pvltest::TReference ref;
  ASSERT_TRUE(pvltest::RenderReference(path, dir, ref));
  TPavona facade;
  ASSERT_EQ(facade.LoadFromFile(NativePathToWide(path), u""), 1);
  TMemoryStream bmp;
  ASSERT_EQ(facade.RenderPageToStream(72, 1, pofBMP, bmp), 1) << facade.LastRenderMessage();
  TBitmap image;
  image.LoadFromBytes(bmp.Bytes());
  EXPECT_NEAR(image.Width(), ref.width, 1);
  EXPECT_NEAR(image.Height(), ref.height, 1);
  const double fraction = pvltest::DifferingFraction(image, ref);
  std::printf("[ differs  ] %-48s %.4f\n", c.file, fraction);
  EXPECT_LE(fraction, c.cairoMax) << c.file << " (" << c.reason << ")";
}

std::string PageName(const ::testing::TestParamInfo<TCorpusPage>& info) {
  std::string name = info.param.file;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Pages, FacadeCorpus, ::testing::ValuesIn(pvltest::kPages), PageName);

}  // namespace
