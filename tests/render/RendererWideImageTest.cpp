// Pictures wider or higher than the drawing back-ends can take are reduced
// before drawing instead of being left out of the page.
#include <gtest/gtest.h>

#include "RendererTestSupport.h"

using namespace pvlrender;

namespace {

TEST(RendererWideImage, PicturesBeyondTheBackEndLimitAreReducedAndDrawn) {
  struct TCase {
    int width, height;
  } cases[] = {{40000, 2}, {2, 40000}};
  for (const TCase& c : cases) {
    // Left half red, right half (or lower half) blue.
    std::string data;
    data.reserve(size_t(c.width) * c.height * 3);
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const bool first = c.width > c.height ? x < c.width / 2 : y < c.height / 2;
        data += first ? std::string("\xFF\x00\x00", 3) : std::string("\x00\x00\xFF", 3);
      }
    const std::string image = StreamObject("/Type /XObject /Subtype /Image /Width " + std::to_string(c.width) +
                                               " /Height " + std::to_string(c.height) +
                                               " /ColorSpace /DeviceRGB /BitsPerComponent 8",
                                           data);
    for (bool cairo : {false, true}) {
      SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + (cairo ? " cairo" : " GDI"));
      TRendered r = RenderContent(PagePdf("q 100 0 0 100 0 0 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>", {image}),
                                  cairo);
      EXPECT_EQ(r.error, "");
      if (c.width > c.height) {
        EXPECT_EQ(Rgb(r.bitmap, 25, 50), 0xFF0000u);
        EXPECT_EQ(Rgb(r.bitmap, 75, 50), 0x0000FFu);
      } else {
        // The image's first row is its top.
        EXPECT_EQ(Rgb(r.bitmap, 50, 25), 0xFF0000u);
        EXPECT_EQ(Rgb(r.bitmap, 50, 75), 0x0000FFu);
      }
    }
  }
}

}  // namespace
