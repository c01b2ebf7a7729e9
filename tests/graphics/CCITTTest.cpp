#include <gtest/gtest.h>

#include <filesystem>

#include "CodecTestSupport.h"
#include "TestSupport.h"
#include "graphics/PavonaCCITT.h"

namespace {

using Bytes = std::vector<uint8_t>;

using codectest::BitsToBytes;
using codectest::WithoutEOL;

class CCITTImages : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    if (!pvltest::HaveTool("convert") || !pvltest::HaveTool("tiffcp")) return;
    dir_ = new pvltest::TempDir();
    // Shapes, text, a fine checkerboard (a change at every pixel) and rows
    // 2300 pixels wide, whose white runs need the extended make-up codes.
    auto r = pvltest::RunCommand({"convert", "-size", "2300x120", "xc:white", "-fill", "black", "-draw",
                                  "rectangle 10,10 60,60", "-draw", "circle 400,60 400,20", "-pointsize", "40",
                                  "-annotate", "+600+80", "CCITT Fax 1234", "(", "-size", "300x20", "pattern:gray50",
                                  ")", "-geometry", "+1900+5", "-composite", "-monochrome", dir_->File("img.pbm")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = pvltest::RunCommand({"convert", dir_->File("img.pbm"), "-define", "quantum:polarity=min-is-white",
                             "-compress", "none", dir_->File("img.tif")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ImageMagick or tiffcp missing";
    pnm_ = codectest::ReadPnm(pvltest::ReadFile(dir_->File("img.pbm")));
  }
  codectest::TTiffStrip Encode(const std::vector<std::string>& options) {
    std::vector<std::string> argv = {"tiffcp"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"-r", "100000", dir_->File("img.tif"), dir_->File("out.tif")});
    auto r = pvltest::RunCommand(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return codectest::ReadSingleStripTiff(pvltest::ReadFile(dir_->File("out.tif")));
  }
  Bytes Source() const { return Bytes(pnm_.data.begin(), pnm_.data.end()); }

  static pvltest::TempDir* dir_;
  codectest::TPnm pnm_;
};
pvltest::TempDir* CCITTImages::dir_ = nullptr;

struct TEncodeCase {
  const char* name;
  std::vector<std::string> tiffcp;
  int k;
};

TEST_F(CCITTImages, TiffcpCodingsDecodeToTheSourcePixels) {
  const TEncodeCase cases[] = {
      {"g3 1-D", {"-c", "g3:1d"}, 0},
      {"g3 1-D, EOL fill", {"-c", "g3:1d:fill"}, 0},
      {"g3 1-D, bit-reversed bytes", {"-c", "g3:1d", "-f", "lsb2msb"}, 0},
      {"g3 2-D", {"-c", "g3:2d"}, 1},
      {"g3 2-D, EOL fill", {"-c", "g3:2d:fill"}, 1},
      {"g4", {"-c", "g4"}, -1},
      {"g4, bit-reversed bytes", {"-c", "g4", "-f", "lsb2msb"}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto strip = Encode(c.tiffcp);
    ASSERT_EQ(strip.width, pnm_.width);
    TPVLCCITTDecoder dec(strip.width, strip.height, strip.fillOrder, false, false);
    Bytes out;
    if (c.k == 0) dec.Decode1D(out, strip.data);
    if (c.k > 0) dec.Decode2D(out, strip.data);
    if (c.k < 0) {
      EXPECT_TRUE(dec.DecodeT6(out, strip.data));
    }
    EXPECT_TRUE(out == Source());
  }
}

TEST_F(CCITTImages, Group3WithoutEndOfLineCodes) {
  // /EndOfLine false: rows follow each other directly, or from the next byte
  // with /EncodedByteAlign; 2-D rows keep their tag bit.
  for (bool twoD : {false, true}) {
    auto strip = Encode({"-c", twoD ? "g3:2d" : "g3:1d"});
    for (bool align : {false, true}) {
      SCOPED_TRACE(std::string(twoD ? "2-D" : "1-D") + (align ? ", byte aligned" : ""));
      std::string data = WithoutEOL(strip.data, align);
      ASSERT_LT(data.size(), strip.data.size());
      TPVLCCITTDecoder dec(strip.width, strip.height, 1, align, false);
      Bytes out;
      if (twoD) {
        EXPECT_NO_THROW(dec.Decode2D(out, data));
      } else {
        dec.Decode1D(out, data);
      }
      EXPECT_TRUE(out == Source());
    }
  }
}

TEST_F(CCITTImages, DamagedDataNeverReadsPastTheEndOrHangs) {
  auto g4 = Encode({"-c", "g4"});
  auto g3 = Encode({"-c", "g3:2d"});
  for (size_t cut : {size_t(1), size_t(7), g4.data.size() / 3, g4.data.size() / 2}) {
    std::string part = g4.data.substr(0, cut);
    TPVLCCITTDecoder dec(g4.width, 20000, 1, false, false);  // far more rows than the data holds
    Bytes out;
    dec.DecodeT6(out, part);
    Bytes g3out;
    TPVLCCITTDecoder dec2(g3.width, g3.height, 1, false, false);
    try {
      dec2.Decode2D(g3out, g3.data.substr(0, cut));
    } catch (const ECCITTError&) {
    }
    // The rows before the cut are those of the image.
    if (cut == g4.data.size() / 2) {
      size_t stride = (static_cast<size_t>(g4.width) + 7) / 8;
      ASSERT_GE(out.size(), 10 * stride);
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10 * stride, Source().begin()));
    }
  }
  // Flipped bytes anywhere: every decode returns.
  for (size_t i = 0; i < g4.data.size(); i += 37) {
    std::string bad = g4.data;
    bad[i] = static_cast<char>(bad[i] ^ 0x5A);
    TPVLCCITTDecoder dec(g4.width, g4.height, 1, false, false);
    Bytes out;
    if (!dec.DecodeT6(out, bad)) {
      EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0; }));
    }
  }
}

