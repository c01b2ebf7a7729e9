// TPDFType1Decoder on small programs built here: the Type 1 reader (eexec,
// tokenizer names, Subrs, flex, hint replacement, seac, the Encoding array),
// Type 2 charstrings and the CFF reader, and the limits that keep damaged
// programs from looping, recursing without end or reading out of bounds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GlyphOutlineOracle.h"
#include "Type1TestSupport.h"
#include "render/PavonaType1.h"

using namespace glyphoracle;
using pvlrender::Type1Encrypt;

namespace {

// ---------------------------------------------------------------------------
// Type 1 builders

std::string Encrypt(std::string_view plain, uint16_t r, int lead = 4) {
  return Type1Encrypt(plain, r, std::string(static_cast<size_t>(lead), 'x'));
}

// Type 1 charstring number and operator encoding.
constexpr auto& N1 = pvlrender::Type1Number;
std::string Op(int code) {
  return std::string(1, static_cast<char>(code));
}
std::string Esc(int code) {
  return std::string("\x0c", 1) + static_cast<char>(code);
}

struct Type1Program {
  std::vector<std::pair<int, std::string>> subrs;  // declared index, plain charstring
  std::vector<std::pair<std::string, std::string>> glyphs;
  std::string rd = "RD", nd = "ND", np = "NP";
  std::string clearExtra;
  int lenIV = 4;
  int declaredSubrs = -1;

  std::string encode(const std::string& plain) const { return lenIV < 0 ? plain : Encrypt(plain, 4330, lenIV); }
  std::string clear() const {
    return "%!PS-AdobeFont-1.0: Test\n12 dict begin\n/FontName /Test def\n/FontMatrix [0.001 0 0 0.001 0 0] "
           "readonly def\n/FontBBox {0 -10 500 700} readonly def\n" +
           clearExtra + "currentdict end\ncurrentfile eexec\n";
  }
  std::string priv() const {
    std::string p = "dup /Private 8 dict dup begin\n/" + rd +
                    "{string currentfile exch readstring pop}executeonly def\n/" + nd +
                    "{noaccess def}executeonly def\n/" + np + "{noaccess put}executeonly def\n";
    if (lenIV != 4) p += "/lenIV " + std::to_string(lenIV) + " def\n";
    p += "/Subrs " + std::to_string(declaredSubrs >= 0 ? declaredSubrs : static_cast<int>(subrs.size())) + " array\n";
    for (const auto& [idx, cs] : subrs) {
      std::string e = encode(cs);
      p += "dup " + std::to_string(idx) + " " + std::to_string(e.size()) + " " + rd + " " + e + " " + np + "\n";
    }
    p += nd + "\n2 index /CharStrings " + std::to_string(glyphs.size()) + " dict dup begin\n";
    for (const auto& [name, cs] : glyphs) {
      std::string e = encode(cs);
      p += "/" + name + " " + std::to_string(e.size()) + " " + rd + " " + e + " " + nd + "\n";
    }
    return p +
           "end\nend\nreadonly put\nnoaccess put\ndup/FontName get exch definefont pop\nmark currentfile closefile\n";
  }
  void load(TPDFType1Decoder& dec) const {
    std::string c = clear(), e = Encrypt(priv(), 55665);
    std::string trailer = std::string(64, '0') + "\ncleartomark\n";
    ASSERT_TRUE(dec.SplitFontData(c + e + trailer, static_cast<int64_t>(c.size()), static_cast<int64_t>(e.size()),
                                  static_cast<int64_t>(trailer.size())));
    ASSERT_TRUE(dec.ParseCleartext());
    ASSERT_TRUE(dec.ParsePrivate());
  }
};

std::vector<std::string> Ops(const TPDFType1Decoder& dec) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < dec.GetOpList().GetCount(); ++i) out.push_back(dec.GetOpList().GetString(i));
  return out;
}

Outline Draw(TPDFType1Decoder& dec, const std::string& key) {
  RecordingCanvas canvas;
  dec.DrawGlyph(&canvas, IdentityMatrix, key, 0, 0);
  return canvas.Result();
}

}  // namespace

// ---------------------------------------------------------------------------
// Type 1

