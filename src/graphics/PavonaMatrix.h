// Six-number affine matrix in PDF order and the point map it stands for:
// x' = a*x + c*y + e, y' = b*x + d*y + f.
#pragma once

struct TPDFMatrix {
  double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  bool operator==(const TPDFMatrix&) const = default;
};

struct TPDFPoint {
  double x = 0, y = 0;
  bool operator==(const TPDFPoint&) const = default;
};

inline constexpr TPDFMatrix IdentityMatrix{1, 0, 0, 1, 0, 0};

// result := the map that applies M1 first and M2 second. result may be the
// same record as either operand.
void MatrixMultiply(TPDFMatrix& result, const TPDFMatrix& M1, const TPDFMatrix& M2);
// result := P mapped through M. result may be the same record as P.
void MatrixTransformPoint(const TPDFMatrix& M, const TPDFPoint& P, TPDFPoint& result);
