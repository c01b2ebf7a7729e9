// The GDI+ back-end of TPDFPicasso: libgdiplus (bound by
// src/platform/GdiPlus.cpp) drawing in place on the premultiplied pixels of a
// device context. Its clip lives in the GDI+ graphics, so saved clips are
// GDI+ regions rather than copies of the clip list. libgdiplus takes a clip
// from a painted path by the rule that painting filled with, whatever the
// path's fill mode is then: a clip rule apart from the fill rule does not
// reach it.
#include <algorithm>
#include <cmath>

#include "graphics/PavonaPicassoBackend.h"

using namespace gdip;

namespace {

// GDI+ colour value: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7.
ARGB GdipColor(TColor color, double opacity) {
  double a = std::clamp(opacity, 0.0, 1.0) * 255;
  auto alpha = static_cast<uint32_t>(std::nearbyint(a));
  return (alpha << 24) | (uint32_t(GetRValue(color)) << 16) | (uint32_t(GetGValue(color)) << 8) | GetBValue(color);
}

int GdipFillMode(TFillRule rule) { return rule == frNonZero ? FillModeWinding : FillModeAlternate; }

class TPicassoGdiPlus final : public TPicassoBackend {
public:
  TPicassoGdiPlus(TPDFPicasso& owner, const TGDIPlusSettings& settings, uintptr_t token)
      : TPicassoBackend(owner), settings_(settings), token_(token) {
    savedRegions_.reserve(100);
  }

  ~TPicassoGdiPlus() override {
    if (path_) GdiPlus.GdipDeletePath(path_);
    for (GpRegion* r : savedRegions_) GdiPlus.GdipDeleteRegion(r);
    if (graphics_) GdiPlus.GdipDeleteGraphics(graphics_);
    if (target_) GdiPlus.GdipDisposeImage(target_);
    if (dc_) ReleaseDCSurface(dc_);
    if (token_) GdiPlusStop(token_);
  }

  // Draws on the device context's pixels from now on; false when it has none
  // GDI+ can reach.
  bool Attach(HDC dc) {
    TGdiSurface surface;
    if (!dc || !GetDCSurface(dc, surface)) return false;
    dc_ = dc;
    if (GdiPlus.GdipCreateBitmapFromScan0(surface.width, surface.height, surface.stride, PixelFormat32bppPARGB,
                                          surface.data, &target_) != 0 ||
        GdiPlus.GdipGetImageGraphicsContext(target_, &graphics_) != 0)
      return false;
    ApplyQuality(false);
    GdiPlus.GdipSetPageUnit(graphics_, UnitPixel);
    return true;
  }

  void BeginPath() override {
    if (path_) GdiPlus.GdipDeletePath(path_);
    path_ = nullptr;
    GdiPlus.GdipCreatePath(GdipFillMode(FillRule()), &path_);
  }
  void MoveTo(double, double) override {
    if (path_) GdiPlus.GdipStartPathFigure(path_);
  }
  void LineTo(double x, double y) override {
    if (path_) GdiPlus.GdipAddPathLine(path_, REAL(CurrentX()), REAL(CurrentY()), REAL(x), REAL(y));
  }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    if (path_)
      GdiPlus.GdipAddPathBezier(path_, REAL(CurrentX()), REAL(CurrentY()), REAL(x1), REAL(y1), REAL(x2), REAL(y2),
                                REAL(x3), REAL(y3));
  }
  void ClosePath() override {
    if (path_) GdiPlus.GdipClosePathFigure(path_);
  }
  void FillRuleChanged() override {
    if (!path_) return;
    if (FillRule() == frNonZero) GdiPlus.GdipSetPathFillMode(path_, FillModeWinding);
    if (FillRule() == frEvenOdd) GdiPlus.GdipSetPathFillMode(path_, FillModeAlternate);
  }

