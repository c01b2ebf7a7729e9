// Type 3 fonts built from installed outlines and fonts read back from
// font dictionaries: codes, glyph procedures with real outlines, advances
// that are the font's own, the ToUnicode map, standard-name matching and
// widths of hostile dictionaries.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "objects/PavonaStructure.h"
#include "NumberedPool.h"
#include "pages/PavonaFont.h"

namespace {

// A numbered pool whose Add answers a reference to the new object.
class FontDoc : public pagetest::NumberedPool {
public:
  TPDFIndRef* Add(int32_t n, const std::string& text) {
    NumberedPool::Add(n, text);
    return pool.NewIndRef(n, 0);
  }
};

TEST(PageEditFontNames, StandardNamesAreMatchedWhole) {
  const std::pair<const char*, int32_t> cases[] = {{"Helvetica", 5},
                                                   {"Arial", 5},
                                                   {"Arial,Bold", 6},
                                                   {"Arial,BoldMT,Bold", 6},
                                                   {"Arial-BoldMT", 6},
                                                   {"ArialBlack", 0},
                                                   {"Arial-Black", 0},
                                                   {"Helv", 0},
                                                   {"Courier", 1},
                                                   {"Courier-Bold", 2},
                                                   {"TimesNewRoman,Italic", 11},
                                                   {"Times-Roman", 9},
                                                   {"Symbol", 13},
                                                   {"ZapfDingbats", 14},
                                                   {"", 0},
                                                   {"*", 0}};
  for (const auto& [name, number] : cases) EXPECT_EQ(TPDFFont::StandardFontNumberOf(name), number) << name;
}

TEST(PageEditFontLoad, StandardSubstituteWithWinAnsiWidths) {
  FontDoc d;
  TPDFIndRef* ref = d.Add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Arial,Bold /Encoding /WinAnsiEncoding >>");
  TPDFFont font(&d.pool, "F1");
  font.LoadFromDictionary(ref);
  EXPECT_EQ(font.GetKind(), pdffkStandard);
  EXPECT_EQ(font.GetFirstCode(), 24);
  EXPECT_EQ(font.GetLastCode(), 255);
  EXPECT_EQ(font.GetCharWidth(u'A'), 722) << "Helvetica-Bold's A";
  EXPECT_EQ(font.GetCharWidth(u'i'), 278);
  EXPECT_EQ(font.EncodeTextW(u"Ab\u20AC"), std::string("Ab\x80"));
}

TEST(PageEditFontLoad, KindsMetricsAndWidthsFromTheDictionary) {
  FontDoc d;
  d.Add(7, "<< /Type /FontDescriptor /Ascent 900 /Descent -200 /FontBBox [-10 -200 1000 900] /FontFile2 8 0 R >>");
  TPDFIndRef* tt = d.Add(6,
                         "<< /Type /Font /Subtype /TrueType /BaseFont /Foo /FirstChar 65 /LastChar 67 "
                         "/Widths [500 600 700 800 900] /FontDescriptor 7 0 R /Encoding /WinAnsiEncoding >>");
  TPDFFont font(&d.pool, "F1");
  font.LoadFromDictionary(tt);
  EXPECT_EQ(font.GetKind(), pdffkTrueTypeEmbedded);
  EXPECT_EQ(font.GetAscent(), 900);
  EXPECT_EQ(font.GetDescent(), -200);
  EXPECT_EQ(font.GetBoxLeft(), -10);
  EXPECT_EQ(font.GetWidths(), (std::vector<int32_t>{500, 600, 700})) << "extra items ignored";
  EXPECT_EQ(font.GetCharWidth(u'B'), 600);
}

TEST(PageEditFontLoad, CompositeWidthsByCID) {
  FontDoc d;
  d.Add(11, "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Foo /W [ 3 [ 278 ] 10 20 500 ] >>");
  TPDFIndRef* ref = d.Add(10, "<< /Type /Font /Subtype /Type0 /BaseFont /Foo /DescendantFonts [ 11 0 R ] >>");
  TPDFFont font(&d.pool, "F1");
  font.LoadFromDictionary(ref);
  EXPECT_EQ(font.GetKind(), pdffkCIDType2);
  EXPECT_EQ(font.GetFirstCode(), 3);
  EXPECT_EQ(font.GetLastCode(), 20);
  EXPECT_EQ(font.GetCharWidth(15), 500);
  EXPECT_EQ(font.GetCharWidth(3), 278);
  EXPECT_EQ(font.GetCharWidth(5), 0);
}

TEST(PageEditFontLoad, HostileRangesNeverSizeTheWidths) {
  struct Case {
    const char* dict;
    size_t maxWidths;
  };
  const Case cases[] = {
      {"<< /Subtype /TrueType /FirstChar 0 /LastChar 1e15 /Widths [1 2 3] >>", 65536},
      {"<< /Subtype /TrueType /FirstChar 0 /LastChar -99999999 /Widths [1 2 3] >>", 0},
      {"<< /Subtype /TrueType /FirstChar 99999999999 /LastChar 3 /Widths [1 2 3] >>", 4},
      {"<< /Subtype /TrueType /FirstChar /A /LastChar (x) /Widths 5 >>", 0},
  };
  for (const Case& c : cases) {
    FontDoc d;
    TPDFFont font(&d.pool, "F1");
    font.LoadFromDictionary(d.Add(3, c.dict));
    EXPECT_LE(font.GetWidths().size(), c.maxWidths) << c.dict;
  }
  FontDoc d;
  d.Add(11, "<< /Subtype /CIDFontType0 /W [ 0 4000000000 500 7 [ 1 2 ] ] >>");
  TPDFFont font(&d.pool, "F1");
  font.LoadFromDictionary(d.Add(10, "<< /Subtype /Type0 /DescendantFonts [ 11 0 R ] >>"));
  EXPECT_LE(font.GetWidths().size(), 65536u) << "a range beyond 16-bit CIDs ends the reading";
}

TEST(PageEditType3, BuiltGlyphsHaveOutlinesAndTheFontsAdvances) {
  FontDoc d;
  TPDFFont built(&d.pool, "T3");
  ASSERT_TRUE(built.BuildFont("DejaVu Sans", 1, true, u"ABA"));
  EXPECT_EQ(built.GetKind(), pdffkType3Built);
  TPDFDictionary* dict = built.GetFontDictionary();
  ASSERT_NE(dict, nullptr);
  EXPECT_EQ(dict->GetInteger("FirstChar", -1), 65);
  EXPECT_EQ(dict->GetInteger("LastChar", -1), 66);
  TPDFDictionary* procs = dict->GetDictionary("CharProcs");
  ASSERT_NE(procs, nullptr);
  EXPECT_EQ(procs->GetCount(), 2) << "each character once";
  // The advances are those of the installed face, as its TrueType font says.
  TPDFFont reference(&d.pool, "TT");
  ASSERT_TRUE(reference.EmbedTrueTypeFont("DejaVu Sans", false, false, false));
  for (const char* name : {"Pavona0041", "Pavona0042"}) {
    TPDFStream* proc = PDFAsStream(procs->GetValue(name, true));
    ASSERT_NE(proc, nullptr) << name;
    const std::string text = proc->GetDecodedData();
    const char16_t ch = name[9] == '1' ? u'A' : u'B';
    EXPECT_EQ(text.rfind(std::to_string(reference.GetCharWidth(ch)) + " 0 ", 0), 0u) << text.substr(0, 40);
    EXPECT_NE(text.find(" d1\n"), std::string::npos);
    EXPECT_EQ(text.find("0 0 0 0 d1"), std::string::npos) << "the glyph has a box";
    EXPECT_NE(text.find(" m\n"), std::string::npos) << "the glyph has an outline";
    EXPECT_EQ(text.substr(text.size() - 2), "f\n");
  }
  EXPECT_EQ(built.GetCharWidth(u'A'), reference.GetCharWidth(u'A'));
  EXPECT_EQ(built.EncodeTextW(u"BA"), "BA");
  TPDFStream* toUnicode = PDFAsStream(dict->GetValue("ToUnicode", true));
  ASSERT_NE(toUnicode, nullptr);
  const std::string cmap = toUnicode->GetDecodedData();
  EXPECT_NE(cmap.find("\n/WMode 0 def\n"), std::string::npos);
  EXPECT_NE(cmap.find("<41> <0041>"), std::string::npos);
  EXPECT_NE(cmap.find("2 beginbfchar"), std::string::npos);
  const std::string encoding = dict->GetDictionary("Encoding")->GetValue("Differences")->WriteText();
  EXPECT_NE(encoding.find("65 /Pavona0041 /Pavona0042"), std::string::npos) << encoding;
}

TEST(PageEditType3, CharactersBeyondTheCodePageTakeTheHighestFreeCodes) {
  FontDoc d;
  TPDFFont built(&d.pool, "T3");
  ASSERT_TRUE(built.BuildFont("DejaVu Sans", 1, true, u"\u0416\u0429 "));
  EXPECT_EQ(built.EncodeTextW(u"\u0416"), "\xFF");
  EXPECT_EQ(built.EncodeTextW(u"\u0429"), "\xFE");
  EXPECT_EQ(built.EncodeTextW(u" "), " ");
  TPDFStream* space = PDFAsStream(built.GetFontDictionary()->GetDictionary("CharProcs")->GetValue("Pavona0020", true));
  ASSERT_NE(space, nullptr);
  EXPECT_NE(space->GetDecodedData().find("0 0 0 0 d1"), std::string::npos) << "a space draws nothing";
  EXPECT_GT(built.GetCharWidth(u' '), 0) << "but advances";
}

}  // namespace
