#include <gtest/gtest.h>

#include <filesystem>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "graphics/PavonaJpeg2000Bitmap.h"

namespace {

void LoadBytes(TJpeg2000Bitmap& bm, const std::string& bytes) {
  TMemoryStream s(bytes);
  bm.LoadFromStream(s);
}

// Channel bytes of a bitmap in file order: gray, R G B, or R G B A.
std::string Samples(const TBitmap& bm) {
  std::string out;
  int bpp = bm.BitsPerPixel() / 8;
  for (int y = 0; y < bm.Height(); ++y) {
    const uint8_t* row = bm.ScanLine(y);
    for (int x = 0; x < bm.Width(); ++x) {
      const uint8_t* p = row + x * bpp;
      if (bpp == 1) {
        out += static_cast<char>(p[0]);
      } else {
        out += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
        if (bpp == 4) out += static_cast<char>(p[3]);
      }
    }
  }
  return out;
}

// The corpus's JPX images decode to the pixels opj_decompress writes.
TEST(Jpeg2000Bitmap, CorpusImagesMatchOpjDecompress) {
  if (!pvltest::HaveTool("opj_decompress") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  int compared = 0;
  for (const char* rel : {"pdfjs/bug_jpx.pdf", "pdfjs/jp2k-resetprob.pdf", "pdfjs/jpx_smaskindata.pdf"}) {
    for (const auto& img : codectest::PdfImages(pvltest::CorpusPath(rel), "JPXDecode")) {
      SCOPED_TRACE(std::string(rel) + " object " + std::to_string(img.object));
      pvltest::TempDir dir;
      bool jp2 = img.data.rfind(std::string("\0\0\0\x0CjP  ", 8), 0) == 0;
      std::string in = dir.File(jp2 ? "in.jp2" : "in.j2k");
      pvltest::WriteFile(in, img.data);
      TJpeg2000Bitmap bm;
      LoadBytes(bm, img.data);
      // opj_decompress writes four channels as PAM.
      std::string out = dir.File(bm.PixelFormat() == TPixelFormat::pf8bit ? "out.pgm" : "out.ppm");
      auto r = pvltest::RunCommand({"opj_decompress", "-quiet", "-i", in, "-o", out});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      auto pnm = codectest::ReadPnm(pvltest::ReadFile(out));
      ASSERT_EQ(bm.Width(), pnm.width);
      ASSERT_EQ(bm.Height(), pnm.height);
      EXPECT_TRUE(Samples(bm) == pnm.data);
      ++compared;
    }
  }
  EXPECT_EQ(compared, 6);
}

TEST(Jpeg2000Bitmap, DetectsTheFileTypeAndRejectsOthers) {
  TMemoryStream jp2(std::string("\0\0\0\x0CjP  \r\n\x87\n", 12));
  EXPECT_EQ(DetectJpeg2000FileType(jp2), 1);
  EXPECT_EQ(jp2.GetPosition(), 0);
  TMemoryStream j2k(std::string("\xFF\x4F\xFF\x51\0\0", 6));
  EXPECT_EQ(DetectJpeg2000FileType(j2k), 2);
  TMemoryStream other(std::string("GIF89a..", 8));
  EXPECT_EQ(DetectJpeg2000FileType(other), 0);
  TJpeg2000Bitmap bm;
  try {
    LoadBytes(bm, "GIF89a....");
    FAIL() << "no error";
  } catch (const EJpeg2000Error& e) {
    EXPECT_STREQ(e.what(), "Unknown JPEG 2000 file type");
  }
  // A JP2 signature with nothing decodable after it is reported, not drawn.
  try {
    LoadBytes(bm, std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + std::string(200, 'x'));
    FAIL() << "no error";
  } catch (const EJpeg2000Error& e) {
    EXPECT_STREQ(e.what(), "JPEG 2000 image decoding failed");
  }
}

TEST(Jpeg2000Bitmap, RateFollowsQuality) {
  EXPECT_FLOAT_EQ(Jpeg2000Rate(80, 100, 100, 3), 30000.0f / (30000.0f * 100.0f / 1225.0f + 550.0f + 284.0f));
}

TEST(Jpeg2000Bitmap, ChannelDefinitionBox) {
  std::string box = WriteJP2ChannelDefinitionBox({crRed, crGreen, crBlue, crOpacity});
  EXPECT_EQ(box, std::string("\0\0\0\x22" "cdef\0\x04"
                             "\0\0\0\0\0\x01" "\0\x01\0\0\0\x02" "\0\x02\0\0\0\x03" "\0\x03\0\x01\0\0",
                             34));
  EXPECT_EQ(WriteJP2ChannelDefinitionBox({crRed, crNone}), "");
  // Read back inside a JP2 header, under sRGB and under sYCC.
  auto jp2 = [&](const std::string& cdef) {
    std::string h = std::string("\0\0\0\x0CjP  \r\n\x87\n", 12);
    std::string inner = cdef;
    uint32_t len = static_cast<uint32_t>(8 + inner.size());
    h += std::string{char(len >> 24), char(len >> 16), char(len >> 8), char(len)} + "jp2h" + inner;
    return h;
  };
  bool present = false;
  EXPECT_EQ(ReadJP2ChannelDefinitionBox(jp2(box), 4, 16, &present),
            (std::vector<int32_t>{crRed, crGreen, crBlue, crOpacity}));
  EXPECT_TRUE(present);
  EXPECT_EQ(ReadJP2ChannelDefinitionBox(jp2(box), 4, 18), (std::vector<int32_t>{crLuminance, crCb, crCr, crOpacity}));
  EXPECT_TRUE(ReadJP2ChannelDefinitionBox(jp2(""), 3, 16, &present).empty());
  EXPECT_FALSE(present);
}

// A bitmap saved as JP2 opens in opj_decompress and comes back through our
// reader: lossless exactly, with the alpha byte kept through "cdef".
TEST(Jpeg2000Bitmap, SavedJp2OpensInOpjDecompressAndRoundTrips) {
  if (!pvltest::HaveTool("opj_decompress")) GTEST_SKIP();
  TJpeg2000Bitmap src;
  src.SetSize(70, 45);
  src.SetPixelFormat(TPixelFormat::pf32bit);
  for (int y = 0; y < 45; ++y) {
    uint8_t* row = src.ScanLine(y);
    for (int x = 0; x < 70; ++x) {
      row[x * 4 + 0] = static_cast<uint8_t>(x * 3);
      row[x * 4 + 1] = static_cast<uint8_t>(y * 5);
      row[x * 4 + 2] = static_cast<uint8_t>(x + y);
      row[x * 4 + 3] = static_cast<uint8_t>(255 - x);
    }
  }
  src.Lossless = true;
  TMemoryStream out;
  src.SaveToStream(out);
  std::string jp2 = out.Bytes();
  ASSERT_GT(jp2.size(), 50u);
  EXPECT_NE(jp2.find("cdef"), std::string::npos);

  TJpeg2000Bitmap back;
  LoadBytes(back, jp2);
  ASSERT_EQ(back.PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_TRUE(std::equal(src.Bits(), src.Bits() + src.BitsSize(), back.Bits()));

  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("ours.jp2"), jp2);
  auto r = pvltest::RunCommand({"opj_decompress", "-quiet", "-i", dir.File("ours.jp2"), "-o", dir.File("o.png")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir.File("o.png")));

  // A lossy 24-bit save: "cdef" added for red, green and blue, the picture close.
  TJpeg2000Bitmap rgb;
  rgb.SetSize(64, 64);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) rgb.SetPixel(x, y, RGB(static_cast<uint8_t>(x * 4), static_cast<uint8_t>(y * 4), 90));
  TMemoryStream lossy;
  rgb.SaveToStream(lossy);
  pvltest::WriteFile(dir.File("rgb.jp2"), lossy.Bytes());
  EXPECT_NE(lossy.Bytes().find("cdef"), std::string::npos);
  r = pvltest::RunCommand({"opj_decompress", "-quiet", "-i", dir.File("rgb.jp2"), "-o", dir.File("rgb.ppm")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto ppm = codectest::ReadPnm(pvltest::ReadFile(dir.File("rgb.ppm")));
  EXPECT_EQ(ppm.width, 64);
  std::string expected = Samples(rgb);
  ASSERT_EQ(ppm.data.size(), expected.size());
  int worst = 0;
  for (size_t i = 0; i < expected.size(); ++i)
    worst = std::max(worst, std::abs(int(uint8_t(ppm.data[i])) - int(uint8_t(expected[i]))));
  EXPECT_LT(worst, 24);
}

}  // namespace
