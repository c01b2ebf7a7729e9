#include "render/PavonaImageCache.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaMatrix.h"
#include "graphics/PavonaPicasso.h"
#include "objects/PavonaStructure.h"

namespace {

// Set bits of each byte value: counted by table, since a build for the
// baseline x86-64 has no population-count instruction and calls a library
// routine for every std::popcount.
constexpr auto kBitsSet = [] {
  std::array<uint8_t, 256> t{};
  for (int v = 0; v < 256; ++v)
    t[size_t(v)] = uint8_t((v & 1) + ((v >> 1) & 1) + ((v >> 2) & 1) + ((v >> 3) & 1) + ((v >> 4) & 1) +
                           ((v >> 5) & 1) + ((v >> 6) & 1) + ((v >> 7) & 1));
  return t;
}();

}  // namespace

namespace {

// cairo addresses at most this many pixels a side: larger pictures are
// reduced to it even when drawn larger.
constexpr int32_t kMaxPreparedSide = 32767;

constexpr uint64_t kFnvOffset = 14695981039346656037ull, kFnvPrime = 1099511628211ull;

uint64_t fnv(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * kFnvPrime;
  return h;
}

}  // namespace

size_t TPDFImageCacheKeyHash::operator()(const TPDFImageCacheKey& k) const {
  uint64_t h = kFnvOffset;
  h = fnv(h, &k.Number, sizeof k.Number);
  h = fnv(h, &k.Generation, sizeof k.Generation);
  h = fnv(h, &k.Fingerprint, sizeof k.Fingerprint);
  h = fnv(h, &k.Width, sizeof k.Width);
  h = fnv(h, &k.Height, sizeof k.Height);
  return static_cast<size_t>(h);
}

int64_t TPDFPreparedImage::ByteCount() const {
  return static_cast<int64_t>(Coverage.size()) + (Picture.Empty() ? 0 : int64_t(Picture.Stride()) * Picture.Height()) +
         int64_t(sizeof(TPDFPreparedImage));
}

TPDFImageCache::TPDFImageCache(int64_t budgetBytes) : budget_(std::max<int64_t>(budgetBytes, 0)) {}

std::shared_ptr<const TPDFPreparedImage> TPDFImageCache::Find(const TPDFImageCacheKey& key) {
  auto it = index_.find(key);
  if (it == index_.end()) {
    ++misses_;
    return nullptr;
  }
  ++hits_;
  entries_.splice(entries_.begin(), entries_, it->second);
  return it->second->Image;
}

bool TPDFImageCache::Offered(const TPDFImageCacheKey& key) {
  TPDFImageCacheKey image = key;
  image.Width = image.Height = 0;
  if (offered_.count(image)) return true;
  remembered_.push_back(image);
  offered_[image] = std::prev(remembered_.end());
  if (remembered_.size() > MaxRemembered) {
    offered_.erase(remembered_.front());
    remembered_.pop_front();
  }
  return false;
}

bool TPDFImageCache::Insert(const TPDFImageCacheKey& key, std::shared_ptr<const TPDFPreparedImage> image) {
  if (!image) return false;
  const int64_t size = image->ByteCount();
  const bool again = Offered(key);
  if (size > budget_ / 4 || (size > SmallEntry && !again)) return false;
  auto it = index_.find(key);
  if (it != index_.end()) {
    bytes_ -= it->second->Image->ByteCount();
    entries_.erase(it->second);
    index_.erase(it);
  }
  entries_.push_front(TEntry{key, std::move(image)});
  index_[key] = entries_.begin();
  bytes_ += size;
  Trim();
  return index_.count(key) != 0;
}

void TPDFImageCache::Clear() {
  entries_.clear();
  index_.clear();
  remembered_.clear();
  offered_.clear();
  bytes_ = 0;
}

void TPDFImageCache::SetBudget(int64_t budgetBytes) {
  budget_ = std::max<int64_t>(budgetBytes, 0);
  Trim();
}

void TPDFImageCache::Trim() {
  while (bytes_ > budget_ && !entries_.empty()) {
    TEntry& last = entries_.back();
    bytes_ -= last.Image->ByteCount();
    index_.erase(last.Key);
    entries_.pop_back();
  }
}

