#include "platform/Bitmap.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <limits>

namespace {

std::atomic<int64_t> gMaxPixels{TBitmap::DefaultMaxPixels};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;
constexpr uint32_t BI_ALPHABITFIELDS = 6;

constexpr int kFileHeaderSize = 14;
constexpr int kCoreHeaderSize = 12;
constexpr int kInfoHeaderSize = 40;
constexpr int kV5HeaderSize = 124;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void PutU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::vector<TRGBQuad> DefaultPalette(TPixelFormat format) {
  std::vector<TRGBQuad> pal;
  if (format == TPixelFormat::pf1bit) {
    pal = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}};
  } else if (format == TPixelFormat::pf8bit) {
    pal.resize(256);
    for (int i = 0; i < 256; ++i) {
      auto v = static_cast<uint8_t>(i);
      pal[i] = TRGBQuad{v, v, v, 0};
    }
  }
  return pal;
}

TColor QuadColor(const TRGBQuad& q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); }

// One colour channel of a 16- or 32-bit BMP: where its bits are and how to
// widen them to 8 bits (by bit replication, as other readers do: 5-bit 31
// gives 255, 5-bit 28 gives 231).
struct ChannelMask {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;  // width from the lowest to the highest set bit

  explicit ChannelMask(uint32_t m = 0) : mask(m) {
    if (m != 0) {
      shift = std::countr_zero(m);
      bits = std::bit_width(m >> shift);
    }
  }
  uint8_t Extract(uint32_t v) const {
    if (bits == 0) return 0;
    uint32_t c = (v & mask) >> shift;
    if (bits >= 8) return static_cast<uint8_t>(c >> (bits - 8));
    uint32_t r = 0;
    for (int pos = 8 - bits; pos > -bits; pos -= bits) r |= pos >= 0 ? c << pos : c >> -pos;
    return static_cast<uint8_t>(r);
  }
};

// Reads exactly count bytes or raises the bitmap error for a truncated file.
void ReadExact(TStream& stream, void* buffer, int64_t count) {
  if (count <= 0) return;
  int64_t got = 0;
  auto* out = static_cast<uint8_t*>(buffer);
  while (got < count) {
    int64_t n = stream.Read(out + got, count - got);
    if (n <= 0) throw EBitmapError("BMP file is truncated");
    got += n;
  }
}

// Small cache over TBitmap::NearestPaletteIndex for whole-image conversions.
class NearestCache {
public:
  explicit NearestCache(const TBitmap& bmp) : bmp_(bmp) { keys_.fill(0xFFFFFFFFu); }
  int Lookup(TColor c) {
    uint32_t slot = ((c * 2654435761u) >> 20) & (kSize - 1);
    if (keys_[slot] != c) {
      keys_[slot] = c;
      values_[slot] = static_cast<uint8_t>(bmp_.NearestPaletteIndex(c));
    }
    return values_[slot];
  }

private:
  static constexpr uint32_t kSize = 4096;
  const TBitmap& bmp_;
  std::array<uint32_t, kSize> keys_;
  std::array<uint8_t, kSize> values_{};
};

}  // namespace

int64_t TBitmap::MaxPixels() { return gMaxPixels.load(); }

void TBitmap::SetMaxPixels(int64_t pixels) {
  if (pixels < 1) throw EBitmapError("The largest bitmap size must be at least one pixel");
  gMaxPixels.store(pixels);
}

int TBitmap::BitsPerPixel(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf24bit: return 24;
    case TPixelFormat::pf32bit: return 32;
  }
  return 24;
}

int64_t TBitmap::StrideFor(int width, TPixelFormat format) {
  return ((static_cast<int64_t>(width) * BitsPerPixel(format) + 31) / 32) * 4;
}

