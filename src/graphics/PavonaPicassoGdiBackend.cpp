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
    SetPolyFillMode(dc, PolyFillMode(FillRule()));
    HGDIOBJ oldBrush = nullptr, oldPen = nullptr;
    HBRUSH brush = nullptr;
    HPEN pen = nullptr;
    if (what != PaintKind::Stroke) {
      brush = CreateSolidBrush(FillColor());
      oldBrush = SelectObject(dc, brush);
    } else {
      oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    }
    if (what != PaintKind::Fill) {
      pen = CreateStrokePen();
      oldPen = SelectObject(dc, pen);
      ::SetMiterLimit(dc, static_cast<float>(std::max(1.0, MiterLimit())), nullptr);
    } else {
      oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    }
    Replay(dc, recorded_.Segments());
    if (what == PaintKind::Fill)
      ::FillPath(dc);
    else if (what == PaintKind::Stroke)
      ::StrokePath(dc);
    else
      ::StrokeAndFillPath(dc);
    if (ClipPending()) {
      SetPolyFillMode(dc, PolyFillMode(ClipRule()));
      Replay(dc, recorded_.Segments());
      SelectClipPath(dc, RGN_AND);
      CommitClip(ClipPath{recorded_.Segments(), ClipRule(), {}});
    }
    if (oldPen) SelectObject(dc, oldPen);
    if (oldBrush) SelectObject(dc, oldBrush);
    if (pen) DeleteObject(pen);
    if (brush) DeleteObject(brush);
    recorded_.Clear();
  }

  void EndPathNoPaint() override {
    if (ClipPending()) {
      if (HDC dc = DC()) {
        SetPolyFillMode(dc, PolyFillMode(ClipRule()));
        Replay(dc, recorded_.Segments());
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
      Replay(dc, c.path);
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

  // The pen of the stroke: the width, dash lengths (in lengths of the width),
  // caps and joins.
  HPEN CreateStrokePen() const {
    const double lineWidth = LineWidth();
    long width = RoundHalfEven(lineWidth);
    if (width <= 0) return CreatePen(PS_SOLID, 0, StrokeColor());
    const int cap = LineCap(), join = LineJoin();
    DWORD style = PS_GEOMETRIC;
    style |= cap == 1 ? PS_ENDCAP_ROUND : cap == 2 ? PS_ENDCAP_SQUARE : PS_ENDCAP_FLAT;
    style |= join == 1 ? PS_JOIN_ROUND : join == 2 ? PS_JOIN_BEVEL : PS_JOIN_MITER;
    std::vector<DWORD> entries;
    for (float d : Dashes()) entries.push_back(static_cast<DWORD>(std::max(0L, RoundHalfEven(d * lineWidth))));
    bool dashed = !entries.empty() && entries.size() <= 16;
    style |= dashed ? PS_USERSTYLE : PS_SOLID;
    LOGBRUSH lb{BS_SOLID, StrokeColor() & 0xFFFFFF, 0};
    return ExtCreatePen(style, static_cast<DWORD>(width), &lb, dashed ? static_cast<DWORD>(entries.size()) : 0,
                        dashed ? entries.data() : nullptr);
  }

  // Sets the path on the device context, at whole device units.
  static void Replay(HDC dc, const Path& path) {
    ::BeginPath(dc);
    for (const Seg& s : path) {
      switch (s.op) {
        case Op::Move: MoveToEx(dc, RoundHalfEven(s.x[0]), RoundHalfEven(s.y[0]), nullptr); break;
        case Op::Line: ::LineTo(dc, RoundHalfEven(s.x[0]), RoundHalfEven(s.y[0])); break;
        case Op::Curve: {
          POINT pts[3];
          for (int i = 0; i < 3; ++i)
            pts[i] = POINT{int32_t(RoundHalfEven(s.x[i])), int32_t(RoundHalfEven(s.y[i]))};
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
