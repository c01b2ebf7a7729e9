#include "platform/Gdi.h"

#include "platform/EmfWriter.h"

#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Geometry recorded by paths and regions.

enum class SegKind : uint8_t { Move, Line, Curve, Close };
struct Segment {
  SegKind kind;
  double x[3], y[3];
};
using PathData = std::vector<Segment>;

void ReplayPath(cairo_t* cr, const PathData& path) {
  cairo_new_path(cr);
  for (const Segment& s : path) {
    switch (s.kind) {
      case SegKind::Move: cairo_move_to(cr, s.x[0], s.y[0]); break;
      case SegKind::Line: cairo_line_to(cr, s.x[0], s.y[0]); break;
      case SegKind::Curve: cairo_curve_to(cr, s.x[0], s.y[0], s.x[1], s.y[1], s.x[2], s.y[2]); break;
      case SegKind::Close: cairo_close_path(cr); break;
    }
  }
}

PathData RectPath(double l, double t, double r, double b) {
  return {Segment{SegKind::Move, {l}, {t}}, Segment{SegKind::Line, {r}, {t}}, Segment{SegKind::Line, {r}, {b}},
          Segment{SegKind::Line, {l}, {b}}, Segment{SegKind::Close, {}, {}}};
}

// One piece of a clip: an area bounded by a path under a fill rule.
struct ClipShape {
  PathData path;
  int fillMode = ALTERNATE;
};
// A region is the intersection of its shapes.
struct RegionData {
  std::vector<ClipShape> shapes;
};

// ---------------------------------------------------------------------------
// GDI objects.

enum class ObjKind { Pen, Brush, Region, DC };

struct GdiObject {
  explicit GdiObject(ObjKind k) : kind(k) {}
  virtual ~GdiObject() = default;
  ObjKind kind;
  bool stock = false;
  int selectedCount = 0;  // DCs that have it selected
};

struct PenObj : GdiObject {
  PenObj() : GdiObject(ObjKind::Pen) {}
  DWORD style = PS_SOLID;
  double width = 0;  // 0: cosmetic one pixel
  COLORREF color = 0;
  bool geometric = false;
  std::vector<double> dashes;
};

struct BrushObj : GdiObject {
  BrushObj() : GdiObject(ObjKind::Brush) {}
  bool hollow = false;
  COLORREF color = 0;
};

struct RegionObj : GdiObject {
  RegionObj() : GdiObject(ObjKind::Region) {}
  RegionData data;
};

struct DCState {
  uintptr_t pen = 0, brush = 0;
  int fillMode = ALTERNATE;
  double miterLimit = 10;
  POINT pos;
  std::optional<RegionData> clip;
};

// Premultiplied 32-bit pixels of a buffer that is written whole before it is
// read: allocated without being zeroed first (the conversion writes every
// byte), which on page-sized buffers saves a pass over the memory and half
// of the page faults.
using TPixelBuffer = std::unique_ptr<uint8_t[]>;
TPixelBuffer NewPixelBuffer(size_t bytes) { return TPixelBuffer(new uint8_t[bytes]); }

struct DCObj : GdiObject {
  DCObj() : GdiObject(ObjKind::DC) {}
  ~DCObj() override {
    if (cr) cairo_destroy(cr);
    if (surface) cairo_surface_destroy(surface);
  }
  TBitmap* bitmap = nullptr;
  bool inPlace = false;
  TPixelBuffer work;  // the 32-bit copy of a bitmap not drawn in place
  uint8_t* data = nullptr;
  int width = 0, height = 0, stride = 0;
  cairo_surface_t* surface = nullptr;
  cairo_t* cr = nullptr;

  DCState state;
  std::vector<DCState> saved;
  bool clipApplied = true;  // cairo's clip matches state.clip

  bool recording = false;  // between BeginPath and EndPath
  bool pathDefined = false;
  PathData path;

  // Metafile DCs: the writer that records the drawing (nothing is painted)
  // and the placeholder bitmap that carries the DC's state.
  TEmfWriter* emf = nullptr;
  std::unique_ptr<TBitmap> ownBitmap;
};

class Registry {
public:
  Registry() {
    auto addBrush = [&](int index, bool hollow, COLORREF c) {
      auto b = std::make_unique<BrushObj>();
      b->stock = true;
      b->hollow = hollow;
      b->color = c;
      stock_[index] = Add(std::move(b));
    };
    auto addPen = [&](int index, DWORD style, COLORREF c) {
      auto p = std::make_unique<PenObj>();
      p->stock = true;
      p->style = style;
      p->color = c;
      stock_[index] = Add(std::move(p));
    };
    addBrush(WHITE_BRUSH, false, 0xFFFFFF);
    addBrush(LTGRAY_BRUSH, false, 0xC0C0C0);
    addBrush(GRAY_BRUSH, false, 0x808080);
    addBrush(DKGRAY_BRUSH, false, 0x404040);
    addBrush(BLACK_BRUSH, false, 0);
    addBrush(NULL_BRUSH, true, 0);
    addPen(WHITE_PEN, PS_SOLID, 0xFFFFFF);
    addPen(BLACK_PEN, PS_SOLID, 0);
    addPen(NULL_PEN, PS_NULL, 0);
  }
  uintptr_t Add(std::unique_ptr<GdiObject> obj) {
    uintptr_t id = next_;
    next_ += 4;
    objects_[id] = std::move(obj);
    return id;
  }
  GdiObject* Find(uintptr_t id) {
    auto it = objects_.find(id);
    return it == objects_.end() ? nullptr : it->second.get();
  }
  template <class T>
  T* Get(uintptr_t id, ObjKind kind) {
    GdiObject* o = Find(id);
    return o && o->kind == kind ? static_cast<T*>(o) : nullptr;
  }
  void Remove(uintptr_t id) { objects_.erase(id); }
  uintptr_t Stock(int index) const { return index >= 0 && index <= NULL_PEN ? stock_[index] : 0; }
  std::recursive_mutex mutex;

private:
  std::unordered_map<uintptr_t, std::unique_ptr<GdiObject>> objects_;
  uintptr_t next_ = 0x10000;
  uintptr_t stock_[NULL_PEN + 1] = {};
};

Registry& Reg() {
  static Registry* registry = [] {
    static Registry r;
    return &r;
  }();
  return *registry;
}

