// HTML-subset layout through a painter: wrapping and alignment positions
// read back with pdftotext -bbox, the rest of a text that overflows its box
// continued in a second box with the same state, and the guards against
// words that never fit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "PainterTestSupport.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaHTMLRender.h"
#include "pages/PavonaPainter.h"

namespace {

std::string wide(const std::string& text) {
  std::string out;
  for (char c : text) out += '\0', out += c;
  return out;
}

struct TWord {
  std::string text;
  double xMin, yMin, xMax, yMax;
};

// The words of pdftotext -bbox output in page order.
std::vector<TWord> words(const std::string& html) {
  std::vector<TWord> out;
  std::istringstream lines(html);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t at = line.find("<word ");
    if (at == std::string::npos) continue;
    TWord w;
    auto number = [&](const char* key) { return std::atof(line.c_str() + line.find(key) + std::strlen(key)); };
    w.xMin = number("xMin=\""), w.yMin = number("yMin=\""), w.xMax = number("xMax=\""), w.yMax = number("yMax=\"");
    const size_t open = line.find('>', at) + 1;
    w.text = line.substr(open, line.find("</word>") - open);
    out.push_back(w);
  }
  return out;
}

class HTMLLayout : public ::testing::Test {
protected:
  void SetUp() override {
    const std::pair<const char*, int32_t> faces[4] = {
        {"Helvetica", 5}, {"Helvetica-Bold", 6}, {"Helvetica-Oblique", 8}, {"Helvetica-BoldOblique", 7}};
    for (int i = 0; i < 4; ++i) {
      fonts[i] = std::make_unique<TPDFFont>(&file.pool, std::string("H") + char('1' + i));
      fonts[i]->CreateStandardFont(faces[i].first, faces[i].second);
    }
    settings.RegularFont = fonts[0].get();
    settings.BoldFont = fonts[1].get();
    settings.ItalicFont = fonts[2].get();
    settings.BoldItalicFont = fonts[3].get();
    settings.Left = 100;
    settings.Top = 700;
    settings.Width = 300;
  }
  std::map<std::string, int32_t> fontMap() const {
    std::map<std::string, int32_t> m;
    for (const auto& f : fonts) m[f->GetResourceName()] = f->GetReference()->GetRefNumber();
    return m;
  }
  // The painter's page through pdftotext -bbox.
  std::vector<TWord> layoutWords(const TPDFPainter& painter) {
    const std::string path = dir.File("html.pdf");
    pvltest::WriteFile(path, file.Write(painter.GetContent(), 612, 792, fontMap(), {}));
    const auto check = pvltest::RunCommand({"qpdf", "--check", path});
    EXPECT_EQ(check.exitCode, 0) << check.out;
    return words(pvltest::RunCommand({"pdftotext", "-bbox", path, "-"}).out);
  }
  // The shared check: a missing tool fails the test under CI.
  bool tools() { return pvltest::HaveTools({"pdftotext", "qpdf"}); }

  pvltest::TTestPdf file;
  pvltest::TempDir dir;
  std::unique_ptr<TPDFFont> fonts[4];
  THTMLSettings settings;
};

TEST_F(HTMLLayout, EmptyTextDrawsNothing) {
  TPDFPainter painter;
  THTMLRenderer renderer(&painter);
  std::string rest = "x";
  EXPECT_EQ(renderer.DrawText("", settings, rest, 0, false), 0);
  EXPECT_TRUE(rest.empty());
  EXPECT_EQ(painter.GetContent().find("Tj"), std::string::npos);
}

TEST_F(HTMLLayout, AlignmentsPlaceLinesInTheBox) {
  if (!tools()) GTEST_SKIP() << "a peer tool is missing";
  const std::string sentence = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi omicron pi rho";
  struct TCase {
    const char* align;
    // Expectations on the first line's first and last word, and the paragraph's last line.
    bool firstAtLeft, lastAtRight, finalAtRight;
  };
  const TCase cases[] = {{"left", true, false, false},
                         {"right", false, true, true},
                         {"justified", true, true, false},
                         {"lastjustified", true, true, true}};
  for (const TCase& c : cases) {
    TPDFPainter painter;
    THTMLRenderer renderer(&painter);
    std::string rest;
    const double used =
        renderer.DrawText(wide("<p align=\"" + std::string(c.align) + "\">" + sentence + "</p>"), settings, rest, 0, false);
    EXPECT_GT(used, 20) << c.align;
    const std::vector<TWord> w = layoutWords(painter);
    ASSERT_GE(w.size(), 17u) << c.align;
    // Lines: words sharing a baseline.
    std::vector<std::vector<TWord>> lines;
    for (const TWord& word : w) {
      if (lines.empty() || std::abs(lines.back().back().yMax - word.yMax) > 1) lines.emplace_back();
      lines.back().push_back(word);
    }
    ASSERT_GE(lines.size(), 2u) << c.align;
    EXPECT_EQ(std::abs(lines[0].front().xMin - 100) < 1.5, c.firstAtLeft) << c.align << " " << lines[0].front().xMin;
    EXPECT_EQ(std::abs(lines[0].back().xMax - 400) < 1.5, c.lastAtRight) << c.align << " " << lines[0].back().xMax;
    EXPECT_EQ(std::abs(lines.back().back().xMax - 400) < 1.5, c.finalAtRight) << c.align;
    for (const auto& line : lines) EXPECT_LE(line.back().xMax, 401) << c.align;
    // Pdftotext's y grows downwards: the first line sits just below the top.
    EXPECT_NEAR(lines[0].front().yMin, 792 - 700, 4) << c.align;
  }
}

