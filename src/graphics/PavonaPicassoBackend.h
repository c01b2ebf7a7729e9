// The private drawing interface behind TPDFPicasso. Each back-end (GDI, GDI+,
// the HTML5 canvas script, cairo, and the renderer's EPS output) is one class
// that implements it, so a back-end's drawing code lives in one place instead
// of in a branch of every canvas method. TPDFPicasso keeps the state every
// back-end shares (colours, line settings, fill rule, the current point, the
// clip list and its saved copies) and hands the back-end the operations; a
// back-end reads that state through the accessors here and keeps its own
// device objects.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/PavonaPicasso.h"

struct TGdiSurface;

// Source pixels whose colour lies within [Low, High] (GDI+ colour values) are
// transparent. SourceWidth and SourceHeight: the part of the picture the key
// was given for (0: all of it).
struct TPDFPicasso::TColorKey {
  uint32_t Low = 0, High = 0;
  int SourceWidth = 0, SourceHeight = 0;
};

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
  using ColorKey = TPDFPicasso::TColorKey;

  // Path construction in device coordinates. The current point (CurrentX,
  // CurrentY) is where the new segment starts: TPDFPicasso moves it on after
  // the call.
  virtual void BeginPath() = 0;
  virtual void MoveTo(double x, double y) = 0;
  virtual void LineTo(double x, double y) = 0;
  virtual void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  // By default the cubic with the same curve.
  virtual void QuadraticCurveTo(double cx, double cy, double x, double y);
  virtual void ClosePath() = 0;
  // The fill rule was set (back-ends that keep it in their path object).
  virtual void FillRuleChanged() {}
  // Paints the current path; a pending clip is taken from it afterwards.
  virtual void Paint(PaintKind what) = 0;
  // Ends the path without painting; a pending clip is taken from it.
  virtual void EndPathNoPaint() = 0;

  // Saved clips, addressed by position. By default the shared clip list is
  // saved, and a saved copy is set on the device again through ApplyClip; a
  // back-end that can keep its device's clip itself saves that instead.
  // PushSavedClip is false when the clip cannot be kept.
  virtual bool PushSavedClip();
  virtual size_t SavedClipCount() const;
  virtual void SelectSavedClip(size_t index);
  // Drops the clips saved after this one.
  virtual void DropSavedClipsAfter(size_t index);
  // Replaces the device's clip by the intersection of these paths.
  virtual void ApplyClip(const std::vector<ClipPath>& /*clips*/) {}

  // Whether pictures reach the device at all (they are not decoded otherwise).
  virtual bool DrawsPictures() const { return true; }
  // Draws a bitmap in the format it has, where the back-end converts it
  // better itself than through a premultiplied copy; false leaves it to
  // DrawPicture.
  virtual bool DrawBitmapAsIs(const TBitmap& /*bitmap*/, const double /*pts*/[6]) { return false; }
  // Draws a premultiplied 32-bit picture (of at least one pixel) onto the
  // parallelogram of three points, with the colour key if there is one.
  virtual void DrawPicture(TBitmap& picture, const double pts[6], const ColorKey* key) = 0;
  // Draws a decoded picture into the rectangle; by default onto its corners.
  virtual void DrawPictureRect(TBitmap& picture, double x, double y, double w, double h);
  // Draws a bitmap into the rectangle (back-ends with a bitmap operation).
  virtual void DrawBitmap(const TBitmap& /*bitmap*/, double /*x*/, double /*y*/, double /*w*/, double /*h*/) {}
  // A coverage mask in the fill colour (back-ends that rasterise glyph masks).
  virtual void FillMask(const uint8_t* /*bits*/, int /*width*/, int /*height*/, int /*stride*/, int /*x*/,
                        int /*y*/) {}
  // The loaded drawing library masks are rasterised with, if any.
  virtual TCairoDLL* CairoLibrary() const { return nullptr; }
  // The device pixels [0, width) x [0, height) a mask can show in; false
  // when the back-end draws no masks.
  virtual bool MaskArea(int& /*width*/, int& /*height*/) const { return false; }
  // Ends the page (back-ends that write a document around the drawing).
  virtual void EndPage(int /*width*/, int /*height*/) {}

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
  TFillRule FillRule() const { return owner_.fillRule_; }
  double CurrentX() const { return owner_.curX_; }
  double CurrentY() const { return owner_.curY_; }
  bool ClipPending() const { return owner_.clipPending_; }
  // The rule of the pending clip.
  TFillRule ClipRule() const { return owner_.clipRule_; }
  // The pending clip was set on the device.
  void ClipTaken() {
    owner_.currentClip_ = TClipToken{};
    owner_.clipPending_ = false;
  }
  // Records a clip just set on the device as the newest part of the clip list.
  void CommitClip(ClipPath clip) {
    owner_.clip_.push_back(std::move(clip));
    ClipTaken();
  }
  // Makes the keyed pixels of a premultiplied 32-bit picture transparent.
  static void ApplyColorKey(TBitmap& picture, const ColorKey& key);

private:
  TPDFPicasso& owner_;
};

// A path kept as it is built, to replay it for painting and for taking a clip
// from it.
class TPicassoRecordedPath {
public:
  using Op = TPicassoBackend::Op;
  using Seg = TPicassoBackend::Seg;

  void Clear() { segments_.clear(); }
  void MoveTo(double x, double y) { segments_.push_back(Seg{Op::Move, {x}, {y}}); }
  void LineTo(double x, double y) { segments_.push_back(Seg{Op::Line, {x}, {y}}); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    segments_.push_back(Seg{Op::Curve, {x1, x2, x3}, {y1, y2, y3}});
  }
  void ClosePath() { segments_.push_back(Seg{Op::Close, {}, {}}); }
  bool Empty() const { return segments_.empty(); }
  const TPicassoBackend::Path& Segments() const { return segments_; }

private:
  TPicassoBackend::Path segments_;
};

// The back-ends attached by TPDFPicasso.
// Draws nothing (no device attached).
std::unique_ptr<TPicassoBackend> CreateNullBackend(TPDFPicasso& owner);
// GDI on the canvas's device context, or on dc when there is no canvas.
std::unique_ptr<TPicassoBackend> CreateGdiBackend(TPDFPicasso& owner, TCanvas* canvas, HDC dc);
// GDI+ drawing in place on the device context's pixels, with the quality of
// the settings. It owns the start token (0: GDI+ was started by someone
// else) and stops GDI+ when destroyed; nullptr (GDI+ stopped again) when it
// cannot reach the pixels.
std::unique_ptr<TPicassoBackend> CreateGdiPlusBackend(TPDFPicasso& owner, const TGDIPlusSettings& settings, HDC dc,
                                                      uintptr_t startToken);
// The HTML5 canvas script written to the stream; writes the page head.
std::unique_ptr<TPicassoBackend> CreateHtmlBackend(TPDFPicasso& owner, TStream& stream);
// cairo drawing on the device context's pixels (surface) with the loaded
// library; nullptr when cairo cannot draw on them.
std::unique_ptr<TPicassoBackend> CreateCairoBackend(TPDFPicasso& owner, std::unique_ptr<TCairoDLL> library, HDC dc,
                                                    const TGdiSurface& surface, bool clearToWhite);