TEST(Type1Eexec, DecryptsWhatWasEncryptedAndHonoursOnlyAClearTextKeyword) {
  std::string plain = "/Private 8 dict dup begin";
  EXPECT_EQ(EexecDecrypt(55665, 4, Encrypt(plain, 55665)), plain);
  EXPECT_EQ(EexecDecrypt(55665, 4, "currentfile eexec\n" + Encrypt(plain, 55665)), plain);
  // Cipher text that happens to hold the keyword is decrypted from its first byte.
  std::string cipher = Encrypt(plain, 4330, 0);
  std::string tricky =
      "\x80\x01"
      "eexec" +
      cipher;
  EXPECT_EQ(EexecDecrypt(4330, 7,
                         Encrypt(std::string("\x80\x01"
                                             "eexec",
                                             7) +
                                     plain,
                                 4330, 0)),
            plain);
  EXPECT_NE(EexecDecrypt(4330, 0, tricky), cipher);
  // Lead counts at or beyond the data give nothing, never a read past the end.
  EXPECT_EQ(EexecDecrypt(4330, 4, "abc"), "");
  EXPECT_EQ(EexecDecrypt(4330, -3, ""), "");
}

TEST(Type1Split, LengthsAreCheckedAgainstTheData) {
  TPDFType1Decoder dec;
  EXPECT_FALSE(dec.SplitFontData("abcdef", 0, 3, 0));  // Length1 missing
  EXPECT_FALSE(dec.SplitFontData("abcdef", 2, -1, 0));
  EXPECT_TRUE(dec.SplitFontData("abcdef", 2, 3, 1));
  EXPECT_EQ(dec.GetClearText(), "ab");
  EXPECT_EQ(dec.GetEncryptedText(), "cde");
  EXPECT_EQ(dec.GetTrailerText(), "f");
  EXPECT_FALSE(dec.SplitFontData("abcdef", 4, 1000000000000LL, 5));
  EXPECT_EQ(dec.GetEncryptedText(), "ef");
  EXPECT_EQ(dec.GetTrailerText(), "");
}

TEST(Type1Program, OwnProcedureNamesAndOutOfOrderSubrsReadLikeRDAndND) {
  for (const auto& names : std::vector<std::array<std::string, 3>>{{"RD", "ND", "NP"}, {"-|", "|-", "|"}}) {
    Type1Program p;
    p.rd = names[0];
    p.nd = names[1];
    p.np = names[2];
    p.subrs = {{1, N1(5) + N1(7) + Op(5) + Op(11)}, {0, N1(1) + N1(2) + Op(5) + Op(11)}};
    p.glyphs = {
        {"A", N1(10) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(1) + Op(10) + N1(0) + Op(10) + Op(9) + Op(14)}};
    TPDFType1Decoder dec;
    p.load(dec);
    EXPECT_EQ(dec.GetRDName(), names[0]);
    EXPECT_EQ(dec.GetNDName(), names[1]);
    ASSERT_EQ(dec.GetGlyphNames().GetCount(), 1);
    ASSERT_TRUE(dec.BuildGlyphOps("A"));
    EXPECT_EQ(Ops(dec), (std::vector<std::string>{"hsbw(10,500)", "rmoveto(0,0)", "rlineto(5,7)", "rlineto(1,2)",
                                                  "closepath", "endchar"}));
  }
}

TEST(Type1Program, EncodingArrayAndBoundingBoxFromTheClearText) {
  Type1Program p;
  p.clearExtra =
      "/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\ndup 65 /Alpha put\ndup 32 /space put\n"
      "readonly def\n";
  p.glyphs = {{"space", N1(0) + N1(250) + Op(13) + Op(14)}};
  TPDFType1Decoder dec;
  p.load(dec);
  TPDFGlyphNames enc;
  dec.GetEncoding(enc);
  EXPECT_EQ(enc[65], "Alpha");
  EXPECT_EQ(enc[32], "space");
  EXPECT_EQ(enc[66], "B");  // other codes keep the standard names
  ASSERT_NE(dec.GetFontBBox(), nullptr);
  EXPECT_EQ(dec.GetFontBBox()->GetCount(), 4);
}

