#include "graphics/PavonaJPEG.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

TJPEGDefaults JPEGDefaults;

namespace {

constexpr uint8_t kAdobeMarker = JPEG_APP0 + 14;

// A fatal library error, or an abort or exception from a progress handler,
// leaves the library through longjmp: its error exit must not return, and no
// C++ exception may cross its C frames.
enum TJumpReason : int { jrNone = 0, jrLibraryError = 1, jrAbort = 2, jrException = 3 };

struct TErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  std::exception_ptr pending;
};

extern "C" void PvlJpegErrorExit(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<TErrorManager*>(cinfo->err)->jump, jrLibraryError);
}
extern "C" void PvlJpegOutputMessage(j_common_ptr) {}
extern "C" void PvlJpegEmitMessage(j_common_ptr, int) {}
extern "C" void PvlJpegResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

// Returns the manager's library part, for the compressor's or
// decompressor's err field.
jpeg_error_mgr* InstallErrorHooks(TErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = PvlJpegErrorExit;
  err.pub.output_message = PvlJpegOutputMessage;
  err.pub.emit_message = PvlJpegEmitMessage;
  err.pub.reset_error_mgr = PvlJpegResetErrorMgr;
  err.pending = nullptr;
  return &err.pub;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

struct TPDFJPEGImage::TProgressState {
  jpeg_progress_mgr pub;
  TPDFJPEGImage* image = nullptr;
  TErrorManager* err = nullptr;
  bool decoding = false;
  bool started = false;
  int64_t lastTime = 0;
  int lastPercent = -1;
  int lastRow = 0;
  j_decompress_ptr dinfo = nullptr;
};

namespace {

extern "C" void PvlJpegProgress(j_common_ptr cinfo) {
  auto* st = reinterpret_cast<TPDFJPEGImage::TProgressState*>(cinfo->progress);
  TPDFJPEGImage& image = *st->image;
  if (!image.OnProgress) return;
  int64_t now = NowMs();
  if (!st->started) {
    st->started = true;
    st->lastTime = now;
    return;
  }
  if (now - st->lastTime < 500) return;
  const jpeg_progress_mgr& p = *cinfo->progress;
  double fraction = p.pass_limit > 0 ? double(p.pass_counter) / double(p.pass_limit) : 0.0;
  int percent = p.total_passes > 0
                    ? static_cast<int>(std::nearbyint((fraction + p.completed_passes) * 100.0 / p.total_passes))
                    : 0;
  if (percent == st->lastPercent) return;
  st->lastPercent = percent;
  st->lastTime = now;
  TProgressRect rect;
  bool redraw = false;
  if (st->decoding && st->dinfo) {
    int row = static_cast<int>(st->dinfo->output_scanline);
    rect = {0, st->lastRow, static_cast<int>(st->dinfo->output_width), row};
    redraw = row - st->lastRow > 3;
    st->lastRow = row;
  }
  int jump = jrNone;
  try {
    image.OnProgress(image, TProgressStage::psRunning, static_cast<uint8_t>(std::clamp(percent, 0, 100)), redraw, rect,
                     "");
  } catch (const EJPEGAbort&) {
    jump = jrAbort;
  } catch (...) {
    st->err->pending = std::current_exception();
    jump = jrException;
  }
  // Out of the library only once the handler's exception is finished with.
  if (jump != jrNone) longjmp(st->err->jump, jump);
}

// The progress handler hooked to a compressor or decompressor (dinfo, whose
// rows are reported as they are decoded).
void AttachProgress(j_common_ptr cinfo, TPDFJPEGImage::TProgressState* progress, j_decompress_ptr dinfo) {
  if (!progress) return;
  progress->pub.progress_monitor = PvlJpegProgress;
  progress->dinfo = dinfo;
  progress->decoding = dinfo != nullptr;
  cinfo->progress = &progress->pub;
}

struct TDecodeSettings {
  int scale = 0;
  bool smoothing = true;
  bool grayscale = false;   // the picture's grayscale setting
  bool eightBit = false;    // 8-bit pixel format setting
  bool bestSpeed = false;
  const std::vector<TRGBQuad>* colorMap = nullptr;
};

// Steps of the decompressor set-up shared by decoding and size queries.
void SetUpDecompressor(jpeg_decompress_struct& cinfo, const std::string& data, const TDecodeSettings& s) {
  jpeg_save_markers(&cinfo, kAdobeMarker, 256);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = 1u << std::clamp(s.scale, 0, 3);
  cinfo.do_block_smoothing = s.smoothing ? TRUE : FALSE;
  if (s.grayscale) cinfo.out_color_space = JCS_GRAYSCALE;
  // Colour rows go straight into blue-green-red bitmap rows.
  if (cinfo.out_color_space == JCS_RGB) cinfo.out_color_space = JCS_EXT_BGR;
  if (s.eightBit || s.grayscale) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = 236;
    if (cinfo.out_color_space == JCS_EXT_BGR) cinfo.out_color_space = JCS_RGB;  // colour map in R, G, B order
  }
  if (s.bestSpeed) {
    cinfo.dct_method = JDCT_IFAST;
    cinfo.dither_mode = JDITHER_ORDERED;
    cinfo.two_pass_quantize = FALSE;
  }
}

struct THeaderInfo {
  int width = 0, height = 0;
  int outWidth = 0, outHeight = 0;
  bool grayscale = false;
  bool progressive = false;
};

// Reads the header (and the scaled output size). Returns the jump reason.
int ReadHeaderInfo(const std::string& data, const TDecodeSettings& s, THeaderInfo& info) {
  jpeg_decompress_struct cinfo;
  TErrorManager err;
  cinfo.err = InstallErrorHooks(err);
  int reason = setjmp(err.jump);
  if (reason == jrNone) {
    jpeg_create_decompress(&cinfo);
    SetUpDecompressor(cinfo, data, s);
    info.width = static_cast<int>(cinfo.image_width);
    info.height = static_cast<int>(cinfo.image_height);
    info.grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    info.progressive = cinfo.progressive_mode != 0;
    jpeg_calc_output_dimensions(&cinfo);
    info.outWidth = static_cast<int>(cinfo.output_width);
    info.outHeight = static_cast<int>(cinfo.output_height);
  }
  jpeg_destroy_decompress(&cinfo);
  return reason;
}

struct TDecodeResult {
  bool adobeMarker = false;  // the data carry Adobe's APP14 marker
  bool cmyk = false;
  std::vector<TRGBQuad> palette;
};

// The decode proper. Only plain data live in this frame, so that a longjmp
// out of the library skips no destructor; the bitmap belongs to the caller.
int RunDecode(const std::string& data, const TDecodeSettings& s, TBitmap& bitmap, TDecodeResult& result,
              TPDFJPEGImage::TProgressState* progress, TErrorManager& err) {
  jpeg_decompress_struct cinfo;
  cinfo.err = InstallErrorHooks(err);
  int reason = setjmp(err.jump);
  if (reason == jrNone) {
    jpeg_create_decompress(&cinfo);
    AttachProgress(reinterpret_cast<j_common_ptr>(&cinfo), progress, &cinfo);
    SetUpDecompressor(cinfo, data, s);
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
      if (m->marker == kAdobeMarker && m->data_length >= 5 && std::memcmp(m->data, "Adobe", 5) == 0)
        result.adobeMarker = true;
    // An earlier 8-bit decode's colours serve as the colour map again.
    if (s.eightBit && !s.grayscale && s.colorMap && !s.colorMap->empty()) {
      int n = static_cast<int>(std::min<size_t>(s.colorMap->size(), 256));
      JSAMPARRAY map = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, n, 3);
      for (int i = 0; i < n; ++i) {
        map[0][i] = (*s.colorMap)[static_cast<size_t>(i)].rgbRed;
        map[1][i] = (*s.colorMap)[static_cast<size_t>(i)].rgbGreen;
        map[2][i] = (*s.colorMap)[static_cast<size_t>(i)].rgbBlue;
      }
      cinfo.colormap = map;
      cinfo.actual_number_of_colors = n;
    }
    jpeg_start_decompress(&cinfo);
    int width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
    TPixelFormat format = TPixelFormat::pf24bit;
    if (cinfo.quantize_colors || cinfo.out_color_space == JCS_GRAYSCALE) format = TPixelFormat::pf8bit;
    if (cinfo.out_color_space == JCS_CMYK) format = TPixelFormat::pf32bit;
    result.cmyk = cinfo.out_color_space == JCS_CMYK;
    bitmap = TBitmap(width, height, format);
    if (cinfo.quantize_colors) {
      std::vector<TRGBQuad> pal(static_cast<size_t>(cinfo.actual_number_of_colors));
      for (int i = 0; i < cinfo.actual_number_of_colors; ++i) {
        uint8_t r = cinfo.colormap[0][i];
        uint8_t g = cinfo.out_color_components >= 3 ? cinfo.colormap[1][i] : r;
        uint8_t b = cinfo.out_color_components >= 3 ? cinfo.colormap[2][i] : r;
        pal[static_cast<size_t>(i)] = TRGBQuad{b, g, r, 0};
      }
      result.palette = pal;
      bitmap.SetPalette(pal);
    }
    // Top-down rows 4-byte aligned: several rows per call.
    JSAMPROW rows[16];
    while (cinfo.output_scanline < cinfo.output_height) {
      int first = static_cast<int>(cinfo.output_scanline);
      int count = std::min<int>(16, height - first);
      for (int i = 0; i < count; ++i) rows[i] = bitmap.ScanLine(first + i);
      if (jpeg_read_scanlines(&cinfo, rows, static_cast<JDIMENSION>(count)) == 0) break;
    }
    jpeg_finish_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  return reason;
}

// Decodes into interleaved samples as the library delivers them (no colour
// conversion beyond the JPEG's own YCbCr and YCCK transforms). Plain data
// only in this frame, as in RunDecode.
int RunDecodeSamples(const std::string& data, int64_t maxPixels, int scale, std::string& samples, int& width,
                     int& height, int& components, TErrorManager& err) {
  jpeg_decompress_struct cinfo;
  cinfo.err = InstallErrorHooks(err);
  int reason = setjmp(err.jump);
  if (reason == jrNone) {
    jpeg_create_decompress(&cinfo);
    TDecodeSettings settings;
    settings.scale = scale;
    SetUpDecompressor(cinfo, data, settings);
    if (cinfo.out_color_space == JCS_EXT_BGR) cinfo.out_color_space = JCS_RGB;
    jpeg_calc_output_dimensions(&cinfo);
    const int64_t pixels = int64_t(cinfo.output_width) * cinfo.output_height;
    if (pixels > 0 && pixels <= maxPixels) {
      jpeg_start_decompress(&cinfo);
      width = static_cast<int>(cinfo.output_width);
      height = static_cast<int>(cinfo.output_height);
      components = cinfo.output_components;
      const size_t rowBytes = size_t(width) * size_t(components);
      samples.assign(rowBytes * size_t(height), '\0');
      while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(&samples[rowBytes * cinfo.output_scanline]);
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
      }
      jpeg_abort_decompress(&cinfo);
    }
  }
  jpeg_destroy_decompress(&cinfo);
  return reason;
}

