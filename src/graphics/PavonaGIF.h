// GIF reader and writer with an octree colour quantiser.
//
// TPDFGIFDecoder reads GIF87a/89a files and paints their images into a
// 24-bit bitmap. TPDFGIFWriter writes any bitmap as a single-image GIF87a:
// TColorQuantizer reduces it to at most 256 colours, TFastColorLookup maps
// the pixels to the palette and TGIFEncoder writes the LZW data.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Classes.h"

struct TGIFColor {
  uint8_t Red = 0, Green = 0, Blue = 0;
};

struct TGIFGraphicControl {
  bool Present = false;
  uint8_t Disposal = 0;
  bool UserInput = false;
  bool Transparent = false;
  uint16_t Delay = 0;
  uint8_t TransparentIndex = 0;
};

struct TGIFImageBlock {
  uint16_t Left = 0, Top = 0, Width = 0, Height = 0;
  bool LocalTable = false;
  bool Interlaced = false;
  bool Sorted = false;
  int32_t LocalTableSize = 0;
  std::vector<TGIFColor> LocalColors;
  uint8_t CodeSize = 0;  // LZW minimum code size
  std::string Data;      // the data sub-blocks, concatenated
  TGIFGraphicControl Control;
};

class TPDFGIFDecoder {
public:
  TPDFGIFDecoder() = default;
  // Parses the whole file from the stream's position.
  void LoadFromStream(TStream& stream);
  // Paints every image, in file order, onto a 24-bit bitmap of the logical
  // screen size (first filled with the background colour). Pixels with the
  // transparent index of an image's graphic control are left unpainted.
  // Images with an LZW code size outside 2..8 are not painted. Raises
  // EBitmapError when the screen is larger than a bitmap may be.
  void DrawToBitmap(TBitmap& bitmap) const;

  std::string Version;
  bool ValidVersion = false;
  uint16_t ScreenWidth = 0, ScreenHeight = 0;
  bool GlobalTable = false;
  uint8_t ColorResolution = 0;
  bool Sorted = false;
  int32_t GlobalTableSize = 0;
  uint8_t BackgroundIndex = 0;
  std::vector<TGIFColor> GlobalColors;
  bool Error = false;
  TGIFGraphicControl PendingControl;
  std::vector<TGIFImageBlock> Images;

  // The background colour: the global table's entry at the background
  // index, black without a global table or when the index is outside it.
  TColor BackgroundColor() const;

private:
  void drawImage(const TGIFImageBlock& image, TBitmap& target, int64_t& budget) const;
};

// One node of the colour octree.
class TOctreeNode {
public:
  bool Leaf = false;
  uint32_t PixelCount = 0;
  uint64_t RedSum = 0, GreenSum = 0, BlueSum = 0;
  std::array<std::unique_ptr<TOctreeNode>, 8> Children;
  TOctreeNode* NextReducible = nullptr;
  int32_t PaletteIndex = 0;
};

class TColorQuantizer {
public:
  TColorQuantizer(int32_t maxColors, int32_t colorBits);
  ~TColorQuantizer();
  // A new 8-bit bitmap of the source's size with a 256-entry palette.
  std::unique_ptr<TBitmap> Quantize(const TBitmap& source);

private:
  void addColor(uint8_t r, uint8_t g, uint8_t b);
  void reduceTree();
  void buildPalette(TOctreeNode* node, std::vector<TRGBQuad>& palette);

  std::unique_ptr<TOctreeNode> root_;
  int32_t leafCount_ = 0;
  std::array<TOctreeNode*, 8> reducible_{};
  int32_t maxColors_;
  int32_t colorBits_;
};

class TFastColorLookup {
public:
  explicit TFastColorLookup(const std::vector<TRGBQuad>& palette);
  int32_t Lookup(uint8_t red, uint8_t green, uint8_t blue);

private:
  std::vector<TRGBQuad> palette_;
  std::vector<int16_t> inverse_;  // 32768 cells: blue5 * 1024 + green5 * 32 + red5
};

// String table of the LZW encoder: open addressing over 8009 slots.
class THashTable {
public:
  static constexpr uint32_t kSize = 8009;
  THashTable();
  void Clear();
  void Insert(uint32_t key, uint32_t code);
  // The code stored for key, -1 when absent.
  int32_t Lookup(uint32_t key) const;

private:
  std::vector<uint32_t> entries_;
};

// Collects bytes into GIF data sub-blocks of up to 255 bytes.
class TGIFStream {
public:
  explicit TGIFStream(TStream& target) : target_(target) {}
  void Put(uint8_t byte);
  // Writes the pending bytes and the 0 terminator.
  void Finish();

private:
  TStream& target_;
  std::string pending_;
};

class TAbstractGIFEncoder {
public:
  virtual ~TAbstractGIFEncoder() = default;

protected:
  virtual void outputCode(int32_t code) = 0;
  virtual void clearTable() = 0;
  virtual void compress() = 0;
};

class TGIFEncoder : public TAbstractGIFEncoder {
public:
  // Writes the minimum code size and the LZW data sub-blocks of the pixels
  // (one byte per pixel, rows from the top).
  void Compress(TStream& stream, int32_t bitsPerPixel, int32_t maxColor, const uint8_t* pixels, bool interlace,
                int32_t height, int32_t width);

protected:
  void outputCode(int32_t code) override;
  void clearTable() override;
  void compress() override;

private:
  TGIFStream* out_ = nullptr;
  int32_t bitsPerPixel_ = 0;
  int32_t width_ = 0, height_ = 0;
  bool interlace_ = false;
  const uint8_t* pixels_ = nullptr;
  int32_t initialBits_ = 0;
  int32_t bits_ = 0;
  int32_t maxCode_ = 0;
  int32_t clearCode_ = 0;
  int32_t endCode_ = 0;
  int32_t freeCode_ = 0;
  bool clearFlag_ = false;
  uint32_t bucket_ = 0;
  int32_t bucketBits_ = 0;
  int64_t pixelsLeft_ = 0;
  THashTable table_;
};

class TPDFGIFWriter {
public:
  TPDFGIFWriter() = default;
  // Quantises (a 24-bit copy of) the bitmap and keeps the 8-bit result and
  // its palette.
  void SetBitmap(const TBitmap& bitmap);
  // Writes the GIF file; raises EBitmapError when no bitmap was set or it is
  // empty or wider or taller than GIF allows (65535).
  void SaveToStream(TStream& stream) const;

private:
  std::unique_ptr<TBitmap> image_;
  int32_t width_ = 0, height_ = 0;
  std::array<TRGBQuad, 256> palette_{};
};
