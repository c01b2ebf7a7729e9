// Image filters with codecs of their own: DCT (JPEG), CCITT fax, JBIG2 and
// JPEG 2000. Each codec's output becomes plain samples that the sample
// unpacker maps through /Decode and the colour space like any raw image.
#include <algorithm>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaJBIG2.h"
#include "graphics/PavonaJPEG.h"
#include "graphics/PavonaJpeg2000Bitmap.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaImageDecoderInternal.h"


void TPDFImageDecoder::DecodeDCT() {
  ready_ = false;
  // A stray line feed before the start marker.
  if (data_.size() >= 3 && data_[0] == '\n' && uint8_t(data_[1]) == 0xFF && uint8_t(data_[2]) == 0xD8)
    data_.erase(0, 1);
  if (KeepEncoded) {
    output_ = data_;
    outputFormat_ = iofJPEG;
    ready_ = true;
    return;
  }
  TPDFJPEGImage jpeg;
  TMemoryStream source(data_);
  jpeg.LoadFromStream(source);
  const int64_t pixels = int64_t(jpeg.Width()) * jpeg.Height();
  // Every 8 x 8 block costs a few bits at least: far less data than that is a false size.
  if (pixels <= 0) return Fail("JPEG data without a readable header");
  if (pixels > PixelLimit() || (pixels > (int64_t(1) << 20) && int64_t(data_.size()) < pixels / 2048))
    return Fail("JPEG image size out of range");
  // A picture wanted smaller is decoded at the smallest half, quarter or
  // eighth not below the wanted size.
  for (int scale = 3; scale > 0 && NeededWidth > 0 && NeededHeight > 0; --scale) {
    const int64_t d = int64_t(1) << scale;
    if ((jpeg.Width() + d - 1) / d >= NeededWidth && (jpeg.Height() + d - 1) / d >= NeededHeight) {
      jpeg.Scale = static_cast<uint8_t>(scale);
      break;
    }
  }
  std::string samples;
  int w = 0, h = 0, components = 0;
  if (!jpeg.DecodeSamples(samples, w, h, components, PixelLimit())) return Fail("JPEG data could not be decoded");
  if (!colorSpace_) {
    // The JPEG's own components decide where the dictionary names no usable space.
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Components = components;
    colorSpace_->Family = components == 1   ? TPDFImageColorSpace::cfGray
                          : components == 3 ? TPDFImageColorSpace::cfRGB
                          : components == 4 ? TPDFImageColorSpace::cfCMYK
                                            : TPDFImageColorSpace::cfNone;
    error_.clear();
  }
  if (colorSpace_->Components != components)
    return Fail("JPEG has " + std::to_string(components) + " components, its colour space " +
                std::to_string(colorSpace_->Components));
  // Adobe's CMYK JPEGs store inverted samples; PDF producers pair them with
  // an inverting /Decode, so the samples are taken as stored.
  width_ = w;
  height_ = h;
  bpc_ = 8;
  data_ = std::move(samples);
  UnpackOrKeepSamples();
}

void TPDFImageDecoder::DecodeCCITT(const TPDFDictionary* parms) {
  ready_ = false;
  auto parm = [&](const char* key, int64_t def) { return parms ? parms->GetInteger(key, def) : def; };
  auto flag = [&](const char* key) {
    TPDFBoolean* b = parms ? PDFAsBoolean(Resolve(parms->GetValue(key))) : nullptr;
    return b && b->GetValue();
  };
  const int64_t k = parm("K", 0);
  const int64_t columns = parm("Columns", 1728);
  const bool byteAlign = flag("EncodedByteAlign"), blackIs1 = flag("BlackIs1");
  if (height_ <= 0) height_ = static_cast<int32_t>(std::max<int64_t>(0, parm("Rows", 0)));
  if (width_ <= 0) width_ = static_cast<int32_t>(columns);
  if (columns < 1 || columns > TPVLCCITTDecoder::MaxColumns) return Fail("CCITT /Columns out of range");
  if (!CheckGeometry(1, 1)) return;
  if (colorSpace_ && colorSpace_->Components != 1) return Fail("CCITT image with a colour space of several components");
  TPVLCCITTDecoder decoder(static_cast<int32_t>(columns), height_, 1, byteAlign, false);
  decoder.SetEndOfLine(flag("EndOfLine"));
  std::vector<uint8_t> rows;
  if (k < 0) {
    if (!decoder.DecodeT6(rows, data_)) return Fail("CCITT Group 4 data could not be decoded");
  } else if (k == 0) {
    decoder.Decode1D(rows, data_);
  } else {
    // Damage or an image taller than its data (the rows end in RTC codes and
    // nothing follows) ends the decode; the rows read so far are the picture,
    // as the fax machine that sent them would print them.
    try {
      decoder.Decode2D(rows, data_);
    } catch (const ECCITTError&) {
    }
  }
  // The filter's samples: 0 black unless BlackIs1; the decoder's set bits are black.
  const int32_t stride = decoder.Stride();
  const int64_t outStride = (int64_t(width_) + 7) / 8;
  std::string samples(static_cast<size_t>(outStride * height_), blackIs1 ? '\0' : '\xFF');
  const int64_t copy = std::min<int64_t>(stride, outStride);
  for (int32_t y = 0; y < height_; ++y) {
    const size_t from = size_t(y) * stride;
    if (from + copy > rows.size()) break;
    for (int64_t i = 0; i < copy; ++i) {
      uint8_t b = rows[from + size_t(i)];
      samples[size_t(y * outStride + i)] = static_cast<char>(blackIs1 ? b : uint8_t(~b));
    }
  }
  UnpackBilevel(std::move(samples));
}

