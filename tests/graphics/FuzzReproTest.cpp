// Inputs that made the fuzz targets fail, kept as seeds of those targets
// (tests/fuzz/seeds) and replayed here the way each target feeds them, so
// that the sanitizer build of the tests catches a return of the fault: a
// signed overflow in a JBIG2 region-size check, a JPEG 2000 codestream
// whose declared canvas took seconds to allocate and fill, and a JBIG2
// generic region whose arithmetic decoder went on long after its data.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "TestSupport.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaJBIG2.h"
#include "graphics/PavonaJpeg2000Bitmap.h"
#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"

namespace {

std::string Seed(const std::string& target, const std::string& name) {
  return pvltest::ReadFile(std::string(PVL_SOURCE_DIR) + "/tests/fuzz/seeds/" + target + "/" + name);
}

// Well under the fuzz targets' 10 s timeout, with room for a slow
// sanitizer build. Measured in processor time, so that a machine busy with
// other work does not count against the decoder.
constexpr double kMaxSeconds = 3.0;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double SecondsSince(double start) {
  return CpuSeconds() - start;
}

}  // namespace

// A text region whose width and height are both near 2^32: refused by a
// check that cannot overflow (fuzz_jbig2 feeds a two-byte globals length,
// the globals, then the page stream).
TEST(FuzzReproTest, JBIG2RegionSizeNear2To32IsRefusedWithoutOverflow) {
  const std::string input = Seed("fuzz_jbig2", "jbig2-region-size-overflow.bin");
  ASSERT_GT(input.size(), 2u);
  const size_t globalsLength =
      std::min<size_t>((size_t(uint8_t(input[0])) << 8) | uint8_t(input[1]), input.size() - 2);
  const std::string_view all = std::string_view(input).substr(2);
  TPVLJBIG2Decoder dec;
  const double start = CpuSeconds();
  const bool ok = dec.DecodeWithGlobals(all.substr(globalsLength), all.substr(0, globalsLength));
  EXPECT_LT(SecondsSince(start), kMaxSeconds);
  // Whatever is decoded is within the pixel bound.
  if (ok) {
    EXPECT_LE(int64_t(dec.Width) * dec.Height, TBitmap::MaxPixels());
  }
}

// A 202-byte codestream that declares a canvas of 3,342,464 x 64 pixels in
// 52,226 tiles, and one whose sides are both near 2^32 (found by the fuzz
// run after the first was mended: the product of the sides overflowed):
// refused from the SIZ marker, before OpenJPEG sets the tiles up.
TEST(FuzzReproTest, JPXCanvasBeyondWhatItsDataCanHoldIsRefused) {
  for (const char* name : {"jpx-huge-canvas-timeout.bin", "jpx-sides-near-2to32.bin"}) {
    SCOPED_TRACE(name);
    const std::string input = Seed("fuzz_jpx", name);
    ASSERT_FALSE(input.empty());
    TMemoryStream s(input);
    TJpeg2000Bitmap bm;
    const double start = CpuSeconds();
    EXPECT_THROW(bm.LoadFromStream(s), EJpeg2000Error);
    EXPECT_LT(SecondsSince(start), kMaxSeconds);
  }
}

// A 103-byte image (no /Width or /Height: the JBIG2 page gives the size)
// whose generic region ends in an FF AC marker: the arithmetic decoder then
// reads endless padding without moving, and decoded pixel after pixel of a
// region far larger than its data for more than 10 s (and 1.4 s in the fuzz
// build with a padding budget of 4 million pixels; 0.3 s with the present
// one). fuzz_image_decoder feeds the dictionary, a NUL byte, then the stream
// data.
TEST(FuzzReproTest, JBIG2GenericRegionBeyondItsDataStopsQuickly) {
  const std::string input = Seed("fuzz_image_decoder", "jbig2-generic-region-slow.bin");
  const size_t split = input.find('\0');
  ASSERT_NE(split, std::string::npos);
  TBitmap::SetMaxPixels(int64_t(1) << 20);
  TPDFStructure pool;
  TPDFDictionary* dict = PDFAsDictionary(pool.ParseObject(input.substr(0, split)));
  ASSERT_NE(dict, nullptr);
  TPDFStream* stream = pool.NewStreamWith(input.substr(split + 1), dict);
  const double start = CpuSeconds();
  TPDFImageDecoder dec;
  dec.SetImage(stream);
  EXPECT_LT(SecondsSince(start), kMaxSeconds);
  TBitmap::SetMaxPixels(TBitmap::DefaultMaxPixels);
}