int RunCompress(const TBitmap& bgr, int quality, bool grayscale, std::string& out,
                TPDFJPEGImage::TProgressState* progress, TErrorManager& err) {
  jpeg_compress_struct cinfo;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  cinfo.err = InstallErrorHooks(err);
  int reason = setjmp(err.jump);
  if (reason == jrNone) {
    jpeg_create_compress(&cinfo);
    AttachProgress(reinterpret_cast<j_common_ptr>(&cinfo), progress, nullptr);
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(bgr.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bgr.Height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;  // the bitmap's rows as they stand
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
    if (grayscale) jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
      int first = static_cast<int>(cinfo.next_scanline);
      int count = std::min<int>(16, bgr.Height() - first);
      for (int i = 0; i < count; ++i) rows[i] = const_cast<uint8_t*>(bgr.ScanLine(first + i));
      jpeg_write_scanlines(&cinfo, rows, static_cast<JDIMENSION>(count));
    }
    jpeg_finish_compress(&cinfo);
    out.assign(reinterpret_cast<const char*>(buffer), size);
  }
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return reason;
}

}  // namespace

// --- colour ---------------------------------------------------------------------

void DefaultCMYKToRGB(const std::array<double, 4>& cmyk, std::array<double, 3>& rgb) {
  const double C = cmyk[0], M = cmyk[1], Y = cmyk[2], K = cmyk[3];
  rgb[0] = 1 - C - 0.8627 * K - 0.0745 * M + 0.2549 * C * M + 0.8627 * C * K + 0.0784 * M * K - 0.0275 * K * Y +
           0.0039 * M * Y - 0.2588 * C * M * K + 0.0275 * C * K * Y + 0.0275 * C * M * Y + 0.0157 * M * K * Y -
           0.0471 * C * M * K * Y;
  rgb[1] = 1 - M - 0.8784 * K - 0.051 * Y - 0.3216 * C + 0.2588 * C * K + 0.5138 * C * M + 0.8784 * M * K +
           0.0236 * C * Y + 0.0314 * K * Y + 0.1608 * M * Y - 0.451 * C * M * K + 0.0117 * C * K * Y -
           0.1137 * C * M * Y - 0.1412 * M * K * Y + 0.0784 * C * M * K * Y;
  rgb[2] = 1 - Y - 0.8745 * K - 0.451 * M - 0.0627 * C + 0.0784 * C * K + 0.0862 * C * M + 0.3255 * M * K +
           0.5176 * C * Y + 0.8745 * K * Y + 0.451 * M * Y - 0.0941 * C * M * K - 0.5333 * C * K * Y -
           0.3176 * C * M * Y - 0.3255 * M * K * Y + 0.3255 * C * M * K * Y;
}

