// The abstract vector drawing target of every drawing in the engine, and the
// path command list that glyph decoders record outlines into.
#pragma once

#include <cstdint>
#include <vector>

#include "graphics/PavonaMatrix.h"
#include "platform/Bitmap.h"

// Device-space canvas: all coordinates are device units; the canvas does no
// transformation of its own. Colours, line settings, fill rule and clipping
// are set through each back-end's own operations.
class TPDFGenericCanvas {
public:
  virtual ~TPDFGenericCanvas() = default;
  virtual void BeginPath() = 0;
  virtual void MoveTo(double x, double y) = 0;
  virtual void LineTo(double x, double y) = 0;
  virtual void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  virtual void QuadraticCurveTo(double cx, double cy, double x, double y) = 0;
  virtual void ClosePath() = 0;
  virtual void StrokePath() = 0;
  virtual void FillPath() = 0;
  // Fills, then strokes, the same path.
  virtual void FillAndStrokePath() = 0;
  // Draws the image into the parallelogram whose upper-left, upper-right and
  // lower-left corners land on (x0, y0), (x1, y1) and (x2, y2).
  virtual void DrawImage(const TGraphic& image, double x0, double y0, double x1, double y1, double x2, double y2) = 0;
};

// Command kinds; each equals the position of the canvas operation that
// replays it.
enum TPDFShapeCommandKind : uint8_t {
  sckBeginPath = 0,
  sckMoveTo = 1,
  sckLineTo = 2,
  sckCurveTo = 3,
  sckQuadTo = 4,
  sckClosePath = 5,
  sckStroke = 6,
  sckFill = 7,
  sckFillAndStroke = 8
};

struct TPDFShapeCommand {
  uint8_t kind = 0;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0;
};

// Growable list of path commands. Grows in steps of 20 records: glyph
// outlines are short and one shape is built per glyph.
class TPDFGenericShape {
public:
  TPDFGenericShape();
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3);
  void QuadTo(double cx, double cy, double x, double y);
  void ClosePath();

  int Count() const { return count_; }
  int Capacity() const { return capacity_; }
  const TPDFShapeCommand& Command(int index) const { return commands_.at(static_cast<size_t>(index)); }

private:
  // Returns the slot for a new command of the given kind; point slots the
  // kind does not use keep what they held.
  TPDFShapeCommand& Append(uint8_t kind);

  std::vector<TPDFShapeCommand> commands_;
  int count_ = 0;
  int capacity_ = 0;
};

// Replays a shape onto a canvas, every point mapped through M.
void DrawShapeOnCanvas(TPDFGenericCanvas& canvas, const TPDFGenericShape& shape, const TPDFMatrix& M);
