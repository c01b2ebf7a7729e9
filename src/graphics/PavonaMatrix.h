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

// An axis-aligned box: x1 <= x2, y1 <= y2.
struct TPDFBox {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
};
// The smallest box holding the four corners of the rectangle (x1, y1) -
// (x2, y2) mapped through M.
TPDFBox MatrixTransformBox(const TPDFMatrix& M, double x1, double y1, double x2, double y2);

// Where an image matrix m (a b c d e f: unit square to device) puts a
// picture's top-left (0,1), top-right (1,1) and bottom-left (0,0) corners.
struct TImageCorners {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  // False when a corner is not a finite number: nothing can be drawn there.
  bool Finite() const;
};
TImageCorners ImageCornersOf(const double m[6]);
