// TIFF reader and writers.
//
// TPDFTIFF parses a TIFF file held in memory into pages with the parameters
// and the raw (still compressed) strips that image import embeds as PDF
// images. TPDFTIFFMaker wraps compressed bi-level data into a minimal
// single-strip TIFF. SaveBitmapAsTIFF writes a bitmap as a baseline TIFF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bitmap.h"
#include "platform/Classes.h"

// Compression codes shared by the reader and the writer.
constexpr uint8_t tcUnknown = 0;
constexpr uint8_t tcCCITTGroup4 = 1;
constexpr uint8_t tcNone = 2;
constexpr uint8_t tcLZW = 3;
constexpr uint8_t tcCCITTGroup3 = 4;    // one-dimensional
constexpr uint8_t tcCCITTGroup3_2D = 5;
constexpr uint8_t tcPackBits = 6;
constexpr uint8_t tcJPEG = 7;

// One IFD entry as read.
struct TTIFFEntry {
  uint16_t Tag = 0;
  uint16_t FieldType = 0;
  uint32_t Count = 0;
  uint32_t ValueOrOffset = 0;
  std::string Text;               // ASCII without its terminating zero, or UNDEFINED bytes
  std::vector<int64_t> Integers;  // BYTE, SHORT, LONG and their signed forms
  std::vector<double> Reals;      // RATIONAL, SRATIONAL, FLOAT, DOUBLE
};

struct TTIFFPage {
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t Compression = tcUnknown;
  uint8_t Photometric = 0;
  int32_t DpiX = 0;
  int32_t DpiY = 0;
  int32_t RowsPerStrip = 0;
  bool BlackIsZero = false;
  int32_t BitsPerSample = 8;
  int32_t SamplesPerPixel = 1;
  int32_t Predictor = 1;
  int32_t FillOrder = 0;
  std::vector<std::string> Strips;
  bool FillBits = false;
  std::vector<int64_t> ColorMap;
  bool SeparatePlanes = false;
};

class TPDFTIFF {
public:
  TPDFTIFF() = default;
  // Parses the file. A file that is not TIFF leaves Valid false and no
  // pages. Damaged IFD chains end the walk (cycles, offsets outside the
  // data); entries whose values lie outside the data are skipped.
  void LoadFromString(std::string_view data);
  // Reads the whole stream from its start.
  void LoadFromStream(TStream& stream);
  // Copies page n (1-based) into page; false (page untouched) out of range.
  bool GetPage(int32_t n, TTIFFPage& page) const;

  bool Valid = false;
  std::vector<TTIFFPage> Pages;
  int32_t PageCount = 0;
  uint32_t FirstIFDPointerOffset = 4;
  // The raw 4 bytes of every IFD pointer read (the header's, then each
  // IFD's next pointer), in order.
  std::vector<std::string> IFDPointers;

  // Most pages and total strip bytes read from one file; beyond them the
  // walk ends (strips shared by many IFDs must not multiply memory).
  static constexpr size_t kMaxPages = 65536;

private:
  bool readEntry(std::string_view data, size_t at, TTIFFEntry& entry) const;
  uint16_t get16(std::string_view data, size_t at) const;
  uint32_t get32(std::string_view data, size_t at) const;
  bool bigEndian_ = false;
};

class TPDFTIFFMaker {
public:
  TPDFTIFFMaker() = default;
  // Writes the little-endian file: the data at offset 128, then the
  // resolutions and the IFD.
  void SaveToStream(TStream& stream);

  std::string Data;
  int32_t Width = 0;
  int32_t Height = 0;
  uint8_t Compression = tcCCITTGroup4;
  bool BlackIsZero = false;
  int32_t DpiX = 96;
  int32_t DpiY = 96;
  bool FillBits = false;

  struct TBuiltEntry {
    uint16_t Tag;
    uint16_t Type;
    uint32_t Count;
    uint32_t Value;
  };
  // The entries of the last SaveToStream, in file order.
  const std::vector<TBuiltEntry>& Entries() const { return entries_; }

private:
  std::vector<TBuiltEntry> entries_;
};

// Writes the bitmap as an uncompressed baseline TIFF (1-bit and 8-bit with
// their palette, 24-bit as RGB, 32-bit as RGB with alpha when the bitmap
// carries alpha), with the resolution when dpi > 0. Returns false, writing
// nothing, when the bitmap is empty.
bool SaveBitmapAsTIFF(const TBitmap& bitmap, TStream& stream, int32_t dpi);

// Page n (1-based) of a TIFF file decoded to a bitmap, whatever its
// compression (through libtiff): 1-bit for bi-level pages, 8-bit grey (a
// grey palette) for 8-bit grey pages, else 24-bit RGB. False, with the
// reason, when the page cannot be decoded or holds more than maxPixels.
// ELibraryUnavailable when libtiff cannot be loaded.
bool DecodeTIFFPage(std::string_view data, int32_t page, TBitmap& bitmap, int64_t maxPixels, std::string& error);

// bitCount div 8 + 1 bytes, all 0xFF.
std::string FilledBitMask(int32_t bitCount);
