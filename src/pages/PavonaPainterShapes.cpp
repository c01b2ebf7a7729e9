// Closed shapes, arcs by cubic Bézier segments and image placement.
#include <algorithm>
#include <cmath>

#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"

namespace {

constexpr double kDegToRad = M_PI / 180.0;

const char* paintOperator(bool fill, bool stroke) {
  if (fill && stroke) return "B";
  if (fill) return "f";
  if (stroke) return "S";
  return "n";
}

}  // namespace

void TPDFPainter::DrawBox(bool fill, bool stroke, double left, double top, double width, double height) {
  writePendingShapeState(true);
  WriteOp(FormatNumber(left) + FormatNumber(top - height) + FormatNumber(width) + FormatNumber(height) + "re");
  WriteOp(paintOperator(fill, stroke));
  Changed();
  clearDirty(dFill | dStroke | dLineStyle | dDash);
  setDirty(dTextColor);
}

void TPDFPainter::writeRoundedBoxPath(double left, double top, double width, double height, double rx, double ry) {
  const double bottom = top - height, right = left + width;
  const double kx = rx * kKappa, ky = ry * kKappa;
  auto n = [this](double v) { return FormatNumber(v); };
  WriteOp(n(left) + n(bottom + ry) + "m");
  WriteOp(n(left) + n(bottom + ry - ky) + n(left + rx - kx) + n(bottom) + n(left + rx) + n(bottom) + "c");
  WriteOp(n(right - rx) + n(bottom) + "l");
  WriteOp(n(right - rx + kx) + n(bottom) + n(right) + n(bottom + ry - ky) + n(right) + n(bottom + ry) + "c");
  WriteOp(n(right) + n(top - ry) + "l");
  WriteOp(n(right) + n(top - ry + ky) + n(right - rx + kx) + n(top) + n(right - rx) + n(top) + "c");
  WriteOp(n(left + rx) + n(top) + "l");
  WriteOp(n(left + rx - kx) + n(top) + n(left) + n(top - ry + ky) + n(left) + n(top - ry) + "c");
  WriteOp(n(left) + n(bottom + ry) + "l");
}

void TPDFPainter::DrawRoundedBox(bool fill, bool stroke, double left, double top, double width, double height,
                                 double radius) {
  WriteOp(formatColor(strokeColor_, true));
  WriteOp(formatColor(fillColor_, false));
  WriteOp(formatLineStyle());
  if (dirty(dDash)) WriteOp(formatDash(dash_));
  writeRoundedBoxPath(left, top, width, height, radius, radius);
  WriteOp(paintOperator(fill, stroke));
  Changed();
  clearDirty(dDash);
  setDirty(dTextColor);
}

void TPDFPainter::DrawRoundedBoxXY(bool fill, bool stroke, double left, double top, double width, double height,
                                   double rx, double ry) {
  rx = std::min(rx, width / 2);
  ry = std::min(ry, height / 2);
  WriteOp(formatColor(strokeColor_, true));
  WriteOp(formatColor(fillColor_, false));
  WriteOp(formatLineStyle());
  if (dirty(dDash)) WriteOp(formatDash(dash_));
  writeRoundedBoxPath(left, top, width, height, rx, ry);
  WriteOp(paintOperator(fill, stroke));
  clearDirty(dDash);
  setDirty(dTextColor);
  if (OnChange) OnChange(this);
}

void TPDFPainter::writeEllipsePath(double cx, double cy, double width, double height) {
  const double rx = width / 2, ry = height / 2, kx = rx * kKappa, ky = ry * kKappa;
  auto n = [this](double v) { return FormatNumber(v); };
  WriteOp(n(cx - rx) + n(cy) + "m");
  WriteOp(n(cx - rx) + n(cy - ky) + n(cx - kx) + n(cy - ry) + n(cx) + n(cy - ry) + "c");
  WriteOp(n(cx + kx) + n(cy - ry) + n(cx + rx) + n(cy - ky) + n(cx + rx) + n(cy) + "c");
  WriteOp(n(cx + rx) + n(cy + ky) + n(cx + kx) + n(cy + ry) + n(cx) + n(cy + ry) + "c");
  WriteOp(n(cx - kx) + n(cy + ry) + n(cx - rx) + n(cy + ky) + n(cx - rx) + n(cy) + "c");
}

void TPDFPainter::DrawEllipse(bool fill, bool stroke, double cx, double cy, double width, double height) {
  writePendingShapeState(true);
  writeEllipsePath(cx, cy, width, height);
  WriteOp(paintOperator(fill, stroke));
  Changed();
  clearDirty(dFill | dStroke | dLineStyle | dDash);
  setDirty(dTextColor);
}

