// Images prepared once and kept between draws and pages: a kept picture
// draws the same pixels as one prepared for the draw, whatever the kind of
// image, its mask and the sizes it is drawn at; an edited image is not taken
// for the old one; the kept pictures stay within the budget; and pictures
// reduced to their size on the device look as pdftoppm draws them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "PageImageCompare.h"
#include "RendererTestSupport.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaJPEG.h"
#include "render/PavonaImageCache.h"

using namespace pvlrender;

namespace {

// Renders page 1 with the given image cache (kind 0 through GDI, or cairo).
TBitmap RenderWithCache(TPDFDictionary* page, TPDFImageCache& cache, bool cairo, double dpi = 72) {
  TPDFFontCollection fonts;
  TPDFRenderer renderer(&fonts);
  renderer.ImageCache = &cache;
  renderer.PageObject = page;
  renderer.Resolution = dpi;
  return DrawRendererPage(renderer, cairo);
}

// Pixels that differ between two bitmaps of one size (all of them when the
// sizes differ).
int64_t DifferingPixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return int64_t(a.Width()) * a.Height() + 1;
  int64_t n = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) n += a.Pixel(x, y) != b.Pixel(x, y);
  return n;
}

// Samples of a picture with detail at every scale: 1-pixel stripes in one
// corner, a smooth ramp elsewhere and a diagonal edge.
std::string Samples(int w, int h, int components, int bits) {
  std::string out;
  const int rowBytes = (w * components * bits + 7) / 8;
  out.assign(size_t(rowBytes) * h, '\0');
  for (int y = 0; y < h; ++y) {
    int bit = 0;
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < components; ++c) {
        const int maxv = (1 << bits) - 1;
        int v;
        if (x < w / 3 && y < h / 2)
          v = ((x + c) & 1) ? maxv : 0;
        else if (x * h > y * w)
          v = (x * 7 + y * 3 + c * 40) % (maxv + 1);
        else
          v = maxv * ((x + y * (c + 1)) % w) / w;
        for (int b = bits - 1; b >= 0; --b, ++bit)
          if ((v >> b) & 1) out[size_t(y) * rowBytes + bit / 8] |= char(0x80 >> (bit % 8));
      }
  }
  return out;
}

std::string ImageObject(int w, int h, const std::string& entries, const std::string& data) {
  return StreamObject("/Type /XObject /Subtype /Image /Width " + std::to_string(w) + " /Height " + std::to_string(h) +
                          " " + entries,
                      data);
}

struct TImageCase {
  const char* name;
  std::vector<std::string> objects;  // object 4 is the image; masks follow
};

