// The metafile converter's record handlers: state records, objects,
// lines, curves, shapes, regions, gradients, clipping and text.
#include <iconv.h>

#include <algorithm>
#include <cmath>

#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaMetafile.h"
#include "pages/PavonaMetafileInternal.h"
#include "pages/PavonaPainter.h"
#include "platform/Dib.h"
#include "platform/EmfReader.h"
#include "platform/Fonts.h"

namespace {

constexpr uint32_t kMaxPoints = 1u << 24;

struct TPoint {
  double x, y;
};

// count points at offset: 8-byte (32-bit) or 4-byte (16-bit) pairs.
std::vector<TPoint> readPoints(const TEmfRecord& r, size_t offset, uint32_t count, bool small) {
  if (count > kMaxPoints) throw EEmfError("too many points");
  const size_t item = small ? 4 : 8;
  r.Items(offset, count, item);
  std::vector<TPoint> points(count);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t o = offset + size_t(i) * item;
    points[i] = small ? TPoint{double(r.I16(o)), double(r.I16(o + 2))} : TPoint{double(r.I32(o)), double(r.I32(o + 4))};
  }
  return points;
}

TEmfXForm readXForm(const TEmfRecord& r, size_t o) {
  TEmfXForm x;
  x.M11 = r.F32(o), x.M12 = r.F32(o + 4), x.M21 = r.F32(o + 8), x.M22 = r.F32(o + 12), x.Dx = r.F32(o + 16),
  x.Dy = r.F32(o + 20);
  return x;
}

// Angle of a point seen from the box centre on the y-down logical plane.
double pointAngle(double cx, double cy, double rx, double ry, double px, double py) {
  const double dx = rx > 0 ? (px - cx) / rx : px - cx, dy = ry > 0 ? (cy - py) / ry : cy - py;
  if (dx == 0 && dy == 0) return 0;
  return std::atan2(dy, dx);
}

// Glyph index to character of a face's 'cmap' (formats 4 and 12 of the
// Unicode subtables); the first character found for a glyph wins.
std::vector<char16_t> glyphCharacters(const std::string& name) {
  std::vector<char16_t> map;
  TFont request;
  const size_t bracket = name.find(" [");
  request.Name = name.substr(0, bracket);
  if (name.find("Bold", bracket == std::string::npos ? name.size() : bracket) != std::string::npos) request.Style |= fsBold;
  if (name.find("Italic", bracket == std::string::npos ? name.size() : bracket) != std::string::npos) request.Style |= fsItalic;
  TInstalledFace face;
  if (!SelectInstalledFace(request, face)) return map;
  const uint32_t tag = FontTableTag("cmap");
  const uint32_t size = GetFontData(face, tag, 0, nullptr, 0);
  if (size == GDI_ERROR || size < 4 || size > (1u << 24)) return map;
  std::string t(size, '\0');
  if (GetFontData(face, tag, 0, t.data(), size) != size) return map;
  auto u16 = [&](size_t o) -> uint32_t { return o + 2 <= t.size() ? uint8_t(t[o]) << 8 | uint8_t(t[o + 1]) : 0; };
  auto u32 = [&](size_t o) -> uint32_t { return o + 4 <= t.size() ? u16(o) << 16 | u16(o + 2) : 0; };
  auto put = [&](uint32_t glyph, uint32_t ch) {
    if (glyph == 0 || glyph > 0xFFFF || ch > 0xFFFF) return;
    if (map.size() <= glyph) map.resize(glyph + 1, 0);
    if (!map[glyph]) map[glyph] = char16_t(ch);
  };
  const uint32_t tables = u16(2);
  for (uint32_t i = 0; i < tables && i < 64; ++i) {
    const uint32_t platform = u16(4 + i * 8), encoding = u16(6 + i * 8), offset = u32(8 + i * 8);
    if (!(platform == 3 && (encoding == 1 || encoding == 10)) && platform != 0) continue;
    const uint32_t format = u16(offset);
    if (format == 4) {
      const uint32_t segments = u16(offset + 6) / 2;
      const size_t ends = offset + 14, starts = ends + segments * 2 + 2, deltas = starts + segments * 2,
                   ranges = deltas + segments * 2;
      for (uint32_t k = 0; k < segments; ++k) {
        const uint32_t end = u16(ends + k * 2), start = u16(starts + k * 2), delta = u16(deltas + k * 2),
                       range = u16(ranges + k * 2);
        for (uint32_t c = start; c <= end && c != 0xFFFF; ++c) {
          uint32_t glyph;
          if (range == 0) {
            glyph = (c + delta) & 0xFFFF;
          } else {
            glyph = u16(ranges + k * 2 + range + (c - start) * 2);
            if (glyph) glyph = (glyph + delta) & 0xFFFF;
          }
          put(glyph, c);
        }
      }
    } else if (format == 12) {
      const uint32_t groups = std::min<uint32_t>(u32(offset + 12), 1u << 16);
      for (uint32_t k = 0; k < groups; ++k) {
        const uint32_t first = u32(offset + 16 + k * 12), last = std::min<uint32_t>(u32(offset + 20 + k * 12), 0xFFFF),
                       glyph = u32(offset + 24 + k * 12);
        for (uint32_t c = first; c <= last; ++c) put(glyph + (c - first), c);
      }
    }
  }
  return map;
}

}  // namespace

void TPDFMetafile::writeQ() {
  painter_->WriteOp("Q");
  --totalDepth_;
}

void TPDFMetafile::restorePainterState(const std::string& saved) {
  painter_->RestoreTextState(saved, [this](int32_t n) { return fontByNumber(n); });
}