TEST(Type1Charstrings, FlexHintReplacementAndSeac) {
  Type1Program p;
  // Subrs 0..3 as the standard flex and hint-replacement procedures.
  p.subrs = {{0, N1(3) + N1(0) + Esc(16) + Esc(17) + Esc(17) + Esc(33) + Op(11)},
             {1, N1(0) + N1(1) + Esc(16) + Op(11)},
             {2, N1(0) + N1(2) + Esc(16) + Op(11)},
             {3, N1(3) + Op(11)},
             {4, N1(0) + N1(100) + Op(1) + Op(11)}};
  std::string flex = N1(1) + Op(10);  // flex start
  int moves[7][2] = {{10, 0}, {5, 5}, {5, 5}, {5, -5}, {5, -5}, {5, 5}, {5, 5}};
  for (auto& m : moves) flex += N1(m[0]) + N1(m[1]) + Op(21) + N1(2) + Op(10);
  flex += N1(50) + N1(140) + N1(20) + N1(0) + Op(10);  // height, end point, flex end
  p.glyphs = {
      {"F", N1(0) + N1(600) + Op(13) + N1(100) + N1(20) + Op(21) + flex + N1(4) + N1(1) + N1(3) + Esc(16) + Esc(17) +
                Op(10) + Op(9) + Op(14)},
      {"A", N1(20) + N1(600) + Op(13) + N1(0) + N1(0) + Op(21) + N1(100) + Op(6) + N1(100) + Op(7) + Op(9) + Op(14)},
      {"grave", N1(5) + N1(300) + Op(13) + N1(0) + N1(600) + Op(21) + N1(50) + Op(6) + Op(9) + Op(14)},
      {"Agrave", N1(20) + N1(600) + Op(13) + N1(5) + N1(30) + N1(40) + N1(65) + N1(193) + Esc(6)}};
  TPDFType1Decoder dec;
  p.load(dec);
  ASSERT_TRUE(dec.BuildGlyphOps("F"));
  std::vector<std::string> ops = Ops(dec);
  auto at = std::find(ops.begin(), ops.end(), "flex(10,0,5,5,5,5,5,-5,5,-5,5,5,5,5)");
  ASSERT_NE(at, ops.end()) << ::testing::PrintToString(ops);
  ASSERT_NE(at + 1, ops.end());
  EXPECT_EQ(*(at + 1), "setcurrentpoint(140,20)");
  // Hint replacement calls Subrs 3 (whose hstem stays out: entry 4 is only its argument).
  EXPECT_NE(std::find(ops.begin(), ops.end(), "4"), ops.end());
  Outline f = Draw(dec, "F");
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].segs.size(), 3u);  // two flex curves and the closing line
  EXPECT_DOUBLE_EQ(f[0].segs[1].x, 140);

  ASSERT_TRUE(dec.BuildGlyphOps("Agrave"));
  ops = Ops(dec);
  auto seac = std::find(ops.begin(), ops.end(), "seac(5,30,40)");
  ASSERT_NE(seac, ops.end()) << ::testing::PrintToString(ops);
  EXPECT_EQ(ops.back(), "endchar");
  Outline agrave = Draw(dec, "Agrave");
  ASSERT_EQ(agrave.size(), 2u);
  EXPECT_DOUBLE_EQ(agrave[1].sx, 20 + 30);  // base side bearing + adx; the accent's hsbw does not move it
  EXPECT_DOUBLE_EQ(agrave[1].sy, 40 + 600);
}

TEST(Type1Charstrings, RecursionAndBadIndexesEndQuietly) {
  Type1Program p;
  p.subrs = {{0, N1(0) + Op(10) + N1(1) + N1(1) + Op(5) + Op(11)}, {1, N1(99) + Op(10) + Op(11)}};
  p.glyphs = {{"R", N1(0) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(0) + Op(10) + N1(1) + Op(10) + N1(-5) +
                        Op(10) + N1(40) + Esc(21) + N1(1) + N1(99) + Esc(20) + Op(14)},
              {"S", N1(0) + N1(500) + Op(13) + N1(0) + N1(0) + N1(0) + N1(200) + N1(201) + Esc(6)}};
  TPDFType1Decoder dec;
  p.load(dec);
  ASSERT_TRUE(dec.BuildGlyphOps("R"));
  // The self-calling Subrs entry is cut at the depth limit: one line per level entered.
  std::vector<std::string> ops = Ops(dec);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "rlineto(1,1)"), kType1MaxDepth - 1);
  EXPECT_EQ(ops.back(), "endchar");
  // seac with a code that has no standard name adds nothing.
  ASSERT_TRUE(dec.BuildGlyphOps("S"));
  EXPECT_EQ(Ops(dec), std::vector<std::string>{"hsbw(0,500)"});
  // Unknown glyph: false, empty outline, and false again from the cache.
  RecordingCanvas canvas;
  EXPECT_FALSE(dec.DrawGlyph(&canvas, IdentityMatrix, "nosuch", 0, 0));
  EXPECT_FALSE(dec.DrawGlyph(&canvas, IdentityMatrix, "nosuch", 0, 0));
  EXPECT_TRUE(canvas.Result().empty());
}