TEST_F(HTMLLayout, OverflowRestContinuesWithTheSameState) {
  if (!tools()) GTEST_SKIP() << "a peer tool is missing";
  std::string text = "<font color=\"#FF0000\"><b><ul><li>";
  for (int i = 0; i < 40; ++i) text += "word" + std::to_string(i) + " ";
  text += "</li><li>after</li></ul></b></font><p>plain</p>";
  TPDFPainter first;
  THTMLRenderer renderer(&first);
  std::string rest;
  const double used = renderer.DrawText(wide(text), settings, rest, 30, false);
  EXPECT_LE(used, 30 + 1e-6);
  ASSERT_GE(rest.size(), 22u);
  EXPECT_EQ(rest.substr(0, 22), wide("<stack><!--"));
  // The stack ends with left alignment and an unordered list.
  EXPECT_NE(rest.find(wide("LU--></stack>")), std::string::npos);

  TPDFPainter second;
  THTMLRenderer again(&second);
  std::string rest2;
  again.DrawText(rest, settings, rest2, 0, false);
  EXPECT_TRUE(rest2.empty());
  const std::string content = second.GetContent();
  EXPECT_NE(content.find("/H2 "), std::string::npos) << "bold goes on";
  EXPECT_NE(content.find("1 0 0 rg"), std::string::npos) << "red goes on";
  const std::vector<TWord> w1 = layoutWords(first);
  const std::vector<TWord> w2 = layoutWords(second);
  ASSERT_FALSE(w1.empty());
  ASSERT_FALSE(w2.empty());
  // The second box starts with the word after the last one placed, indented as a list item.
  std::string lastPlaced = w1.back().text;
  const int lastIndex = std::atoi(lastPlaced.c_str() + 4);
  EXPECT_EQ(w2.front().text, "word" + std::to_string(lastIndex + 1));
  EXPECT_NEAR(w2.front().xMin, 115, 1.5);
  bool sawAfter = false, sawPlain = false, sawBullet = false;
  for (const TWord& w : w2) sawAfter |= w.text == "after", sawPlain |= w.text == "plain", sawBullet |= w.text == "\xE2\x80\xA2";
  EXPECT_TRUE(sawAfter && sawPlain && sawBullet);
}

TEST_F(HTMLLayout, OverWideWordsBreakAndEndEvenInAList) {
  if (!tools()) GTEST_SKIP() << "a peer tool is missing";
  settings.Width = 60;
  TPDFPainter painter;
  THTMLRenderer renderer(&painter);
  std::string rest;
  const std::string word(60, 'W');
  renderer.DrawText(wide("<ul><li>" + word + "</li></ul><p>" + word + "</p>"), settings, rest, 0, false);
  const std::vector<TWord> w = layoutWords(painter);
  size_t letters = 0;
  for (const TWord& x : w) {
    if (x.text[0] == 'W') letters += x.text.size();
    EXPECT_LE(x.xMax, 161) << x.text;
  }
  EXPECT_EQ(letters, 120u) << painter.GetContent();
}

TEST_F(HTMLLayout, SizesColoursAndNestedSuperscripts) {
  TPDFPainter painter;
  painter.SetPrecision(4);
  THTMLRenderer renderer(&painter);
  std::string rest;
  renderer.DrawText(wide("<font size=\"12pt\" color=\"Navy\">a<sup>b<sup>c</sup>d</sup>e</font>"
                         "<font size=3 color=#00FF00>f</font><font color=\"00000000\">g</font>"),
                    settings, rest, 0, false);
  const std::string c = painter.GetContent();
  EXPECT_NE(c.find("/H1 12 Tf"), std::string::npos) << c;
  EXPECT_NE(c.find("/H1 8 Tf"), std::string::npos) << "one reduction for sup in sup: " << c;
  EXPECT_EQ(c.find("/H1 5.3333 Tf"), std::string::npos) << c;
  EXPECT_NE(c.find("/H1 8 Tf"), std::string::npos);
  EXPECT_NE(c.find("0 0 0.502 rg"), std::string::npos) << "navy: " << c;
  EXPECT_NE(c.find("0 1 0 rg"), std::string::npos) << c;
  EXPECT_NE(c.find("0 0 0 0 k"), std::string::npos) << "CMYK text colour: " << c;
}

TEST_F(HTMLLayout, StateTextFromOutsideNamesNoAddress) {
  // A font field that is no preset font falls back to the regular font;
  // a damaged count or short entries are read no further.
  const std::string entry = "DEADBEEF00000012##FF0000        N00000000";
  for (const std::string& stack : std::vector<std::string>{"<stack><!--00000001" + entry + "LN--></stack>x",
                                   "<stack><!--FFFFFFFF" + entry + "--></stack>y", std::string("<stack><!--zz--></stack>z")}) {
    TPDFPainter painter;
    THTMLRenderer renderer(&painter);
    std::string rest;
    renderer.DrawText(wide(stack), settings, rest, 0, false);
    EXPECT_NE(painter.GetContent().find("Tj"), std::string::npos) << stack;
  }
}

}  // namespace