void TPDFMetafile::dispatch(const TEmfRecord& r) {
  const TRecordHandler* handler = findRecordHandler(r.Type);
  if (!handler) return;  // records without effect on the picture (the header is read before playing)
  if (r.Size() < handler->MinSize) throw EEmfError("record " + std::to_string(r.Type) + " is too short");
  handler->Handle(*this, r);
}

const TPDFMetafile::TRecordHandler* TPDFMetafile::findRecordHandler(uint32_t type) {
  // Built once: the families' entries by record type.
  static const std::vector<const TRecordHandler*> byType = [] {
    std::vector<const TRecordHandler*> table;
    for (auto family : {StateRecords(), PathRecords(), PaintRecords(), ClipRecords(), ObjectRecords(),
                        TextRecords(), BitmapRecords()})
      for (const TRecordHandler& h : family) {
        if (table.size() <= h.Type) table.resize(h.Type + 1, nullptr);
        table[h.Type] = &h;
      }
    return table;
  }();
  return type < byType.size() ? byType[type] : nullptr;
}

// ---- State: mapping, modes, colours, transforms, saved levels -----------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::StateRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  static const TRecordHandler table[] = {
      {9, 16, [](M& m, const R& r) { m.setPair(m.state_->WinExt, r); }},   // SETWINDOWEXTEX
      {10, 16, [](M& m, const R& r) { m.setPair(m.state_->WinOrg, r); }},  // SETWINDOWORGEX
      {11, 16, [](M& m, const R& r) { m.setPair(m.state_->VpExt, r); }},   // SETVIEWPORTEXTEX
      {12, 16, [](M& m, const R& r) { m.setPair(m.state_->VpOrg, r); }},   // SETVIEWPORTORGEX
      {17, 12, [](M& m, const R& r) {  // SETMAPMODE
         m.SetMapMode(r.I32(8));
         m.UpdateTransform();
       }},
      {18, 12, [](M& m, const R& r) { m.state_->BkMode = r.I32(8); }},
      {19, 12, [](M& m, const R& r) { m.state_->PolyFillMode = r.I32(8); }},
      {22, 12, [](M& m, const R& r) { m.state_->TextAlign = r.U32(8); }},
      {24, 12, [](M& m, const R& r) { m.state_->TextColor = r.U32(8); }},
      {25, 12, [](M& m, const R& r) { m.state_->BkColor = r.U32(8); }},
      {27, 16, [](M& m, const R& r) {  // MOVETOEX
         TState& s = *m.state_;
         if (s.InPath) m.pathMove(r.I32(8), r.I32(12));
         s.CurX = r.I32(8), s.CurY = r.I32(12);
       }},
      {31, 24, [](M& m, const R& r) { m.scaleExtent(m.state_->VpExt, r); }},   // SCALEVIEWPORTEXTEX
      {32, 24, [](M& m, const R& r) { m.scaleExtent(m.state_->WinExt, r); }},  // SCALEWINDOWEXTEX
      {33, 8, [](M& m, const R&) { m.saveDC(); }},
      {34, 12, [](M& m, const R& r) { m.restoreDC(r.I32(8)); }},
      {35, 32, [](M& m, const R& r) {  // SETWORLDTRANSFORM
         TState& s = *m.state_;
         s.World = readXForm(r, 8);
         if (!s.World.Finite()) s.World = TEmfXForm();
         m.UpdateTransform();
       }},
      {36, 36, [](M& m, const R& r) { m.modifyWorldTransform(readXForm(r, 8), r.U32(32)); }},
      {57, 12, [](M& m, const R& r) { m.state_->ArcDirection = r.I32(8); }},
      {58, 12, [](M& m, const R& r) { m.state_->MiterLimit = std::max(1.4, double(r.U32(8))); }},
      {98, 12, [](M& m, const R& r) { m.state_->IcmMode = r.I32(8); }},
  };
  return table;
}

void TPDFMetafile::setPair(double* pair, const TEmfRecord& r) {
  pair[0] = r.I32(8), pair[1] = r.I32(12);
  UpdateTransform();
}

// Scaling changes the extents only in the modes that keep them.
void TPDFMetafile::scaleExtent(double* ext, const TEmfRecord& r) {
  if (state_->MapMode != 7 && state_->MapMode != 8) return;
  const int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
  if (xd == 0 || yd == 0) return;
  const double nx = std::round(double(xn) * ext[0] / xd), ny = std::round(double(yn) * ext[1] / yd);
  ext[0] = nx == 0 ? 1 : nx;
  ext[1] = ny == 0 ? 1 : ny;
  UpdateTransform();
}

void TPDFMetafile::saveDC() {
  painter_->WriteOp("q");
  ++totalDepth_;
  saves_.emplace_back(std::make_unique<TState>(*state_), painter_->SaveTextState());
  state_->ClipDepth = 0;
}

// Negative levels count back from the last save, positive ones name a saved
// level; a level that does not exist changes nothing.
void TPDFMetafile::restoreDC(int64_t level) {
  const int64_t size = int64_t(saves_.size());
  if (level == 0) return;
  const int64_t target = level < 0 ? size + level : level - 1;
  if (target < 0 || target >= size) return;
  TState& s = *state_;
  while (int64_t(saves_.size()) > target) {
    while (s.ClipDepth > 0) writeQ(), --s.ClipDepth;
    writeQ();
    auto saved = std::move(saves_.back());
    saves_.pop_back();
    s = *saved.first;
    restorePainterState(saved.second);
  }
  UpdateTransform();
}

void TPDFMetafile::modifyWorldTransform(const TEmfXForm& x, uint32_t mode) {
  if (!x.Finite()) return;
  TEmfXForm& world = state_->World;
  if (mode == 1)
    world = TEmfXForm();
  else if (mode == 2)
    world = x.Then(world);
  else if (mode == 3)
    world = world.Then(x);
  else if (mode == 4)
    world = x;
  UpdateTransform();
}

