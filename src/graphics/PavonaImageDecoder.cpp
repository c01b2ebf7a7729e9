// Image XObject decoding: the image dictionary, colour spaces, filters,
// masks and drawing onto three device points.
#include "graphics/PavonaImageDecoder.h"

#include <algorithm>
#include <cmath>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaImageDecoderInternal.h"
#include "graphics/PavonaMatrix.h"
#include "objects/PavonaFlate.h"

namespace {

constexpr int kMaxColorSpaceDepth = 8;
constexpr int kMaxMaskDepth = 2;
constexpr int kMaxFilters = 64;

}  // namespace

TPDFImageDecoder::TPDFImageDecoder()
    : ownManager_(std::make_unique<TPDFSimpleColorManager>()),
      manager_(ownManager_.get()),
      bitmap_(std::make_unique<TBitmap>()) {
  settings_.LibraryName = "gdiplus.dll";
  settings_.AntiAlias = settings_.DrawPagesWithGdiPlus = settings_.Switch3 = settings_.ImageQuality = 1;
}

TPDFImageDecoder::~TPDFImageDecoder() = default;

void TPDFImageDecoder::SetColorManager(TPDFSimpleColorManager* manager) {
  if (!manager) {
    if (!ownManager_) ownManager_ = std::make_unique<TPDFSimpleColorManager>();
    manager_ = ownManager_.get();
    return;
  }
  ownManager_.reset();
  manager_ = manager;
}

int64_t TPDFImageDecoder::PixelLimit() { return std::min(MaxImagePixels, TBitmap::MaxPixels()); }

void TPDFImageDecoder::Fail(const std::string& why) {
  ready_ = false;
  if (error_.empty()) error_ = why;
}

TPDFObject* TPDFImageDecoder::Resolve(TPDFObject* obj) const {
  // Chains of references are followed a few steps only (a reference to itself is no value).
  for (int i = 0; i < 8 && obj; ++i) {
    TPDFIndRef* ref = PDFAsIndRef(obj);
    if (!ref) return obj;
    obj = OnLookupObject ? OnLookupObject(ref) : ref->Resolve();
  }
  return PDFAsIndRef(obj) ? nullptr : obj;
}

void TPDFImageDecoder::SetImage(TPDFStream* image) {
  if (!image || !image->GetDictionary()) return;
  image_ = image;
  owner_ = image->GetOwner();
  try {
    ReadImageDictionary(image->GetDictionary());
  } catch (const ECCITTError&) {
    throw;
  } catch (const std::exception& e) {
    Fail(std::string("image could not be decoded: ") + e.what());
  }
}

bool TPDFImageDecoder::CheckGeometry(int components, int bits) {
  if (width_ <= 0 || height_ <= 0) return Fail("image without a positive /Width and /Height"), false;
  if (width_ > MaxImageSide || height_ > MaxImageSide || int64_t(width_) * height_ > PixelLimit())
    return Fail("image of " + std::to_string(width_) + " x " + std::to_string(height_) + " pixels is too large"), false;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16)
    return Fail("/BitsPerComponent " + std::to_string(bits) + " is not 1, 2, 4, 8 or 16"), false;
  if (components < 1 || components > 32) return Fail("unsupported colour space"), false;
  return true;
}