uintptr_t Id(const void* handle) { return reinterpret_cast<uintptr_t>(handle); }
template <class H>
H ToHandle(uintptr_t id) {
  return reinterpret_cast<H>(id);
}

DCObj* GetDC(HDC dc) { return Reg().Get<DCObj>(Id(dc), ObjKind::DC); }

PenObj* CurrentPen(DCObj* d) {
  PenObj* p = Reg().Get<PenObj>(d->state.pen, ObjKind::Pen);
  return p ? p : Reg().Get<PenObj>(Reg().Stock(BLACK_PEN), ObjKind::Pen);
}
BrushObj* CurrentBrush(DCObj* d) {
  BrushObj* b = Reg().Get<BrushObj>(d->state.brush, ObjKind::Brush);
  return b ? b : Reg().Get<BrushObj>(Reg().Stock(WHITE_BRUSH), ObjKind::Brush);
}

void SetSourceColor(cairo_t* cr, COLORREF c) {
  cairo_set_source_rgb(cr, GetRValue(c) / 255.0, GetGValue(c) / 255.0, GetBValue(c) / 255.0);
}

cairo_fill_rule_t FillRule(int mode) { return mode == WINDING ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD; }

void ApplyClip(DCObj* d) {
  if (d->clipApplied) return;
  cairo_reset_clip(d->cr);
  if (d->state.clip) {
    for (const ClipShape& s : d->state.clip->shapes) {
      ReplayPath(d->cr, s.path);
      cairo_set_fill_rule(d->cr, FillRule(s.fillMode));
      cairo_clip(d->cr);
    }
  }
  cairo_new_path(d->cr);
  d->clipApplied = true;
}

void SetClip(DCObj* d, std::optional<RegionData> clip) {
  d->state.clip = std::move(clip);
  d->clipApplied = false;
}

void IntersectClip(DCObj* d, const RegionData& extra) {
  RegionData r = d->state.clip ? *d->state.clip : RegionData{};
  r.shapes.insert(r.shapes.end(), extra.shapes.begin(), extra.shapes.end());
  SetClip(d, std::move(r));
}

// Odd-width lines lie on pixel centres as GDI draws them.
double PenOffset(const PenObj* pen) {
  long w = pen->width <= 1 ? 1 : std::lround(pen->width);
  return (w % 2) ? 0.5 : 0.0;
}

// Prepares cairo to stroke with the pen; false for a null pen.
bool SetupPen(DCObj* d, const PenObj* pen) {
  DWORD style = pen->style & PS_STYLE_MASK;
  if (style == PS_NULL) return false;
  cairo_t* cr = d->cr;
  SetSourceColor(cr, pen->color);
  double width = pen->width < 1 ? 1 : pen->width;
  cairo_set_line_width(cr, width);
  if (pen->geometric) {
    switch (pen->style & PS_ENDCAP_MASK) {
      case PS_ENDCAP_SQUARE: cairo_set_line_cap(cr, CAIRO_LINE_CAP_SQUARE); break;
      case PS_ENDCAP_FLAT: cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT); break;
      default: cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND); break;
    }
    switch (pen->style & PS_JOIN_MASK) {
      case PS_JOIN_BEVEL: cairo_set_line_join(cr, CAIRO_LINE_JOIN_BEVEL); break;
      case PS_JOIN_MITER: cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER); break;
      default: cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND); break;
    }
  } else if (width > 1) {
    // Wide pens from CreatePen have round ends and joins.
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  } else {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  }
  cairo_set_miter_limit(cr, d->state.miterLimit);
  std::vector<double> dashes;
  double unit = pen->geometric ? width : 1.0;
  switch (style) {
    case PS_DASH: dashes = {18 * unit, 6 * unit}; break;
    case PS_DOT: dashes = {3 * unit, 3 * unit}; break;
    case PS_DASHDOT: dashes = {9 * unit, 6 * unit, 3 * unit, 6 * unit}; break;
    case PS_DASHDOTDOT: dashes = {9 * unit, 3 * unit, 3 * unit, 3 * unit, 3 * unit, 3 * unit}; break;
    case PS_USERSTYLE: dashes = pen->dashes; break;
    default: break;
  }
  double total = 0;
  for (double v : dashes) total += v;
  if (total > 0)
    cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
  else
    cairo_set_dash(cr, nullptr, 0, 0);
  return true;
}

void StrokeWithPen(DCObj* d, const PathData& path) {
  if (d->emf) return;  // recorded by the caller
  PenObj* pen = CurrentPen(d);
  if (!SetupPen(d, pen)) return;
  ApplyClip(d);
  double off = PenOffset(pen);
  cairo_save(d->cr);
  cairo_translate(d->cr, off, off);
  ReplayPath(d->cr, path);
  cairo_restore(d->cr);  // keeps the path, built in offset coordinates
  cairo_stroke(d->cr);
}

void FillWithBrush(DCObj* d, const PathData& path, BrushObj* brush) {
  if (d->emf || !brush || brush->hollow) return;
  ApplyClip(d);
  SetSourceColor(d->cr, brush->color);
  ReplayPath(d->cr, path);
  cairo_set_fill_rule(d->cr, FillRule(d->state.fillMode));
  cairo_fill(d->cr);
}

void AddSegment(DCObj* d, SegKind kind, std::initializer_list<POINT> pts) {
  Segment s{kind, {}, {}};
  int i = 0;
  for (const POINT& p : pts) {
    s.x[i] = p.x;
    s.y[i] = p.y;
    ++i;
  }
  d->path.push_back(s);
}

// Source pixels of a bitmap as a premultiplied cairo surface (the buffer
// lives in the object).
class SourceSurface {
public:
  explicit SourceSurface(const TBitmap& bmp) {
    int w = bmp.Width(), h = bmp.Height();
    stride_ = w * 4;
    pixels_ = NewPixelBuffer(static_cast<size_t>(stride_) * h);
    CopyToPremultiplied(bmp, pixels_.get(), stride_);
    surface_ = cairo_image_surface_create_for_data(pixels_.get(), CAIRO_FORMAT_ARGB32, w, h, stride_);
  }
  ~SourceSurface() { cairo_surface_destroy(surface_); }
  SourceSurface(const SourceSurface&) = delete;
  SourceSurface& operator=(const SourceSurface&) = delete;
  cairo_surface_t* Get() const { return surface_; }

private:
  TPixelBuffer pixels_;
  int stride_ = 0;
  cairo_surface_t* surface_ = nullptr;
};