// ---- Paths: lines, curves, arcs, shapes and the path bracket ------------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::PathRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  auto poly = [](M& m, const R& r) { m.polyRecord(r); };
  auto polyPoly = [](M& m, const R& r) { m.polyPolyRecord(r); };
  auto shape = [](M& m, const R& r) { m.shapeRecord(r); };
  auto arc = [](M& m, const R& r) { m.arcRecord(r); };
  auto polyDraw = [](M& m, const R& r) { m.polyDrawRecord(r); };
  static const TRecordHandler table[] = {
      // POLYBEZIER, POLYGON, POLYLINE, POLYBEZIERTO, POLYLINETO and their 16-bit forms.
      {2, 28, poly}, {3, 28, poly}, {4, 28, poly}, {5, 28, poly}, {6, 28, poly},
      {85, 28, poly}, {86, 28, poly}, {87, 28, poly}, {88, 28, poly}, {89, 28, poly},
      // POLYPOLYLINE, POLYPOLYGON and their 16-bit forms.
      {7, 32, polyPoly}, {8, 32, polyPoly}, {90, 32, polyPoly}, {91, 32, polyPoly},
      {41, 28, [](M& m, const R& r) { m.angleArcRecord(r); }},
      {42, 24, shape}, {43, 24, shape}, {44, 32, shape},  // ELLIPSE, RECTANGLE, ROUNDRECT
      {45, 40, arc}, {46, 40, arc}, {47, 40, arc}, {55, 40, arc},  // ARC, CHORD, PIE, ARCTO
      {54, 16, [](M& m, const R& r) { m.lineToRecord(r.I32(8), r.I32(12)); }},
      {56, 28, polyDraw}, {92, 28, polyDraw},
      // The path bracket.
      {59, 8, [](M& m, const R&) {  // BEGINPATH
         TState& s = *m.state_;
         s.InPath = true;
         m.painter_->MoveTo(m.MapX(s.CurX, s.CurY), m.MapY(s.CurX, s.CurY));
       }},
      {60, 8, [](M& m, const R&) { m.state_->InPath = false; }},  // ENDPATH
      {61, 8, [](M& m, const R&) { m.painter_->ClosePath(); }},   // CLOSEFIGURE
      {62, 8, [](M& m, const R&) { m.paintPathRecord(true, false); }},  // FILLPATH
      {63, 8, [](M& m, const R&) { m.paintPathRecord(true, true); }},   // STROKEANDFILLPATH
      {64, 8, [](M& m, const R&) { m.paintPathRecord(false, true); }},  // STROKEPATH
      {68, 8, [](M& m, const R&) {  // ABORTPATH
         m.state_->InPath = false;
         if (m.painter_->IsPathOpen()) m.painter_->PaintPath(false, false);
       }},
  };
  return table;
}

// Arcs turn the other way on the device when the logical-to-device mapping
// mirrors the picture.
bool TPDFMetafile::arcsCounterClockwise() const {
  const double det = full_.M11 * full_.M22 - full_.M12 * full_.M21;
  const double outDet = output_.M11 * output_.M22;
  return (state_->ArcDirection == 1) == ((det > 0) == (outDet > 0));
}

void TPDFMetafile::paintPathRecord(bool fill, bool stroke) {
  state_->InPath = false;
  paint(fill, stroke);
}

void TPDFMetafile::polyRecord(const TEmfRecord& r) {
  TState& s = *state_;
  TPDFPainter& p = *painter_;
  const bool small = r.Type >= 85;
  const uint32_t type = small ? r.Type - 83 : r.Type;
  const std::vector<TPoint> pts = readPoints(r, 28, r.U32(24), small);
  if (pts.empty()) return;
  const bool to = type == 5 || type == 6;  // POLYBEZIERTO, POLYLINETO
  const bool bezier = type == 2 || type == 5;
  size_t i = 0;
  if (to) {
    // Inside a bracket an open figure goes on; otherwise the current position starts one.
    if (!(s.InPath && p.IsPathOpen())) pathMove(s.CurX, s.CurY, s.InPath);
  } else {
    pathMove(pts[0].x, pts[0].y, s.InPath);
    i = 1;
  }
  if (bezier) {
    for (; i + 2 < pts.size(); i += 3)
      pathCurve(pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y, pts[i + 2].x, pts[i + 2].y);
  } else {
    for (; i < pts.size(); ++i) pathLine(pts[i].x, pts[i].y);
  }
  if (to) s.CurX = int32_t(pts.back().x), s.CurY = int32_t(pts.back().y);
  if (type == 3) p.ClosePath();
  if (!s.InPath) paint(type == 3, true);  // only POLYGON fills: lines and curves are open strokes
}

void TPDFMetafile::polyPolyRecord(const TEmfRecord& r) {
  const TState& s = *state_;
  const bool small = r.Type >= 90;
  const bool polygon = r.Type == 8 || r.Type == 91;
  const uint32_t polys = r.U32(24), total = r.U32(28);
  r.Items(32, polys, 4);
  const size_t pointsAt = 32 + size_t(polys) * 4;
  const std::vector<TPoint> pts = readPoints(r, pointsAt, total, small);
  size_t at = 0;
  bool any = false;
  for (uint32_t k = 0; k < polys; ++k) {
    const uint32_t n = r.U32(32 + size_t(k) * 4);
    if (n > pts.size() - at) throw EEmfError("polygon counts exceed the points");
    if (n == 0) continue;
    pathMove(pts[at].x, pts[at].y, any || s.InPath);
    for (uint32_t j = 1; j < n; ++j) pathLine(pts[at + j].x, pts[at + j].y);
    if (polygon) painter_->ClosePath();
    at += n;
    any = true;
  }
  if (any && !s.InPath) paint(polygon, true);
}

