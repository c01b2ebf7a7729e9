#include "GlyphOutlineOracle.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <cmath>
#include <sstream>

namespace glyphoracle {

void RecordingCanvas::MoveTo(double x, double y) {
  Contour c;
  c.sx = x;
  c.sy = y;
  raw_.push_back(c);
}

void RecordingCanvas::LineTo(double x, double y) {
  if (raw_.empty()) MoveTo(0, 0);
  Segment s;
  s.x = x;
  s.y = y;
  raw_.back().segs.push_back(s);
}

void RecordingCanvas::CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  if (raw_.empty()) MoveTo(0, 0);
  raw_.back().segs.push_back(Segment{true, x1, y1, x2, y2, x3, y3});
}

void RecordingCanvas::QuadraticCurveTo(double cx, double cy, double x, double y) {
  // Not drawn by the PostScript-outline decoders; recorded as a degenerate cubic.
  CurveTo(cx, cy, cx, cy, x, y);
}

void RecordingCanvas::ClosePath() {}

Outline RecordingCanvas::Result() const { return Normalize(raw_); }

Outline Normalize(const Outline& in) {
  Outline out;
  for (const Contour& c : in) {
    Contour n;
    n.sx = c.sx;
    n.sy = c.sy;
    double px = c.sx, py = c.sy;
    for (const Segment& s : c.segs) {
      if (!s.cubic && s.x == px && s.y == py) continue;
      n.segs.push_back(s);
      px = s.x;
      py = s.y;
    }
    if (n.segs.empty()) continue;
    if (std::fabs(px - n.sx) > 1e-9 || std::fabs(py - n.sy) > 1e-9) {
      Segment close;
      close.x = n.sx;
      close.y = n.sy;
      n.segs.push_back(close);
    }
    out.push_back(n);
  }
  return out;
}

std::string Compare(const Outline& ours, const Outline& theirs, double tol) {
  std::ostringstream m;
  auto near = [tol](double a, double b) { return std::fabs(a - b) <= tol + 1e-9; };
  if (ours.size() != theirs.size()) {
    m << "contours " << ours.size() << " vs " << theirs.size();
    return m.str();
  }
  for (size_t c = 0; c < ours.size(); ++c) {
    const Contour& a = ours[c];
    const Contour& b = theirs[c];
    if (!near(a.sx, b.sx) || !near(a.sy, b.sy)) {
      m << "contour " << c << " start (" << a.sx << "," << a.sy << ") vs (" << b.sx << "," << b.sy << ")";
      return m.str();
    }
    if (a.segs.size() != b.segs.size()) {
      m << "contour " << c << " segments " << a.segs.size() << " vs " << b.segs.size();
      return m.str();
    }
    for (size_t s = 0; s < a.segs.size(); ++s) {
      const Segment& p = a.segs[s];
      const Segment& q = b.segs[s];
      bool ok = p.cubic == q.cubic && near(p.x, q.x) && near(p.y, q.y);
      if (ok && p.cubic) ok = near(p.x1, q.x1) && near(p.y1, q.y1) && near(p.x2, q.x2) && near(p.y2, q.y2);
      if (!ok) {
        m << "contour " << c << " segment " << s << ": (" << p.x << "," << p.y << ") vs (" << q.x << "," << q.y
          << ")";
        return m.str();
      }
    }
  }
  return std::string();
}

// ---------------------------------------------------------------------------

namespace {

struct Decomposer {
  Outline out;
  static int moveTo(const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    Contour c;
    c.sx = static_cast<double>(to->x);
    c.sy = static_cast<double>(to->y);
    d->out.push_back(c);
    return 0;
  }
  static int lineTo(const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    Segment s;
    s.x = static_cast<double>(to->x);
    s.y = static_cast<double>(to->y);
    d->out.back().segs.push_back(s);
    return 0;
  }
  static int conicTo(const FT_Vector* c, const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    d->out.back().segs.push_back(Segment{true, static_cast<double>(c->x), static_cast<double>(c->y),
                                         static_cast<double>(c->x), static_cast<double>(c->y),
                                         static_cast<double>(to->x), static_cast<double>(to->y)});
    return 0;
  }
  static int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* d = static_cast<Decomposer*>(user);
    d->out.back().segs.push_back(Segment{true, static_cast<double>(c1->x), static_cast<double>(c1->y),
                                         static_cast<double>(c2->x), static_cast<double>(c2->y),
                                         static_cast<double>(to->x), static_cast<double>(to->y)});
    return 0;
  }
};

}  // namespace

FreeTypeFont::FreeTypeFont(const std::string& bytes) : bytes_(bytes) {
  FT_Library lib = nullptr;
  if (FT_Init_FreeType(&lib) != 0) return;
  library_ = lib;
  FT_Face face = nullptr;
  if (FT_New_Memory_Face(lib, reinterpret_cast<const FT_Byte*>(bytes_.data()), static_cast<FT_Long>(bytes_.size()),
                         0, &face) == 0)
    face_ = face;
}

FreeTypeFont::~FreeTypeFont() {
  if (face_) FT_Done_Face(static_cast<FT_Face>(face_));
  if (library_) FT_Done_FreeType(static_cast<FT_Library>(library_));
}

int FreeTypeFont::GlyphCount() const { return face_ ? static_cast<int>(static_cast<FT_Face>(face_)->num_glyphs) : 0; }

std::string FreeTypeFont::GlyphName(int gid) const {
  char buf[256] = {0};
  if (!face_ || FT_Get_Glyph_Name(static_cast<FT_Face>(face_), static_cast<FT_UInt>(gid), buf, sizeof buf) != 0)
    return std::string();
  return buf;
}

int FreeTypeFont::IndexOfName(const std::string& name) const {
  if (!face_) return 0;
  return static_cast<int>(FT_Get_Name_Index(static_cast<FT_Face>(face_), name.c_str()));
}

bool FreeTypeFont::Load(int gid, Outline& outline, double& advance) const {
  auto face = static_cast<FT_Face>(face_);
  if (!face || FT_Load_Glyph(face, static_cast<FT_UInt>(gid), FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING) != 0)
    return false;
  advance = static_cast<double>(face->glyph->metrics.horiAdvance);
  Decomposer d;
  FT_Outline_Funcs funcs{};
  funcs.move_to = &Decomposer::moveTo;
  funcs.line_to = &Decomposer::lineTo;
  funcs.conic_to = &Decomposer::conicTo;
  funcs.cubic_to = &Decomposer::cubicTo;
  if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE && face->glyph->outline.n_points > 0)
    FT_Outline_Decompose(&face->glyph->outline, &funcs, &d);
  outline = Normalize(d.out);
  return true;
}

}  // namespace glyphoracle
