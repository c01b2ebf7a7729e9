#include "graphics/PavonaMatrix.h"

#include <cmath>
#include <initializer_list>

void MatrixMultiply(TPDFMatrix& result, const TPDFMatrix& M1, const TPDFMatrix& M2) {
  const TPDFMatrix m1 = M1, m2 = M2;  // copies: result may alias an operand
  result.a = m1.a * m2.a + m1.b * m2.c;
  result.b = m1.a * m2.b + m1.b * m2.d;
  result.c = m1.c * m2.a + m1.d * m2.c;
  result.d = m1.c * m2.b + m1.d * m2.d;
  result.e = m1.e * m2.a + m1.f * m2.c + m2.e;
  result.f = m1.e * m2.b + m1.f * m2.d + m2.f;
}

void MatrixTransformPoint(const TPDFMatrix& M, const TPDFPoint& P, TPDFPoint& result) {
  const TPDFPoint p = P;
  result.x = M.a * p.x + M.c * p.y + M.e;
  result.y = M.b * p.x + M.d * p.y + M.f;
}

TPDFBox MatrixTransformBox(const TPDFMatrix& M, double x1, double y1, double x2, double y2) {
  TPDFBox box;
  const TPDFPoint corners[4] = {{x1, y1}, {x1, y2}, {x2, y1}, {x2, y2}};
  for (int i = 0; i < 4; ++i) {
    TPDFPoint p;
    MatrixTransformPoint(M, corners[i], p);
    if (i == 0 || p.x < box.x1) box.x1 = p.x;
    if (i == 0 || p.x > box.x2) box.x2 = p.x;
    if (i == 0 || p.y < box.y1) box.y1 = p.y;
    if (i == 0 || p.y > box.y2) box.y2 = p.y;
  }
  return box;
}

bool TImageCorners::Finite() const {
  for (double v : {x0, y0, x1, y1, x2, y2})
    if (!std::isfinite(v)) return false;
  return true;
}

TImageCorners ImageCornersOf(const double m[6]) {
  return TImageCorners{m[2] + m[4], m[3] + m[5], m[0] + m[2] + m[4], m[1] + m[3] + m[5], m[4], m[5]};
}