void TPDFMetafile::lineToRecord(double x, double y) {
  TState& s = *state_;
  if (s.InPath) {
    if (!painter_->IsPathOpen()) pathMove(s.CurX, s.CurY);
    pathLine(x, y);
  } else if (s.PenOn) {
    pathMove(s.CurX, s.CurY, false);
    pathLine(x, y);
    paint(false, true);
  }
  s.CurX = int32_t(x), s.CurY = int32_t(y);
}

void TPDFMetafile::polyDrawRecord(const TEmfRecord& r) {
  TState& s = *state_;
  TPDFPainter& p = *painter_;
  const bool small = r.Type == 92;
  const uint32_t n = r.U32(24);
  const std::vector<TPoint> pts = readPoints(r, 28, n, small);
  const std::string_view types = r.Items(28 + size_t(n) * (small ? 4 : 8), n, 1);
  if (!(s.InPath && p.IsPathOpen())) pathMove(s.CurX, s.CurY, s.InPath);
  std::vector<TPoint> bez;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t t = uint8_t(types[i]);
    const uint8_t kind = t & 6;
    if (kind == 6) {
      pathMove(pts[i].x, pts[i].y);
      bez.clear();
    } else if (kind == 2) {
      pathLine(pts[i].x, pts[i].y);
      bez.clear();
    } else if (kind == 4) {
      bez.push_back(pts[i]);
      if (bez.size() == 3) {
        pathCurve(bez[0].x, bez[0].y, bez[1].x, bez[1].y, bez[2].x, bez[2].y);
        bez.clear();
      }
    }
    if (t & 1) p.ClosePath();
  }
  if (n) s.CurX = int32_t(pts.back().x), s.CurY = int32_t(pts.back().y);
  if (!s.InPath) paint(false, true);
}

void TPDFMetafile::angleArcRecord(const TEmfRecord& r) {
  TState& s = *state_;
  const double cx = r.I32(8), cy = r.I32(12), radius = r.U32(16);
  const double a0 = r.F32(20) * M_PI / 180, sweep = r.F32(24) * M_PI / 180;
  if (!std::isfinite(a0) || !std::isfinite(sweep)) return;
  const bool inPath = s.InPath;
  if (!inPath) pathMove(s.CurX, s.CurY, false);
  pathArc(cx - radius, cy - radius, cx + radius, cy + radius, a0, a0 + std::clamp(sweep, -4 * M_PI, 4 * M_PI), true);
  s.CurX = int32_t(cx + radius * std::cos(a0 + sweep));
  s.CurY = int32_t(cy - radius * std::sin(a0 + sweep));
  if (!inPath) paint(false, true);
}

// ELLIPSE, RECTANGLE, ROUNDRECT: closed figures of the box.
void TPDFMetafile::shapeRecord(const TEmfRecord& r) {
  double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
  if (l > rr) std::swap(l, rr);
  if (t > b) std::swap(t, b);
  const bool keep = state_->InPath;
  if (r.Type == 42) {
    pathArc(l, t, rr, b, 0, 2 * M_PI, false);
  } else if (r.Type == 43) {
    pathMove(l, t, keep);
    pathLine(rr, t);
    pathLine(rr, b);
    pathLine(l, b);
  } else {
    const double cw = std::min(std::fabs(double(r.I32(24))), rr - l), ch = std::min(std::fabs(double(r.I32(28))), b - t);
    pathMove(l + cw / 2, t, keep);
    pathLine(rr - cw / 2, t);
    pathArc(rr - cw, t, rr, t + ch, M_PI / 2, 0, true);
    pathLine(rr, b - ch / 2);
    pathArc(rr - cw, b - ch, rr, b, 0, -M_PI / 2, true);
    pathLine(l + cw / 2, b);
    pathArc(l, b - ch, l + cw, b, -M_PI / 2, -M_PI, true);
    pathLine(l, t + ch / 2);
    pathArc(l, t, l + cw, t + ch, M_PI, M_PI / 2, true);
  }
  painter_->ClosePath();
  if (!state_->InPath) paint(true, true);
}

// ARC, CHORD, PIE, ARCTO: a piece of the box's ellipse between the angles of
// two points.
void TPDFMetafile::arcRecord(const TEmfRecord& r) {
  TState& s = *state_;
  TPDFPainter& p = *painter_;
  double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
  if (l > rr) std::swap(l, rr);
  if (t > b) std::swap(t, b);
  const double cx = (l + rr) / 2, cy = (t + b) / 2, rx = (rr - l) / 2, ry = (b - t) / 2;
  double a0 = pointAngle(cx, cy, rx, ry, r.I32(24), r.I32(28));
  double a1 = pointAngle(cx, cy, rx, ry, r.I32(32), r.I32(36));
  if (arcsCounterClockwise()) {
    while (a1 <= a0) a1 += 2 * M_PI;
  } else {
    while (a1 >= a0) a1 -= 2 * M_PI;
  }
  const bool inPath = s.InPath;
  if (r.Type == 47) {
    pathMove(cx, cy, inPath);
    pathArc(l, t, rr, b, a0, a1, true);
    p.ClosePath();
  } else if (r.Type == 55) {
    if (!inPath) pathMove(s.CurX, s.CurY, false);
    pathArc(l, t, rr, b, a0, a1, true);
    s.CurX = int32_t(cx + rx * std::cos(a1));
    s.CurY = int32_t(cy - ry * std::sin(a1));
  } else {
    if (inPath) {
      pathMove(cx + rx * std::cos(a0), cy - ry * std::sin(a0));
      pathArc(l, t, rr, b, a0, a1, true);
    } else {
      pathArc(l, t, rr, b, a0, a1, false);
    }
    if (r.Type == 46) p.ClosePath();
  }
  if (!inPath) paint(r.Type == 46 || r.Type == 47, true);  // ARC and ARCTO are open strokes
}