void TBitmap::CheckSize(int width, int height, TPixelFormat format) {
  if (width < 0 || height < 0) throw EBitmapError("Invalid bitmap size " + std::to_string(width) + " x " + std::to_string(height));
  int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels > MaxPixels())
    throw EBitmapError("Bitmap of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels exceeds the size limit");
  int64_t bytes = StrideFor(width, format) * height;
  if (StrideFor(width, format) > std::numeric_limits<int>::max() ||
      static_cast<uint64_t>(bytes) > std::numeric_limits<size_t>::max() / 2)
    throw EBitmapError("Bitmap too large");
}

TBitmap::TBitmap(int width, int height, TPixelFormat format) { Reset(width, height, format); }

void TBitmap::Reset(int width, int height, TPixelFormat format) {
  CheckSize(width, height, format);
  width_ = width;
  height_ = height;
  format_ = format;
  stride_ = static_cast<int>(StrideFor(width, format));
  pixels_.assign(static_cast<size_t>(stride_) * height, 0);
  palette_ = DefaultPalette(format);
}

TBitmap TBitmap::ForOverwrite(int width, int height, TPixelFormat format) {
  if (format != TPixelFormat::pf24bit && format != TPixelFormat::pf32bit)
    throw EBitmapError("Only 24- and 32-bit bitmaps are made for overwriting");
  CheckSize(width, height, format);
  TBitmap result;
  result.width_ = width;
  result.height_ = height;
  result.format_ = format;
  result.stride_ = static_cast<int>(StrideFor(width, format));
  result.pixels_.resize(static_cast<size_t>(result.stride_) * height);  // not cleared
  const size_t used = static_cast<size_t>(width) * (format == TPixelFormat::pf24bit ? 3 : 4);
  if (used < static_cast<size_t>(result.stride_))
    for (int y = 0; y < height; ++y)
      std::memset(result.pixels_.data() + static_cast<size_t>(y) * result.stride_ + used, 0, result.stride_ - used);
  return result;
}

void TBitmap::SetSize(int width, int height) {
  if (width == width_ && height == height_) return;
  CheckSize(width, height, format_);
  int newStride = static_cast<int>(StrideFor(width, format_));
  std::vector<uint8_t, TPixelAllocator<uint8_t>> pixels(static_cast<size_t>(newStride) * height, 0);
  int rows = std::min(height, height_);
  int64_t keepBits = static_cast<int64_t>(std::min(width, width_)) * BitsPerPixel();
  size_t wholeBytes = static_cast<size_t>(keepBits / 8);
  int restBits = static_cast<int>(keepBits % 8);
  for (int y = 0; y < rows; ++y) {
    const uint8_t* src = pixels_.data() + static_cast<size_t>(y) * stride_;
    uint8_t* dst = pixels.data() + static_cast<size_t>(y) * newStride;
    std::memcpy(dst, src, wholeBytes);
    if (restBits) dst[wholeBytes] = static_cast<uint8_t>(src[wholeBytes] & (0xFF00 >> restBits));
  }
  pixels_ = std::move(pixels);
  width_ = width;
  height_ = height;
  stride_ = newStride;
}

uint8_t* TBitmap::ScanLine(int y) {
  if (y < 0 || y >= height_) throw EBitmapError("Scan line index out of range");
  return pixels_.data() + static_cast<size_t>(y) * stride_;
}

const uint8_t* TBitmap::ScanLine(int y) const {
  if (y < 0 || y >= height_) throw EBitmapError("Scan line index out of range");
  return pixels_.data() + static_cast<size_t>(y) * stride_;
}

void TBitmap::SetPalette(const std::vector<TRGBQuad>& palette) {
  if (format_ != TPixelFormat::pf1bit && format_ != TPixelFormat::pf8bit)
    throw EBitmapError("Only 1- and 8-bit bitmaps have a palette");
  size_t limit = size_t(1) << BitsPerPixel();
  if (palette.empty() || palette.size() > limit) throw EBitmapError("Invalid palette size");
  palette_ = palette;
}

void TBitmap::SetPaletteEntry(int index, TColor color) {
  if (index < 0 || static_cast<size_t>(index) >= palette_.size()) throw EBitmapError("Palette index out of range");
  palette_[index] = TRGBQuad{GetBValue(color), GetGValue(color), GetRValue(color), 0};
}