// Hand-made codes: horizontal mode 001, white 0 = 00110101, black 10 = 0000100,
// black 20 = 00001101000, EOL 000000000001.
const std::string kHorizWhite0Black10 = "001" "00110101" "0000100";
const std::string kEOL = "000000000001";

TEST(CCITTDecoder, TenColumnBlackRowIsTwoBytes) {
  TPVLCCITTDecoder dec(10, 1, 1, false, false);
  Bytes out;
  ASSERT_TRUE(dec.DecodeT6(out, BitsToBytes(kHorizWhite0Black10)));
  EXPECT_EQ(out, (Bytes{255, 192}));
}

TEST(CCITTDecoder, HorizontalRunPastTheRowEndStopsAtTheRowEnd) {
  // White 0, black 20 in a row of 10; then V0 for the next row copies it.
  TPVLCCITTDecoder dec(10, 2, 1, false, false);
  Bytes out;
  ASSERT_TRUE(dec.DecodeT6(out, BitsToBytes("001" "00110101" "00001101000" "1" "1")));
  EXPECT_EQ(out, (Bytes{255, 192, 255, 192}));
}

TEST(CCITTDecoder, EndOfBlockLeavesLaterRowsWhite) {
  TPVLCCITTDecoder dec(10, 4, 1, false, false);
  Bytes out;
  ASSERT_TRUE(dec.DecodeT6(out, BitsToBytes(kHorizWhite0Black10 + kEOL + kEOL)));
  EXPECT_EQ(out, (Bytes{255, 192, 0, 0, 0, 0, 0, 0}));
}

TEST(CCITTDecoder, VerticalCodesNeverMoveBeforeTheRowStart) {
  // VL3 (0000010) against an all-white reference row would point at -3 + 10;
  // a VL3 on a row whose b1 is 0 would point at -3: both stay inside the row.
  TPVLCCITTDecoder dec(10, 3, 1, false, false);
  Bytes out;
  // Row 0: horizontal white 0 black 10. Row 1: b1 = 0, VL3 then V0 to the end.
  ASSERT_TRUE(dec.DecodeT6(out, BitsToBytes(kHorizWhite0Black10 + "0000010" "1" "1")));
  ASSERT_EQ(out.size(), 6u);
  EXPECT_EQ(out[0], 255);
}

TEST(CCITTDecoder, FillOrderOtherThanOneOrTwoFails) {
  std::string data = BitsToBytes(kHorizWhite0Black10);
  TPVLCCITTDecoder g4(10, 1, 3, false, false);
  Bytes out;
  EXPECT_FALSE(g4.DecodeT6(out, data));
  EXPECT_EQ(out, (Bytes{0, 0}));
  TPVLCCITTDecoder g3(10, 1, 3, false, false);
  try {
    g3.Decode2D(out, data);
    FAIL() << "no error";
  } catch (const ECCITTError& e) {
    EXPECT_STREQ(e.what(), "tag must be either 1 or 2.");
  }
}

TEST(CCITTDecoder, Group3TwoDimensionalFirstRowMustBeOneDimensional) {
  TPVLCCITTDecoder dec(10, 1, 1, false, false);
  Bytes out;
  try {
    dec.Decode2D(out, BitsToBytes(kEOL + "0" + "1"));
    FAIL() << "no error";
  } catch (const ECCITTError& e) {
    EXPECT_STREQ(e.what(), "First scanline must be 1D encoded.");
  }
}

