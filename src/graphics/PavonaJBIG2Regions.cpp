// JBIG2 bitmaps and the region decoding procedures of T.88: generic and
// refinement regions, text regions, symbol and pattern dictionaries and
// halftone regions.
#include <algorithm>
#include <cstring>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaJBIG2Internal.h"

// --- TJBIG2Bitmap ------------------------------------------------------------

TJBIG2Bitmap::TJBIG2Bitmap(int32_t width, int32_t height)
    : width(std::max(width, 0)),
      height(std::max(height, 0)),
      stride_((static_cast<size_t>(std::max(width, 0)) + 7) / 8),
      data_(stride_ * static_cast<size_t>(std::max(height, 0)), 0) {}

void TJBIG2Bitmap::ClearPadding(int32_t from, int32_t to) {
  if (width % 8 == 0 || stride_ == 0) return;
  const uint8_t keep = static_cast<uint8_t>(0xFF << (8 - width % 8));
  for (int32_t y = std::max(from, 0); y < std::min(to, height); ++y) PackedRow(y)[stride_ - 1] &= keep;
}

void TJBIG2Bitmap::Clear(int value) {
  std::fill(data_.begin(), data_.end(), static_cast<uint8_t>(value ? 0xFF : 0));
  if (value) ClearPadding(0, height);
}

void TJBIG2Bitmap::CopyRow(int32_t to, int32_t from) {
  // A bitmap zero pixels wide has rows but no bytes to copy.
  if (to < 0 || to >= height || stride_ == 0) return;
  if (from < 0 || from >= height)
    std::memset(PackedRow(to), 0, stride_);
  else
    std::memcpy(PackedRow(to), PackedRow(from), stride_);
}

namespace {

// Eight source pixels starting at pixel s of a packed row of n bytes (s may
// be negative or run past the row: those pixels read 0).
inline uint8_t FetchByte(const uint8_t* row, int64_t n, int64_t s) {
  const int64_t i = s >> 3;  // floor division, also for negative s
  const int sh = static_cast<int>(s & 7);
  const uint32_t hi = i >= 0 && i < n ? row[i] : 0;
  if (sh == 0) return static_cast<uint8_t>(hi);
  const uint32_t lo = i + 1 >= 0 && i + 1 < n ? row[i + 1] : 0;
  return static_cast<uint8_t>((hi << sh) | (lo >> (8 - sh)));
}

}  // namespace

namespace {

template <typename TOp>
void CombineRows(TJBIG2Bitmap& dstBm, const TJBIG2Bitmap& srcBm, int64_t x, int64_t y, int64_t x0, int64_t x1,
                 int64_t y0, int64_t y1, TOp op) {
  const int64_t firstByte = x0 >> 3, lastByte = (x1 - 1) >> 3;
  const uint8_t firstMask = static_cast<uint8_t>(0xFF >> (x0 & 7));
  const uint8_t lastMask = static_cast<uint8_t>(0xFF << (7 - ((x1 - 1) & 7)));
  const int64_t srcBytes = static_cast<int64_t>(srcBm.Stride());
  // A source placed on a byte boundary needs no shifting: its bytes are
  // combined as they stand, but for the masked ends.
  const bool aligned = (x & 7) == 0;
  for (int64_t yy = y0; yy < y1; ++yy) {
    uint8_t* dst = dstBm.PackedRow(static_cast<int32_t>(yy));
    const uint8_t* src = srcBm.PackedRow(static_cast<int32_t>(yy - y));
    for (int64_t b = firstByte; b <= lastByte; ++b) {
      uint8_t mask = 0xFF;
      if (b == firstByte) mask &= firstMask;
      if (b == lastByte) mask &= lastMask;
      const uint8_t s = aligned ? src[b - (x >> 3)] : FetchByte(src, srcBytes, b * 8 - x);
      const uint8_t d = dst[b];
      dst[b] = static_cast<uint8_t>((d & ~mask) | (op(d, s) & mask));
    }
  }
}

}  // namespace

void TJBIG2Bitmap::Combine(const TJBIG2Bitmap& bitmap, int64_t x, int64_t y, int op) {
  int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
  int64_t x1 = std::min<int64_t>(x + bitmap.width, width), y1 = std::min<int64_t>(y + bitmap.height, height);
  if (x0 >= x1 || y0 >= y1) return;
  switch (op) {
    case 0:
      CombineRows(*this, bitmap, x, y, x0, x1, y0, y1, [](uint8_t d, uint8_t s) { return uint8_t(d | s); });
      break;
    case 1:
      CombineRows(*this, bitmap, x, y, x0, x1, y0, y1, [](uint8_t d, uint8_t s) { return uint8_t(d & s); });
      break;
    case 2:
      CombineRows(*this, bitmap, x, y, x0, x1, y0, y1, [](uint8_t d, uint8_t s) { return uint8_t(d ^ s); });
      break;
    case 3:
      CombineRows(*this, bitmap, x, y, x0, x1, y0, y1, [](uint8_t d, uint8_t s) { return uint8_t(~(d ^ s)); });
      break;
    default:
      CombineRows(*this, bitmap, x, y, x0, x1, y0, y1, [](uint8_t, uint8_t s) { return s; });
      break;
  }
}

