// Font collection: font dictionaries of every kind built by the tests
// (standard fonts, encodings and /Differences, widths in all their forms,
// ToUnicode tables, composite fonts, embedded programs) including damaged
// and hostile ones.
#include <gtest/gtest.h>

#include <filesystem>

#include "FontCollectionTestSupport.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaType1.h"
#include "render/PavonaType3.h"

namespace {

using pvlfont::TObjectPool;

std::string U8(const std::u16string& s) { return WideToUTF8(s); }

// The three parts of an installed Type 1 font (PFB segments, or a PFA text
// split at "eexec" and at its zeros trailer).
struct TPfb {
  std::string clear, binary, trailer;
};
bool ReadPfb(const std::string& path, TPfb& out) {
  if (!std::filesystem::exists(path)) return false;
  std::string d = pvltest::ReadFile(path);
  if (!d.empty() && uint8_t(d[0]) != 0x80) {
    size_t e = d.find("eexec");
    size_t z = d.find("0000000000000000", e);
    if (e == std::string::npos || z == std::string::npos) return false;
    e += 5;
    while (e < d.size() && (d[e] == '\r' || d[e] == '\n')) ++e;
    out = {d.substr(0, e), d.substr(e, z - e), d.substr(z)};
    return true;
  }
  size_t pos = 0;
  std::vector<std::string> parts;
  while (pos + 6 <= d.size() && uint8_t(d[pos]) == 0x80 && d[pos + 1] != 3) {
    uint32_t len = uint8_t(d[pos + 2]) | uint8_t(d[pos + 3]) << 8 | uint8_t(d[pos + 4]) << 16 |
                   uint32_t(uint8_t(d[pos + 5])) << 24;
    if (pos + 6 + len > d.size()) return false;
    parts.push_back(d.substr(pos + 6, len));
    pos += 6 + len;
  }
  if (parts.size() < 3) return false;
  out = {parts[0], parts[1], parts[2]};
  return true;
}

// Counts the outline operations it receives.
class TCountingCanvas : public TPDFGenericCanvas {
public:
  int ops = 0;
  void BeginPath() override {}
  void MoveTo(double, double) override { ++ops; }
  void LineTo(double, double) override { ++ops; }
  void CurveTo(double, double, double, double, double, double) override { ++ops; }
  void QuadraticCurveTo(double, double, double, double) override { ++ops; }
  void ClosePath() override {}
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}
};

const char* kLiberation = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
const char* kNimbus = "/usr/share/fonts/type1/urw-base35/NimbusSans-Regular.t1";

class FontCollectionTest : public ::testing::Test {
protected:
  TObjectPool objs;
  TPDFFontCollection fc;
  void SetUp() override { fc.LoadOutlines = true; }
  TPDFFontCollectionData* Load(int32_t n, const std::string& text) {
    objs.Def(n, text);
    fc.SelectFont(objs.Ref(n));
    return fc.CurrentFont;
  }
};