  void Paint(PaintKind what) override {
    if (!graphics_ || !path_) return;
    PadSingleSegment();
    GpPen* pen = what != PaintKind::Fill ? CreateStrokePen() : nullptr;
    GpBrush* brush = nullptr;
    if (what != PaintKind::Stroke) GdiPlus.GdipCreateSolidFill(GdipColor(FillColor(), FillAlpha()), &brush);
    if (brush) GdiPlus.GdipFillPath(graphics_, brush, path_);
    if (pen) {
      // libgdiplus ignores the pixel offset mode and moves anti-aliased lines
      // by half a pixel (GDI+'s "none" mode); shift them back so that
      // coordinates are pixel corners, as the half mode has it.
      if (smoothing_) GdiPlus.GdipTranslateWorldTransform(graphics_, -0.5f, -0.5f, 0);
      GdiPlus.GdipDrawPath(graphics_, pen, path_);
      if (smoothing_) GdiPlus.GdipResetWorldTransform(graphics_);
    }
    if (ClipPending()) {
      GdiPlus.GdipSetClipPath(graphics_, path_, CombineModeIntersect);
      ClipTaken();
    }
    if (pen) GdiPlus.GdipDeletePen(pen);
    if (brush) GdiPlus.GdipDeleteBrush(brush);
    GdiPlus.GdipDeletePath(path_);
    path_ = nullptr;
  }

  void EndPathNoPaint() override {
    if (!path_) return;
    PadSingleSegment();
    if (ClipPending() && graphics_) {
      GdiPlus.GdipSetClipPath(graphics_, path_, CombineModeIntersect);
      ClipTaken();
    }
    GdiPlus.GdipDeletePath(path_);
    path_ = nullptr;
  }

  bool PushSavedClip() override {
    GpRegion* region = nullptr;
    GdiPlus.GdipCreateRegion(&region);
    if (!region) return false;
    GdiPlus.GdipGetClip(graphics_, region);
    savedRegions_.push_back(region);  // the vector grows by itself
    return true;
  }
  size_t SavedClipCount() const override { return savedRegions_.size(); }
  void SelectSavedClip(size_t index) override {
    GdiPlus.GdipSetClipRegion(graphics_, savedRegions_[index], CombineModeReplace);
  }
  void DropSavedClipsAfter(size_t index) override {
    while (savedRegions_.size() > index + 1) {
      GdiPlus.GdipDeleteRegion(savedRegions_.back());
      savedRegions_.pop_back();
    }
  }

  void DrawPicture(TBitmap& picture, const double pts[6], const ColorKey* key) override {
    if (!graphics_) return;
    const int w = picture.Width(), h = picture.Height();
    GpBitmap* image = nullptr;
    if (GdiPlus.GdipCreateBitmapFromScan0(w, h, picture.Stride(), PixelFormat32bppPARGB, picture.Bits(), &image) != 0)
      return;
    GpPointF p[3] = {{REAL(pts[0]), REAL(pts[1])}, {REAL(pts[2]), REAL(pts[3])}, {REAL(pts[4]), REAL(pts[5])}};
    ApplyQuality(true);
    if (key) {
      GpImageAttributes* attributes = nullptr;
      GdiPlus.GdipCreateImageAttributes(&attributes);
      if (attributes) {
        GdiPlus.GdipSetImageAttributesColorKeys(attributes, ColorAdjustTypeBitmap, 1, key->Low, key->High);
        GdiPlus.GdipDrawImagePointsRect(graphics_, image, p, 3, 0, 0, REAL(key->SourceWidth > 0 ? key->SourceWidth : w),
                                        REAL(key->SourceHeight > 0 ? key->SourceHeight : h), UnitPixel, attributes,
                                        nullptr, nullptr);
        GdiPlus.GdipDisposeImageAttributes(attributes);
      }
    } else {
      GdiPlus.GdipDrawImagePoints(graphics_, image, p, 3);
    }
    ApplyQuality(false);
    GdiPlus.GdipDisposeImage(image);
  }

