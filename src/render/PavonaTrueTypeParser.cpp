#include "render/PavonaTrueTypeParser.h"

#include <algorithm>
#include <cmath>

#include "platform/Classes.h"

namespace {

// The standard Macintosh glyph order of the post table.
const char* const kMacGlyphNames[] = {
    ".notdef", ".null", "nonmarkingreturn", "space", "exclam", "quotedbl", "numbersign", "dollar", "percent",
    "ampersand", "quotesingle", "parenleft", "parenright", "asterisk", "plus", "comma", "hyphen", "period", "slash",
    "zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "colon", "semicolon", "less",
    "equal", "greater", "question", "at", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L", "M", "N", "O",
    "P", "Q", "R", "S", "T", "U", "V", "W", "X", "Y", "Z", "bracketleft", "backslash", "bracketright", "asciicircum",
    "underscore", "grave", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q", "r",
    "s", "t", "u", "v", "w", "x", "y", "z", "braceleft", "bar", "braceright", "asciitilde", "Adieresis", "Aring",
    "Ccedilla", "Eacute", "Ntilde", "Odieresis", "Udieresis", "aacute", "agrave", "acircumflex", "adieresis", "atilde",
    "aring", "ccedilla", "eacute", "egrave", "ecircumflex", "edieresis", "iacute", "igrave", "icircumflex",
    "idieresis", "ntilde", "oacute", "ograve", "ocircumflex", "odieresis", "otilde", "uacute", "ugrave",
    "ucircumflex", "udieresis", "dagger", "degree", "cent", "sterling", "section", "bullet", "paragraph",
    "germandbls", "registered", "copyright", "trademark", "acute", "dieresis", "notequal", "AE", "Oslash",
    "infinity", "plusminus", "lessequal", "greaterequal", "yen", "mu", "partialdiff", "summation", "product", "pi",
    "integral", "ordfeminine", "ordmasculine", "Omega", "ae", "oslash", "questiondown", "exclamdown", "logicalnot",
    "radical", "florin", "approxequal", "Delta", "guillemotleft", "guillemotright", "ellipsis", "nonbreakingspace",
    "Agrave", "Atilde", "Otilde", "OE", "oe", "endash", "emdash", "quotedblleft", "quotedblright", "quoteleft",
    "quoteright", "divide", "lozenge", "ydieresis", "Ydieresis", "fraction", "currency", "guilsinglleft",
    "guilsinglright", "fi", "fl", "daggerdbl", "periodcentered", "quotesinglbase", "quotedblbase", "perthousand",
    "Acircumflex", "Ecircumflex", "Aacute", "Edieresis", "Egrave", "Iacute", "Icircumflex", "Idieresis", "Igrave",
    "Oacute", "Ocircumflex", "apple", "Ograve", "Uacute", "Ucircumflex", "Ugrave", "dotlessi", "circumflex", "tilde",
    "macron", "breve", "dotaccent", "ring", "cedilla", "hungarumlaut", "ogonek", "caron", "Lslash", "lslash",
    "Scaron", "scaron", "Zcaron", "zcaron", "brokenbar", "Eth", "eth", "Yacute", "yacute", "Thorn", "thorn", "minus",
    "multiply", "onesuperior", "twosuperior", "threesuperior", "onehalf", "onequarter", "threequarters", "franc",
    "Gbreve", "gbreve", "Idotaccent", "Scedilla", "scedilla", "Cacute", "cacute", "Ccaron", "ccaron", "dcroat"};
static_assert(sizeof kMacGlyphNames / sizeof kMacGlyphNames[0] == 258);

// Nested composites deeper than this are damaged (fonts use two or three levels).
constexpr int kMaxCompositeDepth = 16;
// Points one glyph outline may hold, composites included.
constexpr size_t kMaxOutlinePoints = 1u << 20;

// Big-endian reads that give 0 past the end of the span.
struct Reader {
  std::string_view d;
  size_t pos = 0;
  bool ok = true;