TEST(Type1Charstrings, SubrsCountAndLengthsFromTheProgramAreChecked) {
  Type1Program p;
  p.declaredSubrs = 1000000;  // far more than present
  p.subrs = {{0, N1(3) + N1(4) + Op(5) + Op(11)}};
  p.glyphs = {{"A", N1(0) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(0) + Op(10) + Op(14)}};
  p.lenIV = -1;
  TPDFType1Decoder dec;
  p.load(dec);
  ASSERT_TRUE(dec.BuildGlyphOps("A"));
  EXPECT_EQ(Ops(dec)[2], "rlineto(3,4)");
  EXPECT_EQ(dec.GetType1Subr(-1), "");
  EXPECT_EQ(dec.GetType1Subr(7), "");
  // An RD count beyond the data takes what is there and stops.
  std::string priv = "/Subrs 1 array dup 0 999999 RD abc";
  TPavonaStringList tokens;
  TPDFType1Decoder dec2;
  dec2.Tokenize(priv, tokens);
  EXPECT_EQ(dec2.GetLocalSubrs().GetCount(), 1);
  EXPECT_EQ(dec2.GetLocalSubrs().GetString(0), "abc");  // after the one separator byte
}

// ---------------------------------------------------------------------------
// CFF programs (built by CFFFont of Type1TestSupport.h)

namespace {

using namespace pvlrender::cfftest;

std::string Box(int w) {  // width, then a 100-unit square
  return T2(w) + T2(0) + T2(0) + "\x15" + T2(100) + "\x06" + T2(100) + "\x07" + T2(-100) + "\x06" + "\x0e";
}

}  // namespace

TEST(CFFReader, NamesWidthsAndHeaderSize) {
  for (int header : {4, 5}) {
    CFFFont f;
    f.headerSize = header;
    f.glyphs = {"\x0e", Box(20), Box(30)};
    f.sids = {"alpha", "beta"};
    f.topExtra = D(600) + "\x0c\x14";  // an operator the reader ignores (SyntheticBase, Top DICT only)
    TPDFType1Decoder dec;
    ASSERT_TRUE(dec.LoadCFFData(f.build()));
    ASSERT_EQ(dec.GetGlyphNames().GetCount(), 3) << header;
    EXPECT_EQ(dec.GetGlyphNames().GetString(1), "alpha");
    EXPECT_EQ(dec.GetCharStringType(), 2);
    Outline o = Draw(dec, "beta");
    ASSERT_EQ(o.size(), 1u);
    EXPECT_EQ(o[0].segs.size(), 4u);
    EXPECT_DOUBLE_EQ(dec.GetLastType2Width(), 30);  // nominalWidthX 0
    EXPECT_EQ(Ops(dec).front(), "hsbw(0,0)");
  }
}

TEST(CFFReader, NoticeWithParenthesesRealsAndShortIntegersKeepTheFont) {
  CFFFont f;
  f.glyphs = {"\x0e", Box(0)};
  f.strings = {"Copyright (c) Foo) Bar\\"};
  // Notice = SID 391; FontMatrix [0.001 0 0 0.001 0 0] with 0.001 as the nibbles 0 a 0 0 1 f;
  // FontBBox with 28 FF 38 (-200).
  std::string real = std::string("\x1e\x0a\x00\x1f", 4);
  f.topExtra = D(391) + "\x01" + real + D(0) + D(0) + real + D(0) + D(0) + "\x0c\x07" + std::string("\x1c\xff\x38", 3) +
               D(0) + D(500) + D(700) + "\x05";
  TPDFType1Decoder dec;
  ASSERT_TRUE(dec.LoadCFFData(f.build()));
  ASSERT_EQ(dec.GetGlyphNames().GetCount(), 2);
  TPDFString* notice = dec.GetFontDictionary()->GetString("Notice");
  ASSERT_NE(notice, nullptr);
  EXPECT_EQ(notice->GetValue(), "Copyright (c) Foo) Bar\\");
  EXPECT_DOUBLE_EQ(dec.GetGlyphScale(), 1.0);
  ASSERT_NE(dec.GetFontBBox(), nullptr);
  ASSERT_EQ(dec.GetFontBBox()->GetCount(), 4);
  EXPECT_DOUBLE_EQ(PDFAsNumeric(dec.GetFontBBox()->GetItem(0))->GetValue(), -200);
}

