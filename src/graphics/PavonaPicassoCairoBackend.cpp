// The cairo back-end of TPDFPicasso: anti-aliased drawing on the pixels of a
// device context with cairo loaded at run time.
#include <algorithm>
#include <cmath>

#include "graphics/PavonaPicassoBackend.h"
#include "platform/Cairo.h"

namespace {

int CairoCap(int cap) {
  return cap == 1 ? cairo_rt::CAIRO_LINE_CAP_ROUND : cap == 2 ? cairo_rt::CAIRO_LINE_CAP_SQUARE : cairo_rt::CAIRO_LINE_CAP_BUTT;
}
int CairoJoin(int join) {
  return join == 1 ? cairo_rt::CAIRO_LINE_JOIN_ROUND
                   : join == 2 ? cairo_rt::CAIRO_LINE_JOIN_BEVEL : cairo_rt::CAIRO_LINE_JOIN_MITER;
}
int CairoFillRule(TFillRule rule) {
  return rule == frNonZero ? cairo_rt::CAIRO_FILL_RULE_WINDING : cairo_rt::CAIRO_FILL_RULE_EVEN_ODD;
}

class TPicassoCairo final : public TPicassoBackend {
public:
  TPicassoCairo(TPDFPicasso& owner, std::unique_ptr<TCairoDLL> library, HDC dc, cairo_rt::cairo_surface_t* surface,
                int width, int height)
      : TPicassoBackend(owner), cairo_(std::move(library)), dc_(dc), surface_(surface), width_(width), height_(height) {
    cr_ = cairo_->cairo_create(surface_);
  }

  ~TPicassoCairo() override {
    if (cr_) cairo_->cairo_destroy(cr_);
    if (surface_) {
      cairo_->cairo_surface_flush(surface_);
      cairo_->cairo_surface_destroy(surface_);
    }
    if (dc_) ReleaseDCSurface(dc_);
  }

  void ClearToWhite() {
    cairo_->cairo_set_source_rgba(cr_, 1, 1, 1, 1);
    cairo_->cairo_paint(cr_);
  }

  void BeginPath() override {
    recorded_.Clear();
    cairo_->cairo_new_path(cr_);
  }
  void MoveTo(double x, double y) override {
    recorded_.MoveTo(x, y);
    cairo_->cairo_move_to(cr_, x, y);
  }
  void LineTo(double x, double y) override {
    recorded_.LineTo(x, y);
    cairo_->cairo_line_to(cr_, x, y);
  }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    recorded_.CurveTo(x1, y1, x2, y2, x3, y3);
    cairo_->cairo_curve_to(cr_, x1, y1, x2, y2, x3, y3);
  }
  void ClosePath() override {
    recorded_.ClosePath();
    cairo_->cairo_close_path(cr_);
  }

  void Paint(PaintKind what) override {
    const double inv = 1.0 / 255.0;
    bool keep = ClipPending();
    if (what != PaintKind::Stroke) {
      const TColor fill = FillColor();
      cairo_->cairo_set_source_rgba(cr_, GetRValue(fill) * inv, GetGValue(fill) * inv, GetBValue(fill) * inv,
                                    FillAlpha());
      cairo_->cairo_set_fill_rule(cr_, CairoFillRule(FillRule()));
      // The stroke (or the clip) needs the same path afterwards.
      if (what == PaintKind::FillStroke || keep)
        cairo_->cairo_fill_preserve(cr_);
      else
        cairo_->cairo_fill(cr_);
    }
    if (what != PaintKind::Fill) {
      const TColor stroke = StrokeColor();
      cairo_->cairo_set_source_rgba(cr_, GetRValue(stroke) * inv, GetGValue(stroke) * inv, GetBValue(stroke) * inv,
                                    StrokeAlpha());
      const double lineWidth = LineWidth();
      double width = lineWidth > 0 ? lineWidth : 1.0;  // zero width: the thinnest line
      cairo_->cairo_set_line_width(cr_, width);
      cairo_->cairo_set_line_cap(cr_, CairoCap(LineCap()));
      cairo_->cairo_set_line_join(cr_, CairoJoin(LineJoin()));
      cairo_->cairo_set_miter_limit(cr_, MiterLimit());
      std::vector<double> dashes;
      double unit = lineWidth > 0 ? lineWidth : 1.0;
      double total = 0;
      for (float d : Dashes()) {
        dashes.push_back(std::max(0.0, double(d) * unit));
        total += dashes.back();
      }
      if (total > 0)
        cairo_->cairo_set_dash(cr_, dashes.data(), static_cast<int>(dashes.size()), DashPhase() * unit);
      else
        cairo_->cairo_set_dash(cr_, nullptr, 0, 0);
      cairo_->cairo_stroke(cr_);
      // cairo_stroke drops the path the clip needs: replay it.
      if (keep) Replay(recorded_.Segments());
    }
    if (keep) {
      cairo_->cairo_set_fill_rule(cr_, CairoFillRule(ClipRule()));
      cairo_->cairo_clip(cr_);
      CommitClip(ClipPath{recorded_.Segments(), ClipRule(), {}});
    }
    cairo_->cairo_new_path(cr_);
    recorded_.Clear();
  }

