// TIFF pages decoded to bitmaps through libtiff, for pages whose strips
// cannot go into PDF as they are stored. libtiff (and the codecs it drags
// in) is loaded the first time a page is decoded, not at start.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "graphics/PavonaTIFF.h"
#include "platform/RuntimeLibrary.h"

namespace {

// The entry points used. TIFFOpenOptions came with libtiff 4.5, whose
// library is libtiff.so.6.
#define PVL_TIFF_ENTRIES(X)               \
  X(TIFFOpenOptionsAlloc)                 \
  X(TIFFOpenOptionsFree)                  \
  X(TIFFOpenOptionsSetErrorHandlerExtR)   \
  X(TIFFOpenOptionsSetWarningHandlerExtR) \
  X(TIFFOpenOptionsSetMaxSingleMemAlloc)  \
  X(TIFFClientOpenExt)                    \
  X(TIFFClose)                            \
  X(TIFFSetDirectory)                     \
  X(TIFFGetField)                         \
  X(TIFFGetFieldDefaulted)                \
  X(TIFFIsCODECConfigured)                \
  X(TIFFReadRGBAImageOriented)
constexpr const char* kTiffLibrary = "libtiff.so.6";

struct TTiffLibrary {
#define PVL_TIFF_SLOT(name) decltype(&::name) name = nullptr;
  PVL_TIFF_ENTRIES(PVL_TIFF_SLOT)
#undef PVL_TIFF_SLOT
  // Empty when every entry point is bound.
  std::string error;
};

// Bound once, on first use (thread-safe as a function-local static).
const TTiffLibrary& Tiff() {
  static const auto bound = BindRuntimeLibrary<TTiffLibrary>(kTiffLibrary, [](TRuntimeLibrary& lib, TTiffLibrary& t) {
#define PVL_TIFF_BIND(name) lib.Bind(#name, t.name);
    PVL_TIFF_ENTRIES(PVL_TIFF_BIND)
#undef PVL_TIFF_BIND
  });
  return bound;
}

// The file in memory as libtiff's client stream.
struct TMemoryFile {
  std::string_view data;
  toff_t pos = 0;
};

tsize_t readProc(thandle_t h, tdata_t buffer, tsize_t size) {
  auto* f = static_cast<TMemoryFile*>(h);
  if (size <= 0 || f->pos >= f->data.size()) return 0;
  const size_t n = std::min<size_t>(size_t(size), f->data.size() - f->pos);
  std::memcpy(buffer, f->data.data() + f->pos, n);
  f->pos += n;
  return static_cast<tsize_t>(n);
}
tsize_t writeProc(thandle_t, tdata_t, tsize_t) {
  return 0;
}
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
  auto* f = static_cast<TMemoryFile*>(h);
  int64_t base = whence == SEEK_CUR ? int64_t(f->pos) : whence == SEEK_END ? int64_t(f->data.size()) : 0;
  const int64_t to = base + int64_t(offset);
  if (to < 0) return toff_t(-1);
  f->pos = toff_t(to);
  return f->pos;
}
int closeProc(thandle_t) {
  return 0;
}
toff_t sizeProc(thandle_t h) {
  return static_cast<TMemoryFile*>(h)->data.size();
}
int mapProc(thandle_t, tdata_t*, toff_t*) {
  return 0;
}
void unmapProc(thandle_t, tdata_t, toff_t) {}

// libtiff's messages go to the decode's error text instead of stderr.
int errorHandler(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* text = static_cast<std::string*>(user);
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  if (text && text->empty()) *text = std::string(module ? module : "TIFF") + ": " + line;
  return 1;
}
int warningHandler(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

}  // namespace

bool DecodeTIFFPage(std::string_view data, int32_t page, TBitmap& bitmap, int64_t maxPixels, std::string& error) {
  error.clear();
  const TTiffLibrary& tiff = Tiff();
  if (!tiff.error.empty()) throw ELibraryUnavailable("TIFF pages cannot be decoded: " + tiff.error);
  TMemoryFile file{data, 0};
  std::string libError;
  TIFFOpenOptions* options = tiff.TIFFOpenOptionsAlloc();
  tiff.TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &libError);
  tiff.TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, nullptr);
  // A damaged file cannot make libtiff allocate without bound.
  tiff.TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(256) << 20);
  TIFF* tif = tiff.TIFFClientOpenExt("memory", "rm", &file, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                                     unmapProc, options);
  tiff.TIFFOpenOptionsFree(options);
  if (!tif) {
    error = libError.empty() ? "the TIFF file cannot be opened" : libError;
    return false;
  }
  struct TCloser {
    TIFF* t;
    decltype(&::TIFFClose) close;
    ~TCloser() { close(t); }
  } closer{tif, tiff.TIFFClose};
  if (page < 1 || !tiff.TIFFSetDirectory(tif, static_cast<tdir_t>(page - 1))) {
    error = "the TIFF file has no page " + std::to_string(page);
    return false;
  }
  uint32_t w = 0, h = 0;
  uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE;
  tiff.TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  tiff.TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  tiff.TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  if (w == 0 || h == 0 || int64_t(w) * h > maxPixels) {
    error = "the TIFF page is " + std::to_string(w) + " x " + std::to_string(h) + " pixels";
    return false;
  }
  // Without its codec libtiff would hand back a blank page and no error.
  uint16_t compression = COMPRESSION_NONE;
  tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!tiff.TIFFIsCODECConfigured(compression)) {
    error = "its compression (" + std::to_string(compression) + ") is not one libtiff decodes";
    return false;
  }
  std::vector<uint32_t> raster(size_t(w) * h);
  if (!tiff.TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) {
    error = libError.empty() ? "the TIFF page cannot be decoded" : libError;
    return false;
  }
  const bool grey = samples == 1 && (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK);
  if (grey && bits == 1) {
    // Bi-level: palette entry 0 black, 1 white.
    bitmap = TBitmap(int32_t(w), int32_t(h), TPixelFormat::pf1bit);
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = bitmap.ScanLine(int32_t(y));
      std::memset(row, 0, (w + 7) / 8);
      for (uint32_t x = 0; x < w; ++x)
        if (TIFFGetR(raster[size_t(y) * w + x]) >= 128) row[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
  } else if (grey && bits == 8) {
    bitmap = TBitmap(int32_t(w), int32_t(h), TPixelFormat::pf8bit);
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = bitmap.ScanLine(int32_t(y));
      for (uint32_t x = 0; x < w; ++x) row[x] = uint8_t(TIFFGetR(raster[size_t(y) * w + x]));
    }
  } else {
    bitmap = TBitmap(int32_t(w), int32_t(h), TPixelFormat::pf24bit);
    for (uint32_t y = 0; y < h; ++y) {
      uint8_t* row = bitmap.ScanLine(int32_t(y));
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t p = raster[size_t(y) * w + x];
        // Transparent pixels over white, as the page shows them.
        const uint32_t a = TIFFGetA(p);
        uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
        if (a < 255) {
          // Laid over white (as straight alpha).
          r = std::min<uint32_t>(255, r * a / 255 + (255 - a));
          g = std::min<uint32_t>(255, g * a / 255 + (255 - a));
          b = std::min<uint32_t>(255, b * a / 255 + (255 - a));
        }
        row[x * 3] = uint8_t(b), row[x * 3 + 1] = uint8_t(g), row[x * 3 + 2] = uint8_t(r);
      }
    }
  }
  return true;
}
