#include "render/PavonaFontRasterizer.h"

#include <cctype>
#include <charconv>
#include <map>
#include <mutex>

namespace {

// Data of installed fonts above this size are never loaded.
constexpr uint32_t kMaxSystemFontSize = 104857600;

bool parseDecimal(std::string_view text, int64_t& value) {
  if (text.empty() || text.size() > 10) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseHex4(std::string_view text, uint32_t& value) {
  if (text.size() != 4) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + 4, value, 16);
  return ec == std::errc() && end == text.data() + 4;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

TPDFMatrix translated(const TPDFMatrix& m, double x, double y) {
  TPDFMatrix result;
  MatrixMultiply(result, TPDFMatrix{1, 0, 0, 1, x, y}, m);
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPDFTrueTypeRasterizer2

namespace {

// Installed faces parsed once for all the fonts drawn with them: the fonts of
// a document that carry no program of their own mostly come to the same few
// faces, and each parse holds the face's whole data and glyph-name tables.
// A face is shared while a rasterizer holds it and parsed again after.
class TInstalledFaceParsers {
public:
  std::shared_ptr<const TPDFTrueTypeParser> Find(const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = parsers_.find(key);
    return it == parsers_.end() ? nullptr : it->second.lock();
  }
  void Keep(const std::string& key, const std::shared_ptr<const TPDFTrueTypeParser>& parser) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(parsers_, [](const auto& entry) { return entry.second.expired(); });
    parsers_[key] = parser;
  }

private:
  std::mutex mutex_;
  std::map<std::string, std::weak_ptr<const TPDFTrueTypeParser>> parsers_;
};

TInstalledFaceParsers& installedFaceParsers() {
  static TInstalledFaceParsers parsers;
  return parsers;
}

}  // namespace

TPDFTrueTypeRasterizer2::TPDFTrueTypeRasterizer2() : Parser(std::make_shared<TPDFTrueTypeParser>()) {}
TPDFTrueTypeRasterizer2::~TPDFTrueTypeRasterizer2() = default;

void TPDFTrueTypeRasterizer2::LoadFontData(std::string_view bytes) {
  OutlineCache.clear();
  auto parser = std::make_shared<TPDFTrueTypeParser>();
  parser->LoadFromString(bytes);
  HasCFF = parser->FindTable("CFF ") >= 0 && !bytes.empty();
  Parser = std::move(parser);
}

void TPDFTrueTypeRasterizer2::LoadSystemFontData() {
  OutlineCache.clear();
  FontData.clear();
  HasCFF = false;
  TInstalledFace face;
  bool selected = SelectInstalledFace(workFont_, face);
  uint32_t fontSize = selected ? GetFontData(face, 0, 0, nullptr, 0) : GDI_ERROR;
  if (fontSize != GDI_ERROR && fontSize > kMaxSystemFontSize) {
    workFont_.Name = "Arial";
    selected = SelectInstalledFace(workFont_, face);
    fontSize = selected ? GetFontData(face, 0, 0, nullptr, 0) : GDI_ERROR;
  }
  auto parser = std::make_shared<TPDFTrueTypeParser>();
  std::string key;
  TInstalledFaceBytes mapped;
  if (fontSize != GDI_ERROR && fontSize > 0 && fontSize < kMaxSystemFontSize) {
    key = face.File + '\n' + std::to_string(face.Index) + '\n' + std::to_string(fontSize);
    if (auto shared = installedFaceParsers().Find(key)) {
      Parser = std::move(shared);
      return;
    }
    // The face's file is mapped, not read: of a large face only the tables
    // and glyphs drawn are ever paged in. Table offsets of a face inside a
    // collection count from the collection's start.
    if (MapInstalledFace(face, mapped) && mapped.Bytes.size() == fontSize)
      parser->CollectionOffset = static_cast<int32_t>(mapped.DirectoryOffset);
    else
      mapped = TInstalledFaceBytes();
  }
  const std::string_view data = mapped.Bytes;
  parser->LoadFromShared(std::move(mapped.File), data);
  HasCFF = parser->FindTable("CFF ") >= 0 && !data.empty();
  // A face with CFF outlines keeps its bytes here (and is not shared).
  if (HasCFF)
    FontData = std::string(data);
  else if (!data.empty())
    installedFaceParsers().Keep(key, parser);
  Parser = std::move(parser);
}

void TPDFTrueTypeRasterizer2::GetWidths(const TPDFGlyphNames& names, std::array<double, 256>& widths) const {
  for (size_t i = 0; i < 256; ++i) {
    int32_t g = Parser->FindGlyphName(names[i]);
    if (g >= 0) widths[i] = Parser->GetAdvance(g);
  }
}

int32_t TPDFTrueTypeRasterizer2::FindGlyphIndex(std::string_view key) const {
  bool found = false;
  return FindGlyphIndex(key, found);
}

int32_t TPDFTrueTypeRasterizer2::FindGlyphIndex(std::string_view key, bool& found) const {
  const TPDFTrueTypeParser& p = *Parser;
  bool explicitIndex = false;
  const bool hasNames = p.GetGlyphNameCount() > 0;
  // Microsoft's Unicode table, else one of the Unicode platform's.
  int32_t unicodeMap = p.FindCmapSubtable(3, 1);
  for (uint16_t e = 0; unicodeMap < 0 && e <= 6; ++e) unicodeMap = p.FindCmapSubtable(0, e);
  int32_t g = 0;
  if (startsWith(key, "U+")) {
    uint32_t u = 0;
    if (parseHex4(key.substr(2), u)) {
      if (unicodeMap >= 0)
        g = std::max(p.CmapLookup(unicodeMap, u), 0);
      else if (hasNames)
        g = std::max(p.FindGlyphName(GlyphNameOfCode(static_cast<uint16_t>(u))), 0);
    }
  }
  if (startsWith(key, "PS:") && hasNames) {
    int32_t found = p.FindGlyphName(key.substr(3));
    if (found >= 0) g = found;
  }
  if (startsWith(key, "GID:")) {
    int64_t n = 0;
    g = (parseDecimal(key.substr(4), n) && n >= 0 && n <= 0x7FFFFFFF) ? static_cast<int32_t>(n) : 0;
    explicitIndex = g == n;
  }
  if (g == 0 && SymbolicFont) {
    int64_t n = 0;
    if (key.size() <= 4 || !parseDecimal(key.substr(4), n)) n = 0;
    for (auto [platform, encoding] : {std::pair{3, 0}, std::pair{1, 0}, std::pair{3, 1}}) {
      if (g != 0) break;
      int32_t sub = p.FindCmapSubtable(static_cast<uint16_t>(platform), static_cast<uint16_t>(encoding));
      if (sub >= 0) g = std::max(p.CmapLookupLowByte(sub, static_cast<uint8_t>(n & 0xFF)), 0);
    }
  }
  if (g == 0 && unicodeMap >= 0) {
    uint16_t u = GlyphNameToCode(key);
    if (u != 0) g = std::max(p.CmapLookup(unicodeMap, u), 0);
  }
  if (g == 0) {
    int32_t macMap = p.FindCmapSubtable(1, 0);
    if (macMap >= 0 && p.CmapCodeCount(macMap) == 256) {
      int32_t index = StandardGlyphIndex(key);
      int16_t code = index > 0 ? kStandardGlyphs[index - 1].MacRomanCode : -1;
      if (code >= 0 && code <= 255) g = std::max(p.CmapLookup(macMap, static_cast<uint32_t>(code)), 0);
    }
  }
  if (g == 0 && hasNames) g = std::max(p.FindGlyphName(key), 0);
  if (g == 0 && !explicitIndex) {
    if (startsWith(key, "CID:")) {
      // A code of a symbolic font its code-keyed tables miss: the name the
      // PDF gives the code (Differences) through the Unicode and Macintosh
      // tables and the glyph names.
      int64_t n = 0;
      if (parseDecimal(key.substr(4), n) && n >= 0 && n < 256 && !codeNames_[static_cast<size_t>(n)].empty())
        g = glyphOfName(codeNames_[static_cast<size_t>(n)]);
    } else if (auto it = nameCodes_.find(std::string(key)); it != nameCodes_.end()) {
      // A name none of the font's tables knows: its code through the tables
      // keyed by code (a symbol table, a Macintosh table of any size).
      g = glyphOfCode(it->second);
    }
  }
  found = g < p.GetGlyphCount() && (g != 0 || explicitIndex);
  return g;
}

void TPDFTrueTypeRasterizer2::SetEncoding(const TPDFGlyphNames& names) {
  OutlineCache.clear();
  codeNames_ = names;
  nameCodes_.clear();
  for (size_t c = 0; c < 256; ++c)
    if (!names[c].empty() && names[c] != ".notdef") nameCodes_.emplace(names[c], static_cast<uint32_t>(c));
}

int32_t TPDFTrueTypeRasterizer2::glyphOfCode(uint32_t code) const {
  const TPDFTrueTypeParser& p = *Parser;
  auto lookup = [&](int32_t sub, uint32_t c) { return sub >= 0 ? std::max(p.CmapLookup(sub, c), 0) : 0; };
  int32_t g = 0;
  // Symbol tables place one-byte codes at 0xF000 (some at 0xF100, 0xF200) or at the code.
  const int32_t symbol = p.FindCmapSubtable(3, 0);
  for (uint32_t base : {0xF000u, 0u, 0xF100u, 0xF200u})
    if (g == 0) g = lookup(symbol, base + code);
  if (g == 0) g = lookup(p.FindCmapSubtable(1, 0), code);
  if (g == 0) g = lookup(p.FindCmapSubtable(3, 1), code);
  // A font whose only table is of another kind: its first table, as it stands.
  if (g == 0 && p.GetCmapSubtableCount() > 0) g = lookup(0, code);
  return g;
}

int32_t TPDFTrueTypeRasterizer2::glyphOfName(std::string_view name) const {
  const TPDFTrueTypeParser& p = *Parser;
  int32_t g = 0;
  if (uint16_t u = GlyphNameToCode(name); u != 0) {
    // Unicode tables: Microsoft's, then the Unicode platform's.
    int32_t sub = p.FindCmapSubtable(3, 1);
    for (uint16_t e = 0; sub < 0 && e <= 6; ++e) sub = p.FindCmapSubtable(0, e);
    if (sub >= 0) g = std::max(p.CmapLookup(sub, u), 0);
  }
  if (g == 0) {
    const int32_t mac = p.FindCmapSubtable(1, 0);
    const int32_t index = StandardGlyphIndex(name);
    const int16_t code = index > 0 ? kStandardGlyphs[index - 1].MacRomanCode : -1;
    if (mac >= 0 && code >= 0 && code <= 255) g = std::max(p.CmapLookup(mac, static_cast<uint32_t>(code)), 0);
  }
  if (g == 0 && p.GetGlyphNameCount() > 0) g = std::max(p.FindGlyphName(name), 0);
  return g;
}

void TPDFTrueTypeRasterizer2::buildOutline(int32_t glyph, TPDFGenericShape& shape) const {
  TPDFGlyphOutline outline;
  if (!Parser->GetGlyphOutline(glyph, outline)) return;
  const double scale = 1000.0 / Parser->GetUnitsPerEm();
  uint32_t start = 0;
  for (uint32_t end : outline.EndPoints) {
    if (end < start || end >= outline.Points.size()) break;
    const uint32_t n = end - start + 1;
    auto pt = [&](uint32_t k) { return outline.Points[start + (k % n)]; };
    // A contour begins at an on-curve point: its first, else its last, else
    // the midpoint between the two (all points off the curve).
    double sx, sy;
    uint32_t first;
    if (pt(0).OnCurve) {
      sx = pt(0).X, sy = pt(0).Y, first = 1;
    } else if (pt(n - 1).OnCurve) {
      sx = pt(n - 1).X, sy = pt(n - 1).Y, first = 0;
    } else {
      sx = (pt(0).X + pt(n - 1).X) / 2, sy = (pt(0).Y + pt(n - 1).Y) / 2, first = 0;
    }
    const uint32_t last = pt(n - 1).OnCurve && !pt(0).OnCurve ? n - 1 : n;  // the start point is not revisited
    shape.MoveTo(sx * scale, sy * scale);
    bool pending = false;
    double cx = 0, cy = 0;
    for (uint32_t k = first; k < last; ++k) {
      const TPDFGlyphOutlinePoint& q = pt(k);
      if (q.OnCurve) {
        if (pending)
          shape.QuadTo(cx * scale, cy * scale, q.X * scale, q.Y * scale);
        else
          shape.LineTo(q.X * scale, q.Y * scale);
        pending = false;
      } else {
        if (pending) {
          const double mx = (cx + q.X) / 2, my = (cy + q.Y) / 2;
          shape.QuadTo(cx * scale, cy * scale, mx * scale, my * scale);
        }
        cx = q.X, cy = q.Y, pending = true;
      }
    }
    if (pending)
      shape.QuadTo(cx * scale, cy * scale, sx * scale, sy * scale);
    else
      shape.LineTo(sx * scale, sy * scale);
    shape.ClosePath();
    start = end + 1;
  }
}

bool TPDFTrueTypeRasterizer2::DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix, std::string_view key,
                                        double x, double y) {
  if (Parser->GetGlyphCount() < 1) return false;
  std::string cacheKey(key);
  auto it = OutlineCache.find(cacheKey);
  if (it == OutlineCache.end()) {
    TCachedGlyph glyph;
    glyph.shape = std::make_unique<TPDFGenericShape>();
    buildOutline(FindGlyphIndex(key, glyph.found), *glyph.shape);
    it = OutlineCache.emplace(std::move(cacheKey), std::move(glyph)).first;
  }
  if (canvas && (it->second.found || DrawMissingGlyphs))
    DrawShapeOnCanvas(*canvas, *it->second.shape, translated(matrix, x, y));
  return it->second.found;
}

// ---------------------------------------------------------------------------
// TPDFSimpleTrueTypeRasterizer

namespace {

// Collects an installed glyph's contours as canvas operations through a matrix.
struct CanvasSink : TGlyphOutlineSink {
  TPDFGenericCanvas* canvas;
  TPDFMatrix m;
  TPDFPoint map(double x, double y) const {
    TPDFPoint p;
    MatrixTransformPoint(m, TPDFPoint{x, y}, p);
    return p;
  }
  void MoveTo(double x, double y) override {
    TPDFPoint p = map(x, y);
    if (canvas) canvas->MoveTo(p.x, p.y);
  }
  void LineTo(double x, double y) override {
    TPDFPoint p = map(x, y);
    if (canvas) canvas->LineTo(p.x, p.y);
  }
  void CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    TPDFPoint a = map(x1, y1), b = map(x2, y2), c = map(x3, y3);
    if (canvas) canvas->CurveTo(a.x, a.y, b.x, b.y, c.x, c.y);
  }
  void Close() override {
    if (canvas) canvas->ClosePath();
  }
};

}  // namespace

bool TPDFSimpleTrueTypeRasterizer::DrawGlyph(TPDFGenericCanvas* canvas, const TPDFMatrix& matrix,
                                             std::string_view key, double x, double y) {
  int64_t code = 0;
  if ((startsWith(key, "CID:") || startsWith(key, "GID:")) && parseDecimal(key.substr(4), code) && code > 0 &&
      code <= 0xFFFF) {
    TInstalledFace face;
    if (SelectInstalledFace(workFont_, face)) {
      CanvasSink sink;
      sink.canvas = canvas;
      sink.m = translated(matrix, x, y);
      if (!GetInstalledGlyphOutline(face, static_cast<uint32_t>(code), 1000.0, sink)) code = 0;
    } else {
      code = 0;
    }
  } else {
    code = 0;
  }
  return code > 0;
}