  void EndPathNoPaint() override {
    if (ClipPending()) {
      Replay(recorded_.Segments());
      cairo_->cairo_set_fill_rule(cr_, CairoFillRule(ClipRule()));
      cairo_->cairo_clip(cr_);
      CommitClip(ClipPath{recorded_.Segments(), ClipRule(), {}});
    }
    cairo_->cairo_new_path(cr_);
    recorded_.Clear();
  }

  void ApplyClip(const std::vector<ClipPath>& clips) override {
    cairo_->cairo_reset_clip(cr_);
    for (const ClipPath& c : clips) {
      Replay(c.path);
      cairo_->cairo_set_fill_rule(cr_, CairoFillRule(c.rule));
      cairo_->cairo_clip(cr_);
    }
    cairo_->cairo_new_path(cr_);
  }

  void DrawPicture(TBitmap& picture, const double pts[6], const ColorKey* key) override {
    if (key) ApplyColorKey(picture, *key);
    const int w = picture.Width(), h = picture.Height();
    cairo_rt::cairo_matrix_t m{(pts[2] - pts[0]) / w, (pts[3] - pts[1]) / w, (pts[4] - pts[0]) / h,
                               (pts[5] - pts[1]) / h, pts[0], pts[1]};
    double det = m.xx * m.yy - m.xy * m.yx;
    if (!std::isfinite(det) || std::fabs(det) < 1e-12) return;  // a flat parallelogram: nothing to draw
    auto* s = cairo_->cairo_image_surface_create_for_data(picture.Bits(), cairo_rt::CAIRO_FORMAT_ARGB32, w, h,
                                                          picture.Stride());
    cairo_->cairo_save(cr_);
    cairo_->cairo_transform(cr_, &m);
    cairo_->cairo_set_source_surface(cr_, s, 0, 0);
    // Enlarged pictures keep sharp pixels, as PDF viewers draw them.
    bool enlarged = std::fabs(det) > 1.0;
    cairo_->cairo_pattern_set_filter(cairo_->cairo_get_source(cr_),
                                     enlarged ? cairo_rt::CAIRO_FILTER_NEAREST : cairo_rt::CAIRO_FILTER_GOOD);
    cairo_->cairo_pattern_set_extend(cairo_->cairo_get_source(cr_), cairo_rt::CAIRO_EXTEND_PAD);
    cairo_->cairo_new_path(cr_);
    cairo_->cairo_rectangle(cr_, 0, 0, w, h);
    cairo_->cairo_fill(cr_);
    cairo_->cairo_restore(cr_);
    cairo_->cairo_surface_destroy(s);
  }

  void FillMask(const uint8_t* bits, int width, int height, int stride, int x, int y) override {
    constexpr int kFormatA8 = 2;
    // cairo only reads the mask's pixels here.
    auto* mask =
        cairo_->cairo_image_surface_create_for_data(const_cast<uint8_t*>(bits), kFormatA8, width, height, stride);
    if (cairo_->cairo_surface_status(mask) == cairo_rt::CAIRO_STATUS_SUCCESS) {
      const double inv = 1.0 / 255.0;
      const TColor fill = FillColor();
      cairo_->cairo_set_source_rgba(cr_, GetRValue(fill) * inv, GetGValue(fill) * inv, GetBValue(fill) * inv,
                                    FillAlpha());
      cairo_->cairo_mask_surface(cr_, mask, x, y);
    }
    cairo_->cairo_surface_destroy(mask);
  }

  TCairoDLL* CairoLibrary() const override { return cairo_.get(); }

  bool MaskArea(int& width, int& height) const override {
    width = width_;
    height = height_;
    return true;
  }

private:
  void Replay(const Path& path) {
    cairo_->cairo_new_path(cr_);
    for (const Seg& s : path) {
      switch (s.op) {
        case Op::Move: cairo_->cairo_move_to(cr_, s.x[0], s.y[0]); break;
        case Op::Line: cairo_->cairo_line_to(cr_, s.x[0], s.y[0]); break;
        case Op::Curve: cairo_->cairo_curve_to(cr_, s.x[0], s.y[0], s.x[1], s.y[1], s.x[2], s.y[2]); break;
        case Op::Close: cairo_->cairo_close_path(cr_); break;
      }
    }
  }

  std::unique_ptr<TCairoDLL> cairo_;
  HDC dc_ = nullptr;
  cairo_rt::cairo_surface_t* surface_ = nullptr;
  cairo_rt::cairo_t* cr_ = nullptr;
  int width_ = 0, height_ = 0;  // the surface's pixels
  // The path as built, replayed to take a clip from it after painting.
  TPicassoRecordedPath recorded_;
};

}  // namespace

std::unique_ptr<TPicassoBackend> CreateCairoBackend(TPDFPicasso& owner, std::unique_ptr<TCairoDLL> library, HDC dc,
                                                    const TGdiSurface& surface, bool clearToWhite) {
  auto* s = library->cairo_image_surface_create_for_data(surface.data, cairo_rt::CAIRO_FORMAT_ARGB32, surface.width,
                                                         surface.height, surface.stride);
  if (library->cairo_surface_status(s) != cairo_rt::CAIRO_STATUS_SUCCESS) {
    library->cairo_surface_destroy(s);
    return nullptr;
  }
  auto backend = std::make_unique<TPicassoCairo>(owner, std::move(library), dc, s, surface.width, surface.height);
  if (clearToWhite) backend->ClearToWhite();
  return backend;
}