// ---- Painting without the path: pixels, region fills, gradients ----------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::PaintRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  static const TRecordHandler table[] = {
      {15, 20, [](M& m, const R& r) { m.setPixelRecord(r); }},
      {71, 32, [](M& m, const R& r) { m.fillRegionRecord(r); }},
      {118, 36, [](M& m, const R& r) { m.gradientFillRecord(r); }},
  };
  return table;
}

void TPDFMetafile::setPixelRecord(const TEmfRecord& r) {
  const double x = r.I32(8), y = r.I32(12);
  uint8_t cr, cg, cb;
  decodeColor(r.U32(16), cr, cg, cb);
  TPDFPainter& p = *painter_;
  const std::string keep = p.SaveTextState();
  p.SetFillColor(cr / 255.0, cg / 255.0, cb / 255.0);
  pathMove(x, y, false);
  pathLine(x + 1, y);
  pathLine(x + 1, y + 1);
  pathLine(x, y + 1);
  p.ClosePath();
  p.PaintPath(true, false);
  restorePainterState(keep);
}

// The rectangles of region data as closed figures of one path, on the
// device (regions are not transformed); beforeFirst runs before the first
// one. Returns how many were added.
size_t TPDFMetafile::regionPath(std::string_view data, bool skipEmpty, const std::function<void()>& beforeFirst) {
  if (data.size() < 32) return 0;
  const TEmfRecord region{0, data};
  const uint32_t count = region.U32(8);
  region.Items(32, count, 16);
  auto mx = [&](double x, double y) { return x * deviceMap_.M11 + y * deviceMap_.M21 + deviceMap_.Dx; };
  auto my = [&](double x, double y) { return x * deviceMap_.M12 + y * deviceMap_.M22 + deviceMap_.Dy; };
  TPDFPainter& p = *painter_;
  size_t added = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t o = 32 + size_t(i) * 16;
    const double l = region.I32(o), t = region.I32(o + 4), rr = region.I32(o + 8), b = region.I32(o + 12);
    if (skipEmpty && l == 0 && t == 0 && rr == 0 && b == 0) continue;
    if (added == 0) {
      beforeFirst();
      p.MoveTo(mx(l, t), my(l, t));
    } else {
      p.MoveToKeepPath(mx(l, t), my(l, t));
    }
    p.LineTo(mx(rr, t), my(rr, t));
    p.LineTo(mx(rr, b), my(rr, b));
    p.LineTo(mx(l, b), my(l, b));
    p.ClosePath();
    ++added;
  }
  return added;
}

// FILLRGN: the region painted with a brush of its own; the brush in use stays.
void TPDFMetafile::fillRegionRecord(const TEmfRecord& r) {
  const uint32_t size = r.U32(24), brush = r.U32(28);
  TState& s = *state_;
  const TState keep = s;
  const std::string keepText = painter_->SaveTextState();
  if (!regionPath(r.Slice(32, size), false, [&] { selectObject(brush); })) return;
  painter_->PaintPath(s.BrushOn, false);
  s = keep;
  restorePainterState(keepText);
}

namespace {

struct TGradientVertex {
  double x, y, c[3];
};

// A rectangle of a horizontal or vertical gradient as bands of one colour:
// at most 256, however large it is.
template <class TFill>
void gradientBands(const TGradientVertex& v0, const TGradientVertex& v1, bool horizontal, TFill&& fill) {
  const double span = horizontal ? v1.x - v0.x : v1.y - v0.y;
  const int bands = std::clamp(int(std::fabs(span)), 1, 256);
  for (int k = 0; k < bands; ++k) {
    const double f0 = double(k) / bands, f1 = double(k + 1) / bands, fm = (k + 0.5) / bands;
    double c[3];
    for (int j = 0; j < 3; ++j) c[j] = v0.c[j] + (v1.c[j] - v0.c[j]) * fm;
    std::vector<TPoint> q;
    if (horizontal) {
      const double x0 = v0.x + span * f0, x1 = v0.x + span * f1;
      q = {{x0, v0.y}, {x1, v0.y}, {x1, v1.y}, {x0, v1.y}};
    } else {
      const double y0 = v0.y + span * f0, y1 = v0.y + span * f1;
      q = {{v0.x, y0}, {v1.x, y0}, {v1.x, y1}, {v0.x, y1}};
    }
    fill(q, c);
  }
}

// A shaded triangle cut into 8 x 8 small ones filled in the colour at their centre.
template <class TFill>
void gradientTriangle(const TGradientVertex& A, const TGradientVertex& B, const TGradientVertex& C, TFill&& fill) {
  const int n = 8;
  auto at = [&](double u, double w, TPoint& pt, double* c) {
    const double t = 1 - u - w;
    pt = {A.x * t + B.x * u + C.x * w, A.y * t + B.y * u + C.y * w};
    if (c)
      for (int j = 0; j < 3; ++j) c[j] = A.c[j] * t + B.c[j] * u + C.c[j] * w;
  };
  for (int i = 0; i < n; ++i)
    for (int j = 0; i + j < n; ++j) {
      for (int up = 0; up < (i + j + 1 < n ? 2 : 1); ++up) {
        std::vector<TPoint> tri(3);
        double c[3];
        TPoint centre;
        if (!up) {
          at(double(i) / n, double(j) / n, tri[0], nullptr);
          at(double(i + 1) / n, double(j) / n, tri[1], nullptr);
          at(double(i) / n, double(j + 1) / n, tri[2], nullptr);
          at((i + 1.0 / 3) / n, (j + 1.0 / 3) / n, centre, c);
        } else {
          at(double(i + 1) / n, double(j) / n, tri[0], nullptr);
          at(double(i + 1) / n, double(j + 1) / n, tri[1], nullptr);
          at(double(i) / n, double(j + 1) / n, tri[2], nullptr);
          at((i + 2.0 / 3) / n, (j + 2.0 / 3) / n, centre, c);
        }
        fill(tri, c);
      }
    }
}

}  // namespace

