// Image import: files made by ImageMagick in every supported format are
// imported, placed on a page by the painter and checked with pdfimages (size,
// colour space, filter), pdftoppm (pixels) and qpdf; damaged and oversized
// files fail without crashing.
#include <gtest/gtest.h>

#include <filesystem>

#include "PainterTestSupport.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"
#include "platform/Bitmap.h"

namespace {

using pvltest::TTestPdf;

struct ImportCase {
  std::string name;
  std::vector<std::string> convertArgs;  // output options before the file name
  std::string file;
  int32_t option;
  int32_t kind;
  // pdfimages -list columns of the main image: type, width, height, color, bpc, enc.
  std::string type, color, enc;
  int width, height, bpc;
  bool twoColours;  // left half red, right half blue
};

// One row of pdfimages -list: the columns after the page number.
std::vector<std::vector<std::string>> ImageRows(const std::string& listing) {
  std::vector<std::vector<std::string>> rows;
  size_t start = 0;
  int line = 0;
  while (start < listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos) end = listing.size();
    std::string text = listing.substr(start, end - start);
    start = end + 1;
    if (++line <= 2 || text.empty()) continue;
    std::vector<std::string> cols;
    size_t p = 0;
    while (p < text.size()) {
      while (p < text.size() && text[p] == ' ') ++p;
      size_t q = text.find(' ', p);
      if (q == std::string::npos) q = text.size();
      if (q > p) cols.push_back(text.substr(p, q - p));
      p = q;
    }
    rows.push_back(cols);
  }
  return rows;
}

class ImageImport : public ::testing::TestWithParam<ImportCase> {};

