// Enhanced metafiles written record by record convert into form XObjects
// whose pages pdftoppm draws as the records say; qpdf checks the files;
// damaged files fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <sstream>

#include "EmfTestSupport.h"
#include "PainterTestSupport.h"
#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaMetafile.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"
#include "platform/Dib.h"
#include "platform/EmfReader.h"
#include "platform/Fonts.h"

namespace {

using pvltest::TEmfBuilder;

// The shared check: a missing tool fails the test under CI.
bool needTools() {
  return pvltest::HaveTools({"pdftoppm", "qpdf", "pdftotext"});
}

// A page of the picture's size in points with the metafile's form drawn over it.
struct TConverted {
  std::string pdf;
  std::string content;  // the form's decoded content
  std::string formText;
  pvltest::TRenderedPage page;
};

bool convert(const std::string& emf, double widthPt, double heightPt, TConverted& out, pvltest::TempDir& dir) {
  pvltest::TTestPdf file;
  TPDFImage image(&file.pool, "PavonaIm1");
  TMemoryStream stream(emf);
  if (!image.LoadFromStream(stream, 0)) return false;
  EXPECT_EQ(image.GetKind(), pdfikMetafile);
  TPDFStream* form = PDFAsStream(file.Objects().at(size_t(image.GetObject()->GetRefNumber() - 1)));
  out.content = form->GetDecodedData();
  out.formText = form->GetDictionary()->WriteText();
  TPDFPainter painter;
  painter.DrawImage(image, 0, heightPt, widthPt, heightPt);
  out.pdf = file.Write(painter.GetContent(), widthPt, heightPt, {}, {{"PavonaIm1", image.GetObject()->GetRefNumber()}});
  const std::string path = dir.File("emf.pdf");
  pvltest::WriteFile(path, out.pdf);
  const auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  return pvltest::RenderPage(path, dir.File("emf"), out.page);
}

bool near(std::array<int, 3> got, std::array<int, 3> want, int tolerance = 40) {
  for (int i = 0; i < 3; ++i)
    if (std::abs(got[i] - want[i]) > tolerance) return false;
  return true;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(MetafileConvert, ShapesLinesAndHolesLandWhereTheRecordsSay) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  // 400 x 200 pixels = 100 x 50 mm.
  TEmfBuilder b(400, 200);
  b.Brush(1, 0, TEmfBuilder::Rgb(255, 0, 0)).Select(1).Select(0x80000008u);  // red brush, null pen
  b.Rectangle(20, 20, 120, 120);
  // Polygon with a hole (alternate fill): outer 160..260, inner 190..230.
  b.Brush(2, 0, TEmfBuilder::Rgb(0, 0, 255)).Select(2);
  {
    std::string body = TEmfBuilder::Rect(0, 0, 400, 200) + TEmfBuilder::U32(2) + TEmfBuilder::U32(8) +
                       TEmfBuilder::U32(4) + TEmfBuilder::U32(4);
    body += TEmfBuilder::Points({{160, 20}, {260, 20}, {260, 120}, {160, 120}});
    body += TEmfBuilder::Points({{190, 50}, {230, 50}, {230, 90}, {190, 90}});
    b.Record(8, body);
  }
  // A green polyline: an open stroke, never filled nor closed.
  b.Pen(3, 0, 6, TEmfBuilder::Rgb(0, 160, 0)).Select(3).Select(0x80000005u);  // null brush
  b.Poly(4, {{300, 20}, {380, 20}, {380, 120}});
  // POLYBEZIER with four points: one curve.
  b.Poly(2, {{20, 180}, {60, 140}, {100, 140}, {140, 180}});
  TConverted c;
  ASSERT_TRUE(convert(b.Finish(), 283.46, 141.73, c, dir));  // 100 x 50 mm in points
  // Page pixels: 72 dpi, 1 mm = 2.835 px; picture pixel p -> p / 4 mm.
  auto at = [&](double px, double py) { return c.page.At(int(px / 4 * 2.835), int(py / 4 * 2.835)); };
  EXPECT_TRUE(near(at(70, 70), {255, 0, 0}));
  EXPECT_TRUE(near(at(175, 35), {0, 0, 255}));
  EXPECT_TRUE(near(at(210, 70), {255, 255, 255})) << "the hole of the polygon";
  EXPECT_TRUE(near(at(340, 21), {0, 160, 0}, 90));
  EXPECT_TRUE(near(at(340, 80), {255, 255, 255})) << "a polyline is not filled";
  EXPECT_EQ(count(c.content, " c\n") + count(c.content, " c "), 1u) << c.content;
}

TEST(MetafileConvert, BitmapsKeysAndAlpha) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TEmfBuilder b(400, 200);
  // A 2 x 2 bitmap: red, green / blue, magenta, stretched to 100 x 100.
  const auto dib = TEmfBuilder::Dib24(2, 2, {0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF});
  b.StretchDib(0, 0, 100, 100, dib, 2, 2);
  // TRANSPARENTBLT keyed on magenta.
  b.Blend(116, 150, 0, 100, 100, TEmfBuilder::Rgb(255, 0, 255), dib, 2, 2);
  // Three constant alphas, two distinct.
  for (uint32_t alpha : {128u, 128u, 64u}) b.Blend(114, 300, 0, 50, 50, alpha << 16, dib, 2, 2);
  TConverted c;
  ASSERT_TRUE(convert(b.Finish(), 283.46, 141.73, c, dir));
  auto at = [&](double px, double py) { return c.page.At(int(px / 4 * 2.835), int(py / 4 * 2.835)); };
  EXPECT_TRUE(near(at(25, 25), {255, 0, 0}));
  EXPECT_TRUE(near(at(75, 25), {0, 255, 0}));
  EXPECT_TRUE(near(at(25, 75), {0, 0, 255}));
  EXPECT_TRUE(near(at(75, 75), {255, 0, 255}));
  EXPECT_TRUE(near(at(225, 75), {255, 255, 255})) << "the key colour is transparent";
  EXPECT_TRUE(near(at(175, 25), {255, 0, 0}));
  EXPECT_NE(c.pdf.find("/Mask [ 255 255 0 0 255 255 ]"), std::string::npos);
  EXPECT_EQ(count(c.pdf, "/Type /ExtGState"), 2u);
  EXPECT_EQ(c.pdf.find(" 0 0 R"), std::string::npos);
}