// GRADIENTFILL: rectangles (mode 0 horizontal, 1 vertical) or triangles (2)
// between coloured vertices, painted as many small flat pieces.
void TPDFMetafile::gradientFillRecord(const TEmfRecord& r) {
  const uint32_t nv = r.U32(24), nm = r.U32(28), mode = r.U32(32);
  r.Items(36, nv, 16);
  const size_t meshAt = 36 + size_t(nv) * 16;
  std::vector<TGradientVertex> v(nv);
  for (uint32_t i = 0; i < nv; ++i) {
    const size_t o = 36 + size_t(i) * 16;
    v[i] = {double(r.I32(o)), double(r.I32(o + 4)), {r.U16(o + 8) / 65280.0, r.U16(o + 10) / 65280.0, r.U16(o + 12) / 65280.0}};
    for (double& c : v[i].c) c = std::min(c, 1.0);
  }
  auto vertex = [&](size_t offset) -> const TGradientVertex& {
    const uint32_t index = r.U32(offset);
    if (index >= nv) throw EEmfError("gradient vertex index out of range");
    return v[index];
  };
  TPDFPainter& p = *painter_;
  const std::string keep = p.SaveTextState();
  auto fillPolygon = [&](const std::vector<TPoint>& poly, const double* c) {
    p.SetFillColor(c[0], c[1], c[2]);
    pathMove(poly[0].x, poly[0].y, false);
    for (size_t i = 1; i < poly.size(); ++i) pathLine(poly[i].x, poly[i].y);
    p.ClosePath();
    p.PaintPath(true, false);
  };
  if (mode == 0 || mode == 1) {
    r.Items(meshAt, nm, 8);
    for (uint32_t m = 0; m < nm; ++m) {
      const size_t o = meshAt + size_t(m) * 8;
      const TGradientVertex& v0 = vertex(o);
      const TGradientVertex& v1 = vertex(o + 4);
      gradientBands(v0, v1, mode == 0, fillPolygon);
    }
  } else if (mode == 2) {
    r.Items(meshAt, nm, 12);
    for (uint32_t m = 0; m < nm; ++m) {
      const size_t o = meshAt + size_t(m) * 12;
      const TGradientVertex& a = vertex(o);
      const TGradientVertex& b = vertex(o + 4);
      const TGradientVertex& c = vertex(o + 8);
      gradientTriangle(a, b, c, fillPolygon);
    }
  }
  restorePainterState(keep);
}

// ---- Clipping ---------------------------------------------------------------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::ClipRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  static const TRecordHandler table[] = {
      {30, 24, [](M& m, const R& r) { m.intersectClipRecord(r); }},
      {67, 12, [](M& m, const R& r) { m.selectClipPathRecord(r.U32(8)); }},
      {75, 16, [](M& m, const R& r) { m.selectClipRegionRecord(r); }},
  };
  return table;
}

// Every clip is a nested level that intersects with the clip in force.
void TPDFMetafile::openClipLevel() {
  painter_->WriteOp("q");
  ++state_->ClipDepth, ++totalDepth_;
}

void TPDFMetafile::intersectClipRecord(const TEmfRecord& r) {
  const double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
  openClipLevel();
  pathMove(l, t, false);
  pathLine(rr, t);
  pathLine(rr, b);
  pathLine(l, b);
  painter_->ClosePath();
  painter_->ClipPath();
}

void TPDFMetafile::selectClipPathRecord(uint32_t mode) {
  TPDFPainter& p = *painter_;
  state_->InPath = false;
  if (mode == 5) closeClipLevels();
  if (mode == 1 || mode == 5) {
    openClipLevel();
    if (state_->PolyFillMode == 1)
      p.ClipPathEvenOdd();
    else
      p.ClipPath();
  } else if (p.IsPathOpen()) {
    p.PaintPath(false, false);  // other combinations cannot narrow the clip: the path is dropped
  }
}

void TPDFMetafile::selectClipRegionRecord(const TEmfRecord& r) {
  const uint32_t size = r.U32(8), mode = r.U32(12);
  if (mode == 5) closeClipLevels();
  if (mode != 1 && mode != 2 && mode != 5) return;
  if (regionPath(r.Slice(16, size), true, [this] { openClipLevel(); }))
    painter_->ClipPath();  // region rectangles do not overlap: nonzero is their union
}

// ---- Objects: pens, brushes, fonts ---------------------------------------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::ObjectRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  auto patternBrush = [](M& m, const R& r) { m.createPatternBrushRecord(r); };
  static const TRecordHandler table[] = {
      {37, 12, [](M& m, const R& r) { m.selectObject(r.U32(8)); }},
      {38, 28, [](M& m, const R& r) { m.createPenRecord(r); }},  // CREATEPEN
      {95, 44, [](M& m, const R& r) { m.createPenRecord(r); }},  // EXTCREATEPEN
      {39, 20, [](M& m, const R& r) { m.createBrushRecord(r); }},
      {40, 12, [](M& m, const R& r) {  // DELETEOBJECT
         const uint32_t index = r.U32(8);
         if (index < m.objects_.size()) m.objects_[index].reset();
       }},
      {82, 42, [](M& m, const R& r) { m.createFontRecord(r); }},  // up to the face's first character
      {93, 32, patternBrush},  // CREATEMONOBRUSH
      {94, 32, patternBrush},  // CREATEDIBPATTERNBRUSHPT
  };
  return table;
}

