// The metafile converter's record handlers: state records, objects,
// lines, curves, shapes, regions, gradients, clipping and text.
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

void TPDFMetafile::dispatch(const TEmfRecord& r) {
  TState& s = *state_;
  TPDFPainter& p = *painter_;
  // Arcs turn the other way on the device when the logical-to-device
  // mapping mirrors the picture.
  auto counterClockwise = [&] {
    const double det = full_.M11 * full_.M22 - full_.M12 * full_.M21;
    const double outDet = output_.M11 * output_.M22;
    return (s.ArcDirection == 1) == ((det > 0) == (outDet > 0));
  };
  switch (r.Type) {
    case 1:  // HEADER: handled before playing
      break;
    case 2: case 3: case 4: case 5: case 6:        // POLYBEZIER ... POLYLINETO
    case 85: case 86: case 87: case 88: case 89: {  // their 16-bit forms
      const bool small = r.Type >= 85;
      const uint32_t type = small ? r.Type - 83 : r.Type;
      const std::vector<TPoint> pts = readPoints(r, 28, r.U32(24), small);
      if (pts.empty()) break;
      const bool to = type == 5 || type == 6;  // POLYBEZIERTO, POLYLINETO
      const bool bezier = type == 2 || type == 5;
      size_t i = 0;
      if (to) {
        if (s.InPath && p.IsPathOpen())
          ;  // continues the path's figure
        else if (s.InPath)
          pathMove(s.CurX, s.CurY);
        else
          pathMove(s.CurX, s.CurY, false);
      } else if (s.InPath && type != 3) {
        pathMove(pts[0].x, pts[0].y);
        i = 1;
      } else if (s.InPath) {
        pathMove(pts[0].x, pts[0].y);
        i = 1;
      } else {
        pathMove(pts[0].x, pts[0].y, false);
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
      break;
    }
    case 7: case 8: case 90: case 91: {  // POLYPOLYLINE, POLYPOLYGON (+16)
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
        pathMove(pts[at].x, pts[at].y, !any && !s.InPath ? false : true);
        for (uint32_t j = 1; j < n; ++j) pathLine(pts[at + j].x, pts[at + j].y);
        if (polygon) p.ClosePath();
        at += n;
        any = true;
      }
      if (any && !s.InPath) paint(polygon, true);
      break;
    }
    case 9: s.WinExt[0] = r.I32(8), s.WinExt[1] = r.I32(12); UpdateTransform(); break;
    case 10: s.WinOrg[0] = r.I32(8), s.WinOrg[1] = r.I32(12); UpdateTransform(); break;
    case 11: s.VpExt[0] = r.I32(8), s.VpExt[1] = r.I32(12); UpdateTransform(); break;
    case 12: s.VpOrg[0] = r.I32(8), s.VpOrg[1] = r.I32(12); UpdateTransform(); break;
    case 15: {  // SETPIXELV
      const double x = r.I32(8), y = r.I32(12);
      uint8_t cr, cg, cb;
      decodeColor(r.U32(16), cr, cg, cb);
      const std::string keep = p.SaveTextState();
      p.SetFillColor(cr / 255.0, cg / 255.0, cb / 255.0);
      pathMove(x, y, false);
      pathLine(x + 1, y);
      pathLine(x + 1, y + 1);
      pathLine(x, y + 1);
      p.ClosePath();
      p.PaintPath(true, false);
      p.RestoreTextState(keep, [this](int32_t n) { return fontByNumber(n); });
      break;
    }
    case 17: SetMapMode(r.I32(8)); UpdateTransform(); break;
    case 18: s.BkMode = r.I32(8); break;
    case 19: s.PolyFillMode = r.I32(8); break;
    case 22: s.TextAlign = r.U32(8); break;
    case 24: s.TextColor = r.U32(8); break;
    case 25: s.BkColor = r.U32(8); break;
    case 27:  // MOVETOEX
      if (s.InPath) pathMove(r.I32(8), r.I32(12));
      s.CurX = r.I32(8), s.CurY = r.I32(12);
      break;
    case 30: {  // INTERSECTCLIPRECT: a nested level intersects with the clip in force
      const double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
      p.WriteOp("q");
      ++s.ClipDepth, ++totalDepth_;
      pathMove(l, t, false);
      pathLine(rr, t);
      pathLine(rr, b);
      pathLine(l, b);
      p.ClosePath();
      p.ClipPath();
      break;
    }
    case 31: case 32: {  // SCALEVIEWPORTEXTEX, SCALEWINDOWEXTEX
      if (s.MapMode == 7 || s.MapMode == 8) {
        const int32_t xn = r.I32(8), xd = r.I32(12), yn = r.I32(16), yd = r.I32(20);
        if (xd == 0 || yd == 0) break;
        double* ext = r.Type == 31 ? s.VpExt : s.WinExt;
        double nx = std::round(double(xn) * ext[0] / xd), ny = std::round(double(yn) * ext[1] / yd);
        ext[0] = nx == 0 ? 1 : nx;
        ext[1] = ny == 0 ? 1 : ny;
        UpdateTransform();
      }
      break;
    }
    case 33: {  // SAVEDC
      p.WriteOp("q");
      ++totalDepth_;
      saves_.emplace_back(std::make_unique<TState>(s), p.SaveTextState());
      s.ClipDepth = 0;
      break;
    }
    case 34: {  // RESTOREDC: negative counts back, positive names a saved level
      const int64_t n = r.I32(8);
      const int64_t size = int64_t(saves_.size());
      int64_t target;
      if (n < 0)
        target = size + n;
      else if (n > 0)
        target = n - 1;
      else
        break;
      if (target < 0 || target >= size) break;
      while (int64_t(saves_.size()) > target) {
        while (s.ClipDepth > 0) writeQ(), --s.ClipDepth;
        writeQ();
        auto saved = std::move(saves_.back());
        saves_.pop_back();
        s = *saved.first;
        p.RestoreTextState(saved.second, [this](int32_t k) { return fontByNumber(k); });
      }
      UpdateTransform();
      break;
    }
    case 35: s.World = readXForm(r, 8); if (!s.World.Finite()) s.World = TEmfXForm(); UpdateTransform(); break;
    case 36: {
      const TEmfXForm x = readXForm(r, 8);
      const uint32_t mode = r.U32(32);
      if (!x.Finite()) break;
      if (mode == 1)
        s.World = TEmfXForm();
      else if (mode == 2)
        s.World = x.Then(s.World);
      else if (mode == 3)
        s.World = s.World.Then(x);
      else if (mode == 4)
        s.World = x;
      UpdateTransform();
      break;
    }
    case 37: selectObject(r.U32(8)); break;
    case 38: case 95: {  // CREATEPEN, EXTCREATEPEN
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
      if (index >= 1u << 16) throw EEmfError("object index out of range");
      if (objects_.size() <= index) objects_.resize(index + 1);
      objects_[index] = std::move(e);
      break;
    }
    case 39: {  // CREATEBRUSHINDIRECT
      const uint32_t index = r.U32(8), style = r.U32(12);
      auto e = std::make_unique<TObjectEntry>();
      e->None = style == 1;
      // Hatched brushes paint solid, in the background colour.
      e->Color = style == 2 ? s.BkColor : r.U32(16);
      if (index >= 1u << 16) throw EEmfError("object index out of range");
      if (objects_.size() <= index) objects_.resize(index + 1);
      objects_[index] = std::move(e);
      break;
    }
    case 40: {
      const uint32_t index = r.U32(8);
      if (index < objects_.size()) objects_[index].reset();
      break;
    }
    case 41: {  // ANGLEARC
      const double cx = r.I32(8), cy = r.I32(12), radius = r.U32(16);
      const double a0 = r.F32(20) * M_PI / 180, sweep = r.F32(24) * M_PI / 180;
      if (!std::isfinite(a0) || !std::isfinite(sweep)) break;
      const bool inPath = s.InPath;
      if (!inPath) pathMove(s.CurX, s.CurY, false);
      pathArc(cx - radius, cy - radius, cx + radius, cy + radius, a0, a0 + std::clamp(sweep, -4 * M_PI, 4 * M_PI),
              true);
      s.CurX = int32_t(cx + radius * std::cos(a0 + sweep));
      s.CurY = int32_t(cy - radius * std::sin(a0 + sweep));
      if (!inPath) paint(false, true);
      break;
    }
    case 42: case 43: case 44: {  // ELLIPSE, RECTANGLE, ROUNDRECT
      double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
      if (l > rr) std::swap(l, rr);
      if (t > b) std::swap(t, b);
      const bool keep = s.InPath;
      if (r.Type == 42) {
        pathArc(l, t, rr, b, 0, 2 * M_PI, false);
        if (keep) {
          // pathArc starts with a fresh move; inside a bracket it must keep the path
        }
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
      p.ClosePath();
      if (!s.InPath) paint(true, true);
      break;
    }
    case 45: case 46: case 47: case 55: {  // ARC, CHORD, PIE, ARCTO
      double l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
      if (l > rr) std::swap(l, rr);
      if (t > b) std::swap(t, b);
      const double cx = (l + rr) / 2, cy = (t + b) / 2, rx = (rr - l) / 2, ry = (b - t) / 2;
      double a0 = pointAngle(cx, cy, rx, ry, r.I32(24), r.I32(28));
      double a1 = pointAngle(cx, cy, rx, ry, r.I32(32), r.I32(36));
      if (counterClockwise()) {
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
          double x = cx + rx * std::cos(a0), y = cy - ry * std::sin(a0);
          pathMove(x, y);
          pathArc(l, t, rr, b, a0, a1, true);
        } else {
          pathArc(l, t, rr, b, a0, a1, false);
        }
        if (r.Type == 46) p.ClosePath();
      }
      if (!inPath) paint(r.Type == 46 || r.Type == 47, true);  // ARC and ARCTO are open strokes
      break;
    }
    case 54: {  // LINETO
      const double x = r.I32(8), y = r.I32(12);
      if (s.InPath) {
        if (!p.IsPathOpen()) pathMove(s.CurX, s.CurY);
        pathLine(x, y);
      } else if (s.PenOn) {
        pathMove(s.CurX, s.CurY, false);
        pathLine(x, y);
        paint(false, true);
      }
      s.CurX = int32_t(x), s.CurY = int32_t(y);
      break;
    }
    case 56: case 92: {  // POLYDRAW (+16)
      const bool small = r.Type == 92;
      const uint32_t n = r.U32(24);
      const std::vector<TPoint> pts = readPoints(r, 28, n, small);
      const std::string_view types = r.Items(28 + size_t(n) * (small ? 4 : 8), n, 1);
      bool started = s.InPath && p.IsPathOpen();
      if (!started) {
        pathMove(s.CurX, s.CurY, s.InPath);
        started = true;
      }
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
      break;
    }
    case 57: s.ArcDirection = r.I32(8); break;
    case 58: s.MiterLimit = std::max(1.4, double(r.U32(8))); break;
    case 59: s.InPath = true; p.MoveTo(MapX(s.CurX, s.CurY), MapY(s.CurX, s.CurY)); break;
    case 60: s.InPath = false; break;
    case 61: p.ClosePath(); break;
    case 62: s.InPath = false; paint(true, false); break;  // FILLPATH
    case 63: s.InPath = false; paint(true, true); break;   // STROKEANDFILLPATH
    case 64: s.InPath = false; paint(false, true); break;  // STROKEPATH
    case 67: {  // SELECTCLIPPATH
      const uint32_t mode = r.U32(8);
      s.InPath = false;
      if (mode == 5) closeClipLevels();
      if (mode == 1 || mode == 5) {
        p.WriteOp("q");
        ++s.ClipDepth, ++totalDepth_;
        if (s.PolyFillMode == 1)
          p.ClipPathEvenOdd();
        else
          p.ClipPath();
      } else if (p.IsPathOpen()) {
        p.PaintPath(false, false);  // other combinations cannot narrow the clip: the path is dropped
      }
      break;
    }
    case 68: s.InPath = false; if (p.IsPathOpen()) p.PaintPath(false, false); break;
    case 71: {  // FILLRGN
      const uint32_t size = r.U32(24);
      const uint32_t brush = r.U32(28);
      const std::string_view data = r.Slice(32, size);
      if (data.size() < 32) break;
      TEmfRecord region{0, data};
      const uint32_t count = region.U32(8);
      region.Items(32, count, 16);
      if (!count) break;
      const TState keep = s;
      const std::string keepText = p.SaveTextState();
      selectObject(brush);
      bool first = true;
      for (uint32_t i = 0; i < count; ++i) {
        const size_t o = 32 + size_t(i) * 16;
        const double l = region.I32(o), t = region.I32(o + 4), rr = region.I32(o + 8), b = region.I32(o + 12);
        auto mx = [&](double x, double y) { return x * deviceMap_.M11 + y * deviceMap_.M21 + deviceMap_.Dx; };
        auto my = [&](double x, double y) { return x * deviceMap_.M12 + y * deviceMap_.M22 + deviceMap_.Dy; };
        if (first)
          p.MoveTo(mx(l, t), my(l, t));
        else
          p.MoveToKeepPath(mx(l, t), my(l, t));
        p.LineTo(mx(rr, t), my(rr, t));
        p.LineTo(mx(rr, b), my(rr, b));
        p.LineTo(mx(l, b), my(l, b));
        p.ClosePath();
        first = false;
      }
      p.PaintPath(s.BrushOn, false);
      s = keep;
      p.RestoreTextState(keepText, [this](int32_t k) { return fontByNumber(k); });
      break;
    }
    case 75: {  // EXTSELECTCLIPRGN
      const uint32_t size = r.U32(8), mode = r.U32(12);
      if (mode == 5) closeClipLevels();
      if (mode != 1 && mode != 2 && mode != 5) break;
      const std::string_view data = r.Slice(16, size);
      if (data.size() < 32) break;
      TEmfRecord region{0, data};
      const uint32_t count = region.U32(8);
      region.Items(32, count, 16);
      bool any = false;
      for (uint32_t i = 0; i < count; ++i) {
        const size_t o = 32 + size_t(i) * 16;
        const double l = region.I32(o), t = region.I32(o + 4), rr = region.I32(o + 8), b = region.I32(o + 12);
        if (l == 0 && t == 0 && rr == 0 && b == 0) continue;
        auto mx = [&](double x, double y) { return x * deviceMap_.M11 + y * deviceMap_.M21 + deviceMap_.Dx; };
        auto my = [&](double x, double y) { return x * deviceMap_.M12 + y * deviceMap_.M22 + deviceMap_.Dy; };
        if (!any) {
          p.WriteOp("q");
          ++s.ClipDepth, ++totalDepth_;
          p.MoveTo(mx(l, t), my(l, t));
        } else {
          p.MoveToKeepPath(mx(l, t), my(l, t));
        }
        p.LineTo(mx(rr, t), my(rr, t));
        p.LineTo(mx(rr, b), my(rr, b));
        p.LineTo(mx(l, b), my(l, b));
        p.ClosePath();
        any = true;
      }
      if (any) p.ClipPath();  // region rectangles do not overlap: nonzero is their union
      break;
    }
    case 76: case 77: case 78: case 79: case 81: case 114: case 116:
      bitmapRecord(r);
      break;
    case 82: {  // EXTCREATEFONTINDIRECTW
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
      if (index >= 1u << 16) throw EEmfError("object index out of range");
      if (objects_.size() <= index) objects_.resize(index + 1);
      objects_[index] = std::move(e);
      break;
    }
    case 83: case 84: drawTextRecord(r, 36, r.Type == 84, false); break;
    case 96: case 97: {  // POLYTEXTOUTA, POLYTEXTOUTW
      const uint32_t strings = r.U32(36);
      r.Items(40, strings, 40);
      for (uint32_t i = 0; i < strings; ++i) drawTextRecord(r, 40 + size_t(i) * 40, r.Type == 97, false);
      break;
    }
    case 93: case 94: {  // CREATEMONOBRUSH, CREATEDIBPATTERNBRUSHPT
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
      if (index >= 1u << 16) throw EEmfError("object index out of range");
      if (objects_.size() <= index) objects_.resize(index + 1);
      objects_[index] = std::move(e);
      break;
    }
    case 98: s.IcmMode = r.I32(8); break;
    case 108: {  // SMALLTEXTOUT
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
      break;
    }
    case 118: {  // GRADIENTFILL
      const uint32_t nv = r.U32(24), nm = r.U32(28), mode = r.U32(32);
      r.Items(36, nv, 16);
      const size_t meshAt = 36 + size_t(nv) * 16;
      struct TV {
        double x, y, c[3];
      };
      std::vector<TV> v(nv);
      for (uint32_t i = 0; i < nv; ++i) {
        const size_t o = 36 + size_t(i) * 16;
        v[i] = {double(r.I32(o)), double(r.I32(o + 4)), {r.U16(o + 8) / 65280.0, r.U16(o + 10) / 65280.0, r.U16(o + 12) / 65280.0}};
        for (double& c : v[i].c) c = std::min(c, 1.0);
      }
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
          const uint32_t a = r.U32(meshAt + size_t(m) * 8), b = r.U32(meshAt + size_t(m) * 8 + 4);
          if (a >= nv || b >= nv) throw EEmfError("gradient vertex index out of range");
          const TV& v0 = v[a];
          const TV& v1 = v[b];
          // Bands: at most 256 per rectangle, however large it is.
          const double span = mode == 0 ? v1.x - v0.x : v1.y - v0.y;
          const int bands = std::clamp(int(std::fabs(span)), 1, 256);
          for (int k = 0; k < bands; ++k) {
            const double f0 = double(k) / bands, f1 = double(k + 1) / bands, fm = (k + 0.5) / bands;
            double c[3];
            for (int j = 0; j < 3; ++j) c[j] = v0.c[j] + (v1.c[j] - v0.c[j]) * fm;
            std::vector<TPoint> q;
            if (mode == 0) {
              const double x0 = v0.x + span * f0, x1 = v0.x + span * f1;
              q = {{x0, v0.y}, {x1, v0.y}, {x1, v1.y}, {x0, v1.y}};
            } else {
              const double y0 = v0.y + span * f0, y1 = v0.y + span * f1;
              q = {{v0.x, y0}, {v1.x, y0}, {v1.x, y1}, {v0.x, y1}};
            }
            fillPolygon(q, c);
          }
        }
      } else if (mode == 2) {
        r.Items(meshAt, nm, 12);
        for (uint32_t m = 0; m < nm; ++m) {
          uint32_t idx[3];
          for (int j = 0; j < 3; ++j) {
            idx[j] = r.U32(meshAt + size_t(m) * 12 + size_t(j) * 4);
            if (idx[j] >= nv) throw EEmfError("gradient vertex index out of range");
          }
          // Each triangle is cut into 8 x 8 small ones filled in the colour at their centre.
          const int n = 8;
          const TV& A = v[idx[0]];
          const TV& B = v[idx[1]];
          const TV& C = v[idx[2]];
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
                fillPolygon(tri, c);
              }
            }
        }
      }
      p.RestoreTextState(keep, [this](int32_t k) { return fontByNumber(k); });
      break;
    }
    default:
      break;  // records without effect on the picture
  }
}

void TPDFMetafile::drawTextRecord(const TEmfRecord& r, size_t at, bool wide, bool) {
  const double x = r.I32(at), y = r.I32(at + 4);
  const uint32_t count = r.U32(at + 8), offString = r.U32(at + 12), options = r.U32(at + 16),
                 offDx = r.U32(at + 36);
  if (count == 0) return;
  std::u16string text;
  if (wide) {
    r.Items(offString, count, 2);
    for (uint32_t i = 0; i < count; ++i) text += char16_t(r.U16(offString + size_t(i) * 2));
  } else {
    for (char c : r.Items(offString, count, 1)) text += CodePageToUnicode(1252)[uint8_t(c)];
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
  drawString(text, x, y, advances);
}
