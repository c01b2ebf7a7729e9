// Device-independent bitmap of the class library: 1, 8, 24 or 32 bits per
// pixel, an optional palette, BMP read and write.
//
// Rows are stored top-down: ScanLine(y + 1) == ScanLine(y) + Stride(), and
// every row starts 4-byte aligned as in a DIB. 24-bit pixels are B,G,R bytes;
// 32-bit pixels are B,G,R,A bytes (one native-endian 0xAARRGGBB word, the
// layout cairo and GDI+ use for their 32-bit premultiplied formats).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Classes.h"
#include "platform/Color.h"

class EBitmapError : public Exception {
public:
  using Exception::Exception;
};

enum class TPixelFormat { pf1bit, pf8bit, pf24bit, pf32bit };

// How the fourth byte of a 32-bit pixel is meant.
enum class TAlphaFormat {
  afIgnored,       // not alpha: the pixels are opaque
  afDefined,       // straight (non-premultiplied) alpha
  afPremultiplied  // colour bytes already multiplied by alpha
};

struct TRGBQuad {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};

// Picture of the class library: anything that can load itself from and
// save itself to a stream in its own file format.
class TGraphic {
public:
  virtual ~TGraphic() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual bool Empty() const { return Width() == 0 || Height() == 0; }
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) const = 0;
  // Through LoadFromStream / SaveToStream (the file is written safely).
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;
};

// Allocator of pixel storage: resizing leaves new bytes as they come
// (value-initialising a page-sized buffer is a pass over all of it); every
// operation that promises zeros writes them itself.
template <class T>
struct TPixelAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TPixelAllocator<U>;
  };
  TPixelAllocator() = default;
  template <class U>
  TPixelAllocator(const TPixelAllocator<U>&) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    if constexpr (sizeof...(Args) == 0)
      ::new (static_cast<void*>(p)) U;
    else
      ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

class TBitmap : public TGraphic {
public:
  // Largest number of pixels a bitmap may have; protects against absurd
  // dimensions from files. Process-wide setting.
  static int64_t MaxPixels();
  static void SetMaxPixels(int64_t pixels);
  static constexpr int64_t DefaultMaxPixels = int64_t(1) << 28;

  TBitmap() = default;
  TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf24bit);
  // A 24- or 32-bit bitmap whose pixels the caller writes every one of
  // before reading any (a page painted white first, a conversion's target):
  // the pixels are not cleared first; the padding of 24-bit rows is.
  // Raises EBitmapError as the constructor does, and for other formats.
  static TBitmap ForOverwrite(int width, int height, TPixelFormat format);

  int Width() const override { return width_; }
  int Height() const override { return height_; }
  bool Empty() const override { return width_ == 0 || height_ == 0; }
  TPixelFormat PixelFormat() const { return format_; }
  int BitsPerPixel() const { return BitsPerPixel(format_); }
  static int BitsPerPixel(TPixelFormat format);
  // Bytes per row, a multiple of 4.
  int Stride() const { return stride_; }
  static int64_t StrideFor(int width, TPixelFormat format);

  // Resizing keeps the pixels of the overlapping top-left area; new pixels
  // are zero. Raises EBitmapError for negative or too large sizes.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, height_); }
  void SetHeight(int height) { SetSize(width_, height); }
  // Converts the pixels to the new format: palette formats map to their
  // nearest palette colour, 24 to 32 bits sets alpha 255.
  void SetPixelFormat(TPixelFormat format);

  // Row y counted from the top, 0 <= y < Height().
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const;
  // The whole pixel buffer (Stride() * Height() bytes, row 0 first).
  uint8_t* Bits() { return pixels_.data(); }
  const uint8_t* Bits() const { return pixels_.data(); }
  size_t BitsSize() const { return pixels_.size(); }

  // Palette of the 1- and 8-bit formats (default: black and white for 1 bit,
  // a grey ramp for 8 bits); other formats carry no palette.
  const std::vector<TRGBQuad>& Palette() const { return palette_; }
  // At most 2^bits entries; raises EBitmapError otherwise.
  void SetPalette(const std::vector<TRGBQuad>& palette);
  void SetPaletteEntry(int index, TColor color);

  TAlphaFormat AlphaFormat() const { return alphaFormat_; }
  void SetAlphaFormat(TAlphaFormat format) { alphaFormat_ = format; }

  // Colour of a pixel (0x00BBGGRR); clNone-free: outside the bitmap gives 0.
  TColor Pixel(int x, int y) const;
  // Sets a pixel; palette formats take the nearest palette entry. Outside: ignored.
  void SetPixel(int x, int y, TColor color);
  // Palette index of a pixel of a 1- or 8-bit bitmap.
  int PixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, int index);
  // Fills every pixel with a colour (32-bit: alpha 255).
  void Fill(TColor color);

  // Index of the palette entry nearest to a colour.
  int NearestPaletteIndex(TColor color) const;

  // BMP file format. Loading accepts the core (OS/2 1.x), info, V4 and V5
  // headers, OS/2 2.x headers, 1/2/4/8/16/24/32 bits, BI_RGB, BI_BITFIELDS,
  // BI_ALPHABITFIELDS, RLE4 and RLE8, top-down and bottom-up rows. A failure
  // raises EBitmapError and leaves the bitmap unchanged.
  void LoadFromStream(TStream& stream) override;
  void LoadFromBytes(std::string_view bytes);
  // Writes a bottom-up info-header BMP, BI_RGB (32 bits without alpha get an
  // opaque fourth byte); 32 bits with alpha become a V5 header with an alpha
  // mask and straight alpha.
  void SaveToStream(TStream& stream) const override;
  // The BMP file of this bitmap.
  std::string SaveToBytes() const;

  // Same size, format and colours (and alpha when either has alpha).
  bool operator==(const TBitmap& other) const;

private:
  void Reset(int width, int height, TPixelFormat format);
  static void CheckSize(int width, int height, TPixelFormat format);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  TAlphaFormat alphaFormat_ = TAlphaFormat::afIgnored;
  int stride_ = 0;
  std::vector<uint8_t, TPixelAllocator<uint8_t>> pixels_;
  std::vector<TRGBQuad> palette_;
};

// Helpers for packed colours.
constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
