#include "graphics/PavonaMatrix.h"

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