TEST_P(ImageImport, ImportedImagePlacedOnAPage) {
  const ImportCase& c = GetParam();
  if (!pvltest::HaveTool("convert") || !pvltest::HaveTool("pdfimages") || !pvltest::HaveTool("pdftoppm"))
    GTEST_SKIP() << "peer tools missing";
  pvltest::TempDir dir;
  const size_t colon = c.file.find(':');
  const std::string prefix = colon == std::string::npos ? std::string() : c.file.substr(0, colon + 1);
  const std::string source = dir.File(c.file.substr(colon == std::string::npos ? 0 : colon + 1));
  std::vector<std::string> args = {"convert", "-size", "32x16", "xc:red", "-fill", "blue",
                                   "-draw", "rectangle 16,0 31,15"};
  if (!c.twoColours) args = {"convert", "-size", "32x16", "xc:black", "-fill", "white", "-draw", "rectangle 16,0 31,15"};
  args.insert(args.end(), c.convertArgs.begin(), c.convertArgs.end());
  args.push_back(prefix + source);
  auto made = pvltest::RunCommand(args);
  ASSERT_EQ(made.exitCode, 0) << made.err;

  TTestPdf pdf;
  TPDFImage image(&pdf.pool, "PavonaIm00000001");
  TMemoryStream stream(pvltest::ReadFile(source));
  ASSERT_TRUE(image.LoadFromStream(stream, c.option)) << c.name;
  EXPECT_EQ(image.GetKind(), c.kind);
  EXPECT_EQ(image.GetWidth(), 32);
  EXPECT_EQ(image.GetHeight(), 16);
  ASSERT_NE(image.GetObject(), nullptr);
  SCOPED_TRACE(image.GetDictionary()->WriteText());

  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.DrawImage(image, 0, 100, 200, 100);
  const std::string path = dir.File("image.pdf");
  pvltest::WriteFile(path, pdf.Write(painter.GetContent(), 200, 100, {},
                                     {{"PavonaIm00000001", image.GetObject()->GetRefNumber()}}));
  auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  auto list = pvltest::RunCommand({"pdfimages", "-list", path});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  auto rows = ImageRows(list.out);
  ASSERT_FALSE(rows.empty()) << list.out;
  // Columns: page num type width height color comp bpc enc ...
  bool found = false;
  for (const auto& row : rows) {
    ASSERT_GE(row.size(), 9u) << list.out;
    if (row[2] != c.type) continue;
    found = true;
    EXPECT_EQ(std::stoi(row[3]), c.width) << list.out;
    EXPECT_EQ(std::stoi(row[4]), c.height) << list.out;
    EXPECT_EQ(row[5], c.color) << list.out;
    EXPECT_EQ(std::stoi(row[7]), c.bpc) << list.out;
    EXPECT_EQ(row[8], c.enc) << list.out;
  }
  EXPECT_TRUE(found) << list.out;

  pvltest::TRenderedPage page;
  ASSERT_TRUE(pvltest::RenderPage(path, dir.File("image"), page));
  // Colours within tolerance; CMYK goes through the renderer's conversion,
  // so only the dominant channel is checked.
  auto near = [&c](std::array<int, 3> got, std::array<int, 3> want) {
    if (c.color == "cmyk") return want[0] > want[2] ? got[0] > got[2] + 60 : got[2] > got[0] + 60;
    for (int i = 0; i < 3; ++i)
      if (std::abs(got[i] - want[i]) > 40) return false;
    return true;
  };
  const std::array<int, 3> left = c.twoColours ? std::array<int, 3>{255, 0, 0} : std::array<int, 3>{0, 0, 0};
  const std::array<int, 3> right = c.twoColours ? std::array<int, 3>{0, 0, 255} : std::array<int, 3>{255, 255, 255};
  EXPECT_TRUE(near(page.At(40, 20), left)) << page.At(40, 20)[0] << " " << page.At(40, 20)[1] << " "
                                           << page.At(40, 20)[2];
  EXPECT_TRUE(near(page.At(160, 80), right)) << page.At(160, 80)[0] << " " << page.At(160, 80)[1] << " "
                                             << page.At(160, 80)[2];
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageImport,
    ::testing::Values(
        ImportCase{"jpeg", {"-quality", "95"}, "a.jpg", 0, pdfikJPEG, "image", "rgb", "jpeg", 32, 16, 8, true},
        ImportCase{"jpeg_gray", {"-colorspace", "Gray"}, "g.jpg", 0, pdfikJPEG, "image", "gray", "jpeg", 32, 16, 8,
                   false},
        ImportCase{"jpeg_cmyk", {"-colorspace", "CMYK"}, "c.jpg", 0, pdfikJPEG, "image", "cmyk", "jpeg", 32, 16, 8,
                   true},
        ImportCase{"png_rgb", {}, "png24:a.png", 0, pdfikPNG, "image", "rgb", "image", 32, 16, 8, true},
        ImportCase{"png_alpha", {"-alpha", "set", "-channel", "A", "-evaluate", "set", "100%", "+channel"},
                   "png32:b.png", 2, pdfikPNG, "smask", "gray", "image", 32, 16, 8, true},
        ImportCase{"png_palette", {}, "png8:p.png", 0, pdfikPNG, "image", "index", "image", 32, 16, 8, true},
        ImportCase{"png_gray", {"-colorspace", "Gray", "-define", "png:color-type=0", "-depth", "8"}, "png:g.png", 0, pdfikPNG, "image", "gray", "image", 32, 16,
                   8, false},
        ImportCase{"gif", {}, "a.gif", 0, pdfikBitmap, "image", "rgb", "image", 32, 16, 8, true},
        ImportCase{"bmp24", {"-type", "TrueColor"}, "bmp3:a.bmp", 0, pdfikBitmap, "image", "rgb", "image", 32, 16, 8,
                   true},
        ImportCase{"bmp1", {"-type", "Bilevel"}, "bmp3:m.bmp", 0, pdfikBitmap, "image", "gray", "image", 32, 16, 1,
                   false},
        ImportCase{"tiff_none", {"-compress", "None", "-depth", "8"}, "a.tif", 1, pdfikTIFFPage, "image", "rgb", "image", 32, 16, 8,
                   true},
        ImportCase{"tiff_lzw", {"-compress", "LZW", "-depth", "8", "-alpha", "off"}, "l.tif", 1, pdfikTIFFPage, "image", "rgb", "image", 32, 16, 8,
                   true},
        ImportCase{"tiff_packbits", {"-compress", "RLE", "-depth", "8", "-alpha", "off"}, "r.tif", 1, pdfikTIFFPage, "image", "rgb", "image", 32, 16,
                   8, true},
        ImportCase{"tiff_g4", {"-type", "Bilevel", "-compress", "Group4"}, "f.tif", 1, pdfikTIFFPage, "image", "gray",
                   "ccitt", 32, 16, 1, false},
        ImportCase{"tiff16", {"-compress", "None", "-depth", "16"}, "w.tif", 1, pdfikTIFFPage, "image", "rgb",
                   "image", 32, 16, 16, true},
        ImportCase{"tiff_strips", {"-compress", "None", "-depth", "8", "-alpha", "off", "-define", "tiff:rows-per-strip=4"}, "s.tif", 9,
                   pdfikTIFFPage, "image", "rgb", "image", 32, 4, 8, true}),
    [](const ::testing::TestParamInfo<ImportCase>& info) { return info.param.name; });

