#include "render/PavonaGlyphCache.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>

#include "platform/Cairo.h"
#include "render/PavonaFontRasterizer.h"

namespace {

// Matrix parts are keyed in 1/64 device pixel per 1000 glyph units: a glyph
// drawn through the rounded matrix differs from the exact one by far less
// than the anti-aliasing's own steps.
constexpr double kMatrixSteps = 64.0 * 1000.0;
constexpr int kFormatA8 = 2;  // cairo's 8-bit alpha format

std::atomic<uint64_t> nextFontId{1};

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

uint64_t NewGlyphCacheFontId() { return nextFontId.fetch_add(1, std::memory_order_relaxed); }

// ---------------------------------------------------------------------------
// TPDFOutlineRecorder

void TPDFOutlineRecorder::MoveTo(double x, double y) {
  Segments.push_back(Seg{Op::Move, {x}, {y}});
  curX_ = x, curY_ = y;
}

void TPDFOutlineRecorder::LineTo(double x, double y) {
  Segments.push_back(Seg{Op::Line, {x}, {y}});
  curX_ = x, curY_ = y;
}

void TPDFOutlineRecorder::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  Segments.push_back(Seg{Op::Curve, {x1, x2, x3}, {y1, y2, y3}});
  curX_ = x3, curY_ = y3;
}

void TPDFOutlineRecorder::QuadraticCurveTo(double cx, double cy, double x, double y) {
  // The cubic with the same curve, as the page canvas makes it.
  const double c1x = curX_ + (cx - curX_) * 2.0 / 3.0, c1y = curY_ + (cy - curY_) * 2.0 / 3.0;
  const double c2x = cx + (x - cx) / 3.0, c2y = cy + (y - cy) / 3.0;
  CurveTo(c1x, c1y, c2x, c2y, x, y);
}

void TPDFOutlineRecorder::ClosePath() { Segments.push_back(Seg{Op::Close, {}, {}}); }

bool TPDFOutlineRecorder::Bounds(double& minX, double& minY, double& maxX, double& maxY) const {
  bool any = false;
  minX = minY = maxX = maxY = 0;
  for (const Seg& s : Segments) {
    const int n = s.op == Op::Curve ? 3 : s.op == Op::Close ? 0 : 1;
    for (int i = 0; i < n; ++i) {
      if (!any) {
        minX = maxX = s.x[i], minY = maxY = s.y[i];
        any = true;
      } else {
        minX = std::min(minX, s.x[i]), maxX = std::max(maxX, s.x[i]);
        minY = std::min(minY, s.y[i]), maxY = std::max(maxY, s.y[i]);
      }
    }
  }
  return any;
}

// ---------------------------------------------------------------------------
// TPDFGlyphCache

