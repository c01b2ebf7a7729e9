// Colour spaces of image samples as the image decoder resolves them. Private
// to the PavonaImageDecoder*.cpp files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/PavonaColorManagement.h"
#include "graphics/PavonaFunctions.h"
#include "graphics/PavonaImageDecoder.h"
#include "objects/PavonaStructure.h"

// An object's text for comparisons and messages; empty for none or for one
// that cannot be written.
inline std::string TextOf(TPDFObject* obj) {
  if (!obj) return {};
  try {
    return obj->WriteText();
  } catch (const Exception&) {
    return {};
  }
}

// A colour transform of an embedded ICC profile (grey, RGB or CMYK input)
// into sRGB bytes, through LittleCMS. Shared by the colour spaces of one
// decoder; the profile's bytes are not kept.
class TICCTransform {
public:
  // nullptr when the profile cannot be read, is larger than kMaxProfileBytes,
  // or does not describe components input components. The transforms of the
  // last few profiles are kept and shared (a transform has no state).
  static std::shared_ptr<TICCTransform> Create(std::string_view profile, int components);
  ~TICCTransform();
  TICCTransform(const TICCTransform&) = delete;
  TICCTransform& operator=(const TICCTransform&) = delete;
  // Components in 0..1 to R, G, B bytes.
  void ToRGB(const double* c, uint8_t* rgb) const;
  static constexpr size_t kMaxProfileBytes = 8 << 20;

private:
  TICCTransform() = default;
  static std::shared_ptr<TICCTransform> make(std::string_view profile, int components);
  void* transform_ = nullptr;
  int components_ = 0;
};

// An image colour space resolved into what sample unpacking needs: the
// component count, the default /Decode and a conversion of decoded component
// values to RGB through the engine's colour manager, functions and Lab space.
class TPDFImageColorSpace {
public:
  enum TFamily : uint8_t { cfNone, cfGray, cfRGB, cfCMYK, cfLab, cfIndexed, cfSeparation, cfDeviceN, cfICC };
  TFamily Family = cfNone;
  int Components = 0;
  // Lab: white point and /Range.
  std::unique_ptr<TPDFLabColorSpace> Lab;
  // Indexed: palette of Hival + 1 colours as R,G,B bytes.
  std::unique_ptr<TPDFImageColorSpace> Base;
  int32_t Hival = -1;
  std::string Lookup;
  std::vector<uint8_t> Palette;
  // Separation and DeviceN.
  std::unique_ptr<TPDFImageColorSpace> Alternate;
  std::unique_ptr<TPDFFunction> Tint;
  // ICCBased with a usable profile (Components as the profile's).
  std::shared_ptr<TICCTransform> Icc;

  // Components in their own ranges (gray 0..1, Lab L 0..100 ...) to R,G,B bytes.
  void ToRGB(const double* c, uint8_t* rgb, TPDFSimpleColorManager& manager) const;
  // The /Decode default for samples of this many bits.
  std::vector<double> DefaultDecode(int bits) const;
  // Builds Palette from Lookup; false when the base cannot convert.
  bool BuildPalette(TPDFSimpleColorManager& manager);
};

// The conversion of raw sample rows to 24-bit pixels, with its tables built
// once: unpacking the whole picture, or rows on demand for a picture left as
// samples (KeepSamples).
class TPDFImageDecoder::TSampleRows {
public:
  TSampleRows(const TPDFImageColorSpace& cs, TPDFSimpleColorManager& manager, int32_t width, int bpc,
              const std::vector<double>& decode, bool keyed, const std::vector<double>& colorKey);

  int64_t RowBytes = 0;

  // Row y of data as B, G, R bytes into dst and, for a colour key, 0 (keyed
  // out) or 255 into alpha. Missing data read as zero bytes.
  void Convert(const std::string& data, int32_t y, uint8_t* dst, uint8_t* alpha);

private:
  struct TCacheEntry {
    uint64_t key = 0;
    uint8_t rgb[3] = {0, 0, 0};
    bool used = false;
  };
  static constexpr int kCacheBits = 14;
  double Decoded(int k, uint32_t raw) const { return dec_[2 * k] + raw * (dec_[2 * k + 1] - dec_[2 * k]) / maxv_; }

  const TPDFImageColorSpace& cs_;
  TPDFSimpleColorManager& manager_;
  int n_, bpc_;
  int32_t width_;
  bool keyed_;
  std::vector<double> dec_;
  double maxv_ = 1;
  std::vector<uint32_t> keyLo_, keyHi_;
  std::vector<uint8_t> table_, lut_;
  bool rgbFast_ = false, cached_ = false;
  std::vector<TCacheEntry> cache_;
  std::vector<uint8_t> row_;
  std::vector<double> comps_;
};
