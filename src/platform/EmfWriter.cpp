// EMF records of what is drawn on a metafile DC, and the metafile picture.
#include "platform/EmfWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// Record types.
constexpr uint32_t EMR_HEADER = 1, EMR_POLYGON = 3, EMR_POLYLINE = 4, EMR_POLYBEZIERTO = 5, EMR_EOF = 14,
                   EMR_SETPIXELV = 15, EMR_SETBKMODE = 18, EMR_SETPOLYFILLMODE = 19, EMR_MOVETOEX = 27,
                   EMR_INTERSECTCLIPRECT = 30, EMR_SAVEDC = 33, EMR_RESTOREDC = 34,
                   EMR_MODIFYWORLDTRANSFORM = 36, EMR_SELECTOBJECT = 37, EMR_CREATEBRUSHINDIRECT = 39,
                   EMR_DELETEOBJECT = 40, EMR_ELLIPSE = 42, EMR_RECTANGLE = 43, EMR_LINETO = 54,
                   EMR_SETMITERLIMIT = 58, EMR_BEGINPATH = 59, EMR_ENDPATH = 60, EMR_CLOSEFIGURE = 61,
                   EMR_FILLPATH = 62, EMR_STROKEANDFILLPATH = 63, EMR_STROKEPATH = 64, EMR_SELECTCLIPPATH = 67,
                   EMR_ABORTPATH = 68, EMR_EXTSELECTCLIPRGN = 75, EMR_STRETCHDIBITS = 81, EMR_EXTCREATEPEN = 95,
                   EMR_ALPHABLEND = 114;
constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr uint32_t MWT_LEFTMULTIPLY = 2;
constexpr uint32_t DIB_RGB_COLORS = 0;

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
  const std::string eofBytes = eof.Finished();
  // Reference device: the picture itself at the recording resolution.
  const double mmPerPixel = 25.4 / dpi_;
  TRecord header(EMR_HEADER);
  header.Rect(0, 0, width_ - 1, height_ - 1);
  header.Rect(0, 0, Clamp32(width_ * mmPerPixel * 100), Clamp32(height_ * mmPerPixel * 100));
  header.U32(kSignature).U32(0x10000);
  const size_t headerSize = 108;
  const uint64_t total = headerSize + records_.size() + eofBytes.size();
  if (total > std::numeric_limits<uint32_t>::max()) throw EEmfWriteError("The metafile is too large");
  header.U32(static_cast<uint32_t>(total)).U32(static_cast<uint32_t>(recordCount_ + 2));
  header.U32((highestHandle_ + 1) & 0xFFFF);  // handles (16 bits) and a reserved zero
  header.U32(0).U32(0).U32(0);                // no description, no palette
  header.I32(width_).I32(height_);
  header.I32(std::max(1, Clamp32(width_ * mmPerPixel))).I32(std::max(1, Clamp32(height_ * mmPerPixel)));
  header.U32(0).U32(0).U32(0);  // no pixel format, no OpenGL
  header.I32(Clamp32(width_ * mmPerPixel * 1000)).I32(Clamp32(height_ * mmPerPixel * 1000));
  std::string out = header.Finished();
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

std::string ConvertEmfToWmf(const std::string&, double) {
  throw EEmfWriteError("Windows metafiles are not written");
}