  bool has(size_t n) const { return pos <= d.size() && d.size() - pos >= n; }
  uint8_t u8() {
    if (!has(1)) return ok = false, pos = d.size(), 0;
    return static_cast<uint8_t>(d[pos++]);
  }
  uint16_t u16() {
    if (!has(2)) return ok = false, pos = d.size(), 0;
    uint16_t v = static_cast<uint16_t>((uint8_t(d[pos]) << 8) | uint8_t(d[pos + 1]));
    pos += 2;
    return v;
  }
  int16_t s16() { return static_cast<int16_t>(u16()); }
  uint32_t u32() {
    uint32_t hi = u16();
    return (hi << 16) | u16();
  }
  double fixed() { return static_cast<int32_t>(u32()) / 65536.0; }
  void skip(size_t n) {
    if (!has(n)) ok = false, pos = d.size();
    else pos += n;
  }
};

uint16_t readU16At(std::string_view d, size_t pos) {
  if (pos > d.size() || d.size() - pos < 2) return 0;
  return static_cast<uint16_t>((uint8_t(d[pos]) << 8) | uint8_t(d[pos + 1]));
}

double f2dot14(int16_t v) { return v / 16384.0; }

int32_t toThousandths(int32_t value, int32_t unitsPerEm) { return value * 1000 / unitsPerEm; }

}  // namespace

// ---------------------------------------------------------------------------
// Loading

void TPDFTrueTypeParser::clear() {
  data_ = {};
  ownData_.clear();
  dataOwner_.reset();
  Version = 0;
  NumTables = SearchRange = EntrySelector = RangeShift = 0;
  Tables.clear();
  Header = TPDFTrueTypeHeader();
  NumGlyphs = 0;
  MaxpVersion = 0;
  Locations.clear();
  glyphNameNumbers_.clear();
  customNames_.clear();
  glyphsByName_.clear();
  glyphsByNameMade_ = false;
  CmapVersion = 0;
  CmapSubtables.clear();
  NumberOfHMetrics = 0;
  AdvanceWidths.clear();
  advanceUnits_.clear();
  leftSideBearings_.clear();
  Ascender = Descender = LineGap = AdvanceWidthMax = MinLeftSideBearing = MinRightSideBearing = XMaxExtent = 0;
  CaretSlopeRise = CaretSlopeRun = CaretOffset = 0;
  PostVersion = ItalicAngle = 0;
  UnderlinePosition = UnderlineThickness = 0;
  IsFixedPitch = 0;
}

void TPDFTrueTypeParser::LoadFromStream(TStream& stream) {
  std::string bytes;
  char chunk[65536];
  for (int64_t n; (n = stream.Read(chunk, sizeof chunk)) > 0;) bytes.append(chunk, static_cast<size_t>(n));
  LoadFromString(bytes);
}

void TPDFTrueTypeParser::LoadFromString(std::string_view bytes) {
  clear();
  if (bytes.empty()) return;
  ownData_.assign(bytes);
  data_ = ownData_;
  parse();
}

void TPDFTrueTypeParser::LoadFromShared(std::shared_ptr<const void> owner, std::string_view bytes) {
  clear();
  if (bytes.empty()) return;
  dataOwner_ = std::move(owner);
  data_ = bytes;
  parse();
}

void TPDFTrueTypeParser::parse() {
  Reader r{data_};
  uint32_t version = r.u32();
  if (version != 0x00010000 && version != 0x74727565 /* true */ && version != 0x74797031 /* typ1 */ &&
      version != 0x4F54544F /* OTTO */)
    return;
  Version = version / 65536.0;
  NumTables = r.u16();
  SearchRange = r.u16();
  EntrySelector = r.u16();
  RangeShift = r.u16();
  for (uint32_t i = 0; i < NumTables && r.has(16); ++i) {
    TPDFTrueTypeTable t;
    t.Tag = r.u32();
    t.TagText = data_.substr(r.pos - 4, 4);
    t.Checksum = r.u32();
    t.OffsetFieldPosition = static_cast<int64_t>(r.pos);
    t.Offset = r.u32() - static_cast<uint32_t>(CollectionOffset);
    t.Length = r.u32();
    Tables.push_back(std::move(t));
  }
  if (OffsetsOnly) return;
  readHead();
  readMaxp();
  readLoca();
  readPost();
  readCmap();
  readHhea();
  readHmtx();
}

