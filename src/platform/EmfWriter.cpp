// EMF records of what is drawn on a metafile DC, and the metafile picture.
#include "platform/EmfWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/EmfReader.h"

namespace {

// Record types.
constexpr uint32_t EMR_HEADER = 1, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5, EMR_EOF = 14,
                   EMR_SETPIXELV = 15, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19, EMR_MOVETOEX = 27,
                   EMR_INTERSECTCLIPRECT = 30, EMR_SAVEDC = 33, EMR_RESTOREDC = 34, EMR_MODIFYWORLDTRANSFORM = 36,
                   EMR_SELECTOBJECT = 37, EMR_CREATEBRUSHINDIRECT = 39, EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42,
                   EMR_RECTANGLE = 43, EMR_LINETO = 54, EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60,
                   EMR_CLOSEFIGURE = 61, EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64,
                   EMR_SELECTCLIPPATH = 67, EMR_ABORTPATH = 68, EMR_EXTSELECTCLIPRGN = 75, EMR_STRETCHDIBITS = 81,
                   EMR_EXTCREATEPEN = 95, EMR_ALPHABLEND = 114, EMR_COMMENT = 70;
constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr uint32_t MWT_LEFTMULTIPLY = 2;
constexpr uint32_t DIB_RGB_COLORS = 0;
// EMF+ records carried in comments.
constexpr uint32_t kEmfPlusComment = 0x2B464D45;  // "EMF+"
constexpr uint16_t EmfPlusHeader = 0x4001, EmfPlusEndOfFile = 0x4002, EmfPlusGetDC = 0x4004;
constexpr uint32_t kEmfPlusVersion = 0xDBC01002;  // GDI+ 1.1 graphics
constexpr uint16_t kEmfPlusDualFlag = 0x0001;
constexpr uint32_t kEmfPlusVideoDisplay = 0x00000001;

}  // namespace

// One record being built: type, then little-endian fields.
class TEmfWriter::TRecord {
public:
  explicit TRecord(uint32_t type) { U32(type).U32(0); }
  TRecord& U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_ += static_cast<char>((v >> (8 * i)) & 0xFF);
    return *this;
  }
  TRecord& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  TRecord& F32(float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return U32(u);
  }
  TRecord& Rect(int32_t l, int32_t t, int32_t r, int32_t b) { return I32(l).I32(t).I32(r).I32(b); }
  TRecord& Bytes(const std::string& b) {
    bytes_ += b;
    return *this;
  }
  size_t Size() const { return bytes_.size(); }
  // The bytes with the size field filled in and padded to 4 bytes.
  std::string Finished() const {
    std::string out = bytes_;
    while (out.size() % 4) out += '\0';
    const uint32_t size = static_cast<uint32_t>(out.size());
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    return out;
  }

private:
  std::string bytes_;
};

namespace {

// Straight-alpha BGRA pixels of a bitmap's source rectangle, bottom row first
// (a bottom-up DIB), and whether any pixel is not opaque.
std::string DibPixels(const TBitmap& source, int32_t xSrc, int32_t ySrc, int32_t w, int32_t h, bool& translucent,
                      bool premultiplied) {
  TBitmap bgra = source;
  const bool had32 = source.PixelFormat() == TPixelFormat::pf32bit;
  const TAlphaFormat alphaFormat = had32 ? source.AlphaFormat() : TAlphaFormat::afIgnored;
  if (!had32) bgra.SetPixelFormat(TPixelFormat::pf32bit);
  std::string out;
  out.resize(static_cast<size_t>(w) * h * 4);
  translucent = false;
  for (int32_t row = 0; row < h; ++row) {
    const int32_t y = ySrc + (h - 1 - row);
    char* dst = out.data() + static_cast<size_t>(row) * w * 4;
    for (int32_t col = 0; col < w; ++col, dst += 4) {
      const int32_t x = xSrc + col;
      uint8_t b = 255, g = 255, r = 255, a = 0;  // outside the source: transparent
      if (x >= 0 && y >= 0 && x < bgra.Width() && y < bgra.Height()) {
        const uint8_t* p = bgra.ScanLine(y) + static_cast<size_t>(x) * 4;
        b = p[0], g = p[1], r = p[2];
        a = alphaFormat == TAlphaFormat::afIgnored ? 255 : p[3];
        if (alphaFormat == TAlphaFormat::afPremultiplied && a != 0 && a != 255) {
          auto un = [a](uint8_t v) { return static_cast<uint8_t>(std::min(255, (v * 255 + a / 2) / a)); };
          b = un(b), g = un(g), r = un(r);
        }
      }
      if (a != 255) translucent = true;
      if (premultiplied) {
        auto pm = [a](uint8_t v) { return static_cast<uint8_t>((v * a + 127) / 255); };
        b = pm(b), g = pm(g), r = pm(r);
      }
      dst[0] = static_cast<char>(b), dst[1] = static_cast<char>(g), dst[2] = static_cast<char>(r);
      dst[3] = static_cast<char>(a);
    }
  }
  return out;
}

// 24-bit rows from 32-bit ones, each row padded to 4 bytes.
std::string Pack24(const std::string& bgra, int32_t w, int32_t h) {
  const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
  std::string out(stride * h, '\0');
  for (int32_t row = 0; row < h; ++row) {
    const char* src = bgra.data() + static_cast<size_t>(row) * w * 4;
    char* dst = out.data() + stride * row;
    for (int32_t col = 0; col < w; ++col) std::memcpy(dst + col * 3, src + col * 4, 3);
  }
  return out;
}

std::string InfoHeader(int32_t w, int32_t h, uint16_t bits, uint32_t imageSize) {
  std::string b;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  auto u16 = [&](uint16_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>(v >> 8);
  };
  u32(40);
  u32(static_cast<uint32_t>(w));
  u32(static_cast<uint32_t>(h));  // positive: bottom-up rows
  u16(1);
  u16(bits);
  u32(0);  // BI_RGB
  u32(imageSize);
  u32(0);
  u32(0);
  u32(0);
  u32(0);
  return b;
}

int32_t Clamp32(double v) {
  if (!(v == v)) return 0;
  return static_cast<int32_t>(std::clamp(std::nearbyint(v), -1e9, 1e9));
}

}  // namespace