// Draws the source rectangle of a bitmap through a matrix that maps source
// pixel space onto the device, with an optional constant alpha.
bool DrawBitmapMapped(DCObj* d, const TBitmap& source, int xSrc, int ySrc, int w, int h, const cairo_matrix_t& m,
                      double alpha) {
  if (source.Empty() || w <= 0 || h <= 0) return false;
  if (d->emf) return true;  // recorded by the caller
  double det = m.xx * m.yy - m.xy * m.yx;
  if (!std::isfinite(det) || std::fabs(det) < 1e-12) return false;
  SourceSurface src(source);
  ApplyClip(d);
  cairo_t* cr = d->cr;
  cairo_save(cr);
  cairo_transform(cr, &m);
  cairo_set_source_surface(cr, src.Get(), -xSrc, -ySrc);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_clip(cr);
  if (alpha >= 1)
    cairo_paint(cr);
  else
    cairo_paint_with_alpha(cr, alpha);
  cairo_restore(cr);
  return true;
}

void WriteBack(DCObj* d) {
  cairo_surface_flush(d->surface);
  if (d->inPlace) return;
  TBitmap& bmp = *d->bitmap;
  for (int y = 0; y < d->height; ++y) {
    const uint8_t* src = d->data + static_cast<size_t>(y) * d->stride;
    switch (bmp.PixelFormat()) {
      case TPixelFormat::pf24bit: {
        uint8_t* dst = bmp.ScanLine(y);
        for (int x = 0; x < d->width; ++x, src += 4, dst += 3) dst[0] = src[0], dst[1] = src[1], dst[2] = src[2];
        break;
      }
      case TPixelFormat::pf32bit: {  // straight alpha
        uint8_t* dst = bmp.ScanLine(y);
        for (int x = 0; x < d->width; ++x, src += 4, dst += 4) {
          uint8_t a = src[3];
          for (int c = 0; c < 3; ++c) dst[c] = a ? static_cast<uint8_t>(std::min(255, (src[c] * 255 + a / 2) / a)) : 0;
          dst[3] = a;
        }
        break;
      }
      default:
        for (int x = 0; x < d->width; ++x, src += 4) bmp.SetPixel(x, y, RGB(src[2], src[1], src[0]));
        break;
    }
  }
}

COLORREF ReadPixel(const DCObj* d, int x, int y) {
  const uint8_t* p = d->data + static_cast<size_t>(y) * d->stride + static_cast<size_t>(x) * 4;
  uint8_t a = p[3];
  if (a == 255 || a == 0) return RGB(p[2], p[1], p[0]);
  auto un = [a](uint8_t v) { return static_cast<uint8_t>(std::min(255, (v * 255 + a / 2) / a)); };
  return RGB(un(p[2]), un(p[1]), un(p[0]));
}

void Select(uintptr_t& slot, uintptr_t id) {
  if (GdiObject* old = Reg().Find(slot)) --old->selectedCount;
  slot = id;
  if (GdiObject* now = Reg().Find(id)) ++now->selectedCount;
}

// ---------------------------------------------------------------------------
// Metafile recording

// The writers of live metafile DCs, told when an object is deleted.
std::vector<TEmfWriter*>& LiveWriters() {
  static std::vector<TEmfWriter*> writers;
  return writers;
}

int32_t RoundCoord(double v) { return static_cast<int32_t>(std::lrint(v)); }

void RecordPen(DCObj* d, uintptr_t id, const PenObj* pen) {
  DWORD style = pen->style;
  double width = pen->width;
  if (!pen->geometric) {
    // Wide pens of CreatePen are geometric pens with round ends and joins.
    if (width > 1 && (style & PS_STYLE_MASK) != PS_NULL)
      style = (style & PS_STYLE_MASK) | PS_GEOMETRIC | PS_ENDCAP_ROUND | PS_JOIN_ROUND;
    else
      width = 1;
  }
  d->emf->SelectPen(id, style, width, pen->color, pen->dashes);
}

// A path replayed into the metafile as path records.
void RecordPathSegments(TEmfWriter& w, const PathData& path) {
  for (const Segment& s : path) {
    switch (s.kind) {
      case SegKind::Move: w.MoveTo(RoundCoord(s.x[0]), RoundCoord(s.y[0])); break;
      case SegKind::Line: w.LineTo(RoundCoord(s.x[0]), RoundCoord(s.y[0])); break;
      case SegKind::Curve: {
        POINT pts[3];
        for (int k = 0; k < 3; ++k) pts[k] = POINT{RoundCoord(s.x[k]), RoundCoord(s.y[k])};
        w.PolyBezierTo(pts, 3);
        break;
      }
      case SegKind::Close: w.CloseFigure(); break;
    }
  }
}

// A region's shapes intersected into the metafile's clip.
void RecordClipRegion(DCObj* d, const RegionData& region) {
  for (const ClipShape& shape : region.shapes) {
    d->emf->SetPolyFillMode(shape.fillMode);
    d->emf->BeginPath();
    RecordPathSegments(*d->emf, shape.path);
    d->emf->EndPath();
    d->emf->SelectClipPath(RGN_AND);
  }
  d->emf->SetPolyFillMode(d->state.fillMode);
}

}  // namespace

// ---------------------------------------------------------------------------

HDC CreateBitmapDC(TBitmap& bitmap) {
  if (bitmap.Empty()) return nullptr;
  std::lock_guard lock(Reg().mutex);
  auto d = std::make_unique<DCObj>();
  d->bitmap = &bitmap;
  d->width = bitmap.Width();
  d->height = bitmap.Height();
  d->stride = d->width * 4;
  const bool is32 = bitmap.PixelFormat() == TPixelFormat::pf32bit;
  d->inPlace = is32 && bitmap.AlphaFormat() != TAlphaFormat::afDefined;
  if (d->inPlace) {
    d->data = bitmap.Bits();
    if (bitmap.AlphaFormat() == TAlphaFormat::afIgnored) {
      for (int y = 0; y < d->height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < d->width; ++x) row[4 * x + 3] = 255;
      }
    }
  } else {
    // One pass from the bitmap's format into the drawing format.
    d->work = NewPixelBuffer(static_cast<size_t>(d->stride) * d->height);
    d->data = d->work.get();
    CopyToPremultiplied(bitmap, d->data, d->stride);
  }
  d->surface = cairo_image_surface_create_for_data(d->data, CAIRO_FORMAT_ARGB32, d->width, d->height, d->stride);
  d->cr = cairo_create(d->surface);
  cairo_set_antialias(d->cr, CAIRO_ANTIALIAS_NONE);
  DCObj* raw = d.get();
  uintptr_t id = Reg().Add(std::move(d));
  Select(raw->state.pen, Reg().Stock(BLACK_PEN));
  Select(raw->state.brush, Reg().Stock(WHITE_BRUSH));
  return ToHandle<HDC>(id);
}

