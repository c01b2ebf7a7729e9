// The GDI back-end of TPDFPicasso: our GDI layer (src/platform/Gdi.cpp) on a
// canvas's device context or on a bare one. A metafile device context has no
// pixels, so a page recorded as a metafile is drawn here too: every call
// below is recorded by the metafile.
#include <algorithm>
#include <cmath>

#include "graphics/PavonaPicassoBackend.h"

namespace {

long RoundHalfEven(double v) { return std::lrint(v); }

// Longest side of a bitmap GDI is asked to convert (the drawing library's limit).
constexpr int kMaxPictureSide = 32767;

int PolyFillMode(TFillRule rule) { return rule == frNonZero ? WINDING : ALTERNATE; }

class TPicassoGdi final : public TPicassoBackend {
public:
  TPicassoGdi(TPDFPicasso& owner, TCanvas* canvas, HDC dc) : TPicassoBackend(owner), canvas_(canvas), dc_(dc) {}

  void BeginPath() override { recorded_.Clear(); }
  void MoveTo(double x, double y) override { recorded_.MoveTo(x, y); }
  void LineTo(double x, double y) override { recorded_.LineTo(x, y); }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    recorded_.CurveTo(x1, y1, x2, y2, x3, y3);
  }
  void ClosePath() override { recorded_.ClosePath(); }

  void Paint(PaintKind what) override {
    HDC dc = DC();
    if (!dc) return;
    const bool fill = what != PaintKind::Stroke, stroke = what != PaintKind::Fill;
    const int fillAlpha = fill ? Opacity(FillAlpha()) : 0, strokeAlpha = stroke ? Opacity(StrokeAlpha()) : 0;
    if ((!fill || fillAlpha == 255) && (!stroke || strokeAlpha == 255)) {
      PaintOn(dc, what, 0, 0, FillColor(), StrokeColor());
    } else {
      // GDI paints opaque: a part with constant alpha is painted into a
      // coverage mask and blended from it, and a fully transparent part
      // paints nothing. A device without pixels (a metafile) records the
      // part opaque, as GDI draws it.
      int width = 0, height = 0;
      const bool pixels = DeviceSize(dc, width, height);
      for (PaintKind part : {PaintKind::Fill, PaintKind::Stroke}) {
        const int alpha = part == PaintKind::Fill ? fillAlpha : strokeAlpha;
        if (alpha == 0) continue;
        if (alpha == 255 || !pixels)
          PaintOn(dc, part, 0, 0, FillColor(), StrokeColor());
        else
          Blend(dc, part, alpha, width, height);
      }
    }
    if (ClipPending()) {
      SetPolyFillMode(dc, PolyFillMode(ClipRule()));
      Replay(dc, recorded_.Segments(), 0, 0);
      SelectClipPath(dc, RGN_AND);
      CommitClip(ClipPath{recorded_.Segments(), ClipRule(), {}});
    }
    recorded_.Clear();
  }

  void EndPathNoPaint() override {
    if (ClipPending()) {
      if (HDC dc = DC()) {
        SetPolyFillMode(dc, PolyFillMode(ClipRule()));
        Replay(dc, recorded_.Segments(), 0, 0);
        SelectClipPath(dc, RGN_AND);
      }
      CommitClip(ClipPath{recorded_.Segments(), ClipRule(), {}});
    }
    recorded_.Clear();
  }

  void ApplyClip(const std::vector<ClipPath>& clips) override {
    HDC dc = DC();
    if (!dc) return;
    SelectClipRgn(dc, nullptr);
    for (const ClipPath& c : clips) {
      SetPolyFillMode(dc, PolyFillMode(c.rule));
      Replay(dc, c.path, 0, 0);
      SelectClipPath(dc, RGN_AND);
    }
  }

  bool DrawBitmapAsIs(const TBitmap& bitmap, const double pts[6]) override {
    if (bitmap.PixelFormat() == TPixelFormat::pf32bit && bitmap.AlphaFormat() == TAlphaFormat::afPremultiplied)
      return false;
    // GDI converts any other bitmap to its drawing format once, as the
    // decoded picture would be: no intermediate copy.
    if (bitmap.Empty() || bitmap.Width() > kMaxPictureSide || bitmap.Height() > kMaxPictureSide) return true;
    Blit(bitmap, pts);
    return true;
  }

  void DrawPicture(TBitmap& picture, const double pts[6], const ColorKey* key) override {
    if (key) ApplyColorKey(picture, *key);
    Blit(picture, pts);
  }

