// Raw image samples: bit depths 1, 2, 4, 8 and 16 unpacked, /Decode applied,
// every colour space mapped to 24-bit pixels, colour-key masks built.
#include <algorithm>
#include <cmath>

#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaImageDecoderInternal.h"
#include "objects/PavonaFlate.h"

namespace {

// Above this many expected bytes, data shorter than an eighth of them are
// taken as a false size rather than padded (no large picture from a few bytes).
constexpr int64_t kPadWithoutCheck = int64_t(4) << 20;
constexpr int64_t kMaxSampleBytes = int64_t(1) << 30;

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::lround(v * 255.0));
}

// Sample i of a packed row.
inline uint32_t Sample(const uint8_t* row, int64_t i, int bits) {
  switch (bits) {
    case 1:
      return (row[i >> 3] >> (7 - (i & 7))) & 1;
    case 2:
      return (row[i >> 2] >> (2 * (3 - (i & 3)))) & 3;
    case 4:
      return (i & 1) ? row[i >> 1] & 15 : row[i >> 1] >> 4;
    case 8:
      return row[i];
    default:
      return (uint32_t(row[2 * i]) << 8) | row[2 * i + 1];
  }
}

}  // namespace

TPDFImageDecoder::TSampleRows::TSampleRows(const TPDFImageColorSpace& cs, TPDFSimpleColorManager& manager,
                                           int32_t width, int bpc, const std::vector<double>& decode, bool keyed,
                                           const std::vector<double>& colorKey)
    : cs_(cs), manager_(manager), n_(cs.Components), bpc_(bpc), width_(width), keyed_(keyed) {
  RowBytes = (int64_t(width) * n_ * bpc + 7) / 8;
  // /Decode: a table per component from raw sample to decoded value.
  dec_ = cs.DefaultDecode(bpc);
  if (decode.size() >= dec_.size()) std::copy(decode.begin(), decode.begin() + dec_.size(), dec_.begin());
  maxv_ = std::ldexp(1.0, bpc) - 1;
  if (keyed) {
    keyLo_.assign(size_t(n_), 0), keyHi_.assign(size_t(n_), 0);
    for (int k = 0; k < n_; ++k) {
      double lo = 2 * size_t(k) < colorKey.size() ? colorKey[2 * k] : 0;
      double hi = 2 * size_t(k) + 1 < colorKey.size() ? colorKey[2 * k + 1] : 0;
      lo = std::ceil(lo), hi = std::floor(hi);
      if (!(hi >= lo) || hi < 0 || lo > maxv_) {
        keyLo_[k] = 1, keyHi_[k] = 0;  // an empty range matches nothing
      } else {
        keyLo_[k] = static_cast<uint32_t>(std::max(lo, 0.0));
        keyHi_[k] = static_cast<uint32_t>(std::min(hi, maxv_));
      }
    }
  }
  // One-component images (grey, Indexed, Separation, stencils) go through a
  // colour table of every possible sample value.
  if (n_ == 1) {
    const size_t values = size_t(1) << bpc;
    table_.resize(3 * values);
    for (size_t v = 0; v < values; ++v) {
      double c = Decoded(0, static_cast<uint32_t>(v));
      cs.ToRGB(&c, &table_[3 * v], manager_);
    }
  }
  rgbFast_ = cs.Family == TPDFImageColorSpace::cfRGB && bpc <= 8;
  if (rgbFast_) {
    lut_.resize(3 * 256);  // RGB components by raw value, up to 8 bits
    for (int k = 0; k < 3; ++k)
      for (uint32_t v = 0; v <= uint32_t(maxv_); ++v) lut_[256 * k + v] = ToByte(Decoded(k, v));
  }
  // Other spaces of several components (CMYK, Lab, DeviceN) convert each
  // distinct sample combination once: a direct-mapped cache keyed by the
  // raw samples, which photographs and flat artwork alike hit most of the time.
  cached_ = n_ > 1 && !rgbFast_ && int64_t(n_) * bpc <= 64;
  cache_.resize(cached_ ? size_t(1) << kCacheBits : 0);
  row_.assign(static_cast<size_t>(RowBytes) + 2, 0);
  comps_.resize(size_t(n_));
}

