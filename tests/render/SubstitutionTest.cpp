// System-font substitution: the name rules, and every standard-14 name and
// alias resolving on this machine to the metric-compatible face fc-match gives.
#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "platform/Fonts.h"
#include "render/PavonaFontConst.h"

namespace {

struct NameCase {
  const char* pdfName;
  int32_t flags;
  const char* family;
  uint8_t style;
};

class Substitution : public testing::TestWithParam<NameCase> {};

TEST_P(Substitution, MapsToFamilyAndStyle) {
  const NameCase& c = GetParam();
  TFont font;
  font.Style = 0;
  MapFontNameToSystemFont(c.pdfName, c.flags, font);
  EXPECT_EQ(font.Name, c.family) << c.pdfName;
  EXPECT_EQ(font.Style, c.style) << c.pdfName;
}

INSTANTIATE_TEST_SUITE_P(
    Names, Substitution,
    testing::Values(NameCase{"Helvetica", 0, "Arial", 0}, NameCase{"ABCDEF+Arial-BoldMT", 0, "Arial", fsBold},
                    NameCase{"Courier-Oblique", 0, "Courier New", fsItalic},
                    NameCase{"TimesNewRomanPS-BoldItalicMT", 0, "Times New Roman", fsBold | fsItalic},
                    NameCase{"Arial,BoldMT,Bold", 0, "Arial", 0},
                    NameCase{"Roman", 0, "Times New Roman", 0},
                    NameCase{"ABCDEFG+Arial", 0, "Arial", 0},  // seven capitals: cut at "+", no family ABCDEFG
                    NameCase{"NoSuchFontAtAll", 34, "Times New Roman", 0},
                    NameCase{"NoSuchFontAtAll", 0x41, "Courier", fsItalic},
                    NameCase{"NoSuchFontAtAll-Bold", 0, "Arial", 0},
                    NameCase{"", 0, "Arial", 0},
                    NameCase{"DejaVuSans-Bold", 0, "DejaVu Sans", fsBold},
                    NameCase{"DejaVuSerif,Bold,Italic", 0, "Arial", 0},  // italic only; "DejaVuSerif,Bold" is no family
                    NameCase{"LiberationSerif-Italic", 0, "Liberation Serif", fsItalic},
                    NameCase{"abcdef+DejaVuSans", 0, "Arial", 0},  // lower case: no subset tag, cut at "+"
                    NameCase{"Symbol", 4, "Symbol", 0}));

TEST(Substitution, StandardFontRows) {
  EXPECT_EQ(FindStandardFont("Helvetica-Oblique"), 8);
  EXPECT_EQ(FindStandardFont("Roman"), 9);
  EXPECT_EQ(FindStandardFont("Arial"), 5);
  EXPECT_EQ(FindStandardFont("ZapfDingbats"), 14);
  EXPECT_EQ(FindStandardFont(""), 0);
  EXPECT_EQ(FindStandardFont("Garamond"), 0);
  EXPECT_EQ(kStandardFonts[7].Ascent, 718);
  EXPECT_EQ(kStandardFonts[7].Descent, -207);
  EXPECT_STREQ(kStandardFonts[7].Name, "Arial,Italic");
}

TEST(Substitution, JapaneseNames) {
  TFont font;
  EXPECT_FALSE(MapJapaneseFontToSystemFont("Helvetica", font));
  ASSERT_TRUE(MapJapaneseFontToSystemFont("HeiseiKakuGo-W5,BoldItalic", font));
  EXPECT_EQ(font.Charset, SHIFTJIS_CHARSET);
  EXPECT_EQ(font.Style, fsBold | fsItalic);
  const auto& families = InstalledFontNames(SHIFTJIS_CHARSET);
  if (!families.empty()) {
    EXPECT_NE(std::find(families.begin(), families.end(), font.Name), families.end());
  }
  ASSERT_TRUE(MapJapaneseFontToSystemFont("HeiseiKakuGo-W5,Bold", font));
  EXPECT_EQ(font.Style, fsBold);
}

// Every name of the fourteen rows' pattern lists, through substitution and the
// system's face selection, lands on the face fc-match picks for the chosen
// family and style, and that face is one of the metric-compatible families.
TEST(Substitution, StandardNamesResolveLikeFcMatch) {
  if (!pvltest::HaveTool("fc-match")) GTEST_SKIP();
  const char* const compatible[] = {"Liberation Sans", "Liberation Serif", "Liberation Mono", "Nimbus Sans",
                                    "Nimbus Roman",    "Nimbus Mono PS",   "Standard Symbols PS", "D050000L"};
  int checked = 0;
  for (int row = 1; row <= 14; ++row) {
    std::string patterns = kStandardFonts[row - 1].Patterns;
    std::istringstream in(patterns);
    std::string name;
    while (std::getline(in, name, '*')) {
      if (name.empty()) continue;
      TFont font;
      font.Style = 0;
      MapFontNameToSystemFont(name, 0, font);
      TInstalledFace face;
      ASSERT_TRUE(SelectInstalledFace(font, face)) << name;
      std::string query = font.Name + ":weight=" + ((font.Style & fsBold) ? "200" : "80") +
                          ":slant=" + ((font.Style & fsItalic) ? "100" : "0");
      auto r = pvltest::RunCommand({"fc-match", "-f", "%{file}", query});
      ASSERT_EQ(r.exitCode, 0);
      EXPECT_EQ(face.File, r.out) << name << " -> " << font.Name;
      EXPECT_NE(std::find(std::begin(compatible), std::end(compatible), face.Family), std::end(compatible))
          << name << " -> " << font.Name << " -> " << face.Family;
      // The style the name asks for is the face's style.
      EXPECT_EQ(face.Bold, (font.Style & fsBold) != 0) << name;
      EXPECT_EQ(face.Italic, (font.Style & fsItalic) != 0) << name;
      ++checked;
    }
  }
  EXPECT_GT(checked, 60);
}

TEST(Substitution, FontDataOfFacesAndCollections) {
  TFont font;
  font.Name = "Liberation Sans";
  TInstalledFace face;
  ASSERT_TRUE(SelectInstalledFace(font, face));
  uint32_t size = GetFontData(face, 0, 0, nullptr, 0);
  EXPECT_EQ(size, pvltest::ReadFile(face.File).size());
  EXPECT_EQ(GetFontData(face, FontTableTag("ttcf"), 0, nullptr, 0), GDI_ERROR);
  std::string head(4, '\0');
  EXPECT_EQ(GetFontData(face, FontTableTag("head"), 12, head.data(), 4), 4u);
  EXPECT_EQ(head, std::string("\x5F\x0F\x3C\xF5", 4));  // the magic number
  EXPECT_EQ(GetFontData(face, FontTableTag("zzzz"), 0, nullptr, 0), GDI_ERROR);
  TInstalledFace missing;
  missing.File = "/nonexistent/font.ttf";
  EXPECT_EQ(GetFontData(missing, 0, 0, nullptr, 0), GDI_ERROR);
}

}  // namespace