TEmfWriter::TEmfWriter(int32_t width, int32_t height, double dpi)
    : width_(std::max(width, 1)), height_(std::max(height, 1)), dpi_(dpi > 0 && std::isfinite(dpi) ? dpi : 96) {
  used_.assign(1, true);
  // Pens with gaps leave the background alone, as the page's dashes do.
  add(TRecord(EMR_SETBKMODE).U32(1));
}

TEmfWriter::~TEmfWriter() = default;

void TEmfWriter::add(const TRecord& record) {
  if (overflow_) return;
  if (records_.size() + record.Size() + 4 > kMaxBytes) {
    overflow_ = true;
    return;
  }
  records_ += record.Finished();
  ++recordCount_;
}

uint32_t TEmfWriter::handleFor(uintptr_t id, bool& created) {
  auto it = handles_.find(id);
  created = it == handles_.end();
  if (!created) return it->second;
  uint32_t slot = 1;
  while (slot < used_.size() && used_[slot]) ++slot;
  if (slot == used_.size()) used_.push_back(false);
  used_[slot] = true;
  highestHandle_ = std::max(highestHandle_, slot);
  handles_[id] = slot;
  return slot;
}

void TEmfWriter::SelectPen(uintptr_t id, DWORD style, double width, COLORREF color,
                           const std::vector<double>& dashes) {
  bool created = false;
  const uint32_t handle = handleFor(id, created);
  if (created) {
    // Every pen as an extended pen: it keeps the caps, joins, width and
    // dash lengths of geometric pens.
    const DWORD kind = style & PS_STYLE_MASK;
    TRecord r(EMR_EXTCREATEPEN);
    r.U32(handle).U32(0).U32(0).U32(0).U32(0);  // no brush bitmap
    const bool user = kind == PS_USERSTYLE && !dashes.empty();
    const uint32_t entries = user ? static_cast<uint32_t>(std::min<size_t>(dashes.size(), 16)) : 0;
    DWORD penStyle = style;
    if (!user && kind == PS_USERSTYLE) penStyle = (style & ~PS_STYLE_MASK) | PS_SOLID;
    r.U32(penStyle).U32(static_cast<uint32_t>(std::max(0L, std::lround(width))));
    r.U32(kind == PS_NULL ? 1u : 0u).U32(color & 0xFFFFFF).U32(0).U32(entries);  // BS_SOLID or BS_NULL
    for (uint32_t i = 0; i < entries; ++i) r.U32(static_cast<uint32_t>(std::max(0L, std::lround(dashes[i]))));
    add(r);
  }
  add(TRecord(EMR_SELECTOBJECT).U32(handle));
}

void TEmfWriter::SelectBrush(uintptr_t id, bool hollow, COLORREF color) {
  bool created = false;
  const uint32_t handle = handleFor(id, created);
  if (created) add(TRecord(EMR_CREATEBRUSHINDIRECT).U32(handle).U32(hollow ? 1 : 0).U32(color & 0xFFFFFF).U32(0));
  add(TRecord(EMR_SELECTOBJECT).U32(handle));
}

void TEmfWriter::ObjectDeleted(uintptr_t id) {
  auto it = handles_.find(id);
  if (it == handles_.end()) return;
  add(TRecord(EMR_DELETEOBJECT).U32(it->second));
  used_[it->second] = false;
  handles_.erase(it);
}

void TEmfWriter::SetPolyFillMode(int mode) { add(TRecord(EMR_SETPOLYFILLMODE).U32(static_cast<uint32_t>(mode))); }

void TEmfWriter::SetMiterLimit(double limit) {
  add(TRecord(EMR_SETMITERLIMIT).U32(static_cast<uint32_t>(std::clamp(std::lround(limit), 1L, 1000L))));
}

void TEmfWriter::MoveTo(int32_t x, int32_t y) { add(TRecord(EMR_MOVETOEX).I32(x).I32(y)); }
void TEmfWriter::LineTo(int32_t x, int32_t y) { add(TRecord(EMR_LINETO).I32(x).I32(y)); }

void TEmfWriter::bounded(uint32_t type, const POINT* points, uint32_t count) {
  if (!points || count == 0) return;
  int32_t l = points[0].x, t = points[0].y, r = l, b = t;
  for (uint32_t i = 1; i < count; ++i) {
    l = std::min(l, points[i].x), r = std::max(r, points[i].x);
    t = std::min(t, points[i].y), b = std::max(b, points[i].y);
  }
  TRecord rec(type);
  rec.Rect(l, t, r, b).U32(count);
  for (uint32_t i = 0; i < count; ++i) rec.I32(points[i].x).I32(points[i].y);
  add(rec);
}

void TEmfWriter::PolyBezierTo(const POINT* points, uint32_t count) { bounded(EMR_POLYBEZIERTO, points, count); }
void TEmfWriter::Polygon(const POINT* points, uint32_t count) { bounded(EMR_POLYGON, points, count); }
void TEmfWriter::Polyline(const POINT* points, uint32_t count) { bounded(EMR_POLYLINE, points, count); }

void TEmfWriter::Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  add(TRecord(EMR_RECTANGLE).Rect(left, top, right, bottom));
}

void TEmfWriter::Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  add(TRecord(EMR_ELLIPSE).Rect(left, top, right, bottom));
}

void TEmfWriter::FillRect(const RECT& rect, bool hollow, COLORREF color) {
  if (hollow) return;
  // A temporary brush filling the rectangle's path; the saved state puts
  // the DC's own brush and path back.
  add(TRecord(EMR_SAVEDC));
  uint32_t slot = 1;
  while (slot < used_.size() && used_[slot]) ++slot;
  if (slot == used_.size()) used_.push_back(false);
  highestHandle_ = std::max(highestHandle_, slot);
  add(TRecord(EMR_CREATEBRUSHINDIRECT).U32(slot).U32(0).U32(color & 0xFFFFFF).U32(0));
  add(TRecord(EMR_SELECTOBJECT).U32(slot));
  add(TRecord(EMR_BEGINPATH));
  MoveTo(rect.left, rect.top);
  LineTo(rect.right, rect.top);
  LineTo(rect.right, rect.bottom);
  LineTo(rect.left, rect.bottom);
  add(TRecord(EMR_CLOSEFIGURE));
  add(TRecord(EMR_ENDPATH));
  add(TRecord(EMR_FILLPATH).Rect(rect.left, rect.top, rect.right, rect.bottom));
  add(TRecord(EMR_RESTOREDC).I32(-1));
  add(TRecord(EMR_DELETEOBJECT).U32(slot));
}