void TPDFImageDecoder::ReadImageDictionary(TPDFDictionary* dict) {
  auto number = [&](std::string_view key) -> int32_t {
    TPDFNumeric* n = PDFAsNumeric(Resolve(dict->GetValue(key)));
    if (!n) return 0;
    double v = n->GetValue();
    if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) return 0;
    return static_cast<int32_t>(n->AsInteger());
  };
  width_ = number("Width");
  height_ = number("Height");
  bpc_ = number("BitsPerComponent");
  TPDFObject* decode = Resolve(dict->GetValue("Decode"));
  decodeText_ = PDFAsArray(decode) ? TextOf(decode) : std::string();
  decode_.clear();
  ReadNumberArray(decode, decode_);
  TPDFObject* parms = Resolve(dict->GetValue("DecodeParms"));
  if (PDFAsDictionary(parms))
    decodeParmsText_ = "[ " + TextOf(parms) + " ]";
  else
    decodeParmsText_ = PDFAsArray(parms) ? TextOf(parms) : std::string();

  TPDFBoolean* imageMask = PDFAsBoolean(Resolve(dict->GetValue("ImageMask")));
  // A stencil has one bit per sample; /BitsPerComponent may be left out.
  if (imageMask && imageMask->GetValue() && (bpc_ == 1 || bpc_ == 0)) {
    bpc_ = 1;
    imageMaskFlag_ = true;
    colorSpaceName_ = "DeviceGray";
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Family = TPDFImageColorSpace::cfGray;
    colorSpace_->Components = 1;
    if (!isMaskDecoder_) maskKind_ = imkStencil;
  } else {
    colorSpaceName_ = ParseColorSpace(dict->GetValue("ColorSpace"));
  }
  if (softMaskDecoder_ && !imageMaskFlag_) {
    // A soft mask is one grey sample a pixel whatever its dictionary says or
    // leaves out; read otherwise it was lost and its picture drawn as an
    // unmasked box.
    if (bpc_ == 0) bpc_ = 8;
    if (!colorSpace_ || colorSpace_->Components != 1 || colorSpace_->Family == TPDFImageColorSpace::cfIndexed) {
      colorSpaceName_ = "DeviceGray";
      colorSpace_ = std::make_unique<TPDFImageColorSpace>();
      colorSpace_->Family = TPDFImageColorSpace::cfGray;
      colorSpace_->Components = 1;
      error_.clear();
    }
  }
  smaskInData_ = number("SMaskInData");
  ReadNumberArray(dict->GetValue("Matte"), imageMatte_);
  filterText_ = TextOf(Resolve(dict->GetValue("Filter")));
  data_ = image_->GetData();

  if (!isMaskDecoder_ && maskKind_ != imkStencil) {
    TPDFObject* smask = dict->GetValue("SMask");
    if (PDFAsStream(Resolve(smask))) ReadMask(smask, true);
    if (maskKind_ == imkNone) {
      TPDFObject* mask = dict->GetValue("Mask");
      TPDFObject* value = Resolve(mask);
      if (PDFAsStream(value)) {
        ReadMask(mask, false);
      } else if (PDFAsArray(value)) {
        ReadNumberArray(value, colorKey_);
        if (!colorKey_.empty()) maskKind_ = imkColorKey;
      }
    }
  }
  ApplyFilters(Resolve(dict->GetValue("Filter")), parms);
}

void TPDFImageDecoder::ReadNumberArray(TPDFObject* value, std::vector<double>& out) const {
  // Entries that are not numbers count as 0.
  out.clear();
  if (TPDFArray* a = PDFAsArray(Resolve(value)))
    for (TPDFObject* item : a->Items()) {
      TPDFNumeric* n = PDFAsNumeric(Resolve(item));
      out.push_back(n && std::isfinite(n->GetValue()) ? n->GetValue() : 0.0);
    }
}