std::vector<TImageCase> ImageCases() {
  const int w = 64, h = 48;
  std::string palette;
  for (int i = 0; i < 16; ++i) palette += {char(i * 16), char(255 - i * 16), char(i * 7)};
  return {
      {"RGB", {ImageObject(w, h, "/ColorSpace /DeviceRGB /BitsPerComponent 8", Samples(w, h, 3, 8))}},
      {"Gray", {ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 8", Samples(w, h, 1, 8))}},
      {"CMYK", {ImageObject(w, h, "/ColorSpace /DeviceCMYK /BitsPerComponent 8", Samples(w, h, 4, 8))}},
      {"Indexed",
       {ImageObject(w, h, "/ColorSpace [/Indexed /DeviceRGB 15 <" + [&] {
                      std::string hex;
                      for (unsigned char c : palette) {
                        const char* digits = "0123456789ABCDEF";
                        hex += digits[c >> 4], hex += digits[c & 15];
                      }
                      return hex;
                    }() + ">] /BitsPerComponent 4",
                    Samples(w, h, 1, 4))}},
      {"1-bit", {ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 1 /Decode [1 0]", Samples(w, h, 1, 1))}},
      {"stencil", {ImageObject(w, h, "/ImageMask true /BitsPerComponent 1", Samples(w, h, 1, 1))}},
      {"explicit mask",
       {ImageObject(w, h, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Mask 5 0 R", Samples(w, h, 3, 8)),
        ImageObject(32, 24, "/ImageMask true /BitsPerComponent 1", Samples(32, 24, 1, 1))}},
      {"soft mask",
       {ImageObject(w, h, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /SMask 5 0 R", Samples(w, h, 3, 8)),
        ImageObject(w * 2, h * 2, "/ColorSpace /DeviceGray /BitsPerComponent 8", Samples(w * 2, h * 2, 1, 8))}},
      {"1-bit soft-masked",
       {ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 1 /SMask 5 0 R", Samples(w, h, 1, 1)),
        ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 8", Samples(w, h, 1, 8))}},
  };
}

// The image reduced (40 x 30 pixels), enlarged (90 x 60) and reduced again
// with another fill colour (the stencil's colour is not part of what is kept).
const char* kTwoScales =
    "0.9 0.9 0.8 rg 0 0 150 110 re f "
    "q 1 0 0 rg 40 0 0 30 5 5 cm /Im Do Q "
    "q 0 0 1 rg 90 0 0 60 5 45 cm /Im Do Q "
    "q 0 0.5 0 rg 40 0 0 30 100 5 cm /Im Do Q";

TEST(RendererImageCache, KeptPicturesDrawTheSamePixelsAsFreshOnes) {
  for (const TImageCase& c : ImageCases()) {
    const std::string pdf =
        PagePdf(kTwoScales, "<< /XObject << /Im 4 0 R >> >>", c.objects, "", "[0 0 150 110]");
    auto doc = LoadPdf(pdf);
    ASSERT_TRUE(doc);
    TPDFDictionary* page = FindPages(*doc).at(0);
    for (bool cairo : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (cairo ? " cairo" : " GDI"));
      TPDFImageCache nothingKept(0);
      const TBitmap fresh = RenderWithCache(page, nothingKept, cairo);
      EXPECT_EQ(nothingKept.GetCount(), 0);
      TPDFImageCache cache;
      const TBitmap first = RenderWithCache(page, cache, cairo);
      // The third draw found the first one's picture.
      EXPECT_GE(cache.GetHits(), 1);
      EXPECT_EQ(cache.GetCount(), 2) << "one picture per size drawn";
      const int64_t hits = cache.GetHits();
      const TBitmap second = RenderWithCache(page, cache, cairo);
      EXPECT_EQ(cache.GetHits(), hits + 3) << "the page drawn again from kept pictures";
      EXPECT_EQ(DifferingPixels(fresh, first), 0);
      EXPECT_EQ(DifferingPixels(fresh, second), 0);
      // The image is drawn at all: the reduced copies differ from the background.
      EXPECT_NE(Rgb(fresh, 25, 90), Rgb(fresh, 75, 100));
    }
  }
}

// A picture left as samples by its decoder (converted a row at a time while
// it is reduced) is prepared to the same pixels as the unpacked picture, at
// every size and with every kind of mask.
TEST(RendererImageCache, PicturesLeftAsSamplesPrepareAsUnpackedOnes) {
  const std::set<std::string> heldAsSamples = {"RGB", "Gray", "Indexed", "explicit mask", "soft mask"};
  for (const TImageCase& c : ImageCases()) {
    SCOPED_TRACE(c.name);
    auto doc = LoadPdf(PagePdf(kTwoScales, "<< /XObject << /Im 4 0 R >> >>", c.objects, "", "[0 0 150 110]"));
    ASSERT_TRUE(doc);
    TPDFDictionary* page = FindPages(*doc).at(0);
    auto resolve = [](TPDFObject* o) { return PDFAsIndRef(o) ? PDFAsIndRef(o)->Resolve() : o; };
    TPDFDictionary* resources = PDFAsDictionary(resolve(page->GetValue("Resources")));
    ASSERT_NE(resources, nullptr);
    TPDFDictionary* xobjects = PDFAsDictionary(resolve(resources->GetValue("XObject")));
    ASSERT_NE(xobjects, nullptr);
    TPDFStream* image = PDFAsStream(resolve(xobjects->GetValue("Im")));
    ASSERT_NE(image, nullptr);
    TPDFImageDecoder unpacked, samples;
    samples.KeepBilevel = unpacked.KeepBilevel = true;
    samples.KeepSamples = true;
    unpacked.SetImage(image);
    samples.SetImage(image);
    ASSERT_TRUE(unpacked.IsReady()) << unpacked.GetErrorText();
    ASSERT_TRUE(samples.IsReady()) << samples.GetErrorText();
    EXPECT_FALSE(unpacked.HasPendingSamples());
    EXPECT_EQ(samples.HasPendingSamples(), heldAsSamples.count(c.name) != 0);
    for (auto [w, h] : {std::pair{40, 30}, {64, 48}, {13, 7}, {64, 1}, {1, 48}}) {
      SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
      auto a = PrepareImage(unpacked, w, h), b = PrepareImage(samples, w, h);
      ASSERT_TRUE(a && b);
      ASSERT_EQ(a->Width, b->Width);
      ASSERT_EQ(a->Height, b->Height);
      ASSERT_EQ(a->Stencil, b->Stencil);
      EXPECT_EQ(a->Coverage, b->Coverage);
      if (a->Stencil) continue;
      for (int y = 0; y < a->Height; ++y)
        ASSERT_EQ(std::memcmp(a->Picture.ScanLine(y), b->Picture.ScanLine(y), size_t(a->Width) * 4), 0)
            << "row " << y;
    }
  }
}

TEST(RendererImageCache, AnEditedImageIsNotTakenForTheKeptOne) {
  const int w = 64, h = 48;
  const std::string pdf = PagePdf(kTwoScales, "<< /XObject << /Im 4 0 R >> >>",
                                  {ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 8", Samples(w, h, 1, 8))},
                                  "", "[0 0 150 110]");
  auto doc = LoadPdf(pdf);
  ASSERT_TRUE(doc);
  TPDFDictionary* page = FindPages(*doc).at(0);
  TPDFImageCache cache;
  const TBitmap before = RenderWithCache(page, cache, true);
  ASSERT_GT(cache.GetCount(), 0);
  TPDFStream* image = PDFAsStream(PDFResolve(
      PDFAsDictionary(PDFResolve(PDFAsDictionary(PDFResolve(page->GetValue("Resources")))->GetValue("XObject")))
          ->GetValue("Im")));
  ASSERT_NE(image, nullptr);
  std::string inverted = Samples(w, h, 1, 8);
  for (char& b : inverted) b = char(255 - uint8_t(b));
  image->SetData(inverted, false);
  TPDFImageCache nothingKept(0);
  const TBitmap expected = RenderWithCache(page, nothingKept, true);
  const TBitmap after = RenderWithCache(page, cache, true);
  EXPECT_GT(DifferingPixels(before, expected), 100) << "the edit changes the page";
  EXPECT_EQ(DifferingPixels(expected, after), 0);
}

TEST(RendererImageCache, KeptPicturesStayWithinTheBudget) {
  // 30 different 128 x 128 pictures, each drawn twice at its own size: every
  // one is worth keeping, far more than the budget holds.
  const int n = 30, side = 128;
  std::string content, xobjects;
  std::vector<std::string> images;
  for (int i = 0; i < n; ++i) {
    std::string data = Samples(side, side, 3, 8);
    for (size_t k = 0; k < data.size(); k += 7) data[k] = char(i * 8);
    images.push_back(ImageObject(side, side, "/ColorSpace /DeviceRGB /BitsPerComponent 8", data));
    xobjects += "/I" + std::to_string(i) + " " + std::to_string(4 + i) + " 0 R ";
    const int x = (i % 10) * side, y = (i / 10) * side;
    for (int twice = 0; twice < 2; ++twice)
      content += "q " + std::to_string(side) + " 0 0 " + std::to_string(side) + " " + std::to_string(x) + " " +
                 std::to_string(y) + " cm /I" + std::to_string(i) + " Do Q ";
  }
  // And one picture larger than a quarter of the budget, drawn twice.
  images.push_back(ImageObject(400, 400, "/ColorSpace /DeviceRGB /BitsPerComponent 8", Samples(400, 400, 3, 8)));
  xobjects += "/Big " + std::to_string(4 + n) + " 0 R ";
  content += "q 400 0 0 400 0 384 cm /Big Do Q q 400 0 0 400 0 384 cm /Big Do Q";
  const std::string pdf = PagePdf(content, "<< /XObject << " + xobjects + ">> >>", images, "", "[0 0 1280 784]");
  auto doc = LoadPdf(pdf);
  ASSERT_TRUE(doc);
  TPDFDictionary* page = FindPages(*doc).at(0);
  const int64_t budget = 512 << 10;
  TPDFImageCache cache(budget);
  const TBitmap kept = RenderWithCache(page, cache, true);
  EXPECT_LE(cache.GetByteCount(), budget);
  EXPECT_GT(cache.GetCount(), 0);
  EXPECT_LE(cache.GetCount(), 7) << "a 128 x 128 picture takes 64 KiB";
  TPDFImageCache nothingKept(0);
  EXPECT_EQ(DifferingPixels(RenderWithCache(page, nothingKept, true), kept), 0);
  // Drawn again, the page stays within the budget too.
  RenderWithCache(page, cache, true);
  EXPECT_LE(cache.GetByteCount(), budget);
  cache.SetBudget(100 << 10);
  EXPECT_LE(cache.GetByteCount(), 100 << 10);
  EXPECT_LE(cache.GetCount(), 1);
}

TEST(RendererImageCache, ReducedPicturesMatchPdftoppm) {
  std::string missing;
  if (!pvltest::RequireTool("pdftoppm", missing)) GTEST_SKIP() << missing;
  // Large pictures drawn small: fine stripes average to grey as pdftoppm
  // averages them, in colour, 1-bit and stencil images. (Soft masks are
  // compared with fresh draws above; pdftoppm blends them differently.)
  const std::vector<std::string> objects = {
      ImageObject(1200, 900, "/ColorSpace /DeviceRGB /BitsPerComponent 8", Samples(1200, 900, 3, 8)),
      ImageObject(1600, 1200, "/ColorSpace /DeviceGray /BitsPerComponent 1", Samples(1600, 1200, 1, 1)),
      ImageObject(800, 600, "/ImageMask true /BitsPerComponent 1", Samples(800, 600, 1, 1)),
      // A JPEG photograph-like picture, decoded at an eighth or a quarter.
      ImageObject(1600, 1200, "/ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /DCTDecode", [] {
        TBitmap picture(1600, 1200, TPixelFormat::pf24bit);
        for (int y = 0; y < 1200; ++y) {
          uint8_t* row = picture.ScanLine(y);
          for (int x = 0; x < 1600; ++x) {
            row[3 * x] = uint8_t(x * 255 / 1600), row[3 * x + 1] = uint8_t(y * 255 / 1200);
            row[3 * x + 2] = uint8_t(128 + 100 * std::sin(x / 40.0) * std::cos(y / 30.0));
          }
        }
        TPDFJPEGImage jpeg;
        jpeg.Assign(picture);
        jpeg.Compress();
        return jpeg.JPEGBytes();
      }()),
  };
  const std::string content =
      "q 120 0 0 90 10 10 cm /A Do Q q 160 0 0 120 140 10 cm /B Do Q "
      "q 0.8 0.1 0.1 rg 80 0 0 60 10 140 cm /C Do Q q 80 0 0 60 140 140 cm /D Do Q";
  const std::string pdf = PagePdf(content, "<< /XObject << /A 4 0 R /B 5 0 R /C 6 0 R /D 7 0 R >> >>", objects, "",
                                  "[0 0 310 210]");
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("reduced.pdf"), pdf);
  auto doc = LoadPdf(pdf);
  ASSERT_TRUE(doc);
  TPDFDictionary* page = FindPages(*doc).at(0);
  for (double dpi : {72.0, 150.0}) {
    const std::string base = dir.File("pp" + std::to_string(int(dpi)));
    auto r = pvltest::RunCommand({"pdftoppm", "-r", std::to_string(int(dpi)), "-png", "-singlefile",
                                  dir.File("reduced.pdf"), base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const TBitmap reference = pvltest::LoadPng(base + ".png");
    ASSERT_FALSE(reference.Empty());
    for (bool cairo : {false, true}) {
      SCOPED_TRACE(std::to_string(int(dpi)) + (cairo ? " dpi cairo" : " dpi GDI"));
      TPDFImageCache cache;
      const TBitmap ours = RenderWithCache(page, cache, cairo, dpi);
      const pvltest::TImageDifference d = pvltest::CompareImages(reference, ours);
      EXPECT_EQ(d.widthA, d.widthB);
      EXPECT_EQ(d.heightA, d.heightB);
      EXPECT_LT(d.mean, 4.0);
      // The 1-pixel stripes in a corner of the RGB picture, ten or more to a
      // device pixel, are their mean: grey, not black or white as picked
      // samples would be.
      for (int px : {20, 25, 30, 35})
        for (int py : {75, 85}) {
          const int x = int(std::lround(px * dpi / 72)), y = int(std::lround((210 - py) * dpi / 72));
          const TColor c = ours.Pixel(x, y);
          for (uint8_t v : {GetRValue(c), GetGValue(c), GetBValue(c)}) EXPECT_NEAR(v, 127.5, 20) << x << "," << y;
        }
    }
  }
}

}  // namespace

// 1-bit pictures are reduced by visiting the rarer samples of each row: rows
// of paper, of ink, mostly one or the other, with set padding bits after an
// odd width, give the exact area averages worked out here pixel by pixel.
TEST(RendererImageCache, BilevelPicturesReduceToExactAreaAverages) {
  const int w = 37, h = 9, rowBytes = (w + 7) / 8;
  auto bitAt = [](int x, int y) {
    switch (y) {
      case 0: return false;                     // paper
      case 1: return true;                      // ink
      case 2: return x % 11 != 3;               // mostly 1
      case 3: return x % 13 == 5;               // mostly 0
      default: return ((x * 7 + y * 3) % 5) < 2;
    }
  };
  std::string data(size_t(rowBytes) * h, '\xFF');  // padding bits set
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (!bitAt(x, y)) data[size_t(y) * rowBytes + x / 8] &= char(~(0x80 >> (x % 8)));
  auto doc = LoadPdf(PagePdf("q 100 0 0 100 0 0 cm /Im Do Q", "<< /XObject << /Im 4 0 R >> >>",
                             {ImageObject(w, h, "/ColorSpace /DeviceGray /BitsPerComponent 1", data)}, "",
                             "[0 0 100 100]"));
  ASSERT_TRUE(doc);
  TPDFDictionary* page = FindPages(*doc).at(0);
  auto resolve = [](TPDFObject* o) { return PDFAsIndRef(o) ? PDFAsIndRef(o)->Resolve() : o; };
  TPDFDictionary* resources = PDFAsDictionary(resolve(page->GetValue("Resources")));
  ASSERT_NE(resources, nullptr);
  TPDFStream* image = PDFAsStream(resolve(PDFAsDictionary(resolve(resources->GetValue("XObject")))->GetValue("Im")));
  ASSERT_NE(image, nullptr);
  TPDFImageDecoder decoder;
  decoder.KeepBilevel = true;
  decoder.SetImage(image);
  ASSERT_TRUE(decoder.IsReady()) << decoder.GetErrorText();
  ASSERT_TRUE(decoder.IsBilevel());
  // Overlap of source cell i (tSize units wide) with target cell t (sSize wide).
  auto overlap = [](int i, int t, int sSize, int tSize) {
    const int64_t lo = std::max<int64_t>(int64_t(i) * tSize, int64_t(t) * sSize);
    const int64_t hi = std::min<int64_t>(int64_t(i + 1) * tSize, int64_t(t + 1) * sSize);
    return std::max<int64_t>(0, hi - lo);
  };
  for (auto [tw, th] : {std::pair{37, 9}, {36, 8}, {10, 4}, {5, 3}, {1, 1}, {37, 1}}) {
    SCOPED_TRACE(std::to_string(tw) + " x " + std::to_string(th));
    auto prepared = PrepareImage(decoder, tw, th);
    ASSERT_TRUE(prepared);
    ASSERT_EQ(prepared->Width, tw);
    ASSERT_EQ(prepared->Height, th);
    const uint64_t total = uint64_t(w) * h;
    for (int ty = 0; ty < th; ++ty)
      for (int tx = 0; tx < tw; ++tx) {
        uint64_t ones = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            if (bitAt(x, y)) ones += uint64_t(overlap(x, tx, w, tw) * overlap(y, ty, h, th));
        const uint8_t expected = uint8_t((255 * ones + total / 2) / total);  // 1 is white
        const uint8_t* px = prepared->Picture.ScanLine(ty) + 4 * tx;
        ASSERT_EQ(px[0], expected) << tx << "," << ty;
        ASSERT_EQ(px[1], expected) << tx << "," << ty;
        ASSERT_EQ(px[3], 255) << tx << "," << ty;
      }
  }
}