void TEmfWriter::BeginPath() { add(TRecord(EMR_BEGINPATH)); }
void TEmfWriter::EndPath() { add(TRecord(EMR_ENDPATH)); }
void TEmfWriter::AbortPath() { add(TRecord(EMR_ABORTPATH)); }
void TEmfWriter::CloseFigure() { add(TRecord(EMR_CLOSEFIGURE)); }
void TEmfWriter::FillPath() { add(TRecord(EMR_FILLPATH).Rect(0, 0, width_ - 1, height_ - 1)); }
void TEmfWriter::StrokePath() { add(TRecord(EMR_STROKEPATH).Rect(0, 0, width_ - 1, height_ - 1)); }
void TEmfWriter::StrokeAndFillPath() { add(TRecord(EMR_STROKEANDFILLPATH).Rect(0, 0, width_ - 1, height_ - 1)); }
void TEmfWriter::SelectClipPath(int mode) { add(TRecord(EMR_SELECTCLIPPATH).U32(static_cast<uint32_t>(mode))); }

void TEmfWriter::ResetClip() {
  // No region data with RGN_COPY: the clip is removed.
  add(TRecord(EMR_EXTSELECTCLIPRGN).U32(0).U32(static_cast<uint32_t>(RGN_COPY)));
}

void TEmfWriter::IntersectClipRect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  add(TRecord(EMR_INTERSECTCLIPRECT).Rect(left, top, right, bottom));
}

void TEmfWriter::SaveDC() { add(TRecord(EMR_SAVEDC)); }
void TEmfWriter::RestoreDC(int32_t level) { add(TRecord(EMR_RESTOREDC).I32(level)); }

void TEmfWriter::SetPixel(int32_t x, int32_t y, COLORREF color) {
  add(TRecord(EMR_SETPIXELV).I32(x).I32(y).U32(color & 0xFFFFFF));
}

void TEmfWriter::writeBitmap(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                             const TBitmap& source, int32_t xSrc, int32_t ySrc, int32_t srcWidth, int32_t srcHeight,
                             double constantAlpha) {
  if (source.Empty() || srcWidth <= 0 || srcHeight <= 0 || destWidth == 0 || destHeight == 0) return;
  if (static_cast<uint64_t>(srcWidth) * static_cast<uint64_t>(srcHeight) * 4 > kMaxBytes) {
    overflow_ = true;
    return;
  }
  bool translucent = false;
  const std::string straight = DibPixels(source, xSrc, ySrc, srcWidth, srcHeight, translucent, false);
  const int32_t l = std::min(xDest, xDest + destWidth), r = std::max(xDest, xDest + destWidth) - 1;
  const int32_t t = std::min(yDest, yDest + destHeight), b = std::max(yDest, yDest + destHeight) - 1;
  const uint8_t alpha = static_cast<uint8_t>(std::clamp(std::lround(constantAlpha * 255), 0L, 255L));
  if (!translucent && alpha == 255) {
    // Opaque pictures as GDI records them: a 24-bit DIB stretched with SRCCOPY.
    const std::string bits = Pack24(straight, srcWidth, srcHeight);
    const std::string info = InfoHeader(srcWidth, srcHeight, 24, static_cast<uint32_t>(bits.size()));
    TRecord rec(EMR_STRETCHDIBITS);
    rec.Rect(l, t, r, b).I32(xDest).I32(yDest).I32(0).I32(0).I32(srcWidth).I32(srcHeight);
    rec.U32(80).U32(static_cast<uint32_t>(info.size())).U32(80 + static_cast<uint32_t>(info.size()));
    rec.U32(static_cast<uint32_t>(bits.size())).U32(DIB_RGB_COLORS).U32(SRCCOPY).I32(destWidth).I32(destHeight);
    rec.Bytes(info).Bytes(bits);
    add(rec);
    return;
  }
  // Pictures with transparent pixels blend: a premultiplied 32-bit DIB.
  bool ignored = false;
  const std::string bits = DibPixels(source, xSrc, ySrc, srcWidth, srcHeight, ignored, true);
  const std::string info = InfoHeader(srcWidth, srcHeight, 32, static_cast<uint32_t>(bits.size()));
  TRecord rec(EMR_ALPHABLEND);
  rec.Rect(l, t, r, b).I32(xDest).I32(yDest).I32(destWidth).I32(destHeight);
  rec.U32(uint32_t(AC_SRC_OVER) | (uint32_t(alpha) << 16) | (uint32_t(translucent ? AC_SRC_ALPHA : 0) << 24));
  rec.I32(0).I32(0);
  rec.F32(1).F32(0).F32(0).F32(1).F32(0).F32(0);  // source transform: identity
  rec.U32(0).U32(DIB_RGB_COLORS);
  rec.U32(108).U32(static_cast<uint32_t>(info.size())).U32(108 + static_cast<uint32_t>(info.size()));
  rec.U32(static_cast<uint32_t>(bits.size())).I32(srcWidth).I32(srcHeight);
  rec.Bytes(info).Bytes(bits);
  add(rec);
}

void TEmfWriter::StretchBitmap(int32_t xDest, int32_t yDest, int32_t destWidth, int32_t destHeight,
                               const TBitmap& source, int32_t xSrc, int32_t ySrc, int32_t srcWidth,
                               int32_t srcHeight, double constantAlpha) {
  if (destWidth > 0 && destHeight > 0) {
    writeBitmap(xDest, yDest, destWidth, destHeight, source, xSrc, ySrc, srcWidth, srcHeight, constantAlpha);
    return;
  }
  // Mirrored pictures go through a world transform, which every reader honours.
  const POINT p[3] = {POINT{xDest, yDest}, POINT{xDest + destWidth, yDest}, POINT{xDest, yDest + destHeight}};
  if (constantAlpha >= 1)
    ParallelogramBitmap(p, source, xSrc, ySrc, srcWidth, srcHeight);
}

