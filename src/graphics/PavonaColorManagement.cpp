#include "graphics/PavonaColorManagement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/PavonaJPEG.h"
#include "objects/PavonaExtra.h"

namespace {

double clip01(double v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v > 1) return 1;
  return v;
}

uint32_t toByte(double v) { return static_cast<uint32_t>(std::nearbyint(clip01(v) * 255.0)); }

double finiteOrZero(double v) { return std::isfinite(v) ? v : 0.0; }

std::string number3(double v) { return FormatPDFNumber(3, finiteOrZero(v)) + " "; }

}  // namespace

uint32_t PackRGBColor(double r, double g, double b) { return toByte(r) | (toByte(g) << 8) | (toByte(b) << 16); }

// ---------------------------------------------------------------------------
// TPDFSimpleColorManager

void TPDFSimpleColorManager::CMYKToRGB(std::span<const double, 4> cmyk, std::span<double, 3> rgb) {
  const double C = cmyk[0], M = cmyk[1], Y = cmyk[2], K = cmyk[3];
  if (cmykMethod_ == cmykPolynomial) {
    // The same polynomial as the JPEG decoder's CMYK conversion.
    std::array<double, 3> out;
    DefaultCMYKToRGB({C, M, Y, K}, out);
    std::copy(out.begin(), out.end(), rgb.begin());
  } else {
    rgb[0] = 1 - std::min(K + C * (1 - K), 1.0);
    rgb[1] = 1 - std::min(K + M * (1 - K), 1.0);
    rgb[2] = 1 - std::min(K + Y * (1 - K), 1.0);
  }
}

uint32_t TPDFSimpleColorManager::RGBToColor(std::span<const double, 3> rgb) {
  return PackRGBColor(rgb[0], rgb[1], rgb[2]);
}

void TPDFSimpleColorManager::LabToRGB(std::span<const double, 3> lab, std::span<double, 3> rgb) {
  double L = finiteOrZero(lab[0]);
  double a = finiteOrZero(lab[1]);
  double b = finiteOrZero(lab[2]);
  L = std::clamp(L, 0.0, 100.0);
  if (a < aMin_) a = aMin_;
  if (a > aMax_) a = aMax_;
  if (b < bMin_) b = bMin_;
  if (b > bMax_) b = bMax_;
  const double fy = (L + 16) / 116;
  const double fx = fy + a / 500;
  const double fz = fy - b / 200;
  auto g = [](double t) { return t >= 6.0 / 29.0 ? t * t * t : (t - 4.0 / 29.0) * 108.0 / 841.0; };
  const double xyz[3] = {Xw_ * g(fx), Yw_ * g(fy), Zw_ * g(fz)};
  XYZToRGB(xyz, rgb);
}

void TPDFSimpleColorManager::XYZToRGB(std::span<const double, 3> xyz, std::span<double, 3> rgb) const {
  const double X = xyz[0], Y = xyz[1], Z = xyz[2];
  double v[3] = {2.0416 * X - 0.565 * Y - 0.3447 * Z, -0.9692 * X + 1.876 * Y + 0.0416 * Z,
                 0.0134 * X - 0.1184 * Y + 1.0152 * Z};
  for (int i = 0; i < 3; ++i) {
    double c = v[i] <= 0.0031308 ? v[i] * 12.92 : 1.055 * std::pow(v[i], 1.0 / 2.4) - 0.055;
    rgb[i] = clip01(c);
  }
}

bool TPDFSimpleColorManager::SetWhitePoint(double Xw, double Yw, double Zw) {
  if (Xw > 0 && Yw == 1 && Zw > 0 && std::isfinite(Xw) && std::isfinite(Zw)) {
    Xw_ = Xw;
    Yw_ = Yw;
    Zw_ = Zw;
    return true;
  }
  Xw_ = 0.9505;
  Yw_ = 1.0;
  Zw_ = 1.089;
  return false;
}

