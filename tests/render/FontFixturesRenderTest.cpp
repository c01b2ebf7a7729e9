// Pages whose fonts were drawn unlike the other readers draw them, each built
// here with a small font program of its own (a Type 1 program, a TrueType
// program, a Type 3 font) and rendered through cairo; the page is compared
// with a peer's rendering of the same file (pdftoppm, or mutool where the two
// peers disagree and the PDF format sides with mutool).
//
// The font programs draw one plain shape per glyph, different for every
// glyph, so that a glyph taken from the wrong place, drawn at the wrong size
// or advance, or not drawn at all shows as missing or misplaced ink.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "PageImageCompare.h"
#include "RendererTestSupport.h"
#include "Type1TestSupport.h"

using namespace pvlrender;

namespace {

// ---------------------------------------------------------------------------
// CFF programs

// A Type 2 charstring: width, then a closed polygon from its first point.
std::string T2Glyph(int width, const std::vector<std::pair<int, int>>& points) {
  using cfftest::T2;
  std::string cs = T2(width);
  int x = 0, y = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    cs += T2(points[i].first - x) + T2(points[i].second - y) + (i == 0 ? "\x15" : "\x05");
    x = points[i].first, y = points[i].second;
  }
  return cs + "\x0e";
}

// A bare CFF program (FontFile3 /Type1C) of the glyphs "A" (a box), "B" (a
// triangle) and "C" (a bar), 1000 units per em, named through custom strings
// or, with standardNames, through the standard strings' SIDs (34, 35, 36),
// or by the predefined ISOAdobe charset; encoding holds the bytes of a
// built-in encoding (none: the standard one).
std::string CFFProgram(bool standardNames, const std::string& encoding = "", bool isoAdobeCharset = false) {
  cfftest::CFFFont f;
  f.glyphs = {T2Glyph(0, {}), T2Glyph(1000, {{100, 0}, {700, 0}, {700, 700}, {100, 700}}),
              T2Glyph(750, {{50, 0}, {600, 0}, {250, 700}}),
              T2Glyph(1000, {{100, 300}, {900, 300}, {900, 400}, {100, 400}})};
  f.sids = {"A", "B", "C"};
  if (standardNames) f.cids = {34, 35, 36};
  if (isoAdobeCharset) {
    // Glyph n named by SID n: empty glyphs up to A, B and C at 34, 35, 36.
    f.glyphs.insert(f.glyphs.begin() + 1, 33, T2Glyph(0, {}));
    f.sids.clear(), f.cids.clear();
    f.isoAdobeCharset = true;
  }
  f.encoding = encoding;
  return f.build();
}

// ---------------------------------------------------------------------------
// Type 1 programs

// A charstring: width, then a closed polygon from its first point.
std::string T1Glyph(int width, const std::vector<std::pair<int, int>>& points) {
  std::string cs = Type1Number(0) + Type1Number(width) + "\x0d";  // hsbw
  int x = 0, y = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    cs += Type1Number(points[i].first - x) + Type1Number(points[i].second - y) + (i == 0 ? "\x15" : "\x05");
    x = points[i].first, y = points[i].second;
  }
  return cs + "\x09\x0e";  // closepath endchar
}

struct TType1File {
  std::string data;
  int64_t length1 = 0, length2 = 0, length3 = 0;
};

