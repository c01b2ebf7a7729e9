// The glyph op list: finding a glyph's charstring, building and caching its
// op list, and replaying the list into a cached outline drawn through a matrix.
#include <charconv>
#include <cmath>
#include <vector>

#include "render/PavonaType1.h"
#include "render/PavonaType1Internal.h"

using namespace pvltype1;

namespace {

// Digits after a "GID:" or "CID:" prefix as a non-negative index; -1 otherwise.
int64_t keyNumber(std::string_view key) {
  std::string_view digits = key.substr(4);
  int64_t v = -1;
  if (digits.empty()) return -1;
  auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || v < 0) return -1;
  return v;
}

}  // namespace

std::string TPDFType1Decoder::FindCharString(std::string_view glyphKey) {
  currentFD_ = -1;
  int32_t index = glyphIndexOf(glyphKey);
  if (index < 0 && glyphKey.substr(0, 4) == "GID:") {
    std::string cid = "CID:";
    cid.append(glyphKey.substr(4));
    if (!GlyphIndexKeys) index = glyphIndexOf(cid);
    if (index < 0) {
      int64_t n = keyNumber(glyphKey);
      if (n >= 0 && n <= INT32_MAX) index = static_cast<int32_t>(n);
      // A Type 1 program's glyphs are numbered in their order with .notdef
      // first, as font engines number them: .notdef and the charstring at
      // 0 trade places.
      const int32_t notdef = charStringType_ == 1 && index >= 0 ? glyphIndexOf(".notdef") : -1;
      if (notdef > 0 && index == 0)
        index = notdef;
      else if (notdef > 0 && index == notdef)
        index = 0;
    }
  }
  if (index < 0 && glyphKey.substr(0, 2) == "U+") {
    // A character key (the Symbol stand-in's): the glyph of its standard or symbol name.
    uint32_t u = 0;
    const std::string_view hex = glyphKey.substr(2);
    auto res = std::from_chars(hex.data(), hex.data() + hex.size(), u, 16);
    if (res.ec == std::errc() && res.ptr == hex.data() + hex.size() && u > 0 && u <= 0xFFFF) {
      const std::string name = GlyphNameOfCode(static_cast<uint16_t>(u));
      if (!name.empty()) index = glyphIndexOf(name);
    }
  }
  if (index < 0) return std::string();
  if (index < static_cast<int32_t>(fdSelect_.size())) currentFD_ = fdSelect_[static_cast<size_t>(index)];
  if (index >= charStrings_.GetCount()) return std::string();
  return charStrings_.GetString(index);
}

bool TPDFType1Decoder::BuildGlyphOps(std::string_view glyphKey) {
  // Not kept: a glyph's outline is kept once built, and its advance is read
  // once per font, so a kept list would only double what is held.
  return charStringType_ == 2 ? Type2CharStringToOps(glyphKey) : Type1CharStringToOps(glyphKey);
}

bool TPDFType1Decoder::DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view glyphKey,
                                 double x, double y) {
  TPDFMatrix M = matrix;
  if (shapedMatrix_) {
    MatrixMultiply(M, fontMatrix_, matrix);
  } else if (glyphScale_ != 1.0) {
    TPDFMatrix S{glyphScale_, 0, 0, glyphScale_, 0, 0};
    MatrixMultiply(M, S, matrix);
  }
  bool result = false;
  TPDFGenericShape* shape = nullptr;
  int32_t at = -1;
  if (outlineCache_.Find(glyphKey, at)) {
    shape = static_cast<TPDFGenericShape*>(outlineCache_.GetObject(at));
    result = missingGlyphs_.count(std::string(glyphKey)) == 0;
  } else {
    auto fresh = std::make_unique<TPDFGenericShape>();
    shape = fresh.get();
    outlineCache_.AddObject(glyphKey, shape);
    cachedOutlines_.push_back(std::move(fresh));
    BuildGlyphOps(glyphKey);
    // A CID-keyed font may scale its glyphs per Font DICT.
    double fdScale = 1.0;
    if (!fdScales_.empty()) {
      FindCharString(glyphKey);
      if (currentFD_ >= 0 && currentFD_ < static_cast<int32_t>(fdScales_.size()))
        fdScale = fdScales_[static_cast<size_t>(currentFD_)];
    }
    // Built even without a canvas, so that the cached outline is the glyph's.
    result = ReplayOps(opList_, shape, fdScale);
    if (!result) missingGlyphs_.insert(std::string(glyphKey));
  }
  TPDFMatrix T{1, 0, 0, 1, x, y};
  MatrixMultiply(M, T, M);
  if (canvas && shape) DrawShapeOnCanvas(*canvas, *shape, M);
  return result;
}

bool TPDFType1Decoder::GetGlyphAdvance(std::string_view glyphKey, double& width) {
  double advance = 0;
  if (charStringType_ == 2) {
    // The op list carries no Type 2 width: translate afresh (the cached list
    // would not set it).
    TPavonaStringList keep;
    keep.AddStrings(opList_);
    const bool found = Type2CharStringToOps(glyphKey);
    advance = lastType2Width_;
    opList_.Clear();
    opList_.AddStrings(keep);
    if (!found) return false;
  } else {
    if (!BuildGlyphOps(glyphKey)) return false;
    bool seen = false;
    for (int32_t i = 0; i < opList_.GetCount() && !seen; ++i) {
      const std::string& e = opList_.GetString(i);
      if (e.rfind("hsbw(", 0) != 0 && e.rfind("sbw(", 0) != 0) continue;
      size_t open = e.find('('), close = e.find(')');
      if (close == std::string::npos || close < open) break;
      std::string_view inner = std::string_view(e).substr(open + 1, close - open - 1);
      std::vector<double> v;
      while (!inner.empty()) {
        size_t comma = inner.find(',');
        v.push_back(NumOf(inner.substr(0, comma)));
        if (comma == std::string_view::npos) break;
        inner.remove_prefix(comma + 1);
      }
      advance = e[0] == 'h' ? (v.size() > 1 ? v[1] : 0) : (v.size() > 2 ? v[2] : 0);
      seen = true;
    }
    if (!seen) return false;
  }
  // Glyph units to 1/1000 em through the FontMatrix (its horizontal part).
  width = advance * (shapedMatrix_ ? fontMatrix_.a : glyphScale_);
  return std::isfinite(width);
}

