// JBIG2 (ITU-T T.88) decoding of a JBIG2Decode image, with its optional
// /JBIG2Globals, into the bitmap of page 1: one byte per pixel, 1 black.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"

// Damaged or hostile JBIG2 data. Raised inside the decoder only: the segment
// being read is dropped and decoding ends; callers see a false result.
class EJBIG2Error : public Exception {
public:
  using Exception::Exception;
};

// Byte and bit reader over one block of data. Reads past the end give 0.
class TStreamReader {
public:
  TStreamReader() = default;
  explicit TStreamReader(std::string_view data) : data_(data) {}

  uint8_t ReadByte();
  std::string_view ReadBytes(int64_t count);
  int ReadBit();
  uint32_t ReadBits(int n);
  uint32_t ReadUInt32();
  uint16_t ReadUInt16();
  int32_t ReadInt32() { return static_cast<int32_t>(ReadUInt32()); }
  int8_t ReadSignedByte() { return static_cast<int8_t>(ReadByte()); }
  void MovePointer(int64_t n);
  void ConsumeRemainingBits();
  bool IsFinished() const { return pos_ >= static_cast<int64_t>(data_.size()); }

  int64_t Position() const { return pos_; }
  void SetPosition(int64_t pos) {
    pos_ = pos;
    bitPos_ = 7;
  }
  int64_t Size() const { return static_cast<int64_t>(data_.size()); }
  int64_t Remaining() const { return pos_ < Size() ? Size() - pos_ : 0; }
  std::string_view Data() const { return data_; }
  // How far reads have gone past the end of the data, in bytes.
  int64_t Overrun() const { return pos_ > Size() ? pos_ - Size() : 0; }

private:
  std::string_view data_;
  int64_t pos_ = 0;
  int bitPos_ = 7;
};

// Adaptive context states of the MQ decoder: (state index << 1) | MPS.
class TArithmeticDecoderStats {
public:
  explicit TArithmeticDecoderStats(int contextSize = 2) : states_(static_cast<size_t>(contextSize), 0) {}
  int ContextSize() const { return static_cast<int>(states_.size()); }
  void Reset() { std::fill(states_.begin(), states_.end(), 0); }
  uint8_t& operator[](uint32_t cx) { return states_[cx]; }
  void CopyFrom(const TArithmeticDecoderStats& other) { states_ = other.states_; }

private:
  std::vector<uint8_t> states_;
};

namespace jbig2mq {

struct TQeRow {
  uint16_t qe;
  uint8_t nmps, nlps, switchFlag;
};

// T.88 Table E.1.
inline constexpr TQeRow kQe[47] = {
    {0x5601, 1, 1, 1},   {0x3401, 2, 6, 0},   {0x1801, 3, 9, 0},   {0x0AC1, 4, 12, 0},  {0x0521, 5, 29, 0},
    {0x0221, 38, 33, 0}, {0x5601, 7, 6, 1},   {0x5401, 8, 14, 0},  {0x4801, 9, 14, 0},  {0x3801, 10, 14, 0},
    {0x3001, 11, 17, 0}, {0x2401, 12, 18, 0}, {0x1C01, 13, 20, 0}, {0x1601, 29, 21, 0}, {0x5601, 15, 14, 1},
    {0x5401, 16, 14, 0}, {0x5101, 17, 15, 0}, {0x4801, 18, 16, 0}, {0x3801, 19, 17, 0}, {0x3401, 20, 18, 0},
    {0x3001, 21, 19, 0}, {0x2801, 22, 19, 0}, {0x2401, 23, 20, 0}, {0x2201, 24, 21, 0}, {0x1C01, 25, 22, 0},
    {0x1801, 26, 23, 0}, {0x1601, 27, 24, 0}, {0x1401, 28, 25, 0}, {0x1201, 29, 26, 0}, {0x1101, 30, 27, 0},
    {0x0AC1, 31, 28, 0}, {0x09C1, 32, 29, 0}, {0x08A1, 33, 30, 0}, {0x0521, 34, 31, 0}, {0x0441, 35, 32, 0},
    {0x02A1, 36, 33, 0}, {0x0221, 37, 34, 0}, {0x0141, 38, 35, 0}, {0x0111, 39, 36, 0}, {0x0085, 40, 37, 0},
    {0x0049, 41, 38, 0}, {0x0025, 42, 39, 0}, {0x0015, 43, 40, 0}, {0x0009, 44, 41, 0}, {0x0005, 45, 42, 0},
    {0x0001, 45, 43, 0}, {0x5601, 46, 46, 0},
};

}  // namespace jbig2mq

// The MQ arithmetic decoder with the integer and symbol-ID procedures.
class TArithmeticDecoder {
public:
  enum TIntStats { IADH, IADW, IAEX, IAAI, IADT, IAFS, IADS, IAIT, IARI, IARDW, IARDH, IARDX, IARDY, IntStatsCount };