// JBIG2 streams (fuzz_jbig2 seeds) that took more than 10 s in the fuzz
// build, each replayed the way the target feeds it (a two-byte globals
// length, the globals, then the page stream): decoding must end quickly,
// whether it succeeds or not. The fuzz build runs these about seven times
// slower than the sanitizer build of the tests; each takes under 0.5 s here
// now (the halftone grid took 1.8 s before, the others from 4 s to
// minutes). The bound is this file's, loose enough for a slow machine.
TEST(FuzzReproTest, JBIG2StreamsBeyondTheirDataEndQuickly) {
  struct Case {
    const char* seed;
    const char* what;
  };
  const Case cases[] = {
      // Some 35,000 small refinement regions of aggregate symbols, all on
      // one arithmetic decoder whose 155 bytes ended early: each region had
      // a padding budget of its own, over 100 million pixels of padding in
      // all. The budget now covers every region of the decoder. Its floor
      // of 4 million pixels still took 5 s in the fuzz build; the floor is
      // now a quarter of that, and a padded refinement pixel costs four.
      {"aggregate-refinements-on-padding.bin", "refinements sharing one decoder's padding"},
      // A halftone grid of 1,310,745 x 25 cells with 7 bit planes: about
      // 229 million pixels of gray-scale image, decoded plane by plane until
      // the work limit struck in the fifth. Now refused before the first.
      {"halftone-grid-beyond-work-limit.bin", "halftone grid beyond the work limit"},
      // A text region declaring billions of instances whose symbol IDs,
      // read from padding, name no symbol: nothing was placed, so no work
      // was counted, and the loop ran for more than a minute in the fuzz
      // build. Instances past the data now spend the decoder's padding budget.
      {"text-region-instances-on-padding.bin", "text region instances past the data"},
      // A halftone grid zero cells wide and 33,554,432 high: no pixels, so
      // no work was counted while each of its 7 planes went through every
      // row. A grid without cells is now passed over, and every row of a
      // region costs at least a pixel.
      {"halftone-grid-zero-wide.bin", "halftone grid without cells"},
  };
  for (const Case& c : cases) {
    const std::string input = Seed("fuzz_jbig2", c.seed);
    ASSERT_GT(input.size(), 2u) << c.seed;
    const size_t globalsLength =
        std::min<size_t>((size_t(uint8_t(input[0])) << 8) | uint8_t(input[1]), input.size() - 2);
    const std::string_view all = std::string_view(input).substr(2);
    TPVLJBIG2Decoder dec;
    const double start = CpuSeconds();
    (void)dec.DecodeWithGlobals(all.substr(globalsLength), all.substr(0, globalsLength));
    EXPECT_LT(SecondsSince(start), kMaxSeconds) << c.what;
  }
}

// The padding budget itself: a floor for small data, more per byte of
// data, spent by every region of one decoder in turn.
TEST(FuzzReproTest, JBIG2PaddingBudgetIsSharedByTheDecodersRegions) {
  struct Case {
    size_t dataBytes;
    int64_t budget;
  };
  const Case cases[] = {
      {10, TArithmeticDecoder::kPaddedPixelFloor},
      {4096, int64_t(4096) * TArithmeticDecoder::kPaddedPixelsPerByte},
  };
  for (const Case& c : cases) {
    const std::string data(c.dataBytes, '\0');
    TStreamReader reader(data);
    TArithmeticDecoder ad(reader);
    // Two regions of half the budget each fit; one more pixel does not.
    EXPECT_TRUE(ad.SpendPaddedPixels(c.budget / 2)) << c.dataBytes;
    EXPECT_TRUE(ad.SpendPaddedPixels(c.budget - c.budget / 2)) << c.dataBytes;
    EXPECT_FALSE(ad.SpendPaddedPixels(1)) << c.dataBytes;
  }
}