  void DrawBitmap(const TBitmap& bitmap, double x, double y, double w, double h) override {
    RECT r{int32_t(RoundHalfEven(x)), int32_t(RoundHalfEven(y)), int32_t(RoundHalfEven(x + w)),
           int32_t(RoundHalfEven(y + h))};
    if (canvas_)
      canvas_->StretchDraw(r, bitmap);
    else if (dc_)
      StretchDIBits(dc_, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, bitmap.Width(), bitmap.Height(),
                    bitmap, SRCCOPY);
  }

private:
  HDC DC() const { return canvas_ ? canvas_->Handle() : dc_; }

  // Constant alpha as the 0..255 of a blend.
  static int Opacity(double alpha) {
    return std::isfinite(alpha) ? static_cast<int>(std::lrint(std::clamp(alpha, 0.0, 1.0) * 255)) : 255;
  }

  // The pixel size of the device; false when it has no pixels.
  static bool DeviceSize(HDC dc, int& width, int& height) {
    TGdiSurface surface;
    if (!GetDCSurface(dc, surface)) return false;
    ReleaseDCSurface(dc);
    width = surface.width, height = surface.height;
    return width > 0 && height > 0;
  }

  // Paints the recorded path moved by (-dx, -dy) with the state's brush and
  // pen in the given colours.
  void PaintOn(HDC dc, PaintKind what, long dx, long dy, TColor fillColor, TColor strokeColor) {
    SetPolyFillMode(dc, PolyFillMode(FillRule()));
    HGDIOBJ oldBrush = nullptr, oldPen = nullptr;
    HBRUSH brush = nullptr;
    HPEN pen = nullptr;
    if (what != PaintKind::Stroke) {
      brush = CreateSolidBrush(fillColor);
      oldBrush = SelectObject(dc, brush);
    } else {
      oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    }
    if (what != PaintKind::Fill) {
      pen = CreateStrokePen(strokeColor);
      oldPen = SelectObject(dc, pen);
      ::SetMiterLimit(dc, static_cast<float>(std::max(1.0, MiterLimit())), nullptr);
    } else {
      oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    }
    Replay(dc, recorded_.Segments(), dx, dy);
    if (what == PaintKind::Fill)
      ::FillPath(dc);
    else if (what == PaintKind::Stroke)
      ::StrokePath(dc);
    else
      ::StrokeAndFillPath(dc);
    if (oldPen) SelectObject(dc, oldPen);
    if (oldBrush) SelectObject(dc, oldBrush);
    if (pen) DeleteObject(pen);
    if (brush) DeleteObject(brush);
  }