void TEmfWriter::ParallelogramBitmap(const POINT* points, const TBitmap& source, int32_t xSrc, int32_t ySrc,
                                     int32_t width, int32_t height) {
  if (!points || width <= 0 || height <= 0) return;
  const double m11 = double(points[1].x - points[0].x) / width, m12 = double(points[1].y - points[0].y) / width;
  const double m21 = double(points[2].x - points[0].x) / height, m22 = double(points[2].y - points[0].y) / height;
  if (std::fabs(m11 * m22 - m12 * m21) < 1e-12) return;
  if (m12 == 0 && m21 == 0 && m11 > 0 && m22 > 0) {
    writeBitmap(points[0].x, points[0].y, points[1].x - points[0].x, points[2].y - points[0].y, source, xSrc, ySrc,
                width, height, 1.0);
    return;
  }
  // The picture in its own pixel space, placed by a world transform that the
  // saved state takes away again.
  add(TRecord(EMR_SAVEDC));
  add(TRecord(EMR_MODIFYWORLDTRANSFORM)
          .F32(float(m11))
          .F32(float(m12))
          .F32(float(m21))
          .F32(float(m22))
          .F32(float(points[0].x))
          .F32(float(points[0].y))
          .U32(MWT_LEFTMULTIPLY));
  writeBitmap(0, 0, width, height, source, xSrc, ySrc, width, height, 1.0);
  add(TRecord(EMR_RESTOREDC).I32(-1));
}

std::string TEmfWriter::Finish() {
  if (overflow_) throw EEmfWriteError("The metafile would be larger than " + std::to_string(kMaxBytes) + " bytes");
  TRecord eof(EMR_EOF);
  eof.U32(0).U32(16).U32(20);
  std::string eofBytes = eof.Finished();
  std::string opening;
  size_t extraRecords = 0;
  if (EmfPlusDual) {
    // One EMF+ record: type, flags, size, data size, data.
    auto plus = [](uint16_t type, uint16_t flags, const std::string& data) {
      std::string r;
      auto u32 = [&r](uint32_t v) {
        for (int i = 0; i < 4; ++i) r += static_cast<char>((v >> (8 * i)) & 0xFF);
      };
      u32(type | (uint32_t(flags) << 16));
      u32(static_cast<uint32_t>(12 + data.size()));
      u32(static_cast<uint32_t>(data.size()));
      return r + data;
    };
    auto comment = [](const std::string& records) {
      TRecord c(EMR_COMMENT);
      c.U32(static_cast<uint32_t>(4 + records.size())).U32(kEmfPlusComment).Bytes(records);
      return c.Finished();
    };
    const uint32_t dpi = static_cast<uint32_t>(std::clamp(std::lround(dpi_), 1L, 100000L));
    std::string fields;
    for (uint32_t v : {kEmfPlusVersion, kEmfPlusVideoDisplay, dpi, dpi})
      for (int i = 0; i < 4; ++i) fields += static_cast<char>((v >> (8 * i)) & 0xFF);
    opening = comment(plus(EmfPlusHeader, kEmfPlusDualFlag, fields) + plus(EmfPlusGetDC, 0, {}));
    eofBytes = comment(plus(EmfPlusEndOfFile, 0, {})) + eofBytes;
    extraRecords = 2;
  }
  // Reference device: the picture itself at the recording resolution.
  const double mmPerPixel = 25.4 / dpi_;
  TRecord header(EMR_HEADER);
  header.Rect(0, 0, width_ - 1, height_ - 1);
  header.Rect(0, 0, Clamp32(width_ * mmPerPixel * 100), Clamp32(height_ * mmPerPixel * 100));
  header.U32(kSignature).U32(0x10000);
  const size_t headerSize = 108;
  const uint64_t total = headerSize + opening.size() + records_.size() + eofBytes.size();
  if (total > std::numeric_limits<uint32_t>::max()) throw EEmfWriteError("The metafile is too large");
  header.U32(static_cast<uint32_t>(total)).U32(static_cast<uint32_t>(recordCount_ + 2 + extraRecords));
  header.U32((highestHandle_ + 1) & 0xFFFF);  // handles (16 bits) and a reserved zero
  header.U32(0).U32(0).U32(0);                // no description, no palette
  header.I32(width_).I32(height_);
  header.I32(std::max(1, Clamp32(width_ * mmPerPixel))).I32(std::max(1, Clamp32(height_ * mmPerPixel)));
  header.U32(0).U32(0).U32(0);  // no pixel format, no OpenGL
  header.I32(Clamp32(width_ * mmPerPixel * 1000)).I32(Clamp32(height_ * mmPerPixel * 1000));
  std::string out = header.Finished();
  out += opening;
  out += records_;
  out += eofBytes;
  return out;
}

// ---------------------------------------------------------------------------
// TMetafile and TMetafileCanvas

void TMetafile::Clear() {
  bytes_.clear();
  Width = Height = 0;
}

void TMetafile::SaveToStream(TStream& stream) const {
  if (Enhanced)
    stream.WriteString(bytes_);
  else
    stream.WriteString(ConvertEmfToWmf(bytes_, DPI));
}

TMetafileCanvas::TMetafileCanvas(TMetafile& metafile) : metafile_(metafile) {
  writer_ = std::make_unique<TEmfWriter>(metafile.Width, metafile.Height, metafile.DPI);
  writer_->EmfPlusDual = metafile.EmfPlusDual;
  dc_ = CreateMetafileDC(*writer_);
}

TMetafileCanvas::~TMetafileCanvas() {
  try {
    Close();
  } catch (const EEmfWriteError&) {
    metafile_.SetEnhancedBytes({});
  }
}

void TMetafileCanvas::Close() {
  if (!writer_) return;
  if (dc_) DeleteDC(dc_);
  dc_ = nullptr;
  std::unique_ptr<TEmfWriter> writer = std::move(writer_);
  metafile_.SetEnhancedBytes(writer->Finish());
}

// ---------------------------------------------------------------------------
// Windows metafiles

