#include "graphics/PavonaPNG.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "objects/PavonaFlate.h"

namespace {

constexpr char kSignature[8] = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1a', '\n'};
// Largest chunk length PNG allows.
constexpr uint32_t kMaxChunkLength = 0x7FFFFFFFu;

uint32_t readBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

void appendBE32(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v >> 24));
  out.push_back(static_cast<char>(v >> 16));
  out.push_back(static_cast<char>(v >> 8));
  out.push_back(static_cast<char>(v));
}

// Reads up to count bytes into out (resized to what was read).
size_t readUpTo(TStream& stream, std::string& out, uint64_t count) {
  out.resize(static_cast<size_t>(count));
  size_t got = 0;
  while (got < out.size()) {
    int64_t n = stream.Read(out.data() + got, static_cast<int64_t>(out.size() - got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return got;
}

bool validDepth(uint8_t colorType, int32_t depth) {
  switch (colorType) {
    case 0:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case 3:
      return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case 2:
    case 4:
    case 6:
      return depth == 8 || depth == 16;
    default:
      return false;
  }
}

void unfilterRow(uint8_t type, uint8_t* row, const uint8_t* prev, size_t length, size_t bpp) {
  switch (type) {
    case 1:
      for (size_t i = bpp; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      break;
    case 2:
      for (size_t i = 0; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + prev[i]);
      break;
    case 3:
      for (size_t i = 0; i < length; ++i) {
        unsigned left = i >= bpp ? row[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(row[i] + ((left + prev[i]) >> 1));
      }
      break;
    case 4:
      for (size_t i = 0; i < length; ++i) {
        uint8_t left = i >= bpp ? row[i - bpp] : 0;
        uint8_t upperLeft = i >= bpp ? prev[i - bpp] : 0;
        row[i] = static_cast<uint8_t>(row[i] + PaethPredictor(left, prev[i], upperLeft));
      }
      break;
    default:
      break;  // 0, and unknown types, leave the bytes as they are
  }
}

struct TPass {
  uint32_t startRow, startCol, rowStep, colStep;
};
constexpr TPass kAdam7[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4}, {0, 2, 4, 4},
                             {2, 0, 4, 2}, {0, 1, 2, 2}, {1, 0, 2, 1}};
constexpr TPass kSinglePass = {0, 0, 1, 1};

uint64_t passExtent(uint32_t size, uint32_t start, uint32_t step) {
  return size > start ? (uint64_t{size} - start - 1) / step + 1 : 0;
}

}  // namespace

uint32_t PNGCrc32(std::string_view bytes, uint32_t crc) {
  return static_cast<uint32_t>(
      crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// ---------------------------------------------------------------------------
// Reader

int32_t TPNGReader::ColorChannels(uint8_t colorType) {
  switch (colorType) {
    case 0:
    case 3:
    case 4:
      return 1;
    case 2:
    case 6:
      return 3;
    default:
      return 0;
  }
}

int32_t TPNGReader::AlphaChannels(uint8_t colorType) {
  return colorType == 4 || colorType == 6 ? 1 : 0;
}

void TPNGReader::LoadFromStream(TStream& stream) {
  std::string buf;
  if (readUpTo(stream, buf, 8) != 8 || std::memcmp(buf.data(), kSignature, 8) != 0) {
    ErrorText = "Not a PNG file";
    return;
  }
  bool first = true;
  bool haveHeader = false;
  for (;;) {
    int64_t chunkStart = stream.GetPosition();
    std::string head;
    if (readUpTo(stream, head, 8) != 8) break;
    const uint32_t length = readBE32(reinterpret_cast<const uint8_t*>(head.data()));
    const std::string type = head.substr(4, 4);
    if (first && type != "IHDR") break;
    first = false;
    if (type == "IEND") break;
    if (length > kMaxChunkLength) {
      ErrorText = "PNG chunk length out of range";
      break;
    }
    // Never allocate more than the stream still holds.
    const int64_t left = std::max<int64_t>(0, stream.GetSize() - stream.GetPosition());
    std::string data;
    const bool complete = readUpTo(stream, data, std::min<uint64_t>(length, static_cast<uint64_t>(left))) == length;

    if (type == "IHDR") {
      if (data.size() < 13) {
        ErrorText = "PNG header too short";
        break;
      }
      const auto* p = reinterpret_cast<const uint8_t*>(data.data());
      Width = readBE32(p);
      Height = readBE32(p + 4);
      BitDepth = p[8];
      ColorType = p[9];
      CompressionMethod = p[10];
      FilterMethod = p[11];
      InterlaceMethod = p[12];
      haveHeader = true;
    } else if (type == "PLTE") {
      PalettePosition = chunkStart + 8;
      Palette = data;
      PaletteCount = static_cast<int32_t>(data.size() / 3);
    } else if (type == "tRNS") {
      TransparencyPosition = chunkStart;
      Transparency = data;
    } else if (type == "IDAT") {
      if (ImageDataPosition < 0) ImageDataPosition = chunkStart;
      if (!ScanOnly) ImageData += data;
    } else if (type == "pHYs" && data.size() >= 9) {
      const auto* p = reinterpret_cast<const uint8_t*>(data.data());
      const uint64_t x = readBE32(p), y = readBE32(p + 4);
      if (x == 0 || y == 0) {
        DpiX = DpiY = 96;
      } else if (p[8] == 1) {
        DpiX = static_cast<int32_t>(std::min<uint64_t>(x * 254 / 10000, INT32_MAX));
        DpiY = static_cast<int32_t>(std::min<uint64_t>(y * 254 / 10000, INT32_MAX));
      } else {
        DpiX = 96;
        DpiY = static_cast<int32_t>(std::min<uint64_t>(y * 96 / x, INT32_MAX));
      }
      // A resolution that rounds down to nothing would make the image infinitely large.
      if (DpiX <= 0) DpiX = 96;
      if (DpiY <= 0) DpiY = 96;
    }
    if (!complete) break;
    std::string crc;
    if (readUpTo(stream, crc, 4) != 4) break;
  }
  if (!haveHeader && ErrorText.empty()) ErrorText = "PNG file without a header";
  if (!ErrorText.empty()) {
    Width = Height = 0;
    return;
  }
  if (!checkHeader()) {
    Width = Height = 0;
    return;
  }
  if (ScanOnly) return;
  if (ImageData.empty()) {
    ErrorText = "PNG file without image data";
    return;
  }
  decode();
}

bool TPNGReader::checkHeader() {
  if (CompressionMethod != 0 || FilterMethod != 0) {
    ErrorText = "Unknown PNG compression or filter method";
    return false;
  }
  if (Width == 0 || Height == 0) {
    ErrorText = "PNG image without pixels";
    return false;
  }
  if (Width > 0x7FFFFFFFu || Height > 0x7FFFFFFFu ||
      static_cast<uint64_t>(Width) * Height > static_cast<uint64_t>(TBitmap::MaxPixels())) {
    ErrorText = "PNG image too large";
    return false;
  }
  if (!validDepth(ColorType, BitDepth)) {
    ErrorText = "Invalid PNG colour type or bit depth";
    return false;
  }
  if (InterlaceMethod > 1) {
    ErrorText = "Unknown PNG interlace method";
    return false;
  }
  if (!Palette.empty() && (Palette.size() % 3 != 0 || PaletteCount > 256)) {
    ErrorText = "Invalid PNG palette";
    return false;
  }
  if (ColorType == 3 && (PaletteCount == 0 || PaletteCount > (1 << BitDepth))) {
    ErrorText =
        PaletteCount == 0 ? "PNG palette image without a palette" : "PNG palette larger than the bit depth allows";
    return false;
  }
  return true;
}

void TPNGReader::decode() {
  ColorBitDepth = BitDepth;
  if (ColorType != 4 && ColorType != 6 && InterlaceMethod == 0 && !(ReduceColor && BitDepth == 16)) {
    Direct = true;
    ColorData = ImageData;
    return;
  }
  const std::string raw = DecompressString(ImageData);
  const uint32_t channels = static_cast<uint32_t>(ColorChannels(ColorType) + AlphaChannels(ColorType));
  const uint32_t colorChannels = static_cast<uint32_t>(ColorChannels(ColorType));
  const uint32_t alphaChannels = static_cast<uint32_t>(AlphaChannels(ColorType));
  const uint32_t depth = static_cast<uint32_t>(BitDepth);
  const size_t bpp = channels * (depth == 16 ? 2 : 1);
  const size_t sampleBytes = depth >= 8 ? depth / 8 : 0;

  const size_t colorRow = static_cast<size_t>((uint64_t{Width} * colorChannels * depth + 7) / 8);
  const size_t alphaRow = static_cast<size_t>(uint64_t{Width} * alphaChannels * depth / 8);
  std::string color(colorRow * Height, '\0');
  std::string alpha(alphaRow * Height, '\0');
  auto* colorOut = reinterpret_cast<uint8_t*>(color.data());
  auto* alphaOut = reinterpret_cast<uint8_t*>(alpha.data());

  const TPass* passes = InterlaceMethod == 1 ? kAdam7 : &kSinglePass;
  const int passCount = InterlaceMethod == 1 ? 7 : 1;
  size_t pos = 0;
  std::vector<uint8_t> prev, cur;
  for (int p = 0; p < passCount; ++p) {
    const TPass& pass = passes[p];
    const uint64_t passWidth = passExtent(Width, pass.startCol, pass.colStep);
    const uint64_t passHeight = passExtent(Height, pass.startRow, pass.rowStep);
    if (passWidth == 0 || passHeight == 0) continue;
    const size_t rowBytes = static_cast<size_t>((passWidth * channels * depth + 7) / 8);
    prev.assign(rowBytes, 0);
    cur.resize(rowBytes);
    for (uint64_t r = 0; r < passHeight; ++r) {
      uint8_t filter = 0;
      if (pos < raw.size() && raw.size() - pos >= rowBytes + 1) {
        filter = static_cast<uint8_t>(raw[pos]);
        std::memcpy(cur.data(), raw.data() + pos + 1, rowBytes);
        pos += rowBytes + 1;
      } else {
        std::fill(cur.begin(), cur.end(), 0xFF);
      }
      unfilterRow(filter, cur.data(), prev.data(), rowBytes, bpp);

      const size_t y = static_cast<size_t>(pass.startRow + r * pass.rowStep);
      uint8_t* colorLine = colorOut + y * colorRow;
      uint8_t* alphaLine = alphaOut + y * alphaRow;
      if (alphaChannels > 0 || depth >= 8) {
        const size_t colorBytes = colorChannels * sampleBytes;
        const size_t alphaBytes = alphaChannels * sampleBytes;
        const uint8_t* src = cur.data();
        for (uint64_t i = 0; i < passWidth; ++i) {
          const size_t x = static_cast<size_t>(pass.startCol + i * pass.colStep);
          std::memcpy(colorLine + x * colorBytes, src, colorBytes);
          if (alphaBytes) std::memcpy(alphaLine + x * alphaBytes, src + colorBytes, alphaBytes);
          src += colorBytes + alphaBytes;
        }
      } else {
        const uint32_t mask = (1u << depth) - 1;
        for (uint64_t i = 0; i < passWidth; ++i) {
          const uint64_t srcBit = i * depth;
          const uint32_t value = (cur[srcBit / 8] >> (8 - depth - srcBit % 8)) & mask;
          const uint64_t x = pass.startCol + i * pass.colStep;
          const uint64_t dstBit = x * depth;
          colorLine[dstBit / 8] |= static_cast<uint8_t>(value << (8 - depth - dstBit % 8));
        }
      }
      std::swap(prev, cur);
    }
  }

  auto keepHighBytes = [](std::string& samples) {
    for (size_t i = 0; 2 * i < samples.size(); ++i) samples[i] = samples[2 * i];
    samples.resize(samples.size() / 2);
  };
  if (ReduceColor && depth == 16) {
    keepHighBytes(color);
    ColorBitDepth = 8;
  }
  AlphaBitDepth = alphaChannels ? BitDepth : 0;
  if (ReduceAlpha && depth == 16 && alphaChannels) {
    keepHighBytes(alpha);
    AlphaBitDepth = 8;
  }
  ColorData = CompressString(color);
  AlphaData = alphaChannels ? CompressString(alpha) : std::string();
}

std::string TPNGReader::GetIndexedColorSpace() const {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "/DeviceRGB " + std::to_string(PaletteCount - 1) + "<";
  for (char c : Palette) {
    auto b = static_cast<uint8_t>(c);
    text.push_back(kHex[b >> 4]);
    text.push_back(kHex[b & 15]);
  }
  return text + ">";
}

// ---------------------------------------------------------------------------
// Writer

TPNGWriter::TPNGWriter(const TBitmap& bitmap) {
  if (bitmap.PixelFormat() == TPixelFormat::pf24bit) {
    bitmap_ = bitmap;
  } else {
    TBitmap copy = bitmap;
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap_ = std::move(copy);
  }
}

TPNGWriter::TPNGWriter(TBitmap&& bitmap) : bitmap_(std::move(bitmap)) {
  // Only the colour bytes are written: 32-bit pixels with alpha would need
  // the alpha taken out first, as the copying constructor does.
  const bool opaque32 =
      bitmap_.PixelFormat() == TPixelFormat::pf32bit && bitmap_.AlphaFormat() == TAlphaFormat::afIgnored;
  if (bitmap_.PixelFormat() != TPixelFormat::pf24bit && !opaque32) bitmap_.SetPixelFormat(TPixelFormat::pf24bit);
}

void TPNGWriter::SetBitmap(const TBitmap* alphaBitmap, bool invert) {
  if (!alphaBitmap) return;
  TBitmap copy(*alphaBitmap);
  if (copy.PixelFormat() != TPixelFormat::pf24bit) copy.SetPixelFormat(TPixelFormat::pf24bit);
  alphaRows_.assign(copy.Height(), std::string());
  for (int y = 0; y < copy.Height(); ++y) {
    const uint8_t* line = copy.ScanLine(y);
    std::string& row = alphaRows_[y];
    row.resize(copy.Width());
    for (int x = 0; x < copy.Width(); ++x) {
      uint8_t v = line[3 * x];
      row[x] = static_cast<char>(invert ? 255 - v : v);
    }
  }
  hasAlpha_ = true;
}

void TPNGWriter::SetTransparentColor(TColor color) {
  hasTransparentColor_ = true;
  transparentColor_ = color;
}

void TPNGWriter::SetICCProfile(std::string_view profile) {
  iccProfile_ = CompressString(profile);
}

namespace {

constexpr size_t kIDATChunkBytes = 1 << 16;

// Deflates (zlib format, at TPNGWriter::kDeflateLevel) data fed in pieces;
// the output is the same as deflating the pieces joined.
class TPNGDeflater {
public:
  TPNGDeflater() { ready_ = deflateInit(&zs_, TPNGWriter::kDeflateLevel) == Z_OK; }
  ~TPNGDeflater() {
    if (ready_) deflateEnd(&zs_);
  }
  TPNGDeflater(const TPNGDeflater&) = delete;
  TPNGDeflater& operator=(const TPNGDeflater&) = delete;

  bool Feed(const char* data, size_t size, bool last) {
    if (!ready_) return false;
    zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    zs_.avail_in = static_cast<uInt>(size);
    const int flush = last ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
      Bytef buffer[1 << 16];
      zs_.next_out = buffer;
      zs_.avail_out = sizeof buffer;
      const int rc = deflate(&zs_, flush);
      if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) return false;
      out_.append(reinterpret_cast<const char*>(buffer), sizeof buffer - zs_.avail_out);
      if (rc == Z_STREAM_END) return true;
      if (zs_.avail_in == 0 && zs_.avail_out != 0 && !last) return true;
    }
  }
  // The output so far, taken (the deflater keeps no copy).
  std::string TakeOutput() { return std::exchange(out_, std::string()); }
  size_t OutputSize() const { return out_.size(); }

private:
  z_stream zs_{};
  bool ready_ = false;
  std::string out_;
};

// Length, type, data and CRC written one after the other: the data is not
// copied into a chunk first.
void writeChunk(TStream& stream, const char* type, std::string_view data) {
  std::string head;
  appendBE32(head, static_cast<uint32_t>(data.size()));
  head.append(type, 4);
  stream.WriteString(head);
  stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  std::string crc;
  appendBE32(crc, PNGCrc32(data, PNGCrc32(std::string_view(head).substr(4))));
  stream.WriteString(crc);
}

}  // namespace

void TPNGWriter::SaveToStream(TStream& stream) const {
  const int width = bitmap_.Width(), height = bitmap_.Height();
  if (width <= 0 || height <= 0) throw EPNGError("Cannot write an empty bitmap as PNG");
  // Alpha rows that exist but are empty cannot be sampled; write opaque then.
  const bool alpha = hasAlpha_ && !alphaRows_.empty() && !alphaRows_[0].empty();

  stream.WriteBuffer(kSignature, 8);
  std::string header;
  appendBE32(header, static_cast<uint32_t>(width));
  appendBE32(header, static_cast<uint32_t>(height));
  header.push_back(8);
  header.push_back(alpha ? 6 : 2);
  header.append(3, '\0');
  writeChunk(stream, "IHDR", header);

  if (dpi_ > 0) {
    std::string phys;
    const uint32_t ppm = static_cast<uint32_t>(static_cast<int64_t>(dpi_) * 10000 / 254 + 1);
    appendBE32(phys, ppm);
    appendBE32(phys, ppm);
    phys.push_back(1);
    writeChunk(stream, "pHYs", phys);
  }
  // With an alpha channel a transparent colour is meaningless (and tRNS is
  // forbidden for RGBA images).
  if (hasTransparentColor_ && !alpha) {
    const char trns[6] = {0, static_cast<char>(GetRValue(transparentColor_)),
                          0, static_cast<char>(GetGValue(transparentColor_)),
                          0, static_cast<char>(GetBValue(transparentColor_))};
    writeChunk(stream, "tRNS", std::string_view(trns, 6));
  }
  if (!iccProfile_.empty()) {
    std::string iccp = "PVLProfile";
    iccp.push_back('\0');
    iccp.push_back('\0');
    iccp += iccProfile_;
    writeChunk(stream, "iCCP", iccp);
  }

  // Rows are filtered (filter type 0) into a strip and deflated strip by
  // strip: the whole image never exists twice, and the compressed data are
  // the same as deflating all rows at once.
  const size_t channels = alpha ? 4 : 3;
  const size_t rowBytes = static_cast<size_t>(width) * channels + 1;
  const size_t stripRows = std::max<size_t>(1, (size_t(1) << 16) / rowBytes);
  const int sourceBytes = bitmap_.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
  const size_t alphaHeight = alpha ? alphaRows_.size() : 0;
  const bool resample =
      alpha && (alphaHeight != static_cast<size_t>(height) || alphaRows_[0].size() != static_cast<size_t>(width));
  TPNGDeflater deflater;
  std::string strip(rowBytes * std::min<size_t>(stripRows, static_cast<size_t>(height)), '\0');
  for (int y0 = 0; y0 < height; y0 += static_cast<int>(stripRows)) {
    const int y1 = static_cast<int>(std::min<int64_t>(height, int64_t(y0) + static_cast<int64_t>(stripRows)));
    auto* out = reinterpret_cast<uint8_t*>(strip.data());
    for (int y = y0; y < y1; ++y) {
      *out++ = 0;
      const uint8_t* line = bitmap_.ScanLine(y);
      if (!alpha) {
        for (int x = 0; x < width; ++x, line += sourceBytes, out += 3)
          out[0] = line[2], out[1] = line[1], out[2] = line[0];
        continue;
      }
      size_t ay = static_cast<size_t>(y);
      if (resample) ay = height > 1 ? static_cast<size_t>(y) * (alphaHeight - 1) / (height - 1) : 0;
      const std::string& alphaRow = alphaRows_[ay];
      for (int x = 0; x < width; ++x, line += sourceBytes, out += 4) {
        out[0] = line[2], out[1] = line[1], out[2] = line[0];
        size_t ax = static_cast<size_t>(x);
        if (resample) ax = width > 1 ? static_cast<size_t>(x) * (alphaRow.size() - 1) / (width - 1) : 0;
        out[3] = ax < alphaRow.size() ? static_cast<uint8_t>(alphaRow[ax]) : 0xFF;
      }
    }
    if (!deflater.Feed(strip.data(), static_cast<size_t>(y1 - y0) * rowBytes, y1 == height))
      throw EPNGError("PNG image data could not be compressed");
    // The compressed data go out in chunks of about this size as they come:
    // a page's compressed image is not held whole.
    if (y1 == height || deflater.OutputSize() >= kIDATChunkBytes) writeChunk(stream, "IDAT", deflater.TakeOutput());
  }
  writeChunk(stream, "IEND", "");
}
