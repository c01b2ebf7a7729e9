// Glyph names, encodings, the glyph list and the standard widths.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <strings.h>
#include <algorithm>

#include "render/PavonaFontConst.h"
#include "render/PavonaResources.h"
#include "TestSupport.h"

namespace {

TEST(FontConst, EncodingVectorsFillTheirGaps) {
  TPDFGlyphNames names;
  BuildEncodingVector(pdfekWinAnsi, names);
  EXPECT_EQ(names[0x81], "bullet");
  EXPECT_EQ(names[0x8D], "bullet");
  EXPECT_EQ(names[0xA0], "space");
  EXPECT_EQ(names[0xAD], "hyphen");
  EXPECT_EQ(names[0x1F], ".notdef");
  EXPECT_EQ(names[0x80], "Euro");
  EXPECT_EQ(names[0x27], "quotesingle");
  BuildEncodingVector(pdfekMacRoman, names);
  EXPECT_EQ(names[0xCA], "space");
  EXPECT_EQ(names[0xDB], "currency");
  EXPECT_EQ(names[0xAD], ".notdef");  // notequal belongs to the Symbol set
  BuildEncodingVector(pdfekStandard, names);
  EXPECT_EQ(names[0x27], "quoteright");
  EXPECT_EQ(names[0x60], "quoteleft");
  EXPECT_EQ(names[0xE8], "Lslash");
  BuildEncodingVector(pdfekPDFDoc, names);
  EXPECT_EQ(names[0x18], "breve");
  EXPECT_EQ(names[0xA0], "Euro");
  EXPECT_EQ(names[0xAD], ".notdef");
  BuildEncodingVector(pdfekSymbol, names);
  EXPECT_EQ(names[0x61], "alpha");
  EXPECT_EQ(names[0x01], "");
  BuildEncodingVector(77, names);
  EXPECT_EQ(names[0x41], ".notdef");
}

// Every code of the four Latin encodings agrees with Python's code pages
// (cp1252 and mac_roman) through the glyph list.
TEST(FontConst, LatinCodesAgreeWithCodePages) {
  if (!pvltest::HaveTool("python3")) GTEST_SKIP();
  auto r = pvltest::RunCommand({"python3", "-c",
                                "import sys\n"
                                "for cp in ('cp1252','mac_roman'):\n"
                                "  for b in range(32,256):\n"
                                "    try: print(cp, b, ord(bytes([b]).decode(cp)))\n"
                                "    except Exception: pass\n"});
  ASSERT_EQ(r.exitCode, 0);
  std::istringstream in(r.out);
  std::string cp;
  int code = 0, unicode = 0, checked = 0;
  TPDFGlyphNames win, mac;
  BuildEncodingVector(pdfekWinAnsi, win);
  BuildEncodingVector(pdfekMacRoman, mac);
  while (in >> cp >> code >> unicode) {
    const std::string& name = cp == "cp1252" ? win[code] : mac[code];
    if (name == ".notdef" || code == 0x7F || (cp == "cp1252" && (code == 0xA0 || code == 0xAD)) || (cp == "mac_roman" && code == 0xCA))
      continue;  // gaps and the fills of the gaps
    if (cp == "mac_roman" && code == 0xDB) continue;  // currency in the PDF table, Euro in newer Mac systems
    EXPECT_EQ(GlyphNameToCode(name), unicode) << cp << " " << code << " " << name;
    ++checked;
  }
  EXPECT_GT(checked, 300);
}

TEST(FontConst, GlyphListLookups) {
  EXPECT_EQ(GlyphNameToCode("afii10017"), 0x0410);
  EXPECT_EQ(GlyphNameToCode("A"), 0x41);
  EXPECT_EQ(GlyphNameToCode("123"), 0);
  EXPECT_EQ(GlyphNameToCode(""), 0);
  EXPECT_EQ(GlyphNameToCode("zukatakana"), 0x30BA);
  EXPECT_EQ(GlyphNameToCode("Zuhiragana"), 0);
  EXPECT_EQ(GlyphNameToCode("~tilde"), 0);
  EXPECT_EQ(GlyphNameToCode("zzz"), 0);  // after the last name
  EXPECT_EQ(GlyphNameToCode("0"), 0);    // before the first

  // Every name of the list gives its (first) value.
  std::istringstream list(pvltest::ReadFile(std::string(PVL_SOURCE_DIR) + "/data/glyphlist.txt"));
  std::string line;
  size_t names = 0;
  while (std::getline(list, line)) {
    const size_t semicolon = line.find(';');
    if (line.empty() || line[0] == '#' || semicolon == std::string::npos) continue;
    const std::string name = line.substr(0, semicolon);
    const uint16_t value = static_cast<uint16_t>(std::stoul(line.substr(semicolon + 1, 4), nullptr, 16));
    EXPECT_EQ(GlyphNameToCode(name), value) << name;
    ++names;
  }
  EXPECT_GT(names, 4000u);
}

// Every entry of the glyph list file resolves to its (first) value.
TEST(FontConst, GlyphListMatchesItsSourceFile) {
  std::ifstream in(std::string(PVL_SOURCE_DIR) + "/data/glyphlist.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  std::map<std::string, uint16_t> first;
  int entries = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto semi = line.find(';');
    std::string name = line.substr(0, semi);
    uint16_t value = static_cast<uint16_t>(std::stoul(line.substr(semi + 1, 4), nullptr, 16));
    first.emplace(name, value);
    ++entries;
  }
  EXPECT_EQ(entries, 4281);
  for (const auto& [name, value] : first) ASSERT_EQ(GlyphNameToCode(name), value) << name;
}

TEST(FontConst, CodesAndUnicodeOfNames) {
  TPDFGlyphNames names;
  names.fill(".notdef");
  names[1] = "Euro";
  names[2] = "Lslash";
  names[3] = "nosuchglyph";
  names[4] = "CID:233";  // eacute by number
  names[5] = "A";
  std::array<std::string, 256> codes;
  EncodingVectorToCodes(names, codes);
  EXPECT_EQ(codes[1], "\x80");
  EXPECT_EQ(codes[2], "\xFF");
  EXPECT_EQ(codes[3], "");
  EXPECT_EQ(codes[4], "\xE9");
  EXPECT_EQ(codes[5], "A");
  std::array<std::u16string, 256> text;
  EncodingVectorToUnicode(names, text);
  EXPECT_EQ(text[1], u"\u20AC");
  EXPECT_EQ(text[3], std::u16string(1, u'\0'));
  EXPECT_EQ(StandardGlyphIndex("A"), 1);
  EXPECT_EQ(StandardGlyphIndex("zero"), kStandardGlyphCount);
  EXPECT_EQ(StandardGlyphIndex("nosuch"), 0);
  EXPECT_EQ(GlyphNameOfCode(0x00E9), "eacute");
  EXPECT_EQ(GlyphNameOfCode(0x03B1), "alpha");
  EXPECT_EQ(GlyphNameOfCode(0x4E00), "");
  EXPECT_EQ(WinAnsiByteOfUnicode(0x20AC), 0x80);
  EXPECT_EQ(WinAnsiByteOfUnicode(0x0141), 0);
  EXPECT_EQ(WinAnsiToPDFDocByte(0x80), 0xA0);
  EXPECT_EQ(WinAnsiToPDFDocByte(0x95), 0x80);
  EXPECT_EQ(WinAnsiToPDFDocByte(0x96), 0x85);
  EXPECT_EQ(WinAnsiToPDFDocByte(0x41), 0x41);
  int changed = 0;
  for (int b = 0; b < 256; ++b) changed += WinAnsiToPDFDocByte(static_cast<uint8_t>(b)) != b;
  EXPECT_EQ(changed, 25);  // 0x80..0x9F less oe and zcaron, which keep their codes
}

TEST(FontConst, StandardWidths) {
  TPDFGlyphNames names;
  BuildEncodingVector(pdfekWinAnsi, names);
  std::array<double, 256> w{};
  const struct {
    int row;
    int code;
    double width;
  } cases[] = {{1, ' ', 600}, {5, ' ', 278}, {9, ' ', 250}, {5, 'A', 667}, {9, 'A', 722}, {6, 'A', 722},
               {12, 'A', 667}, {8, 0x80, 556}, {5, 0x81, 350}};
  for (const auto& c : cases) {
    w.fill(-1);
    EncodingWidths(c.row, names, w);
    EXPECT_EQ(w[c.code], c.width) << c.row << " " << c.code;
  }
  names[65] = "notaglyph";
  EncodingWidths(5, names, w);
  EXPECT_EQ(w[65], 750);
  BuildEncodingVector(pdfekSymbol, names);
  EncodingWidths(13, names, w);
  EXPECT_EQ(w[0x61], 631);  // alpha
  EXPECT_EQ(w[0x01], 750);
  w.fill(-1);
  EncodingWidths(14, names, w);
  EXPECT_EQ(w[0x61], -1);
}

TEST(FontConst, SymbolKeys) {
  TPDFGlyphNames keys;
  BuildSymbolEncoding(keys);
  EXPECT_EQ(keys[0x61], "U+03B1");
  EXPECT_EQ(keys[0x20], "U+0020");
  EXPECT_EQ(keys[0x01], "");
  EXPECT_EQ(keys[0xA0], "U+20AC");
}

TEST(FontConst, ResourcesInflate) {
  EXPECT_FALSE(InflateProgramResource(kResourceGlyphList).empty());
  EXPECT_FALSE(InflateProgramResource(kResourceCMap90msRKSJH).empty());
  EXPECT_TRUE(InflateProgramResource(4711).empty());
}

TEST(FontConst, InstalledFamilies) {
  const auto& all = InstalledFontNames(1);
  ASSERT_FALSE(all.empty());
  for (const char* name : {"Liberation Sans", "DejaVu Sans", "Arial", "Times New Roman", "Courier New"})
    EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name;
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  }));
  EXPECT_EQ(&InstalledFontNames(1), &all);
  const auto& japanese = InstalledFontNames(128);
  EXPECT_LT(japanese.size(), all.size());
}

TEST(FontConst, DingbatsFont) {
  std::string data = GetDingbatsFontData();
  ASSERT_GT(data.size(), 1000u);
  EXPECT_EQ(data.substr(0, 4), "OTTO");
}

}  // namespace
