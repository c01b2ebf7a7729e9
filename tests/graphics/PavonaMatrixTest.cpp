#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"
#include "graphics/PavonaMatrix.h"

namespace {

// Canvas that writes every call as text, to check replay order and points.
class RecordingCanvas : public TPDFGenericCanvas {
public:
  std::vector<std::string> calls;
  void BeginPath() override { calls.push_back("begin"); }
  void MoveTo(double x, double y) override { Add("m", {x, y}); }
  void LineTo(double x, double y) override { Add("l", {x, y}); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    Add("c", {x1, y1, x2, y2, x3, y3});
  }
  void QuadraticCurveTo(double cx, double cy, double x, double y) override { Add("q", {cx, cy, x, y}); }
  void ClosePath() override { calls.push_back("h"); }
  void StrokePath() override { calls.push_back("S"); }
  void FillPath() override { calls.push_back("f"); }
  void FillAndStrokePath() override { calls.push_back("B"); }
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override { calls.push_back("img"); }

private:
  void Add(const char* op, std::vector<double> v) {
    std::string s = op;
    for (double d : v) s += " " + std::to_string(static_cast<int>(d));
    calls.push_back(s);
  }
};

}  // namespace

TEST(PavonaMatrix, MultiplyAppliesFirstOperandFirstAndMayAlias) {
  const TPDFMatrix scale{2, 0, 0, 3, 0, 0}, move{1, 0, 0, 1, 10, 20};
  TPDFMatrix r;
  MatrixMultiply(r, scale, move);  // scale, then translate
  TPDFPoint p;
  MatrixTransformPoint(r, TPDFPoint{1, 1}, p);
  EXPECT_EQ(p, (TPDFPoint{12, 23}));
  MatrixMultiply(r, move, scale);  // translate, then scale
  MatrixTransformPoint(r, TPDFPoint{1, 1}, p);
  EXPECT_EQ(p, (TPDFPoint{22, 63}));

  const TPDFMatrix m{0.5, 1.5, -2, 4, 7, -3};
  TPDFMatrix a = m;
  MatrixMultiply(a, a, IdentityMatrix);
  EXPECT_EQ(a, m);
  MatrixMultiply(a, IdentityMatrix, a);
  EXPECT_EQ(a, m);
  TPDFMatrix sq = m, expect;
  MatrixMultiply(expect, m, m);
  MatrixMultiply(sq, sq, sq);  // both operands alias the result
  EXPECT_EQ(sq, expect);
  // A rotation by 90 degrees: (1, 0) -> (0, 1).
  MatrixTransformPoint(TPDFMatrix{0, 1, -1, 0, 0, 0}, TPDFPoint{1, 0}, p);
  EXPECT_EQ(p, (TPDFPoint{0, 1}));
}

TEST(PavonaGenericShape, GrowsByTwentyAndReplaysThroughTheMatrix) {
  TPDFGenericShape shape;
  EXPECT_EQ(shape.Capacity(), 20);
  RecordingCanvas empty;
  DrawShapeOnCanvas(empty, shape, IdentityMatrix);
  EXPECT_TRUE(empty.calls.empty());
  for (int i = 0; i < 19; ++i) shape.LineTo(i, i);
  EXPECT_EQ(shape.Capacity(), 20);
  shape.LineTo(19, 19);  // the 20th command
  EXPECT_EQ(shape.Capacity(), 40);
  EXPECT_EQ(shape.Count(), 20);

  TPDFGenericShape glyph;
  glyph.MoveTo(1, 2);
  glyph.LineTo(3, 4);
  glyph.CurveTo(1, 1, 2, 2, 3, 3);
  glyph.QuadTo(5, 6, 7, 8);
  glyph.ClosePath();
  RecordingCanvas c;
  DrawShapeOnCanvas(c, glyph, TPDFMatrix{10, 0, 0, -10, 100, 200});
  std::vector<std::string> expect = {"m 110 180", "l 130 160", "c 110 190 120 180 130 170", "q 150 140 170 120", "h"};
  EXPECT_EQ(c.calls, expect);
}
