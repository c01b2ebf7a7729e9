// Writer fonts: standard 14 dictionaries, code maps and widths, installed
// TrueType fonts with code pages, and the fonts as pdffonts and pdftotext see
// them in a file written through the painter.
#include <gtest/gtest.h>

#include "PainterTestSupport.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace {

using pvltest::TTestPdf;

TEST(WriterFont, StandardFontDictionaryCodesAndWidths) {
  TTestPdf pdf;
  TPDFFont helvetica(&pdf.pool, "PavonaF00000001");
  helvetica.CreateStandardFont("Helvetica", 5);
  ASSERT_NE(helvetica.GetReference(), nullptr);
  EXPECT_EQ(helvetica.GetKind(), pdffkStandard);
  TPDFDictionary* dict = helvetica.GetFontDictionary();
  EXPECT_EQ(dict->GetNameValue("Subtype"), "Type1");
  EXPECT_EQ(dict->GetNameValue("BaseFont"), "Helvetica");
  EXPECT_EQ(dict->GetNameValue("Encoding"), "WinAnsiEncoding");
  EXPECT_EQ(dict->GetValue("Widths"), nullptr);
  EXPECT_EQ(helvetica.GetCharWidth(u'A'), 667);
  EXPECT_EQ(helvetica.GetCharWidth(u' '), 278);
  EXPECT_EQ(helvetica.GetCharWidth(0x20AC), 556);  // Euro at 128
  EXPECT_EQ(helvetica.GetAscent(), 718);
  EXPECT_EQ(helvetica.GetBoxTop(), 931);
  EXPECT_EQ(helvetica.EncodeTextW(u"a\u00E9\u20AC\u0416"), "a\xE9\x80");  // Cyrillic has no code
  EXPECT_EQ(FilterMappedChars(helvetica, u"x\u0416y"), u"xy");
  EXPECT_EQ(helvetica.EncodeText(u"\u00E9\u0416"), "\xE9?");

  TPDFFont symbol(&pdf.pool, "PavonaF00000002");
  symbol.CreateStandardFont("Symbol", 13);
  EXPECT_EQ(symbol.EncodeTextW(u"\u03B1\u03B2"), "ab");
  EXPECT_EQ(symbol.GetCharWidth(0x03B1), 631);
  EXPECT_EQ(symbol.GetFontDictionary()->GetValue("Encoding"), nullptr);

  TPDFFont times(&pdf.pool, "PavonaF00000003");
  times.CreateStandardFont("Times-Bold", 10);
  EXPECT_EQ(times.GetCharWidth(u'A'), 722);
  EXPECT_EQ(times.GetDescent(), -205);
}

TEST(WriterFont, WidthLookupSortsBeforeSearching) {
  TPavonaWidthLookup lookup;
  lookup.SetWidth(0x0431, 500);
  lookup.SetWidth(0x0041, 600);
  EXPECT_EQ(lookup.GetWidth(0x0041), 600);
  EXPECT_EQ(lookup.GetWidth(0x0431), 500);
  EXPECT_EQ(lookup.GetWidth(0x0042), 0);
  for (int i = 3000; i > 0; --i) lookup.SetWidth(static_cast<uint16_t>(0x1000 + i), i);
  EXPECT_EQ(lookup.GetWidth(0x1000 + 1234), 1234);
  EXPECT_EQ(lookup.GetCount(), 3002);
}

TEST(WriterFont, CodePageDifferencesAndCMaps) {
  EXPECT_EQ(CodePageDifferences(1252), "[ 128 /Euro 142 /Zcaron 149 /bullet 153 /trademark 158 /zcaron 160 /space ]");
  const std::string turkish = CodePageDifferences(1254);
  EXPECT_EQ(turkish.substr(0, 50), "[ 128 /Euro 149 /bullet 153 /trademark 160 /space ");
  EXPECT_NE(turkish.find(" 253 /dotlessi "), std::string::npos);
  EXPECT_TRUE(CodePageDifferences(874).empty());
  EXPECT_EQ(CodePageToCharset(1251), 204);
  EXPECT_EQ(CodePageToCharset(12345), 1);
  EXPECT_EQ(CodePageToUnicode(1251)[0xC0], u'\u0410');

  TTestPdf pdf;
  TPDFFont font(&pdf.pool, "PavonaF00000001");
  TPDFArray* differences = PDFAsArray(pdf.pool.ParseObject("[ 65 /Alpha /uni0416 200 /uni0417 ]"));
  font.ApplyDifferences("WinAnsiEncoding", differences);
  EXPECT_EQ(font.EncodeTextW(u"\u0391\u0416\u0417C"), std::string("AB\xC8") + "C");
  const std::string cmap = font.WriteToUnicodeCMap("WinAnsiEncoding", differences);
  EXPECT_NE(cmap.find("3 beginbfchar\n<41> <0391>\n<42> <0416>\n<C8> <0417>\nendbfchar"), std::string::npos);
  EXPECT_EQ(cmap.substr(0, 38), "/CIDInit /ProcSet findresource begin\n1");
}