TEST(CFFReader, EncodingSupplementsAddCodesForEncodedGlyphs) {
  struct Case {
    std::string bytes;
    std::vector<std::pair<int, std::string>> expect;
  } cases[] = {
      // Format 0 with the supplement flag: code 65 for glyph 1, then code 66 for "beta" (SID 392).
      {std::string("\x80\x01\x41\x01\x42\x01\x88", 7), {{65, "alpha"}, {66, "beta"}, {67, ".notdef"}}},
      // Format 1 (one range of two codes from 97) with two supplements, one a standard string (SID 34, "A").
      {std::string("\x81\x01\x61\x01\x02\x41\x00\x22\x42\x01\x88", 11),
       {{97, "alpha"}, {98, "beta"}, {65, "A"}, {66, "beta"}}},
      // Without the flag nothing after the codes is read.
      {std::string("\x00\x01\x41\x01\x42\x01\x88", 7), {{65, "alpha"}, {66, ".notdef"}}},
      // Supplements cut short by the end of the data stay in bounds.
      {std::string("\x80\x01\x41\xff\x42", 5), {{65, "alpha"}}},
  };
  for (const Case& c : cases) {
    CFFFont f;
    f.glyphs = {"\x0e", Box(20), Box(30)};
    f.sids = {"alpha", "beta"};
    f.encoding = c.bytes;
    TPDFType1Decoder dec;
    ASSERT_TRUE(dec.LoadCFFData(f.build()));
    TPDFGlyphNames names;
    dec.GetEncoding(names);
    for (const auto& [code, name] : c.expect) EXPECT_EQ(names[static_cast<size_t>(code)], name) << code;
  }
}

TEST(CFFReader, CIDKeyedGlyphsByCIDOrByGlyphIndex) {
  // Glyph 1 has CID 2 and glyph 2 CID 1 (ROS Adobe-Identity-0 makes the font CID-keyed).
  CFFFont f;
  f.glyphs = {"\x0e", Box(20), T2(30) + T2(0) + T2(0) + "\x15" + T2(300) + "\x06" + T2(50) + "\x07\x0e"};
  f.cids = {2, 1};
  f.topExtra = D(391) + D(392) + D(0) + "\x0c\x1e";
  for (bool byIndex : {false, true}) {
    TPDFType1Decoder dec;
    dec.GlyphIndexKeys = byIndex;
    ASSERT_TRUE(dec.LoadCFFData(f.build()));
    ASSERT_TRUE(dec.IsCIDKeyed());
    // "GID:1": the glyph of CID 1 (glyph 2, 300 wide) in a CIDFontType0C font;
    // glyph 1 itself (100 wide) where the key is a glyph index (a CIDFontType2
    // whose program is OpenType CFF, its CIDs already mapped to glyph indexes).
    Outline o = Draw(dec, "GID:1");
    ASSERT_EQ(o.size(), 1u) << byIndex;
    double right = 0;
    for (const auto& seg : o[0].segs) right = std::max(right, seg.x);
    EXPECT_DOUBLE_EQ(right, byIndex ? 100 : 300) << byIndex;
    EXPECT_TRUE(dec.DrawGlyph(nullptr, IdentityMatrix, "CID:2", 0, 0));
  }
}

TEST(CFFReader, FontMatrixScale) {
  CFFFont f;
  f.glyphs = {"\x0e", Box(0)};
  std::string half = std::string("\x1e\x0a\x00\x05\xff", 5);  // 0.0005
  f.topExtra = half + D(0) + D(0) + half + D(0) + D(0) + "\x0c\x07";
  TPDFType1Decoder dec;
  ASSERT_TRUE(dec.LoadCFFData(f.build()));
  EXPECT_DOUBLE_EQ(dec.GetGlyphScale(), 0.5);
  Outline o = Draw(dec, "GID:1");
  ASSERT_EQ(o.size(), 1u);
  EXPECT_DOUBLE_EQ(o[0].segs[0].x, 50);
}

TEST(Type2Charstrings, SubroutineBiasFollowsTheListSize) {
  for (int count : {1239, 1240}) {
    CFFFont f;
    f.localSubrs.assign(static_cast<size_t>(count), std::string("\x0b"));
    int bias = count < 1240 ? 107 : 1131;
    f.localSubrs[0] = T2(7) + "\x06\x0b";
    f.glyphs = {"\x0e", T2(0) + T2(0) + "\x15" + T2(-bias) + "\x0a" + "\x0e"};
    TPDFType1Decoder dec;
    ASSERT_TRUE(dec.LoadCFFData(f.build()));
    ASSERT_TRUE(dec.BuildGlyphOps("GID:1"));
    EXPECT_EQ(Ops(dec), (std::vector<std::string>{"hsbw(0,0)", "rmoveto(0,0)", "rlineto(7,0)", "endchar"})) << count;
  }
}