TEST(MetafileConvert, MonochromeSourcesAndParallelograms) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TEmfBuilder b(400, 200);
  // 1-bit 2 x 1: black, white. With the raster operation 0xB8 and a red
  // brush, black takes the brush colour and white stays clear.
  const std::string info = TEmfBuilder::U32(40) + TEmfBuilder::I32(2) + TEmfBuilder::I32(1) + TEmfBuilder::U16(1) +
                           TEmfBuilder::U16(1) + std::string(24, '\0') + TEmfBuilder::U32(0) + TEmfBuilder::U32(0xFFFFFF);
  const std::pair<std::string, std::string> mono{info, std::string("\x40\0\0\0", 4)};
  b.Brush(1, 0, TEmfBuilder::Rgb(255, 0, 0)).Select(1);
  b.Record(34, TEmfBuilder::I32(-1));
  b.StretchDib(0, 0, 100, 50, mono, 2, 1, 0x00B8074A);
  // PLGBLT of a 2 x 1 bitmap (red, green) turned by 90 degrees: its top edge
  // runs down the right side of the box 100..200 x 100..200.
  const auto dib = TEmfBuilder::Dib24(2, 1, {0x0000FF, 0x00FF00});
  std::string body = TEmfBuilder::Rect(100, 100, 200, 200) + TEmfBuilder::Points({{200, 100}, {200, 200}, {100, 100}});
  body += TEmfBuilder::I32(0) + TEmfBuilder::I32(0) + TEmfBuilder::I32(2) + TEmfBuilder::I32(1);
  body += TEmfBuilder::F32(1) + TEmfBuilder::F32(0) + TEmfBuilder::F32(0) + TEmfBuilder::F32(1) + TEmfBuilder::F32(0) +
          TEmfBuilder::F32(0) + TEmfBuilder::U32(0) + TEmfBuilder::U32(0);
  body += TEmfBuilder::U32(140) + TEmfBuilder::U32(uint32_t(dib.first.size())) +
          TEmfBuilder::U32(140 + uint32_t(dib.first.size())) + TEmfBuilder::U32(uint32_t(dib.second.size()));
  body += std::string(28, '\0') + dib.first + dib.second;
  b.Record(79, body);
  // An 8-bit bitmap with a V5 header whose last palette entry (green) is used:
  // the full table must reach the decoder.
  std::string v5 = TEmfBuilder::U32(124) + TEmfBuilder::I32(1) + TEmfBuilder::I32(1) + TEmfBuilder::U16(1) +
                   TEmfBuilder::U16(8) + std::string(108, '\0');
  for (int i = 0; i < 256; ++i) v5 += TEmfBuilder::U32(i == 255 ? 0x00FF00 : 0xFF0000);
  b.StretchDib(300, 0, 100, 100, {v5, std::string("\xFF\0\0\0", 4)}, 1, 1);
  TConverted c;
  ASSERT_TRUE(convert(b.Finish(), 283.46, 141.73, c, dir));
  auto at = [&](double px, double py) { return c.page.At(int(px / 4 * 2.835), int(py / 4 * 2.835)); };
  EXPECT_TRUE(near(at(25, 25), {255, 0, 0})) << "black took the brush colour";
  EXPECT_TRUE(near(at(75, 25), {255, 255, 255})) << "white is clear";
  EXPECT_TRUE(near(at(150, 125), {255, 0, 0}));
  EXPECT_TRUE(near(at(150, 175), {0, 255, 0}));
  EXPECT_TRUE(near(at(350, 50), {0, 255, 0})) << "palette entry 255 of a V5 header";
}