  explicit TArithmeticDecoder(TStreamReader& reader);
  void Start();
  // The common case (the more probable symbol without renormalisation) is
  // inline: it is most of the bits of a generic region.
  int DecodeBit(TArithmeticDecoderStats& stats, uint32_t cx) {
    uint8_t& st = stats[cx];
    A_ -= jbig2mq::kQe[st >> 1].qe;
    if ((C_ >> 16) < A_ && (A_ & 0x8000)) return st & 1;
    return Exchange(st);
  }
  // Returns false for the out-of-band value.
  bool DecodeInt(TIntStats which, int32_t& value);
  uint32_t DecodeIAID(int codeLength);
  // Bytes of 1-bits fed in after the data ended (at a marker or past the
  // end): what an encoder's flush leaves to the decoder is a handful.
  int64_t PaddingBytes() const { return padding_; }
  bool PastFlush() const { return padding_ > kFlushPadding; }
  int64_t DataSize() const;
  static constexpr int64_t kFlushPadding = 4;
  // Rows decoded once the decoder is past its flush come from padding
  // alone. Stripped trailing bytes make up to some 160,000 such pixels in
  // real files; a tiny stream declaring millions of rows, or thousands of
  // small regions sharing one decoder (the refinements of a symbol
  // dictionary), would make it spin on padding for minutes. The budget
  // covers every region this decoder feeds: a floor well above what real
  // files need, and more for more data. A refinement pixel, whose context
  // reads both bitmaps, costs several generic ones. False once the pixels
  // of a row would go past it; the region is then damaged and its
  // remaining rows stay white.
  bool SpendPaddedPixels(int64_t pixels);
  static constexpr int64_t kPaddedPixelFloor = int64_t(1) << 20;
  static constexpr int64_t kPaddedPixelsPerByte = 4096;
  static constexpr int64_t kPaddedRefinementPixelCost = 4;

  void ResetGenericStats(int templ, const TArithmeticDecoderStats* previous);
  void ResetRefinementStats(int templ, const TArithmeticDecoderStats* previous);
  void ResetIntStats(int symbolCodeLength);

  TArithmeticDecoderStats genericRegionStats{2};
  TArithmeticDecoderStats refinementRegionStats{2};
  TArithmeticDecoderStats iaidStats{2};
  std::vector<TArithmeticDecoderStats> intStats;

private:
  TStreamReader& reader_;
  uint32_t A_ = 0, C_ = 0;
  int CT_ = 0;
  uint8_t B_ = 0;
  int64_t padding_ = 0;
  int64_t paddedPixels_ = 0;
  void ByteIn();
  uint8_t NextByte();
  // The exchange and renormalisation after A_ was reduced by Qe.
  int Exchange(uint8_t& st);
};

// One row of a Huffman table (T.88 B.2): a value range or the out-of-band row.
struct THuffmanLine {
  int32_t rangeLow = 0;
  int prefixLength = 0;
  int rangeLength = 0;
  enum TKind : uint8_t { hlNormal, hlLower, hlUpper, hlOOB } kind = hlNormal;
  uint32_t code = 0;  // assigned by BuildHuffmanTable
};
using THuffmanTable = std::vector<THuffmanLine>;

// Assigns the prefix codes of T.88 B.3 in place.
void BuildHuffmanTable(THuffmanTable& table);
// Standard table B.n (1..15).
const THuffmanTable& StandardHuffmanTable(int n);

class THuffmanDecoder {
public:
  explicit THuffmanDecoder(TStreamReader& reader) : reader_(reader) {}
  // Returns false for the out-of-band value or a code no row matches.
  bool DecodeInt(const THuffmanTable& table, int32_t& value);
  int ReadBit() { return reader_.ReadBit(); }
  uint32_t ReadBits(int n) { return reader_.ReadBits(n); }
  void ConsumeRemainingBits() { reader_.ConsumeRemainingBits(); }

private:
  TStreamReader& reader_;
};

class TJBIG2StreamDecoder;

// A bi-level image stored packed: 8 pixels a byte, the first in the high
// bit, each row padded to whole bytes (padding bits always 0). A 300-dpi page
// is then about 1 MB instead of 8, and the page composes and leaves the
// decoder as whole bytes.
class TJBIG2Bitmap {
public:
  TJBIG2Bitmap(int32_t width, int32_t height);
  int32_t width = 0, height = 0;
  int32_t bitmapNumber = -1;