TEST(Type2Charstrings, HintMasksCountStemsFromSubroutines) {
  CFFFont f;
  std::string stems;
  for (int i = 0; i < 6; ++i) stems += T2(10 * i) + T2(5);
  f.localSubrs = {stems + "\x01\x0b"};  // six hstems in a subroutine
  std::string vstems;
  for (int i = 0; i < 4; ++i) vstems += T2(10 * i) + T2(5);
  f.glyphs = {"\x0e", T2(-107) + "\x0a" + vstems + std::string("\x13\xa5\xc0", 3) + T2(0) + T2(0) + "\x15" +
                          "\x14\xff\xff" + "\x0e"};
  TPDFType1Decoder dec;
  ASSERT_TRUE(dec.LoadCFFData(f.build()));
  ASSERT_TRUE(dec.BuildGlyphOps("GID:1"));
  std::vector<std::string> ops = Ops(dec);
  EXPECT_NE(std::find(ops.begin(), ops.end(), "hintmask(1,0,1,0,0,1,0,1,1,1)"), ops.end())
      << ::testing::PrintToString(ops);
  EXPECT_NE(std::find(ops.begin(), ops.end(), "cntrmask(1,1,1,1,1,1,1,1,1,1)"), ops.end());
  EXPECT_EQ(ops.back(), "endchar");  // the mask bytes were passed over, not read as operators
}

TEST(Type2Charstrings, FlexFamilyAndEndcharComposite) {
  CFFFont f;
  f.sids = {"A", "grave", "H"};
  std::string hflex = T2(0) + T2(0) + "\x15" + T2(10) + T2(10) + T2(20) + T2(10) + T2(10) + T2(10) + T2(10) +
                      std::string("\x0c\x22", 2) + "\x0e";
  f.glyphs = {"\x0e", Box(0), T2(0) + T2(50) + "\x15" + T2(30) + "\x06\x0e", hflex};
  TPDFType1Decoder dec;
  ASSERT_TRUE(dec.LoadCFFData(f.build()));
  Outline h = Draw(dec, "H");
  ASSERT_EQ(h.size(), 1u);
  ASSERT_GE(h[0].segs.size(), 2u);
  EXPECT_DOUBLE_EQ(h[0].segs[1].y, h[0].sy);  // hflex ends at the y it started from
  EXPECT_DOUBLE_EQ(h[0].segs[1].x, 60);

  // endchar with four operands: A (code 65) with grave (code 193) at (200, 300).
  CFFFont g = f;
  g.glyphs.push_back(T2(200) + T2(300) + T2(65) + T2(193) + "\x0e");
  g.sids.push_back("Agrave");
  TPDFType1Decoder dec2;
  ASSERT_TRUE(dec2.LoadCFFData(g.build()));
  ASSERT_TRUE(dec2.BuildGlyphOps("Agrave"));
  std::vector<std::string> ops = Ops(dec2);
  EXPECT_NE(std::find(ops.begin(), ops.end(), "seac(0,200,300)"), ops.end()) << ::testing::PrintToString(ops);
  EXPECT_EQ(ops.back(), "endchar");
  Outline a = Draw(dec2, "Agrave");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_DOUBLE_EQ(a[1].sx, 200);
  EXPECT_DOUBLE_EQ(a[1].sy, 350);
}

TEST(Type2Charstrings, StackAndNestingAreBounded) {
  CFFFont f;
  f.localSubrs = {T2(-107) + "\x0a" + T2(1) + T2(1) + "\x05\x0b"};  // calls itself
  std::string many;
  for (int i = 0; i < 200; ++i) many += T2(1);
  f.glyphs = {"\x0e", T2(0) + T2(0) + "\x15" + T2(-107) + "\x0a\x0e", many + "\x05\x0e"};
  TPDFType1Decoder dec;
  ASSERT_TRUE(dec.LoadCFFData(f.build()));
  ASSERT_TRUE(dec.BuildGlyphOps("GID:1"));
  std::vector<std::string> ops = Ops(dec);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "rlineto(1,1)"), kType2MaxSubrDepth);
  // 200 operands: the translation stops at the stack limit, before any line.
  ASSERT_TRUE(dec.BuildGlyphOps("GID:2"));
  EXPECT_EQ(Ops(dec), std::vector<std::string>{"hsbw(0,0)"});
}