void TPDFTrueTypeParser::RebaseTableOffsets(std::string& bytes, uint32_t base) {
  Reader r{bytes};
  r.skip(4);
  uint16_t count = r.u16();
  r.skip(6);
  for (uint32_t i = 0; i < count && r.has(16); ++i) {
    size_t field = r.pos + 8;
    r.skip(8);
    uint32_t offset = r.u32() - base;
    r.skip(4);
    bytes[field] = static_cast<char>(offset >> 24);
    bytes[field + 1] = static_cast<char>(offset >> 16);
    bytes[field + 2] = static_cast<char>(offset >> 8);
    bytes[field + 3] = static_cast<char>(offset);
  }
}

int32_t TPDFTrueTypeParser::FindTable(std::string_view tag) const {
  for (size_t i = 0; i < Tables.size(); ++i)
    if (Tables[i].TagText == tag) return static_cast<int32_t>(i);
  return -1;
}

uint32_t TPDFTrueTypeParser::GetCFFTableOffset() const {
  int32_t i = FindTable("CFF ");
  return i < 0 ? 0 : Tables[static_cast<size_t>(i)].Offset;
}

std::string_view TPDFTrueTypeParser::GetTableData(std::string_view tag) const {
  int32_t i = FindTable(tag);
  if (i < 0) return {};
  const TPDFTrueTypeTable& t = Tables[static_cast<size_t>(i)];
  if (t.Offset > data_.size() || t.Length > data_.size() - t.Offset) return {};
  return std::string_view(data_).substr(t.Offset, t.Length);
}

void TPDFTrueTypeParser::readHead() {
  std::string_view table = GetTableData("head");
  if (table.size() < 54) return;
  Reader r{table};
  Header.Version = r.fixed();
  Header.FontRevision = r.fixed();
  r.skip(8);  // checksum adjustment, magic number
  Header.Flags = r.u16();
  uint16_t unitsPerEm = r.u16();
  // A font without a usable em size keeps the default, so scaling never divides by zero.
  Header.UnitsPerEm = (unitsPerEm >= 1 && unitsPerEm <= 16384) ? unitsPerEm : 2048;
  r.u32();
  Header.Created = r.u32();
  r.u32();
  Header.Modified = r.u32();
  Header.XMin = r.s16();
  Header.YMin = r.s16();
  Header.XMax = r.s16();
  Header.YMax = r.s16();
  Header.MacStyle = r.u16();
  r.u16();  // lowestRecPPEM
  r.s16();  // fontDirectionHint
  Header.IndexToLocFormat = r.s16();
  Header.GlyphDataFormat = r.s16();
}

void TPDFTrueTypeParser::readMaxp() {
  std::string_view table = GetTableData("maxp");
  if (table.size() < 6) return;
  Reader r{table};
  MaxpVersion = r.fixed();
  NumGlyphs = r.u16();
}

void TPDFTrueTypeParser::readLoca() {
  std::string_view table = GetTableData("loca");
  if (table.empty() || NumGlyphs == 0) return;
  Reader r{table};
  size_t entries = static_cast<size_t>(NumGlyphs) + 1;
  Locations.assign(entries, 0);
  for (size_t i = 0; i < entries; ++i) {
    if (Header.IndexToLocFormat == 0) {
      if (!r.has(2)) break;
      Locations[i] = uint32_t(r.u16()) * 2;
    } else if (Header.IndexToLocFormat == 1) {
      if (!r.has(4)) break;
      uint32_t v = r.u32();
      Locations[i] = v > 0xFFFFFF ? 0 : v;
    }
  }
}

