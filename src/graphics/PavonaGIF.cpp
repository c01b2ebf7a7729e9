#include "graphics/PavonaGIF.h"

#include <algorithm>
#include <cstring>

#include "objects/PavonaFlate.h"

namespace {

// Byte reader over a stream: past the end a byte reads as 0 and a 16-bit
// value as 0.
class TGIFReader {
public:
  explicit TGIFReader(TStream& stream) : stream_(stream) {}
  uint8_t Byte() {
    uint8_t b = 0;
    if (stream_.Read(&b, 1) != 1) {
      eof_ = true;
      return 0;
    }
    return b;
  }
  uint16_t Word() {
    uint8_t lo = Byte();
    uint8_t hi = Byte();
    return static_cast<uint16_t>(lo | (hi << 8));
  }
  // Appends up to count bytes to out.
  void Bytes(size_t count, std::string& out) {
    size_t old = out.size();
    out.resize(old + count);
    int64_t got = stream_.Read(out.data() + old, static_cast<int64_t>(count));
    if (got < 0) got = 0;
    if (static_cast<size_t>(got) < count) eof_ = true;
    out.resize(old + static_cast<size_t>(got));
  }
  std::vector<TGIFColor> Colors(int32_t count) {
    std::string raw;
    Bytes(static_cast<size_t>(count) * 3, raw);
    raw.resize(static_cast<size_t>(count) * 3, '\0');
    std::vector<TGIFColor> colors(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
      colors[i].Red = static_cast<uint8_t>(raw[3 * i]);
      colors[i].Green = static_cast<uint8_t>(raw[3 * i + 1]);
      colors[i].Blue = static_cast<uint8_t>(raw[3 * i + 2]);
    }
    return colors;
  }
  void SkipSubBlocks() {
    for (;;) {
      uint8_t length = Byte();
      if (length == 0 || eof_) return;
      std::string skipped;
      Bytes(length, skipped);
    }
  }
  bool Eof() const { return eof_; }

private:
  TStream& stream_;
  bool eof_ = false;
};

// Largest number of pixels painted for one file (frames of an animation are
// all painted onto one picture).
constexpr int64_t kMaxPaintedPixels = int64_t{1} << 28;

}  // namespace

// ---------------------------------------------------------------------------
// Decoder

void TPDFGIFDecoder::LoadFromStream(TStream& stream) {
  TGIFReader in(stream);
  std::string signature;
  in.Bytes(6, signature);
  if (signature.size() < 6 || signature.compare(0, 3, "GIF") != 0) {
    Version.clear();
    return;
  }
  Version = signature.substr(3, 3);
  ValidVersion = Version == "87a" || Version == "89a";
  if (!ValidVersion) return;

  ScreenWidth = in.Word();
  ScreenHeight = in.Word();
  uint8_t packed = in.Byte();
  GlobalTable = (packed & 0x80) != 0;
  ColorResolution = static_cast<uint8_t>((packed >> 4) & 7);
  Sorted = (packed & 0x08) != 0;
  GlobalTableSize = 2 << (packed & 7);
  BackgroundIndex = in.Byte();
  in.Byte();  // aspect ratio
  if (GlobalTable) GlobalColors = in.Colors(GlobalTableSize);

  while (!Error) {
    uint8_t introducer = in.Byte();
    if (in.Eof() || introducer == ';') break;
    if (introducer == '!') {
      uint8_t label = in.Byte();
      if (label == 249) {
        if (in.Byte() != 4) {
          Error = true;
          break;
        }
        uint8_t flags = in.Byte();
        TGIFGraphicControl control;
        control.Present = true;
        control.Disposal = static_cast<uint8_t>((flags >> 2) & 7);
        control.UserInput = (flags & 2) != 0;
        control.Transparent = (flags & 1) != 0;
        control.Delay = in.Word();
        control.TransparentIndex = in.Byte();
        if (in.Byte() != 0) {
          Error = true;
          break;
        }
        PendingControl = control;
      } else {
        in.SkipSubBlocks();
      }
    } else if (introducer == ',') {
      TGIFImageBlock image;
      image.Left = in.Word();
      image.Top = in.Word();
      image.Width = in.Word();
      image.Height = in.Word();
      uint8_t flags = in.Byte();
      image.LocalTable = (flags & 0x80) != 0;
      image.Interlaced = (flags & 0x40) != 0;
      image.Sorted = (flags & 0x20) != 0;
      image.LocalTableSize = 2 << (flags & 7);
      if (image.LocalTable) image.LocalColors = in.Colors(image.LocalTableSize);
      image.CodeSize = in.Byte();
      for (;;) {
        uint8_t length = in.Byte();
        if (length == 0 || in.Eof()) break;
        in.Bytes(length, image.Data);
      }
      image.Control = PendingControl;
      PendingControl = TGIFGraphicControl();
      Images.push_back(std::move(image));
    }
    // Any other byte is skipped.
  }
}