TEST(MetafileConvert, SavesClipsAndRestoresStayBalanced) {
  TEmfBuilder b(200, 200);
  b.Record(33, "");                                       // SAVEDC
  b.Record(30, TEmfBuilder::Rect(10, 10, 100, 100));      // INTERSECTCLIPRECT
  b.Record(30, TEmfBuilder::Rect(50, 50, 150, 150));
  b.Record(33, "");
  b.Record(30, TEmfBuilder::Rect(0, 0, 20, 20));
  b.Record(34, TEmfBuilder::I32(INT_MIN));                // out of range: nothing
  b.Record(34, TEmfBuilder::I32(7));                      // no such level: nothing
  b.Record(34, TEmfBuilder::I32(1));                      // back to the first level: both saves closed
  b.Record(34, TEmfBuilder::I32(-1));                     // empty stack: nothing
  b.Record(33, "");
  b.Record(30, TEmfBuilder::Rect(0, 0, 20, 20));          // left open: closed at the end
  b.Rectangle(0, 0, 50, 50);
  const std::string emf = b.Finish();
  TPDFStructure pool;
  TPDFMetafileLists lists;
  const std::vector<std::string> faces = {"Arial"};
  TPDFMetafile converter(&pool, lists, &faces);
  const TEmfFile file(emf);
  const std::string content = converter.ConvertMetafile(file);
  int saves = 0, restores = 0;
  std::istringstream words(content);
  for (std::string w; words >> w;) saves += w == "q", restores += w == "Q";
  EXPECT_EQ(saves, restores) << content;
  EXPECT_GE(saves, 6);
  EXPECT_EQ(converter.FailedRecords, 0);
  EXPECT_EQ(content.find("nan"), std::string::npos);
  EXPECT_EQ(content.find("inf"), std::string::npos);
}