void TPDFMetafile::storeObject(uint32_t index, std::unique_ptr<TObjectEntry> entry) {
  if (index >= 1u << 16) throw EEmfError("object index out of range");
  if (objects_.size() <= index) objects_.resize(index + 1);
  objects_[index] = std::move(entry);
}

void TPDFMetafile::createPenRecord(const TEmfRecord& r) {
  const uint32_t index = r.U32(8);
  auto e = std::make_unique<TObjectEntry>();
  e->Kind = TObjectEntry::kPen;
  uint32_t style;
  if (r.Type == 38) {
    style = r.U32(12);
    e->Width = r.I32(16);
    e->Color = r.U32(24);
  } else {
    style = r.U32(28);
    e->Width = r.U32(32);
    e->Color = r.U32(40);
    if (r.U32(36) == 1) style = 5;  // a pen with a null brush draws nothing
  }
  // The style sits in the low bits, beside the end-cap, join and type flags.
  const uint32_t kind = style & 0x0F;
  e->None = kind == 5;
  e->Dashed = kind >= 1 && kind <= 4;
  storeObject(index, std::move(e));
}

void TPDFMetafile::createBrushRecord(const TEmfRecord& r) {
  const uint32_t index = r.U32(8), style = r.U32(12);
  auto e = std::make_unique<TObjectEntry>();
  e->None = style == 1;
  // Hatched brushes paint solid, in the background colour.
  e->Color = style == 2 ? state_->BkColor : r.U32(16);
  storeObject(index, std::move(e));
}

// EXTCREATEFONTINDIRECTW: a face not installed becomes Arial.
void TPDFMetafile::createFontRecord(const TEmfRecord& r) {
  const uint32_t index = r.U32(8);
  auto e = std::make_unique<TObjectEntry>();
  e->Kind = TObjectEntry::kFont;
  e->Height = r.I32(12);
  e->Escapement = r.I32(20);
  const bool bold = r.I32(28) >= 600, italic = r.U8(32) != 0;
  e->Underline = r.U8(33) != 0;
  e->Strikeout = r.U8(34) != 0;
  e->Charset = r.U8(35);
  std::string face;
  for (size_t i = 0; i < 32; ++i) {
    const uint16_t c = r.U16(40 + i * 2);
    if (c == 0) break;
    face += c < 0x80 ? char(c) : '?';
  }
  if (!std::binary_search(faces_.begin(), faces_.end(), LowerCaseA(face))) face = "Arial";
  e->Face = face + (bold && italic ? " [BoldItalic]" : bold ? " [Bold]" : italic ? " [Italic]" : "");
  fontFor(e->Face, 0);  // made once per face and style
  storeObject(index, std::move(e));
}

// A bitmap brush becomes a tiling pattern; one that cannot be decoded paints grey.
void TPDFMetafile::createPatternBrushRecord(const TEmfRecord& r) {
  const uint32_t index = r.U32(8), usage = r.U32(12);
  TDibImage dib;
  std::string error;
  auto e = std::make_unique<TObjectEntry>();
  e->Color = 0xC0C0C0;
  if (DecodeDib(r.Slice(r.U32(16), std::min<uint32_t>(r.U32(20), 124 + 12 + 256 * 4)), r.Slice(r.U32(24), r.U32(28)), usage,
                dib, error) &&
      !dib.PassThroughKind) {
    TBitmap bitmap(dib.Width, dib.Height);
    for (int32_t y = 0; y < dib.Height; ++y)
      for (int32_t x = 0; x < dib.Width; ++x) {
        const uint8_t* px = dib.Pixel(x, y);
        bitmap.SetPixel(x, y, RGB(px[0], px[1], px[2]));
      }
    auto pattern = std::make_unique<TPDFPattern>(pool_, "PVLP" + newTag());
    if (pattern->BuildFromBitmap(bitmap)) {
      e->Pattern = pattern->Name;
      lists_.Patterns.push_back(std::move(pattern));
    }
  }
  storeObject(index, std::move(e));
}

// ---- Text ---------------------------------------------------------------------------

std::span<const TPDFMetafile::TRecordHandler> TPDFMetafile::TextRecords() {
  using M = TPDFMetafile;
  using R = TEmfRecord;
  auto extTextOut = [](M& m, const R& r) { m.drawTextRecord(r, 36, r.Type == 84, false); };
  auto polyTextOut = [](M& m, const R& r) {
    const uint32_t strings = r.U32(36);
    r.Items(40, strings, 40);
    for (uint32_t i = 0; i < strings; ++i) m.drawTextRecord(r, 40 + size_t(i) * 40, r.Type == 97, false);
  };
  static const TRecordHandler table[] = {
      {83, 76, extTextOut},   // EXTTEXTOUTA
      {84, 76, extTextOut},   // EXTTEXTOUTW
      {96, 40, polyTextOut},  // POLYTEXTOUTA
      {97, 40, polyTextOut},  // POLYTEXTOUTW
      {108, 24, [](M& m, const R& r) { m.smallTextOutRecord(r); }},
  };
  return table;
}