// The glyphs "a" (a box), "b" (a triangle) and "c" (a bar) on a grid of
// unitsPerEm, in the program in the order given (names sorted by default).
TType1File Type1Program(const std::string& fontMatrix, int unitsPerEm,
                        const std::vector<std::string>& order = {".notdef", "a", "b"}) {
  const int u = unitsPerEm;
  std::map<std::string, std::string> shapes = {
      {".notdef", Type1Number(0) + Type1Number(0) + "\x0d\x0e"},
      {"a", T1Glyph(u, {{u / 10, 0}, {u * 7 / 10, 0}, {u * 7 / 10, u * 7 / 10}, {u / 10, u * 7 / 10}})},
      {"b", T1Glyph(u * 3 / 4, {{u / 20, 0}, {u * 6 / 10, 0}, {u / 4, u * 7 / 10}})},
      {"c",
       T1Glyph(u, {{u / 10, u * 3 / 10}, {u * 9 / 10, u * 3 / 10}, {u * 9 / 10, u * 4 / 10}, {u / 10, u * 4 / 10}})},
  };
  std::vector<std::pair<std::string, std::string>> glyphs;
  for (const std::string& name : order) glyphs.emplace_back(name, shapes.at(name));
  std::string clear =
      "%!PS-AdobeFont-1.0: Fix 001\n11 dict begin\n/FontName /Fix def\n/PaintType 0 def\n"
      "/FontType 1 def\n/FontMatrix " +
      fontMatrix + " readonly def\n/FontBBox {0 0 " + std::to_string(u) + " " + std::to_string(u) +
      "} readonly def\n"
      "/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\ndup 97 /a put\n"
      "dup 98 /b put\ndup 99 /c put\nreadonly def\ncurrentdict end\ncurrentfile eexec\n";
  std::string priv = "dup /Private 8 dict dup begin\n/RD{string currentfile exch readstring pop}executeonly def\n"
                     "/ND{noaccess def}executeonly def\n/NP{noaccess put}executeonly def\n/MinFeature{16 16}def\n"
                     "/password 5839 def\n/BlueValues [] def\n/Subrs 1 array\n";
  std::string ret = Type1Encrypt("\x0b", 4330, "abcd");
  priv += "dup 0 " + std::to_string(ret.size()) + " RD " + ret + " NP\nND\n2 index /CharStrings " +
          std::to_string(glyphs.size()) + " dict dup begin\n";
  for (const auto& [name, cs] : glyphs) {
    std::string e = Type1Encrypt(cs, 4330, "abcd");
    priv += "/" + name + " " + std::to_string(e.size()) + " RD " + e + " ND\n";
  }
  priv += "end\nend\nreadonly put\nnoaccess put\ndup/FontName get exch definefont pop\nmark currentfile closefile\n";
  std::string encrypted = Type1Encrypt(priv, 55665, "abcd");
  std::string trailer;
  for (int i = 0; i < 8; ++i) trailer += std::string(64, '0') + "\n";
  trailer += "cleartomark\n";
  return {clear + encrypted + trailer, static_cast<int64_t>(clear.size()), static_cast<int64_t>(encrypted.size()),
          static_cast<int64_t>(trailer.size())};
}

// ---------------------------------------------------------------------------
// TrueType programs

void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>((v >> 8) & 0xFF);
  s += static_cast<char>(v & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v >> 16);
  Put16(s, v & 0xFFFF);
}

struct TCmap {
  uint16_t platform, encoding;
  int format;                       // 4 or 6
  std::map<uint32_t, uint16_t> map;  // code -> glyph
};

std::string CmapSubtable(const TCmap& c) {
  std::string body;
  if (c.format == 6) {
    const uint32_t first = c.map.begin()->first, last = c.map.rbegin()->first;
    Put16(body, first);
    Put16(body, last - first + 1);
    for (uint32_t code = first; code <= last; ++code) Put16(body, c.map.count(code) ? c.map.at(code) : 0);
    std::string out;
    Put16(out, 6);
    Put16(out, static_cast<uint32_t>(body.size() + 6));
    Put16(out, 0);
    return out + body;
  }
  // Format 4: one segment per code, and the closing 0xFFFF segment.
  std::vector<std::pair<uint32_t, uint16_t>> segs(c.map.begin(), c.map.end());
  const uint32_t n = static_cast<uint32_t>(segs.size() + 1);
  std::string ends, starts, deltas, ranges;
  for (auto [code, glyph] : segs) {
    Put16(ends, code);
    Put16(starts, code);
    Put16(deltas, (glyph - code) & 0xFFFF);
    Put16(ranges, 0);
  }
  Put16(ends, 0xFFFF);
  Put16(starts, 0xFFFF);
  Put16(deltas, 1);
  Put16(ranges, 0);
  uint32_t power = 1, selector = 0;
  while (power * 2 <= n) power *= 2, ++selector;
  std::string out;
  Put16(out, 4);
  Put16(out, 16 + n * 8);
  Put16(out, 0);
  Put16(out, n * 2);
  Put16(out, power * 2);
  Put16(out, selector);
  Put16(out, n * 2 - power * 2);
  out += ends;
  Put16(out, 0);
  return out + starts + deltas + ranges;
}

