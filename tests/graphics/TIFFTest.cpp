#include "graphics/PavonaTIFF.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "objects/PavonaFlate.h"

namespace {

using pvltest::HaveTool;
using pvltest::RunCommand;
using pvltest::TempDir;

bool haveTools() { return HaveTool("convert") && HaveTool("tiffcp") && HaveTool("tiffinfo"); }

void run(const std::vector<std::string>& cmd) {
  auto r = RunCommand(cmd);
  ASSERT_EQ(r.exitCode, 0) << cmd[0] << ": " << r.err;
}

std::string packBitsDecode(const std::string& in) {
  std::string out;
  size_t i = 0;
  while (i < in.size()) {
    int n = static_cast<int8_t>(in[i++]);
    if (n >= 0) {
      out.append(in.substr(i, static_cast<size_t>(n) + 1));
      i += static_cast<size_t>(n) + 1;
    } else if (n != -128 && i < in.size()) {
      out.append(static_cast<size_t>(1 - n), in[i++]);
    }
  }
  return out;
}

// The page's pixel rows, its strips decompressed with the filters the
// engine uses for them.
std::string pageRows(const TTIFFPage& page) {
  std::string rows;
  const size_t rowBytes = (static_cast<size_t>(page.Width) * page.SamplesPerPixel * page.BitsPerSample + 7) / 8;
  for (const std::string& strip : page.Strips) {
    std::string plain;
    switch (page.Compression) {
      case tcNone: plain = strip; break;
      case tcPackBits: plain = packBitsDecode(strip); break;
      case tcLZW: {
        TPDFLZWDecompressor lzw;
        lzw.MSBFirst = true;
        lzw.EarlyChange = true;
        lzw.InitialCodeSize = 9;
        plain = lzw.Decode(strip);
        break;
      }
      default: ADD_FAILURE() << "unexpected compression " << int(page.Compression);
    }
    if (page.Predictor == 2) {
      TPDFFlateParms parms;
      parms.Predictor = 2;
      parms.Colors = page.SamplesPerPixel;
      parms.BitsPerComponent = page.BitsPerSample;
      parms.Columns = page.Width;
      plain = UndoPredictor(plain, parms);
    }
    // A strip holds whole rows; the last may be padded.
    const size_t stripRows = std::min<size_t>(page.RowsPerStrip, page.Height - rows.size() / rowBytes);
    plain.resize(stripRows * rowBytes);
    rows += plain;
  }
  return rows;
}

// The page as 8-bit RGB, the form ImageMagick writes with "rgb:".
std::string pageRGB(const TTIFFPage& page) {
  const std::string rows = pageRows(page);
  std::string rgb;
  const size_t rowBytes = (static_cast<size_t>(page.Width) * page.SamplesPerPixel * page.BitsPerSample + 7) / 8;
  for (int y = 0; y < page.Height; ++y) {
    const auto* line = reinterpret_cast<const uint8_t*>(rows.data()) + y * rowBytes;
    for (int x = 0; x < page.Width; ++x) {
      if (page.BitsPerSample == 1) {
        bool set = (line[x / 8] >> (7 - x % 8)) & 1;
        char v = (set == page.BlackIsZero) ? '\xFF' : '\0';
        rgb.append(3, v);
      } else if (page.Photometric == 3) {
        const size_t n = page.ColorMap.size() / 3;
        for (int c = 0; c < 3; ++c) rgb.push_back(static_cast<char>(page.ColorMap[c * n + line[x]] / 257));
      } else if (page.SamplesPerPixel == 1) {
        rgb.append(3, static_cast<char>(line[x]));
      } else {
        rgb.append(reinterpret_cast<const char*>(line + 3 * x), 3);
      }
    }
  }
  return rgb;
}

std::string magickRGB(const std::string& path) {
  auto r = RunCommand({"convert", path, "-depth", "8", "rgb:-"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.out;
}

TPDFTIFF loadFile(const std::string& path) {
  TPDFTIFF t;
  TFileStream s(path, fmOpenRead);
  t.LoadFromStream(s);
  return t;
}

struct Variant {
  const char* kind;         // rgb, gray, palette, bilevel
  const char* compression;  // tiffcp -c value
  const char* order;        // -B or -L
  uint8_t expected;
};

class TIFFFromLibtiff : public ::testing::TestWithParam<Variant> {};

TEST_P(TIFFFromLibtiff, ReadsTheSamePixelsAsImageMagick) {
  if (!haveTools()) GTEST_SKIP() << "ImageMagick or libtiff tools missing";
  const Variant v = GetParam();
  TempDir dir;
  const std::string base = dir.File("base.tif"), path = dir.File("t.tif");
  std::vector<std::string> make = {"convert", "-size", "23x17", "gradient:red-blue", "-seed", "3", "+noise", "Random"};
  const std::string kind = v.kind;
  if (kind == "gray") make.insert(make.end(), {"-colorspace", "gray"});
  if (kind == "palette") make.insert(make.end(), {"+dither", "-colors", "20", "-type", "Palette"});
  if (kind == "bilevel") make.insert(make.end(), {"-monochrome"});
  make.insert(make.end(), {"-depth", kind == "bilevel" ? "1" : "8", "-compress", "none", base});
  run(make);
  run({"tiffcp", "-c", v.compression, "-r", "5", v.order, base, path});

  TPDFTIFF t = loadFile(path);
  ASSERT_TRUE(t.Valid);
  ASSERT_EQ(t.PageCount, 1);
  TTIFFPage page;
  ASSERT_TRUE(t.GetPage(1, page));
  EXPECT_EQ(page.Width, 23);
  EXPECT_EQ(page.Height, 17);
  EXPECT_EQ(page.Compression, v.expected);
  EXPECT_EQ(page.RowsPerStrip, 5);
  EXPECT_EQ(page.Strips.size(), 4u);
  EXPECT_EQ(pageRGB(page), magickRGB(path));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, TIFFFromLibtiff,
    ::testing::Values(Variant{"rgb", "none", "-L", tcNone}, Variant{"rgb", "none", "-B", tcNone},
                      Variant{"rgb", "lzw", "-B", tcLZW}, Variant{"rgb", "lzw:2", "-L", tcLZW},
                      Variant{"rgb", "packbits", "-B", tcPackBits}, Variant{"gray", "lzw", "-L", tcLZW},
                      Variant{"gray", "packbits", "-L", tcPackBits}, Variant{"palette", "none", "-B", tcNone},
                      Variant{"palette", "lzw", "-L", tcLZW}, Variant{"bilevel", "none", "-B", tcNone},
                      Variant{"bilevel", "packbits", "-L", tcPackBits}),
    [](const auto& info) {
      std::string name = std::string(info.param.kind) + "_" + info.param.compression + "_" + (info.param.order + 1);
      for (char& c : name)
        if (c == ':') c = 'p';
      return name;
    });

TEST(TIFFReader, BothByteOrdersGiveTheSamePages) {
  if (!haveTools()) GTEST_SKIP() << "ImageMagick or libtiff tools missing";
  TempDir dir;
  run({"convert", "-size", "40x30", "gradient:white-black", "-monochrome", "-depth", "1", "-compress", "none",
       dir.File("m.tif")});
  for (const char* c : {"g4", "g3:2d:fill", "g3:1d", "lzw", "jpeg"}) {
    std::string src = dir.File("m.tif");
    if (std::string(c) == "jpeg") {
      run({"convert", "-size", "40x30", "gradient:red-blue", "-depth", "8", dir.File("c.tif")});
      src = dir.File("c.tif");
    }
    // JPEG strips must hold a multiple of 16 rows.
    const int rows = std::string(c) == "jpeg" ? 16 : 7;
    run({"tiffcp", "-c", c, "-r", std::to_string(rows), "-B", src, dir.File("be.tif")});
    run({"tiffcp", "-c", c, "-r", std::to_string(rows), "-L", src, dir.File("le.tif")});
    TPDFTIFF be = loadFile(dir.File("be.tif")), le = loadFile(dir.File("le.tif"));
    ASSERT_EQ(be.PageCount, 1) << c;
    ASSERT_EQ(le.PageCount, 1) << c;
    const TTIFFPage &a = be.Pages[0], &b = le.Pages[0];
    EXPECT_EQ(a.Strips, b.Strips) << c;
    EXPECT_EQ(a.Compression, b.Compression) << c;
    EXPECT_EQ(a.FillBits, b.FillBits) << c;
    EXPECT_EQ(a.Photometric, b.Photometric) << c;
    EXPECT_EQ(a.RowsPerStrip, rows) << c;
    EXPECT_EQ(a.Strips.size(), static_cast<size_t>((30 + rows - 1) / rows)) << c;
    const std::string name = c;
    if (name == "g4") {
      EXPECT_EQ(a.Compression, tcCCITTGroup4);
    }
    if (name == "g3:1d") {
      EXPECT_EQ(a.Compression, tcCCITTGroup3);
    }
    if (name == "g3:2d:fill") {
      EXPECT_EQ(a.Compression, tcCCITTGroup3_2D);
      EXPECT_TRUE(a.FillBits);
    }
    if (name == "jpeg") {
      EXPECT_EQ(a.Compression, tcJPEG);
    }
  }
}

// A TIFF built here, entry by entry.
class TiffBuilder {
public:
  explicit TiffBuilder(bool big) : big_(big) {
    data_ = big ? "MM" : "II";
    put16(42);
    put32(8);
  }
  void put16(uint32_t v) {
    if (big_) {
      data_.push_back(char(v >> 8));
      data_.push_back(char(v));
    } else {
      data_.push_back(char(v));
      data_.push_back(char(v >> 8));
    }
  }
  void put32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(char(v >> (big_ ? 24 - 8 * i : 8 * i)));
  }
  // Writes an IFD at the end: entries of (tag, type, count, value field),
  // then the next pointer. Returns the IFD's offset.
  size_t ifd(const std::vector<std::array<uint32_t, 4>>& entries, uint32_t next) {
    size_t at = data_.size();
    put16(static_cast<uint32_t>(entries.size()));
    for (const auto& e : entries) {
      put16(e[0]);
      put16(e[1]);
      put32(e[2]);
      if (e[1] == 3 && e[2] == 1) {
        put16(e[3]);
        put16(0);
      } else {
        put32(e[3]);
      }
    }
    put32(next);
    return at;
  }
  std::string& data() { return data_; }

private:
  bool big_;
  std::string data_;
};

TEST(TIFFReader, EntriesAndTheirValues) {
  for (bool big : {false, true}) {
    TiffBuilder b(big);
    // IFD at 8 with 9 entries: 2 + 9 * 12 + 4 = 114 bytes; extra data after it at 122.
    const uint32_t extra = 8 + 114;
    b.ifd({{256, 3, 1, 10},
           {257, 4, 1, 20},
           {259, 3, 1, 3},            // CCITT Group 3
           {262, 3, 1, 1},            // black is zero
           {273, 4, 1, extra + 16},   // one strip
           {278, 4, 1, 1},            // one strip and RowsPerStrip 1: the height
           {282, 5, 1, extra},        // 118.11 per centimetre
           {292, 4, 1, 5},            // 2-D and fill bits
           {296, 3, 1, 3}},
          0);
    b.put32(11811);
    b.put32(100);
    b.put32(11811);
    b.put32(100);
    b.data() += "STRIPDATA";
    // StripByteCounts missing: the strip is empty.
    TPDFTIFF t;
    t.LoadFromString(b.data());
    ASSERT_TRUE(t.Valid);
    ASSERT_EQ(t.PageCount, 1);
    const TTIFFPage& p = t.Pages[0];
    EXPECT_EQ(p.Width, 10);
    EXPECT_EQ(p.Height, 20);
    EXPECT_EQ(p.RowsPerStrip, 20);
    EXPECT_TRUE(p.BlackIsZero);
    EXPECT_EQ(p.Compression, tcCCITTGroup3_2D);
    EXPECT_TRUE(p.FillBits);
    EXPECT_EQ(p.DpiX, 300);
    ASSERT_EQ(p.Strips.size(), 1u);
    EXPECT_EQ(p.Strips[0], "");
    EXPECT_EQ(t.IFDPointers.size(), 2u);
    TTIFFPage copy;
    EXPECT_FALSE(t.GetPage(2, copy));
    EXPECT_FALSE(t.GetPage(0, copy));
  }
}

TEST(TIFFReader, DamagedFilesStayInsideTheData) {
  auto pages = [](const std::string& data) {
    TPDFTIFF t;
    t.LoadFromString(data);
    return t.PageCount;
  };
  const std::vector<std::array<uint32_t, 4>> basic = {{256, 4, 1, 1}, {257, 4, 1, 1}};
  {
    TiffBuilder b(false);  // IFD pointing to itself
    b.ifd(basic, 8);
    EXPECT_EQ(pages(b.data()), 1);
  }
  {
    TiffBuilder b(true);  // two IFDs pointing at each other
    b.ifd(basic, 8 + 30);
    b.ifd(basic, 8);
    EXPECT_EQ(pages(b.data()), 2);
  }
  {
    TiffBuilder b(false);  // next IFD outside the data, first IFD outside
    b.ifd(basic, 0xFFFFFFF0u);
    EXPECT_EQ(pages(b.data()), 1);
    std::string d = b.data();
    d[4] = '\xF0';
    d[7] = '\x7F';
    EXPECT_EQ(pages(d), 0);
  }
  {
    TiffBuilder b(false);  // entry count runs past the end
    b.put16(5000);
    EXPECT_EQ(pages(b.data()), 0);
  }
  {
    // Values whose count x size overflows or lies outside the data, strips
    // outside the data and old-style JPEG.
    TiffBuilder b(false);
    b.ifd({{256, 4, 1, 7},
           {257, 4, 1, 9},
           {259, 3, 1, 6},
           {273, 4, 0x40000001u, 40},
           {279, 4, 2, 0xFFFFFFF0u},
           {320, 3, 0x80000000u, 8}},
          0);
    TPDFTIFF t;
    t.LoadFromString(b.data());
    ASSERT_EQ(t.PageCount, 1);
    EXPECT_EQ(t.Pages[0].Width, 7);
    EXPECT_EQ(t.Pages[0].Compression, tcUnknown);
    EXPECT_TRUE(t.Pages[0].Strips.empty());
    EXPECT_TRUE(t.Pages[0].ColorMap.empty());
  }
  {
    TiffBuilder b(false);  // strips beyond the end are cut or empty
    b.ifd({{256, 4, 1, 1}, {257, 4, 1, 1}, {273, 4, 2, 8 + 2 + 4 * 12 + 4}, {279, 4, 2, 8 + 2 + 4 * 12 + 4 + 8}}, 0);
    b.put32(8 + 2 + 4 * 12 + 4 + 16 - 3);  // second strip offset: 3 bytes before the end
    b.put32(0xFFFFFF00u);
    b.put32(100);
    b.put32(100);
    TPDFTIFF t;
    t.LoadFromString(b.data());
    ASSERT_EQ(t.PageCount, 1);
    ASSERT_EQ(t.Pages[0].Strips.size(), 2u);
    EXPECT_EQ(t.Pages[0].Strips[0].size(), 3u);
    EXPECT_EQ(t.Pages[0].Strips[1].size(), 0u);
  }
  {
    // Many IFDs sharing one large strip: memory stays bounded.
    TiffBuilder b(false);
    std::string big(100000, 'x');
    const uint32_t stripAt = 8;
    b.data() += big;
    b.data()[4] = char((8 + big.size()) & 0xFF);
    b.data()[5] = char(((8 + big.size()) >> 8) & 0xFF);
    b.data()[6] = char(((8 + big.size()) >> 16) & 0xFF);
    for (int i = 0; i < 200; ++i) {
      uint32_t next = static_cast<uint32_t>(b.data().size() + 2 + 4 * 12 + 4);
      b.ifd({{256, 4, 1, 1}, {257, 4, 1, 1}, {273, 4, 1, stripAt}, {279, 4, 1, 100000}}, i == 199 ? 0 : next);
    }
    TPDFTIFF t;
    t.LoadFromString(b.data());
    EXPECT_GT(t.PageCount, 0);
    EXPECT_LT(t.PageCount, 200);
  }
  EXPECT_EQ(pages("II*"), 0);
  EXPECT_EQ(pages(std::string("II\x2b\0\x08\0\0\0", 8)), 0);
  TPDFTIFF notTiff;
  notTiff.LoadFromString("GIF89a and more bytes");
  EXPECT_FALSE(notTiff.Valid);
}

TEST(TIFFMaker, WrapsGroup4DataThatImageMagickDecodes) {
  TPDFTIFFMaker maker;
  maker.Data = std::string(40, '\0');
  maker.Width = 1728;
  maker.Height = 100;
  maker.Compression = tcCCITTGroup4;
  TMemoryStream s;
  maker.SaveToStream(s);
  EXPECT_EQ(maker.Entries().size(), 14u);
  EXPECT_EQ(s.Bytes().substr(128, 40), maker.Data);
  TPDFTIFF back;
  back.LoadFromString(s.Bytes());
  ASSERT_EQ(back.PageCount, 1);
  EXPECT_EQ(back.Pages[0].Compression, tcCCITTGroup4);
  EXPECT_EQ(back.Pages[0].DpiX, 96);
  EXPECT_EQ(back.Pages[0].Strips[0], maker.Data);
  maker.DpiX = 0;
  TMemoryStream s2;
  maker.SaveToStream(s2);
  EXPECT_EQ(maker.Entries().size(), 11u);

  if (!haveTools()) GTEST_SKIP() << "ImageMagick or libtiff tools missing";
  TempDir dir;
  run({"convert", "-size", "64x40", "gradient:white-black", "-monochrome", "-depth", "1", "-compress", "none",
       dir.File("m.tif")});
  const std::string source = magickRGB(dir.File("m.tif"));
  for (const char* c : {"g4", "g3:2d:fill", "g3:1d"}) {
    run({"tiffcp", "-c", c, "-r", "1000", dir.File("m.tif"), dir.File("c.tif")});
    TPDFTIFF src = loadFile(dir.File("c.tif"));
    ASSERT_EQ(src.PageCount, 1);
    TPDFTIFFMaker m;
    m.Data = src.Pages[0].Strips[0];
    m.Width = src.Pages[0].Width;
    m.Height = src.Pages[0].Height;
    m.Compression = src.Pages[0].Compression;
    m.BlackIsZero = src.Pages[0].BlackIsZero;
    m.FillBits = src.Pages[0].FillBits;
    TMemoryStream out;
    m.SaveToStream(out);
    pvltest::WriteFile(dir.File("made.tif"), out.Bytes());
    auto info = RunCommand({"tiffinfo", "-D", dir.File("made.tif")});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_EQ(info.err, "") << c;
    EXPECT_EQ(magickRGB(dir.File("made.tif")), source) << c;
  }
}

TEST(TIFFWriter, SaveBitmapAsTIFFWritesWhatImageMagickReads) {
  TBitmap empty;
  TMemoryStream none;
  EXPECT_FALSE(SaveBitmapAsTIFF(empty, none, 96));
  EXPECT_EQ(none.GetSize(), 0);
  if (!haveTools()) GTEST_SKIP() << "ImageMagick or libtiff tools missing";
  TempDir dir;
  TBitmap rgb(21, 13, TPixelFormat::pf24bit);
  for (int y = 0; y < 13; ++y)
    for (int x = 0; x < 21; ++x) rgb.SetPixel(x, y, RGB(uint8_t(x * 12), uint8_t(y * 19), uint8_t(x * y)));
  TBitmap gray = rgb;
  gray.SetPixelFormat(TPixelFormat::pf8bit);
  TBitmap mono = rgb;
  mono.SetPixelFormat(TPixelFormat::pf1bit);
  TBitmap wide = rgb;
  wide.SetPixelFormat(TPixelFormat::pf32bit);
  for (TBitmap* b : {&rgb, &gray, &mono, &wide}) {
    TMemoryStream s;
    ASSERT_TRUE(SaveBitmapAsTIFF(*b, s, 200));
    const std::string path = dir.File("w.tif");
    pvltest::WriteFile(path, s.Bytes());
    auto info = RunCommand({"tiffinfo", path});
    EXPECT_EQ(info.exitCode, 0);
    EXPECT_EQ(info.err, "");
    EXPECT_NE(info.out.find("Resolution: 200, 200 pixels/inch"), std::string::npos) << info.out;
    std::string expected;
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 21; ++x) {
        TColor c = b->Pixel(x, y);
        expected += {char(GetRValue(c)), char(GetGValue(c)), char(GetBValue(c))};
      }
    EXPECT_EQ(magickRGB(path), expected) << b->BitsPerPixel();
    TPDFTIFF back;
    back.LoadFromString(s.Bytes());
    ASSERT_EQ(back.PageCount, 1);
    EXPECT_EQ(back.Pages[0].DpiX, 200);
  }
}

TEST(TIFFReader, FilledBitMask) {
  EXPECT_EQ(FilledBitMask(1), "\xFF");
  EXPECT_EQ(FilledBitMask(8), "\xFF\xFF");
  EXPECT_EQ(FilledBitMask(17), "\xFF\xFF\xFF");
}

}  // namespace