// A subroutine calling itself several times at each level: nesting limits
// alone allow 6^10 (Type 2) and 6^19 (Type 1) calls. The per-glyph budget
// ends the translation with a bounded op list, and the next glyph works.
TEST(Charstrings, BranchingSubroutinesStopAtTheGlyphBudget) {
  std::string t2Body = T2(1) + T2(1) + "\x05";
  for (int k = 0; k < 6; ++k) t2Body += T2(-107) + "\x0a";
  CFFFont f;
  f.localSubrs = {t2Body + "\x0b"};
  f.glyphs = {"\x0e", T2(0) + T2(0) + "\x15" + T2(-107) + "\x0a\x0e", Box(500)};
  TPDFType1Decoder cff;
  ASSERT_TRUE(cff.LoadCFFData(f.build()));
  ASSERT_TRUE(cff.BuildGlyphOps("GID:1"));
  EXPECT_LE(cff.GetOpList().GetCount(), kCharStringMaxSteps);
  EXPECT_GT(cff.GetOpList().GetCount(), 1000);
  EXPECT_EQ(Draw(cff, "GID:2").size(), 1u);

  std::string t1Body = N1(1) + N1(1) + Op(5);
  for (int k = 0; k < 6; ++k) t1Body += N1(0) + Op(10);
  Type1Program p;
  p.subrs = {{0, t1Body + Op(11)}};
  p.glyphs = {{"B", N1(0) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(0) + Op(10) + Op(14)},
              {"C", N1(0) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(10) + N1(0) + Op(5) + Op(9) + Op(14)}};
  TPDFType1Decoder t1;
  p.load(t1);
  ASSERT_TRUE(t1.BuildGlyphOps("B"));
  EXPECT_LE(t1.GetOpList().GetCount(), kCharStringMaxSteps);
  EXPECT_GT(t1.GetOpList().GetCount(), 1000);
  ASSERT_TRUE(t1.BuildGlyphOps("C"));
  EXPECT_EQ(Ops(t1).back(), "endchar");
}

// Operators short of operands take nothing from the ops already written: the
// op list never splices operator texts into later ones.
TEST(Type1Charstrings, MissingOperandsLeaveEarlierOpsAlone) {
  Type1Program p;
  p.lenIV = -1;
  p.subrs = {{0, Op(21) + N1(0) + Op(10) + Op(11)}};  // rmoveto without operands, then calls itself
  p.glyphs = {{"M", N1(0) + N1(500) + Op(13) + N1(5) + N1(6) + Op(5) + Op(5) + Op(8) + Op(14)},
              {"L", N1(0) + N1(500) + Op(13) + N1(0) + Op(10) + Op(14)}};
  TPDFType1Decoder dec;
  p.load(dec);
  ASSERT_TRUE(dec.BuildGlyphOps("M"));
  EXPECT_EQ(Ops(dec),
            (std::vector<std::string>{"hsbw(0,500)", "rlineto(5,6)", "rlineto(,)", "rrcurveto(,,,,,) rr", "endchar"}));
  ASSERT_TRUE(dec.BuildGlyphOps("L"));
  for (const std::string& op : Ops(dec)) EXPECT_LT(op.size(), 40u) << op.substr(0, 80);
}

TEST(CFFReader, DamagedIndexesCharsetsAndOffsetsStayInBounds) {
  CFFFont f;
  f.glyphs = {"\x0e", Box(0), Box(0)};
  std::string good = f.build();
  // Every truncation and a sweep of single-byte changes: no crash, no hang,
  // and never more glyphs than the CharStrings INDEX could hold.
  for (size_t cut = 0; cut < good.size(); cut += 3) {
    TPDFType1Decoder dec;
    dec.LoadCFFData(good.substr(0, cut));
    EXPECT_LE(dec.GetGlyphNames().GetCount(), 3);
    Draw(dec, "GID:1");
  }
  for (size_t at = 0; at < good.size(); ++at) {
    for (int v : {0x00, 0x05, 0x7f, 0xff}) {
      std::string bad = good;
      bad[at] = static_cast<char>(v);
      TPDFType1Decoder dec;
      dec.LoadCFFData(bad);
      for (int g = 0; g < dec.GetGlyphNames().GetCount() && g < 4; ++g) Draw(dec, "GID:" + std::to_string(g));
    }
  }
  // An INDEX with count 0 is two bytes; offset size 0 ends the reading.
  TPDFType1Decoder dec;
  EXPECT_TRUE(dec.LoadCFFData(std::string("\x01\x00\x04\x01\x00\x00\x00\x01\x00", 9)));
  EXPECT_EQ(dec.GetGlyphNames().GetCount(), 0);
  // OpenType without a "CFF " table: false.
  std::string otto = std::string("OTTO\x00\x01\x00\x00\x00\x00\x00\x00", 12) + "glyf" + std::string(12, '\0');
  EXPECT_FALSE(dec.LoadCFFData(otto));
}