int TBitmap::NearestPaletteIndex(TColor color) const {
  int best = 0;
  int bestDist = std::numeric_limits<int>::max();
  for (size_t i = 0; i < palette_.size(); ++i) {
    int dr = palette_[i].rgbRed - GetRValue(color);
    int dg = palette_[i].rgbGreen - GetGValue(color);
    int db = palette_[i].rgbBlue - GetBValue(color);
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = static_cast<int>(i);
      if (d == 0) break;
    }
  }
  return best;
}

int TBitmap::PixelIndex(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* row = pixels_.data() + static_cast<size_t>(y) * stride_;
  switch (format_) {
    case TPixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case TPixelFormat::pf8bit: return row[x];
    default: throw EBitmapError("Only 1- and 8-bit bitmaps have palette indexes");
  }
}

void TBitmap::SetPixelIndex(int x, int y, int index) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* row = pixels_.data() + static_cast<size_t>(y) * stride_;
  switch (format_) {
    case TPixelFormat::pf1bit: {
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (index & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<uint8_t>(~bit);
      break;
    }
    case TPixelFormat::pf8bit: row[x] = static_cast<uint8_t>(index); break;
    default: throw EBitmapError("Only 1- and 8-bit bitmaps have palette indexes");
  }
}

TColor TBitmap::Pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  const uint8_t* row = pixels_.data() + static_cast<size_t>(y) * stride_;
  switch (format_) {
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf8bit: {
      size_t i = static_cast<size_t>(PixelIndex(x, y));
      return i < palette_.size() ? QuadColor(palette_[i]) : 0;
    }
    case TPixelFormat::pf24bit: {
      const uint8_t* p = row + static_cast<size_t>(x) * 3;
      return RGB(p[2], p[1], p[0]);
    }
    case TPixelFormat::pf32bit: {
      const uint8_t* p = row + static_cast<size_t>(x) * 4;
      return RGB(p[2], p[1], p[0]);
    }
  }
  return 0;
}

void TBitmap::SetPixel(int x, int y, TColor color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t* row = pixels_.data() + static_cast<size_t>(y) * stride_;
  switch (format_) {
    case TPixelFormat::pf1bit:
    case TPixelFormat::pf8bit: SetPixelIndex(x, y, NearestPaletteIndex(color)); break;
    case TPixelFormat::pf24bit: {
      uint8_t* p = row + static_cast<size_t>(x) * 3;
      p[0] = GetBValue(color);
      p[1] = GetGValue(color);
      p[2] = GetRValue(color);
      break;
    }
    case TPixelFormat::pf32bit: {
      uint8_t* p = row + static_cast<size_t>(x) * 4;
      p[0] = GetBValue(color);
      p[1] = GetGValue(color);
      p[2] = GetRValue(color);
      p[3] = 255;
      break;
    }
  }
}

