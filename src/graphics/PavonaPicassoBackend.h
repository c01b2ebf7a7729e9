// The private drawing interface behind TPDFPicasso. Each back-end (cairo,
// and in time GDI, GDI+ and the HTML5 canvas script) is one class that
// implements it, so a back-end's drawing code lives in one place instead of
// in a branch of every canvas method. TPDFPicasso keeps the state every
// back-end shares (colours, line settings, fill rule, the clip list and its
// saved copies) and hands the back-end the operations; a back-end reads that
// state through the accessors here and keeps its own device objects.
#pragma once

#include <memory>
#include <vector>

#include "graphics/PavonaPicasso.h"

struct TGdiSurface;

class TPicassoBackend {
public:
  explicit TPicassoBackend(TPDFPicasso& owner) : owner_(owner) {}
  virtual ~TPicassoBackend() = default;
  TPicassoBackend(const TPicassoBackend&) = delete;
  TPicassoBackend& operator=(const TPicassoBackend&) = delete;

  using PaintKind = TPDFPicasso::TPaintKind;
  using Op = TPDFPicasso::Op;
  using Seg = TPDFPicasso::Seg;
  using Path = TPDFPicasso::Path;
  using ClipPath = TPDFPicasso::ClipPath;

  // Path construction in device coordinates.
  virtual void BeginPath() = 0;
  virtual void MoveTo(double x, double y) = 0;
  virtual void LineTo(double x, double y) = 0;
  virtual void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  virtual void ClosePath() = 0;
  // Paints the current path; a pending clip is taken from it afterwards.
  virtual void Paint(PaintKind what) = 0;
  // Ends the path without painting; a pending clip is taken from it.
  virtual void EndPathNoPaint() = 0;
  // Replaces the device's clip by the intersection of these paths.
  virtual void ApplyClip(const std::vector<ClipPath>& clips) = 0;
  // Draws a premultiplied 32-bit picture (colour key already applied) onto
  // the parallelogram of three points.
  virtual void DrawPicture(TBitmap& picture, const double pts[6]) = 0;
  // A coverage mask in the fill colour (back-ends that rasterise glyph masks).
  virtual void FillMask(const uint8_t* /*bits*/, int /*width*/, int /*height*/, int /*stride*/, int /*x*/,
                        int /*y*/) {}
  // The loaded drawing library masks are rasterised with, if any.
  virtual TCairoDLL* CairoLibrary() const { return nullptr; }

protected:
  // The shared drawing state.
  TColor FillColor() const { return owner_.fillColor_; }
  TColor StrokeColor() const { return owner_.strokeColor_; }
  double FillAlpha() const { return owner_.fillAlpha_; }
  double StrokeAlpha() const { return owner_.strokeAlpha_; }
  double LineWidth() const { return owner_.lineWidth_; }
  int LineCap() const { return owner_.lineCap_; }
  int LineJoin() const { return owner_.lineJoin_; }
  double MiterLimit() const { return owner_.miterLimit_; }
  const TGPDashArray& Dashes() const { return owner_.dashes_; }
  double DashPhase() const { return owner_.dashPhase_; }
  uint8_t FillRule() const { return owner_.fillRule_; }
  bool ClipPending() const { return owner_.clipPending_; }
  // Records a clip just set on the device as the newest part of the clip.
  void CommitClip(ClipPath clip) {
    owner_.clip_.push_back(std::move(clip));
    owner_.currentClip_ = 0;
    owner_.clipPending_ = false;
  }

private:
  TPDFPicasso& owner_;
};

// cairo drawing on the device context's pixels (surface) with the loaded
// library; nullptr when cairo cannot draw on them.
std::unique_ptr<TPicassoBackend> CreateCairoBackend(TPDFPicasso& owner, std::unique_ptr<TCairoDLL> library, HDC dc,
                                                    const TGdiSurface& surface, bool clearToWhite);