  // Fills or strokes the path with constant alpha (1..254): the part is
  // painted white on black into a mask over the pixels it can reach, and
  // its colour is blended through that mask onto the device (whose clip
  // applies).
  void Blend(HDC dc, PaintKind part, int alpha, int deviceWidth, int deviceHeight) {
    const Path& path = recorded_.Segments();
    if (path.empty()) return;
    double left = HUGE_VAL, top = HUGE_VAL, right = -HUGE_VAL, bottom = -HUGE_VAL;
    for (const Seg& s : path) {
      const int points = s.op == Op::Curve ? 3 : s.op == Op::Close ? 0 : 1;
      for (int i = 0; i < points; ++i) {
        left = std::min(left, s.x[i]), right = std::max(right, s.x[i]);
        top = std::min(top, s.y[i]), bottom = std::max(bottom, s.y[i]);
      }
    }
    // A stroke reaches half the pen's width beyond the path, a mitred
    // corner up to the miter limit times that.
    const double reach =
        (part == PaintKind::Stroke ? std::max(1.0, LineWidth()) * std::max(1.0, MiterLimit()) / 2 : 0) + 2;
    if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(top) || !std::isfinite(bottom)) return;
    const long x0 = std::max(0L, static_cast<long>(std::floor(left - reach)));
    const long y0 = std::max(0L, static_cast<long>(std::floor(top - reach)));
    const long x1 = std::min(long(deviceWidth), static_cast<long>(std::ceil(right + reach)));
    const long y1 = std::min(long(deviceHeight), static_cast<long>(std::ceil(bottom + reach)));
    if (x1 <= x0 || y1 <= y0) return;
    const int w = int(x1 - x0), h = int(y1 - y0);
    TBitmap mask(w, h, TPixelFormat::pf24bit);  // black
    {
      HDC maskDC = CreateBitmapDC(mask);
      if (!maskDC) return;
      // The part in white: its colour comes from the blend below.
      PaintOn(maskDC, part, x0, y0, 0xFFFFFF, 0xFFFFFF);
      GdiFlushDC(maskDC);
      DeleteDC(maskDC);
    }
    const TColor color = part == PaintKind::Fill ? FillColor() : StrokeColor();
    TBitmap picture(w, h, TPixelFormat::pf32bit);
    picture.SetAlphaFormat(TAlphaFormat::afPremultiplied);
    for (int y = 0; y < h; ++y) {
      const uint8_t* m = mask.ScanLine(y);
      uint8_t* p = picture.ScanLine(y);
      for (int x = 0; x < w; ++x, m += 3, p += 4) {
        const uint32_t k = m[2];  // red of the mask
        p[0] = uint8_t((GetBValue(color) * k + 127) / 255), p[1] = uint8_t((GetGValue(color) * k + 127) / 255);
        p[2] = uint8_t((GetRValue(color) * k + 127) / 255), p[3] = uint8_t(k);
      }
    }
    BLENDFUNCTION blend;
    blend.BlendOp = AC_SRC_OVER;
    blend.SourceConstantAlpha = static_cast<BYTE>(alpha);
    blend.AlphaFormat = AC_SRC_ALPHA;
    AlphaBlend(dc, int(x0), int(y0), w, h, picture, 0, 0, w, h, blend);
  }

  // The pen of the stroke: the width, dash lengths (in lengths of the width),
  // caps and joins.
  HPEN CreateStrokePen(TColor color) const {
    const double lineWidth = LineWidth();
    long width = RoundHalfEven(lineWidth);
    if (width <= 0) return CreatePen(PS_SOLID, 0, color);
    const int cap = LineCap(), join = LineJoin();
    DWORD style = PS_GEOMETRIC;
    style |= cap == 1 ? PS_ENDCAP_ROUND : cap == 2 ? PS_ENDCAP_SQUARE : PS_ENDCAP_FLAT;
    style |= join == 1 ? PS_JOIN_ROUND : join == 2 ? PS_JOIN_BEVEL : PS_JOIN_MITER;
    std::vector<DWORD> entries;
    for (float d : Dashes()) entries.push_back(static_cast<DWORD>(std::max(0L, RoundHalfEven(d * lineWidth))));
    bool dashed = !entries.empty() && entries.size() <= 16;
    style |= dashed ? PS_USERSTYLE : PS_SOLID;
    LOGBRUSH lb{BS_SOLID, color & 0xFFFFFF, 0};
    return ExtCreatePen(style, static_cast<DWORD>(width), &lb, dashed ? static_cast<DWORD>(entries.size()) : 0,
                        dashed ? entries.data() : nullptr);
  }

  // Sets the path, moved by (-dx, -dy), on the device context at whole
  // device units.
  static void Replay(HDC dc, const Path& path, long dx, long dy) {
    ::BeginPath(dc);
    for (const Seg& s : path) {
      switch (s.op) {
        case Op::Move:
          MoveToEx(dc, RoundHalfEven(s.x[0]) - dx, RoundHalfEven(s.y[0]) - dy, nullptr);
          break;
        case Op::Line:
          ::LineTo(dc, RoundHalfEven(s.x[0]) - dx, RoundHalfEven(s.y[0]) - dy);
          break;
        case Op::Curve: {
          POINT pts[3];
          for (int i = 0; i < 3; ++i)
            pts[i] = POINT{int32_t(RoundHalfEven(s.x[i]) - dx), int32_t(RoundHalfEven(s.y[i]) - dy)};
          PolyBezierTo(dc, pts, 3);
          break;
        }
        case Op::Close: CloseFigure(dc); break;
      }
    }
    ::EndPath(dc);
  }

  // The bitmap onto the parallelogram of three points.
  void Blit(const TBitmap& bitmap, const double pts[6]) {
    HDC dc = DC();
    if (!dc) return;
    POINT p[3];
    for (int i = 0; i < 3; ++i)
      p[i] = POINT{int32_t(RoundHalfEven(pts[2 * i])), int32_t(RoundHalfEven(pts[2 * i + 1]))};
    PlgBlt(dc, p, bitmap, 0, 0, bitmap.Width(), bitmap.Height());
  }

  TCanvas* canvas_;
  HDC dc_;
  // The path as built, replayed for painting and clipping.
  TPicassoRecordedPath recorded_;
};

}  // namespace

std::unique_ptr<TPicassoBackend> CreateGdiBackend(TPDFPicasso& owner, TCanvas* canvas, HDC dc) {
  return std::make_unique<TPicassoGdi>(owner, canvas, dc);
}
