// The painter's content: pending state written lazily and in order, paths,
// painting, clipping, number format and the saved text state.
#include <gtest/gtest.h>

#include "PainterTestSupport.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaPainter.h"

namespace {

// Content lines of the painter (split at line feeds).
std::vector<std::string> Lines(const TPDFPainter& painter) { return pvltest::ContentLines(painter.Content()); }

class PainterCore : public ::testing::Test {
protected:
  void SetUp() override {
    painter.SetPrecision(4);
    painter.OnChange = [this](TPDFPainter*) { ++changes; };
    painter.Reset();
    changes = 0;
  }
  TPDFPainter painter;
  int changes = 0;
};

TEST_F(PainterCore, ResetMakesEveryPendingStringDirty) {
  painter.SetFillColor(1, 0, 0);
  painter.DrawBox(true, false, 10, 100, 50, 20);
  EXPECT_EQ(Lines(painter),
            (std::vector<std::string>{"0 0 0 RG", "1 0 0 rg", "1 w", "[] 0 d", "10 80 50 20 re", "f"}));
  EXPECT_EQ(changes, 1);
  // Same state again: only the shape.
  painter.DrawBox(false, false, 0, 10, 5, 5);
  EXPECT_EQ(Lines(painter).back(), "n");
  EXPECT_EQ(Lines(painter).size(), 8u);
  // After Q every pending string is written again.
  painter.RestoreState();
  painter.DrawBox(false, true, 0, 10, 5, 5);
  auto lines = Lines(painter);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 8, lines.end()),
            (std::vector<std::string>{"Q", "0 0 0 RG", "1 0 0 rg", "1 w", "[] 0 d", "0 5 5 5 re", "S"}));
}

TEST_F(PainterCore, SettersClampAndFormat) {
  struct Case {
    std::function<void(TPDFPainter&)> set;
    std::string line;
  };
  const std::vector<Case> cases = {
      {[](TPDFPainter& p) { p.SetFillColor(1.5, -2, 0.25); }, "1 0 0.25 rg"},
      {[](TPDFPainter& p) { p.SetFillColorCMYK(0.1, 0.2, 0.3, 2); }, "0.1 0.2 0.3 1 k"},
      {[](TPDFPainter& p) { p.SetFillColor(2.123456, 0.5, 0); }, "1 0.5 0 rg"},
      {[](TPDFPainter& p) { p.SetFillColorSpace("CS0", 0.123456); }, "/CS0 cs 0.1235 scn"},
      {[](TPDFPainter& p) { p.SetFillPattern("P1"); }, "/Pattern cs /P1 scn"},
  };
  for (const Case& c : cases) {
    painter.Reset();
    painter.DiscardPendingState();
    c.set(painter);
    painter.DrawBox(true, false, 0, 1, 1, 1);
    EXPECT_EQ(Lines(painter).front(), c.line);
  }
}

TEST_F(PainterCore, LineStyleAndDash) {
  painter.DiscardPendingState();
  painter.SetLineWidth(2.5);
  painter.SetLineDash(3, 1.5);
  painter.DrawLine(0, 0, 612, -0.25);
  EXPECT_EQ(Lines(painter), (std::vector<std::string>{"10 M 2.5 w 0 J 0 j", "[ 3 1.5 ] 0 d", "0 0 m 612 -0.25 l S"}));
  painter.SetLineDash(0.05, 3);
  painter.DrawLine(0, 0, 1, 1);
  EXPECT_EQ(Lines(painter)[3], "[] 0 d");
  EXPECT_EQ(painter.GetLineWidth(), 2.5);
}