std::string TPDFImageDecoder::ParseColorSpace(TPDFObject* value) {
  std::string why;
  std::function<std::unique_ptr<TPDFImageColorSpace>(TPDFObject*, std::string&, int)> build =
      [&](TPDFObject* v, std::string& name, int depth) -> std::unique_ptr<TPDFImageColorSpace> {
    name.clear();
    if (depth > kMaxColorSpaceDepth) return nullptr;
    TPDFObject* ref = v;
    v = Resolve(v);
    auto cs = std::make_unique<TPDFImageColorSpace>();
    auto device = [&](const std::string& n) -> std::unique_ptr<TPDFImageColorSpace> {
      if (n == "DeviceGray" || n == "G" || n == "CalGray") {
        name = "DeviceGray", cs->Family = TPDFImageColorSpace::cfGray, cs->Components = 1;
      } else if (n == "DeviceRGB" || n == "RGB" || n == "CalRGB") {
        name = "DeviceRGB", cs->Family = TPDFImageColorSpace::cfRGB, cs->Components = 3;
      } else if (n == "DeviceCMYK" || n == "CMYK") {
        name = "DeviceCMYK", cs->Family = TPDFImageColorSpace::cfCMYK, cs->Components = 4;
      } else {
        name = n;  // unresolved names stay as they are, without a colour space
        return nullptr;
      }
      return std::move(cs);
    };
    if (TPDFName* n = PDFAsName(v)) return device(n->GetValue());
    TPDFArray* a = PDFAsArray(v);
    if (!a || a->GetCount() == 0) return nullptr;
    TPDFName* family = PDFAsName(Resolve(a->GetItem(0)));
    if (!family) return nullptr;
    const std::string& f = family->GetValue();
    if (f == "DeviceGray" || f == "CalGray" || f == "G") return device("DeviceGray");
    if (f == "DeviceRGB" || f == "CalRGB" || f == "RGB") return device("DeviceRGB");
    if (f == "DeviceCMYK" || f == "CMYK") return device("DeviceCMYK");
    if (f == "Indexed" || f == "I") {
      if (a->GetCount() < 4) return why = "Indexed colour space with fewer than 4 items", nullptr;
      std::string baseName;
      cs->Base = build(a->GetItem(1), baseName, depth + 1);
      indexedBase_ = baseName;
      name = "Indexed";
      TPDFNumeric* hival = PDFAsNumeric(Resolve(a->GetItem(2)));
      double h = hival && std::isfinite(hival->GetValue()) ? hival->GetValue() : -1;
      // At most 256 palette entries.
      cs->Hival = h < 0 ? -1 : static_cast<int32_t>(std::min(255.0, std::floor(h)));
      indexedHival_ = cs->Hival;
      TPDFObject* lookupRef = a->GetItem(3);
      TPDFObject* lookup = Resolve(lookupRef);
      if (TPDFString* s = PDFAsString(lookup)) {
        cs->Lookup = s->GetValue();
      } else if (TPDFStream* st = PDFAsStream(lookup)) {
        TPDFIndRef* r = PDFAsIndRef(lookupRef);
        if (r && OnBeforeRead) OnBeforeRead(st, r);
        cs->Lookup = st->GetDecodedData();
        if (r && OnAfterRead) OnAfterRead(st, r);
      }
      indexedLookup_ = cs->Lookup;
      cs->Family = TPDFImageColorSpace::cfIndexed;
      cs->Components = 1;
      if (!cs->Base) return why = "Indexed colour space with an unusable base", nullptr;
      if (!cs->BuildPalette(*manager_)) return why = "Indexed colour space without a palette", nullptr;
      return cs;
    }
    if (f == "ICCBased") {
      TPDFStream* profile = PDFAsStream(Resolve(a->GetItem(1)));
      if (!profile) return nullptr;
      // The space the profile falls back to: /Alternate, else the device
      // space of /N.
      std::unique_ptr<TPDFImageColorSpace> fallback;
      if (TPDFObject* alt = profile->GetDictionary()->GetValue("Alternate")) fallback = build(alt, name, depth + 1);
      if (!fallback) {
        switch (profile->GetDictionary()->GetInteger("N", 0)) {
          case 1: fallback = device("DeviceGray"); break;
          case 3: fallback = device("DeviceRGB"); break;
          case 4: fallback = device("DeviceCMYK"); break;
          default:
            name.clear();
            return why = "ICCBased colour space without /Alternate or a usable /N", nullptr;
        }
      }
      // A device-like fallback gives way to the profile itself when it can
      // be read and has as many components; a damaged profile keeps the
      // fallback.
      const auto family = fallback ? fallback->Family : TPDFImageColorSpace::cfNone;
      if (family == TPDFImageColorSpace::cfGray || family == TPDFImageColorSpace::cfRGB ||
          family == TPDFImageColorSpace::cfCMYK) {
        std::string bytes;
        try {
          TPDFIndRef* r = PDFAsIndRef(a->GetItem(1));
          if (r && OnBeforeRead) OnBeforeRead(profile, r);
          bytes = profile->GetDecodedData();
          if (r && OnAfterRead) OnAfterRead(profile, r);
        } catch (const Exception&) {
          bytes.clear();
        }
        if (auto icc = TICCTransform::Create(bytes, fallback->Components)) {
          fallback->Family = TPDFImageColorSpace::cfICC;
          fallback->Icc = std::move(icc);
        }
      }
      return fallback;
    }
    if (f == "Lab") {
      name = "Lab";
      cs->Family = TPDFImageColorSpace::cfLab;
      cs->Components = 3;
      cs->Lab = std::make_unique<TPDFLabColorSpace>();
      cs->Lab->OnLookupObject = [this](TPDFIndRef* r) { return Resolve(r); };
      cs->Lab->Load(a);
      return cs;
    }
    if (f == "Separation" || f == "DeviceN") {
      const bool sep = f == "Separation";
      name = f;
      if (a->GetCount() < 4) return why = f + " colour space with fewer than 4 items", nullptr;
      if (sep) {
        cs->Components = 1;
      } else {
        TPDFArray* names = PDFAsArray(Resolve(a->GetItem(1)));
        if (!names || names->GetCount() < 1 || names->GetCount() > 32)
          return why = "DeviceN colour space without 1 to 32 colourants", nullptr;
        cs->Components = names->GetCount();
      }
      cs->Family = sep ? TPDFImageColorSpace::cfSeparation : TPDFImageColorSpace::cfDeviceN;
      std::string altName;
      cs->Alternate = build(a->GetItem(2), altName, depth + 1);
      if (!cs->Alternate) return why = f + " colour space with an unusable alternate space", nullptr;
      // The alternate is a device or CIE-based space, never a special one.
      if (cs->Alternate->Family == TPDFImageColorSpace::cfIndexed ||
          cs->Alternate->Family == TPDFImageColorSpace::cfSeparation ||
          cs->Alternate->Family == TPDFImageColorSpace::cfDeviceN)
        return why = f + " colour space with a special colour space as its alternate", nullptr;
      try {
        cs->Tint = CreatePDFFunction(Resolve(a->GetItem(3)));
      } catch (const Exception& e) {
        return why = std::string("tint transform cannot be used: ") + e.what(), nullptr;
      }
      if (!cs->Tint) return why = "tint transform is not a function of type 0, 2, 3 or 4", nullptr;
      if (cs->Tint->GetInputCount() != cs->Components || cs->Tint->GetOutputCount() < cs->Alternate->Components)
        return why = "tint transform does not fit its colour space", nullptr;
      return cs;
    }
    (void)ref;
    return nullptr;
  };
  std::string name;
  colorSpace_ = build(value, name, 0);
  if (!colorSpace_) {
    if (value && !why.empty()) error_ = why;
    // Names of colour spaces we cannot draw are not kept.
    if (name != "Indexed" && name != "Lab" && name != "Separation" && name != "DeviceN") name.clear();
  }
  return name;
}