// Glyphs: 0 empty (.notdef), 1 "zero" a tall box, 2 "one" a triangle, 3
// "Oslash" a wide low box; 1000 units per em, 600 wide each. names: the
// post table's names (version 2), none (version 3) when empty.
std::string TrueTypeProgram(const std::vector<TCmap>& cmaps, const std::vector<std::string>& names) {
  const std::vector<std::vector<std::pair<int, int>>> shapes = {
      {}, {{100, 0}, {500, 0}, {500, 700}, {100, 700}}, {{100, 0}, {500, 0}, {300, 700}},
      {{50, 0}, {550, 0}, {550, 300}, {50, 300}}};
  std::map<std::string, std::string> t;
  std::string glyf, loca;
  for (const auto& pts : shapes) {
    Put32(loca, static_cast<uint32_t>(glyf.size()));
    if (pts.empty()) continue;
    int xmin = 10000, ymin = 10000, xmax = -1, ymax = -1;
    for (auto [x, y] : pts) xmin = std::min(xmin, x), ymin = std::min(ymin, y), xmax = std::max(xmax, x), ymax = std::max(ymax, y);
    Put16(glyf, 1);
    Put16(glyf, xmin), Put16(glyf, ymin), Put16(glyf, xmax), Put16(glyf, ymax);
    Put16(glyf, static_cast<uint32_t>(pts.size() - 1));
    Put16(glyf, 0);  // no instructions
    glyf += std::string(pts.size(), '\x01');
    int px = 0, py = 0;
    for (auto [x, y] : pts) Put16(glyf, static_cast<uint32_t>((x - px) & 0xFFFF)), px = x;
    for (auto [x, y] : pts) Put16(glyf, static_cast<uint32_t>((y - py) & 0xFFFF)), py = y;
    while (glyf.size() % 4) glyf += '\0';
  }
  Put32(loca, static_cast<uint32_t>(glyf.size()));
  t["glyf"] = glyf;
  t["loca"] = loca;
  std::string head;
  Put32(head, 0x00010000), Put32(head, 0x00010000), Put32(head, 0), Put32(head, 0x5F0F3CF5);
  Put16(head, 0x000B), Put16(head, 1000);
  head += std::string(16, '\0');  // created, modified
  Put16(head, 0), Put16(head, 0), Put16(head, 550), Put16(head, 700);
  Put16(head, 0), Put16(head, 8), Put16(head, 2), Put16(head, 1), Put16(head, 0);
  t["head"] = head;
  std::string hhea;
  Put32(hhea, 0x00010000), Put16(hhea, 800), Put16(hhea, static_cast<uint32_t>(-200 & 0xFFFF)), Put16(hhea, 0);
  Put16(hhea, 600), Put16(hhea, 0), Put16(hhea, 0), Put16(hhea, 550), Put16(hhea, 1), Put16(hhea, 0), Put16(hhea, 0);
  hhea += std::string(8, '\0');
  Put16(hhea, 0), Put16(hhea, 4);
  t["hhea"] = hhea;
  std::string maxp;
  Put32(maxp, 0x00010000), Put16(maxp, 4), Put16(maxp, 4), Put16(maxp, 1), Put16(maxp, 0), Put16(maxp, 0);
  Put16(maxp, 2);
  maxp += std::string(18, '\0');
  t["maxp"] = maxp;
  std::string hmtx;
  for (int g = 0; g < 4; ++g) Put16(hmtx, 600), Put16(hmtx, g == 0 ? 0 : g == 3 ? 50 : 100);
  t["hmtx"] = hmtx;
  std::string cmap;
  Put16(cmap, 0), Put16(cmap, static_cast<uint32_t>(cmaps.size()));
  std::string subs;
  for (const TCmap& c : cmaps) {
    Put16(cmap, c.platform), Put16(cmap, c.encoding);
    Put32(cmap, static_cast<uint32_t>(4 + cmaps.size() * 8 + subs.size()));
    subs += CmapSubtable(c);
  }
  t["cmap"] = cmap + subs;
  std::string post;
  Put32(post, names.empty() ? 0x00030000 : 0x00020000);
  post += std::string(28, '\0');
  if (!names.empty()) {
    Put16(post, static_cast<uint32_t>(names.size()));
    std::string strings;
    int next = 258;
    for (const std::string& n : names) {
      if (n == ".notdef") {
        Put16(post, 0);
        continue;
      }
      Put16(post, static_cast<uint32_t>(next++));
      strings += static_cast<char>(n.size());
      strings += n;
    }
    post += strings;
  }
  t["post"] = post;
  // The table directory, tables in tag order, each padded to 4 bytes.
  std::string font;
  Put32(font, 0x00010000);
  Put16(font, static_cast<uint32_t>(t.size())), Put16(font, 128), Put16(font, 3), Put16(font, static_cast<uint32_t>(t.size() * 16 - 128));
  uint32_t offset = static_cast<uint32_t>(12 + t.size() * 16);
  std::string data;
  for (auto& [tag, bytes] : t) {
    uint32_t sum = 0;
    std::string padded = bytes + std::string((4 - bytes.size() % 4) % 4, '\0');
    for (size_t i = 0; i < padded.size(); i += 4)
      sum += (uint32_t(uint8_t(padded[i])) << 24) | (uint32_t(uint8_t(padded[i + 1])) << 16) |
             (uint32_t(uint8_t(padded[i + 2])) << 8) | uint8_t(padded[i + 3]);
    font += tag;
    Put32(font, sum), Put32(font, offset + static_cast<uint32_t>(data.size())), Put32(font, static_cast<uint32_t>(bytes.size()));
    data += padded;
  }
  return font + data;
}