// --- TPDFJPEGImage ------------------------------------------------------------

TPDFJPEGImage::TPDFJPEGImage()
    : CompressionQuality(JPEGDefaults.CompressionQuality),
      Grayscale(JPEGDefaults.Grayscale),
      Performance(JPEGDefaults.Performance),
      PixelFormat(JPEGDefaults.PixelFormat),
      ProgressiveEncoding(JPEGDefaults.ProgressiveEncoding),
      Scale(JPEGDefaults.Scale),
      Smoothing(JPEGDefaults.Smoothing),
      data_(std::make_shared<TJPEGData>()),
      colorManager_(DefaultCMYKToRGB),
      progress_(std::make_unique<TProgressState>()) {}

TPDFJPEGImage::~TPDFJPEGImage() = default;

void TPDFJPEGImage::Changed() {
  if (OnChange) OnChange(*this);
}

void TPDFJPEGImage::NewData() { data_ = std::make_shared<TJPEGData>(); }

// Size the image decodes to: the header's size reduced by Scale, the stored
// size when unscaled, 0 x 0 when the header can't be read.
std::pair<int, int> TPDFJPEGImage::decodedSize() const {
  if (Scale == 0 || !data_->HasData) return {data_->Width, data_->Height};
  TDecodeSettings s;
  s.scale = Scale;
  THeaderInfo info;
  if (ReadHeaderInfo(data_->Data, s, info) != jrNone) return {0, 0};
  return {info.outWidth, info.outHeight};
}