TEST(ImageImportDetails, JPEGResolutionAndSourceBytes) {
  if (!pvltest::HaveTool("convert")) GTEST_SKIP() << "convert missing";
  pvltest::TempDir dir;
  auto made = pvltest::RunCommand({"convert", "-size", "8x8", "xc:green", "-units", "PixelsPerInch", "-density", "72",
                                   dir.File("a.jpg")});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string bytes = pvltest::ReadFile(dir.File("a.jpg"));
  TTestPdf pdf;
  TPDFImage image(&pdf.pool, "PavonaIm00000002");
  image.KeepSource = true;
  TMemoryStream stream(bytes);
  ASSERT_TRUE(image.LoadFromStream(stream, 0));
  EXPECT_EQ(image.GetResolutionUnit(), 2);
  EXPECT_EQ(image.GetResolutionX(), 72);
  TPDFStream* s = PDFAsStream(pdf.Objects().back());
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->GetData(), bytes);
  EXPECT_EQ(image.GetMaskKind(), 0);
  ASSERT_TRUE(image.SaveDataToFile(dir.File("copy.jpg")));
  EXPECT_EQ(pvltest::ReadFile(dir.File("copy.jpg")), bytes);
  EXPECT_FALSE(image.SaveDataToFile(dir.File("missing/dir/x.jpg")));
  image.SetColorKeyMask(1, 0, 0.5, 2, -1, 0.5);
  EXPECT_EQ(image.GetDictionary()->GetValue("Mask")->WriteText(), "[ 255 255 0 0 128 128 ]");
  EXPECT_TRUE(image.SetMaskObject(7, 0, 2));
  EXPECT_FALSE(image.SetMaskObject(7, 0, 3));
}

TEST(ImageImportDetails, MaskKindsAndBitmaps) {
  TTestPdf pdf;
  TBitmap gray(4, 2, TPixelFormat::pf8bit);
  std::vector<TRGBQuad> palette(256);
  for (int i = 0; i < 256; ++i) palette[size_t(i)] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  gray.SetPalette(palette);
  TPDFImage grayImage(&pdf.pool, "G");
  grayImage.LoadFromBitmap(gray, nullptr, false);
  EXPECT_EQ(grayImage.GetMaskKind(), 2);
  EXPECT_EQ(grayImage.GetKind(), pdfikBitmap);

  TBitmap mono(10, 3, TPixelFormat::pf1bit);
  mono.SetPalette({TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}});
  TPDFImage monoImage(&pdf.pool, "M");
  monoImage.Compress = true;
  monoImage.LoadFromBitmap(mono, nullptr, false);
  EXPECT_EQ(monoImage.GetDictionary()->GetValue("Decode")->WriteText(), "[ 0 1 ]");
  EXPECT_EQ(monoImage.GetDictionary()->GetNameValue("Filter"), "FlateDecode");
  TPDFStream* s = PDFAsStream(pdf.Objects().back());
  EXPECT_EQ(s->GetDecodedData().size(), 6u);  // 2 bytes per row

  // A stencil: the painter writes the fill colour before placing it.
  TPDFImage stencil(&pdf.pool, "S");
  TPDFDictionary* dict = pdf.pool.NewDictionary();
  dict->SetValue("ImageMask", pdf.pool.NewBoolean(true));
  TPDFStream* stencilStream = pdf.pool.NewStreamWith(std::string(2, '\0'), dict);
  int32_t number = 0, generation = 0;
  pdf.pool.OnGetObjectNumber(&pdf.pool, stencilStream, number, generation);
  pdf.pool.OnLookupObject = [&](TPDFIndRef*, int32_t n, int32_t) -> TPDFObject* {
    return n >= 1 && n <= int32_t(pdf.Objects().size()) ? pdf.Objects()[size_t(n - 1)] : nullptr;
  };
  stencil.AttachToObject(number, generation, 4, 4);
  EXPECT_EQ(stencil.GetMaskKind(), 1);
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.SetFillColor(1, 0, 0);
  painter.DrawImage(stencil, 10, 50, 20, 40);
  EXPECT_EQ(painter.Content(), "q\n1 0 0 rg\n20 0 0 40 10 10 cm\n/S Do\nQ\n");
}

