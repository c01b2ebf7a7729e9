// Shapes, arcs and their pixels: operator text checked line by line, and a
// page of shapes drawn by pdftoppm with the pixels checked where the shapes lie.
#include <gtest/gtest.h>

#include <cmath>

#include "PainterTestSupport.h"
#include "pages/PavonaPainter.h"

namespace {

using pvltest::TTestPdf;

using pvltest::ContentLines;
std::vector<std::string> Lines(const std::string& c) { return ContentLines(c); }

// Numbers of an operator line (the operator dropped).
std::vector<double> Numbers(const std::string& line) {
  std::vector<double> out;
  size_t pos = 0;
  while (pos < line.size()) {
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    std::string token = line.substr(pos, end - pos);
    if (!token.empty() && (std::isdigit(static_cast<unsigned char>(token[0])) || token[0] == '-'))
      out.push_back(std::stod(token));
    pos = end + 1;
  }
  return out;
}

class PainterShapes : public ::testing::Test {
protected:
  void SetUp() override {
    painter.SetPrecision(4);
    painter.Reset();
    painter.DiscardPendingState();
  }
  TPDFPainter painter;
};

TEST_F(PainterShapes, Boxes) {
  painter.DrawBox(true, false, 10, 100, 50, 20);
  painter.DrawBox(false, false, 10, 100, 50, 20);
  EXPECT_EQ(Lines(painter.Content()), (std::vector<std::string>{"10 80 50 20 re", "f", "10 80 50 20 re", "n"}));
}

TEST_F(PainterShapes, RoundedBoxWritesItsStateAlwaysAndLimitsRadiiInTheXYForm) {
  painter.DrawRoundedBox(true, true, 0, 100, 100, 50, 10);
  auto lines = Lines(painter.Content());
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[0], "0 0 0 RG");
  EXPECT_EQ(lines[1], "1 1 1 rg");
  EXPECT_EQ(lines[2], "1 w");
  EXPECT_EQ(lines[3], "0 60 m");
  EXPECT_EQ(lines[5], "90 50 l");
  EXPECT_EQ(lines[11], "0 60 l");
  EXPECT_EQ(lines[12], "B");
  painter.SetContent("");
  painter.DrawRoundedBoxXY(false, true, 0, 100, 20, 50, 30, 5);
  lines = Lines(painter.Content());
  // rx limited to 10: the bottom edge runs from 10 to 10.
  EXPECT_EQ(lines[3], "0 55 m");
  EXPECT_EQ(lines[5], "10 50 l");
  EXPECT_EQ(lines.back(), "S");
}

TEST_F(PainterShapes, EllipseHasFourCurvesAndNoClose) {
  painter.DrawEllipse(true, false, 50, 50, 40, 20);
  auto lines = Lines(painter.Content());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "30 50 m");
  EXPECT_EQ(lines[4], "38.9543 60 30 55.5228 30 50 c");
  EXPECT_EQ(lines[5], "f");
}

TEST_F(PainterShapes, ArcsAreSplitIntoQuarterSegmentsOnTheCircle) {
  painter.AddArc(false, false, 0, 0, 10, 0, 360, true, false);
  auto lines = Lines(painter.Content());
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "0 10 m");
  EXPECT_EQ(lines[1], "5.5228 10 10 5.5228 10 0 c");
  EXPECT_EQ(lines[4], "-10 5.5228 -5.5228 10 0 10 c");
  EXPECT_EQ(lines[5], "S");

  struct Case {
    double start, end;
    size_t segments;
  };
  for (const Case& c : {Case{0, 100, 2}, Case{30, 30, 1}, Case{90, 45, 1}, Case{0, 1e12, 40}}) {
    painter.SetContent("");
    painter.AddArc(true, true, 100, 100, 50, c.start, c.end, false, false);
    lines = Lines(painter.Content());
    ASSERT_EQ(lines.size(), c.segments + 4) << c.start << " " << c.end;
    EXPECT_EQ(lines[0], "100 100 m");
    EXPECT_EQ(lines[lines.size() - 2], "h");
    EXPECT_EQ(lines.back(), "f");
    // Every curve ends on the circle.
    for (size_t i = 2; i < 2 + c.segments; ++i) {
      auto n = Numbers(lines[i]);
      ASSERT_EQ(n.size(), 6u);
      EXPECT_NEAR(std::hypot(n[4] - 100, n[5] - 100), 50, 1e-3);
    }
  }
}

TEST_F(PainterShapes, EllipticalArcEndsOnTheEllipse) {
  painter.AddArcBetweenPoints(false, false, 0, 0, 200, 100, 0, 90, true, false);
  auto lines = Lines(painter.Content());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0 50 m");
  auto n = Numbers(lines[1]);
  EXPECT_NEAR(n[4], 100, 1e-3);
  EXPECT_NEAR(n[5], 0, 1e-3);
  // A flat ellipse draws nothing.
  painter.SetContent("");
  painter.AddArcBetweenPoints(false, false, 0, 0, 0, 100, 0, 90, true, false);
  EXPECT_TRUE(painter.Content().empty());
}

TEST(PainterPage, ShapesLandWherePlacedAndTheFileIsClean) {
  if (!pvltest::HaveTool("pdftoppm") || !pvltest::HaveTool("qpdf")) GTEST_SKIP() << "peer tools missing";
  TTestPdf pdf;
  TPDFPainter painter;
  painter.SetPrecision(4);
  painter.Reset();
  painter.SetFillColor(1, 0, 0);
  painter.DrawBox(true, false, 10, 190, 50, 40);  // red box from (10,150) to (60,190)
  painter.SetFillColor(0, 0, 1);
  painter.DrawEllipse(true, false, 150, 50, 60, 60);  // blue disc around (150,50)
  painter.SetFillColor(0, 1, 0);
  painter.AddArc(true, true, 150, 150, 40, 0, 90, false, false);  // green quarter pie, upper right of (150,150)
  painter.SetLineColor(0, 0, 0);
  painter.SetLineWidth(4);
  painter.DrawLine(10, 20, 100, 20);
  painter.SaveState();
  painter.MoveTo(0, 0);
  painter.LineTo(10, 0);
  painter.LineTo(10, 10);
  painter.ClosePath();
  painter.ClipPath();
  painter.RestoreState();
  pvltest::TempDir dir;
  pvltest::WriteFile(dir.File("shapes.pdf"), pdf.Write(painter.GetContent(), 200, 200, {}, {}));
  auto check = pvltest::RunCommand({"qpdf", "--check", dir.File("shapes.pdf")});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  pvltest::TRenderedPage page;
  ASSERT_TRUE(pvltest::RenderPage(dir.File("shapes.pdf"), dir.File("shapes"), page));
  ASSERT_EQ(page.width, 200);
  auto at = [&](int x, int y) { return page.At(x, 200 - y); };  // PDF y up
  EXPECT_EQ(at(35, 170), (std::array<int, 3>{255, 0, 0}));
  EXPECT_EQ(at(5, 170), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(at(150, 50), (std::array<int, 3>{0, 0, 255}));
  EXPECT_EQ(at(150, 85), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(at(170, 170), (std::array<int, 3>{0, 255, 0}));
  EXPECT_EQ(at(130, 170), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(at(130, 130), (std::array<int, 3>{255, 255, 255}));
  EXPECT_EQ(at(50, 20), (std::array<int, 3>{0, 0, 0}));
  EXPECT_EQ(at(50, 26), (std::array<int, 3>{255, 255, 255}));
}

}  // namespace