// ---------------------------------------------------------------------------
// Pages and the comparison

std::string Widths(int first, int last, int w) {
  std::string s = "[";
  for (int c = first; c <= last; ++c) s += std::to_string(w) + " ";
  return s + "]";
}

// A 240 x 60 page showing text with font /F1 (object 4, its descriptor 5 and
// program 6 when given).
std::string FontPage(const std::string& font, const std::string& descriptor, const std::string& program,
                     const std::string& text) {
  std::vector<std::string> extra = {font};
  if (!descriptor.empty()) extra.push_back(descriptor);
  if (!program.empty()) extra.push_back(program);
  return PagePdf("BT /F1 36 Tf 10 14 Td " + text + " Tj ET", "<< /Font << /F1 4 0 R >> >>", extra, "",
                 "[0 0 240 60]");
}

struct TPeerImage {
  TBitmap bitmap;
  std::string missing;
};

TPeerImage PeerRender(const std::string& pdf, const std::string& peer) {
  TPeerImage out;
  if (!pvltest::RequireTool(peer, out.missing)) return out;
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("in.pdf"), pdf);
  if (peer == "pdftoppm") {
    pvltest::RunCommand({"pdftoppm", "-r", "72", "-png", "-singlefile", dir.File("in.pdf"), dir.File("ref")});
  } else {
    pvltest::RunCommand({"mutool", "draw", "-q", "-r", "72", "-o", dir.File("ref.png"), dir.File("in.pdf"), "1"});
  }
  out.bitmap = pvltest::LoadPng(dir.File("ref.png"));
  return out;
}

struct TFontCase {
  const char* name;
  std::string pdf;
  const char* peer;
};

// Ours against the peer: the peer drew ink, and ours lies on it.
void ExpectLikePeer(const TFontCase& c) {
  SCOPED_TRACE(c.name);
  TPeerImage ref = PeerRender(c.pdf, c.peer);
  if (!ref.missing.empty()) {
    if (pvltest::InCI()) FAIL() << ref.missing;
    GTEST_SKIP() << ref.missing;
  }
  ASSERT_FALSE(ref.bitmap.Empty());
  TRendered ours = RenderContent(c.pdf, true);
  ASSERT_EQ(ours.error, "");
  ASSERT_FALSE(ours.bitmap.Empty());
  const pvltest::TImageDifference forward = pvltest::CompareImages(ref.bitmap, ours.bitmap);
  const pvltest::TImageDifference backward = pvltest::CompareImages(ours.bitmap, ref.bitmap);
  int dark = 0;
  for (int g : pvltest::GreyOf(ref.bitmap)) dark += g < 128;
  EXPECT_GT(dark, 100) << "the peer drew no text: the fixture shows nothing";
  EXPECT_GE(forward.inkRecall, 0.95) << "ink the peer drew is missing from ours";
  EXPECT_GE(backward.inkRecall, 0.95) << "ours drew ink where the peer drew none";
  EXPECT_LE(forward.mean, 6.0);
}

std::string Stream(const std::string& entries, const std::string& data) { return StreamObject(entries, data); }

}  // namespace