// Saving the source bytes: without kept bytes the call fails and a file
// already at the path keeps its contents; with them the file is replaced
// whole, through a temporary file that does not remain in the folder.
TEST(ImageImportDetails, SaveDataToFileNeedsSourceBytesAndReplacesWhole) {
  pvltest::TempDir dir;
  const std::string target = dir.File("image.bmp");
  pvltest::WriteFile(target, "earlier contents");
  TTestPdf pdf;
  TBitmap bitmap(3, 2, TPixelFormat::pf24bit);
  for (const bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "source kept" : "no source");
    TPDFImage image(&pdf.pool, keep ? "K" : "N");
    image.KeepSource = keep;
    image.LoadFromBitmap(bitmap, nullptr, false);
    EXPECT_EQ(image.SaveDataToFile(target), keep);
    EXPECT_EQ(pvltest::ReadFile(target), keep ? bitmap.SaveToBytes() : "earlier contents");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
      names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"image.bmp"});
  }
  TPDFImage empty(&pdf.pool, "E");
  EXPECT_FALSE(empty.SaveDataToFile(dir.File("never.bmp")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("never.bmp")));
}

TEST(ImageImportDetails, NoCallbackOrUnknownFormatIsRefused) {
  TPDFStructure pool;
  TPDFImage image(&pool, "X");
  TMemoryStream png(std::string("\x89PNG\r\n\x1A\n", 8));
  EXPECT_FALSE(image.LoadFromStream(png, 0));
  TTestPdf pdf;
  TPDFImage other(&pdf.pool, "Y");
  TMemoryStream junk(std::string("hello world, not an image"));
  EXPECT_FALSE(other.LoadFromStream(junk, 0));
  TMemoryStream empty{std::string()};
  EXPECT_FALSE(other.LoadFromStream(empty, 0));
}

// Damaged files: every prefix length class and flipped bytes of real files
// must end in false or an engine exception, never a crash.
TEST(ImageImportHostile, TruncatedAndCorruptedFilesFailCleanly) {
  if (!pvltest::HaveTool("convert")) GTEST_SKIP() << "convert missing";
  pvltest::TempDir dir;
  const std::vector<std::string> files = {"a.jpg", "png32:b.png", "png24:c.png", "d.gif", "bmp3:e.bmp", "f.tif"};
  for (const std::string& f : files) {
    auto made = pvltest::RunCommand({"convert", "-size", "40x30", "plasma:", f.find(':') == std::string::npos
                                                                                 ? dir.File(f)
                                                                                 : f.substr(0, f.find(':') + 1) +
                                                                                       dir.File(f.substr(f.find(':') + 1))});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string bytes = pvltest::ReadFile(dir.File(f.substr(f.find(':') + 1)));
    for (size_t cut : {size_t(3), size_t(10), size_t(30), bytes.size() / 3, bytes.size() / 2, bytes.size() - 1}) {
      TTestPdf pdf;
      TPDFImage image(&pdf.pool, "X");
      TMemoryStream stream(bytes.substr(0, cut));
      try {
        image.LoadFromStream(stream, 2);
      } catch (const Exception&) {
      }
    }
    for (size_t at = 8; at < bytes.size(); at += 7) {
      std::string damaged = bytes;
      damaged[at] = static_cast<char>(damaged[at] ^ 0xA5);
      TTestPdf pdf;
      TPDFImage image(&pdf.pool, "X");
      TMemoryStream stream(damaged);
      try {
        image.LoadFromStream(stream, 1);
      } catch (const Exception&) {
      }
    }
  }
}

TEST(ImageImportHostile, OversizedDimensionsAreRefused) {
  auto be16 = [](int v) { return std::string{char(v >> 8), char(v & 0xFF)}; };
  // JPEG whose frame claims 65535 x 65535 pixels.
  std::string jpeg = std::string("\xFF\xD8\xFF\xC0", 4) + be16(11) + "\x08" + be16(65535) + be16(65535) + "\x03" +
                     std::string(3, '\0') + std::string("\xFF\xD9", 2);
  // BMP whose header claims 100000 x 100000 pixels of 24 bits.
  std::string bmp = "BM" + std::string(12, '\0');
  auto le32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
  bmp.replace(10, 4, le32(54));
  bmp += le32(40) + le32(100000) + le32(100000) + std::string("\x01\x00\x18\x00", 4) + std::string(24, '\0');
  // GIF whose logical screen is 65535 x 65535.
  std::string gif = std::string("GIF89a") + "\xFF\xFF\xFF\xFF" + std::string("\x00\x00\x00", 3) + ";";
  for (const std::string& data : {jpeg, bmp, gif}) {
    TTestPdf pdf;
    TPDFImage image(&pdf.pool, "X");
    TMemoryStream stream(data);
    bool loaded = false;
    try {
      loaded = image.LoadFromStream(stream, 0);
    } catch (const Exception&) {
    }
    EXPECT_FALSE(loaded);
  }
}

}  // namespace