void TPDFTrueTypeParser::readPost() {
  std::string_view table = GetTableData("post");
  if (table.size() < 32) return;
  Reader r{table};
  uint32_t version = r.u32();
  PostVersion = version / 65536.0;
  ItalicAngle = r.fixed();
  UnderlinePosition = r.s16();
  UnderlineThickness = r.s16();
  IsFixedPitch = r.u32();
  r.skip(16);
  const size_t glyphs = static_cast<size_t>(NumGlyphs);
  if (version == 0x00010000) {
    glyphNameNumbers_.assign(glyphs, kNoGlyphName);
    for (size_t i = 0; i < std::min<size_t>(glyphs, 258); ++i) glyphNameNumbers_[i] = static_cast<uint16_t>(i);
  } else if (version == 0x00020000) {
    glyphNameNumbers_.assign(glyphs, kNoGlyphName);
    size_t count = std::min<size_t>(r.u16(), glyphs);
    std::vector<uint16_t> indexes(count);
    for (size_t i = 0; i < count; ++i) indexes[i] = r.u16();
    // The Pascal strings after the index array, as places in the font.
    const size_t tableStart = static_cast<size_t>(table.data() - data_.data());
    while (r.has(1) && customNames_.size() < kNoGlyphName - 258u) {
      const uint8_t len = r.u8();
      if (!r.has(len)) break;
      customNames_.push_back({static_cast<uint32_t>(tableStart + r.pos), len});
      r.skip(len);
    }
    for (size_t i = 0; i < count; ++i) {
      const uint16_t k = indexes[i];
      if (k < 258 || k - 258u < customNames_.size()) glyphNameNumbers_[i] = k;
    }
  } else if (version == 0x00025000) {
    glyphNameNumbers_.assign(glyphs, kNoGlyphName);
    for (size_t i = 0; i < glyphs && r.has(1); ++i) {
      int k = static_cast<int>(i) + static_cast<int8_t>(r.u8());
      if (k >= 0 && k <= 257) glyphNameNumbers_[i] = static_cast<uint16_t>(k);
    }
  }
}

void TPDFTrueTypeParser::readCmap() {
  std::string_view table = GetTableData("cmap");
  if (table.size() < 4) return;
  const size_t tableStart = static_cast<size_t>(table.data() - data_.data());
  Reader r{table};
  CmapVersion = r.u16();
  uint16_t count = r.u16();
  for (uint32_t i = 0; i < count && r.has(8); ++i) {
    TPDFCmapSubtable sub;
    sub.PlatformID = r.u16();
    sub.EncodingID = r.u16();
    sub.Offset = r.u32();
    if (sub.Offset >= table.size()) {
      CmapSubtables.push_back(std::move(sub));
      continue;
    }
    Reader s{table, sub.Offset};
    sub.Format = s.u16();
    const size_t base = tableStart + sub.Offset;  // position of the subtable in the font data
    if (sub.Format == 0) {
      uint16_t length = s.u16();
      sub.Language = s.u16();
      (void)length;
      if (s.has(256)) sub.Segments.push_back({0, 255, 2, 0, static_cast<uint32_t>(base + 6)});
    } else if (sub.Format == 4) {
      uint16_t length = s.u16();
      sub.Language = s.u16();
      uint16_t segCount = s.u16() / 2;
      s.skip(6);
      const size_t ends = sub.Offset + 14, starts = ends + 2u * segCount + 2, deltas = starts + 2u * segCount,
                   rangeOffsets = deltas + 2u * segCount;
      (void)length;  // often wrong in real fonts; the table's end bounds the glyph array
      const size_t limit = table.size();
      if (rangeOffsets + 2u * segCount > table.size()) segCount = 0;
      for (uint32_t k = 0; k < segCount; ++k) {
        uint16_t end = readU16At(table, ends + 2u * k);
        uint16_t start = readU16At(table, starts + 2u * k);
        int16_t delta = static_cast<int16_t>(readU16At(table, deltas + 2u * k));
        uint16_t rangeOffset = readU16At(table, rangeOffsets + 2u * k);
        if (end == 0xFFFF) end = 0xFFFE;  // 0xFFFF only terminates the map; codes before it in that segment count
        if (start > end) continue;
        TPDFCmapSegment seg{start, end, 0, delta, 0};
        if (rangeOffset != 0) {
          size_t pos = rangeOffsets + 2u * k + rangeOffset;  // glyph entry of the start code
          if (pos >= limit) continue;
          seg.Kind = 1;
          seg.ArrayPos = static_cast<uint32_t>(tableStart + pos);
          seg.Last = static_cast<uint32_t>(std::min<size_t>(end, start + (limit - pos) / 2 - 1));
          if (seg.Last < seg.First) continue;
        }
        sub.Segments.push_back(seg);
      }
    } else if (sub.Format == 6) {
      s.u16();
      sub.Language = s.u16();
      uint16_t first = s.u16(), entries = s.u16();
      size_t available = (table.size() - std::min(table.size(), s.pos)) / 2;
      entries = static_cast<uint16_t>(std::min<size_t>(entries, available));
      if (entries > 0 && uint32_t(first) + entries - 1 <= 0xFFFF)
        sub.Segments.push_back({first, uint32_t(first) + entries - 1, 3, 0, static_cast<uint32_t>(tableStart + s.pos)});
    } else if (sub.Format == 12) {
      s.u16();
      s.u32();  // length
      sub.Language = static_cast<uint16_t>(s.u32());
      uint32_t groups = s.u32();
      for (uint32_t g = 0; g < groups && s.has(12); ++g) {
        uint32_t start = s.u32(), end = s.u32(), glyph = s.u32();
        if (start > end || end > 0x10FFFF || glyph > 0xFFFF) continue;
        sub.Segments.push_back({start, end, 4, static_cast<int32_t>(glyph), 0});
      }
    }
    for (size_t k = 1; k < sub.Segments.size(); ++k)
      if (sub.Segments[k].First <= sub.Segments[k - 1].Last) sub.Ordered = false;
    CmapSubtables.push_back(std::move(sub));
  }
}