HDC CreateMetafileDC(TEmfWriter& writer) {
  auto placeholder = std::make_unique<TBitmap>(1, 1, TPixelFormat::pf32bit);
  HDC dc = CreateBitmapDC(*placeholder);
  if (!dc) return nullptr;
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  d->emf = &writer;
  d->ownBitmap = std::move(placeholder);
  LiveWriters().push_back(&writer);
  return dc;
}

BOOL GdiFlushDC(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  WriteBack(d);
  return 1;
}

namespace {
std::atomic<TDeleteDCHook> deleteDCHook{nullptr};
}

void SetDeleteDCHook(TDeleteDCHook hook) {
  deleteDCHook = hook;
}

BOOL DeleteDC(HDC dc) {
  {
    std::lock_guard lock(Reg().mutex);
    DCObj* d = GetDC(dc);
    if (!d) return 0;
    WriteBack(d);
    auto release = [](uintptr_t id) {
      if (GdiObject* o = Reg().Find(id)) --o->selectedCount;
    };
    release(d->state.pen);
    release(d->state.brush);
    for (const DCState& s : d->saved) {
      release(s.pen);
      release(s.brush);
    }
    if (d->emf) {
      auto& writers = LiveWriters();
      writers.erase(std::remove(writers.begin(), writers.end(), d->emf), writers.end());
    }
    Reg().Remove(Id(dc));
  }
  // Outside the lock: the hook may free what the DC drew on and call GDI.
  if (TDeleteDCHook hook = deleteDCHook) hook(dc);
  return 1;
}

BOOL GetDCSurface(HDC dc, TGdiSurface& surface) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || d->emf) return 0;
  cairo_surface_flush(d->surface);
  surface = TGdiSurface{d->data, d->width, d->height, d->stride};
  return 1;
}

BOOL ReleaseDCSurface(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  cairo_surface_mark_dirty(d->surface);
  return 1;
}

HPEN CreatePen(int style, int width, COLORREF color) {
  std::lock_guard lock(Reg().mutex);
  if (style < 0 || style > static_cast<int>(PS_INSIDEFRAME)) return nullptr;
  auto p = std::make_unique<PenObj>();
  p->style = static_cast<DWORD>(style);
  p->width = width < 0 ? 0 : width;
  p->color = color & 0xFFFFFF;
  // Wide pens cannot be styled by CreatePen: GDI draws them solid.
  if (p->width > 1 && style != static_cast<int>(PS_NULL) && style != static_cast<int>(PS_INSIDEFRAME))
    p->style = PS_SOLID;
  return ToHandle<HPEN>(Reg().Add(std::move(p)));
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD styleCount, const DWORD* styleEntries) {
  std::lock_guard lock(Reg().mutex);
  if (!brush) return nullptr;
  DWORD kind = style & PS_STYLE_MASK;
  if (kind > PS_USERSTYLE) return nullptr;
  if (kind == PS_USERSTYLE && (styleCount == 0 || styleCount > 16 || !styleEntries)) return nullptr;
  if (kind != PS_USERSTYLE && styleCount != 0) return nullptr;
  auto p = std::make_unique<PenObj>();
  p->geometric = (style & PS_TYPE_MASK) == PS_GEOMETRIC;
  p->style = style;
  p->width = p->geometric ? width : 1;
  if (!p->geometric && width != 1) return nullptr;
  p->color = brush->lbColor & 0xFFFFFF;
  if (brush->lbStyle == BS_NULL) p->style = (style & ~PS_STYLE_MASK) | PS_NULL;
  for (DWORD i = 0; kind == PS_USERSTYLE && i < styleCount; ++i) p->dashes.push_back(styleEntries[i]);
  return ToHandle<HPEN>(Reg().Add(std::move(p)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  std::lock_guard lock(Reg().mutex);
  auto b = std::make_unique<BrushObj>();
  b->color = color & 0xFFFFFF;
  return ToHandle<HBRUSH>(Reg().Add(std::move(b)));
}

HGDIOBJ GetStockObject(int index) {
  std::lock_guard lock(Reg().mutex);
  return ToHandle<HGDIOBJ>(Reg().Stock(index));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  GdiObject* o = Reg().Find(Id(object));
  if (!d || !o) return nullptr;
  uintptr_t old;
  switch (o->kind) {
    case ObjKind::Pen:
      old = d->state.pen;
      Select(d->state.pen, Id(object));
      if (d->emf) RecordPen(d, Id(object), static_cast<PenObj*>(o));
      return ToHandle<HGDIOBJ>(old);
    case ObjKind::Brush:
      old = d->state.brush;
      Select(d->state.brush, Id(object));
      if (d->emf) d->emf->SelectBrush(Id(object), static_cast<BrushObj*>(o)->hollow, static_cast<BrushObj*>(o)->color);
      return ToHandle<HGDIOBJ>(old);
    case ObjKind::Region: {
      // Selecting a region sets a copy of it as the clip.
      SetClip(d, static_cast<RegionObj*>(o)->data);
      if (d->emf) {
        d->emf->ResetClip();
        RecordClipRegion(d, static_cast<RegionObj*>(o)->data);
      }
      return ToHandle<HGDIOBJ>(static_cast<uintptr_t>(COMPLEXREGION));
    }
    default: return nullptr;
  }
}

BOOL DeleteObject(HGDIOBJ object) {
  std::lock_guard lock(Reg().mutex);
  GdiObject* o = Reg().Find(Id(object));
  if (!o || o->kind == ObjKind::DC) return 0;
  if (o->stock) return 1;
  if (o->selectedCount > 0) return 0;
  Reg().Remove(Id(object));
  for (TEmfWriter* w : LiveWriters()) w->ObjectDeleted(Id(object));
  return 1;
}

BOOL SetMiterLimit(HDC dc, float limit, float* old) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !(limit >= 1)) return 0;
  if (old) *old = static_cast<float>(d->state.miterLimit);
  d->state.miterLimit = limit;
  if (d->emf) d->emf->SetMiterLimit(limit);
  return 1;
}