  int GetPixel(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    return (PackedRow(y)[x >> 3] >> (7 - (x & 7))) & 1;
  }
  void SetPixel(int32_t x, int32_t y, int value) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    uint8_t& b = PackedRow(y)[x >> 3];
    const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
    b = static_cast<uint8_t>(value ? (b | bit) : (b & ~bit));
  }
  void Clear(int value);
  void CopyRow(int32_t to, int32_t from);
  void Combine(const TJBIG2Bitmap& bitmap, int64_t x, int64_t y, int op);
  std::unique_ptr<TJBIG2Bitmap> GetSlice(int32_t x, int32_t y, int32_t w, int32_t h) const;
  void Expand(int32_t newHeight, int defaultValue);
  // One byte (0 or 1) per pixel; rows outside the bitmap read white.
  std::vector<uint8_t> GetRow(int32_t row) const;
  // Bytes per packed row.
  size_t Stride() const { return stride_; }
  uint8_t* PackedRow(int32_t y) { return data_.data() + static_cast<size_t>(y) * stride_; }
  const uint8_t* PackedRow(int32_t y) const { return data_.data() + static_cast<size_t>(y) * stride_; }
  // Clears the padding bits of rows [from, to) after whole bytes were written.
  void ClearPadding(int32_t from, int32_t to);

private:
  size_t stride_ = 0;
  std::vector<uint8_t> data_;
};

struct TSegmentHeader {
  uint32_t segmentNumber = 0;
  int segmentType = 0;
  bool pageAssociationSizeSet = false;
  bool deferredNonRetainSet = false;
  uint32_t referredToSegmentCount = 0;
  std::vector<uint8_t> retentionFlags;
  std::vector<uint32_t> referredToSegments;
  uint32_t pageAssociation = 0;
  uint32_t dataLength = 0;  // 0xFFFFFFFF: unknown
  bool DataLengthUnknown() const { return dataLength == 0xFFFFFFFF; }
};

class TSegment {
public:
  TSegment(TJBIG2StreamDecoder& decoder, TSegmentHeader header) : header(std::move(header)), decoder_(decoder) {}
  virtual ~TSegment() = default;
  // Reads the segment's data from the given block (exactly its data).
  virtual void ReadSegment(TStreamReader& reader) = 0;
  TSegmentHeader header;

protected:
  TJBIG2StreamDecoder& decoder_;
};

class TPageInformationSegment;

class TJBIG2StreamDecoder {
public:
  // Bitmaps larger than this many pixels are refused; so is decoding work
  // beyond WorkLimit pixels over the whole image.
  static constexpr int64_t MaxBitmapPixels = int64_t(1) << 26;
  static constexpr int64_t WorkLimit = int64_t(1) << 27;
  // Pages (width x height) above this are refused when their information
  // segment is read.
  int64_t MaxPagePixels = MaxBitmapPixels;

  TJBIG2StreamDecoder();
  ~TJBIG2StreamDecoder();
  void SetGlobalData(std::string_view bytes) { globals_ = bytes; }
  void Decode(std::string_view data);

  TSegment* FindSegment(uint32_t number) const;
  TPageInformationSegment* FindPageSegment(uint32_t page) const;
  TJBIG2Bitmap* GetPageBitmap() const;
  void AddBitmap(std::unique_ptr<TJBIG2Bitmap> bitmap);
  TJBIG2Bitmap* FindBitmap(int32_t number) const;
  std::unique_ptr<TJBIG2Bitmap> NewBitmap(int64_t width, int64_t height);
  void AddWork(int64_t pixels);
  // Refuses work declared up front (a halftone grid's bit planes) that
  // would take the decoding past WorkLimit, before any of it is done.
  void CheckWork(int64_t pixels) const;
  int32_t NoOfPages() const { return noOfPages; }

  bool noOfPagesKnown = false;
  bool randomAccessOrganisation = false;
  int32_t noOfPages = -1;

private:
  std::string_view globals_;
  std::vector<std::unique_ptr<TSegment>> segments_;
  std::vector<std::unique_ptr<TJBIG2Bitmap>> bitmaps_;
  int64_t work_ = 0;
  bool endOfFile_ = false;

  void ReadSegments(TStreamReader& reader);
  bool ReadSegmentHeader(TStreamReader& reader, TSegmentHeader& h);
  std::unique_ptr<TSegment> MakeSegment(const TSegmentHeader& h);
  void ReadSegmentData(TSegment& segment, TStreamReader& reader, int64_t start);
};

class TPVLJBIG2Decoder {
public:
  TPVLJBIG2Decoder() = default;
  bool DecodeWithGlobals(std::string_view data, std::string_view globals);
  bool Decode(std::string_view data) { return DecodeWithGlobals(data, {}); }
  bool GetScanline(int32_t row, std::vector<uint8_t>& bytes) const;

  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<std::vector<uint8_t>> Scanlines;
  // Set before decoding: the page is given as PackedRows (8 pixels a byte,
  // the first in the high bit, a set bit black; rows of (Width + 7) / 8
  // bytes) instead of Scanlines, an eighth of the memory.
  bool PackRows = false;
  std::string PackedRows;
  // A page of more pixels than this is refused before its rows are copied
  // out (callers with a smaller picture limit lower it).
  int64_t MaxPixels = TJBIG2StreamDecoder::MaxBitmapPixels;
};
