// Colour spaces of image samples: device spaces, Lab, palettes and tint
// transforms, converted to RGB through the decoder's colour manager.
#include <algorithm>
#include <cmath>
#include <deque>
#include <mutex>
#include <string>

#include "graphics/PavonaImageDecoderInternal.h"

#include <lcms2.h>

namespace {

constexpr int kMaxComponents = 32;

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::lround(v * 255.0));
}

double Clip01(double v) { return v > 0 ? (v < 1 ? v : 1) : 0; }

// The transforms made last, by profile: a document's pictures share one or
// two profiles, and making a transform (the profile's curves evaluated, the
// pipeline optimised) costs more than converting a page's pictures. Only
// profiles of ordinary size are kept, so the cache holds little.
struct TCachedTransform {
  std::string profile;
  int components;
  std::shared_ptr<TICCTransform> transform;
};
constexpr size_t kCachedTransforms = 4;
constexpr size_t kMaxCachedProfileBytes = 256 << 10;

std::mutex& transformCacheMutex() {
  static std::mutex m;
  return m;
}
std::deque<TCachedTransform>& transformCache() {
  static std::deque<TCachedTransform> cache;
  return cache;
}

}  // namespace

std::shared_ptr<TICCTransform> TICCTransform::Create(std::string_view profile, int components) {
  if (profile.empty() || profile.size() > kMaxProfileBytes) return nullptr;
  if (profile.size() > kMaxCachedProfileBytes) return make(profile, components);
  std::lock_guard<std::mutex> lock(transformCacheMutex());
  auto& cache = transformCache();
  for (auto it = cache.begin(); it != cache.end(); ++it) {
    if (it->components != components || it->profile != profile) continue;
    std::shared_ptr<TICCTransform> found = it->transform;
    if (it != cache.begin()) {
      TCachedTransform entry = std::move(*it);
      cache.erase(it);
      cache.push_front(std::move(entry));
    }
    return found;
  }
  std::shared_ptr<TICCTransform> made = make(profile, components);
  cache.push_front({std::string(profile), components, made});
  if (cache.size() > kCachedTransforms) cache.pop_back();
  return made;
}

std::shared_ptr<TICCTransform> TICCTransform::make(std::string_view profile, int components) {
  cmsUInt32Number inputFormat = 0;
  cmsColorSpaceSignature wanted;
  switch (components) {
    case 1: inputFormat = TYPE_GRAY_DBL, wanted = cmsSigGrayData; break;
    case 3: inputFormat = TYPE_RGB_DBL, wanted = cmsSigRgbData; break;
    case 4: inputFormat = TYPE_CMYK_DBL, wanted = cmsSigCmykData; break;
    default: return nullptr;
  }
  cmsHPROFILE input = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
  if (!input) return nullptr;
  std::shared_ptr<TICCTransform> result;
  if (cmsGetColorSpace(input) == wanted) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    // No per-transform cache: ToRGB stays free of hidden state.
    cmsHTRANSFORM t = srgb ? cmsCreateTransform(input, inputFormat, srgb, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                                cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION)
                           : nullptr;
    if (t) {
      result.reset(new TICCTransform());
      result->transform_ = t;
      result->components_ = components;
    }
    if (srgb) cmsCloseProfile(srgb);
  }
  cmsCloseProfile(input);
  return result;
}

TICCTransform::~TICCTransform() {
  if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void TICCTransform::ToRGB(const double* c, uint8_t* rgb) const {
  double in[4];
  // LittleCMS takes floating-point CMYK in percent, grey and RGB in 0..1.
  const double scale = components_ == 4 ? 100.0 : 1.0;
  for (int i = 0; i < components_; ++i) in[i] = Clip01(c[i]) * scale;
  cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), in, rgb, 1);
}

void TPDFImageColorSpace::ToRGB(const double* c, uint8_t* rgb, TPDFSimpleColorManager& manager) const {
  switch (Family) {
    case cfGray:
      rgb[0] = rgb[1] = rgb[2] = ToByte(c[0]);
      return;
    case cfRGB:
      rgb[0] = ToByte(c[0]), rgb[1] = ToByte(c[1]), rgb[2] = ToByte(c[2]);
      return;
    case cfCMYK: {
      const double cmyk[4] = {Clip01(c[0]), Clip01(c[1]), Clip01(c[2]), Clip01(c[3])};
      double out[3];
      manager.CMYKToRGB(cmyk, out);
      rgb[0] = ToByte(out[0]), rgb[1] = ToByte(out[1]), rgb[2] = ToByte(out[2]);
      return;
    }
    case cfLab: {
      const double lab[3] = {std::isfinite(c[0]) ? c[0] : 0, std::isfinite(c[1]) ? c[1] : 0,
                             std::isfinite(c[2]) ? c[2] : 0};
      const uint32_t packed = CalibratedToRGB(*Lab, lab, &manager);
      rgb[0] = uint8_t(packed), rgb[1] = uint8_t(packed >> 8), rgb[2] = uint8_t(packed >> 16);
      return;
    }
    case cfIndexed: {
      double v = std::isfinite(c[0]) ? std::round(c[0]) : 0;
      if (Hival < 0) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
      }
      const size_t i = static_cast<size_t>(std::clamp(v, 0.0, double(Hival)));
      rgb[0] = Palette[3 * i], rgb[1] = Palette[3 * i + 1], rgb[2] = Palette[3 * i + 2];
      return;
    }
    case cfICC:
      Icc->ToRGB(c, rgb);
      return;
    case cfSeparation:
    case cfDeviceN: {
      // One buffer per thread: tint transforms run per palette entry or per new colour.
      thread_local std::vector<double> out;
      try {
        Tint->Evaluate(std::span<const double>(c, static_cast<size_t>(Components)), out);
      } catch (const Exception&) {
        out.assign(static_cast<size_t>(Alternate->Components), 0.0);
      }
      Alternate->ToRGB(out.data(), rgb, manager);
      return;
    }
    default:
      rgb[0] = rgb[1] = rgb[2] = 0;
  }
}

std::vector<double> TPDFImageColorSpace::DefaultDecode(int bits) const {
  std::vector<double> d;
  switch (Family) {
    case cfLab:
      return {0, 100, Lab->AMin, Lab->AMax, Lab->BMin, Lab->BMax};
    case cfIndexed:
      return {0, std::ldexp(1.0, std::min(bits, 16)) - 1};
    default:
      for (int i = 0; i < Components; ++i) d.insert(d.end(), {0.0, 1.0});
      return d;
  }
}

bool TPDFImageColorSpace::BuildPalette(TPDFSimpleColorManager& manager) {
  if (!Base || Hival < 0) return false;
  const int n = Base->Components;
  if (n < 1 || n > kMaxComponents) return false;
  std::vector<double> range = Base->DefaultDecode(8);
  Palette.assign(3 * (size_t(Hival) + 1), 0);
  double comps[kMaxComponents];
  for (int32_t i = 0; i <= Hival; ++i) {
    for (int k = 0; k < n; ++k) {
      size_t at = size_t(i) * n + k;
      // Bytes beyond the end of the table read as 0.
      double v = at < Lookup.size() ? static_cast<uint8_t>(Lookup[at]) / 255.0 : 0.0;
      comps[k] = range[2 * k] + v * (range[2 * k + 1] - range[2 * k]);
    }
    Base->ToRGB(comps, &Palette[3 * size_t(i)], manager);
  }
  return true;
}