int SetPolyFillMode(HDC dc, int mode) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || (mode != ALTERNATE && mode != WINDING)) return 0;
  int old = d->state.fillMode;
  d->state.fillMode = mode;
  if (d->emf) d->emf->SetPolyFillMode(mode);
  return old;
}

int GetPolyFillMode(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  return d ? d->state.fillMode : 0;
}

BOOL MoveToEx(HDC dc, int x, int y, POINT* old) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  if (old) *old = d->state.pos;
  d->state.pos = POINT{x, y};
  if (d->emf) d->emf->MoveTo(x, y);
  if (d->recording) AddSegment(d, SegKind::Move, {POINT{x, y}});
  return 1;
}

BOOL LineTo(HDC dc, int x, int y) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  if (d->recording) {
    if (d->path.empty()) AddSegment(d, SegKind::Move, {d->state.pos});
    AddSegment(d, SegKind::Line, {POINT{x, y}});
  } else {
    PathData p;
    p.push_back(Segment{SegKind::Move, {double(d->state.pos.x)}, {double(d->state.pos.y)}});
    p.push_back(Segment{SegKind::Line, {double(x)}, {double(y)}});
    StrokeWithPen(d, p);
  }
  d->state.pos = POINT{x, y};
  if (d->emf) d->emf->LineTo(x, y);
  return 1;
}

BOOL PolyBezierTo(HDC dc, const POINT* points, DWORD count) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !points || count % 3 != 0) return 0;
  PathData local;
  PathData& target = d->recording ? d->path : local;
  if (!d->recording || d->path.empty())
    target.push_back(Segment{SegKind::Move, {double(d->state.pos.x)}, {double(d->state.pos.y)}});
  for (DWORD i = 0; i < count; i += 3) {
    Segment s{SegKind::Curve, {}, {}};
    for (int k = 0; k < 3; ++k) {
      s.x[k] = points[i + k].x;
      s.y[k] = points[i + k].y;
    }
    target.push_back(s);
  }
  if (count) d->state.pos = points[count - 1];
  if (d->emf) d->emf->PolyBezierTo(points, count);
  if (!d->recording) StrokeWithPen(d, local);
  return 1;
}

namespace {
PathData PolyPath(const POINT* points, int count, bool close) {
  PathData p;
  for (int i = 0; i < count; ++i)
    p.push_back(Segment{i == 0 ? SegKind::Move : SegKind::Line, {double(points[i].x)}, {double(points[i].y)}});
  if (close) p.push_back(Segment{SegKind::Close, {}, {}});
  return p;
}
}  // namespace

BOOL Polygon(HDC dc, const POINT* points, int count) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !points || count < 2) return 0;
  PathData p = PolyPath(points, count, true);
  if (d->emf) d->emf->Polygon(points, static_cast<uint32_t>(count));
  if (d->recording) {
    d->path.insert(d->path.end(), p.begin(), p.end());
  } else {
    FillWithBrush(d, p, CurrentBrush(d));
    StrokeWithPen(d, p);
  }
  return 1;
}

BOOL Polyline(HDC dc, const POINT* points, int count) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !points || count < 2) return 0;
  PathData p = PolyPath(points, count, false);
  if (d->emf) d->emf->Polyline(points, static_cast<uint32_t>(count));
  if (d->recording)
    d->path.insert(d->path.end(), p.begin(), p.end());
  else
    StrokeWithPen(d, p);
  return 1;
}

BOOL Rectangle(HDC dc, int left, int top, int right, int bottom) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  if (d->emf) d->emf->Rectangle(left, top, right, bottom);
  if (d->recording) {
    PathData p = RectPath(left, top, right, bottom);
    d->path.insert(d->path.end(), p.begin(), p.end());
    return 1;
  }
  // GDI excludes the right and bottom edges; the border lies inside.
  FillWithBrush(d, RectPath(left, top, right, bottom), CurrentBrush(d));
  StrokeWithPen(d, RectPath(left, top, right - 1, bottom - 1));
  return 1;
}

BOOL Ellipse(HDC dc, int left, int top, int right, int bottom) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  if (d->emf) d->emf->Ellipse(left, top, right, bottom);
  double cx = (left + right) / 2.0, cy = (top + bottom) / 2.0;
  double rx = std::fabs(right - left) / 2.0, ry = std::fabs(bottom - top) / 2.0;
  const double k = 0.5522847498;
  auto ellipse = [&](double rX, double rY) {
    PathData p;
    p.push_back(Segment{SegKind::Move, {cx + rX}, {cy}});
    p.push_back(Segment{SegKind::Curve, {cx + rX, cx + k * rX, cx}, {cy + k * rY, cy + rY, cy + rY}});
    p.push_back(Segment{SegKind::Curve, {cx - k * rX, cx - rX, cx - rX}, {cy + rY, cy + k * rY, cy}});
    p.push_back(Segment{SegKind::Curve, {cx - rX, cx - k * rX, cx}, {cy - k * rY, cy - rY, cy - rY}});
    p.push_back(Segment{SegKind::Curve, {cx + k * rX, cx + rX, cx + rX}, {cy - rY, cy - k * rY, cy}});
    p.push_back(Segment{SegKind::Close, {}, {}});
    return p;
  };
  if (d->recording) {
    PathData p = ellipse(rx, ry);
    d->path.insert(d->path.end(), p.begin(), p.end());
    return 1;
  }
  FillWithBrush(d, ellipse(rx, ry), CurrentBrush(d));
  StrokeWithPen(d, ellipse(std::max(0.0, rx - 0.5), std::max(0.0, ry - 0.5)));
  return 1;
}

int FillRect(HDC dc, const RECT* rect, HBRUSH brush) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  BrushObj* b = Reg().Get<BrushObj>(Id(brush), ObjKind::Brush);
  if (!d || !rect || !b) return 0;
  if (d->emf) d->emf->FillRect(*rect, b->hollow, b->color);
  FillWithBrush(d, RectPath(rect->left, rect->top, rect->right, rect->bottom), b);
  return 1;
}