  void DrawPictureRect(TBitmap& picture, double x, double y, double w, double h) override {
    if (!graphics_) return;
    GpBitmap* image = nullptr;
    if (GdiPlus.GdipCreateBitmapFromScan0(picture.Width(), picture.Height(), picture.Stride(), PixelFormat32bppPARGB,
                                          picture.Bits(), &image) != 0)
      return;
    GdiPlus.GdipDrawImageRect(graphics_, image, REAL(x), REAL(y), REAL(w), REAL(h));
    GdiPlus.GdipDisposeImage(image);
  }

  void DrawBitmap(const TBitmap& bitmap, double x, double y, double w, double h) override {
    // Through the bitmap's BMP file, as a picture stream would be drawn.
    TBitmap picture;
    if (!DecodePicture(bitmap.SaveToBytes(), picture) || picture.Width() <= 0 || picture.Height() <= 0) return;
    DrawPictureRect(picture, x, y, w, h);
  }

private:
  void ApplyQuality(bool forImage) {
    if (!graphics_) return;
    bool smooth = forImage ? settings_.ImageQuality != 0 && settings_.AntiAlias != 0 : settings_.AntiAlias != 0;
    GdiPlus.GdipSetSmoothingMode(graphics_, smooth ? SmoothingModeAntiAlias : SmoothingModeNone);
    GdiPlus.GdipSetInterpolationMode(graphics_, smooth ? InterpolationModeBicubic : InterpolationModeNearestNeighbor);
    GdiPlus.GdipSetPixelOffsetMode(graphics_, PixelOffsetModeHalf);
    smoothing_ = smooth;
  }

  // A path of a single segment gets a second, empty one at its end, so that
  // GDI+ paints it (and its caps).
  void PadSingleSegment() {
    int count = 0;
    GdiPlus.GdipGetPointCount(path_, &count);
    if (count == 2)
      GdiPlus.GdipAddPathLine(path_, REAL(CurrentX()), REAL(CurrentY()), REAL(CurrentX()), REAL(CurrentY()));
  }

  // The pen of the stroke: width, dashes (in lengths of the width), joins and caps.
  GpPen* CreateStrokePen() const {
    GpPen* pen = nullptr;
    GdiPlus.GdipCreatePen1(GdipColor(StrokeColor(), StrokeAlpha()), REAL(LineWidth()), UnitPixel, &pen);
    const TGPDashArray& dashes = Dashes();
    if (!dashes.empty()) {
      GdiPlus.GdipSetPenDashArray(pen, dashes.data(), static_cast<int>(dashes.size()));
      GdiPlus.GdipSetPenDashOffset(pen, REAL(DashPhase()));
    }
    const int join = LineJoin(), cap = LineCap();
    if (join >= 0 && join <= 2)
      GdiPlus.GdipSetPenLineJoin(pen, join == 0 ? LineJoinMiter : join == 1 ? LineJoinRound : LineJoinBevel);
    if (cap >= 0 && cap <= 2) {
      int gdipCap = cap == 0 ? LineCapFlat : cap == 1 ? LineCapRound : LineCapSquare;
      GdiPlus.GdipSetPenStartCap(pen, gdipCap);
      GdiPlus.GdipSetPenEndCap(pen, gdipCap);
    }
    GdiPlus.GdipSetPenMiterLimit(pen, REAL(MiterLimit()));
    return pen;
  }

  TGDIPlusSettings settings_;
  uintptr_t token_;  // GDI+ started here (0: by someone else)
  HDC dc_ = nullptr;
  GpBitmap* target_ = nullptr;  // the device context's pixels
  GpGraphics* graphics_ = nullptr;
  bool smoothing_ = false;
  GpPath* path_ = nullptr;
  std::vector<GpRegion*> savedRegions_;
};

}  // namespace

std::unique_ptr<TPicassoBackend> CreateGdiPlusBackend(TPDFPicasso& owner, const TGDIPlusSettings& settings, HDC dc,
                                                      uintptr_t startToken) {
  auto backend = std::make_unique<TPicassoGdiPlus>(owner, settings, startToken);
  if (!backend->Attach(dc)) return nullptr;  // what was made is released, GDI+ stopped
  return backend;
}