TEST_F(FontCollectionTest, StandardFontsWithoutDescriptorTakeTheirRowMetricsAndWidths) {
  TPDFFontCollectionData* f = Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Oblique >>");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->FontName, "Arial,Italic");
  EXPECT_EQ(f->Ascent, 718);
  EXPECT_EQ(f->Descent, -207);
  EXPECT_EQ(f->Widths['A'], 667);
  EXPECT_EQ(f->Widths[' '], 278);
  EXPECT_EQ(f->GlyphNames['A'], "A");
  EXPECT_NE(f->Rasterizer, nullptr);
  EXPECT_EQ(U8(fc.CodeToUnicode('A')), "A");

  // Times-Bold under WinAnsi: the bullet fills unused codes, quotes have their own widths.
  f = Load(2, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Bold /Encoding /WinAnsiEncoding >>");
  EXPECT_EQ(f->FontName, "TimesNewRoman,Bold");
  EXPECT_EQ(f->GlyphNames[0x93], "quotedblleft");
  EXPECT_EQ(U8(fc.CodeToUnicode(0x93)), "\u201C");
  EXPECT_EQ(f->CodeText[0x93], "\x93");
}

TEST_F(FontCollectionTest, SymbolHasUnicodeKeysAndSymbolWidths) {
  TPDFFontCollectionData* f = Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>");
  EXPECT_EQ(f->GlyphNames[0x61], "U+03B1");
  EXPECT_EQ(f->Widths[0x61], 631);
  // The key names its character, so text extraction sees alpha, not "a".
  EXPECT_EQ(U8(fc.CodeToUnicode(0x61)), "\u03B1");
  // Codes the Symbol encoding leaves empty fall back to the code itself.
  EXPECT_EQ(f->Widths[0x01], 750);
  EXPECT_EQ(U8(fc.CodeToUnicode(0x01)), "\x01");
}

TEST_F(FontCollectionTest, DescriptorMetricsInEmFractionsBecomeThousandths) {
  struct Case {
    const char* ascent;
    const char* descent;
    double a, d;
  } cases[] = {{"0.8", "-0.2", 800, -200}, {"800", "-200", 800, -200}, {"1", "-1", 1000, -1000}, {"/x", "()", 0, 0}};
  int n = 10;
  for (const Case& c : cases) {
    objs.Def(n + 1, std::string("<< /Type /FontDescriptor /Flags 32 /Ascent ") + c.ascent + " /Descent " + c.descent +
                        " >>");
    TPDFFontCollectionData* f =
        Load(n, "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /FontDescriptor " + std::to_string(n + 1) + " 0 R >>");
    EXPECT_EQ(f->Ascent, c.a) << c.ascent;
    EXPECT_EQ(f->Descent, c.d) << c.descent;
    n += 2;
  }
}

TEST_F(FontCollectionTest, WidthArraysAreCutToTheCodeRange) {
  struct Case {
    const char* dict;
    std::vector<std::pair<int, double>> expect;
  } cases[] = {
      // LastChar 300 is read as 255; entries past it are not written. Codes the
      // array does not cover are 0 wide without a /MissingWidth.
      {"/FirstChar 254 /LastChar 300 /Widths [1 2 3 4]", {{254, 1}, {255, 2}, {253, 0}}},
      // Widths longer than the range stop at LastChar; non-numbers give 0.
      {"/FirstChar 65 /LastChar 66 /Widths [100 /x 300]", {{65, 100}, {66, 0}, {67, 0}}},
      // FirstChar above LastChar writes nothing.
      {"/FirstChar 70 /LastChar 60 /Widths [100 200]", {{70, 0}, {60, 0}}},
      // Negative first codes are skipped, not written below the array.
      {"/FirstChar -2 /LastChar 1 /Widths [5 6 7 8]", {{0, 7}, {1, 8}}},
      // Missing /Widths: the descriptor's MissingWidth, else 750.
      {"/FirstChar 0 /LastChar 255 /FontDescriptor 99 0 R", {{65, 321}, {0, 321}}},
      {"/FirstChar 0 /LastChar 255 /Widths 98 0 R", {{0, 11}, {1, 0}}},
      // Uncovered codes take the MissingWidth of the descriptor.
      {"/FirstChar 65 /LastChar 65 /Widths [500] /FontDescriptor 99 0 R", {{65, 500}, {66, 321}, {0, 321}}},
      // Without /FirstChar the array starts at code 0; without /LastChar it ends with the array.
      {"/Widths [10 20]", {{0, 10}, {1, 20}, {2, 0}}},
      {"/FirstChar 48 /Widths [10 20]", {{48, 10}, {49, 20}, {50, 0}}},
  };
  // Without outlines no installed font lends its widths.
  fc.LoadOutlines = false;
  objs.Def(99, "<< /Type /FontDescriptor /MissingWidth 321 /Flags 32 >>");
  objs.Def(98, "[11]");
  int n = 1;
  for (const Case& c : cases) {
    TPDFFontCollectionData* f = Load(n++, std::string("<< /Type /Font /Subtype /TrueType /BaseFont /Foo ") + c.dict + " >>");
    for (auto [code, w] : c.expect) EXPECT_EQ(f->Widths[static_cast<size_t>(code)], w) << c.dict << " code " << code;
  }
}

TEST_F(FontCollectionTest, DifferencesRenameCodesAndIgnoreCodesOutOfRange) {
  objs.Def(2, "<< /Type /Encoding /BaseEncoding /WinAnsiEncoding /Differences [65 /Alpha /beta 300 /gamma -5 /delta "
              "255 /eacute /ydieresis 10 (junk) /epsilon] >>");
  TPDFFontCollectionData* f = Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding 2 0 R >>");
  EXPECT_EQ(f->GlyphNames[65], "Alpha");
  EXPECT_EQ(f->GlyphNames[66], "beta");
  EXPECT_EQ(f->GlyphNames[255], "eacute");
  EXPECT_EQ(f->GlyphNames[10], "epsilon");
  EXPECT_EQ(f->GlyphNames[67], "C");
  EXPECT_EQ(U8(fc.CodeToUnicode(66)), "\u03B2");
  EXPECT_EQ(U8(fc.CodeToUnicode(255)), "\u00E9");
  EXPECT_EQ(f->CodeText[255], "\xE9");
  // A glyph name outside the glyph list: the code itself.
  objs.Def(4, "<< /Differences [65 /g123] >>");
  Load(3, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding 4 0 R >>");
  EXPECT_EQ(U8(fc.CodeToUnicode(65)), "A");
}

TEST_F(FontCollectionTest, ToUnicodeMapsSimpleFontCodes) {
  objs.DefStream(2, "<< >>",
                 "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                 "1 begincodespacerange <00> <FF> endcodespacerange\n"
                 "2 beginbfchar <01> <0041> <02> <00660069> endbfchar\n"
                 "1 beginbfrange <10> <12> <03B1> endbfrange\n"
                 "1 beginbfrange <20> <22> [<0058> <0059>] endbfrange\n"
                 "endcmap CMapName currentdict /CMap defineresource pop end end\n");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 2 0 R >>");
  EXPECT_TRUE(f->SingleByteCodes);
  EXPECT_EQ(U8(fc.CodeToUnicode(1)), "A");
  EXPECT_EQ(U8(fc.CodeToUnicode(2)), "fi");
  EXPECT_EQ(U8(fc.CodeToUnicode(0x12)), "\u03B3");
  EXPECT_EQ(U8(fc.CodeToUnicode(0x20)), "X");
  EXPECT_EQ(U8(fc.CodeToUnicode(0x21)), "Y");
  // The array ran out: code 0x22 keeps its glyph name's character.
  EXPECT_EQ(U8(fc.CodeToUnicode(0x22)), "\"");
  EXPECT_EQ(f->CodeText[1], "A");
  EXPECT_EQ(U8(fc.CodeToUnicode(300)), "");
}

struct TCMapCase {
  const char* name;
  const char* text;
  bool singleByte;
  std::vector<std::pair<uint32_t, const char*>> expect;  // code -> UTF-8, "" for none
  size_t maxRecords;
};

class ToUnicodeParse : public ::testing::TestWithParam<TCMapCase> {};

TEST_P(ToUnicodeParse, ReadsMappingsAndSurvivesDamage) {
  const TCMapCase& c = GetParam();
  bool single = false;
  std::vector<TPDFToUnicodeRange> ranges;
  TPDFFontCollection::ParseToUnicodeCMap(c.text, single, ranges);
  EXPECT_EQ(single, c.singleByte);
  EXPECT_LE(ranges.size(), c.maxRecords);
  TPDFFontCollectionData rec;
  rec.IsComposite = true;
  rec.ToUnicodeRanges = ranges;
  rec.IndexToUnicodeRanges();
  TPDFFontCollection fc;
  fc.CurrentFont = &rec;
  for (auto [code, text] : c.expect) EXPECT_EQ(U8(fc.CodeToUnicode(code)), text) << "code " << code;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToUnicodeParse,
    ::testing::Values(
        TCMapCase{"TwoByte", "begincodespacerange <0000> <FFFF> endcodespacerange 1 beginbfchar <0003> <0020> endbfchar",
                  false, {{3, " "}, {4, ""}}, 1},
        // A ligature range moves its last character only.
        TCMapCase{"LigatureRange",
                  "begincodespacerange <0000> <FFFF> endcodespacerange beginbfrange <0010> <0012> <00660066> endbfrange",
                  false, {{0x10, "ff"}, {0x11, "fg"}, {0x12, "fh"}}, 1},
        // A surrogate pair moves as one character.
        TCMapCase{"Surrogates",
                  "begincodespacerange <0000> <FFFF> endcodespacerange beginbfrange <0001> <0002> <D835DC00> endbfrange",
                  false, {{1, "\U0001D400"}, {2, "\U0001D401"}}, 1},
        // The first mapping of a code wins; blocks are read in file order.
        TCMapCase{"FirstWins",
                  "begincodespacerange <00> <FF> endcodespacerange beginbfchar <41> <0061> endbfchar "
                  "beginbfrange <40> <42> <0030> endbfrange",
                  true, {{0x41, "a"}, {0x40, "0"}, {0x42, "2"}}, 2},
        // Whole-range hostile arrays cost one record per destination given.
        TCMapCase{"HugeArrayRange",
                  "begincodespacerange <0000> <FFFF> endcodespacerange beginbfrange <0000> <FFFF> [<0041>] "
                  "<0100> <0101> <0042> endbfrange",
                  false, {{0, "A"}, {1, ""}, {0x101, "C"}}, 2},
        // Codes above 0xFFFF, or with dozens of digits, are dropped.
        TCMapCase{"OversizedCodes",
                  "begincodespacerange <0000> <FFFF> endcodespacerange beginbfchar <10000> <0041> "
                  "<FFFFFFFFFFFFFFFFFFFFFFFF> <0042> <0005> <0043> endbfchar",
                  false, {{5, "C"}, {0, ""}}, 1},
        // A bfchar block without its end keyword ends at endcmap.
        TCMapCase{"UnterminatedChars",
                  "begincodespacerange <00> <FF> endcodespacerange beginbfchar <41> <0042> endcmap <43> <0044>", true,
                  {{0x41, "B"}, {0x43, ""}}, 1},
        TCMapCase{"NoCodespace", "beginbfchar <41> <0042> endbfchar", false, {{0x41, ""}}, 0},
        TCMapCase{"Garbage", "begincodespacerange <0000> endcodespacerange beginbfrange <<<>>>[[[ endbfrange", false,
                  {{0, ""}}, 0},
        // usecmap and other operators are not followed (no loops to guard).
        TCMapCase{"UseCMapIgnored",
                  "/Self usecmap begincodespacerange <00> <FF> endcodespacerange beginbfchar <20> <0020> endbfchar",
                  true, {{0x20, " "}}, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToUnicodeParseLarge, ManyEntriesAndManyUnterminatedBlocksAreAllRead) {
  std::string text = "begincodespacerange <0000> <FFFF> endcodespacerange beginbfchar";
  char entry[32];
  for (int code = 0; code < 30000; ++code) {
    std::snprintf(entry, sizeof entry, " <%04X> <%04X>", code, (code + 0x100) & 0xFFFF);
    text += entry;
  }
  text += " endbfchar";
  // Thousands of blocks whose end keyword never comes.
  for (int k = 0; k < 3000; ++k) text += " beginbfrange <FFFF> <FFFF> [<0041>";
  bool single = true;
  std::vector<TPDFToUnicodeRange> ranges;
  TPDFFontCollection::ParseToUnicodeCMap(text, single, ranges);
  EXPECT_FALSE(single);
  // The first unterminated block runs to the end and reads every entry after it.
  ASSERT_EQ(ranges.size(), 33000u);
  EXPECT_EQ(ranges[12345].First, 12345);
  EXPECT_EQ(ranges[12345].Destination, std::u16string(1, static_cast<char16_t>(12345 + 0x100)));
}

TEST_F(FontCollectionTest, HostileCIDWidthsKeepRanges) {
  TPDFCIDWidths w;
  TPDFArray* arr = PDFAsArray(objs.Parse("[0 16777215 500 1 [100 /x 300] 5 5 /bad 9 9 9]"));
  ReadCIDWidths(arr, 1000, w);
  // Two entries for the range and the array (the non-number keeps its slot); reading ends at /bad.
  EXPECT_EQ(w.GetCount(), 3);
  double x = 0;
  ASSERT_TRUE(w.GetWidth(16777215, x));
  EXPECT_EQ(x, 500);
  ASSERT_TRUE(w.GetWidth(1, x));
  EXPECT_EQ(x, 500);  // the first entry covering a CID wins
  ASSERT_TRUE(w.Find(3, x));
  EXPECT_EQ(x, 500);
  ASSERT_TRUE(w.GetWidth(16777216, x));
  EXPECT_EQ(x, 1000);  // the default
  EXPECT_FALSE(w.Find(16777216, x));

  TPDFCIDWidths v;
  ReadCIDWidths(PDFAsArray(objs.Parse("[10 [100 /x 300] 20 10 7 30 40 600.6]")), 900, v);
  ASSERT_TRUE(v.Find(10, x));
  EXPECT_EQ(x, 100);
  EXPECT_FALSE(v.Find(11, x));
  ASSERT_TRUE(v.Find(12, x));
  EXPECT_EQ(x, 300);
  EXPECT_FALSE(v.Find(15, x));  // last below first: no CIDs
  ASSERT_TRUE(v.Find(35, x));
  EXPECT_EQ(x, 601);  // stored as integers
}

TEST_F(FontCollectionTest, CompositeFontsSplitCodesAndMapGlyphs) {
  objs.Def(2, "[3 0 R]");
  objs.Def(3, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /CIDSystemInfo << /Registry (Adobe) /Ordering "
              "(Identity) /Supplement 0 >> /DW 800 /W [1 [250 260] 3 5 300] /FontDescriptor 4 0 R /CIDToGIDMap 5 0 R >>");
  objs.Def(4, "<< /Type /FontDescriptor /Flags 4 /Ascent 900 /Descent -100 >>");
  objs.DefStream(5, "<< >>", std::string("\x00\x00\x00\x07\x00\x09", 6));
  objs.DefStream(6, "<< >>",
                 "begincodespacerange <0000> <FFFF> endcodespacerange beginbfrange <0001> <0003> <0061> endbfrange");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /Encoding /Identity-H /DescendantFonts 2 0 R "
              "/ToUnicode 6 0 R >>");
  ASSERT_TRUE(f->IsComposite);
  EXPECT_EQ(f->ObjectNumber, 1);
  EXPECT_EQ(f->EncodingName, "Identity-H");
  EXPECT_EQ(f->CIDSystemInfo, "Adobe-Identity-0");
  EXPECT_FALSE(f->SingleByteCodes);
  EXPECT_EQ(f->Ascent, 900);
  EXPECT_EQ(fc.TextToCodes(std::string("\x00\x01\x00\x02\x01", 5)), (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(U8(fc.CodeToUnicode(2)), "b");
  EXPECT_EQ(U8(fc.CodeToUnicode(9)), "");
  EXPECT_EQ(f->GlyphIndexOfCode(1), 7u);
  EXPECT_EQ(f->GlyphIndexOfCode(2), 9u);
  EXPECT_EQ(f->GlyphIndexOfCode(3), 3u);  // past the map: the code itself
  double w = 0;
  ASSERT_TRUE(f->GetCIDWidth(2, w));
  EXPECT_EQ(w, 260);
  ASSERT_TRUE(f->GetCIDWidth(4, w));
  EXPECT_EQ(w, 300);
  ASSERT_TRUE(f->GetCIDWidth(6, w));
  EXPECT_EQ(w, 800);
  // The descendant's record is the font's; one record in all.
  EXPECT_EQ(fc.Fonts.size(), 1u);
}

TEST_F(FontCollectionTest, OneByteEncodingCMapAndToUnicodeCodespace) {
  objs.DefStream(3, "<< /Type /CMap >>", "begincodespacerange <00> <FF> endcodespacerange");
  objs.Def(4, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Foo >>");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type0 /Encoding 3 0 R /DescendantFonts [4 0 R] >>");
  EXPECT_TRUE(f->SingleByteCodes);
  EXPECT_EQ(f->EncodingName, "");
  EXPECT_EQ(fc.TextToCodes("AB"), (std::vector<uint16_t>{65, 66}));
  // Without ToUnicode or CIDSystemInfo a composite code has no text.
  EXPECT_EQ(U8(fc.CodeToUnicode(65)), "");
}

TEST_F(FontCollectionTest, ToUnicodeCodespaceSetsCodeLengthUnlessTheEncodingIsIdentity) {
  objs.DefStream(2, "<< >>",
                 "begincodespacerange <00> <FF> <0100> <FFFF> endcodespacerange beginbfchar <0041> <0042> endbfchar");
  objs.Def(3, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Foo >>");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [3 0 R] /ToUnicode 2 0 R >>");
  EXPECT_FALSE(f->SingleByteCodes);
  EXPECT_EQ(fc.TextToCodes(std::string("\x00\x41", 2)), (std::vector<uint16_t>{0x41}));
  EXPECT_EQ(U8(fc.CodeToUnicode(0x41)), "B");
  objs.Def(5, "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Foo >>");
  f = Load(4, "<< /Type /Font /Subtype /Type0 /Encoding /UniJIS-UCS2-H /DescendantFonts [5 0 R] /ToUnicode 2 0 R >>");
  EXPECT_TRUE(f->SingleByteCodes);
}

TEST_F(FontCollectionTest, BrokenCompositeFontsLoadWithoutTouchingOtherRecords) {
  TPDFFontCollectionData* simple = Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
  const char* cases[] = {
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H >>",
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [] >>",
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [1 0 R 1 0 R] >>",
      // A descendant that is itself composite (here: the font itself) is not followed.
      "<< /Type /Font /Subtype /Type0 /Encoding /Identity-H /DescendantFonts [10 0 R] >>",
  };
  int n = 10;
  for (const char* text : cases) {
    TPDFFontCollectionData* f = Load(n++, text);
    EXPECT_TRUE(f->IsComposite) << text;
    EXPECT_NE(f, simple);
    double w = 0;
    EXPECT_TRUE(f->GetCIDWidth(5, w));
    EXPECT_EQ(fc.TextToCodes("ab"), (std::vector<uint16_t>{0x6162}));
  }
  EXPECT_FALSE(simple->IsComposite);
  EXPECT_EQ(fc.Fonts.size(), 5u);
}

TEST_F(FontCollectionTest, CacheByNumberAndDirectDictionaries) {
  TPDFFontCollectionData* a = Load(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Courier >>");
  TPDFFontCollectionData* b = Load(3, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  fc.SelectFont(objs.Ref(7));
  EXPECT_EQ(fc.CurrentFont, a);
  EXPECT_EQ(fc.ObjectNumbers, (std::vector<int32_t>{3, 7}));
  fc.SelectFontByNumber(3);
  EXPECT_EQ(fc.CurrentFont, b);
  fc.SelectFontByNumber(42);
  EXPECT_EQ(fc.CurrentFont, b);
  // Two direct dictionaries are two fonts; the same one is found again.
  TPDFObject* d1 = objs.Parse("<< /Type /Font /Subtype /Type1 /BaseFont /Symbol >>");
  TPDFObject* d2 = objs.Parse("<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman >>");
  fc.SelectFont(d1);
  TPDFFontCollectionData* c1 = fc.CurrentFont;
  fc.SelectFont(d2);
  EXPECT_NE(fc.CurrentFont, c1);
  EXPECT_EQ(fc.CurrentFont->ObjectNumber, 0);
  fc.SelectFont(d1);
  EXPECT_EQ(fc.CurrentFont, c1);
  fc.LoadAndSelectFont(d1);
  EXPECT_NE(fc.CurrentFont, c1);
  EXPECT_EQ(fc.Fonts.size(), 5u);
  // Not a dictionary: a default record whose codes are themselves.
  fc.SelectFont(objs.Ref(99));
  EXPECT_EQ(U8(fc.CodeToUnicode('x')), "x");
  EXPECT_EQ(fc.CurrentFont->FontName, "Arial");
}

TEST_F(FontCollectionTest, EmbeddedTrueTypeAndSymbolicKeys) {
  if (!std::filesystem::exists(kLiberation)) GTEST_SKIP();
  std::string ttf = pvltest::ReadFile(kLiberation);
  objs.DefStream(3, "<< >>", ttf);
  objs.Def(2, "<< /Type /FontDescriptor /Flags 32 /FontFile2 3 0 R /Ascent 905 /Descent -212 >>");
  TPDFFontCollectionData* f = Load(1, "<< /Type /Font /Subtype /TrueType /BaseFont /ABCDEF+LiberationSans "
                                     "/FontDescriptor 2 0 R /FirstChar 65 /LastChar 65 /Widths [667] >>");
  auto* tt = dynamic_cast<TPDFTrueTypeRasterizer2*>(f->Rasterizer.get());
  ASSERT_NE(tt, nullptr);
  EXPECT_GT(tt->GetParser().GetGlyphCount(), 100);
  EXPECT_FALSE(tt->SymbolicFont);
  EXPECT_EQ(f->GlyphNames['A'], "A");
  EXPECT_EQ(f->FontName, "ABCDEF+LiberationSans");

  // Symbolic: "CID:" keys for drawing, while the Differences still give the text.
  objs.Def(5, "<< /Type /FontDescriptor /Flags 4 /FontFile2 3 0 R >>");
  f = Load(4, "<< /Type /Font /Subtype /TrueType /BaseFont /Sym /FontDescriptor 5 0 R "
              "/Encoding << /Differences [65 /B] >> >>");
  ASSERT_NE(dynamic_cast<TPDFTrueTypeRasterizer2*>(f->Rasterizer.get()), nullptr);
  EXPECT_EQ(f->GlyphNames[65], "CID:65");
  EXPECT_EQ(U8(fc.CodeToUnicode(65)), "B");

  // The renderer's text mode keeps the Differences in the keys.
  fc.KeepDifferences = true;
  f = Load(6, "<< /Type /Font /Subtype /TrueType /BaseFont /Sym /FontDescriptor 5 0 R "
              "/Encoding << /Differences [65 /B] >> >>");
  EXPECT_EQ(f->GlyphNames[65], "B");
}

TEST_F(FontCollectionTest, EmbeddedType1ProgramGivesItsEncodingAndDecoder) {
  TPfb pfb;
  if (!ReadPfb(kNimbus, pfb)) GTEST_SKIP();
  std::string lengths = "/Length1 " + std::to_string(pfb.clear.size()) + " /Length2 " +
                        std::to_string(pfb.binary.size()) + " /Length3 " + std::to_string(pfb.trailer.size());
  objs.DefStream(3, "<< " + lengths + " >>", pfb.clear + pfb.binary + pfb.trailer);
  objs.Def(2, "<< /Type /FontDescriptor /Flags 32 /FontFile 3 0 R >>");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /NimbusSans-Regular /FontDescriptor 2 0 R >>");
  auto* t1 = dynamic_cast<TPDFType1Decoder*>(f->Rasterizer.get());
  ASSERT_NE(t1, nullptr);
  EXPECT_GT(t1->GetCharStrings().GetCount(), 100);
  EXPECT_EQ(f->GlyphNames['a'], "a");  // the program's StandardEncoding

  // Bad lengths: the program is not used and the installed substitute draws.
  struct Bad {
    const char* lengths;
  } bad[] = {{"/Length1 0 /Length2 10"}, {"/Length1 99999999 /Length2 99999999"}, {"/Length1 -5 /Length2 3"}};
  int n = 10;
  for (const Bad& b : bad) {
    objs.DefStream(n + 2, std::string("<< ") + b.lengths + " >>", pfb.clear.substr(0, 200));
    objs.Def(n + 1, "<< /Type /FontDescriptor /Flags 32 /FontFile " + std::to_string(n + 2) + " 0 R >>");
    f = Load(n, "<< /Type /Font /Subtype /Type1 /BaseFont /Foo /FontDescriptor " + std::to_string(n + 1) + " 0 R >>");
    // Whatever draws is a readable program: never the rejected one.
    if (auto* t = dynamic_cast<TPDFType1Decoder*>(f->Rasterizer.get())) {
      EXPECT_GT(t->GetCharStrings().GetCount(), 0);
    }
    EXPECT_NE(f->Rasterizer, nullptr) << b.lengths;
    n += 3;
  }
}

TEST_F(FontCollectionTest, DamagedProgramsFallBackToInstalledFonts) {
  const char* programs[] = {"FontFile2", "FontFile3", "FontFile"};
  int n = 1;
  for (const char* key : programs) {
    objs.DefStream(n + 2, "<< /Length1 4 /Length2 4 /Subtype /Type1C >>", "garbage bytes that are no font");
    objs.Def(n + 1, std::string("<< /Type /FontDescriptor /Flags 32 /") + key + " " + std::to_string(n + 2) + " 0 R >>");
    const char* subtype = std::string(key) == "FontFile2" ? "TrueType" : "Type1";
    TPDFFontCollectionData* f = Load(n, std::string("<< /Type /Font /Subtype /") + subtype +
                                            " /BaseFont /Times-Roman /FontDescriptor " + std::to_string(n + 1) +
                                            " 0 R >>");
    ASSERT_NE(f->Rasterizer, nullptr) << key;
    // The substitute is an installed font with outlines for the text.
    auto* tt = dynamic_cast<TPDFTrueTypeRasterizer2*>(f->Rasterizer.get());
    auto* cff = dynamic_cast<TPDFType1Decoder*>(f->Rasterizer.get());
    EXPECT_TRUE((tt && tt->GetParser().GetGlyphCount() > 0) || (cff && cff->GetCharStrings().GetCount() > 0)) << key;
    n += 3;
  }
}

// Every rasterizer answers DrawGlyph alike: true when the font holds a glyph
// for the key, false otherwise (also from its cache); a TrueType font still
// draws its missing glyph for an unknown key.
TEST_F(FontCollectionTest, DrawGlyphReportsWhetherTheFontHoldsTheGlyph) {
  TPfb pfb;
  if (!std::filesystem::exists(kLiberation) || !ReadPfb(kNimbus, pfb)) GTEST_SKIP();
  objs.DefStream(3, "<< >>", pvltest::ReadFile(kLiberation));
  objs.Def(2, "<< /Type /FontDescriptor /Flags 32 /FontFile2 3 0 R >>");
  TPDFFontCollectionData* tt = Load(1, "<< /Type /Font /Subtype /TrueType /BaseFont /L /FontDescriptor 2 0 R >>");
  objs.DefStream(6, "<< /Length1 " + std::to_string(pfb.clear.size()) + " /Length2 " +
                        std::to_string(pfb.binary.size()) + " /Length3 " + std::to_string(pfb.trailer.size()) + " >>",
                 pfb.clear + pfb.binary + pfb.trailer);
  objs.Def(5, "<< /Type /FontDescriptor /Flags 32 /FontFile 6 0 R >>");
  TPDFFontCollectionData* t1 = Load(4, "<< /Type /Font /Subtype /Type1 /BaseFont /N /FontDescriptor 5 0 R >>");
  objs.DefStream(8, "<< >>", "0 0 m 5 0 l 5 5 l h f");
  TPDFFontCollectionData* t3 = Load(7, "<< /Type /Font /Subtype /Type3 /CharProcs << /sq 8 0 R >> >>");
  TPDFSimpleTrueTypeRasterizer installed;
  struct Case {
    TPDFFontRasterizer* r;
    const char* key;
    bool found;
    bool draws;
  } cases[] = {
      {tt->Rasterizer.get(), "A", true, true},          {tt->Rasterizer.get(), "nosuchglyph", false, true},
      {tt->Rasterizer.get(), "GID:99999", false, false}, {tt->Rasterizer.get(), "GID:0", true, true},
      {t1->Rasterizer.get(), "B", true, true},          {t1->Rasterizer.get(), "nosuchglyph", false, false},
      {t3->Rasterizer.get(), "sq", true, true},         {t3->Rasterizer.get(), "nosuchglyph", false, false},
      {&installed, "U+0041", false, false},             {&installed, "CID:0", false, false},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.r, nullptr);
    // Asked once without a canvas first: the cached outline is still the glyph's.
    EXPECT_EQ(c.r->DrawGlyph(nullptr, IdentityMatrix, c.key, 0, 0), c.found) << c.key;
    for (int pass = 0; pass < 2; ++pass) {
      TCountingCanvas canvas;
      EXPECT_EQ(c.r->DrawGlyph(&canvas, IdentityMatrix, c.key, 0, 0), c.found) << c.key << " pass " << pass;
      EXPECT_EQ(canvas.ops > 0, c.draws) << c.key << " pass " << pass;
    }
  }
}

TEST_F(FontCollectionTest, Type3FontsGetTheirProcedures) {
  objs.DefStream(3, "<< >>", "500 0 0 0 500 500 d1 0 0 m 500 0 l 500 500 l h f");
  TPDFFontCollectionData* f =
      Load(1, "<< /Type /Font /Subtype /Type3 /FontMatrix [0.001 0 0 0.001 0 0] /CharProcs << /sq 3 0 R >> "
              "/Encoding << /Differences [65 /sq] >> /FirstChar 65 /LastChar 65 /Widths [500] >>");
  auto* t3 = dynamic_cast<TPDFType3Rasterizer*>(f->Rasterizer.get());
  ASSERT_NE(t3, nullptr);
  EXPECT_EQ(t3->GetCharProc(f->GlyphNames[65]).substr(0, 3), "500");
  EXPECT_EQ(f->Widths[65], 500);
}

TEST_F(FontCollectionTest, StreamsAreDecryptedAroundEachRead) {
  objs.DefStream(2, "<< >>", "begincodespacerange <00> <FF> endcodespacerange beginbfchar <41> <0042> endbfchar");
  std::vector<std::string> calls;
  fc.OnDecryptStream = [&](TPDFStream*, TPDFIndRef* ref) { calls.push_back("d" + std::to_string(ref->GetRefNumber())); };
  fc.OnEncryptStream = [&](TPDFStream*, TPDFIndRef* ref) { calls.push_back("e" + std::to_string(ref->GetRefNumber())); };
  int lookups = 0;
  fc.OnLookupObject = [&](TPDFIndRef* r, int32_t n, int32_t g) {
    ++lookups;
    return objs.pool.OnLookupObject(r, n, g);
  };
  Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 2 0 R >>");
  EXPECT_EQ(calls, (std::vector<std::string>{"d2", "e2"}));
  EXPECT_GT(lookups, 0);
  EXPECT_EQ(U8(fc.CodeToUnicode(0x41)), "B");
}

TEST_F(FontCollectionTest, WithoutOutlinesOnlyNamesWidthsAndText) {
  fc.LoadOutlines = false;
  TPDFFontCollectionData* f = Load(1, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Oblique >>");
  EXPECT_EQ(f->Rasterizer, nullptr);
  EXPECT_EQ(f->FontName, "Helvetica-Oblique");
  EXPECT_EQ(f->Widths['A'], 667);
}

}  // namespace