std::unique_ptr<TJBIG2Bitmap> TJBIG2Bitmap::GetSlice(int32_t x, int32_t y, int32_t w, int32_t h) const {
  auto slice = std::make_unique<TJBIG2Bitmap>(w, h);
  slice->Combine(*this, -int64_t(x), -int64_t(y), 4);
  return slice;
}

void TJBIG2Bitmap::Expand(int32_t newHeight, int defaultValue) {
  if (newHeight <= height) return;
  data_.resize(stride_ * static_cast<size_t>(newHeight), static_cast<uint8_t>(defaultValue ? 0xFF : 0));
  const int32_t old = height;
  height = newHeight;
  if (defaultValue) ClearPadding(old, newHeight);
}

std::vector<uint8_t> TJBIG2Bitmap::GetRow(int32_t row) const {
  std::vector<uint8_t> r(static_cast<size_t>(width), 0);
  if (row >= 0 && row < height) {
    const uint8_t* p = PackedRow(row);
    for (int32_t x = 0; x < width; ++x) r[static_cast<size_t>(x)] = (p[x >> 3] >> (7 - (x & 7))) & 1;
  }
  return r;
}

namespace jbig2 {

namespace {

int64_t RowCost(const TJBIG2Bitmap& bm) {
  return std::max<int64_t>(bm.width, 1);
}

}  // namespace

// --- Generic region (T.88 6.2) -------------------------------------------------

namespace {

// One pixel of a packed row; pixels outside the row read 0.
inline uint32_t PixelAt(const uint8_t* row, int64_t x, int32_t w) {
  return static_cast<uint64_t>(x) < static_cast<uint64_t>(w) ? (row[x >> 3] >> (7 - (x & 7))) & 1 : 0;
}

// Where the pixels of each template sit in the context (T.88 6.2.5.3): the
// current row's last pixels in the low bits, then windows over the two rows
// above (the rightmost pixel of a window in its lowest bit) and the adaptive
// pixels at their own bits.
struct TGenericTemplate {
  int currentBits;
  int lo1, hi1, shift1;  // window over the row above
  int lo2, hi2, shift2;  // window over the row two above (hi2 < lo2: none)
  int atCount;
  int atShift[4];
  int nominalAt[8];  // the adaptive pixels that sit at the window's ends
};

constexpr TGenericTemplate kGenericTemplates[4] = {
    {4, -2, 2, 5, -1, 1, 12, 4, {4, 10, 11, 15}, {3, -1, -3, -1, 2, -2, -2, -2}},
    {3, -2, 2, 4, -1, 2, 9, 1, {3, 0, 0, 0}, {3, -1}},
    {2, -2, 1, 3, -1, 1, 7, 1, {2, 0, 0, 0}, {2, -1}},
    {4, -3, 1, 5, 0, -1, 0, 1, {4, 0, 0, 0}, {2, -1}},
};

// With the adaptive pixels where the templates put them by default, each of
// them extends a window by one pixel at an end that sits next to its bit, so
// the context is the current pixels and two windows alone.
TGenericTemplate WithNominalPixelsInWindows(TGenericTemplate t) {
  for (int i = 0; i < t.atCount; ++i) {
    const int dx = t.nominalAt[2 * i], dy = t.nominalAt[2 * i + 1];
    int &lo = dy == -1 ? t.lo1 : t.lo2, &hi = dy == -1 ? t.hi1 : t.hi2, &shift = dy == -1 ? t.shift1 : t.shift2;
    if (dx > hi) {
      hi = dx;
      shift = t.atShift[i];
    } else {
      lo = dx;
    }
  }
  t.atCount = 0;
  return t;
}

bool HasNominalPixels(const TGenericTemplate& t, const int* at) {
  for (int i = 0; i < 2 * t.atCount; ++i)
    if (at[i] != t.nominalAt[i]) return false;
  return true;
}

// A window of pixels x+lo .. x+hi of a row, slid one pixel at a time.
class TRowWindow {
public:
  TRowWindow(const uint8_t* row, int32_t width, int lo, int hi)
      : row_(row), width_(width), hi_(hi), mask_(row && hi >= lo ? (1u << (hi - lo + 1)) - 1 : 0) {
    if (mask_ == 0) return;
    for (int dx = lo; dx <= hi; ++dx) bits_ = (bits_ << 1) | PixelAt(row_, dx, width_);
  }
  uint32_t Bits() const { return bits_; }
  // Moves the window from pixel x to pixel x + 1.
  void Advance(int32_t x) {
    if (mask_ != 0) bits_ = ((bits_ << 1) | PixelAt(row_, int64_t(x) + 1 + hi_, width_)) & mask_;
  }

private:
  const uint8_t* row_;
  int32_t width_;
  int hi_;
  uint32_t mask_;
  uint32_t bits_ = 0;
};

}  // namespace

void ReadGenericRegion(TJBIG2StreamDecoder& dec, TJBIG2Bitmap& bm, const TGenericParams& p) {
  // Every row costs at least a pixel: a region zero pixels wide and
  // millions of rows high still decodes a bit per row.
  dec.AddWork(RowCost(bm) * bm.height);
  if (p.mmr) {
    ReadMMRRegion(bm, *p.reader, p.mmrDataLength);
    return;
  }
  TArithmeticDecoder& ad = *p.arith;
  TArithmeticDecoderStats& stats = *p.stats;
  static constexpr uint32_t kSltp[4] = {0x9B25, 0x0795, 0x00E5, 0x0195};
  TGenericTemplate t = kGenericTemplates[p.templ & 3];
  if (HasNominalPixels(t, p.at)) t = WithNominalPixelsInWindows(t);
  const uint32_t currentMask = (1u << t.currentBits) - 1;
  const int32_t w = bm.width;
  int ltp = 0;
  // Rows past the decoder's padding budget stay white (SpendPaddedPixels).
  for (int32_t y = 0; y < bm.height; ++y) {
    if (ad.PastFlush() && !ad.SpendPaddedPixels(RowCost(bm))) break;
    if (p.tpgdon) {
      ltp ^= ad.DecodeBit(stats, kSltp[p.templ & 3]);
      if (ltp) {
        bm.CopyRow(y, y - 1);
        continue;
      }
    }
    // The context is built from windows slid along the rows above and the
    // pixels just decoded, instead of being gathered pixel by pixel.
    uint8_t* r0 = bm.PackedRow(y);
    TRowWindow above(y >= 1 ? bm.PackedRow(y - 1) : nullptr, w, t.lo1, t.hi1);
    TRowWindow above2(y >= 2 ? bm.PackedRow(y - 2) : nullptr, w, t.lo2, t.hi2);
    const uint8_t* atRow[4] = {};
    int atX[4] = {};
    for (int i = 0; i < t.atCount; ++i) {
      const int64_t ay = int64_t(y) + p.at[2 * i + 1];
      atRow[i] = ay >= 0 && ay < bm.height ? bm.PackedRow(static_cast<int32_t>(ay)) : nullptr;
      atX[i] = p.at[2 * i];
    }
    uint32_t current = 0;
    for (int32_t x = 0; x < w; ++x) {
      uint32_t bit = 0;
      if (!p.skip || !p.skip->GetPixel(x, y)) {
        uint32_t cx = current | above.Bits() << t.shift1 | above2.Bits() << t.shift2;
        for (int i = 0; i < t.atCount; ++i)
          if (atRow[i]) cx |= PixelAt(atRow[i], int64_t(x) + atX[i], w) << t.atShift[i];
        bit = static_cast<uint32_t>(ad.DecodeBit(stats, cx));
      }
      uint8_t& b = r0[x >> 3];
      const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
      b = static_cast<uint8_t>(bit ? (b | m) : (b & ~m));
      current = ((current << 1) | bit) & currentMask;
      above.Advance(x);
      above2.Advance(x);
    }
  }
}

void ReadMMRRegion(TJBIG2Bitmap& bm, TStreamReader& reader, int64_t dataLength) {
  if (bm.width <= 0 || bm.height <= 0) return;
  int64_t start = reader.Position();
  std::string_view data = reader.Data().substr(static_cast<size_t>(std::min(start, reader.Size())));
  if (dataLength >= 0 && dataLength < static_cast<int64_t>(data.size()))
    data = data.substr(0, static_cast<size_t>(dataLength));
  TPVLCCITTDecoder ccitt(bm.width, bm.height, 1, false, false);
  std::vector<uint8_t> packed;
  ccitt.DecodeT6(packed, data);
  int32_t stride = ccitt.Stride();
  if (stride >= 0 && static_cast<size_t>(stride) >= bm.Stride() &&
      packed.size() >= static_cast<size_t>(stride) * static_cast<size_t>(bm.height)) {
    for (int32_t y = 0; y < bm.height; ++y)
      std::memcpy(bm.PackedRow(y), packed.data() + static_cast<size_t>(y) * static_cast<size_t>(stride), bm.Stride());
    bm.ClearPadding(0, bm.height);
  }
  if (dataLength >= 0) {
    reader.SetPosition(start + dataLength);
    return;
  }
  // Unknown length: an end-of-block may follow the rows; then whole bytes.
  int64_t bits = ccitt.BitsConsumed();
  TStreamReader peek(data);
  peek.SetPosition(bits / 8);
  peek.ReadBits(static_cast<int>(bits % 8));
  if (peek.ReadBits(24) == 0x001001) bits += 24;
  reader.SetPosition(start + (bits + 7) / 8);
}

// --- Refinement region (T.88 6.3) ----------------------------------------------

namespace {

// Pixels x-1, x, x+1 of a packed row (x counted from offset), the rightmost
// in the lowest bit, slid one pixel at a time. A missing row (nullptr)
// reads 0.
class TThreePixels {
public:
  TThreePixels(const uint8_t* row, int32_t width, int64_t offset) : row_(row), width_(width), offset_(offset) {
    if (row_)
      bits_ =
          PixelAt(row_, offset - 1, width) << 2 | PixelAt(row_, offset, width) << 1 | PixelAt(row_, offset + 1, width);
  }
  uint32_t Bits() const { return bits_; }
  // Moves the window from pixel x to pixel x + 1.
  void Advance(int32_t x) {
    if (row_) bits_ = ((bits_ << 1) | PixelAt(row_, offset_ + x + 2, width_)) & 7;
  }

private:
  const uint8_t* row_;
  int32_t width_;
  int64_t offset_;
  uint32_t bits_ = 0;
};

}  // namespace

void ReadGenericRefinementRegion(TJBIG2StreamDecoder& dec, TJBIG2Bitmap& bm, TArithmeticDecoder& ad,
                                 TArithmeticDecoderStats& stats, int templ, bool tpgron, const int8_t at[4],
                                 const TJBIG2Bitmap& ref, int32_t dx, int32_t dy) {
  // Every row costs at least a pixel: a region zero pixels wide and
  // millions of rows high still decodes a bit per row.
  dec.AddWork(RowCost(bm) * bm.height);
  auto refRow = [&](int64_t ry) {
    return ry >= 0 && ry < ref.height ? ref.PackedRow(static_cast<int32_t>(ry)) : nullptr;
  };
  int ltp = 0;
  // Rows past the decoder's padding budget stay white (SpendPaddedPixels).
  const int64_t paddedRowCost = RowCost(bm) * TArithmeticDecoder::kPaddedRefinementPixelCost;
  for (int32_t y = 0; y < bm.height; ++y) {
    if (ad.PastFlush() && !ad.SpendPaddedPixels(paddedRowCost)) break;
    // The typical-prediction bit uses the context of a lone reference pixel.
    if (tpgron) ltp ^= ad.DecodeBit(stats, templ ? 0x0080 : 0x0100);
    // The contexts come from 3-pixel windows slid along the row above and
    // the reference's rows around the pixel's own place there (x - dx,
    // y - dy), plus the pixel just decoded and the adaptive pixels.
    const int64_t ry = int64_t(y) - dy;
    uint8_t* row = bm.PackedRow(y);
    const uint8_t* atRow = nullptr;
    if (int64_t ay = int64_t(y) + at[1]; templ == 0 && ay >= 0 && ay < bm.height)
      atRow = bm.PackedRow(static_cast<int32_t>(ay));
    const uint8_t* refAtRow = templ == 0 ? refRow(ry + at[3]) : nullptr;
    TThreePixels above(y >= 1 ? bm.PackedRow(y - 1) : nullptr, bm.width, 0);
    TThreePixels refAbove(refRow(ry - 1), ref.width, -int64_t(dx));
    TThreePixels refSame(refRow(ry), ref.width, -int64_t(dx));
    TThreePixels refBelow(refRow(ry + 1), ref.width, -int64_t(dx));
    uint32_t previous = 0;
    for (int32_t x = 0; x < bm.width; ++x) {
      const uint32_t a = above.Bits(), r0 = refAbove.Bits(), r1 = refSame.Bits(), r2 = refBelow.Bits();
      uint32_t bit;
      if (ltp && (r0 | r1 | r2) == 0) {
        bit = 0;
      } else if (ltp && (r0 & r1 & r2) == 7) {
        bit = 1;
      } else {
        uint32_t cx;
        if (templ == 0) {
          const int64_t rx = int64_t(x) - dx;
          cx = previous | (a & 3) << 1 | (atRow ? PixelAt(atRow, int64_t(x) + at[0], bm.width) : 0) << 3 | r2 << 4 |
               r1 << 7 | (r0 & 3) << 10 | (refAtRow ? PixelAt(refAtRow, rx + at[2], ref.width) : 0) << 12;
        } else {
          cx = previous | a << 1 | (r2 & 3) << 4 | r1 << 6 | ((r0 >> 1) & 1) << 9;
        }
        bit = static_cast<uint32_t>(ad.DecodeBit(stats, cx));
      }
      uint8_t& b = row[x >> 3];
      const uint8_t m = static_cast<uint8_t>(0x80 >> (x & 7));
      b = static_cast<uint8_t>(bit ? (b | m) : (b & ~m));
      previous = bit;
      above.Advance(x);
      refAbove.Advance(x);
      refSame.Advance(x);
      refBelow.Advance(x);
    }
  }
}

// --- Text region (T.88 6.4) ------------------------------------------------------

namespace {

bool DecodeValue(TTextRegionParams& p, const THuffmanTable* table, TArithmeticDecoder::TIntStats which,
                 int32_t& value) {
  if (p.huff) {
    if (!table) throw EJBIG2Error("missing Huffman table");
    return p.huffman->DecodeInt(*table, value);
  }
  return p.arith->DecodeInt(which, value);
}

// A refinement of reference offset by (dx, dy) into bm. In a Huffman-coded
// segment it is arithmetic-coded in a run of size bytes of its own, after
// which the reader goes on.
template <class TParams>
void readRefinement(TJBIG2StreamDecoder& dec, TParams& p, TJBIG2Bitmap& bm, const TJBIG2Bitmap& reference, int32_t dx,
                    int32_t dy, int32_t size) {
  if (!p.huff) {
    ReadGenericRefinementRegion(dec, bm, *p.arith, *p.refinementStats, p.rTemplate, false, p.rat, reference, dx, dy);
    return;
  }
  int64_t start = p.reader->Position();
  std::string_view data = p.reader->Data().substr(static_cast<size_t>(std::min(start, p.reader->Size())));
  data = data.substr(0, static_cast<size_t>(std::clamp<int64_t>(size, 0, static_cast<int64_t>(data.size()))));
  TStreamReader sub(data);
  TArithmeticDecoder ad(sub);
  ad.Start();
  ReadGenericRefinementRegion(dec, bm, ad, *p.refinementStats, p.rTemplate, false, p.rat, reference, dx, dy);
  p.reader->SetPosition(start + std::max(size, 0));
}

// What a text-region instance decoded from padding costs of the decoder's
// padding budget (about 16,000 instances past the floor), and how far a
// Huffman-coded one may read past its data.
constexpr int64_t kPaddedPixelsPerInstance = 256;
constexpr int64_t kMaxHuffmanOverrun = 4096;

}  // namespace

std::unique_ptr<TJBIG2Bitmap> ReadTextRegion(TJBIG2StreamDecoder& dec, TTextRegionParams& p) {
  auto region = dec.NewBitmap(p.width, p.height);
  if (p.defPixel) region->Clear(1);
  int32_t strips = 1 << p.logStrips;
  int32_t v;
  if (!DecodeValue(p, p.tableDT, TArithmeticDecoder::IADT, v)) throw EJBIG2Error("bad strip T");
  int64_t stripT = -int64_t(v) * strips;
  int64_t firstS = 0;
  uint32_t instances = 0;
  while (instances < p.numInstances) {
    if (!DecodeValue(p, p.tableDT, TArithmeticDecoder::IADT, v)) throw EJBIG2Error("bad strip delta T");
    stripT += int64_t(v) * strips;
    bool first = true;
    int64_t curS = 0;
    for (;;) {
      // Instances read past the data are damage, and a region may declare
      // billions of them: the arithmetic decoder charges each to its
      // padding budget, a Huffman reader may not run far past its end.
      // The region ends there with what it has.
      if (p.huff ? p.reader && p.reader->Overrun() > kMaxHuffmanOverrun
                 : p.arith->PastFlush() && !p.arith->SpendPaddedPixels(kPaddedPixelsPerInstance)) {
        return region;
      }
      if (first) {
        if (!DecodeValue(p, p.tableFS, TArithmeticDecoder::IAFS, v)) throw EJBIG2Error("bad first S");
        firstS += v;
        curS = firstS;
        first = false;
      } else {
        // Every strip ends with an out-of-band value, the last one too: it
        // is read so that data after the region stay in step.
        if (!DecodeValue(p, p.tableDS, TArithmeticDecoder::IADS, v)) break;  // end of strip
        if (instances >= p.numInstances) break;
        curS += int64_t(v) + p.dsOffset;
      }
      int64_t curT = 0;
      if (strips > 1) {
        if (p.huff)
          curT = p.huffman->ReadBits(p.logStrips);
        else if (p.arith->DecodeInt(TArithmeticDecoder::IAIT, v))
          curT = v;
      }
      int64_t t = stripT + curT;
      uint32_t id;
      if (p.huff) {
        if (p.symCodes) {
          int32_t code;
          if (!p.huffman->DecodeInt(*p.symCodes, code)) throw EJBIG2Error("bad symbol ID");
          id = static_cast<uint32_t>(code);
        } else {
          id = p.huffman->ReadBits(p.symCodeLen);
        }
      } else {
        id = p.arith->DecodeIAID(p.symCodeLen);
      }
      int ri = 0;
      if (p.refine) {
        if (p.huff)
          ri = p.huffman->ReadBit();
        else if (p.arith->DecodeInt(TArithmeticDecoder::IARI, v))
          ri = v;
      }
      if (id >= p.symbols.size()) {
        // No such symbol: nothing is placed, the position stays.
        ++instances;
        continue;
      }
      const TJBIG2Bitmap* ib = p.symbols[id];
      std::unique_ptr<TJBIG2Bitmap> refined;
      if (ri) {
        int32_t rdw = 0, rdh = 0, rdx = 0, rdy = 0, rsize = 0;
        bool ok = DecodeValue(p, p.tableRDW, TArithmeticDecoder::IARDW, rdw) &&
                  DecodeValue(p, p.tableRDH, TArithmeticDecoder::IARDH, rdh) &&
                  DecodeValue(p, p.tableRDX, TArithmeticDecoder::IARDX, rdx) &&
                  DecodeValue(p, p.tableRDY, TArithmeticDecoder::IARDY, rdy);
        if (!ok) throw EJBIG2Error("bad refinement deltas");
        if (p.huff) {
          if (!p.tableRSIZE || !p.huffman->DecodeInt(*p.tableRSIZE, rsize)) throw EJBIG2Error("bad refinement size");
          p.huffman->ConsumeRemainingBits();
        }
        int64_t w = int64_t(ib->width) + rdw, h = int64_t(ib->height) + rdh;
        if (w < 0 || h < 0) throw EJBIG2Error("negative refined symbol size");
        refined = dec.NewBitmap(w, h);
        // Offsets of T.88 6.4.11.3: floor division of the size deltas.
        int32_t dx = static_cast<int32_t>((rdw >= 0 ? rdw / 2 : -((-int64_t(rdw) + 1) / 2)) + rdx);
        int32_t dy = static_cast<int32_t>((rdh >= 0 ? rdh / 2 : -((-int64_t(rdh) + 1) / 2)) + rdy);
        readRefinement(dec, p, *refined, *ib, dx, dy, rsize);
        ib = refined.get();
      }
      int64_t wi = ib->width, hi = ib->height;
      // REFCORNER: 0 bottom-left, 1 top-left, 2 bottom-right, 3 top-right.
      bool right = p.refCorner == 2 || p.refCorner == 3, bottom = p.refCorner == 0 || p.refCorner == 2;
      if (!p.transposed && right)
        curS += wi - 1;
      else if (p.transposed && bottom)
        curS += hi - 1;
      int64_t s = curS, x, y;
      if (!p.transposed) {
        x = right ? s - wi + 1 : s;
        y = bottom ? t - hi + 1 : t;
      } else {
        x = right ? t - wi + 1 : t;
        y = bottom ? s - hi + 1 : s;
      }
      dec.AddWork(wi * hi);
      region->Combine(*ib, x, y, p.combOp);
      if (!p.transposed && !right)
        curS += wi - 1;
      else if (p.transposed && !bottom)
        curS += hi - 1;
      ++instances;
    }
  }
  return region;
}

// --- Symbol dictionary (T.88 6.5) ------------------------------------------------

namespace {

// A symbol made of several symbols: a text region with refinement over the
// input symbols and the new ones so far.
std::unique_ptr<TJBIG2Bitmap> decodeAggregateSymbol(TJBIG2StreamDecoder& dec, TSymbolDictionaryParams& p,
                                                    const std::vector<const TJBIG2Bitmap*>& syms, int64_t symWidth,
                                                    int64_t hcHeight, int32_t refAggNInst) {
  TTextRegionParams t;
  t.huff = p.huff;
  t.refine = true;
  t.width = static_cast<int32_t>(symWidth);
  t.height = static_cast<int32_t>(hcHeight);
  t.numInstances = static_cast<uint32_t>(refAggNInst);
  t.logStrips = 0;
  t.symbols = syms;
  t.symCodeLen = p.symCodeLen;
  t.defPixel = 0;
  t.combOp = 0;
  t.transposed = false;
  t.refCorner = 1;
  t.dsOffset = 0;
  t.tableFS = &StandardHuffmanTable(6);
  t.tableDS = &StandardHuffmanTable(8);
  t.tableDT = &StandardHuffmanTable(11);
  t.tableRDW = t.tableRDH = t.tableRDX = t.tableRDY = &StandardHuffmanTable(15);
  t.tableRSIZE = &StandardHuffmanTable(1);
  t.rTemplate = p.rTemplate;
  std::copy(p.rat, p.rat + 4, t.rat);
  t.arith = p.arith;
  t.huffman = p.huffman;
  t.reader = p.reader;
  t.refinementStats = p.refinementStats;
  return ReadTextRegion(dec, t);
}

// A symbol that refines one earlier symbol moved by an offset.
std::unique_ptr<TJBIG2Bitmap> decodeRefinedSymbol(TJBIG2StreamDecoder& dec, TSymbolDictionaryParams& p,
                                                  const std::vector<const TJBIG2Bitmap*>& syms, int64_t symWidth,
                                                  int64_t hcHeight) {
  uint32_t id;
  int32_t rdx = 0, rdy = 0, bmSize = 0;
  if (p.huff) {
    id = p.huffman->ReadBits(p.symCodeLen);
    if (!p.huffman->DecodeInt(StandardHuffmanTable(15), rdx) || !p.huffman->DecodeInt(StandardHuffmanTable(15), rdy) ||
        !p.huffman->DecodeInt(StandardHuffmanTable(1), bmSize))
      throw EJBIG2Error("bad refinement values");
    p.huffman->ConsumeRemainingBits();
  } else {
    id = p.arith->DecodeIAID(p.symCodeLen);
    if (!p.arith->DecodeInt(TArithmeticDecoder::IARDX, rdx) || !p.arith->DecodeInt(TArithmeticDecoder::IARDY, rdy))
      throw EJBIG2Error("bad refinement values");
  }
  if (id >= syms.size()) throw EJBIG2Error("refinement of a missing symbol");
  std::unique_ptr<TJBIG2Bitmap> bm = dec.NewBitmap(symWidth, hcHeight);
  readRefinement(dec, p, *bm, *syms[id], rdx, rdy, bmSize);
  return bm;
}

// A Huffman-coded height class as one collective bitmap, cut into the
// symbols from hcFirst on by their widths.
void decodeCollectiveBitmap(TJBIG2StreamDecoder& dec, TSymbolDictionaryParams& p,
                            std::vector<std::unique_ptr<TJBIG2Bitmap>>& newSymbols, size_t hcFirst,
                            const std::vector<int32_t>& newWidths, int64_t totWidth, int64_t hcHeight) {
  int32_t bmSize;
  if (!p.huffman->DecodeInt(p.tableBMSize ? *p.tableBMSize : StandardHuffmanTable(1), bmSize))
    throw EJBIG2Error("bad collective bitmap size");
  p.huffman->ConsumeRemainingBits();
  auto collective = dec.NewBitmap(totWidth, hcHeight);
  if (bmSize == 0) {
    int64_t stride = (totWidth + 7) / 8;
    for (int32_t y = 0; y < collective->height; ++y) {
      std::string_view row = p.reader->ReadBytes(stride);
      const size_t n = std::min(row.size(), collective->Stride());
      if (n) std::memcpy(collective->PackedRow(y), row.data(), n);
    }
    collective->ClearPadding(0, collective->height);
  } else {
    int64_t start = p.reader->Position();
    ReadMMRRegion(*collective, *p.reader, bmSize);
    p.reader->SetPosition(start + bmSize);
  }
  int32_t x = 0;
  for (size_t i = hcFirst; i < newSymbols.size(); ++i) {
    int32_t w = newWidths[i - hcFirst];
    newSymbols[i] = collective->GetSlice(x, 0, w, static_cast<int32_t>(hcHeight));
    x += w;
  }
}

// Export flags: alternating runs over the input symbols, then the new ones.
void exportSymbols(TSymbolDictionaryParams& p, const std::vector<std::unique_ptr<TJBIG2Bitmap>>& newSymbols,
                   std::vector<std::unique_ptr<TJBIG2Bitmap>>& exported) {
  const uint32_t numInput = static_cast<uint32_t>(p.inputSymbols.size());
  uint64_t total = uint64_t(numInput) + newSymbols.size();
  std::vector<uint8_t> flags;
  flags.reserve(static_cast<size_t>(total));
  int cur = 0;
  while (flags.size() < total) {
    int32_t run;
    bool ok =
        p.huff ? p.huffman->DecodeInt(StandardHuffmanTable(1), run) : p.arith->DecodeInt(TArithmeticDecoder::IAEX, run);
    if (!ok || run < 0 || uint64_t(run) > total - flags.size()) throw EJBIG2Error("bad export run");
    flags.insert(flags.end(), static_cast<size_t>(run), static_cast<uint8_t>(cur));
    cur ^= 1;
  }
  for (uint64_t i = 0; i < total; ++i) {
    if (!flags[static_cast<size_t>(i)]) continue;
    if (exported.size() >= p.numExported) break;
    const TJBIG2Bitmap* src =
        i < numInput ? p.inputSymbols[static_cast<size_t>(i)] : newSymbols[static_cast<size_t>(i - numInput)].get();
    if (!src) continue;
    exported.push_back(src->GetSlice(0, 0, src->width, src->height));
  }
}

}  // namespace

void DecodeSymbolDictionary(TJBIG2StreamDecoder& dec, TSymbolDictionaryParams& p,
                            std::vector<std::unique_ptr<TJBIG2Bitmap>>& exported) {
  std::vector<std::unique_ptr<TJBIG2Bitmap>> newSymbols;
  std::vector<int32_t> newWidths;
  int64_t hcHeight = 0;
  int32_t v;
  auto decodeInt = [&](const THuffmanTable* table, TArithmeticDecoder::TIntStats which, int32_t& out) {
    if (p.huff) {
      if (!table) throw EJBIG2Error("missing Huffman table");
      return p.huffman->DecodeInt(*table, out);
    }
    return p.arith->DecodeInt(which, out);
  };
  while (newSymbols.size() < p.numNew) {
    if (!decodeInt(p.tableDH, TArithmeticDecoder::IADH, v)) throw EJBIG2Error("bad height class delta");
    hcHeight += v;
    if (hcHeight < 0 || hcHeight > TJBIG2StreamDecoder::MaxBitmapPixels) throw EJBIG2Error("bad height class");
    int64_t symWidth = 0, totWidth = 0;
    size_t hcFirst = newSymbols.size();
    for (;;) {
      if (!decodeInt(p.tableDW, TArithmeticDecoder::IADW, v)) break;  // end of the height class
      if (newSymbols.size() >= p.numNew) throw EJBIG2Error("too many symbols");
      symWidth += v;
      totWidth += symWidth;
      if (symWidth < 0 || totWidth > TJBIG2StreamDecoder::MaxBitmapPixels) throw EJBIG2Error("bad symbol width");
      if (p.huff && !p.refAgg) {
        // Drawn later, all of the height class at once.
        newWidths.push_back(static_cast<int32_t>(symWidth));
        newSymbols.push_back(nullptr);
      } else if (!p.refAgg) {
        std::unique_ptr<TJBIG2Bitmap> bm = dec.NewBitmap(symWidth, hcHeight);
        TGenericParams g;
        g.arith = p.arith;
        g.stats = &p.arith->genericRegionStats;
        g.templ = p.templ;
        std::copy(p.at, p.at + 8, g.at);
        ReadGenericRegion(dec, *bm, g);
        newSymbols.push_back(std::move(bm));
      } else {
        int32_t refAggNInst;
        if (!decodeInt(p.tableAggInst, TArithmeticDecoder::IAAI, refAggNInst)) throw EJBIG2Error("bad aggregate count");
        std::vector<const TJBIG2Bitmap*> syms(p.inputSymbols.begin(), p.inputSymbols.end());
        for (auto& s : newSymbols) syms.push_back(s.get());
        newSymbols.push_back(refAggNInst > 1 ? decodeAggregateSymbol(dec, p, syms, symWidth, hcHeight, refAggNInst)
                                             : decodeRefinedSymbol(dec, p, syms, symWidth, hcHeight));
      }
    }
    if (p.huff && !p.refAgg) {
      decodeCollectiveBitmap(dec, p, newSymbols, hcFirst, newWidths, totWidth, hcHeight);
      newWidths.clear();
    }
  }
  exportSymbols(p, newSymbols, exported);
}

// --- Halftone helpers (T.88 6.6, C.5) -------------------------------------------

std::vector<uint32_t> DecodeGrayScaleImage(TJBIG2StreamDecoder& dec, TGenericParams g, int bpp, int32_t w, int32_t h) {
  std::vector<uint32_t> values(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  std::vector<uint8_t> previous(values.size(), 0);
  for (int plane = bpp - 1; plane >= 0; --plane) {
    TJBIG2Bitmap bm(w, h);
    ReadGenericRegion(dec, bm, g);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
        uint8_t bit = static_cast<uint8_t>(bm.GetPixel(x, y)) ^ previous[i];  // Gray code
        previous[i] = bit;
        values[i] = (values[i] << 1) | bit;
      }
  }
  return values;
}

}  // namespace jbig2