void TPDFImageDecoder::ReadMask(TPDFObject* value, bool soft) {
  TPDFStream* stream = PDFAsStream(Resolve(value));
  if (!stream || stream == image_ || depth_ >= kMaxMaskDepth) return;
  TPDFImageDecoder nested;
  nested.isMaskDecoder_ = true;
  nested.softMaskDecoder_ = soft;
  nested.SetColorManager(manager_);
  nested.depth_ = depth_ + 1;
  if (soft) {
    nested.OnLookupObject = OnLookupObject;
    nested.OnBeforeRead = OnBeforeRead;
    nested.OnAfterRead = OnAfterRead;
  }
  TPDFIndRef* ref = PDFAsIndRef(value);
  if (soft && ref && OnBeforeRead) OnBeforeRead(stream, ref);
  nested.SetImage(stream);
  if (soft && ref && OnAfterRead) OnAfterRead(stream, ref);
  const TBitmap* gray = nested.GetImageBitmap();
  if (!nested.IsReady() || !gray || gray->Empty()) {
    // A mask that cannot be read leaves the image unmasked, as viewers draw it.
    return;
  }
  // Soft masks give alpha directly; an explicit mask paints where its
  // (decoded) sample is 0.
  const bool invert = !soft;
  mask_ = std::make_unique<TBitmap>(gray->Width(), gray->Height(), TPixelFormat::pf8bit);
  for (int y = 0; y < gray->Height(); ++y) {
    const uint8_t* src = gray->ScanLine(y);
    uint8_t* dst = mask_->ScanLine(y);
    for (int x = 0; x < gray->Width(); ++x) dst[x] = invert ? 255 - src[3 * x] : src[3 * x];
  }
  maskKind_ = soft ? imkSoftMask : imkMask;
  if (soft) ReadNumberArray(stream->GetDictionary()->GetValue("Matte"), softMaskMatte_);
}