void TBitmap::Fill(TColor color) {
  if (Empty()) return;
  switch (format_) {
    case TPixelFormat::pf1bit: {
      int bit = NearestPaletteIndex(color) & 1;
      std::fill(pixels_.begin(), pixels_.end(), static_cast<uint8_t>(bit ? 0xFF : 0x00));
      break;
    }
    case TPixelFormat::pf8bit:
      std::fill(pixels_.begin(), pixels_.end(), static_cast<uint8_t>(NearestPaletteIndex(color)));
      break;
    case TPixelFormat::pf24bit:
    case TPixelFormat::pf32bit: {
      int bpp = BitsPerPixel() / 8;
      uint8_t px[4] = {GetBValue(color), GetGValue(color), GetRValue(color), 255};
      uint8_t* row0 = pixels_.data();
      for (int x = 0; x < width_; ++x) std::memcpy(row0 + static_cast<size_t>(x) * bpp, px, bpp);
      for (int y = 1; y < height_; ++y) std::memcpy(row0 + static_cast<size_t>(y) * stride_, row0, stride_);
      break;
    }
  }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == format_) return;
  TBitmap target;
  // Between 24 and 32 bits every pixel is written: nothing to clear first.
  const bool direct = (format_ == TPixelFormat::pf32bit && format == TPixelFormat::pf24bit) ||
                      (format_ == TPixelFormat::pf24bit && format == TPixelFormat::pf32bit);
  if (direct)
    target = ForOverwrite(width_, height_, format);
  else
    target.Reset(width_, height_, format);
  bool srcIndexed = format_ == TPixelFormat::pf1bit || format_ == TPixelFormat::pf8bit;
  bool dstIndexed = format == TPixelFormat::pf1bit || format == TPixelFormat::pf8bit;
  if (srcIndexed && dstIndexed && palette_.size() <= target.palette_.size() &&
      format == TPixelFormat::pf8bit) {
    // 1 -> 8 bits: indexes and colours stay.
    target.palette_ = palette_;
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) target.SetPixelIndex(x, y, PixelIndex(x, y));
  } else if (dstIndexed) {
    NearestCache cache(target);
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) target.SetPixelIndex(x, y, cache.Lookup(Pixel(x, y)));
  } else if (format_ == TPixelFormat::pf32bit && format == TPixelFormat::pf24bit) {
    for (int y = 0; y < height_; ++y) {
      const uint8_t* s = ScanLine(y);
      uint8_t* d = target.ScanLine(y);
      for (int x = 0; x < width_; ++x, s += 4, d += 3) std::memcpy(d, s, 3);
    }
  } else if (format_ == TPixelFormat::pf24bit && format == TPixelFormat::pf32bit) {
    for (int y = 0; y < height_; ++y) {
      const uint8_t* s = ScanLine(y);
      uint8_t* d = target.ScanLine(y);
      for (int x = 0; x < width_; ++x, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
    }
  } else {
    // Anything to 24 or 32 bits through the colours.
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) target.SetPixel(x, y, Pixel(x, y));
  }
  target.alphaFormat_ = format == TPixelFormat::pf32bit && format_ == TPixelFormat::pf32bit ? alphaFormat_
                                                                                             : TAlphaFormat::afIgnored;
  *this = std::move(target);
}

bool TBitmap::operator==(const TBitmap& other) const {
  if (width_ != other.width_ || height_ != other.height_ || format_ != other.format_) return false;
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) {
      if (Pixel(x, y) != other.Pixel(x, y)) return false;
      if (format_ == TPixelFormat::pf32bit && (alphaFormat_ != TAlphaFormat::afIgnored || other.alphaFormat_ != TAlphaFormat::afIgnored) &&
          ScanLine(y)[x * 4 + 3] != other.ScanLine(y)[x * 4 + 3])
        return false;
    }
  return true;
}

// ---------------------------------------------------------------------------
// BMP reading

void TBitmap::LoadFromBytes(std::string_view bytes) {
  TMemoryStream stream(bytes);
  LoadFromStream(stream);
}