TColor TPDFGIFDecoder::BackgroundColor() const {
  if (!GlobalTable || BackgroundIndex >= GlobalColors.size()) return RGB(0, 0, 0);
  const TGIFColor& c = GlobalColors[BackgroundIndex];
  return RGB(c.Red, c.Green, c.Blue);
}

void TPDFGIFDecoder::DrawToBitmap(TBitmap& bitmap) const {
  TBitmap target(ScreenWidth, ScreenHeight, TPixelFormat::pf24bit);
  target.Fill(BackgroundColor());
  int64_t budget = kMaxPaintedPixels;
  for (const TGIFImageBlock& image : Images) drawImage(image, target, budget);
  bitmap = std::move(target);
}

void TPDFGIFDecoder::drawImage(const TGIFImageBlock& image, TBitmap& target, int64_t& budget) const {
  // GIF allows minimum code sizes of 2 to 8 bits.
  if (image.CodeSize < 2 || image.CodeSize > 8) return;
  if (image.Width == 0 || image.Height == 0) return;
  const int screenWidth = target.Width(), screenHeight = target.Height();
  if (image.Left >= screenWidth || image.Top >= screenHeight) return;
  const int visibleWidth = std::min<int>(image.Width, screenWidth - image.Left);

  TPDFLZWDecompressor lzw;
  lzw.MSBFirst = false;
  lzw.EarlyChange = false;
  lzw.InitialCodeSize = image.CodeSize + 1;
  const std::string indices = lzw.Decode(image.Data);

  const std::vector<TGIFColor>& table = image.LocalTable ? image.LocalColors : GlobalColors;
  const bool transparent = image.Control.Present && image.Control.Transparent;
  const uint8_t transparentIndex = image.Control.TransparentIndex;

  // Target row of each data row.
  std::vector<int> rows;
  rows.reserve(image.Height);
  if (image.Interlaced) {
    static const int kStart[4] = {0, 4, 2, 1};
    static const int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int y = kStart[pass]; y < image.Height; y += kStep[pass]) rows.push_back(y);
  } else {
    for (int y = 0; y < image.Height; ++y) rows.push_back(y);
  }

  for (size_t k = 0; k < rows.size(); ++k) {
    const int y = image.Top + rows[k];
    if (y >= screenHeight) continue;
    if (budget < visibleWidth) return;
    budget -= visibleWidth;
    uint8_t* line = target.ScanLine(y);
    const size_t rowStart = k * image.Width;
    for (int x = 0; x < visibleWidth; ++x) {
      const size_t at = rowStart + static_cast<size_t>(x);
      const uint8_t index = at < indices.size() ? static_cast<uint8_t>(indices[at]) : 0;
      if (transparent && index == transparentIndex) continue;
      TGIFColor c;
      if (index < table.size()) c = table[index];
      uint8_t* px = line + 3 * (image.Left + x);
      px[0] = c.Blue;
      px[1] = c.Green;
      px[2] = c.Red;
    }
  }
}

// ---------------------------------------------------------------------------
// Octree quantiser

TColorQuantizer::TColorQuantizer(int32_t maxColors, int32_t colorBits)
    : maxColors_(std::max(1, maxColors)), colorBits_(std::clamp(colorBits, 1, 8)) {}

