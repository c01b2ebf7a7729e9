#include "graphics/PavonaGenericCanvas.h"

namespace {
constexpr int kShapeGrowth = 20;
}

TPDFGenericShape::TPDFGenericShape() : commands_(kShapeGrowth), capacity_(kShapeGrowth) {}

TPDFShapeCommand& TPDFGenericShape::Append(uint8_t kind) {
  TPDFShapeCommand& slot = commands_[static_cast<size_t>(count_)];
  slot.kind = kind;
  ++count_;
  if (count_ == capacity_) {
    capacity_ += kShapeGrowth;
    commands_.resize(static_cast<size_t>(capacity_));
  }
  return commands_[static_cast<size_t>(count_ - 1)];
}

void TPDFGenericShape::MoveTo(double x, double y) {
  TPDFShapeCommand& c = Append(sckMoveTo);
  c.x1 = x;
  c.y1 = y;
}

void TPDFGenericShape::LineTo(double x, double y) {
  TPDFShapeCommand& c = Append(sckLineTo);
  c.x1 = x;
  c.y1 = y;
}

void TPDFGenericShape::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  TPDFShapeCommand& c = Append(sckCurveTo);
  c.x1 = x1;
  c.y1 = y1;
  c.x2 = x2;
  c.y2 = y2;
  c.x3 = x3;
  c.y3 = y3;
}

void TPDFGenericShape::QuadTo(double cx, double cy, double x, double y) {
  TPDFShapeCommand& c = Append(sckQuadTo);
  c.x1 = cx;
  c.y1 = cy;
  c.x2 = x;
  c.y2 = y;
}

void TPDFGenericShape::ClosePath() { Append(sckClosePath); }

void DrawShapeOnCanvas(TPDFGenericCanvas& canvas, const TPDFGenericShape& shape, const TPDFMatrix& M) {
  auto map = [&M](double x, double y) {
    TPDFPoint p;
    MatrixTransformPoint(M, TPDFPoint{x, y}, p);
    return p;
  };
  for (int i = 0; i < shape.Count(); ++i) {
    const TPDFShapeCommand& c = shape.Command(i);
    switch (c.kind) {
      case sckBeginPath: canvas.BeginPath(); break;
      case sckMoveTo: {
        TPDFPoint p = map(c.x1, c.y1);
        canvas.MoveTo(p.x, p.y);
        break;
      }
      case sckLineTo: {
        TPDFPoint p = map(c.x1, c.y1);
        canvas.LineTo(p.x, p.y);
        break;
      }
      case sckCurveTo: {
        TPDFPoint p1 = map(c.x1, c.y1), p2 = map(c.x2, c.y2), p3 = map(c.x3, c.y3);
        canvas.CurveTo(p1.x, p1.y, p2.x, p2.y, p3.x, p3.y);
        break;
      }
      case sckQuadTo: {
        TPDFPoint cp = map(c.x1, c.y1), p = map(c.x2, c.y2);
        canvas.QuadraticCurveTo(cp.x, cp.y, p.x, p.y);
        break;
      }
      case sckClosePath: canvas.ClosePath(); break;
      case sckStroke: canvas.StrokePath(); break;
      case sckFill: canvas.FillPath(); break;
      case sckFillAndStroke: canvas.FillAndStrokePath(); break;
      default: break;  // unknown kinds are skipped
    }
  }
}