uint64_t ImageStreamFingerprint(const TPDFStream* stream) {
  uint64_t h = kFnvOffset;
  if (!stream) return h;
  const void* ids[2] = {stream, stream->GetDictionary()};
  h = fnv(h, ids, sizeof ids);
  const std::string& data = stream->GetData();
  const size_t n = data.size();
  h = fnv(h, &n, sizeof n);
  // Small streams whole; large ones in 64 pieces of 1 KiB spread over the
  // data (the first and the last among them): an edit that replaces the
  // picture changes them, and reading them costs nothing beside decoding.
  constexpr size_t kPiece = 1024, kPieces = 64;
  if (n <= kPiece * kPieces) return fnv(h, data.data(), n);
  for (size_t i = 0; i < kPieces; ++i) {
    const size_t at = (n - kPiece) * i / (kPieces - 1);
    h = fnv(h, data.data() + at, kPiece);
  }
  return h;
}

void GridFitImageMatrix(double m[6]) {
  for (int i = 0; i < 6; ++i)
    if (!std::isfinite(m[i])) return;
  // Slants below this (device pixels across the whole picture) count as none.
  constexpr double kFlat = 1e-4;
  // Ends this close to a pixel edge are on it: the sums of the page's
  // matrices carry rounding noise.
  constexpr double kOnEdge = 1e-3;
  // Widens the extent from `at` along `length` to whole pixels, keeping its
  // direction.
  auto fit = [](double& at, double& length) {
    const double lo = std::min(at, at + length), hi = std::max(at, at + length);
    if (hi - lo > double(1 << 30)) return;  // beyond any device
    const double first = std::floor(lo + kOnEdge);
    const double last = std::max(first + 1, std::ceil(hi - kOnEdge));
    if (length >= 0) {
      at = first, length = last - first;
    } else {
      at = last, length = first - last;
    }
  };
  if (std::fabs(m[1]) < kFlat && std::fabs(m[2]) < kFlat) {
    m[1] = m[2] = 0;
    fit(m[4], m[0]);
    fit(m[5], m[3]);
  } else if (std::fabs(m[0]) < kFlat && std::fabs(m[3]) < kFlat) {
    // A quarter turn: the image's rows run down or up the device.
    m[0] = m[3] = 0;
    fit(m[4], m[2]);
    fit(m[5], m[1]);
  }
}

void PreparedImageSize(int32_t width, int32_t height, const double m[6], int32_t& preparedWidth,
                       int32_t& preparedHeight) {
  // The unit square's sides on the device: (a, b) runs along the image's
  // rows, (c, d) along its columns.
  auto side = [](double dx, double dy, int32_t own) {
    const double length = std::hypot(dx, dy);
    int32_t limit = std::min(own > 0 ? own : kMaxPreparedSide, kMaxPreparedSide);
    if (!std::isfinite(length) || length >= limit) return limit;
    return std::max<int32_t>(1, static_cast<int32_t>(std::ceil(length - 1e-6)));
  };
  preparedWidth = side(m[0], m[1], width);
  preparedHeight = side(m[2], m[3], height);
}

void DecodedImageGridSize(const TPDFImageDecoder& decoder, int32_t& gridWidth, int32_t& gridHeight) {
  gridWidth = decoder.GetWidth(), gridHeight = decoder.GetHeight();
  const uint8_t kind = decoder.GetMaskKind();
  const TBitmap* mask = kind == imkMask || kind == imkSoftMask ? decoder.GetMaskBitmap() : nullptr;
  if (!mask) return;
  gridWidth = std::max(gridWidth, mask->Width());
  gridHeight = std::max(gridHeight, mask->Height());
}