// ---------------------------------------------------------------------------
// Replay

namespace {

// Reads the arguments of one entry: after the first "(", each argument runs up
// to the next "," or ")".
struct TArgReader {
  std::string_view rest;
  bool open = false;

  double next() {
    if (!open) return 0;
    size_t e = rest.find_first_of(",)");
    std::string_view a = rest.substr(0, e);
    if (e == std::string_view::npos) {
      rest = std::string_view();
      open = false;
    } else {
      if (rest[e] == ')') open = false;
      rest.remove_prefix(e + 1);
    }
    while (!a.empty() && a.front() == ' ') a.remove_prefix(1);
    while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
    return NumOf(a);
  }
};

}  // namespace

bool TPDFType1Decoder::ReplayOps(const TPavonaStringList& ops, TPDFGenericShape* outShape, double scale) {
  // Points go through a scaling proxy only when the scale is not 1.
  struct TScaled {
    TPDFGenericShape* shape;
    double k;
    void MoveTo(double x, double y) { shape->MoveTo(x * k, y * k); }
    void LineTo(double x, double y) { shape->LineTo(x * k, y * k); }
    void CurveTo(double a, double b, double c, double d, double e, double f) {
      shape->CurveTo(a * k, b * k, c * k, d * k, e * k, f * k);
    }
    void ClosePath() { shape->ClosePath(); }
  } scaled{outShape, scale};
  TScaled* shape = outShape ? &scaled : nullptr;
  double cx = 0, cy = 0, sbx = 0, sby = 0;
  bool seac = false, ended = false, open = false;
  auto close = [&]() {
    if (open && shape) shape->ClosePath();
    open = false;
  };
  // A drawing entry without a preceding move starts its subpath at the
  // current point, so every subpath of the outline begins with a move.
  auto ensureOpen = [&]() {
    if (!open && shape) shape->MoveTo(cx, cy);
    open = true;
  };
  auto moveTo = [&]() {
    close();
    if (shape) shape->MoveTo(cx, cy);
    open = true;
  };
  // Six relative numbers: both control points and the end point, each from the one before.
  auto relativeCurve = [&](TArgReader& args) {
    double a[6];
    for (double& v : a) v = args.next();
    double x1 = cx + a[0], y1 = cy + a[1];
    double x2 = x1 + a[2], y2 = y1 + a[3];
    cx = x2 + a[4];
    cy = y2 + a[5];
    if (shape) shape->CurveTo(x1, y1, x2, y2, cx, cy);
  };
  for (int32_t i = 0; i < ops.GetCount(); ++i) {
    std::string_view e = ops.GetString(i);
    size_t p = e.find('(');
    std::string_view name = e.substr(0, p);
    TArgReader args;
    if (p != std::string_view::npos) {
      args.rest = e.substr(p + 1);
      args.open = true;
    }
    if (name.empty()) continue;
    switch (name[0]) {
      case 'h':
        if (name == "hsbw") {
          sbx = args.next();
          args.next();
          if (!seac) {
            cx = sbx;
            cy = 0;
          }
        } else if (name == "hmoveto") {
          cx += args.next();
          moveTo();
        }
        break;
      case 's':
        if (name == "sbw") {
          sbx = args.next();
          sby = args.next();
          if (!seac) {
            cx = sbx;
            cy = sby;
          }
        } else if (name == "setcurrentpoint") {
          cx = args.next();
          cy = args.next();
        } else if (name == "seac") {
          seac = true;
          args.next();
          double adx = args.next(), ady = args.next();
          cx = sbx + adx;
          cy = sby + ady;
        }
        break;
      case 'r':
        if (name == "rmoveto") {
          double dx = args.next(), dy = args.next();
          cx += dx;
          cy += dy;
          moveTo();
        } else if (name == "rlineto") {
          ensureOpen();
          cx += args.next();
          cy += args.next();
          if (shape) shape->LineTo(cx, cy);
        } else if (name == "rrcurveto") {
          ensureOpen();
          relativeCurve(args);
        }
        break;
      case 'v':
        if (name == "vmoveto") {
          cy += args.next();
          moveTo();
        }
        break;
      case 'f':
        if (name == "flex") {
          ensureOpen();
          double a[14];
          for (double& v : a) v = args.next();
          double x1 = cx + a[0] + a[2], y1 = cy + a[1] + a[3];
          double x2 = x1 + a[4], y2 = y1 + a[5];
          double x3 = x2 + a[6], y3 = y2 + a[7];
          if (shape) shape->CurveTo(x1, y1, x2, y2, x3, y3);
          double x4 = x3 + a[8], y4 = y3 + a[9];
          double x5 = x4 + a[10], y5 = y4 + a[11];
          cx = x5 + a[12];
          cy = y5 + a[13];
          if (shape) shape->CurveTo(x4, y4, x5, y5, cx, cy);
        }
        break;
      case 't':
        if (name == "t2flex") {
          ensureOpen();
          relativeCurve(args);
          relativeCurve(args);
        }
        break;
      case 'c':
        if (name == "closepath") close();
        break;
      case 'e':
        if (name == "endchar") ended = true;
        break;
      default:
        break;
    }
  }
  close();
  return ended;
}