TEST(MetafileConvert, MapModesGiveTheSizesOfTheirUnits) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  // A 100 x 50 mm picture; each mode draws a blue box 50 x 25 mm from the
  // top-left corner (y grows upwards in the metric and English modes).
  struct TCase {
    int32_t mode;
    int32_t w, h;  // the box in the mode's logical units
    bool yUp;
  };
  const TCase cases[] = {{2, 500, 250, true},       // 0.1 mm
                         {3, 5000, 2500, true},     // 0.01 mm
                         {4, 197, 98, true},        // 0.01 in
                         {5, 1969, 984, true},      // 0.001 in
                         {6, 2835, 1417, true},     // twips
                         {1, 200, 100, false}};     // device pixels (4 per mm)
  for (const TCase& c : cases) {
    pvltest::TempDir dir;
    TEmfBuilder b(400, 200);
    b.Record(17, TEmfBuilder::U32(uint32_t(c.mode)));
    b.Brush(1, 0, TEmfBuilder::Rgb(0, 0, 255)).Select(1).Select(0x80000008u);
    b.Rectangle(0, 0, c.w, c.yUp ? -c.h : c.h);
    TConverted conv;
    ASSERT_TRUE(convert(b.Finish(), 283.46, 141.73, conv, dir)) << c.mode;
    // Page at 72 dpi: the box covers x < 141.7, y < 70.9 points.
    EXPECT_TRUE(near(conv.page.At(135, 65), {0, 0, 255})) << "mode " << c.mode;
    EXPECT_TRUE(near(conv.page.At(148, 65), {255, 255, 255})) << "mode " << c.mode;
    EXPECT_TRUE(near(conv.page.At(135, 77), {255, 255, 255})) << "mode " << c.mode;
  }
}

TEST(MetafileConvert, DamagedFilesFailCleanly) {
  TEmfBuilder b(100, 100);
  b.Rectangle(0, 0, 10, 10);
  const std::string good = b.Finish();
  ASSERT_NO_THROW(TEmfFile{good});
  struct TDamage {
    const char* name;
    std::string bytes;
  };
  std::string badSize = good;
  badSize[88 + 4] = 6;  // the rectangle's size below 8
  std::string oddSize = good;
  oddSize[88 + 4] = 26;  // not a multiple of 4
  std::string pastEnd = good;
  pastEnd[88 + 5] = 0x7F;  // runs past the file
  std::string noSignature = good;
  noSignature[40] = 'X';
  const TDamage cases[] = {{"size below 8", badSize},
                           {"size not a multiple of 4", oddSize},
                           {"record past the end", pastEnd},
                           {"no signature", noSignature},
                           {"cut header", good.substr(0, 60)}};
  for (const TDamage& d : cases) {
    EXPECT_THROW(TEmfFile{d.bytes}, EEmfError) << d.name;
    pvltest::TTestPdf file;
    TPDFImage image(&file.pool, "I");
    TMemoryStream stream(d.bytes);
    EXPECT_FALSE(image.LoadFromStream(stream, 0)) << d.name;
  }
  // Records whose counts or offsets point outside them are dropped whole.
  TEmfBuilder lying(100, 100);
  lying.Record(3, TEmfBuilder::Rect(0, 0, 1, 1) + TEmfBuilder::U32(1000000) + TEmfBuilder::Points({{1, 1}}));
  lying.Record(84, std::string(76, '\xFF'));
  lying.Record(81, std::string(72, '\x7F'));
  lying.Record(118, TEmfBuilder::Rect(0, 0, 1, 1) + TEmfBuilder::U32(1) + TEmfBuilder::U32(1) + TEmfBuilder::U32(0) +
                        std::string(16, '\0') + TEmfBuilder::U32(0) + TEmfBuilder::U32(9));
  lying.Rectangle(1, 1, 5, 5);
  TPDFStructure pool;
  TPDFMetafileLists lists;
  const std::vector<std::string> faces;
  TPDFMetafile converter(&pool, lists, &faces);
  const std::string emf = lying.Finish();
  const std::string content = converter.ConvertMetafile(TEmfFile(emf));
  EXPECT_EQ(converter.FailedRecords, 4) << content;
  EXPECT_NE(content.find(" re") == std::string::npos ? content.find(" l") : 0, std::string::npos);
}

