// PNG reader and writer.
//
// TPNGReader turns a PNG file into what an image XObject needs: the
// compressed samples of the colour channels (either the file's own IDAT data,
// usable as FlateDecode with PNG predictors, or re-deflated plain rows), the
// compressed alpha samples for a soft mask, the palette as an Indexed colour
// space and the resolution. TPNGWriter writes a bitmap as an 8-bit true-colour
// PNG with optional alpha, tRNS, resolution and ICC profile.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Classes.h"

class EPNGError : public Exception {
public:
  using Exception::Exception;
};

// CRC-32 of PNG chunks (over type and data).
uint32_t PNGCrc32(std::string_view bytes, uint32_t crc = 0);

class TPNGReader {
public:
  TPNGReader() = default;
  // Reads the chunks and, unless ScanOnly is set, decodes. A file that is not
  // a usable PNG leaves the outputs empty (Width or Height 0, or no colour
  // data) and says why in ErrorText; nothing is raised.
  void LoadFromStream(TStream& stream);
  // "/DeviceRGB hival<hex palette>" for an Indexed colour space.
  std::string GetIndexedColorSpace() const;

  uint32_t Width = 0;
  uint32_t Height = 0;
  int32_t BitDepth = 0;
  int32_t ColorBitDepth = 0;  // bits per colour sample in ColorData
  int32_t AlphaBitDepth = 0;  // bits per alpha sample in AlphaData
  uint8_t ColorType = 0;
  uint8_t CompressionMethod = 0;
  uint8_t FilterMethod = 0;
  uint8_t InterlaceMethod = 0;
  int32_t PaletteCount = 0;
  std::string Palette;       // PLTE data
  std::string Transparency;  // tRNS data
  std::string ImageData;     // the IDAT data, concatenated
  // Outputs. Direct: ColorData is ImageData itself (FlateDecode with PNG
  // predictors, Colors = colour channels, Columns = Width). Otherwise
  // ColorData holds deflated rows of ceil(Width * channels * depth / 8) bytes.
  std::string ColorData;
  std::string AlphaData;
  int32_t DpiX = 96;
  int32_t DpiY = 96;
  bool Direct = false;
  // Switches set by the caller before loading.
  bool ReduceColor = false;  // 16-bit colour samples become 8-bit
  bool ReduceAlpha = false;  // 16-bit alpha samples become 8-bit
  bool ScanOnly = false;     // read the chunks only
  // Stream positions: the PLTE data, the tRNS chunk's length field and the
  // first IDAT chunk's length field; -1 when absent.
  int64_t PalettePosition = -1;
  int64_t TransparencyPosition = -1;
  int64_t ImageDataPosition = -1;
  // Why the outputs are empty; empty when the file was decoded.
  std::string ErrorText;

  // Colour and alpha channels of the colour type (0 for an unknown type).
  static int32_t ColorChannels(uint8_t colorType);
  static int32_t AlphaChannels(uint8_t colorType);

private:
  bool checkHeader();
  void decode();
};

class TPNGWriter {
public:
  // Keeps a 24-bit copy of the bitmap; no alpha, no transparency.
  explicit TPNGWriter(const TBitmap& bitmap);
  // Takes the bitmap over instead of copying it: an opaque 32-bit bitmap
  // (a rendered page) is written as it stands, without a 24-bit copy.
  explicit TPNGWriter(TBitmap&& bitmap);
  // The alpha channel comes from the blue byte of a second bitmap (at 24
  // bits), complemented when invert is set. nullptr changes nothing.
  void SetBitmap(const TBitmap* alphaBitmap, bool invert);
  void SetDPI(int32_t dpi) { dpi_ = dpi; }
  // The zlib level of the image data. Rendered pages are flat colour and
  // anti-aliased edges, for which zlib's fast matcher at this level gives
  // files about the size the default level gives (within a few per cent,
  // either way) in half the time.
  static constexpr int kDeflateLevel = 3;
  // Colour 0x00BBGGRR written as tRNS (images without alpha only).
  void SetTransparentColor(TColor color);
  void SetICCProfile(std::string_view profile);
  // Raises EPNGError for an empty bitmap (PNG has no 0-pixel images).
  void SaveToStream(TStream& stream) const;

private:
  int32_t dpi_ = 0;
  TBitmap bitmap_;  // 24 bits, or 32 bits without alpha
  std::vector<std::string> alphaRows_;
  bool hasAlpha_ = false;
  bool hasTransparentColor_ = false;
  TColor transparentColor_ = 0;
  std::string iccProfile_;  // deflated
};