void TPDFTrueTypeParser::readHhea() {
  std::string_view table = GetTableData("hhea");
  if (table.size() < 36) return;
  Reader r{table};
  if (r.u32() != 0x00010000) return;
  const int32_t em = Header.UnitsPerEm;
  Ascender = toThousandths(r.s16(), em);
  Descender = toThousandths(r.s16(), em);
  LineGap = toThousandths(r.s16(), em);
  AdvanceWidthMax = toThousandths(r.u16(), em);
  MinLeftSideBearing = toThousandths(r.s16(), em);
  MinRightSideBearing = toThousandths(r.s16(), em);
  XMaxExtent = toThousandths(r.s16(), em);
  CaretSlopeRise = r.s16();
  CaretSlopeRun = r.s16();
  CaretOffset = r.s16();
  r.skip(10);
  NumberOfHMetrics = r.u16();
}

void TPDFTrueTypeParser::readHmtx() {
  std::string_view table = GetTableData("hmtx");
  Reader r{table};
  size_t count = std::min<size_t>(static_cast<size_t>(NumberOfHMetrics), table.size() / 4);
  AdvanceWidths.resize(count);
  advanceUnits_.resize(count);
  for (size_t i = 0; i < count; ++i) {
    advanceUnits_[i] = r.u16();
    leftSideBearings_.push_back(r.s16());
    AdvanceWidths[i] = toThousandths(advanceUnits_[i], Header.UnitsPerEm);
  }
  // Glyphs past the metrics pairs have a bearing each and share the last advance.
  for (size_t i = count; i < static_cast<size_t>(NumGlyphs) && r.has(2); ++i) leftSideBearings_.push_back(r.s16());
}

// ---------------------------------------------------------------------------
// Glyphs

bool TPDFTrueTypeParser::glyphSpan(int32_t index, std::string_view& span) const {
  span = {};
  if (index < 0 || static_cast<size_t>(index) + 1 >= Locations.size()) return false;
  std::string_view glyf = GetTableData("glyf");
  uint32_t start = Locations[static_cast<size_t>(index)], end = Locations[static_cast<size_t>(index) + 1];
  if (end <= start || start >= glyf.size()) return false;
  span = glyf.substr(start, std::min<size_t>(end, glyf.size()) - start);
  return true;
}

TPDFTrueTypeGlyph TPDFTrueTypeParser::GetGlyph(int32_t index) const {
  TPDFTrueTypeGlyph g;
  readGlyph(index, g);
  return g;
}

