// Windows-metafile records translated into enhanced-metafile records.
#include "platform/WmfConverter.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/EmfReader.h"

namespace {

uint16_t le16(std::string_view b, size_t at) {
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}
uint32_t le32(std::string_view b, size_t at) {
  return uint32_t(le16(b, at)) | uint32_t(le16(b, at + 2)) << 16;
}

// Largest EMF made from one file.
constexpr size_t kMaxOutput = size_t(1) << 30;

// One WMF record: its function and its parameter bytes.
struct TWmfRecord {
  uint16_t Function = 0;
  std::string_view Params;

  size_t Words() const { return Params.size() / 2; }
  // The i-th 16-bit parameter; EEmfError past the record's end.
  uint16_t U16(size_t i) const {
    if (i >= Words()) throw EEmfError("WMF record " + std::to_string(Function) + " is too short");
    return le16(Params, i * 2);
  }
  int16_t I16(size_t i) const { return static_cast<int16_t>(U16(i)); }
  uint32_t U32(size_t i) const { return uint32_t(U16(i)) | uint32_t(U16(i + 1)) << 16; }
  std::string_view Bytes(size_t offset, size_t length) const {
    if (offset > Params.size() || length > Params.size() - offset)
      throw EEmfError("WMF record " + std::to_string(Function) + " is too short");
    return Params.substr(offset, length);
  }
};

// EMF record being built.
class TOut {
public:
  explicit TOut(uint32_t type) { U32(type).U32(0); }
  TOut& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  TOut& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  TOut& U16(uint16_t v) {
    b_ += static_cast<char>(v & 0xFF);
    b_ += static_cast<char>(v >> 8);
    return *this;
  }
  TOut& U8(uint8_t v) {
    b_ += static_cast<char>(v);
    return *this;
  }
  TOut& Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return I32(l).I32(t).I32(r).I32(b); }
  TOut& Bytes(std::string_view s) {
    b_ += s;
    return *this;
  }
  TOut& Pad() {
    while (b_.size() % 4) b_ += '\0';
    return *this;
  }
  size_t Size() const { return b_.size(); }
  std::string Finished() {
    Pad();
    const uint32_t size = static_cast<uint32_t>(b_.size());
    for (int i = 0; i < 4; ++i) b_[4 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    return b_;
  }

private:
  std::string b_;
};

// EMF record types.
enum : uint32_t {
  EMR_HEADER = 1,
  EMR_POLYLINE16 = 87,
  EMR_POLYGON16 = 86,
  EMR_POLYPOLYGON16 = 91,
  EMR_SETWINDOWEXTEX = 9,
  EMR_SETWINDOWORGEX = 10,
  EMR_SETVIEWPORTEXTEX = 11,
  EMR_SETVIEWPORTORGEX = 12,
  EMR_EOF = 14,
  EMR_SETPIXELV = 15,
  EMR_SETMAPMODE = 17,
  EMR_SETBKMODE = 18,
  EMR_SETPOLYFILLMODE = 19,
  EMR_SETROP2 = 20,
  EMR_SETSTRETCHBLTMODE = 21,
  EMR_SETTEXTALIGN = 22,
  EMR_SETTEXTCOLOR = 24,
  EMR_SETBKCOLOR = 25,
  EMR_MOVETOEX = 27,
  EMR_EXCLUDECLIPRECT = 29,
  EMR_INTERSECTCLIPRECT = 30,
  EMR_SCALEVIEWPORTEXTEX = 31,
  EMR_SCALEWINDOWEXTEX = 32,
  EMR_SAVEDC = 33,
  EMR_RESTOREDC = 34,
  EMR_SELECTOBJECT = 37,
  EMR_CREATEPEN = 38,
  EMR_CREATEBRUSHINDIRECT = 39,
  EMR_DELETEOBJECT = 40,
  EMR_ELLIPSE = 42,
  EMR_RECTANGLE = 43,
  EMR_ROUNDRECT = 44,
  EMR_ARC = 45,
  EMR_CHORD = 46,
  EMR_PIE = 47,
  EMR_LINETO = 54,
  EMR_STRETCHDIBITS = 81,
  EMR_EXTCREATEFONTINDIRECTW = 82,
  EMR_EXTTEXTOUTA = 83,
  EMR_CREATEDIBPATTERNBRUSHPT = 94
};

// WMF record functions.
enum : uint16_t {
  META_EOF = 0x0000,
  META_SAVEDC = 0x001E,
  META_REALIZEPALETTE = 0x0035,
  META_CREATEPALETTE = 0x00F7,
  META_SETBKMODE = 0x0102,
  META_SETMAPMODE = 0x0103,
  META_SETROP2 = 0x0104,
  META_SETPOLYFILLMODE = 0x0106,
  META_SETSTRETCHBLTMODE = 0x0107,
  META_RESTOREDC = 0x0127,
  META_SELECTOBJECT = 0x012D,
  META_SETTEXTALIGN = 0x012E,
  META_DIBCREATEPATTERNBRUSH = 0x0142,
  META_DELETEOBJECT = 0x01F0,
  META_CREATEPATTERNBRUSH = 0x01F9,
  META_SETBKCOLOR = 0x0201,
  META_SETTEXTCOLOR = 0x0209,
  META_SETWINDOWORG = 0x020B,
  META_SETWINDOWEXT = 0x020C,
  META_SETVIEWPORTORG = 0x020D,
  META_SETVIEWPORTEXT = 0x020E,
  META_OFFSETWINDOWORG = 0x020F,
  META_OFFSETVIEWPORTORG = 0x0211,
  META_LINETO = 0x0213,
  META_MOVETO = 0x0214,
  META_CREATEPENINDIRECT = 0x02FA,
  META_CREATEFONTINDIRECT = 0x02FB,
  META_CREATEBRUSHINDIRECT = 0x02FC,
  META_POLYGON = 0x0324,
  META_POLYLINE = 0x0325,
  META_SCALEWINDOWEXT = 0x0410,
  META_SCALEVIEWPORTEXT = 0x0412,
  META_EXCLUDECLIPRECT = 0x0415,
  META_INTERSECTCLIPRECT = 0x0416,
  META_ELLIPSE = 0x0418,
  META_RECTANGLE = 0x041B,
  META_SETPIXEL = 0x041F,
  META_TEXTOUT = 0x0521,
  META_POLYPOLYGON = 0x0538,
  META_ROUNDRECT = 0x061C,
  META_CREATEREGION = 0x06FF,
  META_ARC = 0x0817,
  META_PIE = 0x081A,
  META_CHORD = 0x0830,
  META_DIBBITBLT = 0x0940,
  META_EXTTEXTOUT = 0x0A32,
  META_DIBSTRETCHBLT = 0x0B41,
  META_STRETCHDIB = 0x0F43
};

// The records of a file after its headers, each checked against the file.
std::vector<TWmfRecord> ReadRecords(std::string_view wmf, size_t start) {
  std::vector<TWmfRecord> records;
  size_t pos = start;
  while (pos + 6 <= wmf.size()) {
    const uint64_t size = uint64_t(le32(wmf, pos)) * 2;
    if (size < 6 || size > wmf.size() - pos)
      throw EEmfError("WMF record at offset " + std::to_string(pos) + " has a bad size");
    if (records.size() >= TEmfFile::kMaxRecords) throw EEmfError("WMF file has too many records");
    const uint16_t function = le16(wmf, pos + 4);
    if (function == META_EOF) return records;
    records.push_back({function, wmf.substr(pos + 6, static_cast<size_t>(size) - 6)});
    pos += static_cast<size_t>(size);
  }
  return records;  // a file without its end record: what is there is drawn
}

bool PlainHeaderAt(std::string_view b, size_t at) {
  if (b.size() < at + 18) return false;
  const uint16_t type = le16(b, at), words = le16(b, at + 2), version = le16(b, at + 4);
  return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

// A packed DIB split into its header (with the colour table) and its bits.
bool SplitDib(std::string_view dib, std::string_view& info, std::string_view& bits) {
  if (dib.size() < 12) return false;
  const uint32_t headerSize = le32(dib, 0);
  size_t colors = 0, infoSize = 0;
  if (headerSize == 12) {  // BITMAPCOREHEADER: three-byte colour entries
    const uint16_t bitCount = le16(dib, 10);
    colors = bitCount <= 8 ? size_t(1) << bitCount : 0;
    infoSize = 12 + colors * 3;
  } else {
    if (headerSize < 40 || dib.size() < 40) return false;
    const uint16_t bitCount = le16(dib, 14);
    const uint32_t compression = le32(dib, 16), used = le32(dib, 32);
    colors = used != 0 ? used : bitCount <= 8 ? size_t(1) << bitCount : 0;
    if (colors > 256 && bitCount <= 8) colors = 256;
    infoSize = headerSize + colors * 4;
    if (compression == 3 && headerSize == 40) infoSize += 12;  // BI_BITFIELDS masks
  }
  if (infoSize > dib.size()) return false;
  info = dib.substr(0, infoSize);
  bits = dib.substr(infoSize);
  return true;
}

class TTranslator {
public:
  std::string Run(std::string_view wmf);

private:
  enum class TSlot : uint8_t { Free, Pen, Brush, Font, Other };

  void add(TOut& r) {
    std::string bytes = r.Finished();
    if (body_.size() + bytes.size() > kMaxOutput) throw EEmfError("the metafile is too large");
    body_ += bytes;
    ++count_;
  }
  void point(int32_t x, int32_t y) {
    minX_ = std::min(minX_, x), minY_ = std::min(minY_, y);
    maxX_ = std::max(maxX_, x), maxY_ = std::max(maxY_, y);
  }
  // Object slots: WMF fills the lowest free one; EMF names index slot + 1.
  uint32_t newSlot(TSlot kind) {
    size_t i = 0;
    while (i < slots_.size() && slots_[i] != TSlot::Free) ++i;
    if (i == slots_.size()) {
      if (slots_.size() >= 65535) throw EEmfError("WMF file has too many objects");
      slots_.push_back(TSlot::Free);
    }
    slots_[i] = kind;
    return static_cast<uint32_t>(i + 1);
  }
  void simple(uint32_t type, uint32_t value) {
    TOut r(type);
    r.U32(value);
    add(r);
  }
  void pair(uint32_t type, int32_t x, int32_t y) {
    TOut r(type);
    r.I32(x).I32(y);
    add(r);
  }
  void box(uint32_t type, const TWmfRecord& w, size_t first) {
    // bottom, right, top, left
    const int32_t b = w.I16(first), r = w.I16(first + 1), t = w.I16(first + 2), l = w.I16(first + 3);
    point(l, t), point(r, b);
    TOut o(type);
    o.Rect(l, t, r, b);
    add(o);
  }
  void poly(uint32_t type, const TWmfRecord& w);
  void polyPolygon(const TWmfRecord& w);
  void arc(uint32_t type, const TWmfRecord& w);
  void text(int32_t x, int32_t y, uint32_t options, const int32_t* clip, std::string_view chars,
            const std::vector<int32_t>& dx);
  void bitmap(const TWmfRecord& w);
  void translate(const TWmfRecord& w);

  std::string body_;
  size_t count_ = 0;
  std::vector<TSlot> slots_;
  int32_t minX_ = INT32_MAX, minY_ = INT32_MAX, maxX_ = INT32_MIN, maxY_ = INT32_MIN;
  int32_t winOrg_[2] = {0, 0}, vpOrg_[2] = {0, 0};
  bool haveWinOrg_ = false, haveWinExt_ = false;
  int32_t firstWinOrg_[2] = {0, 0}, firstWinExt_[2] = {0, 0};
  int32_t mapMode_ = 1;
};

void TTranslator::poly(uint32_t type, const TWmfRecord& w) {
  const uint16_t n = w.U16(0);
  if (n == 0) return;
  std::string pts(w.Bytes(2, size_t(n) * 4));
  int32_t l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
  for (size_t i = 0; i < n; ++i) {
    const int32_t x = w.I16(1 + 2 * i), y = w.I16(2 + 2 * i);
    point(x, y);
    l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
  }
  TOut o(type);
  o.Rect(l, t, r, b).U32(n).Bytes(pts);
  add(o);
}

void TTranslator::polyPolygon(const TWmfRecord& w) {
  const uint16_t polys = w.U16(0);
  if (polys == 0) return;
  uint64_t total = 0;
  std::vector<uint32_t> counts;
  for (size_t i = 0; i < polys; ++i) counts.push_back(w.U16(1 + i)), total += counts.back();
  const size_t first = 1 + polys;
  std::string pts(w.Bytes(first * 2, static_cast<size_t>(total) * 4));
  int32_t l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
  for (size_t i = 0; i < total; ++i) {
    const int32_t x = w.I16(first + 2 * i), y = w.I16(first + 1 + 2 * i);
    point(x, y);
    l = std::min(l, x), t = std::min(t, y), r = std::max(r, x), b = std::max(b, y);
  }
  if (total == 0) return;
  TOut o(EMR_POLYPOLYGON16);
  o.Rect(l, t, r, b).U32(polys).U32(static_cast<uint32_t>(total));
  for (uint32_t c : counts) o.U32(c);
  o.Bytes(pts);
  add(o);
}

void TTranslator::arc(uint32_t type, const TWmfRecord& w) {
  // yEnd, xEnd, yStart, xStart, bottom, right, top, left
  const int32_t ye = w.I16(0), xe = w.I16(1), ys = w.I16(2), xs = w.I16(3);
  const int32_t b = w.I16(4), r = w.I16(5), t = w.I16(6), l = w.I16(7);
  point(l, t), point(r, b);
  TOut o(type);
  o.Rect(l, t, r, b).I32(xs).I32(ys).I32(xe).I32(ye);
  add(o);
}

void TTranslator::text(int32_t x, int32_t y, uint32_t options, const int32_t* clip, std::string_view chars,
                       const std::vector<int32_t>& dx) {
  if (chars.empty()) return;
  point(x, y);
  const uint32_t n = static_cast<uint32_t>(chars.size());
  const uint32_t offString = 76, offDx = dx.empty() ? 0 : offString + ((n + 3) / 4) * 4;
  TOut o(EMR_EXTTEXTOUTA);
  o.Rect(0, 0, -1, -1).U32(1).U32(0).U32(0);  // bounds, compatible graphics mode, scales
  o.I32(x).I32(y).U32(n).U32(offString).U32(options);
  if (clip)
    o.Rect(clip[0], clip[1], clip[2], clip[3]);
  else
    o.Rect(0, 0, 0, 0);
  o.U32(offDx).Bytes(chars).Pad();
  for (int32_t d : dx) o.I32(d);
  add(o);
}

// DIBBITBLT, DIBSTRETCHBLT and STRETCHDIB become STRETCHDIBITS.
void TTranslator::bitmap(const TWmfRecord& w) {
  const uint32_t rop = w.U32(0);
  int32_t xDest, yDest, cxDest, cyDest, xSrc, ySrc, cxSrc, cySrc;
  uint32_t usage = 0;
  size_t dibWord;
  if (w.Function == META_STRETCHDIB) {
    usage = w.U16(2);
    cySrc = w.I16(3), cxSrc = w.I16(4), ySrc = w.I16(5), xSrc = w.I16(6);
    cyDest = w.I16(7), cxDest = w.I16(8), yDest = w.I16(9), xDest = w.I16(10);
    dibWord = 11;
  } else if (w.Function == META_DIBSTRETCHBLT) {
    // Without a bitmap the record has one reserved word more.
    const bool noBitmap = w.Words() == 10;
    const size_t o = noBitmap ? 3 : 2;
    cySrc = w.I16(o), cxSrc = w.I16(o + 1), ySrc = w.I16(o + 2), xSrc = w.I16(o + 3);
    cyDest = w.I16(o + 4), cxDest = w.I16(o + 5), yDest = w.I16(o + 6), xDest = w.I16(o + 7);
    dibWord = o + 8;
  } else {  // META_DIBBITBLT
    const bool noBitmap = w.Words() == 9;
    const size_t o = noBitmap ? 3 : 2;
    ySrc = w.I16(o), xSrc = w.I16(o + 1), cyDest = w.I16(o + 2), cxDest = w.I16(o + 3);
    yDest = w.I16(o + 4), xDest = w.I16(o + 5);
    cxSrc = cxDest, cySrc = cyDest;
    dibWord = o + 6;
  }
  point(xDest, yDest), point(xDest + cxDest, yDest + cyDest);
  std::string_view info, bits;
  const bool haveBitmap = dibWord * 2 < w.Params.size() && SplitDib(w.Params.substr(dibWord * 2), info, bits);
  TOut o(EMR_STRETCHDIBITS);
  o.Rect(xDest, yDest, xDest + cxDest, yDest + cyDest);
  o.I32(xDest).I32(yDest).I32(xSrc).I32(ySrc).I32(cxSrc).I32(cySrc);
  const uint32_t offBmi = 80, offBits = offBmi + static_cast<uint32_t>((info.size() + 3) / 4 * 4);
  if (haveBitmap)
    o.U32(offBmi).U32(static_cast<uint32_t>(info.size())).U32(offBits).U32(static_cast<uint32_t>(bits.size()));
  else
    o.U32(0).U32(0).U32(0).U32(0);
  o.U32(usage).U32(rop).I32(cxDest).I32(cyDest);
  if (haveBitmap) o.Bytes(info).Pad().Bytes(bits);
  add(o);
}

namespace {

// WMF records that set one value of the device context, and the EMF record
// that sets it: a 16-bit value, or a 32-bit colour.
struct TStateRecord {
  uint16_t meta;
  uint32_t emr;
  bool colour;
};
constexpr TStateRecord kStateRecords[] = {
    {META_SETBKMODE, EMR_SETBKMODE, false},
    {META_SETROP2, EMR_SETROP2, false},
    {META_SETPOLYFILLMODE, EMR_SETPOLYFILLMODE, false},
    {META_SETSTRETCHBLTMODE, EMR_SETSTRETCHBLTMODE, false},
    {META_SETTEXTALIGN, EMR_SETTEXTALIGN, false},
    {META_SETBKCOLOR, EMR_SETBKCOLOR, true},
    {META_SETTEXTCOLOR, EMR_SETTEXTCOLOR, true},
};

}  // namespace

void TTranslator::translate(const TWmfRecord& w) {
  for (const TStateRecord& state : kStateRecords)
    if (state.meta == w.Function) return simple(state.emr, state.colour ? w.U32(0) : w.U16(0));
  switch (w.Function) {
    case META_SAVEDC: {
      TOut r(EMR_SAVEDC);
      add(r);
      break;
    }
    case META_RESTOREDC:
      simple(EMR_RESTOREDC, static_cast<uint32_t>(int32_t(w.I16(0))));
      break;
    case META_SETMAPMODE:
      mapMode_ = w.U16(0);
      simple(EMR_SETMAPMODE, w.U16(0));
      break;
    case META_SETWINDOWORG:
      winOrg_[0] = w.I16(1), winOrg_[1] = w.I16(0);
      if (!haveWinOrg_) firstWinOrg_[0] = winOrg_[0], firstWinOrg_[1] = winOrg_[1], haveWinOrg_ = true;
      pair(EMR_SETWINDOWORGEX, winOrg_[0], winOrg_[1]);
      break;
    case META_OFFSETWINDOWORG:
      winOrg_[0] += w.I16(1), winOrg_[1] += w.I16(0);
      pair(EMR_SETWINDOWORGEX, winOrg_[0], winOrg_[1]);
      break;
    case META_SETWINDOWEXT:
      if (!haveWinExt_) firstWinExt_[0] = w.I16(1), firstWinExt_[1] = w.I16(0), haveWinExt_ = true;
      pair(EMR_SETWINDOWEXTEX, w.I16(1), w.I16(0));
      break;
    case META_SETVIEWPORTORG:
      vpOrg_[0] = w.I16(1), vpOrg_[1] = w.I16(0);
      pair(EMR_SETVIEWPORTORGEX, vpOrg_[0], vpOrg_[1]);
      break;
    case META_OFFSETVIEWPORTORG:
      vpOrg_[0] += w.I16(1), vpOrg_[1] += w.I16(0);
      pair(EMR_SETVIEWPORTORGEX, vpOrg_[0], vpOrg_[1]);
      break;
    case META_SETVIEWPORTEXT:
      pair(EMR_SETVIEWPORTEXTEX, w.I16(1), w.I16(0));
      break;
    case META_SCALEWINDOWEXT:
    case META_SCALEVIEWPORTEXT: {
      // yDenom, yNum, xDenom, xNum
      TOut r(w.Function == META_SCALEWINDOWEXT ? EMR_SCALEWINDOWEXTEX : EMR_SCALEVIEWPORTEXTEX);
      r.I32(w.I16(3)).I32(w.I16(2)).I32(w.I16(1)).I32(w.I16(0));
      add(r);
      break;
    }
    case META_MOVETO:
      point(w.I16(1), w.I16(0));
      pair(EMR_MOVETOEX, w.I16(1), w.I16(0));
      break;
    case META_LINETO:
      point(w.I16(1), w.I16(0));
      pair(EMR_LINETO, w.I16(1), w.I16(0));
      break;
    case META_RECTANGLE:
      box(EMR_RECTANGLE, w, 0);
      break;
    case META_ELLIPSE:
      box(EMR_ELLIPSE, w, 0);
      break;
    case META_INTERSECTCLIPRECT:
      box(EMR_INTERSECTCLIPRECT, w, 0);
      break;
    case META_EXCLUDECLIPRECT:
      box(EMR_EXCLUDECLIPRECT, w, 0);
      break;
    case META_ROUNDRECT: {
      // height, width, bottom, right, top, left
      const int32_t h = w.I16(0), wd = w.I16(1), b = w.I16(2), r = w.I16(3), t = w.I16(4), l = w.I16(5);
      point(l, t), point(r, b);
      TOut o(EMR_ROUNDRECT);
      o.Rect(l, t, r, b).I32(wd).I32(h);
      add(o);
      break;
    }
    case META_ARC:
      arc(EMR_ARC, w);
      break;
    case META_CHORD:
      arc(EMR_CHORD, w);
      break;
    case META_PIE:
      arc(EMR_PIE, w);
      break;
    case META_POLYGON:
      poly(EMR_POLYGON16, w);
      break;
    case META_POLYLINE:
      poly(EMR_POLYLINE16, w);
      break;
    case META_POLYPOLYGON:
      polyPolygon(w);
      break;
    case META_SETPIXEL: {
      // colour, y, x
      const int32_t y = w.I16(2), x = w.I16(3);
      point(x, y);
      TOut o(EMR_SETPIXELV);
      o.I32(x).I32(y).U32(w.U32(0));
      add(o);
      break;
    }
    case META_CREATEPENINDIRECT: {
      // style, width (x, y), colour
      const uint32_t style = w.U16(0), color = w.U32(3);
      const int32_t width = w.I16(1);
      TOut o(EMR_CREATEPEN);
      o.U32(newSlot(TSlot::Pen)).U32(style).I32(width).I32(0).U32(color);
      add(o);
      break;
    }
    case META_CREATEBRUSHINDIRECT: {
      // style, colour, hatch
      TOut o(EMR_CREATEBRUSHINDIRECT);
      o.U32(newSlot(TSlot::Brush)).U32(w.U16(0)).U32(w.U32(1)).U32(w.U16(3));
      add(o);
      break;
    }
    case META_DIBCREATEPATTERNBRUSH: {
      // style, colour usage, packed DIB
      std::string_view info, bits;
      const uint32_t slot = newSlot(TSlot::Brush);
      if (!SplitDib(w.Params.size() > 4 ? w.Params.substr(4) : std::string_view(), info, bits)) {
        // An unusable pattern paints as a solid black brush.
        TOut o(EMR_CREATEBRUSHINDIRECT);
        o.U32(slot).U32(0).U32(0).U32(0);
        add(o);
        break;
      }
      const uint32_t offBmi = 32, offBits = offBmi + static_cast<uint32_t>((info.size() + 3) / 4 * 4);
      TOut o(EMR_CREATEDIBPATTERNBRUSHPT);
      o.U32(slot).U32(w.U16(1)).U32(offBmi).U32(static_cast<uint32_t>(info.size())).U32(offBits);
      o.U32(static_cast<uint32_t>(bits.size())).Bytes(info).Pad().Bytes(bits);
      add(o);
      break;
    }
    case META_CREATEFONTINDIRECT: {
      const std::string_view face = w.Bytes(18, std::min<size_t>(32, w.Params.size() > 18 ? w.Params.size() - 18 : 0));
      TOut o(EMR_EXTCREATEFONTINDIRECTW);
      o.U32(newSlot(TSlot::Font));
      for (size_t i = 0; i < 5; ++i) o.I32(w.I16(i));  // height, width, escapement, orientation, weight
      o.Bytes(w.Bytes(10, 8));                         // italic ... pitch and family
      size_t i = 0;
      for (; i < face.size() && face[i] != '\0' && i < 31; ++i) o.U16(uint8_t(face[i]));
      for (; i < 32; ++i) o.U16(0);
      add(o);
      break;
    }
    case META_CREATEPALETTE:
    case META_CREATEPATTERNBRUSH:
    case META_CREATEREGION:
      newSlot(TSlot::Other);
      break;
    case META_SELECTOBJECT: {
      const uint16_t i = w.U16(0);
      if (i < slots_.size() && slots_[i] != TSlot::Free && slots_[i] != TSlot::Other)
        simple(EMR_SELECTOBJECT, uint32_t(i) + 1);
      break;
    }
    case META_DELETEOBJECT: {
      const uint16_t i = w.U16(0);
      if (i >= slots_.size() || slots_[i] == TSlot::Free) break;
      if (slots_[i] != TSlot::Other) simple(EMR_DELETEOBJECT, uint32_t(i) + 1);
      slots_[i] = TSlot::Free;
      break;
    }
    case META_TEXTOUT: {
      const uint16_t n = w.U16(0);
      const size_t padded = (size_t(n) + 1) / 2 * 2;
      const std::string_view chars = w.Bytes(2, n);
      const size_t after = (2 + padded) / 2;
      text(w.I16(after + 1), w.I16(after), 0, nullptr, chars, {});
      break;
    }
    case META_EXTTEXTOUT: {
      const int32_t y = w.I16(0), x = w.I16(1);
      const uint16_t n = w.U16(2), options = w.U16(3);
      size_t at = 8;
      int32_t clip[4];
      const bool hasRect = (options & 0x0006) != 0;  // ETO_OPAQUE, ETO_CLIPPED
      if (hasRect) {
        clip[0] = w.I16(4), clip[1] = w.I16(5), clip[2] = w.I16(6), clip[3] = w.I16(7);
        at += 8;
      }
      const std::string_view chars = w.Bytes(at, n);
      at += (size_t(n) + 1) / 2 * 2;
      std::vector<int32_t> dx;
      if (w.Params.size() >= at + size_t(n) * 2)
        for (size_t i = 0; i < n; ++i) dx.push_back(w.I16(at / 2 + i));
      text(x, y, options, hasRect ? clip : nullptr, chars, dx);
      break;
    }
    case META_DIBBITBLT:
    case META_DIBSTRETCHBLT:
    case META_STRETCHDIB:
      bitmap(w);
      break;
    default:
      break;  // palettes, regions, escapes: no effect the EMF reader draws
  }
}

std::string TTranslator::Run(std::string_view wmf) {
  // Units per inch and the picture's box in logical units.
  double unitsPerInch = 96;
  int32_t box[4] = {0, 0, 0, 0};
  bool placeable = IsPlaceableWmf(wmf);
  size_t start = 0;
  if (placeable) {
    box[0] = int16_t(le16(wmf, 6)), box[1] = int16_t(le16(wmf, 8));
    box[2] = int16_t(le16(wmf, 10)), box[3] = int16_t(le16(wmf, 12));
    const uint16_t inch = le16(wmf, 14);
    if (inch != 0) unitsPerInch = inch;
    start = 22;
  }
  if (!PlainHeaderAt(wmf, start)) throw EEmfError("not a Windows metafile (no metafile header)");
  const size_t headerBytes = size_t(le16(wmf, start + 2)) * 2;
  const std::vector<TWmfRecord> records = ReadRecords(wmf, start + headerBytes);
  for (const TWmfRecord& r : records) translate(r);

  if (!placeable || box[2] == box[0] || box[3] == box[1]) {
    if (haveWinExt_ && firstWinExt_[0] != 0 && firstWinExt_[1] != 0) {
      box[0] = firstWinOrg_[0], box[1] = firstWinOrg_[1];
      box[2] = box[0] + firstWinExt_[0], box[3] = box[1] + firstWinExt_[1];
    } else if (minX_ <= maxX_ && minY_ <= maxY_) {
      box[0] = minX_, box[1] = minY_, box[2] = maxX_, box[3] = maxY_;
    }
    // The fixed mapping modes name their unit.
    static const double kUnits[] = {0, 96, 254, 2540, 100, 1000, 1440};
    if (!placeable && mapMode_ >= 1 && mapMode_ <= 6) unitsPerInch = kUnits[mapMode_];
  }
  const double boxW = std::abs(double(box[2]) - box[0]), boxH = std::abs(double(box[3]) - box[1]);
  if (!(boxW > 0) || !(boxH > 0)) throw EEmfError("the Windows metafile has an empty picture");
  // The reference device has 100 pixels per millimetre, so device pixels
  // are the frame's 0.01 mm.
  auto hundredths = [&](double units) {
    return static_cast<int32_t>(std::clamp(std::lround(units / unitsPerInch * 2540), 1L, long(INT32_MAX / 4)));
  };
  const int32_t devW = hundredths(boxW), devH = hundredths(boxH);

  // The logical box fills the picture; the file's own window records
  // (usually the same box) follow.
  std::string setup;
  size_t setupCount = 0;
  auto setupRecord = [&](uint32_t type, int32_t a, int32_t b, bool two) {
    TOut r(type);
    r.I32(a);
    if (two) r.I32(b);
    setup += r.Finished();
    ++setupCount;
  };
  setupRecord(EMR_SETMAPMODE, 8, 0, false);  // MM_ANISOTROPIC
  setupRecord(EMR_SETWINDOWORGEX, std::min(box[0], box[2]), std::min(box[1], box[3]), true);
  setupRecord(EMR_SETWINDOWEXTEX, static_cast<int32_t>(boxW), static_cast<int32_t>(boxH), true);
  setupRecord(EMR_SETVIEWPORTORGEX, 0, 0, true);
  setupRecord(EMR_SETVIEWPORTEXTEX, devW, devH, true);

  TOut eof(EMR_EOF);
  eof.U32(0).U32(16).U32(20);
  const std::string eofBytes = eof.Finished();
  const uint64_t total = 108 + setup.size() + body_.size() + eofBytes.size();
  if (total > kMaxOutput) throw EEmfError("the metafile is too large");
  TOut header(EMR_HEADER);
  header.Rect(0, 0, devW - 1, devH - 1).Rect(0, 0, devW, devH);
  header.U32(0x464D4520).U32(0x10000).U32(static_cast<uint32_t>(total));
  header.U32(static_cast<uint32_t>(count_ + setupCount + 2));
  header.U32(static_cast<uint32_t>(slots_.size() + 1) & 0xFFFF);
  header.U32(0).U32(0).U32(0);       // no description, no palette
  header.I32(100000).I32(100000);    // reference device in pixels
  header.I32(1000).I32(1000);        // and in millimetres
  header.U32(0).U32(0).U32(0);       // no pixel format, no OpenGL
  header.I32(1000000).I32(1000000);  // micrometres
  return header.Finished() + setup + body_ + eofBytes;
}

}  // namespace

bool IsWindowsMetafile(std::string_view bytes) {
  if (IsPlaceableWmf(bytes)) return true;
  return PlainHeaderAt(bytes, 0);
}

std::string ConvertWmfToEmf(std::string_view wmf) {
  TTranslator translator;
  return translator.Run(wmf);
}