namespace {

// The rows of a decoded image on the grid it is drawn from: picture and mask
// at the larger of their sizes (each repeated to it), as B, G, R, A bytes
// with straight alpha.
class TImageRows {
public:
  explicit TImageRows(TPDFImageDecoder& decoder) : d_(decoder) {
    kind_ = decoder.GetMaskKind();
    bilevel_ = decoder.IsBilevel();
    samples_ = !bilevel_ && decoder.HasPendingSamples();
    bitmap_ = decoder.GetImageBitmap();
    mask_ = kind_ == imkMask || kind_ == imkSoftMask ? decoder.GetMaskBitmap() : nullptr;
    bw_ = bilevel_ || samples_ ? decoder.GetWidth() : bitmap_ ? bitmap_->Width() : 0;
    bh_ = bilevel_ || samples_ ? decoder.GetHeight() : bitmap_ ? bitmap_->Height() : 0;
    mw_ = mask_ ? mask_->Width() : 0, mh_ = mask_ ? mask_->Height() : 0;
    w_ = std::max(bw_, mw_), h_ = std::max(bh_, mh_);
    if (Empty()) return;
    xb_.resize(size_t(w_));
    for (int32_t x = 0; x < w_; ++x) xb_[size_t(x)] = int32_t(int64_t(x) * bw_ / w_);
    if (mask_) {
      xm_.resize(size_t(w_));
      for (int32_t x = 0; x < w_; ++x) xm_[size_t(x)] = int32_t(int64_t(x) * mw_ / w_);
    }
    if (bilevel_) {
      rowBytes_ = (int64_t(bw_) + 7) / 8;
      packedRow_.resize(size_t(rowBytes_));
    }
    if (samples_) sampleRow_.resize(size_t(bw_) * 3);
  }
  bool Empty() const { return bw_ <= 0 || bh_ <= 0 || w_ <= 0 || h_ <= 0; }
  int32_t Width() const { return w_; }
  int32_t Height() const { return h_; }
  bool Stencil() const { return kind_ == imkStencil; }
  // Every pixel opaque (no mask, not a stencil).
  bool Opaque() const { return kind_ != imkStencil && !mask_ && kind_ != imkMask && kind_ != imkSoftMask; }
  // A packed picture whose rows FetchBits gives.
  bool Bilevel() const { return bilevel_; }
  // Grid row y's packed samples (missing data read as zero bits) when the
  // grid is the picture's own width, else nullptr.
  const uint8_t* PackedRow(int32_t y) { return w_ == bw_ ? packedRowOf(y) : nullptr; }
  // Grid row y as one byte (0 or 1) per grid pixel: the packed samples.
  void FetchBits(int32_t y, uint8_t* out) {
    const uint8_t* row = packedRowOf(y);
    if (w_ == bw_) {
      for (int32_t x = 0; x < w_; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
      return;
    }
    for (int32_t x = 0; x < w_; ++x) {
      const int32_t sx = xb_[size_t(x)];
      out[x] = (row[sx >> 3] >> (7 - (sx & 7))) & 1;
    }
  }

private:
  const uint8_t* packedRowOf(int32_t y) {
    const int32_t by = int32_t(int64_t(y) * bh_ / h_);
    const std::string& rows = d_.GetBilevelRows();
    const int64_t start = int64_t(by) * rowBytes_;
    const uint8_t* row;
    if (start + rowBytes_ <= int64_t(rows.size())) {
      row = reinterpret_cast<const uint8_t*>(rows.data()) + start;
    } else {
      std::fill(packedRow_.begin(), packedRow_.end(), 0);
      if (start < int64_t(rows.size()))
        std::memcpy(packedRow_.data(), rows.data() + start, size_t(int64_t(rows.size()) - start));
      row = packedRow_.data();
    }
    return row;
  }

public:
  void Fetch(int32_t y, uint8_t* out) {
    const int32_t by = int32_t(int64_t(y) * bh_ / h_);
    const uint8_t* maskRow = mask_ ? mask_->ScanLine(int32_t(int64_t(y) * mh_ / h_)) : nullptr;
    const bool masked = kind_ == imkMask || kind_ == imkSoftMask;
    if (bilevel_) {
      const std::string& rows = d_.GetBilevelRows();
      const int64_t start = int64_t(by) * rowBytes_;
      // Missing data read as zero bits.
      std::fill(packedRow_.begin(), packedRow_.end(), 0);
      if (start < int64_t(rows.size()))
        std::memcpy(packedRow_.data(), rows.data() + start, size_t(std::min(rowBytes_, int64_t(rows.size()) - start)));
      const uint8_t* c0 = d_.GetBilevelColor(0);
      const uint8_t* c1 = d_.GetBilevelColor(1);
      for (int32_t x = 0; x < w_; ++x, out += 4) {
        const int32_t sx = xb_[size_t(x)];
        const uint8_t* c = (packedRow_[size_t(sx >> 3)] >> (7 - (sx & 7))) & 1 ? c1 : c0;
        out[0] = c[0], out[1] = c[1], out[2] = c[2];
        out[3] = Stencil() ? uint8_t(255 - c[0]) : masked ? (maskRow ? maskRow[xm_[size_t(x)]] : 255) : 255;
      }
      return;
    }
    // A picture held as samples is converted a row at a time (a row read
    // again, for a larger mask, is not converted twice).
    if (samples_ && by != sampleRowY_) {
      d_.GetSampleRow(by, sampleRow_.data());
      sampleRowY_ = by;
    }
    const uint8_t* src = samples_ ? sampleRow_.data() : bitmap_->ScanLine(by);
    for (int32_t x = 0; x < w_; ++x, out += 4) {
      const uint8_t* p = src + 3 * int64_t(xb_[size_t(x)]);
      out[0] = p[0], out[1] = p[1], out[2] = p[2];
      out[3] = Stencil() ? uint8_t(255 - p[0]) : masked ? (maskRow ? maskRow[xm_[size_t(x)]] : 255) : 255;
    }
  }

private:
  TPDFImageDecoder& d_;
  uint8_t kind_ = imkNone;
  bool bilevel_ = false;
  bool samples_ = false;  // rows converted from the decoder's samples
  int32_t sampleRowY_ = -1;
  std::vector<uint8_t> sampleRow_;
  const TBitmap* bitmap_ = nullptr;
  const TBitmap* mask_ = nullptr;
  int32_t bw_ = 0, bh_ = 0, mw_ = 0, mh_ = 0, w_ = 0, h_ = 0;
  int64_t rowBytes_ = 0;
  std::vector<int32_t> xb_, xm_;
  std::vector<uint8_t> packedRow_;
};

}  // namespace

namespace {

// n / d for one d and many n, exactly as the division gives it, without a
// division per quotient: the reciprocal's estimate is at most one short.
class TExactDivider {
public:
  explicit TExactDivider(uint64_t d) : d_(d), m_(UINT64_MAX / d) {}
  uint64_t operator()(uint64_t n) const {
    uint64_t q = uint64_t((static_cast<unsigned __int128>(n) * m_) >> 64);
    if (n - q * d_ >= d_) ++q;
    return q;
  }

private:
  uint64_t d_, m_;
};

}  // namespace

std::shared_ptr<TPDFPreparedImage> PrepareImage(TPDFImageDecoder& decoder, int32_t preparedWidth,
                                                int32_t preparedHeight) {
  if (!decoder.IsReady()) return nullptr;
  TImageRows rows(decoder);
  if (rows.Empty()) return nullptr;
  const int32_t w = rows.Width(), h = rows.Height();
  const int32_t tw = std::clamp(preparedWidth > 0 ? preparedWidth : w, 1, std::min(w, kMaxPreparedSide));
  const int32_t th = std::clamp(preparedHeight > 0 ? preparedHeight : h, 1, std::min(h, kMaxPreparedSide));
  auto out = std::make_shared<TPDFPreparedImage>();
  out->Width = tw, out->Height = th, out->Stencil = rows.Stencil();
  if (out->Stencil) {
    out->Coverage.resize(size_t(tw) * size_t(th));
  } else {
    out->Picture = TBitmap::ForOverwrite(tw, th, TPixelFormat::pf32bit);
    out->Picture.SetAlphaFormat(TAlphaFormat::afPremultiplied);
  }

  // Exact area averages: in units where a grid pixel is tw wide and a target
  // pixel w wide (th and h high), each grid pixel overlaps at most two
  // target columns (rows) by whole numbers of units, its weights there. A
  // target pixel gathers w * h units; colours are weighted by alpha (the
  // mean of premultiplied pixels). A picture kept at its own size is copied.
  std::vector<int32_t> column(static_cast<size_t>(w));
  std::vector<uint32_t> weight(static_cast<size_t>(w));
  for (int32_t x = 0; x < w; ++x) {
    const int64_t from = int64_t(x) * tw;
    const int32_t t = int32_t(from / w);
    column[size_t(x)] = t;
    weight[size_t(x)] = uint32_t(std::min<int64_t>(from + tw, int64_t(t + 1) * w) - from);
  }
  const uint64_t total = uint64_t(w) * uint64_t(h);
  const TExactDivider perTotal(total), perPremultiplied(255 * total);
  const bool opaque = rows.Opaque(), bits = opaque && rows.Bilevel();
  const uint8_t* c0 = decoder.GetBilevelColor(0);
  const uint8_t* c1 = decoder.GetBilevelColor(1);
  std::vector<uint8_t> line(size_t(w) * 4);
  // Per target column: weighted sums of B, G, R (alpha-weighted unless
  // opaque) and alpha; for packed pictures only the weight of 1 samples.
  std::vector<uint64_t> rowSums(size_t(tw + 1) * 4), sums(size_t(tw) * 4);
  bool rowSumsDirty = false;  // rowSums holds a row's sums still
  auto add = [&](size_t t, uint32_t wx, uint64_t v0, uint64_t v1, uint64_t v2, uint64_t v3) {
    uint64_t* r = &rowSums[t * 4];
    r[0] += v0 * wx, r[1] += v1 * wx, r[2] += v2 * wx, r[3] += v3 * wx;
  };
  for (int32_t ty = 0; ty < th; ++ty) {
    const int64_t top = int64_t(ty) * h, bottom = top + h;  // in row units (a grid row is th)
    const int32_t y0 = int32_t(top / th), y1 = int32_t((bottom + th - 1) / th);
    std::fill(sums.begin(), sums.end(), 0);
    for (int32_t y = y0; y < std::min(y1, h); ++y) {
      const uint64_t wy =
          uint64_t(std::min<int64_t>(bottom, int64_t(y + 1) * th) - std::max<int64_t>(top, int64_t(y) * th));
      if (wy == 0) continue;
      if (rowSumsDirty) std::fill(rowSums.begin(), rowSums.end(), 0);
      rowSumsDirty = true;
      if (const uint8_t* packed = bits ? rows.PackedRow(y) : nullptr) {
        // Only the rarer samples of the row are visited, a set bit at a
        // time; whole bytes of the common one (the paper of most scanned
        // pages) are passed over. A target column gathers w units of a row,
        // so the units of 1 samples follow from those of 0 samples.
        const int32_t bytes = (w + 7) / 8;
        const uint32_t padding = (w & 7) ? (0xFFu << (8 - (w & 7))) & 0xFFu : 0xFFu;
        int64_t ones = 0;
        for (int32_t i = 0; i < bytes; ++i) ones += kBitsSet[packed[i] & (i == bytes - 1 ? padding : 0xFFu)];
        const bool inverted = ones * 2 > w;
        const uint32_t flip = inverted ? 0xFFu : 0;
        // The columns the row's samples reached, first to last (they grow
        // with x): only those are gathered and cleared again, so a sparse
        // row costs what it holds, not the width of the target.
        size_t first = SIZE_MAX, last = 0;
        for (int32_t i = 0; i < bytes; ++i) {
          uint32_t bitsOf = (uint32_t(packed[i]) ^ flip) & (i == bytes - 1 ? padding : 0xFFu);
          if (!bitsOf) continue;
          do {
            const int bit = std::countl_zero(bitsOf) - 24;
            bitsOf &= ~(0x80u >> bit);
            const int32_t x = i * 8 + bit;
            const size_t t = size_t(column[size_t(x)]);
            const uint32_t wx = weight[size_t(x)];
            rowSums[t * 4] += wx, rowSums[t * 4 + 4] += uint32_t(tw) - wx;
            first = std::min(first, t), last = t + 1;
          } while (bitsOf);
        }
        if (inverted) {
          for (size_t t = 0; t < size_t(tw); ++t) sums[t * 4] += (uint64_t(w) - rowSums[t * 4]) * wy;
        } else {
          for (size_t t = first; t <= last && t < size_t(tw); ++t) sums[t * 4] += rowSums[t * 4] * wy;
        }
        for (size_t t = first; t <= last && t <= size_t(tw); ++t) rowSums[t * 4] = 0;
        rowSumsDirty = false;
        continue;
      } else if (bits) {
        rows.FetchBits(y, line.data());
        // Without branches: ink and paper alternate unpredictably.
        for (int32_t x = 0; x < w; ++x) {
          const uint64_t bit = line[size_t(x)];
          const size_t t = size_t(column[size_t(x)]);
          const uint32_t wx = weight[size_t(x)];
          rowSums[t * 4] += wx * bit, rowSums[t * 4 + 4] += (uint32_t(tw) - wx) * bit;
        }
      } else {
        rows.Fetch(y, line.data());
        const uint8_t* p = line.data();
        for (int32_t x = 0; x < w; ++x, p += 4) {
          const size_t t = size_t(column[size_t(x)]);
          const uint32_t wx = weight[size_t(x)];
          const uint64_t a = p[3];
          const uint64_t b = opaque ? p[0] : p[0] * a, g = opaque ? p[1] : p[1] * a, r = opaque ? p[2] : p[2] * a;
          add(t, wx, b, g, r, a);
          if (wx < uint32_t(tw)) add(t + 1, uint32_t(tw) - wx, b, g, r, a);
        }
      }
      for (size_t i = 0; i < sums.size(); ++i) sums[i] += rowSums[i] * wy;
    }
    if (out->Stencil) {
      uint8_t* dst = &out->Coverage[size_t(ty) * size_t(tw)];
      for (int32_t x = 0; x < tw; ++x) dst[x] = static_cast<uint8_t>(perTotal(sums[size_t(x) * 4 + 3] + total / 2));
      continue;
    }
    uint8_t* dst = out->Picture.ScanLine(ty);
    for (int32_t x = 0; x < tw; ++x, dst += 4) {
      const uint64_t* v = &sums[size_t(x) * 4];
      if (bits) {
        // v[0]: the units of 1 samples; the rest are 0 samples. A pixel of
        // one kind alone (most of a scanned page) is that kind's colour.
        const uint8_t* only = v[0] == 0 ? c0 : v[0] == total ? c1 : nullptr;
        for (int c = 0; c < 3; ++c)
          dst[c] = only ? only[c]
                        : static_cast<uint8_t>(
                              perTotal(uint64_t(c0[c]) * (total - v[0]) + uint64_t(c1[c]) * v[0] + total / 2));
        dst[3] = 255;
      } else if (opaque) {
        for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>(perTotal(v[c] + total / 2));
        dst[3] = 255;
      } else {
        const uint8_t a = static_cast<uint8_t>(perTotal(v[3] + total / 2));
        for (int c = 0; c < 3; ++c)
          dst[c] = static_cast<uint8_t>(std::min<uint64_t>(a, perPremultiplied(v[c] + 255 * total / 2)));
        dst[3] = a;
      }
    }
  }
  return out;
}

void DrawPreparedImage(TPDFPicasso& canvas, const TPDFPreparedImage& image, const double matrix[6], TColor fillColor,
                       std::string* failure) {
  try {
    // Placed on whole pixels; the picture keeps the size it was prepared
    // at for the matrix as given.
    double m[6] = {matrix[0], matrix[1], matrix[2], matrix[3], matrix[4], matrix[5]};
    GridFitImageMatrix(m);
    const TImageCorners corners = ImageCornersOf(m);
    if (!corners.Finite()) return;
    const auto [x0, y0, x1, y1, x2, y2] = corners;
    if (!image.Stencil) {
      canvas.DrawPremultiplied(image.Picture, x0, y0, x1, y1, x2, y2);
      return;
    }
    // The fill colour under the coverage, premultiplied as the stencil's
    // picture would be.
    TBitmap picture = TBitmap::ForOverwrite(image.Width, image.Height, TPixelFormat::pf32bit);
    picture.SetAlphaFormat(TAlphaFormat::afPremultiplied);
    const uint32_t b = GetBValue(fillColor), g = GetGValue(fillColor), r = GetRValue(fillColor);
    for (int32_t y = 0; y < image.Height; ++y) {
      const uint8_t* a = &image.Coverage[size_t(y) * size_t(image.Width)];
      uint8_t* dst = picture.ScanLine(y);
      for (int32_t x = 0; x < image.Width; ++x, dst += 4) {
        const uint32_t k = a[x];
        dst[0] = uint8_t((b * k + 127) / 255), dst[1] = uint8_t((g * k + 127) / 255);
        dst[2] = uint8_t((r * k + 127) / 255), dst[3] = uint8_t(k);
      }
    }
    canvas.DrawPremultiplied(picture, x0, y0, x1, y1, x2, y2);
  } catch (...) {
    // A picture that cannot be drawn is left out of the page; the caller
    // records why.
    if (failure) *failure = CurrentExceptionText();
  }
}