void TGraphic::LoadFromFile(const std::string& path) {
  TFileStream stream(path, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& path) const {
  TMemoryStream stream;
  SaveToStream(stream);
  WriteFileBytesAtomic(path, stream.Bytes());
}

namespace {

// What the header of a BMP file says, whichever of its kinds it is.
struct TBmpHeader {
  uint32_t Size = 0;     // of the header after the file header
  uint32_t OffBits = 0;  // pixel data offset from the file header
  bool Core = false;     // 12-byte header with 16-bit sizes and 3-byte palette entries
  bool OS2v2 = false;    // OS/2 2.x header of 16..64 bytes
  int64_t Width = 0, Height = 0;
  bool TopDown = false;
  int Bits = 0;
  uint32_t Compression = BI_RGB, ClrUsed = 0, SizeImage = 0;
  uint8_t Bytes[kV5HeaderSize] = {};
};

// The file header and the bitmap header: core (12), OS/2 2.x (16..64), info
// (40), the V2/V3 variants (52, 56), V4 (108), V5 (124). Checks the size,
// planes, depth and compression so that the readers below can trust them.
TBmpHeader readBmpHeader(TStream& stream, int64_t maxPixels) {
  uint8_t fileHeader[kFileHeaderSize];
  ReadExact(stream, fileHeader, kFileHeaderSize);
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') throw EBitmapError("Not a BMP file");
  TBmpHeader h;
  h.OffBits = ReadU32(fileHeader + 10);

  uint8_t* header = h.Bytes;
  ReadExact(stream, header, 4);
  h.Size = ReadU32(header);
  if (h.Size != kCoreHeaderSize && h.Size != 108 && h.Size != kV5HeaderSize &&
      (h.Size < 16 || h.Size > 64 || h.Size % 4 != 0))
    throw EBitmapError("Unsupported BMP header size " + std::to_string(h.Size));
  ReadExact(stream, header + 4, h.Size - 4);

  h.Core = h.Size == kCoreHeaderSize;
  h.OS2v2 = !h.Core && h.Size != kInfoHeaderSize && h.Size != 52 && h.Size != 56 && h.Size != 108 &&
            h.Size != kV5HeaderSize;
  if (h.Core) {
    h.Width = ReadU16(header + 4);
    h.Height = static_cast<int16_t>(ReadU16(header + 6));
    h.Bits = ReadU16(header + 10);
  } else {
    h.Width = static_cast<int32_t>(ReadU32(header + 4));
    h.Height = static_cast<int32_t>(ReadU32(header + 8));
    h.Bits = ReadU16(header + 14);
    h.Compression = ReadU32(header + 16);  // zero in a short OS/2 header
    h.SizeImage = ReadU32(header + 20);
    h.ClrUsed = ReadU32(header + 32);
  }
  const uint16_t planes = ReadU16(header + (h.Core ? 8 : 12));
  if (planes != 1) throw EBitmapError("BMP file with " + std::to_string(planes) + " planes");
  h.TopDown = h.Height < 0;
  if (h.TopDown) h.Height = -h.Height;
  if (h.Width <= 0 || h.Height <= 0) throw EBitmapError("BMP file with an empty or invalid size");
  if (h.Width * h.Height > maxPixels)
    throw EBitmapError("BMP image of " + std::to_string(h.Width) + " x " + std::to_string(h.Height) +
                       " pixels exceeds the size limit");
  if (h.OS2v2 && h.Compression >= 3) throw EBitmapError("Unsupported OS/2 BMP compression");
  const int bits = h.Bits;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    throw EBitmapError("Unsupported BMP bit depth " + std::to_string(bits));
  switch (h.Compression) {
    case BI_RGB: break;
    case BI_RLE8:
      if (bits != 8) throw EBitmapError("RLE8 needs 8 bits per pixel");
      break;
    case BI_RLE4:
      if (bits != 4) throw EBitmapError("RLE4 needs 4 bits per pixel");
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (bits != 16 && bits != 32) throw EBitmapError("Bit fields need 16 or 32 bits per pixel");
      break;
    default: throw EBitmapError("Unsupported BMP compression " + std::to_string(h.Compression));
  }
  return h;
}

struct TBmpMasks {
  ChannelMask Red, Green, Blue, Alpha;
};

// Channel masks: inside V2..V5 headers, else after an info header; 16-bit
// pixels without masks are 5-5-5.
TBmpMasks readBmpMasks(TStream& stream, const TBmpHeader& h, int64_t& consumed) {
  TBmpMasks m;
  if (h.Compression == BI_BITFIELDS || h.Compression == BI_ALPHABITFIELDS) {
    uint8_t masks[16] = {};
    if (h.Size >= 52 && !h.OS2v2) {
      std::memcpy(masks, h.Bytes + 40, h.Size >= 56 ? 16 : 12);
    } else {
      int count = h.Compression == BI_ALPHABITFIELDS ? 16 : 12;
      ReadExact(stream, masks, count);
      consumed += count;
    }
    m.Red = ChannelMask(ReadU32(masks));
    m.Green = ChannelMask(ReadU32(masks + 4));
    m.Blue = ChannelMask(ReadU32(masks + 8));
    m.Alpha = ChannelMask(ReadU32(masks + 12));
  } else if (h.Bits == 16) {
    m.Red = ChannelMask(0x7C00);
    m.Green = ChannelMask(0x03E0);
    m.Blue = ChannelMask(0x001F);
  }
  return m;
}

// The colour table of an indexed bitmap (3-byte entries in a core file).
std::vector<TRGBQuad> readBmpPalette(TStream& stream, const TBmpHeader& h, int64_t& consumed) {
  std::vector<TRGBQuad> palette;
  if (h.Bits > 8) return palette;
  const int entrySize = h.Core ? 3 : 4;
  int64_t count = h.ClrUsed != 0 ? h.ClrUsed : (int64_t(1) << h.Bits);
  if (count > 256) throw EBitmapError("BMP palette of " + std::to_string(count) + " colours");
  // Some core files leave less room than the depth implies before the pixels.
  if (h.OffBits > consumed && h.OffBits < consumed + count * entrySize) count = (h.OffBits - consumed) / entrySize;
  std::vector<uint8_t> raw(static_cast<size_t>(count * entrySize));
  ReadExact(stream, raw.data(), static_cast<int64_t>(raw.size()));
  consumed += static_cast<int64_t>(raw.size());
  int keep = static_cast<int>(std::min<int64_t>(count, int64_t(1) << h.Bits));
  for (int i = 0; i < keep; ++i) {
    const uint8_t* e = raw.data() + static_cast<size_t>(i) * entrySize;
    palette.push_back(TRGBQuad{e[0], e[1], e[2], 0});
  }
  if (palette.empty()) palette.push_back(TRGBQuad{});
  return palette;
}

// Skips to the declared pixel offset when it is plausible.
void skipToBmpPixels(TStream& stream, const TBmpHeader& h, int64_t available, int64_t& consumed) {
  if (h.OffBits <= consumed || h.OffBits > available) return;
  int64_t skip = h.OffBits - consumed;
  std::vector<uint8_t> gap(static_cast<size_t>(std::min<int64_t>(skip, 65536)));
  while (skip > 0) {
    int64_t n = std::min<int64_t>(skip, static_cast<int64_t>(gap.size()));
    ReadExact(stream, gap.data(), n);
    skip -= n;
  }
  consumed = h.OffBits;
}

TPixelFormat bmpPixelFormat(int bits) {
  switch (bits) {
    case 1: return TPixelFormat::pf1bit;
    case 2:
    case 4:
    case 8: return TPixelFormat::pf8bit;
    case 32: return TPixelFormat::pf32bit;
    default: return TPixelFormat::pf24bit;
  }
}

// Bitmap row of a row in file order.
int bmpRow(const TBmpHeader& h, int64_t fileRow) {
  return static_cast<int>(h.TopDown ? fileRow : h.Height - 1 - fileRow);
}

// Run-length coded 8- or 4-bit pixels into an 8-bit bitmap of the header's size.
TBitmap decodeBmpRunLength(TStream& stream, const TBmpHeader& h, int64_t remaining) {
  int64_t dataSize = h.SizeImage != 0 ? h.SizeImage : remaining;
  if (dataSize > remaining) throw EBitmapError("BMP file is truncated");
  std::vector<uint8_t> data(static_cast<size_t>(dataSize));
  ReadExact(stream, data.data(), dataSize);
  const int w = static_cast<int>(h.Width);
  const int64_t height = h.Height;
  TBitmap result(w, static_cast<int>(height), bmpPixelFormat(h.Bits));
  const bool four = h.Compression == BI_RLE4;
  size_t pos = 0;
  int x = 0;
  int64_t fileRow = 0;
  auto put = [&](int index) {
    if (x < w && fileRow < height) result.ScanLine(bmpRow(h, fileRow))[x] = static_cast<uint8_t>(index);
    ++x;
  };
  auto need = [&](size_t n) {
    if (data.size() - pos < n) throw EBitmapError("BMP run-length data are truncated");
  };
  while (fileRow < height && pos < data.size()) {
    need(2);
    uint8_t n = data[pos], v = data[pos + 1];
    pos += 2;
    if (n > 0) {
      for (int i = 0; i < n && x < w; ++i) put(four ? ((i & 1) ? (v & 0x0F) : (v >> 4)) : v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      ++fileRow;
    } else if (v == 1) {  // end of bitmap
      break;
    } else if (v == 2) {  // delta
      need(2);
      x += data[pos];
      fileRow += data[pos + 1];
      pos += 2;
    } else {  // absolute run of v pixels, padded to a 16-bit boundary
      size_t bytes = four ? (v + 1) / 2 : v;
      size_t padded = (bytes + 1) & ~size_t(1);
      need(bytes);
      for (int i = 0; i < v; ++i) {
        uint8_t b = data[pos + (four ? i / 2 : i)];
        put(four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
      }
      pos += std::min(padded, data.size() - pos);
    }
  }
  return result;
}

// Uncompressed or bit-field rows into a bitmap of the header's size: 1, 8 and
// 24 bits as they are, 2 and 4 bits widened to bytes, 16 bits to 24, 32 bits
// through the masks when given.
TBitmap decodeBmpRows(TStream& stream, const TBmpHeader& h, const TBmpMasks& m, int64_t remaining) {
  const int64_t width = h.Width;
  const int bits = h.Bits;
  const int64_t srcStride = ((width * bits + 31) / 32) * 4;
  if (remaining < 0 || srcStride > remaining / h.Height) throw EBitmapError("BMP file is truncated");
  const int w = static_cast<int>(width);
  TBitmap result(w, static_cast<int>(h.Height), bmpPixelFormat(bits));
  std::vector<uint8_t> row(static_cast<size_t>(srcStride));
  for (int64_t fileRow = 0; fileRow < h.Height; ++fileRow) {
    ReadExact(stream, row.data(), srcStride);
    uint8_t* dst = result.ScanLine(bmpRow(h, fileRow));
    const uint8_t* src = row.data();
    switch (bits) {
      case 1:
      case 8:
      case 24: std::memcpy(dst, src, static_cast<size_t>((width * bits + 7) / 8)); break;
      case 2:
        for (int x = 0; x < w; ++x) dst[x] = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        break;
      case 4:
        for (int x = 0; x < w; ++x) dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
        break;
      case 16:
        for (int x = 0; x < w; ++x) {
          uint32_t v = ReadU16(src + 2 * x);
          dst[3 * x] = m.Blue.Extract(v);
          dst[3 * x + 1] = m.Green.Extract(v);
          dst[3 * x + 2] = m.Red.Extract(v);
        }
        break;
      case 32:
        if (h.Compression == BI_RGB) {
          std::memcpy(dst, src, static_cast<size_t>(width) * 4);
        } else {
          for (int x = 0; x < w; ++x) {
            uint32_t v = ReadU32(src + 4 * x);
            dst[4 * x] = m.Blue.Extract(v);
            dst[4 * x + 1] = m.Green.Extract(v);
            dst[4 * x + 2] = m.Red.Extract(v);
            dst[4 * x + 3] = m.Alpha.mask ? m.Alpha.Extract(v) : 255;
          }
        }
        break;
    }
  }
  return result;
}

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.GetPosition();
  const int64_t available = stream.GetSize() - start;
  const TBmpHeader header = readBmpHeader(stream, MaxPixels());
  int64_t consumed = kFileHeaderSize + header.Size;
  const TBmpMasks masks = readBmpMasks(stream, header, consumed);
  std::vector<TRGBQuad> palette = readBmpPalette(stream, header, consumed);
  skipToBmpPixels(stream, header, available, consumed);
  const int64_t remaining = available - consumed;

  TBitmap result;
  if (header.Compression == BI_RLE8 || header.Compression == BI_RLE4) {
    result = decodeBmpRunLength(stream, header, remaining);
  } else {
    result = decodeBmpRows(stream, header, masks, remaining);
    if (header.Bits == 32 && masks.Alpha.mask != 0) result.alphaFormat_ = TAlphaFormat::afDefined;
  }
  if (header.Bits <= 8) result.palette_ = std::move(palette);
  *this = std::move(result);
}

// ---------------------------------------------------------------------------
// BMP writing

std::string TBitmap::SaveToBytes() const {
  if (Empty()) throw EBitmapError("Cannot save an empty bitmap");
  const bool withAlpha = format_ == TPixelFormat::pf32bit && alphaFormat_ != TAlphaFormat::afIgnored;
  const int headerSize = withAlpha ? kV5HeaderSize : kInfoHeaderSize;
  const bool indexed = format_ == TPixelFormat::pf1bit || format_ == TPixelFormat::pf8bit;
  const size_t paletteBytes = indexed ? palette_.size() * 4 : 0;
  const size_t offBits = kFileHeaderSize + headerSize + paletteBytes;
  const size_t imageSize = static_cast<size_t>(stride_) * height_;
  const size_t total = offBits + imageSize;
  if (total > 0xFFFFFFFFu) throw EBitmapError("Bitmap too large for a BMP file");

  std::string out(total, '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  p[0] = 'B';
  p[1] = 'M';
  PutU32(p + 2, static_cast<uint32_t>(total));
  PutU32(p + 10, static_cast<uint32_t>(offBits));
  uint8_t* h = p + kFileHeaderSize;
  PutU32(h, headerSize);
  PutU32(h + 4, static_cast<uint32_t>(width_));
  PutU32(h + 8, static_cast<uint32_t>(height_));  // positive: bottom-up rows
  PutU16(h + 12, 1);
  PutU16(h + 14, static_cast<uint32_t>(BitsPerPixel()));
  PutU32(h + 16, withAlpha ? BI_BITFIELDS : BI_RGB);
  PutU32(h + 20, static_cast<uint32_t>(imageSize));
  PutU32(h + 24, 2835);  // 72 dots per inch
  PutU32(h + 28, 2835);
  PutU32(h + 32, indexed ? static_cast<uint32_t>(palette_.size()) : 0);
  if (withAlpha) {
    PutU32(h + 40, 0x00FF0000);
    PutU32(h + 44, 0x0000FF00);
    PutU32(h + 48, 0x000000FF);
    PutU32(h + 52, 0xFF000000);
    PutU32(h + 56, 0x73524742);  // 'sRGB'
    PutU32(h + 108, 4);          // LCS_GM_IMAGES
  }
  uint8_t* pal = h + headerSize;
  for (size_t i = 0; indexed && i < palette_.size(); ++i) {
    pal[4 * i] = palette_[i].rgbBlue;
    pal[4 * i + 1] = palette_[i].rgbGreen;
    pal[4 * i + 2] = palette_[i].rgbRed;
  }
  uint8_t* bits = p + offBits;
  for (int y = 0; y < height_; ++y) {
    uint8_t* dst = bits + static_cast<size_t>(height_ - 1 - y) * stride_;
    const uint8_t* src = pixels_.data() + static_cast<size_t>(y) * stride_;
    if (withAlpha && alphaFormat_ == TAlphaFormat::afPremultiplied) {
      for (int x = 0; x < width_; ++x) {
        const uint8_t* s = src + 4 * x;
        uint8_t* d = dst + 4 * x;
        uint8_t a = s[3];
        for (int c = 0; c < 3; ++c) d[c] = a == 0 ? 0 : static_cast<uint8_t>(std::min(255, (s[c] * 255 + a / 2) / a));
        d[3] = a;
      }
    } else if (format_ == TPixelFormat::pf32bit && !withAlpha) {
      // Some readers take the fourth byte of any 32-bit file as alpha: keep opaque.
      std::memcpy(dst, src, stride_);
      for (int x = 0; x < width_; ++x) dst[4 * x + 3] = 255;
    } else {
      std::memcpy(dst, src, stride_);
    }
  }
  return out;
}

void TBitmap::SaveToStream(TStream& stream) const {
  std::string bytes = SaveToBytes();
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}