namespace {

// WMF record functions.
constexpr uint16_t META_EOF = 0x0000, META_SAVEDC = 0x001E, META_SETBKMODE = 0x0102, META_SETPOLYFILLMODE = 0x0106,
                   META_RESTOREDC = 0x0127, META_SELECTOBJECT = 0x012D, META_DELETEOBJECT = 0x01F0,
                   META_SETWINDOWORG = 0x020B, META_SETWINDOWEXT = 0x020C, META_LINETO = 0x0213,
                   META_MOVETO = 0x0214, META_CREATEPENINDIRECT = 0x02FA, META_CREATEBRUSHINDIRECT = 0x02FC,
                   META_POLYGON = 0x0324, META_POLYLINE = 0x0325, META_INTERSECTCLIPRECT = 0x0416,
                   META_ELLIPSE = 0x0418, META_RECTANGLE = 0x041B, META_SETPIXEL = 0x041F, META_POLYPOLYGON = 0x0538,
                   META_STRETCHDIB = 0x0F43;

// Plays the records our metafile DC writes into WMF records. Paths are kept
// as flattened point lists; painting them draws polygons and polylines.
class TWmfConverter {
public:
  TWmfConverter(int32_t width, int32_t height) : width_(width), height_(height) {}

  // The records, from the window set-up to EOF.
  std::string Convert(const TEmfFile& file, double dpi);
  uint32_t MaxRecordWords() const { return maxRecord_; }
  size_t ObjectCount() const { return slots_.size(); }

private:
  struct TSubpath {
    std::vector<POINT> points;
    bool closed = false;
  };
  struct TSaved {
    int pen, brush;
    int fillMode;
    double xform[6];
  };

  static int16_t Coord(int64_t v) {
    if (v < -32768 || v > 32767) throw EEmfWriteError("The page is too large for a Windows metafile");
    return static_cast<int16_t>(v);
  }
  void record(uint16_t function, const std::string& params) {
    std::string r;
    const uint32_t words = static_cast<uint32_t>(3 + params.size() / 2);
    put32(r, words);
    put16(r, function);
    r += params;
    if (r.size() % 2) r += '\0';
    maxRecord_ = std::max(maxRecord_, words);
    out_ += r;
  }
  static void put16(std::string& s, uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  }
  static void put32(std::string& s, uint32_t v) {
    put16(s, static_cast<uint16_t>(v & 0xFFFF));
    put16(s, static_cast<uint16_t>(v >> 16));
  }
  static std::string words(std::initializer_list<int64_t> values) {
    std::string s;
    for (int64_t v : values) put16(s, static_cast<uint16_t>(Coord(v)));
    return s;
  }
  int newSlot() {
    size_t slot = 0;
    while (slot < slots_.size() && slots_[slot]) ++slot;
    if (slot == slots_.size()) slots_.push_back(false);
    slots_[slot] = true;
    return static_cast<int>(slot);
  }
  int nullPen() {
    if (nullPen_ < 0) {
      nullPen_ = newSlot();
      std::string p;
      put16(p, PS_NULL);
      put16(p, 0);
      put16(p, 0);
      put32(p, 0);
      record(META_CREATEPENINDIRECT, p);
    }
    return nullPen_;
  }
  void select(int slot) {
    std::string p;
    put16(p, static_cast<uint16_t>(slot));
    record(META_SELECTOBJECT, p);
  }
  POINT map(const POINT& p) const { return p; }
  void addPoint(POINT p) {
    if (path_.empty() || path_.back().closed) {
      path_.push_back(TSubpath{{current_}, false});
    }
    path_.back().points.push_back(p);
    current_ = p;
  }
  void flattenBezier(const POINT* c) {
    const POINT p0 = current_;
    // About one step per two device units of the control polygon: small
    // glyph curves take few points, which keeps the records small.
    const double length = std::hypot(c[0].x - p0.x, c[0].y - p0.y) + std::hypot(c[1].x - c[0].x, c[1].y - c[0].y) +
                          std::hypot(c[2].x - c[1].x, c[2].y - c[1].y);
    const int steps = static_cast<int>(std::clamp(std::ceil(length / 2), 1.0, 16.0));
    for (int i = 1; i <= steps; ++i) {
      const double t = double(i) / steps, u = 1 - t;
      const double x = u * u * u * p0.x + 3 * u * u * t * c[0].x + 3 * u * t * t * c[1].x + t * t * t * c[2].x;
      const double y = u * u * u * p0.y + 3 * u * u * t * c[0].y + 3 * u * t * t * c[1].y + t * t * t * c[2].y;
      addPoint(POINT{static_cast<int32_t>(std::lrint(x)), static_cast<int32_t>(std::lrint(y))});
    }
  }
  std::string pointList(const std::vector<POINT>& pts) {
    std::string s;
    for (const POINT& p : pts) s += words({p.x, p.y});
    return s;
  }
  void polyPolygon() {
    std::string p;
    std::vector<const TSubpath*> drawn;
    for (const TSubpath& sp : path_)
      if (sp.points.size() >= 2) drawn.push_back(&sp);
    if (drawn.empty()) return;
    put16(p, static_cast<uint16_t>(drawn.size()));
    for (const TSubpath* sp : drawn) put16(p, static_cast<uint16_t>(std::min<size_t>(sp->points.size(), 0x7FFF)));
    for (const TSubpath* sp : drawn) {
      std::vector<POINT> pts(sp->points.begin(), sp->points.begin() + std::min<size_t>(sp->points.size(), 0x7FFF));
      p += pointList(pts);
    }
    record(META_POLYPOLYGON, p);
  }
  void polylines() {
    for (const TSubpath& sp : path_) {
      if (sp.points.size() < 2) continue;
      std::vector<POINT> pts(sp.points.begin(), sp.points.begin() + std::min<size_t>(sp.points.size(), 0x7FFE));
      if (sp.closed) pts.push_back(pts.front());
      std::string p;
      put16(p, static_cast<uint16_t>(pts.size()));
      p += pointList(pts);
      record(META_POLYLINE, p);
    }
  }
  void bitmap(const TEmfRecord& r, bool blend);
  void resetClip();
  // The record families; each returns false for a record not of its family.
  bool stateRecord(const TEmfRecord& r);
  bool objectRecord(const TEmfRecord& r);
  bool drawingRecord(const TEmfRecord& r);
  bool pathRecord(const TEmfRecord& r);
  bool clipRecord(const TEmfRecord& r);
  void createObject(const TEmfRecord& r);
  void restoreDC(int32_t level);
  void modifyWorldTransform(const TEmfRecord& r);
  void polyBezierTo(const TEmfRecord& r);
  void poly(const TEmfRecord& r);
  void rectangleOrEllipse(const TEmfRecord& r);
  void clipToPath(int32_t mode);