std::vector<std::string> words(const std::string& content) {
  std::istringstream in(content);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

TEST(MetafileConvert, RecordsShorterThanTheirFieldsAreDroppedWhole) {
  // Each record one 4-byte step shorter than the fields its handler reads:
  // none may draw, change state or leave a level open.
  struct TShort {
    uint32_t type, size;
  };
  const TShort cases[] = {{3, 24},   {7, 28},   {9, 12},   {15, 16},  {17, 8},   {27, 12},  {30, 20},
                          {31, 20},  {34, 8},   {35, 28},  {36, 32},  {37, 8},   {38, 24},  {39, 16},
                          {41, 24},  {43, 20},  {44, 28},  {45, 36},  {54, 12},  {56, 24},  {67, 8},
                          {71, 28},  {75, 12},  {76, 96},  {77, 104}, {78, 124}, {79, 136}, {81, 76},
                          {82, 40},  {84, 72},  {93, 28},  {95, 40},  {97, 36},  {108, 20}, {114, 104},
                          {116, 104}, {118, 32}};
  TEmfBuilder empty(100, 100);
  const std::vector<std::string> faces = {"Arial"};
  TPDFStructure emptyPool;
  TPDFMetafileLists emptyLists;
  TPDFMetafile reference(&emptyPool, emptyLists, &faces);
  const std::string emptyEmf = empty.Finish();
  const std::string expected = reference.ConvertMetafile(TEmfFile(emptyEmf));
  for (const TShort& c : cases) {
    TEmfBuilder b(100, 100);
    b.Record(17, TEmfBuilder::U32(7));  // a mode in which the scaling records act
    b.Record(c.type, std::string(c.size - 8, '\x01'));
    TPDFStructure pool;
    TPDFMetafileLists lists;
    TPDFMetafile converter(&pool, lists, &faces);
    const std::string emf = b.Finish();
    const std::string content = converter.ConvertMetafile(TEmfFile(emf));
    EXPECT_EQ(converter.FailedRecords, 1) << "record " << c.type;
    EXPECT_EQ(words(content), words(expected)) << "record " << c.type;
    EXPECT_TRUE(lists.Images.empty() && lists.Patterns.empty() && lists.Fonts.empty()) << "record " << c.type;
  }
}

TEST(MetafileConvert, ZeroFrameAndWmfAreRefused) {
  std::string emf = TEmfBuilder(100, 100).Finish();
  for (int i = 24; i < 40; ++i) emf[size_t(i)] = 0;  // empty frame
  pvltest::TTestPdf file;
  TPDFImage image(&file.pool, "I");
  TMemoryStream stream(emf);
  EXPECT_FALSE(image.LoadFromStream(stream, 0));
  // A placeable WMF header (checksum of the first ten words).
  std::string wmf = TEmfBuilder::U32(0x9AC6CDD7u) + std::string(16, '\0');
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= uint16_t(uint8_t(wmf[size_t(i * 2)]) | uint8_t(wmf[size_t(i * 2 + 1)]) << 8);
  wmf += TEmfBuilder::U16(sum) + std::string(40, '\0');
  EXPECT_TRUE(IsPlaceableWmf(wmf));
  TMemoryStream wmfStream(wmf);
  EXPECT_FALSE(image.LoadFromStream(wmfStream, 0));
}

TEST(MetafileConvert, TextInTwoFacesAndOutsideWinAnsiIsDrawn) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  TEmfBuilder b(800, 200);
  b.Font(1, "Arial", -40, 400).Select(1).Text(20, 20, u"Hello metafile");
  b.Font(2, "Courier New", -40, 700).Select(2).Text(20, 80, u"Bold courier");
  b.Select(1).Text(20, 140, u"\u041f\u0440\u0438\u0432\u0435\u0442");
  b.Font(3, "Arial", -40, 400).Select(3).Text(400, 140, u"again");  // same face: no second font
  TConverted c;
  ASSERT_TRUE(convert(b.Finish(), 566.93, 141.73, c, dir));
  const auto text = pvltest::RunCommand({"pdftotext", dir.File("emf.pdf"), "-"});
  EXPECT_NE(text.out.find("Hello metafile"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Bold courier"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"), std::string::npos) << text.out;
  // Arial, Courier New Bold, and Arial in a Cyrillic code page.
  EXPECT_EQ(count(c.formText, "/PavonaF"), 3u) << c.formText;
}