TEST(WriterFont, InstalledTrueTypeNamesStylesAndCodePages) {
  TTestPdf pdf;
  struct Case {
    std::string name;
    std::string baseFont;
    bool encodingDictionary, differences, toUnicode;
  };
  const std::vector<Case> cases = {
      {"Arial [Bold] {1251}", "Arial,Bold", true, true, true},
      {"Times New Roman", "TimesNewRoman", false, false, false},
      {"Arial {874}", "Arial", true, false, false},
      {"Arial [Bold] [Italic]", "Arial,Italic", false, false, false},
      {"Arial {1251", "Arial{1251", false, false, false},
  };
  for (const Case& c : cases) {
    TPDFFont font(&pdf.pool, "PavonaF0000000A");
    ASSERT_TRUE(font.EmbedTrueTypeFont(c.name, false, false, false)) << c.name;
    EXPECT_EQ(font.GetKind(), pdffkTrueType);
    TPDFDictionary* dict = font.GetFontDictionary();
    EXPECT_EQ(dict->GetNameValue("BaseFont"), c.baseFont) << c.name;
    EXPECT_EQ(dict->GetDictionary("Encoding") != nullptr, c.encodingDictionary) << c.name;
    if (!c.encodingDictionary) {
      EXPECT_EQ(dict->GetNameValue("Encoding"), "WinAnsiEncoding");
    }
    if (TPDFDictionary* enc = dict->GetDictionary("Encoding")) {
      EXPECT_EQ(enc->GetValue("Differences") != nullptr, c.differences) << c.name;
    }
    EXPECT_EQ(dict->GetValue("ToUnicode") != nullptr, c.toUnicode) << c.name;
    EXPECT_LE(font.GetDescent(), 0);
    EXPECT_GT(font.GetAscent(), 500);
    EXPECT_GT(font.GetCharWidth(u'W'), font.GetCharWidth(u'i'));
  }
}

TEST(WriterFont, EmbeddedFontsAndTextReachThePeerTools) {
  if (!pvltest::HaveTool("pdffonts") || !pvltest::HaveTool("pdftotext") || !pvltest::HaveTool("qpdf"))
    GTEST_SKIP() << "peer tools missing";
  TTestPdf pdf;
  TPDFFont helvetica(&pdf.pool, "PavonaF00000001");
  helvetica.CreateStandardFont("Helvetica", 5);
  TPDFFont sans(&pdf.pool, "PavonaF00000002");
  ASSERT_TRUE(sans.EmbedTrueTypeFont("DejaVu Sans {1251}", true, true, false));
  EXPECT_EQ(sans.GetKind(), pdffkTrueTypeEmbedded);
  TPDFFont serif(&pdf.pool, "PavonaF00000003");
  ASSERT_TRUE(serif.EmbedTrueTypeFont("Liberation Serif [Bold]", true, true, false));

  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.SetFont(&helvetica, 14);
  painter.DrawTextW(u"Hello (standard) world", 40, 300);
  painter.SetFont(&sans, 14);
  painter.DrawTextW(u"\u041F\u0440\u0438\u0432\u0435\u0442 \u043C\u0438\u0440", 40, 260);
  painter.SetKerning(true);
  painter.SetFont(&serif, 14);
  painter.DrawTextW(u"AVATAR Wave", 40, 220);
  pvltest::TempDir dir;
  const std::string path = dir.File("fonts.pdf");
  pvltest::WriteFile(path, pdf.Write(painter.GetContent(), 400, 400,
                                     {{"PavonaF00000001", helvetica.GetObjectNumber()},
                                      {"PavonaF00000002", sans.GetObjectNumber()},
                                      {"PavonaF00000003", serif.GetObjectNumber()}},
                                     {}));
  auto check = pvltest::RunCommand({"qpdf", "--check", path});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  auto text = pvltest::RunCommand({"pdftotext", "-layout", path, "-"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Hello (standard) world"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Привет мир"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("AVATAR Wave"), std::string::npos) << text.out;
  // The serif line was written with pair kerning.
  EXPECT_NE(painter.Content().find("] TJ"), std::string::npos);

  auto fonts = pvltest::RunCommand({"pdffonts", path});
  ASSERT_EQ(fonts.exitCode, 0) << fonts.err;
  auto row = [&](const std::string& name) {
    size_t at = fonts.out.find(name);
    return at == std::string::npos ? std::string() : fonts.out.substr(at, fonts.out.find('\n', at) - at);
  };
  // name, type, encoding, emb, sub, uni
  EXPECT_NE(row("Helvetica").find("Type 1"), std::string::npos) << fonts.out;
  EXPECT_NE(row("Helvetica").find(" no "), std::string::npos) << fonts.out;
  EXPECT_NE(row("DejaVuSans").find("TrueType"), std::string::npos) << fonts.out;
  EXPECT_NE(row("DejaVuSans").find("yes no  yes"), std::string::npos) << fonts.out;
  EXPECT_NE(row("LiberationSerif,Bold").find("yes no  no"), std::string::npos) << fonts.out;
}

}  // namespace