TEST(CCITTDecoder, Group3OneDimensionalWithAndWithoutEOL) {
  // Row: white 2 (0111), black 3 (10), white 5 (1100); Columns 10.
  const std::string row = "0111" "10" "1100";
  Bytes withEol, without;
  TPVLCCITTDecoder a(10, 3, 1, false, false), b(10, 3, 1, false, false);
  a.Decode1D(withEol, BitsToBytes(kEOL + row + kEOL + row + "0000" + kEOL + row));
  b.Decode1D(without, BitsToBytes(row + row + row));
  EXPECT_EQ(withEol, (Bytes{0x38, 0, 0x38, 0, 0x38, 0}));
  EXPECT_EQ(without, withEol);
}

TEST(CCITTDecoder, LongWhiteRunIsNotTakenForAnEndOfLine) {
  // 1792 white (00000001000) + 8 white (10011), then black 200 (make-up 192
  // = 000011001001, terminating 8 = 000101): the row starts with seven zeros.
  TPVLCCITTDecoder dec(2000, 1, 1, false, false);
  Bytes out;
  dec.Decode1D(out, BitsToBytes("00000001000" "10011" "000011001001" "000101"));
  ASSERT_EQ(out.size(), 250u);
  for (int x : {0, 1799}) EXPECT_EQ((out[x / 8] >> (7 - x % 8)) & 1, 0) << x;
  for (int x : {1800, 1999}) EXPECT_EQ((out[x / 8] >> (7 - x % 8)) & 1, 1) << x;
}

TEST(CCITTDecoder, HostileSizesAllocateNothing) {
  Bytes out;
  TPVLCCITTDecoder huge(1 << 30, 1 << 30, 1, false, false);
  EXPECT_FALSE(huge.DecodeT6(out, "\x00\x01"));
  EXPECT_TRUE(out.empty());
  TPVLCCITTDecoder negative(-5, 10, 1, false, false);
  negative.Decode1D(out, "abc");
  EXPECT_TRUE(out.empty());
}

// The corpus's CCITT images decode to the pixels pdfimages writes.
TEST(CCITTDecoder, CorpusImagesMatchPdfimages) {
  if (!pvltest::HaveTool("pdfimages") || !pvltest::HaveTool("qpdf")) GTEST_SKIP();
  int compared = 0;
  for (const char* rel : {"pdfjs/ccitt_EndOfBlock_false.pdf", "samples/imagemagick-CCITTFaxDecode.pdf"}) {
    std::string pdf = pvltest::CorpusPath(rel);
    pvltest::TempDir dir;
    auto r = pvltest::RunCommand({"pdfimages", pdf, dir.File("img")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto list = pvltest::RunCommand({"pdfimages", "-list", pdf});
    // Map object numbers to pdfimages' output index.
    std::map<int, int> indexOf;
    std::istringstream lines(list.out);
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream w(line);
      std::vector<std::string> f;
      for (std::string s; w >> s;) f.push_back(s);
      if (f.size() > 11 && std::isdigit(static_cast<unsigned char>(f[0][0]))) indexOf[std::stoi(f[10])] = std::stoi(f[1]);
    }
    for (const auto& img : codectest::PdfImages(pdf, "CCITTFaxDecode")) {
      SCOPED_TRACE(std::string(rel) + " object " + std::to_string(img.object));
      char name[32];
      snprintf(name, sizeof name, "img-%03d.pbm", indexOf.at(img.object));
      auto pbm = codectest::ReadPnm(pvltest::ReadFile(dir.File(name)));
      int k = img.Parm("K", 0);
      TPVLCCITTDecoder dec(img.Parm("Columns", 1728), img.height, 1, img.Parm("EncodedByteAlign", 0) != 0, false);
      dec.SetEndOfLine(img.Parm("EndOfLine", 0) != 0);
      Bytes out;
      if (k < 0) {
        EXPECT_TRUE(dec.DecodeT6(out, img.data));
      }
      if (k == 0) dec.Decode1D(out, img.data);
      if (k > 0) dec.Decode2D(out, img.data);
      // pdfimages writes black as 1; /BlackIs1 true makes our black bits white.
      if (img.Parm("BlackIs1", 0))
        for (auto& b : out) b = static_cast<uint8_t>(~b);
      ASSERT_EQ(out.size(), pbm.data.size());
      // Only the image's own bits count: pdfimages pads rows with ones.
      size_t stride = (static_cast<size_t>(pbm.width) + 7) / 8;
      uint8_t lastMask = static_cast<uint8_t>(0xFF << ((8 - pbm.width % 8) % 8));
      for (size_t i = stride - 1; i < out.size(); i += stride) {
        out[i] &= lastMask;
        pbm.data[i] = static_cast<char>(pbm.data[i] & lastMask);
      }
      EXPECT_TRUE(out == Bytes(pbm.data.begin(), pbm.data.end()));
      ++compared;
    }
  }
  EXPECT_EQ(compared, 7);
}

}  // namespace