void TPDFImageDecoder::UnpackBilevel(std::string samples) {
  // A bi-level codec without a colour space from the dictionary gives grey.
  if (!colorSpace_) {
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Family = TPDFImageColorSpace::cfGray;
    colorSpace_->Components = 1;
    colorSpaceName_ = "DeviceGray";
  }
  bpc_ = 1;
  data_ = std::move(samples);
  UnpackOrKeepBilevel();
}

void TPDFImageDecoder::DecodeJBIG2(const std::string& globals) {
  ready_ = false;
  TPVLJBIG2Decoder decoder;
  decoder.MaxPixels = PixelLimit();
  decoder.PackRows = true;
  if (!decoder.DecodeWithGlobals(data_, globals))
    return Fail("JBIG2 data could not be decoded (or its page is larger than " + std::to_string(PixelLimit()) +
                " pixels)");
  if (decoder.Width > 0) width_ = decoder.Width;
  if (decoder.Height > 0) height_ = decoder.Height;
  if (!CheckGeometry(1, 1)) return;
  if (colorSpace_ && colorSpace_->Components != 1) return Fail("JBIG2 image with a colour space of several components");
  // The filter's samples: 0 for black, 1 for white, packed (the decoder's
  // rows inverted; the bits past a row's end stay white).
  std::string samples = std::move(decoder.PackedRows);
  for (char& c : samples) c = static_cast<char>(~c);
  UnpackBilevel(std::move(samples));
}

void TPDFImageDecoder::DecodeJPX() {
  ready_ = false;
  TJpeg2000Components jpx;
  try {
    // An Indexed space takes the codestream's samples as its indices.
    DecodeJpeg2000Components(data_, PixelLimit(), jpx,
                             colorSpace_ && colorSpace_->Family == TPDFImageColorSpace::cfIndexed);
  } catch (const Exception& e) {
    return Fail(std::string("JPEG 2000 data could not be decoded: ") + e.what());
  }
  // Colour channels in the order the codestream gives them; opacity channels
  // apart (the first one serves /SMaskInData).
  std::vector<const std::string*> colour;
  const std::string* alpha = nullptr;
  bool premultiplied = false;
  for (size_t i = 0; i < jpx.Planes.size(); ++i) {
    if (jpx.Alpha[i] == 0 && jpx.Roles[i] != crOpacity) {
      colour.push_back(&jpx.Planes[i]);
    } else if (!alpha) {
      alpha = &jpx.Planes[i];
      premultiplied = jpx.Alpha[i] == 2;
    }
  }
  const int channels = static_cast<int>(colour.size());
  if (channels == 0) return Fail("JPEG 2000 image without colour components");
  if (!colorSpace_) {
    // The codestream's own channels decide where the dictionary names no space.
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Components = channels >= 4 ? 4 : channels >= 3 ? 3 : 1;
    colorSpace_->Family = channels >= 4   ? TPDFImageColorSpace::cfCMYK
                          : channels >= 3 ? TPDFImageColorSpace::cfRGB
                                          : TPDFImageColorSpace::cfGray;
    error_.clear();
  }
  const int n = colorSpace_->Components;
  if (n > channels) return Fail("JPEG 2000 image has fewer channels than its colour space");
  // Channels beyond the colour space are not colour.
  const size_t pixels = size_t(jpx.Width) * size_t(jpx.Height);
  std::string samples(pixels * size_t(n), '\0');
  for (int k = 0; k < n; ++k) {
    const std::string& plane = *colour[size_t(k)];
    for (size_t p = 0; p < pixels; ++p) samples[p * n + k] = plane[p];
  }
  // /Decode of a JPEG 2000 image is ignored: the codestream carries its own ranges.
  decode_.clear();
  width_ = jpx.Width, height_ = jpx.Height, bpc_ = 8;
  data_ = std::move(samples);
  UnpackSamples();
  if (!ready_ || !alpha || smaskInData_ == 0 || isMaskDecoder_) return;
  // The image's own opacity is its soft mask; with /SMaskInData 2 (or an
  // opacity channel marked premultiplied) the colours were blended with the
  // /Matte colour (black when absent) and are taken apart again.
  mask_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf8bit);
  for (int y = 0; y < height_; ++y)
    std::copy_n(alpha->data() + size_t(y) * size_t(width_), width_, reinterpret_cast<char*>(mask_->ScanLine(y)));
  maskKind_ = imkSoftMask;
  softMaskMatte_.clear();
  if (smaskInData_ == 2 || premultiplied) Unpremultiply(imageMatte_);
}