// Type 1 programs: the FontMatrix's grid and slant, and advances taken from
// the program when the PDF gives no /Widths.
TEST(FontFixturesRender, Type1ProgramsDrawAtTheirMatrixAndAdvance) {
  auto type1 = [](const std::string& matrix, int units, const std::string& widths) {
    TType1File f = Type1Program(matrix, units);
    return FontPage("<< /Type /Font /Subtype /Type1 /BaseFont /Fix " + widths + " /FontDescriptor 5 0 R >>",
                    "<< /Type /FontDescriptor /FontName /Fix /Flags 32 /FontBBox [0 0 1000 1000] /Ascent 800 "
                    "/Descent -200 /CapHeight 700 /StemV 80 /ItalicAngle 0 /FontFile 6 0 R >>",
                    Stream("/Length1 " + std::to_string(f.length1) + " /Length2 " + std::to_string(f.length2) +
                               " /Length3 " + std::to_string(f.length3),
                           f.data),
                    "(abaab)");
  };
  const std::vector<TFontCase> cases = {
      // 2000 units per em: glyphs drawn at half the units, widths from the PDF.
      {"2000-unit grid", type1("[0.0005 0 0 0.0005 0 0]", 2000, "/FirstChar 97 /LastChar 98 /Widths [1000 750]"),
       "pdftoppm"},
      // A slanted program: the matrix's skew is drawn.
      {"slanted matrix", type1("[0.001 0 0.0004 0.001 0 0]", 1000, "/FirstChar 97 /LastChar 98 /Widths [1000 750]"),
       "pdftoppm"},
      // No /Widths: the program's advances (1 em and 3/4 em). pdftoppm puts in
      // a standard font's widths here; mutool, like the format, the program's.
      {"advances from the program", type1("[0.0005 0 0 0.0005 0 0]", 2000, ""), "mutool"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);
}

// A CIDFontType0 whose program is a Type 1 program (/FontFile): CIDs are
// glyph indexes numbered as font engines number a Type 1 program's glyphs,
// in the program's order with .notdef first.
TEST(FontFixturesRender, Type1ProgramOfACIDFontNumbersItsGlyphsWithNotdefFirst) {
  auto cidType1 = [](const std::vector<std::string>& order) {
    TType1File f = Type1Program("[0.001 0 0 0.001 0 0]", 1000, order);
    return PagePdf("BT /F1 36 Tf 10 14 Td <0001000200030001> Tj ET", "<< /Font << /F1 4 0 R >> >>",
                   {"<< /Type /Font /Subtype /Type0 /BaseFont /Fix /Encoding /Identity-H /DescendantFonts [5 0 R] >>",
                    "<< /Type /Font /Subtype /CIDFontType0 /BaseFont /Fix /CIDSystemInfo << /Registry (Adobe) "
                    "/Ordering (Identity) /Supplement 0 >> /DW 1000 /FontDescriptor 6 0 R >>",
                    "<< /Type /FontDescriptor /FontName /Fix /Flags 4 /FontBBox [0 0 1000 1000] /Ascent 800 "
                    "/Descent -200 /CapHeight 700 /StemV 80 /ItalicAngle 0 /FontFile 7 0 R >>",
                    Stream("/Length1 " + std::to_string(f.length1) + " /Length2 " + std::to_string(f.length2) +
                               " /Length3 " + std::to_string(f.length3),
                           f.data)},
                   "", "[0 0 240 60]");
  };
  // pdftoppm refuses a Type 1 program under a CIDFontType0 ("Mismatch between
  // font type and embedded font file") and draws nothing here; mutool draws it.
  const std::vector<TFontCase> cases = {
      {".notdef first", cidType1({".notdef", "a", "b", "c"}), "mutool"},
      // .notdef third: glyph 0 is .notdef and the program's first glyph (c) takes its place, 2.
      {".notdef third", cidType1({"c", "a", ".notdef", "b"}), "mutool"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);
}

// Symbol and ZapfDingbats with a descriptor but no program are the standard
// fonts: their glyphs through their own encodings, at their standard widths
// (a Latin stand-in drew nothing, 750 units apart).
TEST(FontFixturesRender, DescribedButNotEmbeddedSymbolFontsAreTheStandardOnes) {
  auto described = [](const std::string& name, const std::string& text) {
    return FontPage("<< /Type /Font /Subtype /Type1 /BaseFont /" + name + " /FontDescriptor 5 0 R >>",
                    "<< /Type /FontDescriptor /FontName /" + name +
                        " /Flags 4 /FontBBox [0 0 1000 1000] /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 "
                        "/ItalicAngle 0 >>",
                    "", text);
  };
  const std::vector<TFontCase> cases = {
      {"Symbol", described("Symbol", "(abgdp=+)"), "pdftoppm"},
      {"ZapfDingbats", described("ZapfDingbats", "(!#$4n)"), "pdftoppm"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);
}

// TrueType programs whose glyphs are reached through the character map the
// PDF font does not name directly.
TEST(FontFixturesRender, TrueTypeGlyphsFoundThroughEveryCharacterMap) {
  auto truetype = [](const std::vector<TCmap>& cmaps, const std::vector<std::string>& names, int flags,
                     const std::string& encoding, const std::string& text) {
    std::string program = TrueTypeProgram(cmaps, names);
    return FontPage("<< /Type /Font /Subtype /TrueType /BaseFont /Fix /FirstChar 0 /LastChar 255 /Widths " +
                        Widths(0, 255, 600) + encoding + " /FontDescriptor 5 0 R >>",
                    "<< /Type /FontDescriptor /FontName /Fix /Flags " + std::to_string(flags) +
                        " /FontBBox [0 0 600 700] /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 "
                        "/ItalicAngle 0 /FontFile2 6 0 R >>",
                    Stream("/Length1 " + std::to_string(program.size()), program), text);
  };
  const std::vector<TFontCase> cases = {
      // A non-symbolic font whose only table is a symbol table (codes at
      // 0xF000): digits by their codes.
      {"symbol table only", truetype({{3, 0, 4, {{0xF030, 1}, {0xF031, 2}}}}, {}, 32, " /Encoding /WinAnsiEncoding", "(0110)"),
       "pdftoppm"},
      // A Macintosh table that is not a 256-code array: names through the
      // Macintosh character set (Oslash is 0xAF there, 0xD8 in WinAnsi).
      {"Macintosh table of another format",
       truetype({{1, 0, 6, {{0x30, 1}, {0x31, 2}, {0xAF, 3}}}}, {}, 32, " /Encoding /WinAnsiEncoding", "(01<D8>0)"),
       "pdftoppm"},
      // A symbolic font with Differences whose codes its symbol table lacks:
      // the glyph names of the post table.
      {"symbolic font, names from Differences",
       truetype({{3, 0, 4, {{0xF020, 3}}}}, {".notdef", "zero", "one", "Oslash"}, 4,
                " /Encoding << /Type /Encoding /Differences [65 /zero /one /Oslash] >>", "(ABCA)"),
       "pdftoppm"},
      // Names that spell their character (uniXXXX) through the Unicode table.
      {"uniXXXX names", truetype({{3, 1, 4, {{0x30, 1}, {0x31, 2}, {0xD8, 3}}}}, {}, 32,
                                 " /Encoding << /Type /Encoding /Differences [65 /uni0030 /uni0031 /uni00D8] >>", "(ABCA)"),
       "pdftoppm"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);
}

// Type 3 glyphs: one that declares its own colours (d0) paints with them; one
// that does not (d1) is painted in the text's colour, strokes included, and
// ignores the colours it sets. Codes the /Widths do not cover take no room.
TEST(FontFixturesRender, Type3GlyphColoursAndUncoveredCodes) {
  auto type3 = [](const std::string& procA, const std::string& procB, const std::string& text) {
    return PagePdf("0 0 1 rg 1 0 0 RG BT /F1 36 Tf 10 14 Td " + text + " Tj ET", "<< /Font << /F1 4 0 R >> >>",
                   {"<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1000 1000] /FontMatrix [0.001 0 0 0.001 0 0] "
                    "/CharProcs << /a 5 0 R /b 6 0 R >> /Encoding << /Type /Encoding /Differences [97 /a /b] >> "
                    "/FirstChar 97 /LastChar 98 /Widths [1000 1000] /Resources << >> >>",
                    Stream("", procA), Stream("", procB)},
                   "", "[0 0 240 60]");
  };
  const std::string stroked = "1000 0 0 0 800 800 d1 60 w 100 100 600 600 re B";
  const std::string colouring = "1000 0 0 0 800 800 d1 0 1 0 rg 0 1 0 RG /DeviceGray cs 60 w 100 100 600 600 re B";
  const std::string coloured = "1000 0 d0 0 0.6 0 rg 100 100 m 700 100 l 400 700 l f";
  const std::vector<TFontCase> cases = {
      {"d1 glyph stroked and filled, d0 glyph", type3(stroked, coloured, "(abba)"), "pdftoppm"},
      // Colour operators inside a d1 glyph are ignored, as the format says;
      // pdftoppm then drops part of the glyph, mutool keeps it.
      {"colours set inside a d1 glyph", type3(colouring, coloured, "(abba)"), "mutool"},
      // Spaces (code 32) outside FirstChar..LastChar are 0 wide.
      {"codes without widths", type3(stroked, coloured, "( a b  ab)"), "pdftoppm"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);

  // The colours themselves: the d1 glyph's stroked edge and inside are the
  // fill colour (blue), the d0 glyph its own green.
  TRendered r = RenderContent(cases[1].pdf, true);
  ASSERT_FALSE(r.bitmap.Empty());
  std::map<uint32_t, int> colours;
  for (int y = 0; y < r.bitmap.Height(); ++y)
    for (int x = 0; x < r.bitmap.Width(); ++x) ++colours[Rgb(r.bitmap, x, y)];
  EXPECT_GT(colours[0x0000FF], 500);
  EXPECT_GT(colours[0x009900], 200);
  EXPECT_EQ(colours[0xFF0000], 0) << "the stroke colour painted a d1 glyph";
  EXPECT_EQ(colours[0x00FF00], 0) << "a d1 glyph's own colour was used";
}

// Embedded CFF programs (FontFile3 /Type1C) under the PDF's /Differences: a
// renamed code takes the glyph of its new name from the program's charset,
// whatever the program's own encoding says, and the codes the Differences
// leave keep the base encoding's (or the program's) glyphs.
TEST(FontFixturesRender, CFFProgramsUnderDifferences) {
  auto cff = [](int flags, const std::string& encoding, const std::string& program) {
    return FontPage(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Cff /FirstChar 65 /LastChar 67 /Widths [1000 750 1000] " + encoding +
            " /FontDescriptor 5 0 R >>",
        "<< /Type /FontDescriptor /FontName /Cff /Flags " + std::to_string(flags) +
            " /FontBBox [0 0 1000 1000] /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 "
            "/ItalicAngle 0 /FontFile3 6 0 R >>",
        Stream("/Subtype /Type1C", program), "(ABCA)");
  };
  // The program's own encoding, format 0: code 67 for A, 65 for B, 66 for C.
  const std::string ownCodes("\x00\x03\x43\x41\x42", 5);
  const std::vector<TFontCase> cases = {
      {"standard encoding", cff(32, "", CFFProgram(false)), "pdftoppm"},
      {"code 65 renamed", cff(32, "/Encoding << /Differences [65 /C] >>", CFFProgram(false)), "pdftoppm"},
      {"code 65 renamed, standard strings", cff(32, "/Encoding << /Differences [65 /C] >>", CFFProgram(true)),
       "pdftoppm"},
      {"codes swapped over WinAnsi",
       cff(32, "/Encoding << /BaseEncoding /WinAnsiEncoding /Differences [65 /B /A] >>", CFFProgram(false)),
       "pdftoppm"},
      {"symbolic, program's encoding under Differences",
       cff(4, "/Encoding << /Differences [65 /A] >>", CFFProgram(false, ownCodes)), "pdftoppm"},
      {"symbolic, program's encoding", cff(4, "", CFFProgram(true, ownCodes)), "pdftoppm"},
      {"renamed to a name of the program only by its standard string",
       cff(32, "/Encoding << /Differences [66 /A] >>", CFFProgram(true)), "pdftoppm"},
      {"nonsymbolic, program's encoding", cff(32, "", CFFProgram(false, ownCodes)), "pdftoppm"},
      {"symbolic, WinAnsi by name over the program's encoding",
       cff(4, "/Encoding /WinAnsiEncoding", CFFProgram(false, ownCodes)), "pdftoppm"},
      {"symbolic, WinAnsi base and Differences over the program's encoding",
       cff(4, "/Encoding << /BaseEncoding /WinAnsiEncoding /Differences [66 /A] >>", CFFProgram(false, ownCodes)),
       "pdftoppm"},
      {"predefined ISOAdobe charset, code 65 renamed",
       cff(32, "/Encoding << /Differences [65 /C] >>", CFFProgram(true, "", true)), "pdftoppm"},
  };
  for (const TFontCase& c : cases) ExpectLikePeer(c);
}