bool TPDFTrueTypeParser::readGlyph(int32_t index, TPDFTrueTypeGlyph& g) const {
  g = TPDFTrueTypeGlyph();
  std::string_view span;
  if (!glyphSpan(index, span)) return true;  // an empty glyph
  auto damaged = [&g] {
    g = TPDFTrueTypeGlyph();
    return false;
  };
  Reader r{span};
  int16_t contours = r.s16();
  g.XMin = r.s16();
  g.YMin = r.s16();
  g.XMax = r.s16();
  g.YMax = r.s16();
  if (!r.ok) return damaged();
  if (contours > 0) {
    g.EndPoints.resize(static_cast<size_t>(contours));
    int32_t previous = -1;
    for (auto& e : g.EndPoints) {
      e = r.u16();
      if (e <= previous) return damaged();  // contours must end in increasing order
      previous = e;
    }
    r.skip(r.u16());  // instructions
    if (!r.ok) return damaged();
    const size_t points = size_t(g.EndPoints.back()) + 1;
    g.Flags.resize(points);
    for (size_t i = 0; i < points;) {
      uint8_t flag = r.u8();
      g.Flags[i++] = flag;
      if (flag & 0x08) {
        for (uint32_t repeat = r.u8(); repeat > 0 && i < points; --repeat) g.Flags[i++] = flag;
      }
      if (!r.ok) return damaged();
    }
    g.Points.resize(points);
    // All x deltas, then all y deltas. Per point: a one-byte delta whose sign
    // is the "same" bit, else (same bit set) no change, else a 16-bit delta.
    auto readAxis = [&](uint8_t shortBit, uint8_t sameBit, bool isX) {
      int32_t v = 0;
      for (size_t i = 0; i < points; ++i) {
        uint8_t f = g.Flags[i];
        if (f & shortBit) {
          int32_t d = r.u8();
          v += (f & sameBit) ? d : -d;
        } else if (!(f & sameBit)) {
          v += r.s16();
        }
        (isX ? g.Points[i].X : g.Points[i].Y) = v;
      }
    };
    readAxis(0x02, 0x10, true);
    readAxis(0x04, 0x20, false);
    if (!r.ok) return damaged();
    for (auto& f : g.Flags) f &= 0x01;
    g.NumberOfContours = contours;
  } else {
    for (;;) {
      TPDFTrueTypeComponent c;
      c.Flags = r.u16();
      c.GlyphIndex = r.u16();
      if (c.Flags & 0x01) {
        c.Dx = r.s16();
        c.Dy = r.s16();
      } else if (c.Flags & 0x02) {
        c.Dx = static_cast<int8_t>(r.u8());
        c.Dy = static_cast<int8_t>(r.u8());
      } else {  // point numbers are unsigned
        c.Dx = r.u8();
        c.Dy = r.u8();
      }
      if (c.Flags & 0x08) {
        c.XScale = c.YScale = f2dot14(r.s16());
      } else if (c.Flags & 0x40) {
        c.XScale = f2dot14(r.s16());
        c.YScale = f2dot14(r.s16());
      } else if (c.Flags & 0x80) {
        c.XScale = f2dot14(r.s16());
        c.Scale01 = f2dot14(r.s16());
        c.Scale10 = f2dot14(r.s16());
        c.YScale = f2dot14(r.s16());
      }
      if (!r.ok) return damaged();
      g.Components.push_back(c);
      if (!(c.Flags & 0x20)) break;
    }
  }
  return true;
}