TColorQuantizer::~TColorQuantizer() = default;

void TColorQuantizer::addColor(uint8_t r, uint8_t g, uint8_t b) {
  auto makeNode = [this](int depth) {
    auto node = std::make_unique<TOctreeNode>();
    if (depth == colorBits_) {
      node->Leaf = true;
      ++leafCount_;
    } else {
      node->NextReducible = reducible_[depth];
      reducible_[depth] = node.get();
    }
    return node;
  };
  if (!root_) root_ = makeNode(0);
  TOctreeNode* node = root_.get();
  int depth = 0;
  while (!node->Leaf) {
    const int shift = 7 - depth;
    const int index = (((r >> shift) & 1) << 2) | (((g >> shift) & 1) << 1) | ((b >> shift) & 1);
    if (!node->Children[index]) node->Children[index] = makeNode(depth + 1);
    node = node->Children[index].get();
    ++depth;
  }
  ++node->PixelCount;
  node->RedSum += r;
  node->GreenSum += g;
  node->BlueSum += b;
}

void TColorQuantizer::reduceTree() {
  int depth = colorBits_ - 1;
  while (depth > 0 && !reducible_[depth]) --depth;
  TOctreeNode* node = reducible_[depth];
  if (!node) return;
  reducible_[depth] = node->NextReducible;
  node->NextReducible = nullptr;
  int children = 0;
  for (auto& child : node->Children) {
    if (!child) continue;
    node->PixelCount += child->PixelCount;
    node->RedSum += child->RedSum;
    node->GreenSum += child->GreenSum;
    node->BlueSum += child->BlueSum;
    child.reset();
    ++children;
  }
  node->Leaf = true;
  leafCount_ += 1 - children;
}

void TColorQuantizer::buildPalette(TOctreeNode* node, std::vector<TRGBQuad>& palette) {
  if (!node) return;
  if (node->Leaf) {
    if (palette.size() >= 256) return;
    node->PaletteIndex = static_cast<int32_t>(palette.size());
    TRGBQuad q;
    if (node->PixelCount > 0) {
      q.rgbRed = static_cast<uint8_t>(node->RedSum / node->PixelCount);
      q.rgbGreen = static_cast<uint8_t>(node->GreenSum / node->PixelCount);
      q.rgbBlue = static_cast<uint8_t>(node->BlueSum / node->PixelCount);
    }
    palette.push_back(q);
    return;
  }
  for (auto& child : node->Children) buildPalette(child.get(), palette);
}

std::unique_ptr<TBitmap> TColorQuantizer::Quantize(const TBitmap& source) {
  TBitmap copy;
  const TBitmap* src = &source;
  if (source.PixelFormat() != TPixelFormat::pf24bit) {
    copy = source;
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    src = &copy;
  }
  const int width = src->Width(), height = src->Height();
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = src->ScanLine(y);
    for (int x = 0; x < width; ++x) addColor(line[3 * x + 2], line[3 * x + 1], line[3 * x]);
    while (leafCount_ > maxColors_) {
      const int before = leafCount_;
      reduceTree();
      if (leafCount_ == before && !reducible_[0]) break;  // nothing left to reduce
    }
  }
  std::vector<TRGBQuad> palette;
  buildPalette(root_.get(), palette);
  palette.resize(256);  // the rest stays black

  auto result = std::make_unique<TBitmap>(width, height, TPixelFormat::pf8bit);
  result->SetPalette(palette);
  TFastColorLookup lookup(palette);
  for (int y = 0; y < height; ++y) {
    const uint8_t* line = src->ScanLine(y);
    uint8_t* out = result->ScanLine(y);
    for (int x = 0; x < width; ++x)
      out[x] = static_cast<uint8_t>(lookup.Lookup(line[3 * x + 2], line[3 * x + 1], line[3 * x]));
  }
  return result;
}

// ---------------------------------------------------------------------------
// Palette lookup

namespace {
int cellOf(uint8_t r, uint8_t g, uint8_t b) { return (b >> 3) * 1024 + (g >> 3) * 32 + (r >> 3); }
}  // namespace