  int32_t width_, height_;
  std::string out_;
  uint32_t maxRecord_ = 0;
  std::vector<bool> slots_;
  std::map<uint32_t, int> objects_;  // EMF handle -> WMF slot
  std::vector<bool> isPen_;          // by WMF slot
  std::map<std::string, int> looks_;  // record parameters -> WMF slot
  int nullPen_ = -1;
  int pen_ = -1, brush_ = -1;
  int fillMode_ = ALTERNATE;
  double xform_[6] = {1, 0, 0, 1, 0, 0};
  std::vector<TSaved> saved_;
  bool inPath_ = false;
  std::vector<TSubpath> path_;
  POINT current_;
};

void TWmfConverter::resetClip() {
  // WMF cannot drop a clip: go back to the state saved at the start (which
  // has none) and set the objects and modes in use again.
  record(META_RESTOREDC, words({-1}));
  record(META_SAVEDC, "");
  if (pen_ >= 0) select(pen_);
  if (brush_ >= 0) select(brush_);
  record(META_SETPOLYFILLMODE, words({fillMode_}));
  record(META_SETBKMODE, words({1}));
}

void TWmfConverter::bitmap(const TEmfRecord& r, bool blend) {
  // Destination and source, and where the DIB lies in the record.
  int32_t xDest, yDest, cxDest, cyDest, xSrc, ySrc, cxSrc, cySrc;
  uint32_t offBmi, cbBmi, offBits, cbBits;
  if (!blend) {
    xDest = r.I32(24), yDest = r.I32(28), xSrc = r.I32(32), ySrc = r.I32(36), cxSrc = r.I32(40), cySrc = r.I32(44);
    offBmi = r.U32(48), cbBmi = r.U32(52), offBits = r.U32(56), cbBits = r.U32(60);
    cxDest = r.I32(72), cyDest = r.I32(76);
  } else {
    xDest = r.I32(24), yDest = r.I32(28), cxDest = r.I32(32), cyDest = r.I32(36);
    xSrc = r.I32(44), ySrc = r.I32(48);
    offBmi = r.U32(84), cbBmi = r.U32(88), offBits = r.U32(92), cbBits = r.U32(96);
    cxSrc = r.I32(100), cySrc = r.I32(104);
  }
  std::string info(r.Slice(offBmi, cbBmi));
  std::string bits(r.Slice(offBits, cbBits));
  if (info.size() < 40) throw EEmfWriteError("A picture of the metafile has no bitmap header");
  const int32_t w = static_cast<int32_t>(static_cast<uint8_t>(info[4]) | static_cast<uint8_t>(info[5]) << 8 |
                                         static_cast<uint8_t>(info[6]) << 16 | static_cast<uint8_t>(info[7]) << 24);
  const int32_t h = static_cast<int32_t>(static_cast<uint8_t>(info[8]) | static_cast<uint8_t>(info[9]) << 8 |
                                         static_cast<uint8_t>(info[10]) << 16 | static_cast<uint8_t>(info[11]) << 24);
  if (blend) {
    // No blending in WMF: the premultiplied picture over white, as 24 bits.
    if (w <= 0 || h <= 0 || bits.size() < static_cast<size_t>(w) * h * 4)
      throw EEmfWriteError("A picture of the metafile is damaged");
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) & ~size_t(3);
    std::string rgb(stride * h, '\0');
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* s = reinterpret_cast<const uint8_t*>(bits.data()) + (static_cast<size_t>(y) * w + x) * 4;
        for (int c = 0; c < 3; ++c) rgb[stride * y + x * 3 + c] = static_cast<char>(s[c] + (255 - s[3]));
      }
    bits = rgb;
    info[14] = 24;
    info[15] = 0;
    const uint32_t size = static_cast<uint32_t>(bits.size());
    for (int i = 0; i < 4; ++i) info[20 + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
  }
  // The world transform (set for turned pictures) placed on the destination:
  // exact for scaling and mirroring, the bounding box otherwise.
  const double* m = xform_;
  double xs[4], ys[4];
  const double cx[4] = {double(xDest), double(xDest + cxDest), double(xDest), double(xDest + cxDest)};
  const double cy[4] = {double(yDest), double(yDest), double(yDest + cyDest), double(yDest + cyDest)};
  for (int i = 0; i < 4; ++i) {
    xs[i] = cx[i] * m[0] + cy[i] * m[2] + m[4];
    ys[i] = cx[i] * m[1] + cy[i] * m[3] + m[5];
  }
  double left, top, right, bottom;
  if (m[1] == 0 && m[2] == 0) {
    left = xs[0], top = ys[0], right = xs[3], bottom = ys[3];
  } else {
    left = *std::min_element(xs, xs + 4), right = *std::max_element(xs, xs + 4);
    top = *std::min_element(ys, ys + 4), bottom = *std::max_element(ys, ys + 4);
  }
  std::string p;
  put32(p, SRCCOPY);
  put16(p, 0);  // DIB_RGB_COLORS
  p += words({cySrc, cxSrc, ySrc, xSrc, std::lrint(bottom - top), std::lrint(right - left), std::lrint(top),
              std::lrint(left)});
  p += info + bits;
  record(META_STRETCHDIB, p);
}

std::string TWmfConverter::Convert(const TEmfFile& file, double dpi) {
  record(META_SETWINDOWORG, words({0, 0}));
  record(META_SETWINDOWEXT, words({height_, width_}));
  record(META_SAVEDC, "");  // the unclipped state a clip reset returns to
  for (const TEmfRecord& r : file.Records()) {
    if (r.Type == 1 || r.Type == 14) continue;  // header, end
    if (!stateRecord(r) && !objectRecord(r) && !drawingRecord(r) && !pathRecord(r) && !clipRecord(r))
      throw EEmfWriteError("The metafile record " + std::to_string(r.Type) + " has no Windows-metafile form");
  }
  record(META_EOF, "");
  (void)dpi;
  return out_;
}

// Modes, saved levels and the world transform.
bool TWmfConverter::stateRecord(const TEmfRecord& r) {
  switch (r.Type) {
    case 18: record(META_SETBKMODE, words({r.I32(8)})); return true;
    case 19:
      fillMode_ = r.I32(8) == WINDING ? WINDING : ALTERNATE;
      record(META_SETPOLYFILLMODE, words({fillMode_}));
      return true;
    case 58: return true;  // the miter limit: WMF pens have none
    case 33: {
      TSaved s{pen_, brush_, fillMode_, {}};
      std::copy(xform_, xform_ + 6, s.xform);
      saved_.push_back(s);
      record(META_SAVEDC, "");
      return true;
    }
    case 34: restoreDC(r.I32(8)); return true;
    case 36: modifyWorldTransform(r); return true;
    default: return false;
  }
}

