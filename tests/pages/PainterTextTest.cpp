// Text output of the painter: the operator sequence of a line, shared text
// objects, escapes, alignment, decoration, wrapping, blocks and fitted boxes.
#include <gtest/gtest.h>

#include "PainterFixture.h"
#include "PainterTestSupport.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace {

using pvltest::ContentLines;
std::vector<std::string> Lines(const std::string& c) { return ContentLines(c); }

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class PainterText : public pvltest::TPainterFixture {};

TEST_F(PainterText, SingleLineWritesThePendingTextStateInOrder) {
  painter.SetFont(&font, 12);
  painter.DrawText("Hi", 72, 700);
  EXPECT_EQ(Lines(painter.Content()), (std::vector<std::string>{"0 Tr", "/F 12 Tf", "0 0 0 rg", "100 Tz", "0 Ts",
                                                                "0 Tw 0 Tc", "BT", "1 0 0 1 72 700 Tm", "(Hi)Tj",
                                                                "ET"}));
  // A second text right after shares the text object.
  painter.DrawText("a(b\\", 72, 680);
  auto lines = Lines(painter.Content());
  EXPECT_EQ(Count(painter.Content(), "BT"), 1u);
  EXPECT_EQ(lines[lines.size() - 2], "(a\\(b\\\\)Tj");
  EXPECT_EQ(lines.back(), "ET");
  // Something in between ends the sharing.
  painter.DrawBox(true, false, 0, 10, 5, 5);
  painter.DrawText("x", 0, 0);
  EXPECT_EQ(Count(painter.Content(), "BT"), 2u);
  // Size 0 becomes 1.
  painter.SetFont(&font, 0);
  painter.DrawText("", 0, 0);
  EXPECT_NE(painter.Content().find("/F 1 Tf\n"), std::string::npos);
  EXPECT_NE(painter.Content().find("()Tj"), std::string::npos);
}

TEST_F(PainterText, WidthsAlignmentAndUnderline) {
  painter.SetFont(&font, 10);
  EXPECT_DOUBLE_EQ(painter.GetTextWidth("AA"), 13.34);
  EXPECT_DOUBLE_EQ(painter.GetTextWidthW(u"A A"), 16.12);
  painter.SetWordSpacing(2);
  painter.SetTextScaling(50);
  EXPECT_DOUBLE_EQ(painter.GetTextWidthW(u"A A"), (16.12 + 2) / 2);
  painter.SetWordSpacing(0);
  painter.SetTextScaling(100);
  EXPECT_DOUBLE_EQ(painter.GetLineHeight(), (931 + 225) / 100.0);
  painter.SetTextAlignment(1);
  painter.SetDecorationKind(1);
  painter.DrawTextW(u"AA", 100, 500);
  const std::string& c = painter.Content();
  EXPECT_NE(c.find("1 0 0 1 93.33 500 Tm"), std::string::npos) << c;
  // Underline 1.25 below the baseline, 0.625 wide, over the text width.
  EXPECT_NE(c.find("0.625 w"), std::string::npos) << c;
  EXPECT_NE(c.find("93.33 498.75 m 106.67 498.75 l S"), std::string::npos) << c;
  auto end = painter.GetLastTextEnd();
  EXPECT_DOUBLE_EQ(end.first, 93.33 + 13.34);
}

TEST_F(PainterText, WrapBreaksOverlongWordsAndKeepsParagraphs) {
  painter.SetFont(&font, 10);
  std::vector<std::u16string> lines;
  std::vector<TPDFWrappedLine> records;
  painter.WrapText(u"one two three\r\nfour WWWWWWWWWW", lines, 40, u"\r\n", records);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], u"one two");
  EXPECT_EQ(records[0].Spaces, 1);
  EXPECT_EQ(lines[1], u"three");
  EXPECT_TRUE(records[1].ParagraphEnd);
  EXPECT_EQ(lines[2], u"four");
  EXPECT_EQ(lines[3], u"WWWW");
  EXPECT_TRUE(records[3].BrokenWord);
  EXPECT_EQ(lines[4], u"WWWW");
  EXPECT_EQ(lines[5], u"WW");
  EXPECT_FALSE(records[5].BrokenWord);
  // A single character wider than the box still advances.
  painter.WrapText(u"WWW", lines, 1, u"\r\n", records);
  EXPECT_EQ(lines.size(), 3u);
  EXPECT_DOUBLE_EQ(painter.GetTextBlockHeight(u"a\r\nb", u"\r\n", 100), 2 * painter.GetLineHeight());
}

