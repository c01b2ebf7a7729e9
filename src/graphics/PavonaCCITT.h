// CCITT Group 3 (one- and two-dimensional) and Group 4 fax decoding into
// packed bi-level rows: (Columns + 7) / 8 bytes per row, most significant bit
// first, a set bit black.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "platform/Classes.h"

// Raised by the two-dimensional Group 3 decode on bad data.
class ECCITTError : public Exception {
public:
  using Exception::Exception;
};

class TPVLCCITTDecoder {
public:
  // Output larger than this is refused: Columns and Rows come from the file.
  static constexpr int64_t MaxOutputBytes = int64_t(1) << 28;
  static constexpr int32_t MaxColumns = 1 << 22;

  TPVLCCITTDecoder(int32_t Columns, int32_t Rows, int32_t FillOrder, bool EncodedByteAlign, bool FillBits);

  // /EndOfLine of the filter. When false (the PDF default) end-of-line codes are
  // optional: they are consumed where present and Group 3 2-D rows may follow
  // each other with only their tag bit. When true every Group 3 2-D row must
  // begin with an EOL, searched for over damaged data.
  void SetEndOfLine(bool value) { EndOfLine = value; }

  // Each decode sizes output to Stride() * Rows bytes, all white, then decodes
  // rows 0 .. Rows-1 from the first bit of data.
  // /K = 0. Failures end the decode quietly; rows decoded so far stay.
  void Decode1D(std::vector<uint8_t>& output, std::string_view data);
  // /K > 0. Raises ECCITTError on bad data; rows decoded so far stay.
  void Decode2D(std::vector<uint8_t>& output, std::string_view data);
  // /K < 0. True on success; false after any failure, with an all-zero output.
  bool DecodeT6(std::vector<uint8_t>& output, std::string_view data);

  int32_t Stride() const { return Columns > 0 ? (Columns + 7) / 8 : 0; }
  // Bits read so far by the last decode (JBIG2 MMR data is followed by more data).
  int64_t BitsConsumed() const { return BytePos * 8 + BitPos; }

private:
  int32_t Columns;
  int32_t Rows;
  int32_t FillOrder;
  bool EncodedByteAlign;
  bool FillBits;
  bool EndOfLine = false;

  std::string_view data_;
  int64_t BytePos = 0;
  int32_t BitPos = 0;

  // Changing elements: the coding row being built and the reference row above.
  std::vector<int32_t> codingLine_, refLine_;
  int32_t codingCount_ = 0;
  int32_t refCount_ = 0;
  int32_t lastFound_ = 0;
  int32_t b1_ = 0, b2_ = 0;
  uint8_t* row_ = nullptr;
  bool endOfBlock_ = false;

  bool Prepare(std::vector<uint8_t>& output, std::string_view data);
  uint32_t PeekBits(int n) const;
  uint32_t NextLesserThan8Bits(int n);
  uint32_t NextNBits(int n);
  void SkipBits(int n);
  void PushBackBits(int n);
  bool AtEnd() const { return BytePos >= static_cast<int64_t>(data_.size()); }
  void AlignToByte();

  int32_t DecodeWhiteRun();
  int32_t DecodeBlackRun();
  int32_t DecodeRun(bool white, bool eolEndsRow, bool& sawEOL);
  void DecodeNextScanline();
  void DecodeTwoDimensionalRow(bool group4);
  void SkipRowEOL();
  int ReadEOL(bool first);
  void SeekEOL();

  void StartRow(uint8_t* row);
  void FinishRowList(int32_t a);
  void AddChange(int32_t pos);
  void GetNextChangingElement(int32_t a0, bool white);
  void SetBlack(int32_t from, int32_t to);
};