void TPDFImageDecoder::TSampleRows::Convert(const std::string& data, int32_t y, uint8_t* dst, uint8_t* alpha) {
  const int64_t start = int64_t(y) * RowBytes, have = static_cast<int64_t>(data.size());
  std::fill(row_.begin(), row_.end(), 0);
  if (start < have) std::copy_n(data.data() + start, std::min(RowBytes, have - start), row_.data());
  const uint8_t* row = row_.data();
  for (int x = 0; x < width_; ++x) {
    const int64_t base = int64_t(x) * n_;
    uint8_t rgb[3];
    if (n_ == 1) {
      const uint8_t* t = &table_[3 * size_t(Sample(row, base, bpc_))];
      rgb[0] = t[0], rgb[1] = t[1], rgb[2] = t[2];
    } else if (rgbFast_) {
      for (int k = 0; k < 3; ++k) rgb[k] = lut_[256 * k + Sample(row, base + k, bpc_)];
    } else if (cached_) {
      uint64_t key = 0;
      for (int k = 0; k < n_; ++k) key = (key << bpc_) | Sample(row, base + k, bpc_);
      TCacheEntry& e = cache_[size_t((key * 0x9E3779B97F4A7C15ull) >> (64 - kCacheBits))];
      if (!e.used || e.key != key) {
        for (int k = 0; k < n_; ++k) comps_[k] = Decoded(k, Sample(row, base + k, bpc_));
        cs_.ToRGB(comps_.data(), e.rgb, manager_);
        e.key = key, e.used = true;
      }
      rgb[0] = e.rgb[0], rgb[1] = e.rgb[1], rgb[2] = e.rgb[2];
    } else {
      for (int k = 0; k < n_; ++k) comps_[k] = Decoded(k, Sample(row, base + k, bpc_));
      cs_.ToRGB(comps_.data(), rgb, manager_);
    }
    dst[3 * x] = rgb[2], dst[3 * x + 1] = rgb[1], dst[3 * x + 2] = rgb[0];
    if (alpha) {
      bool inside = keyed_;
      for (int k = 0; k < n_ && inside; ++k) {
        uint32_t raw = Sample(row, base + k, bpc_);
        inside = raw >= keyLo_[k] && raw <= keyHi_[k];
      }
      alpha[x] = inside ? 0 : 255;
    }
  }
}

std::unique_ptr<TPDFImageDecoder::TSampleRows> TPDFImageDecoder::MakeSampleRows() {
  if (!colorSpace_) {
    Fail(error_.empty() ? "image without a usable colour space" : error_);
    return nullptr;
  }
  const int n = colorSpace_->Components;
  if (!CheckGeometry(n, bpc_)) return nullptr;
  const int64_t rowBytes = (int64_t(width_) * n * bpc_ + 7) / 8;
  const int64_t expected = rowBytes * height_;
  if (expected > kMaxSampleBytes) {
    Fail("image data of " + std::to_string(expected) + " bytes is too large");
    return nullptr;
  }
  const int64_t have = static_cast<int64_t>(data_.size());
  if (expected > kPadWithoutCheck && have < expected / 8) {
    Fail("image data hold " + std::to_string(have) + " of " + std::to_string(expected) + " bytes");
    return nullptr;
  }
  const bool keyed = maskKind_ == imkColorKey && !isMaskDecoder_;
  return std::make_unique<TSampleRows>(*colorSpace_, *manager_, width_, bpc_, decode_, keyed, colorKey_);
}

void TPDFImageDecoder::UnpackSamples() {
  ready_ = false;
  std::unique_ptr<TSampleRows> rows = MakeSampleRows();
  if (!rows) return;
  bitmap_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf24bit);
  const bool keyed = maskKind_ == imkColorKey && !isMaskDecoder_;
  if (keyed) mask_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf8bit);
  for (int y = 0; y < height_; ++y) rows->Convert(data_, y, bitmap_->ScanLine(y), keyed ? mask_->ScanLine(y) : nullptr);
  if (keyed) maskKind_ = imkMask;
  ready_ = true;
}

void TPDFImageDecoder::UnpackOrKeepSamples() {
  // Samples are kept only where they cost no more than the picture (at most
  // three bytes a pixel) and nothing but drawing needs the picture: masks
  // read for another image, colour keys and matte colours need it whole.
  const bool keep = KeepSamples && !isMaskDecoder_ && colorSpace_ && maskKind_ != imkColorKey && imageMatte_.empty() &&
                    softMaskMatte_.empty() && int64_t(colorSpace_->Components) * bpc_ <= 24;
  if (!keep) {
    UnpackSamples();
    return;
  }
  ready_ = false;
  sampleRows_ = MakeSampleRows();
  if (!sampleRows_) return;
  bitmap_ = std::make_unique<TBitmap>();
  ready_ = true;
}

void TPDFImageDecoder::GetSampleRow(int32_t y, uint8_t* bgr) {
  if (!sampleRows_ || y < 0 || y >= height_) return;
  sampleRows_->Convert(data_, y, bgr, nullptr);
}

void TPDFImageDecoder::ExpandSamples() {
  if (!sampleRows_) return;
  sampleRows_.reset();
  UnpackSamples();
}