TEST_F(PainterText, BlocksBoxesAndCombCells) {
  painter.SetFont(&font, 10);
  painter.SetLeading(2);
  const int32_t n = painter.DrawTextLines(u"alpha beta gamma delta", 1, 0, 100, 60, 100, u"\r\n");
  EXPECT_EQ(n, 2);
  const std::string& c = painter.Content();
  EXPECT_EQ(Count(c, "'\n"), 2u) << c;
  EXPECT_NE(c.find("TL"), std::string::npos);
  // Justified lines spread their free room over the spaces.
  painter.SetContent("");
  painter.SetTextAlignment(4);
  std::vector<TPDFWrappedLine> records(1);
  records[0].Spaces = 2;
  painter.DrawTextBlock(u"\r\n", u"a b c", 0, 100, records, 100);
  const double free = 100 - painter.GetTextWidthW(u"a b c");
  EXPECT_NE(painter.Content().find(painter.FormatNumber(free / 2) + "Tw"), std::string::npos) << painter.Content();
  painter.SetTextAlignment(0);

  // Fitting shrinks the font until the text fits and restores it after.
  painter.SetContent("");
  painter.DrawTextArea(u"a rather long text for a small box", 3, 0, 100, 50, 20, u"\r\n");
  EXPECT_EQ(painter.GetFontSize(), 10);
  auto lines = Lines(painter.Content());
  double fitted = 0;
  for (const auto& l : lines)
    if (l.size() > 5 && l.compare(l.size() - 3, 3, " Tf") == 0) fitted = std::stod(l.substr(3));
  EXPECT_GT(fitted, 0);
  EXPECT_LT(fitted, 10);

  painter.SetContent("");
  painter.SetTextAlignment(2);
  painter.DrawCombText(u"ab", 5, 0, 100, 50, 20);
  EXPECT_EQ(painter.GetTextAlignment(), 2);
  // Cells 4 and 5 (centres 35 and 45).
  const std::string& comb = painter.Content();
  EXPECT_NE(comb.find("1 0 0 1 " + painter.FormatNumber(35 - painter.GetTextWidthW(u"a") / 2)), std::string::npos)
      << comb;
  EXPECT_NE(comb.find("1 0 0 1 " + painter.FormatNumber(45 - painter.GetTextWidthW(u"b") / 2)), std::string::npos)
      << comb;
}

TEST_F(PainterText, RotatedTextAndRunsLeaveTheMatrixAsTheyFoundIt) {
  painter.SetFont(&font, 10);
  painter.DrawRotatedText(u"turn", 100, 200, 90);
  auto lines = Lines(painter.Content());
  EXPECT_EQ(lines.front(), "0 1 -1 0  100 200 cm");
  EXPECT_EQ(lines[lines.size() - 2], "0 -1 1 0  0 0 cm");
  EXPECT_EQ(lines.back(), "1 0 0 1 -100 -200 cm");
  EXPECT_EQ(painter.GetPrecision(), 4);
  painter.SetContent("");
  painter.DrawTextRun("ab", 10, 20, 0, {5, 6});
  lines = Lines(painter.Content());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "0 0 Td"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "5 0 Td"), lines.end());
  painter.SetContent("");
  painter.DrawTextRun("ab", 10, 20, 900, {});
  EXPECT_EQ(painter.Content().find(" cm"), std::string::npos) << painter.Content();
  EXPECT_NE(painter.Content().find("0 1 -1 0 10 20 Tm"), std::string::npos) << painter.Content();
}

TEST(PainterTextPage, TextIsDrawnWhereItWasPlaced) {
  if (!pvltest::HaveTool("pdftoppm") || !pvltest::HaveTool("pdftotext")) GTEST_SKIP() << "peer tools missing";
  pvltest::TTestPdf pdf;
  TPDFFont font(&pdf.pool, "PavonaF00000001");
  font.CreateStandardFont("Helvetica-Bold", 6);
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.SetFont(&font, 40);
  painter.SetTextColor(1, 0, 0);
  painter.DrawTextW(u"IIII", 20, 100);
  painter.SetFont(&font, 12);
  painter.SetTextColor(0, 0, 0);
  painter.SetLeading(3);
  painter.DrawTextLines(u"wrapped words in a narrow box", 1, 20, 80, 80, 60, u"\r\n");
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("text.pdf"),
                     pdf.Write(painter.GetContent(), 200, 200, {{"PavonaF00000001", font.GetObjectNumber()}}, {}));
  pvltest::TRenderedPage page;
  ASSERT_TRUE(pvltest::RenderPage(dir.File("text.pdf"), dir.File("text"), page));
  // The stem of the first I: Helvetica-Bold I spans 64..214 of its 278 advance.
  EXPECT_EQ(page.At(20 + 5, 200 - 110), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(page.At(20 + 1, 200 - 110), (std::array<int, 3>{255, 255, 255}));
  auto text = pvltest::RunCommand({"pdftotext", dir.File("text.pdf"), "-"});
  EXPECT_NE(text.out.find("IIII"), std::string::npos);
  EXPECT_NE(text.out.find("narrow box"), std::string::npos) << text.out;
}

}  // namespace
