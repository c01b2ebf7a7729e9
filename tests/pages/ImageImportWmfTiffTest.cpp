// Image import of Windows metafiles (placeable and plain, written here record
// by record) against their EMF twins; metafiles and TIFF pages drawn into a
// bitmap (option -1) against the vector import; and a TIFF page of every
// compression placed on a page and drawn like tiff2pdf's page of the same
// file (both through pdftoppm).
#include <gtest/gtest.h>

#include "EmfTestSupport.h"
#include "PageImageCompare.h"
#include "PainterTestSupport.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"
#include "platform/Bitmap.h"
#include "platform/WmfConverter.h"

namespace {

using pvltest::TEmfBuilder;
using pvltest::TTestPdf;

// A Windows metafile written record by record: 16-bit words.
class TWmfBuilder {
public:
  TWmfBuilder& Record(uint16_t function, const std::vector<int32_t>& words, const std::string& bytes = {}) {
    std::string params;
    for (int32_t w : words) params += TEmfBuilder::U16(static_cast<uint16_t>(w));
    params += bytes;
    if (params.size() % 2) params += '\0';
    const uint32_t size = uint32_t(3 + params.size() / 2);
    records_ += TEmfBuilder::U32(size) + TEmfBuilder::U16(function) + params;
    largest_ = std::max(largest_, size);
    return *this;
  }
  // The file, placeable (bounds in units, units per inch) or plain.
  std::string Finish(bool placeable, int16_t right, int16_t bottom, uint16_t inch) {
    const std::string eof = TEmfBuilder::U32(3) + TEmfBuilder::U16(0);
    const uint32_t words = uint32_t(9 + (records_.size() + eof.size()) / 2);
    std::string header = TEmfBuilder::U16(1) + TEmfBuilder::U16(9) + TEmfBuilder::U16(0x300) + TEmfBuilder::U32(words) +
                         TEmfBuilder::U16(8) + TEmfBuilder::U32(largest_) + TEmfBuilder::U16(0);
    std::string out;
    if (placeable) {
      out = TEmfBuilder::U32(0x9AC6CDD7) + TEmfBuilder::U16(0) + TEmfBuilder::U16(0) + TEmfBuilder::U16(0) +
            TEmfBuilder::U16(uint16_t(right)) + TEmfBuilder::U16(uint16_t(bottom)) + TEmfBuilder::U16(inch) +
            TEmfBuilder::U32(0);
      uint16_t sum = 0;
      for (size_t i = 0; i < 10; ++i) sum ^= uint16_t(uint8_t(out[i * 2]) | uint8_t(out[i * 2 + 1]) << 8);
      out += TEmfBuilder::U16(sum);
    }
    return out + header + records_ + eof;
  }

private:
  std::string records_;
  uint32_t largest_ = 3;
};

// The same picture, 200 x 100 units: a red box, a blue ellipse outlined in
// black, a green triangle and a thick black line.
std::string PictureWmf(bool placeable) {
  TWmfBuilder w;
  w.Record(0x0103, {8});                      // SETMAPMODE anisotropic
  w.Record(0x020B, {0, 0});                   // SETWINDOWORG y, x
  w.Record(0x020C, {100, 200});               // SETWINDOWEXT y, x
  w.Record(0x02FC, {0, 0x00FF, 0x0000, 0});   // CREATEBRUSHINDIRECT solid red -> slot 0
  w.Record(0x02FA, {5, 0, 0, 0, 0});          // CREATEPENINDIRECT null pen -> slot 1
  w.Record(0x012D, {0}).Record(0x012D, {1});  // select both
  w.Record(0x041B, {90, 80, 10, 10});         // RECTANGLE bottom, right, top, left
  w.Record(0x02FC, {0, 0x0000, 0x00FF, 0});   // blue brush -> slot 2
  w.Record(0x02FA, {0, 4, 0, 0, 0});          // black pen 4 wide -> slot 3
  w.Record(0x012D, {2}).Record(0x012D, {3});
  w.Record(0x01F0, {0});                     // DELETEOBJECT the red brush: slot 0 free again
  w.Record(0x0418, {90, 190, 10, 100});      // ELLIPSE
  w.Record(0x02FC, {0, 0xFF00, 0x0000, 0});  // green brush -> slot 0
  w.Record(0x012D, {0});
  w.Record(0x0324, {3, 20, 95, 60, 95, 40, 60});      // POLYGON of three points
  w.Record(0x0214, {5, 5}).Record(0x0213, {5, 195});  // MOVETO, LINETO (y, x)
  return w.Finish(placeable, 200, 100, 100);
}

std::string PictureEmf() {
  TEmfBuilder e(200, 100);
  e.Brush(1, 0, TEmfBuilder::Rgb(255, 0, 0)).Pen(2, 5, 0, 0).Select(1).Select(2).Rectangle(10, 10, 80, 90);
  e.Brush(3, 0, TEmfBuilder::Rgb(0, 0, 255)).Pen(4, 0, 4, 0).Select(3).Select(4);
  e.Record(42, TEmfBuilder::Rect(100, 10, 190, 90));
  e.Brush(5, 0, TEmfBuilder::Rgb(0, 255, 0)).Select(5);
  e.Poly(3, {{20, 95}, {60, 95}, {40, 60}});
  e.Record(27, TEmfBuilder::I32(5) + TEmfBuilder::I32(5)).Record(54, TEmfBuilder::I32(195) + TEmfBuilder::I32(5));
  return e.Finish();
}

// Writes a file of one page of width x height points that the loaded image
// covers whole, and checks it with qpdf.
void WritePageOfImage(TTestPdf& pdf, TPDFImage& image, double width, double height, const std::string& path) {
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.DrawImage(image, 0, height, width, height);
  pvltest::WriteFile(path, pdf.Write(painter.GetContent(), width, height, {},
                                     {{image.GetResourceName(), image.GetObject()->GetRefNumber()}}));
  auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

// The image placed over a whole page of width x height points, drawn by
// pdftoppm at 72 dpi.
TBitmap PlaceAndDraw(const std::string& file, int32_t option, double width, double height, const pvltest::TempDir& dir,
                     const std::string& name) {
  TTestPdf pdf;
  TPDFImage image(&pdf.pool, "PavonaIm00000001");
  TMemoryStream stream(file);
  EXPECT_TRUE(image.LoadFromStream(stream, option)) << name;
  if (!image.GetObject()) return TBitmap();
  const std::string path = dir.File(name + ".pdf");
  WritePageOfImage(pdf, image, width, height, path);
  auto r = pvltest::RunCommand({"pdftoppm", "-r", "72", "-png", "-singlefile", path, dir.File(name)});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return pvltest::LoadPng(dir.File(name + ".png"));
}

TEST(WmfImport, WindowsMetafilesLookLikeTheirEmfTwins) {
  REQUIRE_TOOLS("pdftoppm", "qpdf");
  pvltest::TempDir dir;
  const TBitmap twin = PlaceAndDraw(PictureEmf(), 0, 400, 200, dir, "emf");
  ASSERT_FALSE(twin.Empty());
  struct Case {
    const char* name;
    bool placeable;
    int32_t points;  // width in points
  };
  // Placeable: 200 units at 100 per inch; plain: the window's 200 units as
  // 96 dpi pixels.
  for (const Case& c : {Case{"placeable", true, 144}, Case{"plain", false, 150}}) {
    SCOPED_TRACE(c.name);
    const std::string wmf = PictureWmf(c.placeable);
    ASSERT_TRUE(IsWindowsMetafile(wmf));
    TTestPdf pdf;
    TPDFImage image(&pdf.pool, "PavonaIm00000002");
    TMemoryStream stream(wmf);
    ASSERT_TRUE(image.LoadFromStream(stream, 0));
    EXPECT_EQ(image.GetKind(), pdfikMetafile);
    EXPECT_EQ(image.GetWidth(), c.points);
    EXPECT_EQ(image.GetHeight(), c.points / 2);
    const TBitmap drawn = PlaceAndDraw(wmf, 0, 400, 200, dir, c.name);
    const auto d = pvltest::CompareImages(twin, drawn);
    EXPECT_LT(d.mean, 4.0);
    EXPECT_GT(d.inkRecall, 0.95);
    // The colours are where the twin has them.
    EXPECT_EQ(drawn.Pixel(80, 100) & 0xFFFFFF, 0x0000FFu) << "red box";
    EXPECT_EQ(drawn.Pixel(290, 100) & 0xFFFFFF, 0xFF0000u) << "blue ellipse";
  }
}

TEST(WmfImport, BrokenWindowsMetafilesAreRefused) {
  TWmfBuilder w;
  w.Record(0x041B, {90, 80});  // a rectangle missing two of its corners
  const std::string shortRecord = w.Finish(true, 200, 100, 100);
  std::string cut = PictureWmf(false);
  cut[18 + 3] = '\x7F';  // the first record's size reaches beyond the file
  const std::string empty = TWmfBuilder().Finish(true, 0, 0, 100);
  for (const std::string& file : {shortRecord, cut, empty}) {
    TTestPdf pdf;
    TPDFImage image(&pdf.pool, "PavonaIm00000003");
    TMemoryStream stream(file);
    EXPECT_FALSE(image.LoadFromStream(stream, 0));
  }
}

TEST(RasterisedImport, MetafilesDrawnIntoABitmapLookLikeTheVectorImport) {
  REQUIRE_TOOLS("pdftoppm", "qpdf");
  pvltest::TempDir dir;
  for (const auto& [name, file] : {std::pair<std::string, std::string>{"emf", PictureEmf()},
                                   std::pair<std::string, std::string>{"wmf", PictureWmf(true)}}) {
    SCOPED_TRACE(name);
    TTestPdf pdf;
    TPDFImage image(&pdf.pool, "PavonaIm00000004");
    TMemoryStream stream(file);
    ASSERT_TRUE(image.LoadFromStream(stream, -1));
    EXPECT_EQ(image.GetKind(), pdfikBitmap);
    // The picture's size at 96 dpi: the EMF twin is 50 x 25 mm, the WMF 2 x 1 in.
    EXPECT_NEAR(image.GetWidth(), name == "emf" ? 189 : 192, 1);
    EXPECT_NEAR(image.GetHeight(), name == "emf" ? 94 : 96, 1);
    EXPECT_EQ(image.GetDictionary()->GetNameValue("Filter"), "FlateDecode");
    const TBitmap vector = PlaceAndDraw(file, 0, 400, 200, dir, name + "-vector");
    const TBitmap raster = PlaceAndDraw(file, -1, 400, 200, dir, name + "-raster");
    const auto d = pvltest::CompareImages(vector, raster);
    EXPECT_LT(d.mean, 8.0);
    EXPECT_GT(d.inkRecall, 0.9);
  }
}

// A 64 x 32 picture: four colour bands over a grey ramp, written by
// ImageMagick with the given options.
struct TiffCase {
  std::string name;
  std::vector<std::string> options;
  bool bilevel;
  // tiff2pdf's pages of JPEG-compressed TIFF files draw blank in pdftoppm
  // here: such pages are compared with libtiff's own decoding (tiff2rgba).
  bool libtiffReference = false;
};

class TiffImport : public ::testing::TestWithParam<TiffCase> {};

TEST_P(TiffImport, PagesAreDrawnLikeTiff2pdfDrawsThem) {
  REQUIRE_TOOLS("convert", "tiff2pdf", "tiff2rgba", "pdftoppm", "qpdf");
  const TiffCase& c = GetParam();
  pvltest::TempDir dir;
  const std::string tif = dir.File("page.tif");
  std::vector<std::string> args = {
      "convert", "-size", "64x32", "gradient:white-black", "-fill",  "red", "-draw",  "rectangle 4,4 20,27",
      "-fill",   "blue",  "-draw", "rectangle 40,4 59,27", "-depth", "8",   "-alpha", "off"};
  if (c.bilevel) args.insert(args.end(), {"-threshold", "50%", "-type", "Bilevel"});
  args.insert(args.end(), c.options.begin(), c.options.end());
  args.push_back(tif);
  auto made = pvltest::RunCommand(args);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string bytes = pvltest::ReadFile(tif);

  TTestPdf pdf;
  TPDFImage image(&pdf.pool, "PavonaIm00000005");
  TMemoryStream stream(bytes);
  ASSERT_TRUE(image.LoadFromStream(stream, 1));
  EXPECT_EQ(image.GetKind(), pdfikTIFFPage);
  EXPECT_EQ(image.GetWidth(), 64);
  EXPECT_EQ(image.GetHeight(), 32);
  const std::string ours = dir.File("ours.pdf");
  WritePageOfImage(pdf, image, 64, 32, ours);
  std::vector<std::pair<std::string, std::string>> drawn = {{ours, "ours"}};
  if (c.libtiffReference) {
    auto rgba = pvltest::RunCommand({"tiff2rgba", tif, dir.File("rgba.tif")});
    ASSERT_EQ(rgba.exitCode, 0) << rgba.err;
    auto png = pvltest::RunCommand({"convert", dir.File("rgba.tif"), "-alpha", "off", dir.File("peer.png")});
    ASSERT_EQ(png.exitCode, 0) << png.err;
  } else {
    auto peer = pvltest::RunCommand({"tiff2pdf", "-o", dir.File("peer.pdf"), tif});
    ASSERT_EQ(peer.exitCode, 0) << peer.err;
    drawn.emplace_back(dir.File("peer.pdf"), "peer");
  }
  for (const auto& [pdfFile, base] : drawn) {
    auto r = pvltest::RunCommand(
        {"pdftoppm", "-scale-to-x", "64", "-scale-to-y", "32", "-png", "-singlefile", pdfFile, dir.File(base)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  const TBitmap a = pvltest::LoadPng(dir.File("peer.png")), b = pvltest::LoadPng(dir.File("ours.png"));
  ASSERT_FALSE(a.Empty());
  ASSERT_FALSE(b.Empty());
  const auto d = pvltest::CompareImages(a, b);
  EXPECT_LT(d.mean, 6.0);  // a blank or garbled page is far above
  EXPECT_GT(d.inkRecall, 0.95);

  // Option -1: the page drawn into a bitmap looks the same.
  TTestPdf again;
  TPDFImage rasterised(&again.pool, "PavonaIm00000006");
  TMemoryStream second(bytes);
  ASSERT_TRUE(rasterised.LoadFromStream(second, -1));
  EXPECT_EQ(rasterised.GetWidth(), 64);
  EXPECT_EQ(rasterised.GetHeight(), 32);
}

INSTANTIATE_TEST_SUITE_P(
    Compressions, TiffImport,
    ::testing::Values(
        TiffCase{"none", {"-compress", "None"}, false}, TiffCase{"lzw", {"-compress", "LZW"}, false},
        TiffCase{"lzw_predictor", {"-compress", "LZW", "-define", "tiff:predictor=2"}, false},
        TiffCase{"packbits", {"-compress", "RLE"}, false}, TiffCase{"deflate", {"-compress", "Zip"}, false},
        TiffCase{"jpeg", {"-compress", "JPEG", "-quality", "95", "-define", "tiff:rows-per-strip=16"}, false, true},
        TiffCase{"planar", {"-compress", "None", "-interlace", "Plane"}, false},
        TiffCase{"ccitt_g3", {"-compress", "Fax"}, true}, TiffCase{"ccitt_g4", {"-compress", "Group4"}, true},
        TiffCase{"packbits_bilevel", {"-compress", "RLE"}, true}),
    [](const ::testing::TestParamInfo<TiffCase>& info) { return info.param.name; });

}  // namespace