bool TPDFTrueTypeParser::appendOutline(int32_t index, int depth, std::vector<int32_t>& path, size_t& budget,
                                       TPDFGlyphOutline& out) const {
  if (depth > kMaxCompositeDepth || std::find(path.begin(), path.end(), index) != path.end()) return false;
  TPDFTrueTypeGlyph g;
  if (!readGlyph(index, g)) return false;
  if (g.NumberOfContours > 0) {
    if (g.Points.size() > budget) return false;
    budget -= g.Points.size();
    const uint32_t base = static_cast<uint32_t>(out.Points.size());
    for (size_t i = 0; i < g.Points.size(); ++i)
      out.Points.push_back({double(g.Points[i].X), double(g.Points[i].Y), (g.Flags[i] & 1) != 0});
    for (uint16_t e : g.EndPoints) out.EndPoints.push_back(base + e);
    return true;
  }
  path.push_back(index);
  for (const TPDFTrueTypeComponent& c : g.Components) {
    TPDFGlyphOutline part;
    if (!appendOutline(c.GlyphIndex, depth + 1, path, budget, part)) return false;
    const bool transformed = (c.Flags & (0x08 | 0x40 | 0x80)) != 0;
    for (auto& p : part.Points) {
      double x = p.X, y = p.Y;
      p.X = c.XScale * x + c.Scale10 * y;
      p.Y = c.Scale01 * x + c.YScale * y;
    }
    double dx, dy;
    if (c.Flags & 0x02) {
      dx = c.Dx;
      dy = c.Dy;
      if (transformed && (c.Flags & 0x800) && !(c.Flags & 0x1000)) {  // offsets in the component's scaled space
        dx *= std::hypot(c.XScale, c.Scale10);
        dy *= std::hypot(c.YScale, c.Scale01);
      }
    } else {
      // Point matching: the component's point Dy lands on the outline's point Dx.
      const size_t parentPoint = static_cast<size_t>(c.Dx), childPoint = static_cast<size_t>(c.Dy);
      if (parentPoint >= out.Points.size() || childPoint >= part.Points.size()) return false;
      dx = out.Points[parentPoint].X - part.Points[childPoint].X;
      dy = out.Points[parentPoint].Y - part.Points[childPoint].Y;
    }
    const uint32_t base = static_cast<uint32_t>(out.Points.size());
    for (auto& p : part.Points) out.Points.push_back({p.X + dx, p.Y + dy, p.OnCurve});
    for (uint32_t e : part.EndPoints) out.EndPoints.push_back(base + e);
  }
  path.pop_back();
  return true;
}

bool TPDFTrueTypeParser::GetGlyphOutline(int32_t index, TPDFGlyphOutline& outline) const {
  outline = TPDFGlyphOutline();
  std::vector<int32_t> path;
  size_t budget = kMaxOutlinePoints;
  if (!appendOutline(index, 0, path, budget, outline)) {
    outline = TPDFGlyphOutline();
    return false;
  }
  std::string_view span;
  if (glyphSpan(index, span) && span.size() >= 10) {
    const int32_t xMin = static_cast<int16_t>(readU16At(span, 2));
    const int32_t shift = xMin - GetLeftSideBearing(index);
    if (shift != 0)
      for (auto& p : outline.Points) p.X -= shift;
  }
  return true;
}