namespace {
// Drops the DC's path; recording says whether a new one starts.
BOOL ResetPath(HDC dc, bool recording) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  d->recording = recording;
  d->pathDefined = false;
  d->path.clear();
  if (d->emf) {
    if (recording)
      d->emf->BeginPath();
    else
      d->emf->AbortPath();
  }
  return 1;
}
}  // namespace

BOOL BeginPath(HDC dc) {
  return ResetPath(dc, true);
}

BOOL EndPath(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !d->recording) return 0;
  d->recording = false;
  d->pathDefined = true;
  if (d->emf) d->emf->EndPath();
  return 1;
}

BOOL AbortPath(HDC dc) {
  return ResetPath(dc, false);
}

BOOL CloseFigure(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !d->recording) return 0;
  d->path.push_back(Segment{SegKind::Close, {}, {}});
  if (d->emf) d->emf->CloseFigure();
  return 1;
}

namespace {
// Takes the defined path for a painting call; false without one.
bool TakePath(DCObj* d, PathData& out) {
  if (!d->pathDefined) return false;
  out = std::move(d->path);
  d->path.clear();
  d->pathDefined = false;
  return true;
}
}  // namespace

BOOL FillPath(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  PathData p;
  if (!d || !TakePath(d, p)) return 0;
  if (d->emf) d->emf->FillPath();
  FillWithBrush(d, p, CurrentBrush(d));
  return 1;
}

BOOL StrokePath(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  PathData p;
  if (!d || !TakePath(d, p)) return 0;
  if (d->emf) d->emf->StrokePath();
  StrokeWithPen(d, p);
  return 1;
}

BOOL StrokeAndFillPath(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  PathData p;
  if (!d || !TakePath(d, p)) return 0;
  if (d->emf) d->emf->StrokeAndFillPath();
  FillWithBrush(d, p, CurrentBrush(d));
  StrokeWithPen(d, p);
  return 1;
}

BOOL SelectClipPath(HDC dc, int mode) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || (mode != RGN_AND && mode != RGN_COPY)) return 0;
  PathData p;
  if (!TakePath(d, p)) return 0;
  if (d->emf) d->emf->SelectClipPath(mode);
  RegionData r;
  r.shapes.push_back(ClipShape{std::move(p), d->state.fillMode});
  if (mode == RGN_COPY)
    SetClip(d, std::move(r));
  else
    IntersectClip(d, r);
  return 1;
}

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  std::lock_guard lock(Reg().mutex);
  auto r = std::make_unique<RegionObj>();
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  r->data.shapes.push_back(ClipShape{RectPath(left, top, right, bottom), ALTERNATE});
  return ToHandle<HRGN>(Reg().Add(std::move(r)));
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
  std::lock_guard lock(Reg().mutex);
  RegionObj* d = Reg().Get<RegionObj>(Id(dest), ObjKind::Region);
  RegionObj* a = Reg().Get<RegionObj>(Id(src1), ObjKind::Region);
  if (!d || !a) return RGN_ERROR;
  if (mode == RGN_COPY) {
    d->data = a->data;
    return COMPLEXREGION;
  }
  RegionObj* b = Reg().Get<RegionObj>(Id(src2), ObjKind::Region);
  if (mode != RGN_AND || !b) return RGN_ERROR;
  RegionData r = a->data;
  r.shapes.insert(r.shapes.end(), b->data.shapes.begin(), b->data.shapes.end());
  d->data = std::move(r);
  return COMPLEXREGION;
}

int ExtSelectClipRgn(HDC dc, HRGN region, int mode) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return RGN_ERROR;
  if (!region) {
    if (mode != RGN_COPY) return RGN_ERROR;
    SetClip(d, std::nullopt);
    if (d->emf) d->emf->ResetClip();
    return SIMPLEREGION;
  }
  RegionObj* r = Reg().Get<RegionObj>(Id(region), ObjKind::Region);
  if (!r || (mode != RGN_COPY && mode != RGN_AND)) return RGN_ERROR;
  if (d->emf) {
    if (mode == RGN_COPY) d->emf->ResetClip();
    RecordClipRegion(d, r->data);
  }
  if (mode == RGN_COPY)
    SetClip(d, r->data);
  else if (mode == RGN_AND)
    IntersectClip(d, r->data);
  else
    return RGN_ERROR;
  return COMPLEXREGION;
}

int SelectClipRgn(HDC dc, HRGN region) { return ExtSelectClipRgn(dc, region, RGN_COPY); }

int GetClipRgn(HDC dc, HRGN region) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  RegionObj* r = Reg().Get<RegionObj>(Id(region), ObjKind::Region);
  if (!d || !r) return -1;
  if (!d->state.clip) return 0;
  r->data = *d->state.clip;
  return 1;
}

int IntersectClipRect(HDC dc, int left, int top, int right, int bottom) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return RGN_ERROR;
  RegionData r;
  r.shapes.push_back(ClipShape{RectPath(left, top, right, bottom), ALTERNATE});
  IntersectClip(d, r);
  if (d->emf) d->emf->IntersectClipRect(left, top, right, bottom);
  return COMPLEXREGION;
}

int SaveDC(HDC dc) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  d->saved.push_back(d->state);
  if (d->emf) d->emf->SaveDC();
  if (GdiObject* o = Reg().Find(d->state.pen)) ++o->selectedCount;
  if (GdiObject* o = Reg().Find(d->state.brush)) ++o->selectedCount;
  return static_cast<int>(d->saved.size());
}

BOOL RestoreDC(HDC dc, int savedDC) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d) return 0;
  int count = static_cast<int>(d->saved.size());
  int level = savedDC < 0 ? count + 1 + savedDC : savedDC;
  if (level < 1 || level > count) return 0;
  if (d->emf) d->emf->RestoreDC(savedDC);
  while (static_cast<int>(d->saved.size()) >= level) {
    DCState s = std::move(d->saved.back());
    d->saved.pop_back();
    if (static_cast<int>(d->saved.size()) + 1 == level) {
      Select(d->state.pen, s.pen);
      Select(d->state.brush, s.brush);
      d->state.fillMode = s.fillMode;
      d->state.miterLimit = s.miterLimit;
      d->state.pos = s.pos;
      SetClip(d, std::move(s.clip));
    }
    if (GdiObject* o = Reg().Find(s.pen)) --o->selectedCount;
    if (GdiObject* o = Reg().Find(s.brush)) --o->selectedCount;
  }
  return 1;
}

