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

void TPDFImageDecoder::UnpackSamples() {
  ready_ = false;
  if (!colorSpace_) {
    Fail(error_.empty() ? "image without a usable colour space" : error_);
    return;
  }
  const TPDFImageColorSpace& cs = *colorSpace_;
  const int n = cs.Components;
  if (!CheckGeometry(n, bpc_)) return;
  const int64_t rowBytes = (int64_t(width_) * n * bpc_ + 7) / 8;
  const int64_t expected = rowBytes * height_;
  if (expected > kMaxSampleBytes) return Fail("image data of " + std::to_string(expected) + " bytes is too large");
  const int64_t have = static_cast<int64_t>(data_.size());
  if (expected > kPadWithoutCheck && have < expected / 8)
    return Fail("image data hold " + std::to_string(have) + " of " + std::to_string(expected) + " bytes");

  // /Decode: a table per component from raw sample to decoded value.
  std::vector<double> dec = cs.DefaultDecode(bpc_);
  if (decode_.size() >= dec.size()) std::copy(decode_.begin(), decode_.begin() + dec.size(), dec.begin());
  const double maxv = std::ldexp(1.0, bpc_) - 1;
  auto decoded = [&](int k, uint32_t raw) { return dec[2 * k] + raw * (dec[2 * k + 1] - dec[2 * k]) / maxv; };

  bitmap_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf24bit);
  const bool keyed = maskKind_ == imkColorKey && !isMaskDecoder_;
  std::vector<uint32_t> keyLo(n, 0), keyHi(n, 0);
  if (keyed) {
    for (int k = 0; k < n; ++k) {
      double lo = 2 * size_t(k) < colorKey_.size() ? colorKey_[2 * k] : 0;
      double hi = 2 * size_t(k) + 1 < colorKey_.size() ? colorKey_[2 * k + 1] : 0;
      lo = std::ceil(lo), hi = std::floor(hi);
      if (!(hi >= lo) || hi < 0 || lo > maxv) {
        keyLo[k] = 1, keyHi[k] = 0;  // an empty range matches nothing
      } else {
        keyLo[k] = static_cast<uint32_t>(std::max(lo, 0.0));
        keyHi[k] = static_cast<uint32_t>(std::min(hi, maxv));
      }
    }
    mask_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf8bit);
  }

  // One-component images (grey, Indexed, Separation, stencils) go through a
  // colour table of every possible sample value.
  std::vector<uint8_t> table;
  if (n == 1) {
    const size_t values = size_t(1) << bpc_;
    table.resize(3 * values);
    for (size_t v = 0; v < values; ++v) {
      double c = decoded(0, static_cast<uint32_t>(v));
      cs.ToRGB(&c, &table[3 * v], *manager_);
    }
  }
  std::vector<uint8_t> lut;  // RGB and grey components by raw value, up to 8 bits
  const bool rgbFast = cs.Family == TPDFImageColorSpace::cfRGB && bpc_ <= 8;
  if (rgbFast) {
    lut.resize(3 * 256);
    for (int k = 0; k < 3; ++k)
      for (uint32_t v = 0; v <= uint32_t(maxv); ++v) lut[256 * k + v] = ToByte(decoded(k, v));
  }

  // Other spaces of several components (CMYK, Lab, DeviceN) convert each
  // distinct sample combination once: a direct-mapped cache keyed by the raw
  // samples, which photographs and flat artwork alike hit most of the time.
  struct TCacheEntry {
    uint64_t key = 0;
    uint8_t rgb[3] = {0, 0, 0};
    bool used = false;
  };
  const bool cached = n > 1 && !rgbFast && int64_t(n) * bpc_ <= 64;
  constexpr int kCacheBits = 14;
  std::vector<TCacheEntry> cache(cached ? size_t(1) << kCacheBits : 0);

  std::vector<uint8_t> row(static_cast<size_t>(rowBytes) + 2, 0);
  std::vector<double> comps(n);
  for (int y = 0; y < height_; ++y) {
    const int64_t start = int64_t(y) * rowBytes;
    // Missing data read as zero bytes.
    std::fill(row.begin(), row.end(), 0);
    if (start < have) std::copy_n(data_.data() + start, std::min(rowBytes, have - start), row.data());
    uint8_t* dst = bitmap_->ScanLine(y);
    uint8_t* alpha = keyed ? mask_->ScanLine(y) : nullptr;
    for (int x = 0; x < width_; ++x) {
      const int64_t base = int64_t(x) * n;
      uint8_t rgb[3];
      if (n == 1) {
        const uint8_t* t = &table[3 * size_t(Sample(row.data(), base, bpc_))];
        rgb[0] = t[0], rgb[1] = t[1], rgb[2] = t[2];
      } else if (rgbFast) {
        for (int k = 0; k < 3; ++k) rgb[k] = lut[256 * k + Sample(row.data(), base + k, bpc_)];
      } else if (cached) {
        uint64_t key = 0;
        for (int k = 0; k < n; ++k) key = (key << bpc_) | Sample(row.data(), base + k, bpc_);
        TCacheEntry& e = cache[size_t((key * 0x9E3779B97F4A7C15ull) >> (64 - kCacheBits))];
        if (!e.used || e.key != key) {
          for (int k = 0; k < n; ++k) comps[k] = decoded(k, Sample(row.data(), base + k, bpc_));
          cs.ToRGB(comps.data(), e.rgb, *manager_);
          e.key = key, e.used = true;
        }
        rgb[0] = e.rgb[0], rgb[1] = e.rgb[1], rgb[2] = e.rgb[2];
      } else {
        for (int k = 0; k < n; ++k) comps[k] = decoded(k, Sample(row.data(), base + k, bpc_));
        cs.ToRGB(comps.data(), rgb, *manager_);
      }
      dst[3 * x] = rgb[2], dst[3 * x + 1] = rgb[1], dst[3 * x + 2] = rgb[0];
      if (alpha) {
        bool inside = true;
        for (int k = 0; k < n && inside; ++k) {
          uint32_t raw = Sample(row.data(), base + k, bpc_);
          inside = raw >= keyLo[k] && raw <= keyHi[k];
        }
        alpha[x] = inside ? 0 : 255;
      }
    }
  }
  if (keyed) maskKind_ = imkMask;
  ready_ = true;
}
