// Page boxes that cannot be used as given.
#include <gtest/gtest.h>

#include "RendererTestSupport.h"

using namespace pvlrender;

namespace {

TEST(RendererPageBox, DegenerateMediaBoxesShowALetterPage) {
  struct TCase {
    const char* mediaBox;
    int width, height;
  } cases[] = {
      {"[0 0 0 0]", 612, 792},
      {"[10 10 10 500]", 612, 792},
      {"[]", 612, 792},
      {"[0 0 0.2 0.3]", 612, 792},
      {"[0 0 200 100]", 200, 100},  // a usable box stays as it is
  };
  for (const TCase& c : cases) {
    TRendered r = RenderContent(PagePdf("0 0 1 rg 0 0 50 50 re f", "<< >>", {}, "", c.mediaBox));
    EXPECT_EQ(r.width, c.width) << c.mediaBox;
    EXPECT_EQ(r.height, c.height) << c.mediaBox;
    EXPECT_EQ(Rgb(r.bitmap, 10, r.height - 10), 0x0000FFu) << c.mediaBox;
  }
}

}  // namespace