COLORREF GetPixel(HDC dc, int x, int y) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || x < 0 || y < 0 || x >= d->width || y >= d->height) return CLR_INVALID;
  ApplyClip(d);
  if (!cairo_in_clip(d->cr, x + 0.5, y + 0.5)) return CLR_INVALID;
  cairo_surface_flush(d->surface);
  return ReadPixel(d, x, y);
}

COLORREF SetPixel(HDC dc, int x, int y, COLORREF color) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (d && d->emf) {
    d->emf->SetPixel(x, y, color);
    return color & 0xFFFFFF;
  }
  if (!d || x < 0 || y < 0 || x >= d->width || y >= d->height) return CLR_INVALID;
  ApplyClip(d);
  if (!cairo_in_clip(d->cr, x + 0.5, y + 0.5)) return CLR_INVALID;
  cairo_surface_flush(d->surface);
  uint8_t* p = d->data + static_cast<size_t>(y) * d->stride + static_cast<size_t>(x) * 4;
  p[0] = GetBValue(color), p[1] = GetGValue(color), p[2] = GetRValue(color), p[3] = 255;
  cairo_surface_mark_dirty_rectangle(d->surface, x, y, 1, 1);
  return color & 0xFFFFFF;
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const TBitmap& source, DWORD rop) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || rop != SRCCOPY || srcWidth <= 0 || srcHeight <= 0 || destWidth == 0 || destHeight == 0) return 0;
  if (d->emf) {
    d->emf->StretchBitmap(xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight, 1.0);
    return srcHeight;
  }
  cairo_matrix_t m;
  cairo_matrix_init(&m, double(destWidth) / srcWidth, 0, 0, double(destHeight) / srcHeight, xDest, yDest);
  return DrawBitmapMapped(d, source, xSrc, ySrc, srcWidth, srcHeight, m, 1.0) ? srcHeight : 0;
}

BOOL PlgBlt(HDC dc, const POINT* points, const TBitmap& source, int xSrc, int ySrc, int width, int height) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || !points || width <= 0 || height <= 0) return 0;
  if (d->emf) {
    d->emf->ParallelogramBitmap(points, source, xSrc, ySrc, width, height);
    return 1;
  }
  cairo_matrix_t m;
  cairo_matrix_init(&m, double(points[1].x - points[0].x) / width, double(points[1].y - points[0].y) / width,
                    double(points[2].x - points[0].x) / height, double(points[2].y - points[0].y) / height,
                    points[0].x, points[0].y);
  return DrawBitmapMapped(d, source, xSrc, ySrc, width, height, m, 1.0) ? 1 : 0;
}

BOOL AlphaBlend(HDC dc, int xDest, int yDest, int destWidth, int destHeight, const TBitmap& source, int xSrc, int ySrc,
                int srcWidth, int srcHeight, BLENDFUNCTION blend) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dc);
  if (!d || blend.BlendOp != AC_SRC_OVER || srcWidth <= 0 || srcHeight <= 0 || destWidth <= 0 || destHeight <= 0)
    return 0;
  TBitmap src = source;
  if (blend.AlphaFormat == AC_SRC_ALPHA) {
    // AC_SRC_ALPHA means premultiplied source pixels.
    if (src.PixelFormat() != TPixelFormat::pf32bit) return 0;
    src.SetAlphaFormat(TAlphaFormat::afPremultiplied);
  } else if (src.PixelFormat() == TPixelFormat::pf32bit) {
    src.SetAlphaFormat(TAlphaFormat::afIgnored);
  }
  if (d->emf) {
    d->emf->StretchBitmap(xDest, yDest, destWidth, destHeight, src, xSrc, ySrc, srcWidth, srcHeight,
                          blend.SourceConstantAlpha / 255.0);
    return 1;
  }
  cairo_matrix_t m;
  cairo_matrix_init(&m, double(destWidth) / srcWidth, 0, 0, double(destHeight) / srcHeight, xDest, yDest);
  return DrawBitmapMapped(d, src, xSrc, ySrc, srcWidth, srcHeight, m, blend.SourceConstantAlpha / 255.0) ? 1 : 0;
}

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int xSrc, int ySrc, DWORD rop) {
  std::lock_guard lock(Reg().mutex);
  DCObj* d = GetDC(dest);
  DCObj* s = GetDC(source);
  if (!d || !s || rop != SRCCOPY || width <= 0 || height <= 0) return 0;
  cairo_surface_flush(s->surface);
  // Copy through a snapshot so that a DC can copy onto itself.
  std::vector<uint8_t> snap(s->data, s->data + static_cast<size_t>(s->stride) * s->height);
  cairo_surface_t* src = cairo_image_surface_create_for_data(snap.data(), CAIRO_FORMAT_ARGB32, s->width, s->height, s->stride);
  ApplyClip(d);
  cairo_save(d->cr);
  cairo_set_operator(d->cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(d->cr, src, x - xSrc, y - ySrc);
  cairo_rectangle(d->cr, x, y, width, height);
  cairo_fill(d->cr);
  cairo_restore(d->cr);
  cairo_surface_destroy(src);
  return 1;
}

namespace {
struct PngReadState {
  std::string_view bytes;
  size_t pos = 0;
};
cairo_status_t ReadPngBytes(void* closure, unsigned char* data, unsigned int length) {
  auto* st = static_cast<PngReadState*>(closure);
  if (st->bytes.size() - st->pos < length) return CAIRO_STATUS_READ_ERROR;  // never a short read
  std::memcpy(data, st->bytes.data() + st->pos, length);
  st->pos += length;
  return CAIRO_STATUS_SUCCESS;
}
uint32_t BigEndian32(const char* p) {
  auto b = reinterpret_cast<const uint8_t*>(p);
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}
}  // namespace

bool DecodePicture(std::string_view bytes, TBitmap& result) {
  static const char kPngSig[] = "\x89PNG\r\n\x1a\n";
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') {
    try {
      TBitmap bmp;
      bmp.LoadFromBytes(bytes);
      SourceSurface s(bmp);
      cairo_surface_flush(s.Get());
      // cairo refuses surfaces wider or higher than it can address (32767
      // pixels): such a picture cannot be drawn.
      const unsigned char* pixels = cairo_image_surface_get_data(s.Get());
      if (!pixels) return false;
      TBitmap out(bmp.Width(), bmp.Height(), TPixelFormat::pf32bit);
      std::memcpy(out.Bits(), pixels, out.BitsSize());
      out.SetAlphaFormat(TAlphaFormat::afPremultiplied);
      result = std::move(out);
      return true;
    } catch (const Exception&) {
      return false;
    }
  }
  if (bytes.size() >= 24 && bytes.substr(0, 8) == std::string_view(kPngSig, 8) && bytes.substr(12, 4) == "IHDR") {
    int64_t w = BigEndian32(bytes.data() + 16), h = BigEndian32(bytes.data() + 20);
    if (w <= 0 || h <= 0 || w * h > TBitmap::MaxPixels()) return false;
    PngReadState st{bytes, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPngBytes, &st);
    bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS;
    if (ok) {
      cairo_surface_flush(s);
      int sw = cairo_image_surface_get_width(s), sh = cairo_image_surface_get_height(s);
      cairo_format_t f = cairo_image_surface_get_format(s);
      TBitmap out(sw, sh, TPixelFormat::pf32bit);
      const uint8_t* src = cairo_image_surface_get_data(s);
      int sstride = cairo_image_surface_get_stride(s);
      for (int y = 0; y < sh; ++y) {
        const uint8_t* row = src + static_cast<size_t>(y) * sstride;
        uint8_t* dst = out.ScanLine(y);
        if (f == CAIRO_FORMAT_ARGB32 || f == CAIRO_FORMAT_RGB24) {
          std::memcpy(dst, row, static_cast<size_t>(sw) * 4);
          if (f == CAIRO_FORMAT_RGB24)
            for (int x = 0; x < sw; ++x) dst[4 * x + 3] = 255;
        } else {
          ok = false;
          break;
        }
      }
      out.SetAlphaFormat(TAlphaFormat::afPremultiplied);
      if (ok) result = std::move(out);
    }
    cairo_surface_destroy(s);
    return ok;
  }
  return false;
}