// Bézier segments of at most 90 degrees from start to end (degrees from the
// y axis towards the x axis) on a circle of radius rx, every y offset from
// the centre scaled by yScale (an ellipse when it is not 1).
void TPDFPainter::arcSegments(double cx, double cy, double rx, double yScale, double start, double end, bool pie) {
  const double p0x = cx + rx * std::sin(start * kDegToRad);
  const double p0y = cy + yScale * rx * std::cos(start * kDegToRad);
  if (pie) {
    MoveTo(cx, cy);
    LineTo(p0x, p0y);
  } else {
    MoveTo(p0x, p0y);
  }
  double sweep = end - start;
  double a1 = start;
  // A huge sweep would only retrace the circle; a few full turns are plenty.
  if (sweep > 3600) sweep = 3600;
  do {
    const double d = std::min(sweep, 90.0);
    const double a2 = a1 + d;
    const double ax = rx * std::sin(a1 * kDegToRad), ay = rx * std::cos(a1 * kDegToRad);
    const double bx = rx * std::sin(a2 * kDegToRad), by = rx * std::cos(a2 * kDegToRad);
    const double q1 = ax * ax + ay * ay;
    const double q2 = q1 + ax * bx + ay * by;
    const double cross = ax * by - ay * bx;
    // A zero-length segment has no tangent length to speak of.
    const double k = cross != 0 ? 4.0 / 3.0 * (std::sqrt(2 * q1 * q2) - q2) / cross : 0;
    CurveTo(cx + ax - k * ay, cy + yScale * (ay + k * ax), cx + bx + k * by, cy + yScale * (by - k * bx), cx + bx,
            cy + yScale * by);
    sweep -= d;
    a1 = a2;
  } while (sweep > 0);
}

void TPDFPainter::AddArc(bool pie, bool fill, double cx, double cy, double radius, double startAngle,
                         double endAngle, bool stroke, bool close) {
  arcSegments(cx, cy, radius, 1.0, startAngle, endAngle, pie);
  if (pie || close) ClosePath();
  PaintPath(fill, stroke);
  setDirty(dTextColor);
}

void TPDFPainter::AddArcBetweenPoints(bool pie, bool fill, double cx, double cy, double width, double height,
                                      double startAngle, double endAngle, bool stroke, bool close) {
  // A flat ellipse has no arc; nothing is drawn rather than dividing by zero.
  if (width == 0 || height == 0) return;
  const double ratio = height / width;
  auto parameter = [ratio](double theta, double upper) {
    double t = std::atan(std::tan(theta * kDegToRad) * ratio) / kDegToRad;
    if (theta > 90 && theta <= 270) t += 180;
    if (theta > 270 && theta <= upper) t += 360;
    return t;
  };
  const double t1 = parameter(startAngle, 360), t2 = parameter(endAngle, 460);
  arcSegments(cx, cy, width / 2, ratio, t1, t2, pie);
  if (pie || close) ClosePath();
  PaintPath(fill, stroke);
  setDirty(dTextColor);
}

void TPDFPainter::DrawImage(const TPDFImage& image, double left, double top, double width, double height) {
  WriteOp("q");
  if (image.GetMaskKind() == 1 && dirty(dFill)) WriteOp(formatColor(fillColor_, false));
  const double bottom = top - height;
  if (image.GetKind() == pdfikMetafile) {
    const double s = std::min(width, height);
    WriteOp(FormatNumber(s) + "0 0 " + FormatNumber(s) + FormatNumber(left) + FormatNumber(bottom) + "cm");
  } else {
    WriteOp(FormatNumber(width) + "0 0 " + FormatNumber(height) + FormatNumber(left) + FormatNumber(bottom) + "cm");
  }
  WriteOp("/" + image.GetResourceName() + " Do");
  WriteOp("Q");
  Changed();
}

void TPDFPainter::DrawImageMatrix(const TPDFImage& image, double left, double top, double width, double height,
                                  double skewX, double skewY) {
  const double bottom = top - height;
  WriteOp("q");
  WriteOp("1 " + FormatNumber(-skewX) + FormatNumber(-skewY) + "1 " + FormatNumber(left) + FormatNumber(bottom) +
          "cm");
  WriteOp(FormatNumber(width) + "0 0 " + FormatNumber(height) + "0 0 cm");
  WriteOp("/" + image.GetResourceName() + " Do");
  WriteOp("Q");
  if (OnChange) OnChange(this);
}