// The glyph of a character in a face's Unicode cmap (format 4), looked up forwards.
uint16_t glyphOf(const std::string& family, char16_t ch) {
  TFont font;
  font.Name = family;
  TInstalledFace face;
  if (!SelectInstalledFace(font, face)) return 0;
  const uint32_t tag = FontTableTag("cmap");
  const uint32_t size = GetFontData(face, tag, 0, nullptr, 0);
  if (size == GDI_ERROR) return 0;
  std::string t(size, '\0');
  GetFontData(face, tag, 0, t.data(), size);
  auto u16 = [&](size_t o) -> uint32_t { return uint8_t(t.at(o)) << 8 | uint8_t(t.at(o + 1)); };
  for (uint32_t i = 0; i < u16(2); ++i) {
    if (u16(4 + i * 8) != 3 || u16(6 + i * 8) != 1) continue;
    const size_t o = u16(8 + i * 8) << 16 | u16(10 + i * 8);
    const uint32_t segs = u16(o + 6) / 2;
    for (uint32_t k = 0; k < segs; ++k) {
      const uint32_t end = u16(o + 14 + k * 2), start = u16(o + 16 + segs * 2 + k * 2);
      if (ch < start || ch > end) continue;
      const uint32_t delta = u16(o + 16 + segs * 4 + k * 2), rangeAt = o + 16 + segs * 6 + k * 2, range = u16(rangeAt);
      if (!range) return uint16_t((ch + delta) & 0xFFFF);
      const uint32_t g = u16(rangeAt + range + (ch - start) * 2);
      return g ? uint16_t((g + delta) & 0xFFFF) : 0;
    }
  }
  return 0;
}

TEST(MetafileConvert, GlyphIndexTextMapsThroughTheFacesGlyphs) {
  if (!needTools()) GTEST_SKIP() << "a peer tool is missing";
  pvltest::TempDir dir;
  std::u16string glyphs;
  for (char16_t c : std::u16string(u"Glyph text")) glyphs += char16_t(glyphOf("Arial", c));
  ASSERT_NE(glyphs[0], 0);
  TEmfBuilder b(800, 200);
  b.Font(1, "Arial", -40, 400).Select(1);
  // EXTTEXTOUTW with ETO_GLYPH_INDEX.
  std::string body = TEmfBuilder::Rect(0, 0, -1, -1) + TEmfBuilder::U32(1) + TEmfBuilder::F32(1) + TEmfBuilder::F32(1);
  body += TEmfBuilder::I32(20) + TEmfBuilder::I32(20) + TEmfBuilder::U32(uint32_t(glyphs.size())) + TEmfBuilder::U32(76) +
          TEmfBuilder::U32(0x10) + TEmfBuilder::Rect(0, 0, 0, 0) + TEmfBuilder::U32(0);
  for (char16_t g : glyphs) body += TEmfBuilder::U16(g);
  b.Record(84, body);
  TConverted c;
  ASSERT_TRUE(convert(b.Finish(), 566.93, 141.73, c, dir));
  const auto text = pvltest::RunCommand({"pdftotext", dir.File("emf.pdf"), "-"});
  EXPECT_NE(text.out.find("Glyph text"), std::string::npos) << text.out;
}