void TPDFImageDecoder::Unpremultiply(const std::vector<double>& matte) {
  if (!colorSpace_ || !bitmap_ || !mask_ || mask_->Width() != bitmap_->Width() ||
      mask_->Height() != bitmap_->Height())
    return;
  std::vector<double> comps(size_t(colorSpace_->Components), 0.0);
  std::copy_n(matte.begin(), std::min(matte.size(), comps.size()), comps.begin());
  uint8_t m[3];
  colorSpace_->ToRGB(comps.data(), m, *manager_);
  const int bgr[3] = {m[2], m[1], m[0]};
  for (int y = 0; y < bitmap_->Height(); ++y) {
    uint8_t* p = bitmap_->ScanLine(y);
    const uint8_t* a = mask_->ScanLine(y);
    for (int x = 0; x < bitmap_->Width(); ++x, p += 3) {
      if (a[x] == 0) continue;  // nothing shows: the colour stays as stored
      for (int k = 0; k < 3; ++k) {
        const int v = bgr[k] + (int(p[k]) - bgr[k]) * 255 / int(a[x]);
        p[k] = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
}

void TPDFImageDecoder::ApplyFilters(TPDFObject* filter, TPDFObject* parms) {
  std::vector<TPDFObject*> filters, parmList;
  if (TPDFArray* a = PDFAsArray(filter))
    for (TPDFObject* item : a->Items()) filters.push_back(Resolve(item));
  else if (filter)
    filters.push_back(filter);
  if (TPDFArray* a = PDFAsArray(parms))
    for (TPDFObject* item : a->Items()) parmList.push_back(Resolve(item));
  else if (parms)
    parmList.push_back(parms);
  if (filters.size() > kMaxFilters) return Fail("too many filters");
  parmList.resize(filters.size(), nullptr);

  // The last filter gives the samples, whose size the dictionary tells.
  const uint64_t sampleBytes =
      colorSpace_ && colorSpace_->Components > 0 && colorSpace_->Components <= 32 && width_ > 0 && height_ > 0 &&
              bpc_ > 0 && bpc_ <= 16 && width_ <= MaxImageSide && height_ <= MaxImageSide
          ? (uint64_t(width_) * uint64_t(colorSpace_->Components) * uint64_t(bpc_) + 7) / 8 * uint64_t(height_)
          : 0;
  for (size_t i = 0; i < filters.size(); ++i) {
    TPDFName* n = PDFAsName(filters[i]);
    if (!n) continue;
    const std::string& name = n->GetValue();
    TPDFDictionary* p = PDFAsDictionary(parmList[i]);
    if (name == "DCTDecode" || name == "DCT" || name == "CCITTFaxDecode" || name == "CCF" || name == "JPXDecode" ||
        name == "JBIG2Decode") {
      imageFilter_ = name == "DCT" ? "DCTDecode" : name == "CCF" ? "CCITTFaxDecode" : name;
      if (imageFilter_ == "JBIG2Decode") {
        jbig2Globals_ = p ? PDFAsIndRef(p->GetValue("JBIG2Globals")) : nullptr;
      }
      imageFilterParms_ = p;
      continue;
    }
    TPDFDecodeStatus status = TPDFDecodeStatus::dsOk;
    if (name == "RunLengthDecode" || name == "RL")
      data_ = RunLengthDecodeString(data_, &status);
    else
      data_ = DecodeFilter(name, data_, p, &status, i + 1 == filters.size() ? static_cast<size_t>(sampleBytes) : 0);
    if (status == TPDFDecodeStatus::dsFailed || status == TPDFDecodeStatus::dsTooLarge)
      return Fail("filter " + name + " could not decode the image data");
  }

  DecodeImageData();
  if (ready_ && maskKind_ == imkSoftMask && !softMaskMatte_.empty()) Unpremultiply(softMaskMatte_);
}

void TPDFImageDecoder::DecodeImageData() {
  if (imageFilter_.empty())
    UnpackOrKeepBilevel();
  else if (imageFilter_ == "DCTDecode")
    DecodeDCT();
  else if (imageFilter_ == "CCITTFaxDecode")
    DecodeCCITT(PDFAsDictionary(imageFilterParms_));
  else if (imageFilter_ == "JPXDecode")
    DecodeJPX();
  else if (imageFilter_ == "JBIG2Decode") {
    std::string globals;
    if (TPDFStream* g = PDFAsStream(Resolve(jbig2Globals_))) globals = g->GetDecodedData();
    DecodeJBIG2(globals);
  }
}

void TPDFImageDecoder::UnpackOrKeepBilevel() {
  // Masks read for another image, colour keys and matte colours need the
  // unpacked picture; everything else of one 1-bit component stays packed.
  const bool packed = KeepBilevel && !isMaskDecoder_ && bpc_ == 1 && colorSpace_ && colorSpace_->Components == 1 &&
                      maskKind_ != imkColorKey && imageMatte_.empty() && softMaskMatte_.empty();
  if (!packed) {
    UnpackOrKeepSamples();
    return;
  }
  ready_ = false;
  if (!CheckGeometry(1, 1)) return;
  // The same refusal as unpacking: a large picture is not made of a few bytes.
  const int64_t expected = (int64_t(width_) + 7) / 8 * height_;
  const int64_t have = static_cast<int64_t>(data_.size());
  if (expected > (int64_t(4) << 20) && have < expected / 8)
    return Fail("image data hold " + std::to_string(have) + " of " + std::to_string(expected) + " bytes");
  std::vector<double> dec = colorSpace_->DefaultDecode(1);
  if (decode_.size() >= 2 && dec.size() >= 2) std::copy(decode_.begin(), decode_.begin() + 2, dec.begin());
  for (int v = 0; v < 2; ++v) {
    double c = dec[0] + v * (dec[1] - dec[0]);
    uint8_t rgb[3];
    colorSpace_->ToRGB(&c, rgb, *manager_);
    bilevelColor_[v][0] = rgb[2], bilevelColor_[v][1] = rgb[1], bilevelColor_[v][2] = rgb[0];
  }
  bilevel_ = true;
  ready_ = true;
}

void TPDFImageDecoder::ExpandBilevel() {
  if (!bilevel_) return;
  bilevel_ = false;
  UnpackSamples();
}

std::string RunLengthDecodeString(std::string_view data, TPDFDecodeStatus* status) {
  std::string out;
  if (status) *status = TPDFDecodeStatus::dsOk;
  const uint64_t limit = GetMaxDecodedSize();
  size_t i = 0;
  while (i < data.size()) {
    uint8_t n = static_cast<uint8_t>(data[i++]);
    if (n == 128) return out;
    size_t count = n < 128 ? size_t(n) + 1 : 257 - size_t(n);
    if (out.size() + count > limit) {
      if (status) *status = TPDFDecodeStatus::dsTooLarge;
      return {};
    }
    if (n < 128) {
      size_t avail = std::min(count, data.size() - i);
      out.append(data.substr(i, avail));
      i += avail;
      if (avail < count && status) *status = TPDFDecodeStatus::dsDamaged;
    } else {
      if (i >= data.size()) {
        if (status) *status = TPDFDecodeStatus::dsDamaged;
        break;
      }
      out.append(count, data[i++]);
    }
  }
  return out;
}

namespace {

// The widest or highest picture the drawing back-ends take (cairo
// addresses 32767 pixels a side).
constexpr int kMaxDrawnSide = 32767;

// A picture with a side above kMaxDrawnSide, reduced by whole factors per
// axis, each target pixel the mean of its source block; 24- and 32-bit.
TBitmap shrinkForDrawing(const TBitmap& src) {
  const int bytes = src.PixelFormat() == TPixelFormat::pf32bit ? 4 : 3;
  const int fx = (src.Width() + kMaxDrawnSide - 1) / kMaxDrawnSide;
  const int fy = (src.Height() + kMaxDrawnSide - 1) / kMaxDrawnSide;
  const int w = (src.Width() + fx - 1) / fx, h = (src.Height() + fy - 1) / fy;
  TBitmap out(w, h, src.PixelFormat());
  out.SetAlphaFormat(src.AlphaFormat());
  std::vector<uint32_t> sums(static_cast<size_t>(w) * bytes);
  std::vector<uint32_t> counts(static_cast<size_t>(w));
  for (int y = 0; y < h; ++y) {
    std::fill(sums.begin(), sums.end(), 0);
    std::fill(counts.begin(), counts.end(), 0);
    for (int sy = y * fy; sy < std::min(src.Height(), (y + 1) * fy); ++sy) {
      const uint8_t* row = src.ScanLine(sy);
      for (int sx = 0; sx < src.Width(); ++sx) {
        const int x = sx / fx;
        for (int c = 0; c < bytes; ++c) sums[static_cast<size_t>(x) * bytes + c] += row[static_cast<size_t>(sx) * bytes + c];
        ++counts[static_cast<size_t>(x)];
      }
    }
    uint8_t* dst = out.ScanLine(y);
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < bytes; ++c)
        dst[static_cast<size_t>(x) * bytes + c] =
            static_cast<uint8_t>(sums[static_cast<size_t>(x) * bytes + c] / std::max<uint32_t>(counts[x], 1));
  }
  return out;
}

void drawFitting(TPDFGenericCanvas& canvas, const TBitmap& picture, double x0, double y0, double x1, double y1,
                 double x2, double y2) {
  if (picture.Width() > kMaxDrawnSide || picture.Height() > kMaxDrawnSide) {
    canvas.DrawImage(shrinkForDrawing(picture), x0, y0, x1, y1, x2, y2);
    return;
  }
  canvas.DrawImage(picture, x0, y0, x1, y1, x2, y2);
}

}  // namespace

void TPDFImageDecoder::DrawImage(TPDFGenericCanvas& canvas, const double m[6], TColor fillColor, std::string* failure) {
  if (bilevel_ || sampleRows_) {
    try {
      ExpandBilevel();
      ExpandSamples();
    } catch (...) {
      if (failure) *failure = CurrentExceptionText();
      return;
    }
  }
  if (!ready_ || !bitmap_ || bitmap_->Empty()) return;
  try {
    const TImageCorners corners = ImageCornersOf(m);
    if (!corners.Finite()) return;
    const auto [x0, y0, x1, y1, x2, y2] = corners;
    if (maskKind_ == imkNone) {
      drawFitting(canvas, *bitmap_, x0, y0, x1, y1, x2, y2);
      return;
    }
    // Picture and alpha are brought to the larger size of the two.
    const int w = std::max(bitmap_->Width(), mask_ ? mask_->Width() : 0);
    const int h = std::max(bitmap_->Height(), mask_ ? mask_->Height() : 0);
    TBitmap picture(w, h, TPixelFormat::pf32bit);
    picture.SetAlphaFormat(TAlphaFormat::afDefined);
    const int bw = bitmap_->Width(), bh = bitmap_->Height();
    const int mw = mask_ ? mask_->Width() : 0, mh = mask_ ? mask_->Height() : 0;
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = bitmap_->ScanLine(int(int64_t(y) * bh / h));
      const uint8_t* msk = mask_ ? mask_->ScanLine(int(int64_t(y) * mh / h)) : nullptr;
      uint8_t* dst = picture.ScanLine(y);
      for (int x = 0; x < w; ++x) {
        const uint8_t* p = src + 3 * (int64_t(x) * bw / w);
        if (maskKind_ == imkStencil) {
          // A stencil paints the fill colour where its decoded sample is 0.
          dst[4 * x] = GetBValue(fillColor), dst[4 * x + 1] = GetGValue(fillColor);
          dst[4 * x + 2] = GetRValue(fillColor), dst[4 * x + 3] = 255 - p[0];
        } else {
          dst[4 * x] = p[0], dst[4 * x + 1] = p[1], dst[4 * x + 2] = p[2];
          dst[4 * x + 3] = msk ? msk[int64_t(x) * mw / w] : 255;
        }
      }
    }
    drawFitting(canvas, picture, x0, y0, x1, y1, x2, y2);
  } catch (...) {
    // A picture that cannot be drawn is left out of the page; the caller
    // records why.
    if (failure) *failure = CurrentExceptionText();
  }
}

int64_t TPDFImageDecoder::GetImageByteCount() const {
  return !output_.empty() ? static_cast<int64_t>(output_.size()) : static_cast<int64_t>(data_.size());
}

std::string TPDFImageDecoder::GetImageBytes() const {
  if (!output_.empty()) return output_;
  return GetBitmapBytes();
}

std::string TPDFImageDecoder::GetBitmapBytes() const {
  // A packed picture is built when its bytes are asked for.
  if (bilevel_) const_cast<TPDFImageDecoder*>(this)->ExpandBilevel();
  if (sampleRows_) const_cast<TPDFImageDecoder*>(this)->ExpandSamples();
  if (!bitmap_ || bitmap_->Empty()) return {};
  return bitmap_->SaveToBytes();
}

TColor TPDFImageDecoder::GetCentrePixel() const {
  if (bilevel_) {
    const int64_t stride = (int64_t(width_) + 7) / 8;
    const int64_t at = int64_t(height_ / 2) * stride + (width_ / 2) / 8;
    const int bit = at < int64_t(data_.size()) ? (uint8_t(data_[size_t(at)]) >> (7 - (width_ / 2) % 8)) & 1 : 0;
    const uint8_t* c = bilevelColor_[bit];
    return RGB(c[2], c[1], c[0]);
  }
  if (sampleRows_) {
    std::vector<uint8_t> row(size_t(width_) * 3);
    const_cast<TPDFImageDecoder*>(this)->GetSampleRow(height_ / 2, row.data());
    const uint8_t* p = &row[size_t(width_ / 2) * 3];
    return RGB(p[2], p[1], p[0]);
  }
  if (!bitmap_ || bitmap_->Empty()) return 0;
  return bitmap_->Pixel(width_ / 2, height_ / 2);
}