int TPDFJPEGImage::Width() const {
  if (bitmap_) return bitmap_->Width();
  return decodedSize().first;
}

int TPDFJPEGImage::Height() const {
  if (bitmap_) return bitmap_->Height();
  return decodedSize().second;
}

bool TPDFJPEGImage::Empty() const {
  if (data_->HasData) return false;
  return !bitmap_ || bitmap_->Empty();
}

void TPDFJPEGImage::LoadFromStream(TStream& stream) {
  int64_t size = stream.GetSize() - stream.GetPosition();
  ReadStream(std::max<int64_t>(size, 0), stream);
}

void TPDFJPEGImage::ReadData(TStream& stream) {
  int32_t size = 0;
  stream.ReadBuffer(&size, 4);
  ReadStream(std::max(size, 0), stream);
}

void TPDFJPEGImage::WriteData(TStream& stream) const {
  int32_t size = data_->HasData ? static_cast<int32_t>(data_->Data.size()) : 0;
  stream.WriteBuffer(&size, 4);
  if (size > 0) stream.WriteString(data_->Data);
}

void TPDFJPEGImage::ReadStream(int64_t size, TStream& stream) {
  NewData();
  bitmap_.reset();
  if (size > 0) {
    data_->Data.resize(static_cast<size_t>(size));
    stream.ReadBuffer(data_->Data.data(), size);
    data_->HasData = true;
    ReadHeader();
  }
  Changed();
}