void CopyToPremultiplied(const TBitmap& bmp, uint8_t* out, int outStride) {
  const int w = bmp.Width(), h = bmp.Height();
  // Pixels are assembled as native 32-bit words 0xAARRGGBB (B, G, R, A bytes
  // in memory), which lets the compiler vectorise the plain formats.
  auto put = [](uint8_t* dst, uint32_t v) { std::memcpy(dst, &v, 4); };
  switch (bmp.PixelFormat()) {
    case TPixelFormat::pf24bit:
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = bmp.ScanLine(y);
        uint8_t* dst = out + static_cast<size_t>(y) * outStride;
        for (int x = 0; x < w; ++x)
          put(dst + 4 * x, uint32_t(src[3 * x]) | uint32_t(src[3 * x + 1]) << 8 | uint32_t(src[3 * x + 2]) << 16 |
                               0xFF000000u);
      }
      return;
    case TPixelFormat::pf32bit: {
      const TAlphaFormat alpha = bmp.AlphaFormat();
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = bmp.ScanLine(y);
        uint8_t* dst = out + static_cast<size_t>(y) * outStride;
        switch (alpha) {
          case TAlphaFormat::afIgnored:
            for (int x = 0; x < w; ++x) {
              uint32_t v;
              std::memcpy(&v, src + 4 * x, 4);
              put(dst + 4 * x, v | 0xFF000000u);
            }
            break;
          case TAlphaFormat::afPremultiplied:
            // Colour above alpha cannot be premultiplied: clamped to it.
            for (int x = 0; x < w; ++x) {
              const uint8_t* s = src + 4 * x;
              uint8_t* d = dst + 4 * x;
              const uint8_t a = s[3];
              d[0] = std::min(s[0], a), d[1] = std::min(s[1], a), d[2] = std::min(s[2], a), d[3] = a;
            }
            break;
          case TAlphaFormat::afDefined:
            for (int x = 0; x < w; ++x) {
              const uint8_t* s = src + 4 * x;
              uint8_t* d = dst + 4 * x;
              const uint8_t a = s[3];
              for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a + 127) / 255);
              d[3] = a;
            }
            break;
        }
      }
      return;
    }
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf8bit: {
      // Indexes beyond the palette are black, as TBitmap::Pixel gives them.
      uint32_t lut[256];
      const std::vector<TRGBQuad>& pal = bmp.Palette();
      for (size_t i = 0; i < 256; ++i)
        lut[i] = i < pal.size() ? uint32_t(pal[i].rgbBlue) | uint32_t(pal[i].rgbGreen) << 8 |
                                      uint32_t(pal[i].rgbRed) << 16 | 0xFF000000u
                                : 0xFF000000u;
      const bool oneBit = bmp.PixelFormat() == TPixelFormat::pf1bit;
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = bmp.ScanLine(y);
        uint8_t* dst = out + static_cast<size_t>(y) * outStride;
        for (int x = 0; x < w; ++x) put(dst + 4 * x, lut[oneBit ? (src[x >> 3] >> (7 - (x & 7))) & 1 : src[x]]);
      }
      return;
    }
  }
}

bool PremultipliedPicture(const TBitmap& source, TBitmap& result) {
  // cairo addresses at most 32767 pixels a side; DecodePicture refuses more.
  constexpr int kMaxSide = 32767;
  if (source.Empty() || source.Width() > kMaxSide || source.Height() > kMaxSide) return false;
  try {
    TBitmap out = TBitmap::ForOverwrite(source.Width(), source.Height(), TPixelFormat::pf32bit);
    if (source.PixelFormat() == TPixelFormat::pf32bit && source.AlphaFormat() == TAlphaFormat::afPremultiplied) {
      // The BMP file holds straight alpha: out and back in, rounded as the
      // writer and the reader round.
      for (int y = 0; y < source.Height(); ++y) {
        const uint8_t* s = source.ScanLine(y);
        uint8_t* d = out.ScanLine(y);
        for (int x = 0; x < source.Width(); ++x, s += 4, d += 4) {
          const uint8_t a = s[3];
          for (int c = 0; c < 3; ++c) {
            const int straight = a == 0 ? 0 : std::min(255, (s[c] * 255 + a / 2) / a);
            d[c] = static_cast<uint8_t>((straight * a + 127) / 255);
          }
          d[3] = a;
        }
      }
    } else {
      CopyToPremultiplied(source, out.Bits(), out.Stride());
    }
    out.SetAlphaFormat(TAlphaFormat::afPremultiplied);
    result = std::move(out);
    return true;
  } catch (const Exception&) {
    return false;
  }
}
