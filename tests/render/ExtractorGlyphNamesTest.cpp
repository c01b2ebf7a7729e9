// Extracted text of glyphs whose names are not one plain character: the
// Latin ligatures named fi, ffl or f_f_i come out as their letters (a name
// or ToUnicode entry that spells U+FB01 keeps it), a Type 1 program's built-in
// encoding names its codes even when only text is read, and ZapfDingbats
// codes are the dingbat characters of its glyph list. pdftotext reads the
// same pages as the oracle.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "PageImageCompare.h"
#include "RendererTestSupport.h"
#include "Type1TestSupport.h"
#include "objects/PavonaExtra.h"
#include "render/PavonaTextFunnel.h"

using namespace pvlrender;

namespace {

// Text of the page as the page text of the program reads it: the renderer
// in text mode with a font collection that loads no outlines.
std::string OurText(const std::string& pdf) {
  auto doc = LoadPdf(pdf);
  if (!doc) return "(unreadable)";
  auto pages = FindPages(*doc);
  if (pages.empty()) return "(no page)";
  TPDFFontCollection fonts;
  TPDFRenderer renderer(&fonts);
  renderer.OutputKind = rokText;
  renderer.PageObject = pages[0];
  renderer.RenderPage();
  return WideToUTF8(renderer.GetTextFunnel()->GetSimpleText());
}

std::string Squeezed(const std::string& s) {
  std::string out;
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c))) out += c;
  return out;
}

// A Type 1 program with the glyphs "fi" and "l" at codes 12 and 108 of its
// built-in encoding (as TeX fonts place their ligatures).
std::string LigatureProgram(int64_t& length1, int64_t& length2, int64_t& length3) {
  const std::string glyph = Type1Number(0) + Type1Number(500) + "\x0d" + Type1Number(50) + Type1Number(0) + "\x15" +
                            Type1Number(400) + "\x06" + Type1Number(600) + "\x07" + "\x09\x0e";
  std::string clear =
      "%!PS-AdobeFont-1.0: Lig 001\n11 dict begin\n/FontName /Lig def\n/PaintType 0 def\n/FontType 1 def\n"
      "/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n/FontBBox {0 0 500 600} readonly def\n"
      "/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\ndup 12 /fi put\ndup 108 /l put\n"
      "readonly def\ncurrentdict end\ncurrentfile eexec\n";
  std::string priv =
      "dup /Private 8 dict dup begin\n/RD{string currentfile exch readstring pop}executeonly def\n"
      "/ND{noaccess def}executeonly def\n/NP{noaccess put}executeonly def\n/MinFeature{16 16}def\n"
      "/password 5839 def\n/BlueValues [] def\n/Subrs 1 array\n";
  const std::string ret = Type1Encrypt("\x0b", 4330, "abcd");
  priv += "dup 0 " + std::to_string(ret.size()) + " RD " + ret + " NP\nND\n2 index /CharStrings 3 dict dup begin\n";
  for (const char* name : {".notdef", "fi", "l"}) {
    const std::string e = Type1Encrypt(glyph, 4330, "abcd");
    priv += std::string("/") + name + " " + std::to_string(e.size()) + " RD " + e + " ND\n";
  }
  priv += "end\nend\nreadonly put\nnoaccess put\ndup/FontName get exch definefont pop\nmark currentfile closefile\n";
  const std::string encrypted = Type1Encrypt(priv, 55665, "abcd");
  std::string trailer;
  for (int i = 0; i < 8; ++i) trailer += std::string(64, '0') + "\n";
  trailer += "cleartomark\n";
  length1 = static_cast<int64_t>(clear.size());
  length2 = static_cast<int64_t>(encrypted.size());
  length3 = static_cast<int64_t>(trailer.size());
  return clear + encrypted + trailer;
}

struct TTextCase {
  const char* name;
  std::string pdf;
  const char* expected;  // white space aside
};

}  // namespace

TEST(ExtractorGlyphNames, LigaturesAndDingbatsReadAsTheirCharacters) {
  const std::string helvetica =
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << /Type /Encoding "
      "/Differences [1 /fi /f_f_i /uniFB01 /ffl] >> >>";
  int64_t l1 = 0, l2 = 0, l3 = 0;
  const std::string program = LigatureProgram(l1, l2, l3);
  std::string widths;
  for (int code = 12; code <= 108; ++code) widths += "500 ";
  const std::vector<TTextCase> cases = {
      {"ligature glyph names",
       PagePdf("BT /F1 12 Tf 10 50 Td (\\001ne \\002x \\003rst wa\\004e) Tj ET", "<< /Font << /F1 4 0 R >> >>",
               {helvetica}),
       // A name that spells the ligature's character (uniFB01) keeps it, as the peer does.
       "fineffix\uFB01rstwaffle"},
      {"ToUnicode entry of a ligature",
       PagePdf("BT /F1 12 Tf 10 50 Td (\\001lled) Tj ET", "<< /Font << /F1 4 0 R >> >>",
               {"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /ToUnicode 5 0 R >>",
                StreamObject("",
                             "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                             "1 begincodespacerange <00> <FF> endcodespacerange\n"
                             "2 beginbfchar <01> <FB01> <6C> <006C> endbfchar\n"
                             "3 beginbfrange <61> <7A> <0061> endbfrange\nendcmap\n")}),
       // The character the ToUnicode gives stays as it is, as the peer has it.
       "\uFB01lled"},
      // The built-in encoding of the embedded program names code 12 "fi".
      {"ligature of a program's built-in encoding",
       PagePdf("BT /F1 12 Tf 10 50 Td (\\014ll) Tj ET", "<< /Font << /F1 4 0 R >> >>",
               {"<< /Type /Font /Subtype /Type1 /BaseFont /Lig /FirstChar 12 /LastChar 108 /Widths [500" +
                    std::string(95, ' ').replace(0, 0, "") + "] /FontDescriptor 5 0 R >>",
                "<< /Type /FontDescriptor /FontName /Lig /Flags 4 /FontBBox [0 0 500 600] /Ascent 600 /Descent 0 "
                "/CapHeight 600 /StemV 80 /ItalicAngle 0 /FontFile 6 0 R >>",
                StreamObject("/Length1 " + std::to_string(l1) + " /Length2 " + std::to_string(l2) + " /Length3 " +
                                 std::to_string(l3),
                             program)}),
       "fill"},
      {"ZapfDingbats",
       PagePdf("BT /F1 12 Tf 10 50 Td (!#$) Tj ET", "<< /Font << /F1 4 0 R >> >>",
               {"<< /Type /Font /Subtype /Type1 /BaseFont /ZapfDingbats >>"}),
       "\u2701\u2703\u2704"},
  };
  std::string missing;
  if (!pvltest::RequireTool("pdftotext", missing)) {
    if (pvltest::InCI()) FAIL() << missing;
    GTEST_SKIP() << missing;
  }
  pvltest::TempDir dir;
  for (const TTextCase& c : cases) {
    SCOPED_TRACE(c.name);
    pvltest::WriteFile(dir.File("page.pdf"), c.pdf);
    const auto peer = pvltest::RunCommand({"pdftotext", "-q", dir.File("page.pdf"), "-"});
    ASSERT_EQ(peer.exitCode, 0);
    EXPECT_EQ(Squeezed(peer.out), c.expected) << "the peer reads the fixture otherwise";
    EXPECT_EQ(Squeezed(OurText(c.pdf)), c.expected);
  }
}
