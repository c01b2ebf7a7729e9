// Colour spaces of image samples: tint transforms, palettes and the device
// conversions used by the sample unpacker.
#include <algorithm>
#include <cmath>

#include "graphics/PavonaImageDecoderInternal.h"

namespace {

constexpr int kMaxFunctionDepth = 8;
constexpr int kMaxComponents = 32;
constexpr int64_t kMaxSampleTable = int64_t(1) << 22;

uint8_t ToByte(double v) {
  if (!(v > 0)) return 0;
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::lround(v * 255.0));
}

bool ReadNumbers(TPDFObject* obj, const std::function<TPDFObject*(TPDFObject*)>& resolve, std::vector<double>& out) {
  out.clear();
  TPDFArray* a = PDFAsArray(resolve(obj));
  if (!a) return false;
  for (TPDFObject* item : a->Items()) {
    TPDFNumeric* n = PDFAsNumeric(resolve(item));
    if (!n || !std::isfinite(n->GetValue())) return false;
    out.push_back(n->GetValue());
  }
  return true;
}

double Clip(double v, double lo, double hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

std::unique_ptr<TPDFImageTintFunction> TPDFImageTintFunction::Load(
    TPDFObject* obj, const std::function<TPDFObject*(TPDFObject*)>& resolve, std::string& why, int depth) {
  if (depth > kMaxFunctionDepth) {
    why = "tint transform nests too deeply";
    return nullptr;
  }
  obj = resolve(obj);
  TPDFDictionary* dict = PDFAsDictionary(obj);
  TPDFStream* stream = PDFAsStream(obj);
  if (stream) dict = stream->GetDictionary();
  if (!dict) {
    why = "tint transform is not a function";
    return nullptr;
  }
  auto f = std::make_unique<TPDFImageTintFunction>();
  f->type_ = static_cast<int>(dict->GetInteger("FunctionType", -1));
  if (!ReadNumbers(dict->GetValue("Domain"), resolve, f->domain_) || f->domain_.size() < 2 || f->domain_.size() % 2 ||
      f->domain_.size() / 2 > kMaxComponents) {
    why = "tint transform without a usable /Domain";
    return nullptr;
  }
  ReadNumbers(dict->GetValue("Range"), resolve, f->range_);
  if (f->range_.size() % 2 || f->range_.size() / 2 > kMaxComponents) f->range_.clear();
  switch (f->type_) {
    case 0: {
      if (!stream || f->range_.empty()) break;
      std::vector<double> size;
      if (!ReadNumbers(dict->GetValue("Size"), resolve, size) || static_cast<int>(size.size()) != f->Inputs()) break;
      f->outputs_ = static_cast<int>(f->range_.size() / 2);
      int64_t points = 1;
      for (double s : size) {
        if (s < 1 || s > kMaxSampleTable) return why = "sampled function with a bad /Size", nullptr;
        f->size_.push_back(static_cast<int32_t>(s));
        points *= static_cast<int64_t>(s);
        if (points * f->outputs_ > kMaxSampleTable) return why = "sampled function too large", nullptr;
      }
      f->bits_ = static_cast<int32_t>(dict->GetInteger("BitsPerSample", 0));
      if (f->bits_ != 1 && f->bits_ != 2 && f->bits_ != 4 && f->bits_ != 8 && f->bits_ != 12 && f->bits_ != 16 &&
          f->bits_ != 24 && f->bits_ != 32)
        return why = "sampled function with bad /BitsPerSample", nullptr;
      if (!ReadNumbers(dict->GetValue("Encode"), resolve, f->encode_) || f->encode_.size() != size.size() * 2) {
        f->encode_.clear();
        for (double s : size) f->encode_.insert(f->encode_.end(), {0.0, s - 1});
      }
      if (!ReadNumbers(dict->GetValue("Decode"), resolve, f->decode_) || f->decode_.size() != f->range_.size())
        f->decode_ = f->range_;
      TPDFDecodeStatus st;
      std::string data = stream->GetDecodedData(&st);
      const int64_t count = points * f->outputs_;
      f->samples_.resize(static_cast<size_t>(count), 0.0);
      const double maxv = std::ldexp(1.0, f->bits_) - 1;
      uint64_t buf = 0;
      int have = 0;
      size_t pos = 0;
      for (int64_t i = 0; i < count; ++i) {
        while (have < f->bits_) {
          buf = (buf << 8) | (pos < data.size() ? static_cast<uint8_t>(data[pos]) : 0);
          ++pos;
          have += 8;
        }
        uint64_t v = (buf >> (have - f->bits_)) & ((uint64_t(1) << f->bits_) - 1);
        have -= f->bits_;
        f->samples_[static_cast<size_t>(i)] = static_cast<double>(v) / maxv;
      }
      return f;
    }
    case 2: {
      if (f->Inputs() != 1) break;
      if (!ReadNumbers(dict->GetValue("C0"), resolve, f->c0_)) f->c0_ = {0.0};
      if (!ReadNumbers(dict->GetValue("C1"), resolve, f->c1_)) f->c1_ = {1.0};
      if (f->c0_.size() != f->c1_.size() || f->c0_.empty() || f->c0_.size() > kMaxComponents) break;
      f->n_ = dict->GetNumber("N", 1);
      f->outputs_ = static_cast<int>(f->c0_.size());
      return f;
    }
    case 3: {
      if (f->Inputs() != 1) break;
      TPDFArray* fns = PDFAsArray(resolve(dict->GetValue("Functions")));
      if (!fns || fns->GetCount() < 1 || fns->GetCount() > 256) break;
      for (TPDFObject* item : fns->Items()) {
        auto part = Load(item, resolve, why, depth + 1);
        if (!part || part->Inputs() != 1) return why.empty() ? (why = "bad stitched function", nullptr) : nullptr;
        if (f->outputs_ && part->outputs_ != f->outputs_) return why = "stitched functions disagree", nullptr;
        f->outputs_ = part->outputs_;
        f->parts_.push_back(std::move(part));
      }
      if (!ReadNumbers(dict->GetValue("Bounds"), resolve, f->bounds_) || f->bounds_.size() + 1 != f->parts_.size())
        break;
      if (!ReadNumbers(dict->GetValue("Encode"), resolve, f->encode_) || f->encode_.size() != 2 * f->parts_.size())
        break;
      return f;
    }
    default:
      why = "tint transform of function type " + std::to_string(f->type_) + " is not supported here";
      return nullptr;
  }
  if (why.empty()) why = "tint transform of type " + std::to_string(f->type_) + " is malformed";
  return nullptr;
}

void TPDFImageTintFunction::Evaluate(const double* in, double* out) const {
  const int m = Inputs();
  double x[kMaxComponents];
  for (int i = 0; i < m; ++i) x[i] = Clip(std::isfinite(in[i]) ? in[i] : 0, domain_[2 * i], domain_[2 * i + 1]);
  switch (type_) {
    case 0: {
      // Multilinear interpolation over the 2^m corners of the cell.
      int32_t lo[kMaxComponents];
      double frac[kMaxComponents];
      for (int i = 0; i < m; ++i) {
        double d0 = domain_[2 * i], d1 = domain_[2 * i + 1];
        double e = d1 == d0 ? encode_[2 * i]
                            : encode_[2 * i] + (x[i] - d0) * (encode_[2 * i + 1] - encode_[2 * i]) / (d1 - d0);
        e = Clip(e, 0, size_[i] - 1);
        lo[i] = static_cast<int32_t>(std::floor(e));
        if (lo[i] >= size_[i] - 1) lo[i] = std::max(0, size_[i] - 2);
        frac[i] = size_[i] == 1 ? 0 : e - lo[i];
      }
      for (int o = 0; o < outputs_; ++o) out[o] = 0;
      const int corners = m <= 8 ? (1 << m) : 1;  // very wide domains: nearest sample only
      for (int c = 0; c < corners; ++c) {
        double w = 1;
        int64_t index = 0, stride = 1;
        for (int i = 0; i < m; ++i) {
          int bit = m <= 8 ? (c >> i) & 1 : (frac[i] >= 0.5 ? 1 : 0);
          int32_t p = std::min(lo[i] + bit, size_[i] - 1);
          if (m <= 8) w *= bit ? frac[i] : 1 - frac[i];
          index += p * stride;
          stride *= size_[i];
        }
        if (w == 0) continue;
        for (int o = 0; o < outputs_; ++o) out[o] += w * samples_[static_cast<size_t>(index * outputs_ + o)];
      }
      for (int o = 0; o < outputs_; ++o)
        out[o] =
            Clip(decode_[2 * o] + out[o] * (decode_[2 * o + 1] - decode_[2 * o]), range_[2 * o], range_[2 * o + 1]);
      return;
    }
    case 2: {
      double p = std::pow(x[0], n_);
      if (!std::isfinite(p)) p = 0;
      for (int o = 0; o < outputs_; ++o) {
        out[o] = c0_[o] + p * (c1_[o] - c0_[o]);
        if (range_.size() >= 2 * size_t(o) + 2) out[o] = Clip(out[o], range_[2 * o], range_[2 * o + 1]);
      }
      return;
    }
    case 3: {
      size_t k = 0;
      while (k < bounds_.size() && x[0] >= bounds_[k]) ++k;
      double lo = k == 0 ? domain_[0] : bounds_[k - 1];
      double hi = k == bounds_.size() ? domain_[1] : bounds_[k];
      double e =
          hi == lo ? encode_[2 * k] : encode_[2 * k] + (x[0] - lo) * (encode_[2 * k + 1] - encode_[2 * k]) / (hi - lo);
      parts_[k]->Evaluate(&e, out);
      for (int o = 0; o < outputs_; ++o)
        if (range_.size() >= 2 * size_t(o) + 2) out[o] = Clip(out[o], range_[2 * o], range_[2 * o + 1]);
      return;
    }
  }
}

void CMYKToRGB(double c, double m, double y, double k, uint8_t* rgb) {
  c = Clip(c, 0, 1), m = Clip(m, 0, 1), y = Clip(y, 0, 1), k = Clip(k, 0, 1);
  rgb[0] = ToByte((1 - c) * (1 - k));
  rgb[1] = ToByte((1 - m) * (1 - k));
  rgb[2] = ToByte((1 - y) * (1 - k));
}

void LabToRGB(double L, double a, double b, const double wp[3], uint8_t* rgb) {
  auto finv = [](double t) { return t > 6.0 / 29 ? t * t * t : 3 * (6.0 / 29) * (6.0 / 29) * (t - 4.0 / 29); };
  double fy = (L + 16) / 116;
  double X = wp[0] * finv(fy + a / 500), Y = wp[1] * finv(fy), Z = wp[2] * finv(fy - b / 200);
  // XYZ (D50 white) to linear sRGB through the Bradford-adapted matrix.
  double r = 3.1338561 * X - 1.6168667 * Y - 0.4906146 * Z;
  double g = -0.9787684 * X + 1.9161415 * Y + 0.0334540 * Z;
  double bl = 0.0719453 * X - 0.2289914 * Y + 1.4052427 * Z;
  auto gamma = [](double v) {
    v = Clip(v, 0, 1);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  };
  rgb[0] = ToByte(gamma(r)), rgb[1] = ToByte(gamma(g)), rgb[2] = ToByte(gamma(bl));
}

void TPDFImageColorSpace::ToRGB(const double* c, uint8_t* rgb) const {
  switch (Family) {
    case cfGray:
      rgb[0] = rgb[1] = rgb[2] = ToByte(c[0]);
      return;
    case cfRGB:
      rgb[0] = ToByte(c[0]), rgb[1] = ToByte(c[1]), rgb[2] = ToByte(c[2]);
      return;
    case cfCMYK:
      CMYKToRGB(c[0], c[1], c[2], c[3], rgb);
      return;
    case cfLab:
      LabToRGB(Clip(c[0], 0, 100), Clip(c[1], Range[0], Range[1]), Clip(c[2], Range[2], Range[3]), WhitePoint, rgb);
      return;
    case cfIndexed: {
      double v = std::isfinite(c[0]) ? std::round(c[0]) : 0;
      if (Hival < 0) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
      }
      int32_t i = static_cast<int32_t>(Clip(v, 0, Hival));
      rgb[0] = Palette[3 * size_t(i)], rgb[1] = Palette[3 * size_t(i) + 1], rgb[2] = Palette[3 * size_t(i) + 2];
      return;
    }
    case cfSeparation:
    case cfDeviceN: {
      double out[kMaxComponents] = {};
      if (Tint && Alternate && Tint->Outputs() >= Alternate->Components) {
        Tint->Evaluate(c, out);
        Alternate->ToRGB(out, rgb);
      } else {
        rgb[0] = rgb[1] = rgb[2] = 0;
      }
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
      return {0, 100, Range[0], Range[1], Range[2], Range[3]};
    case cfIndexed:
      return {0, std::ldexp(1.0, std::min(bits, 16)) - 1};
    default:
      for (int i = 0; i < Components; ++i) d.insert(d.end(), {0.0, 1.0});
      return d;
  }
}

bool TPDFImageColorSpace::BuildPalette() {
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
    Base->ToRGB(comps, &Palette[3 * size_t(i)]);
  }
  return true;
}
