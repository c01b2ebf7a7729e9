// Outline comparison between our glyph decoders and FreeType's unhinted,
// unscaled outlines (the oracle), shared by the Type 1 and CFF tests.
#pragma once

#include <string>
#include <vector>

#include "graphics/PavonaGenericCanvas.h"

namespace glyphoracle {

struct Segment {
  bool cubic = false;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x = 0, y = 0;  // line: only x, y
};
struct Contour {
  double sx = 0, sy = 0;
  std::vector<Segment> segs;
};
using Outline = std::vector<Contour>;

// Records the path operations a decoder draws.
class RecordingCanvas : public TPDFGenericCanvas {
public:
  void BeginPath() override {}
  void MoveTo(double x, double y) override;
  void LineTo(double x, double y) override;
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override;
  void QuadraticCurveTo(double cx, double cy, double x, double y) override;
  void ClosePath() override;
  void StrokePath() override {}
  void FillPath() override {}
  void FillAndStrokePath() override {}
  void DrawImage(const TGraphic&, double, double, double, double, double, double) override {}

  // Contours with implicit closing lines made explicit, zero-length lines
  // and empty contours dropped.
  Outline Result() const;
  void Clear() { raw_.clear(); }

private:
  std::vector<Contour> raw_;
};

// Brings both sides to the same form: explicit closing line, no zero-length
// lines, no empty contours.
Outline Normalize(const Outline& in);
// Empty when equal within tol per coordinate; else a description of the first difference.
std::string Compare(const Outline& ours, const Outline& theirs, double tol);

// FreeType's view of one font file (or memory font).
class FreeTypeFont {
public:
  explicit FreeTypeFont(const std::string& bytes);
  ~FreeTypeFont();
  bool Ok() const { return face_ != nullptr; }
  int GlyphCount() const;
  std::string GlyphName(int gid) const;
  int IndexOfName(const std::string& name) const;
  // Unscaled, unhinted outline and advance of a glyph; false when it does not load.
  bool Load(int gid, Outline& outline, double& advance) const;

private:
  std::string bytes_;
  void* library_ = nullptr;
  void* face_ = nullptr;
};

}  // namespace glyphoracle
