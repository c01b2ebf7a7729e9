// Image filters with codecs of their own: DCT (JPEG), CCITT fax, JBIG2 and
// JPEG 2000. Each codec's output becomes plain samples that the sample
// unpacker maps through /Decode and the colour space like any raw image.
#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaImageDecoder.h"
#include "graphics/PavonaImageDecoderInternal.h"

namespace {

// JPEG decoding through libjpeg, standing in for the engine's JPEG image class
// until that is available. Errors jump back out of the library.
struct TJpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<TJpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

struct TJpegResult {
  int width = 0, height = 0, components = 0;
  bool adobe = false;
};

// Decodes into interleaved 8-bit samples; false with a message on failure.
// Only plain data live across the jump.
bool DecodeJpeg(const std::string& data, std::string& samples, TJpegResult& result, std::string& why,
                int64_t maxPixels) {
  jpeg_decompress_struct cinfo;
  TJpegError err;
  std::memset(&cinfo, 0, sizeof cinfo);
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegSilence;
  err.message[0] = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    why = std::string("JPEG data could not be decoded: ") + err.message;
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&cinfo);
    why = "JPEG data without a header";
    return false;
  }
  if (cinfo.num_components == 3)
    cinfo.out_color_space = JCS_RGB;
  else if (cinfo.num_components == 4)
    cinfo.out_color_space = JCS_CMYK;
  else if (cinfo.num_components == 1)
    cinfo.out_color_space = JCS_GRAYSCALE;
  if (int64_t(cinfo.image_width) * cinfo.image_height > maxPixels) {
    jpeg_destroy_decompress(&cinfo);
    why = "JPEG image too large";
    return false;
  }
  jpeg_start_decompress(&cinfo);
  result.width = static_cast<int>(cinfo.output_width);
  result.height = static_cast<int>(cinfo.output_height);
  result.components = cinfo.output_components;
  result.adobe = cinfo.saw_Adobe_marker;
  const size_t rowBytes = size_t(result.width) * result.components;
  samples.assign(rowBytes * result.height, '\0');
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(&samples[rowBytes * cinfo.output_scanline]);
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
  }
  // Rows that are missing stay zero, as a truncated file is drawn by viewers.
  jpeg_abort_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

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
  std::string samples, why;
  TJpegResult jpeg;
  if (!DecodeJpeg(data_, samples, jpeg, why, MaxImagePixels)) return Fail(why);
  if (!colorSpace_) {
    // The JPEG's own components decide where the dictionary names no usable space.
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Components = jpeg.components;
    colorSpace_->Family = jpeg.components == 1   ? TPDFImageColorSpace::cfGray
                          : jpeg.components == 3 ? TPDFImageColorSpace::cfRGB
                          : jpeg.components == 4 ? TPDFImageColorSpace::cfCMYK
                                                 : TPDFImageColorSpace::cfNone;
    error_.clear();
  }
  if (colorSpace_->Components != jpeg.components)
    return Fail("JPEG has " + std::to_string(jpeg.components) + " components, its colour space " +
                std::to_string(colorSpace_->Components));
  // Adobe's CMYK JPEGs store inverted samples.
  if (jpeg.components == 4 && jpeg.adobe)
    for (char& c : samples) c = static_cast<char>(255 - static_cast<uint8_t>(c));
  width_ = jpeg.width;
  height_ = jpeg.height;
  bpc_ = 8;
  data_ = std::move(samples);
  UnpackSamples();
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
    decoder.Decode2D(rows, data_);
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
  if (!colorSpace_) {
    colorSpace_ = std::make_unique<TPDFImageColorSpace>();
    colorSpace_->Family = TPDFImageColorSpace::cfGray;
    colorSpace_->Components = 1;
    colorSpaceName_ = "DeviceGray";
  }
  bpc_ = 1;
  data_ = std::move(samples);
  UnpackSamples();
}

void TPDFImageDecoder::DecodeJBIG2(const std::string& /*globals*/) {
  Fail("JBIG2 images cannot be decoded yet");
}

void TPDFImageDecoder::DecodeJPX() {
  Fail("JPEG 2000 images cannot be decoded yet");
}