TEST(CFFReader, OpenTypeWrapperReadsLikeTheBareTable) {
  CFFFont f;
  f.glyphs = {"\x0e", Box(0), Box(5)};
  std::string bare = f.build();
  std::string otf = std::string("OTTO\x00\x01\x00\x00\x00\x00\x00\x00", 12) + "CFF " + std::string(4, '\0');
  uint32_t off = 28, len = static_cast<uint32_t>(bare.size());
  for (uint32_t v : {off, len})
    for (int k = 24; k >= 0; k -= 8) otf += static_cast<char>((v >> k) & 0xFF);
  otf += bare;
  TPDFType1Decoder a, b;
  ASSERT_TRUE(a.LoadCFFData(bare));
  ASSERT_TRUE(b.LoadCFFData(otf));
  ASSERT_EQ(a.GetGlyphNames().GetCount(), b.GetGlyphNames().GetCount());
  for (int g = 0; g < 3; ++g) {
    std::string key = "GID:" + std::to_string(g);
    EXPECT_EQ(Compare(Draw(a, key), Draw(b, key), 0), "");
  }
}

TEST(Type1Rasterizer, StreamLengthsThroughTheLookupAndDrawingThroughTheInterface) {
  Type1Program p;
  p.glyphs = {
      {"A", N1(10) + N1(500) + Op(13) + N1(0) + N1(0) + Op(21) + N1(100) + Op(6) + N1(100) + Op(7) + Op(9) + Op(14)}};
  std::string c = p.clear(), e = Encrypt(p.priv(), 55665);
  TPDFStructure pool;
  TPDFDictionary* dict = pool.NewDictionary();
  dict->SetValue("Length1", pool.NewIndRef(7, 0));
  dict->SetValue("Length2", pool.NewNumeric(static_cast<double>(e.size())));
  TPDFStream* stream = pool.NewStreamWith(c + e, dict);
  TPDFType1Decoder dec;
  int lookups = 0;
  dec.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
    ++lookups;
    return number == 7 ? pool.NewNumeric(static_cast<double>(c.size())) : nullptr;
  };
  ASSERT_TRUE(dec.SplitFontFile(stream));
  EXPECT_EQ(lookups, 1);
  ASSERT_TRUE(dec.ParseCleartext());
  ASSERT_TRUE(dec.ParsePrivate());
  TPDFFontRasterizer& r = dec;
  RecordingCanvas canvas;
  // Glyph point (10, 0) moved by (5, 0), then scaled by 2 and shifted by (1, 1).
  EXPECT_TRUE(r.DrawGlyph(&canvas, TPDFMatrix{2, 0, 0, 2, 1, 1}, "A", 5, 0));
  EXPECT_DOUBLE_EQ(r.GetGlyphScale(), 1.0);
  Outline o = canvas.Result();
  ASSERT_EQ(o.size(), 1u);
  EXPECT_DOUBLE_EQ(o[0].sx, 31);
  EXPECT_DOUBLE_EQ(o[0].sy, 1);
  EXPECT_FALSE(r.DrawGlyph(&canvas, IdentityMatrix, "B", 0, 0));
}

TEST(CFFReader, StringIdsOutsideTheStringRangeNameNoString) {
  // Notice given as the real 1E19, as -5 and as a SID past the strings: none names a string, the font stays.
  for (const std::string& operand : {std::string("\x1e\x1b\x19\xff", 4), D(-5), D(70000)}) {
    CFFFont f;
    f.glyphs = {"\x0e", Box(0)};
    f.topExtra = operand + "\x01";
    TPDFType1Decoder dec;
    ASSERT_TRUE(dec.LoadCFFData(f.build()));
    EXPECT_EQ(dec.GetGlyphNames().GetCount(), 2);
    TPDFString* notice = dec.GetFontDictionary()->GetString("Notice");
    if (notice) {
      EXPECT_EQ(notice->GetValue(), "");
    }
  }
}