void TWmfConverter::restoreDC(int32_t level) {
  const int64_t depth = static_cast<int64_t>(saved_.size());
  const int64_t target = level < 0 ? depth + level : level - 1;  // saves kept afterwards
  if (target < 0 || target >= depth) return;                      // as GDI: an invalid level does nothing
  record(META_RESTOREDC, words({target - depth}));
  const TSaved s = saved_[static_cast<size_t>(target)];
  saved_.resize(static_cast<size_t>(target));
  pen_ = s.pen, brush_ = s.brush, fillMode_ = s.fillMode;
  std::copy(s.xform, s.xform + 6, xform_);
}

void TWmfConverter::modifyWorldTransform(const TEmfRecord& r) {
  double m[6];
  for (int i = 0; i < 6; ++i) m[i] = r.F32(8 + 4 * i);
  const double* c = xform_;
  if (r.U32(32) == 1) {
    const double id[6] = {1, 0, 0, 1, 0, 0};
    std::copy(id, id + 6, xform_);
  } else if (r.U32(32) == 2) {  // m applied first
    const double n[6] = {m[0] * c[0] + m[1] * c[2], m[0] * c[1] + m[1] * c[3], m[2] * c[0] + m[3] * c[2],
                         m[2] * c[1] + m[3] * c[3], m[4] * c[0] + m[5] * c[2] + c[4],
                         m[4] * c[1] + m[5] * c[3] + c[5]};
    std::copy(n, n + 6, xform_);
  } else {
    throw EEmfWriteError("A world transform of the metafile has no Windows-metafile form");
  }
}

// Pens and brushes: made, selected, deleted.
bool TWmfConverter::objectRecord(const TEmfRecord& r) {
  switch (r.Type) {
    case 95: case 39: createObject(r); return true;
    case 37: {
      auto it = objects_.find(r.U32(8));
      if (it == objects_.end()) throw EEmfWriteError("A metafile selects an object it did not create");
      select(it->second);
      // Objects in use, for the saved states and clip resets.
      (isPen_[static_cast<size_t>(it->second)] ? pen_ : brush_) = it->second;
      return true;
    }
    case 40: objects_.erase(r.U32(8)); return true;  // the look stays for later objects
    default: return false;
  }
}

void TWmfConverter::createObject(const TEmfRecord& r) {
  const uint32_t handle = r.U32(8);
  if (objects_.count(handle)) throw EEmfWriteError("A metafile object is created twice");
  const bool pen = r.Type == 95;
  std::string p;
  if (pen) {
    // EXTCREATEPEN: the brush bitmap's offsets and sizes, then the pen's
    // style, width, brush style and colour.
    uint32_t style = r.U32(28);
    const uint32_t kind = style & PS_STYLE_MASK;
    if (r.U32(36) == 1) style = PS_NULL;                     // a hollow brush draws nothing
    else if (kind == PS_USERSTYLE) style &= ~PS_STYLE_MASK;  // dashes of their own: solid
    put16(p, static_cast<uint16_t>(style & 0xFFFF));
    p += words({std::min<int64_t>(r.U32(32), 32767), 0});
    put32(p, r.U32(40));
  } else {
    put16(p, static_cast<uint16_t>(r.U32(12)));
    put32(p, r.U32(16));
    put16(p, 0);
  }
  // Objects are made once per look and never deleted: WMF players
  // differ in how they reuse freed slots, and a page has few looks.
  const std::string key = std::string(1, pen ? 'P' : 'B') + p;
  auto known = looks_.find(key);
  if (known == looks_.end()) {
    const int slot = newSlot();
    if (isPen_.size() <= static_cast<size_t>(slot)) isPen_.resize(static_cast<size_t>(slot) + 1);
    isPen_[static_cast<size_t>(slot)] = pen;
    record(pen ? META_CREATEPENINDIRECT : META_CREATEBRUSHINDIRECT, p);
    known = looks_.emplace(key, slot).first;
  }
  objects_[handle] = known->second;
}

// Lines, curves, shapes, pixels and pictures: drawn at once outside a path
// bracket, collected into the path inside one.
bool TWmfConverter::drawingRecord(const TEmfRecord& r) {
  switch (r.Type) {
    case 27: case 54: {  // MOVETOEX, LINETO
      const POINT pt{r.I32(8), r.I32(12)};
      if (r.Type == 27 && inPath_)
        path_.push_back(TSubpath{{pt}, false});
      else if (inPath_)
        addPoint(pt);
      else
        record(r.Type == 27 ? META_MOVETO : META_LINETO, words({pt.y, pt.x}));
      current_ = pt;
      return true;
    }
    case 5: polyBezierTo(r); return true;
    case 3: case 4: poly(r); return true;
    case 42: case 43: rectangleOrEllipse(r); return true;
    case 15: {
      std::string p;
      put32(p, r.U32(16));
      p += words({r.I32(12), r.I32(8)});
      record(META_SETPIXEL, p);
      return true;
    }
    case 81: bitmap(r, false); return true;
    case 114: bitmap(r, true); return true;
    default: return false;
  }
}

void TWmfConverter::polyBezierTo(const TEmfRecord& r) {
  const uint32_t count = r.U32(24);
  r.Items(28, count, 8);
  const POINT start = current_;
  for (uint32_t i = 0; i + 3 <= count; i += 3) {
    POINT c[3];
    for (int k = 0; k < 3; ++k) c[k] = POINT{r.I32(28 + (i + k) * 8), r.I32(32 + (i + k) * 8)};
    if (!inPath_ && path_.empty()) path_.push_back(TSubpath{{start}, false});
    flattenBezier(c);
  }
  if (!inPath_) {
    polylines();
    path_.clear();
  }
}