void TPDFSimpleColorManager::SetLabRange(double aMin, double aMax, double bMin, double bMax) {
  aMin_ = aMin;
  aMax_ = aMax;
  bMin_ = bMin;
  bMax_ = bMax;
}

// ---------------------------------------------------------------------------
// Lab

namespace {

TPDFObject* resolveWith(const TPDFObjectLookup& lookup, TPDFObject* obj) {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) return lookup ? lookup(ref) : ref->Resolve();
  return obj;
}

// The array's numbers when it holds exactly count numbers.
bool readExactNumbers(TPDFObject* obj, size_t count, double* out) {
  TPDFArray* array = PDFAsArray(obj);
  if (!array || static_cast<size_t>(array->GetCount()) != count) return false;
  for (size_t i = 0; i < count; ++i) {
    TPDFNumeric* n = PDFAsNumeric(array->GetItem(static_cast<int32_t>(i)));
    if (!n || !std::isfinite(n->GetValue())) return false;
    out[i] = n->GetValue();
  }
  return true;
}

}  // namespace

void TPDFLabColorSpace::Load(TPDFArray* array) {
  if (!array || array->GetCount() < 2) return;
  TPDFDictionary* dict = PDFAsDictionary(resolveWith(OnLookupObject, array->GetItem(1)));
  if (!dict) return;
  double white[3];
  if (readExactNumbers(resolveWith(OnLookupObject, dict->GetValue("WhitePoint")), 3, white)) {
    WhiteX = white[0];
    WhiteY = white[1];
    WhiteZ = white[2];
  }
  AMin = -100;
  AMax = 100;
  BMin = -100;
  BMax = 100;
  double range[4];
  if (readExactNumbers(resolveWith(OnLookupObject, dict->GetValue("Range")), 4, range)) {
    AMin = range[0];
    AMax = range[1];
    BMin = range[2];
    BMax = range[3];
  }
}

double TPDFLabColorSpace::ScaleA(double v, double max) const {
  if (max == 0) return AMin;
  return AMin + (AMax - AMin) * v / max;
}

double TPDFLabColorSpace::ScaleB(double v, double max) const {
  if (max == 0) return BMin;
  return BMin + (BMax - BMin) * v / max;
}

uint32_t CalibratedToRGB(const TPDFLabColorSpace& labSpace, std::span<const double, 3> lab, TPDFColorManager* manager) {
  if (!manager) return 0;
  if (auto* simple = dynamic_cast<TPDFSimpleColorManager*>(manager)) {
    simple->SetWhitePoint(labSpace.WhiteX, labSpace.WhiteY, labSpace.WhiteZ);
    simple->SetLabRange(labSpace.AMin, labSpace.AMax, labSpace.BMin, labSpace.BMax);
  }
  double rgb[3];
  manager->LabToRGB(lab, rgb);
  return manager->RGBToColor(rgb);
}