TFastColorLookup::TFastColorLookup(const std::vector<TRGBQuad>& palette)
    : palette_(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), 256)), inverse_(32768, -1) {
  for (size_t i = 0; i < palette_.size(); ++i) {
    int16_t& cell = inverse_[cellOf(palette_[i].rgbRed, palette_[i].rgbGreen, palette_[i].rgbBlue)];
    if (cell == -1) cell = static_cast<int16_t>(i);
  }
}

int32_t TFastColorLookup::Lookup(uint8_t red, uint8_t green, uint8_t blue) {
  int16_t& cell = inverse_[cellOf(red, green, blue)];
  if (cell != -1) return cell;
  int best = 0;
  int bestDistance = 196608;
  for (size_t i = 0; i < palette_.size(); ++i) {
    const TRGBQuad& p = palette_[i];
    int d = std::abs(red - p.rgbRed) + std::abs(green - p.rgbGreen) + std::abs(blue - p.rgbBlue);
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  cell = static_cast<int16_t>(best);
  return best;
}

// ---------------------------------------------------------------------------
// LZW encoder

THashTable::THashTable() : entries_(kSize, 0xFFFFFFFFu) {}

void THashTable::Clear() { std::fill(entries_.begin(), entries_.end(), 0xFFFFFFFFu); }

namespace {
constexpr uint32_t kEmptyFrom = 0xFFFFF000u;
uint32_t nextSlot(uint32_t h) { return h > 0 ? (2 * h) % THashTable::kSize : THashTable::kSize - 1; }
}  // namespace

void THashTable::Insert(uint32_t key, uint32_t code) {
  uint32_t h = (key ^ (key >> 4)) % kSize;
  // The probe path visits several thousand slots, more than the table ever
  // holds entries; the bound only guards against misuse.
  for (uint32_t probes = 0; probes < kSize; ++probes) {
    if (entries_[h] >= kEmptyFrom) {
      entries_[h] = key * 4096 + (code & 0xFFF);
      return;
    }
    h = nextSlot(h);
  }
}

int32_t THashTable::Lookup(uint32_t key) const {
  uint32_t h = (key ^ (key >> 4)) % kSize;
  for (uint32_t probes = 0; probes < kSize; ++probes) {
    const uint32_t entry = entries_[h];
    if (entry >= kEmptyFrom) return -1;
    if ((entry >> 12) == key) return static_cast<int32_t>(entry & 0xFFF);
    h = nextSlot(h);
  }
  return -1;
}

void TGIFStream::Put(uint8_t byte) {
  pending_.push_back(static_cast<char>(byte));
  if (pending_.size() == 255) {
    const char length = static_cast<char>(255);
    target_.WriteBuffer(&length, 1);
    target_.WriteString(pending_);
    pending_.clear();
  }
}

void TGIFStream::Finish() {
  if (!pending_.empty()) {
    const char length = static_cast<char>(pending_.size());
    target_.WriteBuffer(&length, 1);
    target_.WriteString(pending_);
    pending_.clear();
  }
  const char terminator = 0;
  target_.WriteBuffer(&terminator, 1);
}

void TGIFEncoder::outputCode(int32_t code) {
  bucket_ |= static_cast<uint32_t>(code) << bucketBits_;
  bucketBits_ += bits_;
  while (bucketBits_ >= 8) {
    out_->Put(static_cast<uint8_t>(bucket_ & 0xFF));
    bucket_ >>= 8;
    bucketBits_ -= 8;
  }
  if (clearFlag_) {
    bits_ = initialBits_;
    maxCode_ = (1 << bits_) - 1;
    clearFlag_ = false;
  } else if (freeCode_ > maxCode_) {
    ++bits_;
    maxCode_ = bits_ == 12 ? 4096 : (1 << bits_) - 1;
  }
  if (code == endCode_) {
    while (bucketBits_ > 0) {
      out_->Put(static_cast<uint8_t>(bucket_ & 0xFF));
      bucket_ >>= 8;
      bucketBits_ -= 8;
    }
    bucket_ = 0;
    bucketBits_ = 0;
  }
}

void TGIFEncoder::clearTable() {
  table_.Clear();
  freeCode_ = clearCode_ + 2;
  clearFlag_ = true;
  outputCode(clearCode_);
}

void TGIFEncoder::compress() {
  clearTable();
  const uint8_t* p = pixels_;
  int32_t prefix = *p++;
  --pixelsLeft_;
  while (pixelsLeft_ > 0) {
    const uint8_t c = *p++;
    --pixelsLeft_;
    const uint32_t key = static_cast<uint32_t>(prefix) * 256 + c;
    const int32_t code = table_.Lookup(key);
    if (code >= 0) {
      prefix = code;
      continue;
    }
    outputCode(prefix);
    prefix = c;
    if (freeCode_ > 4094) {
      clearTable();
    } else {
      table_.Insert(key, static_cast<uint32_t>(freeCode_));
      ++freeCode_;
    }
  }
  outputCode(prefix);
  outputCode(endCode_);
}

void TGIFEncoder::Compress(TStream& stream, int32_t bitsPerPixel, int32_t /*maxColor*/, const uint8_t* pixels,
                           bool interlace, int32_t height, int32_t width) {
  bitsPerPixel_ = std::clamp(bitsPerPixel, 2, 8);
  const char codeSize = static_cast<char>(bitsPerPixel_);
  stream.WriteBuffer(&codeSize, 1);
  TGIFStream out(stream);
  out_ = &out;
  width_ = width;
  height_ = height;
  interlace_ = interlace;
  pixels_ = pixels;
  initialBits_ = bitsPerPixel_ + 1;
  bits_ = initialBits_;
  maxCode_ = (1 << bits_) - 1;
  clearCode_ = 1 << bitsPerPixel_;
  endCode_ = clearCode_ + 1;
  freeCode_ = clearCode_ + 2;
  clearFlag_ = false;
  bucket_ = 0;
  bucketBits_ = 0;
  pixelsLeft_ = interlace ? int64_t{width} : int64_t{width} * height;
  if (!pixels || width <= 0 || height <= 0) {
    outputCode(endCode_);
  } else {
    compress();
  }
  out.Finish();
  out_ = nullptr;
}

// ---------------------------------------------------------------------------
// Writer

void TPDFGIFWriter::SetBitmap(const TBitmap& bitmap) {
  TColorQuantizer quantizer(256, 8);
  image_ = quantizer.Quantize(bitmap);
  width_ = image_->Width();
  height_ = image_->Height();
  const auto& pal = image_->Palette();
  for (size_t i = 0; i < palette_.size(); ++i) palette_[i] = i < pal.size() ? pal[i] : TRGBQuad();
}

void TPDFGIFWriter::SaveToStream(TStream& stream) const {
  if (!image_ || width_ <= 0 || height_ <= 0) throw EBitmapError("No picture to write as GIF");
  if (width_ > 65535 || height_ > 65535) throw EBitmapError("Picture too large for GIF");
  std::string head = "GIF87a";
  auto put16 = [&head](int v) {
    head.push_back(static_cast<char>(v & 0xFF));
    head.push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  put16(width_);
  put16(height_);
  head.push_back(static_cast<char>(0x70));
  head.push_back(0);
  head.push_back(0);
  head.push_back(',');
  put16(0);
  put16(0);
  put16(width_);
  put16(height_);
  head.push_back(static_cast<char>(0x87));
  for (const TRGBQuad& q : palette_) {
    head.push_back(static_cast<char>(q.rgbRed));
    head.push_back(static_cast<char>(q.rgbGreen));
    head.push_back(static_cast<char>(q.rgbBlue));
  }
  stream.WriteString(head);

  std::vector<uint8_t> pixels(static_cast<size_t>(width_) * height_);
  for (int y = 0; y < height_; ++y)
    std::memcpy(pixels.data() + static_cast<size_t>(y) * width_, image_->ScanLine(y), static_cast<size_t>(width_));
  TGIFEncoder encoder;
  encoder.Compress(stream, 8, 255, pixels.data(), false, height_, width_);
  stream.WriteString(";");
}
