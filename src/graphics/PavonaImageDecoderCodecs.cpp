// Image filters with codecs of their own: DCT (JPEG), CCITT fax, JBIG2 and
// JPEG 2000. Each codec's output becomes plain samples that the sample
// unpacker maps through /Decode and the colour space like any raw image.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

// libjpeg needs size_t and FILE declared first.
#include <jpeglib.h>
#include <openjpeg.h>

#include "graphics/PavonaCCITT.h"
#include "graphics/PavonaJBIG2.h"
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
  const int64_t pixels = int64_t(cinfo.image_width) * cinfo.image_height;
  // Every 8 x 8 block costs a few bits at least: far less data than that is a false size.
  if (pixels > maxPixels || (pixels > (int64_t(1) << 20) && int64_t(data.size()) < pixels / 2048)) {
    jpeg_destroy_decompress(&cinfo);
    why = "JPEG image size out of range";
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

// JPEG 2000 decoding through OpenJPEG, standing in for the engine's JPEG 2000
// bitmap class until that is available.
struct TJpxSource {
  std::string_view data;
  size_t pos = 0;
};

OPJ_SIZE_T JpxRead(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* src = static_cast<TJpxSource*>(user);
  if (src->pos >= src->data.size()) return static_cast<OPJ_SIZE_T>(-1);
  size_t n = std::min<size_t>(count, src->data.size() - src->pos);
  std::memcpy(buffer, src->data.data() + src->pos, n);
  src->pos += n;
  return n;
}

OPJ_OFF_T JpxSkip(OPJ_OFF_T count, void* user) {
  auto* src = static_cast<TJpxSource*>(user);
  if (count < 0) {
    size_t back = std::min<size_t>(size_t(-count), src->pos);
    src->pos -= back;
    return -OPJ_OFF_T(back);
  }
  size_t n = std::min<size_t>(size_t(count), src->data.size() - std::min(src->pos, src->data.size()));
  src->pos += n;
  return OPJ_OFF_T(n);
}

OPJ_BOOL JpxSeek(OPJ_OFF_T to, void* user) {
  auto* src = static_cast<TJpxSource*>(user);
  if (to < 0 || size_t(to) > src->data.size()) return OPJ_FALSE;
  src->pos = size_t(to);
  return OPJ_TRUE;
}

void JpxMessage(const char* text, void* user) {
  auto* why = static_cast<std::string*>(user);
  if (why->empty()) *why = text;
  while (!why->empty() && (why->back() == '\n' || why->back() == ' ')) why->pop_back();
}

void JpxQuiet(const char*, void*) {}

// opj_codec_t and opj_stream_t are both void: one deleter each.
struct TOpjCodecDeleter {
  void operator()(opj_codec_t* c) const { opj_destroy_codec(c); }
};
struct TOpjStreamDeleter {
  void operator()(opj_stream_t* s) const { opj_stream_destroy(s); }
};
struct TOpjImageDeleter {
  void operator()(opj_image_t* i) const { opj_image_destroy(i); }
};

// Decodes into interleaved 8-bit samples of the colour channels (alpha
// channels left out); false with a message on failure.
bool DecodeJpx(std::string_view data, std::string& samples, int& width, int& height, int& channels, std::string& why,
               int64_t maxPixels) {
  const bool jp2 = data.size() >= 12 && data.substr(4, 4) == "jP  ";
  std::unique_ptr<opj_codec_t, TOpjCodecDeleter> codec(opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) return why = "JPEG 2000 decoder unavailable", false;
  std::string message;
  opj_set_error_handler(codec.get(), JpxMessage, &message);
  opj_set_warning_handler(codec.get(), JpxQuiet, nullptr);
  opj_set_info_handler(codec.get(), JpxQuiet, nullptr);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) return why = "JPEG 2000 decoder set-up failed", false;
  TJpxSource source{data, 0};
  std::unique_ptr<opj_stream_t, TOpjStreamDeleter> stream(opj_stream_create(64 * 1024, OPJ_TRUE));
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), data.size());
  opj_stream_set_read_function(stream.get(), JpxRead);
  opj_stream_set_skip_function(stream.get(), JpxSkip);
  opj_stream_set_seek_function(stream.get(), JpxSeek);
  opj_image_t* raw = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &raw) || !raw)
    return why = "JPEG 2000 header could not be read: " + message, false;
  std::unique_ptr<opj_image_t, TOpjImageDeleter> image(raw);
  const int64_t w = int64_t(image->x1) - image->x0, h = int64_t(image->y1) - image->y0;
  // OpenJPEG keeps 32 bits per sample of every component while decoding.
  if (w <= 0 || h <= 0 || w * h > maxPixels || image->numcomps < 1 || image->numcomps > 16 ||
      w * h * int64_t(image->numcomps) > (int64_t(1) << 28))
    return why = "JPEG 2000 image size out of range", false;
  if (!opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
    return why = "JPEG 2000 data could not be decoded: " + message, false;
  std::vector<int> colour;
  for (OPJ_UINT32 c = 0; c < image->numcomps; ++c)
    if (!image->comps[c].alpha && image->comps[c].data) colour.push_back(int(c));
  if (colour.empty() || colour.size() > 4) return why = "JPEG 2000 image without usable components", false;
  width = int(w), height = int(h), channels = int(colour.size());
  samples.assign(size_t(w) * h * channels, '\0');
  for (int k = 0; k < channels; ++k) {
    const opj_image_comp_t& comp = image->comps[colour[k]];
    if (comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 || comp.prec < 1 || comp.prec > 31)
      return why = "JPEG 2000 component out of range", false;
    const int shift = int(comp.prec) - 8;
    const int64_t offset = comp.sgnd ? (int64_t(1) << (comp.prec - 1)) : 0;
    for (int64_t y = 0; y < h; ++y) {
      // Subsampled components are repeated over their pixels.
      int64_t cy = std::min<int64_t>(y / comp.dy, int64_t(comp.h) - 1);
      for (int64_t x = 0; x < w; ++x) {
        int64_t cx = std::min<int64_t>(x / comp.dx, int64_t(comp.w) - 1);
        int64_t v = int64_t(comp.data[cy * comp.w + cx]) + offset;
        v = shift > 0 ? v >> shift : v * 255 / ((int64_t(1) << comp.prec) - 1);
        samples[size_t((y * w + x) * channels + k)] = static_cast<char>(std::clamp<int64_t>(v, 0, 255));
      }
    }
  }
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
  if (!DecodeJpeg(data_, samples, jpeg, why, PixelLimit())) return Fail(why);
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
  // Adobe's CMYK JPEGs store inverted samples; PDF producers pair them with
  // an inverting /Decode, so the samples are taken as stored.
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

void TPDFImageDecoder::DecodeJBIG2(const std::string& globals) {
  ready_ = false;
  TPVLJBIG2Decoder decoder;
  if (!decoder.DecodeWithGlobals(data_, globals)) return Fail("JBIG2 data could not be decoded");
  if (decoder.Width > 0) width_ = decoder.Width;
  if (decoder.Height > 0) height_ = decoder.Height;
  if (!CheckGeometry(1, 1)) return;
  if (colorSpace_ && colorSpace_->Components != 1) return Fail("JBIG2 image with a colour space of several components");
  // The filter's samples: 0 for black, 1 for white, packed.
  const int64_t stride = (int64_t(width_) + 7) / 8;
  std::string samples(static_cast<size_t>(stride * height_), '\xFF');
  std::vector<uint8_t> row;
  for (int32_t y = 0; y < height_; ++y) {
    if (!decoder.GetScanline(y, row)) continue;
    const int32_t n = std::min<int32_t>(width_, static_cast<int32_t>(row.size()));
    for (int32_t x = 0; x < n; ++x)
      if (row[size_t(x)]) samples[size_t(y * stride + x / 8)] &= static_cast<char>(~(0x80 >> (x % 8)));
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

void TPDFImageDecoder::DecodeJPX() {
  ready_ = false;
  std::string samples, why;
  int w = 0, h = 0, channels = 0;
  if (!DecodeJpx(data_, samples, w, h, channels, why, PixelLimit())) return Fail(why);
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
  if (n < channels) {
    // Extra channels beyond the colour space are not colour.
    std::string kept(size_t(w) * h * n, '\0');
    for (size_t p = 0; p < size_t(w) * h; ++p)
      for (int k = 0; k < n; ++k) kept[p * n + k] = samples[p * channels + k];
    samples.swap(kept);
  }
  // /Decode of a JPEG 2000 image is ignored: the codestream carries its own ranges.
  decode_.clear();
  width_ = w, height_ = h, bpc_ = 8;
  data_ = std::move(samples);
  UnpackSamples();
}
