// The painter's pending state as values: every state operator comes from one
// writer, the text colour's stroking form follows its kind, a reset resets
// the values behind the written operators, a saved text state comes back
// exactly, and underlines come out in the text colour on a page drawn by
// pdftoppm.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "PainterFixture.h"
#include "PainterTestSupport.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace {

using pvltest::ContentLines;
std::vector<std::string> Lines(const std::string& c) { return ContentLines(c); }

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class PainterState : public pvltest::TPainterFixture {};

// The text colour fills the glyphs and strokes the underline: each kind of
// colour writes its own fill and stroke operators.
TEST_F(PainterState, UnderlineStrokesInTheTextColourOfEveryKind) {
  struct Case {
    const char* name;
    std::function<void(TPDFPainter&)> set;
    std::string fill, stroke;
  };
  const std::vector<Case> cases = {
      {"rgb", [](TPDFPainter& p) { p.SetTextColor(0, 0.5, 1); }, "0 0.5 1 rg", "0 0.5 1 RG"},
      {"cmyk", [](TPDFPainter& p) { p.SetTextColorCMYK(0.1, 0.2, 0.3, 0.4); }, "0.1 0.2 0.3 0.4 k",
       "0.1 0.2 0.3 0.4 K"},
      {"colour space", [](TPDFPainter& p) { p.SetTextColorSpace("CS1", 0.25); }, "/CS1 cs 0.25 scn",
       "/CS1 CS 0.25 SCN"},
      {"raw gray", [](TPDFPainter& p) { p.SetRawFillColor("0.5 g"); }, "0.5 g", "0.5 G"},
      {"raw space", [](TPDFPainter& p) { p.SetRawFillColor("/Sep cs 1 scn"); }, "/Sep cs 1 scn", "/Sep CS 1 SCN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    painter.Reset();
    painter.SetLineColor(1, 0, 1);  // the line colour must not be the underline's
    painter.SetFont(&font, 20);
    c.set(painter);
    painter.SetDecorationKind(1);
    painter.DrawText("Hi", 10, 50);
    const auto lines = Lines(painter.Content());
    const auto bt = std::find(lines.begin(), lines.end(), "BT");
    ASSERT_NE(bt, lines.end());
    EXPECT_NE(std::find(lines.begin(), bt, c.fill), bt) << painter.Content();
    // The underline follows the text object: its stroke colour, then the line.
    const auto et = std::find(bt, lines.end(), "ET");
    ASSERT_NE(et, lines.end());
    EXPECT_NE(std::find(et, lines.end(), c.stroke), lines.end()) << painter.Content();
    EXPECT_EQ(std::find(et, lines.end(), "1 0 1 RG"), lines.end()) << painter.Content();
  }
}

// A reset puts the values back, not only the text written for them.
TEST_F(PainterState, ResetStateResetsTheValuesBehindTheOperators) {
  painter.SetLineWidth(3);
  painter.SetMiterLimit(4);
  painter.SetLineDash(2, 2);
  painter.SetCharSpacing(1);
  painter.ResetState();
  EXPECT_EQ(painter.GetLineWidth(), 1);
  painter.SetFont(&font, 10);
  EXPECT_DOUBLE_EQ(painter.GetTextWidth("a"), font.GetCharWidth('a') * 10 / 1000.0);
  painter.SetContent("");
  painter.MarkAllDirty();
  painter.DrawLine(0, 0, 10, 10);
  const auto lines = Lines(painter.Content());
  EXPECT_TRUE(Has(lines, "1 w")) << painter.Content();
  EXPECT_TRUE(Has(lines, "[] 0 d")) << painter.Content();
}

// Single lines, positioned runs and blocks write the pending text state
// through one writer: the same lines in the same order.
TEST_F(PainterState, EveryTextWriterWritesTheSameState) {
  auto stateLines = [&](const std::function<void()>& draw) {
    painter.Reset();
    painter.SetFont(&font, 11);
    painter.SetTextColor(0.2, 0.4, 0.6);
    painter.SetTextScaling(90);
    painter.SetTextRise(1.5);
    painter.SetCharSpacing(0.25);
    painter.SetWordSpacing(2);
    draw();
    auto lines = Lines(painter.Content());
    lines.erase(std::find(lines.begin(), lines.end(), "BT"), lines.end());
    return lines;
  };
  const auto single = stateLines([&] { painter.DrawText("ab", 10, 10); });
  const auto run = stateLines([&] { painter.DrawTextRun("ab", 10, 10, 0, {}); });
  const auto block = stateLines([&] { painter.DrawTextBlockW(u"ab", u"\r\n", 10, 10, 100); });
  EXPECT_EQ(single, (std::vector<std::string>{"0 Tr", "/F 11 Tf", "0.2 0.4 0.6 rg", "90 Tz", "1.5 Ts",
                                              "2 Tw 0.25 Tc"}));
  EXPECT_EQ(run, single);
  EXPECT_EQ(block, single);
}

// The saved text state keeps every value as it was, not rounded to the
// painter's precision: widths measured after a restore are the same.
TEST_F(PainterState, SavedTextStateComesBackExactly) {
  painter.SetFont(&font, 10.0 / 3);
  painter.SetCharSpacing(1.0 / 3);
  painter.SetWordSpacing(2.0 / 7);
  painter.SetTextScaling(100.0 / 3);
  painter.SetLineWidth(0.123456789);
  const double width = painter.GetTextWidth("a b c");
  const std::string saved = painter.SaveTextState();
  painter.ResetState();
  painter.ResetTextState();
  painter.RestoreTextState(saved, [&](int32_t n) { return n == font.GetObjectNumber() ? &font : nullptr; });
  EXPECT_EQ(painter.GetTextWidth("a b c"), width);
  EXPECT_EQ(painter.GetLineWidth(), 0.123456789);
  EXPECT_EQ(painter.SaveTextState(), saved);
  // Raw operator text holding a tab still restores.
  painter.SetRawFillColor("0\tg");
  const std::string withTab = painter.SaveTextState();
  painter.ResetTextState();
  painter.RestoreTextState(withTab, [&](int32_t) { return &font; });
  painter.SetContent("");
  painter.DrawText("x", 0, 0);
  EXPECT_NE(painter.Content().find("0 g\n"), std::string::npos) << painter.Content();
}

// On a page drawn by pdftoppm the underline has the text's colour, whatever
// the line colour is.
TEST(PainterStatePage, UnderlinesAreDrawnInTheTextColour) {
  if (!pvltest::HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm missing";
  pvltest::TTestPdf pdf;
  TPDFFont font(&pdf.pool, "PavonaF00000001");
  font.CreateStandardFont("Helvetica-Bold", 6);
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.SetLineColor(1, 0, 1);
  painter.SetFont(&font, 40);
  painter.SetDecorationKind(1);
  painter.SetTextColor(0, 0, 1);
  painter.DrawTextW(u"IIII", 20, 150);
  painter.SetRawFillColor("0 1 0 rg");
  painter.DrawTextW(u"IIII", 20, 60);
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("underline.pdf"),
                     pdf.Write(painter.GetContent(), 200, 200, {{"PavonaF00000001", font.GetObjectNumber()}}, {}));
  pvltest::TRenderedPage page;
  ASSERT_TRUE(pvltest::RenderPage(dir.File("underline.pdf"), dir.File("underline"), page));
  // The underline lies 5 points below the baseline (12.5 % of the size), 2.5 points wide.
  auto at = [&](int x, int y) { return page.At(x, 200 - y); };
  EXPECT_EQ(at(40, 145), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(at(40, 55), (std::array<int, 3>{0, 255, 0}));
  // Between the glyph stems above the underline the page stays white.
  EXPECT_EQ(at(20 + 1, 160), (std::array<int, 3>{255, 255, 255}));
}

}  // namespace