TEST_F(PainterCore, PathsPaintOnlyWhenOpen) {
  painter.DiscardPendingState();
  painter.PaintPath(true, true);
  EXPECT_TRUE(painter.Content().empty());
  EXPECT_EQ(changes, 0);
  painter.MoveTo(72, 720);
  painter.LineTo(100, 720);
  painter.CurveTo(1, 2, 3, 4, 5, 6);
  painter.ClosePath();
  EXPECT_TRUE(painter.IsPathOpen());
  painter.PaintPathEvenOdd(true, true);
  EXPECT_EQ(Lines(painter), (std::vector<std::string>{"72 720 m", "100 720 l", "1 2 3 4 5 6 c", "h", "B*"}));
  EXPECT_FALSE(painter.IsPathOpen());
  painter.MoveTo(0, 0);
  painter.MoveToKeepPath(5, 5);
  painter.LineTo(6, 6);
  painter.ClipPathEvenOdd();
  auto lines = Lines(painter);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 5, lines.end()),
            (std::vector<std::string>{"0 0 m", "5 5 m", "6 6 l", "W* n"}));
  // MoveTo starts afresh.
  painter.MoveTo(1, 1);
  painter.MoveTo(2, 2);
  painter.LineTo(3, 3);
  painter.PaintPath(false, false);
  lines = Lines(painter);
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), (std::vector<std::string>{"2 2 m", "3 3 l", "n"}));
}

TEST_F(PainterCore, RawOutputAndContent) {
  painter.WriteOp("", '\n');
  EXPECT_TRUE(painter.Content().empty());
  painter.WriteOp("Q");
  EXPECT_EQ(painter.GetContent(), "Q\n");
  painter.SetContent("0 0 m");
  EXPECT_EQ(painter.Content(), "0 0 m ");
  EXPECT_EQ(painter.GetContent(), "0 0 m \n");
  painter.SetContent("");
  EXPECT_TRUE(painter.Content().empty());
  EXPECT_EQ(painter.FormatNumber(-0.00001), "0 ");
  painter.SaveState();
  painter.Scale(0.5);
  painter.SetExtGState("PavonaGS0000ABCD");
  painter.RotateAround(10, 20, 90);
  EXPECT_EQ(Lines(painter), (std::vector<std::string>{"q", "0.5 0 0 0.5 0 0 cm", "/PavonaGS0000ABCD gs",
                                                      "0 1 -1 0  10 20 ", "cm"}));
}

TEST_F(PainterCore, SuspendedUpdatesHoldTheCallback) {
  painter.BeginUpdate();
  painter.SaveState();
  EXPECT_EQ(changes, 0);
  painter.EndUpdate();
  painter.RestoreState();
  EXPECT_EQ(changes, 1);
}

TEST_F(PainterCore, TextStateSurvivesSaveAndRestore) {
  TPDFStructure pool;
  int32_t next = 0;
  pool.OnGetObjectNumber = [&](TPDFStructure*, TPDFObject*, int32_t& n, int32_t& g) {
    n = ++next;
    g = 0;
  };
  TPDFFont font(&pool, "PavonaF00000001");
  font.CreateStandardFont("Helvetica", 5);
  painter.SetFont(&font, 14);
  painter.SetTextColor(1, 0.5, 0);
  EXPECT_EQ(painter.GetTextColorText(), "#FF8000");
  painter.SetCharSpacing(0.5);
  painter.SetTextRise(2);
  painter.SetTextAlignment(2);
  painter.SetDecorationKind(1);
  painter.SetDecorationWidth(3);
  const std::string saved = painter.SaveTextState();
  painter.ResetState();
  painter.ResetTextState();
  painter.SetFont(nullptr, 0);
  painter.RestoreTextState(saved, [&](int32_t number) { return number == font.GetObjectNumber() ? &font : nullptr; });
  EXPECT_EQ(painter.GetFont(), &font);
  EXPECT_EQ(painter.GetFontSize(), 14);
  EXPECT_EQ(painter.GetTextAlignment(), 2);
  EXPECT_EQ(painter.SaveTextState(), saved);
  // Garbage is ignored.
  painter.RestoreTextState("1\t2\t", nullptr);
  EXPECT_EQ(painter.SaveTextState(), saved);
}

}  // namespace