std::string EscapePostScriptString(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    uint8_t c = static_cast<uint8_t>(ch);
    if (c == '(' || c == ')' || c == '\\') {
      out.push_back('\\');
      out.push_back(ch);
    } else if (c < 32 || c >= 127) {
      char buf[5];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      out += buf;
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Separation and DeviceN

TPDFObject* TPDFSpotColorSpace::resolve(TPDFObject* obj) const { return resolveWith(OnLookupObject, obj); }

void TPDFSpotColorSpace::loadCommon(TPDFArray* array, std::string_view name) {
  name_ = name;
  alternate_.clear();
  colorant_.clear();
  labSpace_.reset();
  tintTransform_.reset();
  cache_.clear();
  color_ = 0;
  postScript_.clear();
  if (!array) return;

  TPDFObject* alt = resolve(array->GetItem(2));
  if (TPDFName* altName = PDFAsName(alt)) {
    alternate_ = altName->GetValue();
  } else if (TPDFArray* altArray = PDFAsArray(alt)) {
    if (TPDFName* first = PDFAsName(resolve(altArray->GetItem(0)))) alternate_ = first->GetValue();
    if (alternate_ == "ICCBased" && altArray->GetCount() > 1) {
      TPDFObject* profile = resolve(altArray->GetItem(1));
      TPDFDictionary* dict = nullptr;
      if (TPDFStream* s = PDFAsStream(profile)) dict = s->GetDictionary();
      if (!dict) dict = PDFAsDictionary(profile);
      if (dict) {
        TPDFName* inner = PDFAsName(resolve(dict->GetValue("Alternate")));
        if (inner) {
          alternate_ = inner->GetValue();
        } else {
          TPDFNumeric* n = PDFAsNumeric(resolve(dict->GetValue("N")));
          double components = n ? n->GetValue() : 0;
          if (components == 1) alternate_ = "DeviceGray";
          if (components == 3) alternate_ = "DeviceRGB";
          if (components == 4) alternate_ = "DeviceCMYK";
        }
      }
    } else if (alternate_ == "Lab" && altArray->GetCount() > 1) {
      labSpace_ = std::make_unique<TPDFLabColorSpace>();
      labSpace_->OnLookupObject = OnLookupObject;
      labSpace_->Load(altArray);
    }
  }

  if (array->GetCount() > 3) {
    try {
      tintTransform_ = CreatePDFFunction(resolve(array->GetItem(3)));
    } catch (const EPDFFunctionError&) {
      // A malformed tint transform is treated as none: the colour shows as
      // the documented fallback rather than failing the whole page.
      tintTransform_.reset();
    }
  }
}

bool TPDFSpotColorSpace::fromCache(const std::string& key) {
  auto it = cache_.find(key);
  if (it == cache_.end()) return false;
  color_ = it->second.color;
  postScript_ = it->second.postScript;
  return true;
}

void TPDFSpotColorSpace::remember(const std::string& key) {
  if (cache_.size() >= kMaxCachedColors) cache_.clear();
  cache_.emplace(key, TCachedColor{color_, postScript_});
}

bool TPDFSpotColorSpace::alternateIsRGBLike() const {
  return alternate_ == "DeviceRGB" || alternate_ == "CalRGB" || alternate_ == "ICCBased";
}

void TPDFSeparationColorSpace::Load(TPDFArray* array, std::string_view name) {
  loadCommon(array, name);
  if (array) {
    if (TPDFName* colorant = PDFAsName(resolve(array->GetItem(1)))) colorant_ = colorant->GetValue();
  }
}

namespace {

// Evaluates f, turning an evaluation failure into false.
bool evaluate(const TPDFFunction& f, std::span<const double> in, std::vector<double>& out) {
  try {
    f.Evaluate(in, out);
    return true;
  } catch (const EPDFFunctionError&) {
    return false;
  }
}

uint32_t packWith(TPDFColorManager* manager, const double rgb[3]) {
  if (manager) return manager->RGBToColor(std::span<const double, 3>(rgb, 3));
  return PackRGBColor(rgb[0], rgb[1], rgb[2]);
}

}  // namespace

// Tints through the transform into an RGB-like, Lab or gray alternate give
// the colour and a setrgbcolor text; other alternates leave both as they are.
void TPDFSpotColorSpace::applyRGBOrGrayAlternate(const TPDFFunction& f, std::span<const double> in, int32_t outputs) {
  std::vector<double> out;
  if (outputs == 3 && (alternateIsRGBLike() || alternate_ == "Lab")) {
    if (evaluate(f, in, out)) {
      double rgb[3] = {out[0], out[1], out[2]};
      if (alternate_ == "Lab" && manager_) manager_->LabToRGB(std::span<const double, 3>(out.data(), 3), rgb);
      color_ = packWith(manager_, rgb);
      postScript_ = number3(rgb[0]) + number3(rgb[1]) + number3(rgb[2]) + "setrgbcolor";
    }
  } else if (outputs == 1 && alternate_ == "DeviceGray") {
    if (evaluate(f, in, out)) {
      double rgb[3] = {out[0], out[0], out[0]};
      color_ = packWith(manager_, rgb);
      postScript_ = number3(out[0]) + number3(out[0]) + number3(out[0]) + "setrgbcolor";
    }
  }
}

void TPDFSeparationColorSpace::GetPostScript(double tint) {
  tint = finiteOrZero(tint);
  if (tint == 0) tint = 0;  // one key for 0 and -0
  std::string key(sizeof(double), '\0');
  std::memcpy(key.data(), &tint, sizeof(double));
  if (fromCache(key)) return;

  color_ = 0;
  postScript_ = "0.5 setgray";
  const TPDFFunction* f = tintTransform_.get();
  if (f && f->GetInputCount() == 1) {
    const int32_t outputs = f->GetOutputCount();
    std::vector<double> out;
    const double in[1] = {tint};
    if (outputs == 4 && alternate_ == "DeviceCMYK") {
      std::vector<double> full;
      const double one[1] = {1.0};
      if (evaluate(*f, in, out) && evaluate(*f, one, full)) {
        double rgb[3] = {0, 0, 0};
        if (manager_) {
          manager_->CMYKToRGB(std::span<const double, 4>(out.data(), 4), rgb);
        } else {
          TPDFSimpleColorManager().CMYKToRGB(std::span<const double, 4>(out.data(), 4), rgb);
        }
        color_ = packWith(manager_, rgb);
        postScript_ = number3(full[0]) + number3(full[1]) + number3(full[2]) + number3(full[3]) + "(" +
                      EscapePostScriptString(colorant_) + ") findcmykcustomcolor " + number3(tint) + "setcustomcolor";
      }
    } else {
      applyRGBOrGrayAlternate(*f, in, outputs);
    }
  }
  remember(key);
}

void TPDFDeviceNColorSpace::Load(TPDFArray* array, std::string_view name) {
  loadCommon(array, name);
  colorantCount_ = 0;
  if (!array) return;
  TPDFArray* names = PDFAsArray(resolve(array->GetItem(1)));
  if (!names) return;
  colorantCount_ = names->GetCount();
  std::string text = "[";
  for (int32_t i = 0; i < names->GetCount(); ++i) {
    if (i > 0) text += ",";
    if (TPDFName* n = PDFAsName(resolve(names->GetItem(i)))) text += n->GetValue();
  }
  text += "]";
  colorant_ = text;
}

void TPDFDeviceNColorSpace::GetPostScript(std::span<const double> tints) {
  std::string key;
  std::vector<double> in(tints.begin(), tints.end());
  for (double& t : in) {
    t = finiteOrZero(t);
    key += number3(t);
  }
  if (fromCache(key)) return;

  color_ = 0;
  postScript_ = "0.5 setgray";
  const TPDFFunction* f = tintTransform_.get();
  if (f && !in.empty() && static_cast<size_t>(f->GetInputCount()) == in.size()) {
    const int32_t outputs = f->GetOutputCount();
    std::vector<double> out;
    if (outputs == 4 && alternate_ == "DeviceCMYK") {
      std::vector<double> full;
      std::vector<double> firstFull = in;
      firstFull[0] = 1.0;
      if (evaluate(*f, in, out) && evaluate(*f, firstFull, full)) {
        TPDFSimpleColorManager simple;
        simple.SetCMYKMethod(cmykSimple);
        double rgb[3];
        simple.CMYKToRGB(std::span<const double, 4>(out.data(), 4), rgb);
        color_ = packWith(manager_, rgb);
        std::string text = number3(full[0]) + number3(full[1]) + number3(full[2]) + number3(full[3]) + "(" +
                           EscapePostScriptString(colorant_) + ") findcmykcustomcolor ";
        for (double t : in) text += number3(t);
        postScript_ = text + "setcustomcolor";
      }
    } else {
      applyRGBOrGrayAlternate(*f, in, outputs);
    }
  }
  remember(key);
}