TEST(MetafileConvert, DibDecoderReadsEveryLayout) {
  // 2 x 2 pixels, rows top first: white, black / red-ish, blue-ish.
  struct TCase {
    const char* name;
    std::string info, bits;
    uint32_t usage;
    std::array<uint8_t, 3> topLeft, bottomRight;
  };
  auto header = [](int32_t w, int32_t h, uint16_t bpp, uint32_t compression, uint32_t size = 40) {
    std::string s = TEmfBuilder::U32(size) + TEmfBuilder::I32(w) + TEmfBuilder::I32(h) + TEmfBuilder::U16(1) +
                     TEmfBuilder::U16(bpp) + TEmfBuilder::U32(compression) + std::string(20, '\0');
    s.resize(size, '\0');
    return s;
  };
  const std::string pal2 = TEmfBuilder::U32(0x000000) + TEmfBuilder::U32(0xFFFFFF);
  std::vector<TCase> cases;
  // 1 bpp bottom-up: bottom row (0,1), top row (1,0).
  cases.push_back({"1bpp", header(2, 2, 1, 0) + pal2, std::string("\x40\0\0\0\x80\0\0\0", 8), 0, {255, 255, 255}, {255, 255, 255}});
  // 8 bpp top-down with a palette of two.
  {
    std::string info = header(2, -2, 8, 0) + TEmfBuilder::U32(0x0000FF) + TEmfBuilder::U32(0xFF0000);
    info.replace(32, 4, TEmfBuilder::U32(2));
    cases.push_back({"8bpp top-down", info, std::string("\x01\x00\0\0\x00\x01\0\0", 8), 0, {255, 0, 0}, {255, 0, 0}});
  }
  // RLE8: row 0 (bottom) = 2 x index 1, row 1 = 2 x index 0.
  {
    std::string info = header(2, 2, 8, 1) + TEmfBuilder::U32(0x00FF00) + TEmfBuilder::U32(0x0000FF);
    info.replace(32, 4, TEmfBuilder::U32(2));
    cases.push_back({"RLE8", info, std::string("\x02\x01\x00\x00\x02\x00\x00\x01", 8), 0, {0, 255, 0}, {0, 0, 255}});
  }
  // RLE4: nibbles 1,0 on the bottom row, 0,1 on the top.
  {
    std::string info = header(2, 2, 4, 2) + TEmfBuilder::U32(0x000000) + TEmfBuilder::U32(0xFFFFFF);
    cases.push_back({"RLE4", info, std::string("\x02\x10\x00\x00\x02\x01\x00\x01", 8), 0, {0, 0, 0}, {0, 0, 0}});
  }
  // 16 bpp BITFIELDS 5-6-5 after a 40-byte header.
  {
    std::string info = header(2, 2, 16, 3) + TEmfBuilder::U32(0xF800) + TEmfBuilder::U32(0x07E0) + TEmfBuilder::U32(0x001F);
    const std::string bits = TEmfBuilder::U16(0x001F) + TEmfBuilder::U16(0xF800) + TEmfBuilder::U16(0xFFFF) + TEmfBuilder::U16(0x07E0);
    cases.push_back({"565", info, bits, 0, {255, 255, 255}, {255, 0, 0}});
  }
  // 12-byte core header, 24 bpp.
  {
    std::string info = TEmfBuilder::U32(12) + TEmfBuilder::U16(2) + TEmfBuilder::U16(2) + TEmfBuilder::U16(1) + TEmfBuilder::U16(24);
    std::string bits = std::string("\x00\x00\xFF\xFF\x00\x00\0\0", 8) + std::string("\x00\xFF\x00\xFF\xFF\xFF\0\0", 8);
    cases.push_back({"core 24bpp", info, bits, 0, {0, 255, 0}, {0, 0, 255}});
  }
  // V5 header (124 bytes) with 32-bit BITFIELDS and an alpha mask.
  {
    std::string info = header(2, 1, 32, 3, 124);
    info.replace(40, 16, TEmfBuilder::U32(0xFF0000) + TEmfBuilder::U32(0xFF00) + TEmfBuilder::U32(0xFF) + TEmfBuilder::U32(0xFF000000));
    const std::string bits = TEmfBuilder::U32(0x80FF0000) + TEmfBuilder::U32(0xFF0000FF);
    cases.push_back({"V5 32bpp", info, bits, 0, {255, 0, 0}, {0, 0, 255}});
  }
  for (const TCase& c : cases) {
    TDibImage image;
    std::string error;
    ASSERT_TRUE(DecodeDib(c.info, c.bits, c.usage, image, error)) << c.name << ": " << error;
    const uint8_t* tl = image.Pixel(0, 0);
    const uint8_t* br = image.Pixel(image.Width - 1, image.Height - 1);
    EXPECT_EQ((std::array<uint8_t, 3>{tl[0], tl[1], tl[2]}), c.topLeft) << c.name;
    EXPECT_EQ((std::array<uint8_t, 3>{br[0], br[1], br[2]}), c.bottomRight) << c.name;
  }
  // Sizes and depths out of range are refused, never allocated.
  TDibImage image;
  std::string error;
  EXPECT_FALSE(DecodeDib(header(100000, 100000, 24, 0), "", 0, image, error));
  EXPECT_FALSE(DecodeDib(header(2, 2, 7, 0), "", 0, image, error));
  EXPECT_FALSE(DecodeDib(header(2, 2, 8, 2), "", 0, image, error)) << "RLE4 needs 4 bpp";
  EXPECT_FALSE(DecodeDib(std::string(8, '\0'), "", 0, image, error));
}

}  // namespace