void TPDFMetafile::smallTextOutRecord(const TEmfRecord& r) {
  const double x = r.I32(8), y = r.I32(12);
  const uint32_t count = r.U32(16), options = r.U32(20);
  const size_t at = (options & 0x100) ? 36 : 52;
  std::u16string text;
  if (options & 0x200) {
    for (char c : r.Items(at, count, 1)) text += char16_t(uint8_t(c));
  } else {
    r.Items(at, count, 2);
    for (uint32_t i = 0; i < count; ++i) text += char16_t(r.U16(at + size_t(i) * 2));
  }
  drawString(text, x, y, {});
}

namespace {

// The code page of a font's character set (lfCharSet), as the system's
// conversion of 8-bit text in that set reads it.
int32_t CodePageOfCharset(int32_t charset) {
  switch (charset) {
    case 128:
      return 932;  // Shift-JIS
    case 129:
      return 949;  // Hangul
    case 130:
      return 1361;  // Johab
    case 134:
      return 936;  // GB2312
    case 136:
      return 950;  // Big5
    case 161:
      return 1253;
    case 162:
      return 1254;
    case 163:
      return 1258;
    case 177:
      return 1255;
    case 178:
      return 1256;
    case 186:
      return 1257;
    case 204:
      return 1251;
    case 222:
      return 874;
    case 238:
      return 1250;
    default:
      return 1252;
  }
}

// 8-bit text in a code page, with the number of bytes of each character
// (two for the double-byte characters of the East Asian code pages).
std::u16string DecodeCodePage(std::string_view bytes, int32_t codePage, std::vector<uint32_t>& lengths) {
  std::u16string text;
  lengths.clear();
  const bool doubleByte = codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950 || codePage == 1361;
  if (!doubleByte) {
    const auto& table = CodePageToUnicode(codePage);
    for (char c : bytes) {
      text += table[uint8_t(c)] ? table[uint8_t(c)] : char16_t(uint8_t(c));
      lengths.push_back(1);
    }
    return text;
  }
  const char* name = codePage == 932   ? "CP932"
                     : codePage == 936 ? "CP936"
                     : codePage == 949 ? "CP949"
                     : codePage == 950 ? "CP950"
                                       : "JOHAB";
  iconv_t cd = iconv_open("UTF-16LE", name);
  if (cd == iconv_t(-1)) {
    for (char c : bytes) text += char16_t(uint8_t(c)), lengths.push_back(1);
    return text;
  }
  // One character at a time: a byte alone, else with the byte after it.
  for (size_t i = 0; i < bytes.size();) {
    bool done = false;
    for (size_t n = 1; n <= 2 && i + n <= bytes.size() && !done; ++n) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      char in[2] = {bytes[i], n == 2 ? bytes[i + 1] : '\0'};
      char out[8];
      char* inPtr = in;
      char* outPtr = out;
      size_t inLeft = n, outLeft = sizeof out;
      if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != size_t(-1) && inLeft == 0 && outLeft < sizeof out) {
        for (size_t k = 0; k + 1 < sizeof out - outLeft; k += 2)
          text += char16_t(uint8_t(out[k]) | uint8_t(out[k + 1]) << 8);
        lengths.push_back(uint32_t(n));
        i += n;
        done = true;
      }
    }
    if (!done) {
      // A byte the code page does not know is left out.
      if (!lengths.empty()) ++lengths.back();
      ++i;
    }
  }
  iconv_close(cd);
  return text;
}

}  // namespace

void TPDFMetafile::drawTextRecord(const TEmfRecord& r, size_t at, bool wide, bool) {
  const double x = r.I32(at), y = r.I32(at + 4);
  const uint32_t count = r.U32(at + 8), offString = r.U32(at + 12), options = r.U32(at + 16),
                 offDx = r.U32(at + 36);
  if (count == 0) return;
  std::u16string text;
  // Bytes per character of 8-bit text in a double-byte code page: the
  // record's advances are per byte.
  std::vector<uint32_t> lengths;
  if (wide) {
    r.Items(offString, count, 2);
    for (uint32_t i = 0; i < count; ++i) text += char16_t(r.U16(offString + size_t(i) * 2));
  } else {
    // 8-bit text is in the code page of the selected font's character set.
    text = DecodeCodePage(r.Items(offString, count, 1), CodePageOfCharset(state_->Charset), lengths);
    if (text.empty()) return;
  }
  if (options & 0x10) {
    // Glyph indices name glyphs of the current face: its character map,
    // read backwards, gives the characters (unknown glyphs are left out).
    const std::string face = state_->FontName.empty() ? "Arial" : state_->FontName;
    auto known = std::find_if(glyphMaps_.begin(), glyphMaps_.end(), [&](const auto& m) { return m.first == face; });
    if (known == glyphMaps_.end()) {
      glyphMaps_.emplace_back(face, glyphCharacters(face));
      known = glyphMaps_.end() - 1;
    }
    const std::vector<char16_t>& map = known->second;
    for (char16_t& c : text) c = c < map.size() && map[c] ? map[c] : char16_t(0xFFFF);
  }
  std::vector<double> advances;
  if (offDx != 0) {
    const size_t step = (options & 0x2000) ? 8 : 4;
    if (r.Has(offDx, size_t(count) * step)) {
      advances.reserve(count);
      for (uint32_t i = 0; i < count; ++i) advances.push_back(ScaleX(r.I32(offDx + size_t(i) * step)));
    }
  }
  if (!lengths.empty() && !advances.empty() && lengths.size() != advances.size()) {
    std::vector<double> merged;
    size_t byte = 0;
    for (uint32_t n : lengths) {
      double sum = 0;
      for (uint32_t k = 0; k < n && byte < advances.size(); ++k) sum += advances[byte++];
      merged.push_back(sum);
    }
    advances = std::move(merged);
  }
  drawString(text, x, y, advances);
}