void TPDFJPEGImage::ReadHeader() {
  TDecodeSettings s;
  THeaderInfo info;
  if (ReadHeaderInfo(data_->Data, s, info) != jrNone) {
    // A header the library rejects: the size stays 0.
    data_->Width = data_->Height = 0;
    return;
  }
  data_->Width = info.width;
  data_->Height = info.height;
  data_->Grayscale = info.grayscale;
  ProgressiveDisplay = info.progressive;
}

void TPDFJPEGImage::SaveToStream(TStream& stream) const {
  if (!data_->HasData && bitmap_ && !bitmap_->Empty()) {
    auto fresh = std::make_shared<TJPEGData>();
    CompressInto(*fresh, *bitmap_);
    const_cast<TPDFJPEGImage*>(this)->data_ = fresh;
  }
  if (data_->HasData) stream.WriteString(data_->Data);
}

void TPDFJPEGImage::Assign(const TPDFJPEGImage& source) {
  if (&source == this) return;
  data_ = source.data_;
  bitmap_ = source.bitmap_ ? std::make_unique<TBitmap>(*source.bitmap_) : nullptr;
  Changed();
}

void TPDFJPEGImage::Assign(const TBitmap& source) {
  NewData();
  bitmap_ = std::make_unique<TBitmap>(source);
  Changed();
}

void TPDFJPEGImage::AssignTo(TBitmap& dest) { dest = GetBitmap(); }

bool TPDFJPEGImage::Equals(const TPDFJPEGImage& other) const {
  if (data_->HasData && other.data_->HasData) return data_->Data == other.data_->Data;
  return data_ == other.data_;
}

void TPDFJPEGImage::SetColorManager(TCMYKToRGBProc manager) {
  if (manager) colorManager_ = std::move(manager);
}

void TPDFJPEGImage::DecodeInvertedCMYK() {
  if (invertedCMYK_) return;
  bitmap_.reset();
  invertedCMYK_ = true;
  GetBitmap();
}

bool TPDFJPEGImage::DecodeSamples(std::string& samples, int& width, int& height, int& components,
                                  int64_t maxPixels) const {
  samples.clear();
  width = height = components = 0;
  if (!data_->HasData) return false;
  TErrorManager err;
  int reason = RunDecodeSamples(data_->Data, maxPixels, Scale, samples, width, height, components, err);
  if (reason != jrNone || samples.empty()) {
    samples.clear();
    width = height = components = 0;
    return false;
  }
  return true;
}

void TPDFJPEGImage::SaveBitmapToStream(TStream& stream) {
  TBitmap copy = GetBitmap();
  copy.SaveToStream(stream);
}

TBitmap& TPDFJPEGImage::GetBitmap() {
  if (!bitmap_) Decode();
  return *bitmap_;
}