size_t TPDFGlyphCache::KeyHash::operator()(const Key& k) const {
  size_t h = std::hash<std::string>()(k.glyph);
  auto mix = [&h](uint64_t v) { h ^= std::hash<uint64_t>()(v) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
  mix(k.font);
  for (int32_t v : k.m) mix(static_cast<uint32_t>(v));
  mix(static_cast<uint64_t>(static_cast<uint8_t>(k.phaseX)) << 8 | static_cast<uint8_t>(k.phaseY));
  return h;
}

TPDFGlyphCache::TPDFGlyphCache(size_t budgetBytes) : budget_(budgetBytes) {}

void TPDFGlyphCache::Clear() {
  index_.clear();
  entries_.clear();
  used_ = 0;
}

void TPDFGlyphCache::SetBudget(size_t budgetBytes) {
  budget_ = budgetBytes;
  evict();
}

void TPDFGlyphCache::evict() {
  // The newest entry (the one just made) always stays.
  while (used_ > budget_ && entries_.size() > 1) {
    Entry& last = entries_.back();
    used_ -= last.bytes;
    index_.erase(last.key);
    entries_.pop_back();
  }
}

bool TPDFGlyphCache::Rasterize(TCairoDLL& cairo, const TPDFOutlineRecorder& outline, double dx, double dy,
                               TPDFGlyphMask& mask) {
  if (mask.Empty()) return true;
  using Op = TPDFOutlineRecorder::Op;
  auto* surface = cairo.cairo_image_surface_create_for_data(mask.Bits.data(), kFormatA8, mask.Width, mask.Height,
                                                            mask.Stride);
  if (!surface) return false;
  if (cairo.cairo_surface_status(surface) != cairo_rt::CAIRO_STATUS_SUCCESS) {
    cairo.cairo_surface_destroy(surface);
    return false;
  }
  auto* cr = cairo.cairo_create(surface);
  // The default source is opaque black: the alpha channel takes the coverage.
  cairo.cairo_set_fill_rule(cr, cairo_rt::CAIRO_FILL_RULE_WINDING);
  for (const auto& s : outline.Segments) {
    switch (s.op) {
      case Op::Move: cairo.cairo_move_to(cr, s.x[0] + dx, s.y[0] + dy); break;
      case Op::Line: cairo.cairo_line_to(cr, s.x[0] + dx, s.y[0] + dy); break;
      case Op::Curve:
        cairo.cairo_curve_to(cr, s.x[0] + dx, s.y[0] + dy, s.x[1] + dx, s.y[1] + dy, s.x[2] + dx, s.y[2] + dy);
        break;
      case Op::Close: cairo.cairo_close_path(cr); break;
    }
  }
  cairo.cairo_fill(cr);
  const bool ok = cairo.cairo_status(cr) == cairo_rt::CAIRO_STATUS_SUCCESS;
  cairo.cairo_destroy(cr);
  cairo.cairo_surface_flush(surface);
  cairo.cairo_surface_destroy(surface);
  return ok;
}

const TPDFGlyphMask* TPDFGlyphCache::Find(TCairoDLL& cairo, uint64_t fontId, TPDFFontRasterizer& rasterizer,
                                          std::string_view glyphKey, const TPDFMatrix& matrix, double x, double y,
                                          int32_t& originX, int32_t& originY, int32_t areaWidth, int32_t areaHeight) {
  // A rasterizer scales glyph units (the offset included) by its glyph
  // scale before the matrix: the origin lands where it would draw it.
  const double k = rasterizer.GetGlyphScale();
  if (!(std::isfinite(k) && k > 0)) return nullptr;
  // A glyph whose em alone exceeds the mask limit is never cached.
  const double emX = (std::fabs(matrix.a) + std::fabs(matrix.c)) * 1000 * k;
  const double emY = (std::fabs(matrix.b) + std::fabs(matrix.d)) * 1000 * k;
  if (!(emX <= kMaxGlyphPixels && emY <= kMaxGlyphPixels)) return nullptr;  // also NaN
  TPDFPoint origin;
  MatrixTransformPoint(matrix, TPDFPoint{x * k, y * k}, origin);
  // Far off the page (or not finite): the outline path copes with it.
  if (!(std::fabs(origin.x) < 1e7 && std::fabs(origin.y) < 1e7)) return nullptr;
  const int64_t qx = std::llround(origin.x * kPhasesX), qy = std::llround(origin.y * kPhasesY);
  const int64_t px = floorDiv(qx, kPhasesX), py = floorDiv(qy, kPhasesY);

  Key& key = probe_;
  key.font = fontId;
  const double parts[4] = {matrix.a, matrix.b, matrix.c, matrix.d};
  for (int i = 0; i < 4; ++i) key.m[i] = static_cast<int32_t>(std::lround(parts[i] * kMatrixSteps));
  key.phaseX = static_cast<int8_t>(qx - px * kPhasesX);
  key.phaseY = static_cast<int8_t>(qy - py * kPhasesY);
  key.glyph.assign(glyphKey);
  originX = static_cast<int32_t>(px);
  originY = static_cast<int32_t>(py);

  auto found = index_.find(key);
  if (found != index_.end()) {
    ++hits_;
    entries_.splice(entries_.begin(), entries_, found->second);
    const Entry& e = *found->second;
    return e.tooLarge ? nullptr : &e.mask;
  }
  ++misses_;

  // The outline through the rounded matrix, the origin at its phase.
  const TPDFMatrix rounded{key.m[0] / kMatrixSteps, key.m[1] / kMatrixSteps, key.m[2] / kMatrixSteps,
                           key.m[3] / kMatrixSteps, double(key.phaseX) / kPhasesX, double(key.phaseY) / kPhasesY};
  recorder_.BeginPath();
  rasterizer.DrawGlyph(&recorder_, rounded, glyphKey, 0, 0);

  Entry entry;
  entry.key = key;
  double minX, minY, maxX, maxY;
  if (recorder_.Bounds(minX, minY, maxX, maxY)) {
    const double left = std::floor(minX), top = std::floor(minY);
    const double right = std::ceil(maxX), bottom = std::ceil(maxY);
    if (!(right - left <= kMaxGlyphPixels && bottom - top <= kMaxGlyphPixels)) {
      entry.tooLarge = true;
    } else if (areaWidth > 0 && areaHeight > 0 &&
               (px + right <= 0 || py + bottom <= 0 || px + left >= areaWidth || py + top >= areaHeight)) {
      static const TPDFGlyphMask kNothingShows;
      return &kNothingShows;
    } else {
      TPDFGlyphMask& mask = entry.mask;
      mask.Left = static_cast<int32_t>(left);
      mask.Top = static_cast<int32_t>(top);
      mask.Width = std::max<int32_t>(1, static_cast<int32_t>(right - left));
      mask.Height = std::max<int32_t>(1, static_cast<int32_t>(bottom - top));
      mask.Stride = (mask.Width + 3) & ~3;
      mask.Bits.assign(static_cast<size_t>(mask.Stride) * mask.Height, 0);
      if (!Rasterize(cairo, recorder_, -left, -top, mask)) return nullptr;
    }
  }
  entry.bytes = sizeof(Entry) + entry.key.glyph.capacity() + entry.mask.Bits.capacity() + 64;  // 64: the index node
  used_ += entry.bytes;
  entries_.push_front(std::move(entry));
  index_.emplace(entries_.front().key, entries_.begin());
  evict();
  const Entry& e = entries_.front();
  return e.tooLarge ? nullptr : &e.mask;
}