int32_t TPDFTrueTypeParser::GetLeftSideBearing(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= leftSideBearings_.size()) return 0;
  return leftSideBearings_[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------------------
// Character maps, names, metrics

int32_t TPDFTrueTypeParser::FindCmapSubtable(uint16_t platform, uint16_t encoding) const {
  for (size_t i = CmapSubtables.size(); i-- > 0;)
    if (CmapSubtables[i].PlatformID == platform && CmapSubtables[i].EncodingID == encoding)
      return static_cast<int32_t>(i);
  return -1;
}

namespace {

int32_t segmentGlyph(std::string_view data, const TPDFCmapSegment& s, uint32_t code) {
  const uint32_t k = code - s.First;
  switch (s.Kind) {
    case 0: return static_cast<int32_t>((code + static_cast<uint32_t>(s.Delta)) & 0xFFFF);
    case 1: {
      uint16_t g = readU16At(data, size_t(s.ArrayPos) + 2u * k);
      return g == 0 ? 0 : static_cast<int32_t>((g + static_cast<uint32_t>(s.Delta)) & 0xFFFF);
    }
    case 2: return (size_t(s.ArrayPos) + k < data.size()) ? uint8_t(data[s.ArrayPos + k]) : 0;
    case 3: return readU16At(data, size_t(s.ArrayPos) + 2u * k);
    default: return static_cast<int32_t>(std::min<uint32_t>(uint32_t(s.Delta) + k, 0xFFFF));
  }
}

}  // namespace

int32_t TPDFTrueTypeParser::CmapLookup(int32_t subtable, uint32_t code) const {
  if (subtable < 0 || static_cast<size_t>(subtable) >= CmapSubtables.size()) return -1;
  const TPDFCmapSubtable& sub = CmapSubtables[static_cast<size_t>(subtable)];
  if (sub.Ordered) {
    auto it = std::upper_bound(sub.Segments.begin(), sub.Segments.end(), code,
                               [](uint32_t c, const TPDFCmapSegment& s) { return c < s.First; });
    if (it == sub.Segments.begin()) return -1;
    --it;
    return code <= it->Last ? segmentGlyph(data_, *it, code) : -1;
  }
  for (const TPDFCmapSegment& s : sub.Segments)
    if (code >= s.First && code <= s.Last) return segmentGlyph(data_, s, code);
  return -1;
}

int32_t TPDFTrueTypeParser::CmapLookupLowByte(int32_t subtable, uint8_t lowByte) const {
  if (subtable < 0 || static_cast<size_t>(subtable) >= CmapSubtables.size()) return -1;
  const auto& segments = CmapSubtables[static_cast<size_t>(subtable)].Segments;
  int32_t glyph = -1;
  for (const TPDFCmapSegment& s : segments) {
    // The largest code of the segment with that low byte.
    int64_t code = (int64_t(s.Last) & ~int64_t(0xFF)) | lowByte;
    if (code > s.Last) code -= 256;
    if (code < int64_t(s.First)) continue;
    // "Last" in map order: later segments win, as the map lists codes segment by segment.
    glyph = segmentGlyph(data_, s, static_cast<uint32_t>(code));
  }
  return glyph;
}

uint64_t TPDFTrueTypeParser::CmapCodeCount(int32_t subtable) const {
  if (subtable < 0 || static_cast<size_t>(subtable) >= CmapSubtables.size()) return 0;
  uint64_t n = 0;
  for (const TPDFCmapSegment& s : CmapSubtables[static_cast<size_t>(subtable)].Segments) n += uint64_t(s.Last) - s.First + 1;
  return n;
}

std::string_view TPDFTrueTypeParser::GetGlyphName(int32_t index) const {
  const uint16_t k = glyphNameNumbers_.at(static_cast<size_t>(index));
  if (k == kNoGlyphName) return {};
  if (k < 258) return kMacGlyphNames[k];
  const TCustomName& name = customNames_[k - 258u];
  return std::string_view(data_).substr(name.Offset, name.Length);
}

int32_t TPDFTrueTypeParser::FindGlyphName(std::string_view name) const {
  if (name.empty()) return -1;
  if (!glyphsByNameMade_) {
    glyphsByNameMade_ = true;
    for (size_t i = 0; i < glyphNameNumbers_.size(); ++i)
      if (!GetGlyphName(static_cast<int32_t>(i)).empty()) glyphsByName_.push_back(static_cast<uint16_t>(i));
    std::stable_sort(glyphsByName_.begin(), glyphsByName_.end(),
                     [this](uint16_t a, uint16_t b) { return GetGlyphName(a) < GetGlyphName(b); });
  }
  // Past the last glyph of that name: a name given twice finds its last glyph.
  auto after = std::upper_bound(glyphsByName_.begin(), glyphsByName_.end(), name,
                                [this](std::string_view n, uint16_t g) { return n < GetGlyphName(g); });
  if (after == glyphsByName_.begin() || GetGlyphName(*(after - 1)) != name) return -1;
  return *(after - 1);
}

int32_t TPDFTrueTypeParser::GetAdvance(int32_t index) const {
  if (AdvanceWidths.empty()) return 750;
  if (index >= 0 && static_cast<size_t>(index) < AdvanceWidths.size()) return AdvanceWidths[static_cast<size_t>(index)];
  return AdvanceWidths.back();
}

int32_t TPDFTrueTypeParser::GetAdvanceUnits(int32_t index) const {
  if (advanceUnits_.empty()) return 0;
  if (index >= 0 && static_cast<size_t>(index) < advanceUnits_.size()) return advanceUnits_[static_cast<size_t>(index)];
  return advanceUnits_.back();
}