void TPDFJPEGImage::Decode() {
  bitmap_ = std::make_unique<TBitmap>();
  if (!data_->HasData) return;
  TDecodeSettings s;
  s.scale = Scale;
  s.smoothing = Smoothing;
  s.grayscale = Grayscale;
  s.eightBit = PixelFormat == TJPEGPixelFormat::jf8Bit;
  s.bestSpeed = Performance == TJPEGPerformance::jpBestSpeed;
  if (!s.eightBit) palette_.clear();
  s.colorMap = &palette_;
  if (OnProgress) OnProgress(*this, TProgressStage::psStarting, 0, false, {}, "");
  TErrorManager err;
  *progress_ = TProgressState();
  progress_->image = this;
  progress_->err = &err;
  TDecodeResult result;
  int reason = RunDecode(data_->Data, s, *bitmap_, result, OnProgress ? progress_.get() : nullptr, err);
  if (reason == jrException && err.pending) std::rethrow_exception(err.pending);
  // A library error or an abort ends quietly: the rows read so far stay.
  if (result.cmyk && bitmap_->PixelFormat() == TPixelFormat::pf32bit) {
    // Adobe's software stores CMYK inverted and marks such files with its APP14
    // marker; other CMYK data hold the ink amounts as they are.
    bool storedInverted = result.adobeMarker && !invertedCMYK_;
    ConvertCMYK(*bitmap_, storedInverted);
  }
  bool paletteChanged = !result.palette.empty() && result.palette != palette_;
  if (!result.palette.empty()) palette_ = result.palette;
  if (OnProgress) OnProgress(*this, TProgressStage::psEnding, reason == jrNone ? 100 : 0, false, {}, "");
  if (paletteChanged) Changed();
}

void TPDFJPEGImage::ConvertCMYK(TBitmap& bitmap, bool storedInverted) {
  TBitmap rgb(bitmap.Width(), bitmap.Height(), TPixelFormat::pf24bit);
  std::array<double, 4> cmyk;
  std::array<double, 3> out;
  auto toByte = [](double v) { return static_cast<uint8_t>(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255.0)); };
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* src = bitmap.ScanLine(y);
    uint8_t* dst = rgb.ScanLine(y);
    for (int x = 0; x < bitmap.Width(); ++x, src += 4, dst += 3) {
      for (int i = 0; i < 4; ++i) cmyk[static_cast<size_t>(i)] = storedInverted ? 1.0 - src[i] / 255.0 : src[i] / 255.0;
      colorManager_(cmyk, out);
      dst[2] = toByte(out[0]);
      dst[1] = toByte(out[1]);
      dst[0] = toByte(out[2]);
    }
  }
  bitmap = std::move(rgb);
}

void TPDFJPEGImage::CompressInto(TJPEGData& data, const TBitmap& source) const {
  if (source.Width() == 0 || source.Height() == 0) return;
  TBitmap bgr = source;
  if (bgr.PixelFormat() != TPixelFormat::pf24bit) bgr.SetPixelFormat(TPixelFormat::pf24bit);
  data.Width = bgr.Width();
  data.Height = bgr.Height();
  data.Grayscale = Grayscale;
  auto* self = const_cast<TPDFJPEGImage*>(this);
  if (OnProgress) OnProgress(*self, TProgressStage::psStarting, 0, false, {}, "");
  TErrorManager err;
  *progress_ = TProgressState();
  progress_->image = self;
  progress_->err = &err;
  std::string out;
  // Progressive encoding is a stored setting only: output is always baseline.
  int reason = RunCompress(bgr, CompressionQuality, Grayscale, out, OnProgress ? progress_.get() : nullptr, err);
  if (reason == jrException && err.pending) std::rethrow_exception(err.pending);
  if (reason == jrNone) {
    data.Data = std::move(out);
    data.HasData = true;
  } else {
    // An abort or a library error drops the data.
    data = TJPEGData();
  }
  if (OnProgress) OnProgress(*self, TProgressStage::psEnding, reason == jrNone ? 100 : 0, false, {}, "");
}

void TPDFJPEGImage::Compress() {
  if (!bitmap_ || bitmap_->Empty()) return;
  auto fresh = std::make_shared<TJPEGData>();
  CompressInto(*fresh, *bitmap_);
  data_ = fresh;
}