// POLYGON, POLYLINE.
void TWmfConverter::poly(const TEmfRecord& r) {
  const uint32_t count = r.U32(24);
  r.Items(28, count, 8);
  std::vector<POINT> pts;
  for (uint32_t i = 0; i < count; ++i) pts.push_back(POINT{r.I32(28 + i * 8), r.I32(32 + i * 8)});
  if (pts.empty()) return;
  if (inPath_) {
    path_.push_back(TSubpath{pts, r.Type == 3});
    current_ = pts.back();
  } else {
    std::string p;
    put16(p, static_cast<uint16_t>(std::min<size_t>(pts.size(), 0x7FFF)));
    pts.resize(std::min<size_t>(pts.size(), 0x7FFF));
    p += pointList(pts);
    record(r.Type == 3 ? META_POLYGON : META_POLYLINE, p);
  }
}

// RECTANGLE, ELLIPSE; in a path the ellipse is a 64-sided polygon.
void TWmfConverter::rectangleOrEllipse(const TEmfRecord& r) {
  const int32_t l = r.I32(8), t = r.I32(12), rr = r.I32(16), b = r.I32(20);
  if (!inPath_) {
    record(r.Type == 43 ? META_RECTANGLE : META_ELLIPSE, words({b, rr, t, l}));
  } else if (r.Type == 43) {
    path_.push_back(TSubpath{{POINT{l, t}, POINT{rr, t}, POINT{rr, b}, POINT{l, b}}, true});
  } else {
    TSubpath e;
    for (int i = 0; i < 64; ++i) {
      const double a = i * 2 * M_PI / 64;
      e.points.push_back(POINT{static_cast<int32_t>(std::lrint((l + rr) / 2.0 + (rr - l) / 2.0 * std::cos(a))),
                               static_cast<int32_t>(std::lrint((t + b) / 2.0 + (b - t) / 2.0 * std::sin(a)))});
    }
    e.closed = true;
    path_.push_back(e);
  }
}

// The path bracket and the painting of the path.
bool TWmfConverter::pathRecord(const TEmfRecord& r) {
  switch (r.Type) {
    case 59:  // BEGINPATH
      inPath_ = true;
      path_.clear();
      return true;
    case 60: inPath_ = false; return true;  // ENDPATH
    case 61:                                // CLOSEFIGURE
      if (!path_.empty()) {
        path_.back().closed = true;
        current_ = path_.back().points.front();
      }
      return true;
    case 68:  // ABORTPATH
      inPath_ = false;
      path_.clear();
      return true;
    case 62: {  // FILLPATH: the polygons drawn with a null pen, without an outline
      const int pen = pen_;
      select(nullPen());
      polyPolygon();
      if (pen >= 0) select(pen);
      path_.clear();
      return true;
    }
    case 63:  // STROKEANDFILLPATH
      polyPolygon();
      path_.clear();
      return true;
    case 64:  // STROKEPATH
      polylines();
      path_.clear();
      return true;
    default: return false;
  }
}

bool TWmfConverter::clipRecord(const TEmfRecord& r) {
  switch (r.Type) {
    case 67: clipToPath(r.I32(8)); return true;
    case 75:
      if (r.U32(8) != 0) throw EEmfWriteError("Clipping regions are not written to Windows metafiles");
      resetClip();
      return true;
    case 30: record(META_INTERSECTCLIPRECT, words({r.I32(20), r.I32(16), r.I32(12), r.I32(8)})); return true;
    default: return false;
  }
}

// Clipping paths become the rectangle around them.
void TWmfConverter::clipToPath(int32_t mode) {
  bool any = false;
  int64_t l = 0, t = 0, rr = 0, b = 0;
  for (const TSubpath& sp : path_)
    for (const POINT& p : sp.points) {
      if (!any) l = rr = p.x, t = b = p.y, any = true;
      l = std::min<int64_t>(l, p.x), rr = std::max<int64_t>(rr, p.x);
      t = std::min<int64_t>(t, p.y), b = std::max<int64_t>(b, p.y);
    }
  if (mode == RGN_COPY) resetClip();
  if (!any) l = t = rr = b = 0;
  record(META_INTERSECTCLIPRECT, words({b, rr, t, l}));
  path_.clear();
}

}  // namespace

std::string ConvertEmfToWmf(const std::string& emf, double dpi) {
  std::unique_ptr<TEmfFile> file;
  try {
    file = std::make_unique<TEmfFile>(emf);
  } catch (const Exception& e) {
    throw EEmfWriteError(std::string("The enhanced metafile cannot be read: ") + e.what());
  }
  const int32_t width = file->Header().Bounds[2] - file->Header().Bounds[0] + 1;
  const int32_t height = file->Header().Bounds[3] - file->Header().Bounds[1] + 1;
  if (width <= 0 || height <= 0 || width > 32767 || height > 32767)
    throw EEmfWriteError("The page is too large for a Windows metafile");
  TWmfConverter converter(width, height);
  std::string body;
  try {
    body = converter.Convert(*file, dpi);
  } catch (const EEmfError& e) {
    throw EEmfWriteError(std::string("The enhanced metafile is damaged: ") + e.what());
  }
  // The placeable header: key, bounds in device units at dpi units per
  // inch, and the checksum of its first ten words.
  std::string out;
  auto put16 = [&](uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
  };
  auto put32 = [&](uint32_t v) {
    put16(static_cast<uint16_t>(v & 0xFFFF));
    put16(static_cast<uint16_t>(v >> 16));
  };
  put32(0x9AC6CDD7);
  put16(0);
  put16(0), put16(0), put16(static_cast<uint16_t>(width)), put16(static_cast<uint16_t>(height));
  put16(static_cast<uint16_t>(std::clamp(std::lround(dpi), 1L, 32767L)));
  put32(0);
  uint16_t checksum = 0;
  for (size_t i = 0; i < 20; i += 2)
    checksum ^= static_cast<uint16_t>(static_cast<uint8_t>(out[i]) | static_cast<uint8_t>(out[i + 1]) << 8);
  put16(checksum);
  // The metafile header: a memory metafile of version 3.
  const size_t totalWords = 9 + body.size() / 2;
  if (totalWords > std::numeric_limits<uint32_t>::max() || converter.ObjectCount() > 0xFFFF)
    throw EEmfWriteError("The page is too large for a Windows metafile");
  put16(1);
  put16(9);
  put16(0x0300);
  put32(static_cast<uint32_t>(totalWords));
  put16(static_cast<uint16_t>(converter.ObjectCount()));
  put32(converter.MaxRecordWords());
  put16(0);
  out += body;
  return out;
}
