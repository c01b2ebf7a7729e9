#include "graphics/PavonaCCITT.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// One look-up of the next 13 bits gives any run code (the longest is 13 bits).
constexpr int kRunBits = 13;

enum TRunKind : uint8_t { rkInvalid = 0, rkTerminating, rkMakeUp, rkEOL };

struct TRunEntry {
  uint16_t run = 0;
  uint8_t length = 0;
  TRunKind kind = rkInvalid;
};

struct TCode {
  uint16_t run;
  const char* bits;
};

constexpr TCode kWhiteCodes[] = {
    {0, "00110101"},     {1, "000111"},       {2, "0111"},         {3, "1000"},         {4, "1011"},
    {5, "1100"},         {6, "1110"},         {7, "1111"},         {8, "10011"},        {9, "10100"},
    {10, "00111"},       {11, "01000"},       {12, "001000"},      {13, "000011"},      {14, "110100"},
    {15, "110101"},      {16, "101010"},      {17, "101011"},      {18, "0100111"},     {19, "0001100"},
    {20, "0001000"},     {21, "0010111"},     {22, "0000011"},     {23, "0000100"},     {24, "0101000"},
    {25, "0101011"},     {26, "0010011"},     {27, "0100100"},     {28, "0011000"},     {29, "00000010"},
    {30, "00000011"},    {31, "00011010"},    {32, "00011011"},    {33, "00010010"},    {34, "00010011"},
    {35, "00010100"},    {36, "00010101"},    {37, "00010110"},    {38, "00010111"},    {39, "00101000"},
    {40, "00101001"},    {41, "00101010"},    {42, "00101011"},    {43, "00101100"},    {44, "00101101"},
    {45, "00000100"},    {46, "00000101"},    {47, "00001010"},    {48, "00001011"},    {49, "01010010"},
    {50, "01010011"},    {51, "01010100"},    {52, "01010101"},    {53, "00100100"},    {54, "00100101"},
    {55, "01011000"},    {56, "01011001"},    {57, "01011010"},    {58, "01011011"},    {59, "01001010"},
    {60, "01001011"},    {61, "00110010"},    {62, "00110011"},    {63, "00110100"},    {64, "11011"},
    {128, "10010"},      {192, "010111"},     {256, "0110111"},    {320, "00110110"},   {384, "00110111"},
    {448, "01100100"},   {512, "01100101"},   {576, "01101000"},   {640, "01100111"},   {704, "011001100"},
    {768, "011001101"},  {832, "011010010"},  {896, "011010011"},  {960, "011010100"},  {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};

constexpr TCode kBlackCodes[] = {
    {0, "0000110111"},      {1, "010"},             {2, "11"},              {3, "10"},
    {4, "011"},             {5, "0011"},            {6, "0010"},            {7, "00011"},
    {8, "000101"},          {9, "000100"},          {10, "0000100"},        {11, "0000101"},
    {12, "0000111"},        {13, "00000100"},       {14, "00000111"},       {15, "000011000"},
    {16, "0000010111"},     {17, "0000011000"},     {18, "0000001000"},     {19, "00001100111"},
    {20, "00001101000"},    {21, "00001101100"},    {22, "00000110111"},    {23, "00000101000"},
    {24, "00000010111"},    {25, "00000011000"},    {26, "000011001010"},   {27, "000011001011"},
    {28, "000011001100"},   {29, "000011001101"},   {30, "000001101000"},   {31, "000001101001"},
    {32, "000001101010"},   {33, "000001101011"},   {34, "000011010010"},   {35, "000011010011"},
    {36, "000011010100"},   {37, "000011010101"},   {38, "000011010110"},   {39, "000011010111"},
    {40, "000001101100"},   {41, "000001101101"},   {42, "000011011010"},   {43, "000011011011"},
    {44, "000001010100"},   {45, "000001010101"},   {46, "000001010110"},   {47, "000001010111"},
    {48, "000001100100"},   {49, "000001100101"},   {50, "000001010010"},   {51, "000001010011"},
    {52, "000000100100"},   {53, "000000110111"},   {54, "000000111000"},   {55, "000000100111"},
    {56, "000000101000"},   {57, "000001011000"},   {58, "000001011001"},   {59, "000000101011"},
    {60, "000000101100"},   {61, "000001011010"},   {62, "000001100110"},   {63, "000001100111"},
    {64, "0000001111"},     {128, "000011001000"},  {192, "000011001001"},  {256, "000001011011"},
    {320, "000000110011"},  {384, "000000110100"},  {448, "000000110101"},  {512, "0000001101100"},
    {576, "0000001101101"}, {640, "0000001001010"}, {704, "0000001001011"}, {768, "0000001001100"},
    {832, "0000001001101"}, {896, "0000001110010"}, {960, "0000001110011"}, {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"},
    {1600, "0000001011011"}, {1664, "0000001100100"}, {1728, "0000001100101"},
};

// Extended make-up codes, shared by both colours.
constexpr TCode kExtendedCodes[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

enum TMode : uint8_t { mInvalid = 0, mPass, mHorizontal, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3, mExtension, mZero };

struct TModeEntry {
  TMode mode = mInvalid;
  uint8_t length = 0;
};

struct TTables {
  std::array<TRunEntry, 1 << kRunBits> white{}, black{};
  std::array<TModeEntry, 128> modes{};
  std::array<uint8_t, 256> reversed{};

  static void Add(std::array<TRunEntry, 1 << kRunBits>& table, const TCode& code) {
    int len = static_cast<int>(std::strlen(code.bits));
    uint32_t value = 0;
    for (int i = 0; i < len; ++i) value = value * 2 + (code.bits[i] == '1');
    uint32_t first = value << (kRunBits - len), count = 1u << (kRunBits - len);
    for (uint32_t i = 0; i < count; ++i)
      table[first + i] = {code.run, static_cast<uint8_t>(len), code.run < 64 ? rkTerminating : rkMakeUp};
  }

  TTables() {
    for (const auto& c : kWhiteCodes) Add(white, c);
    for (const auto& c : kBlackCodes) Add(black, c);
    for (const auto& c : kExtendedCodes) {
      Add(white, c);
      Add(black, c);
    }
    // Twelve zero bits, or an EOL (000000000001): the end of the row's data.
    for (auto* table : {&white, &black})
      for (uint32_t i = 0; i < 4; ++i) (*table)[i] = {0, 12, rkEOL};
    auto mode = [&](const char* bits, TMode m) {
      int len = static_cast<int>(std::strlen(bits));
      uint32_t value = 0;
      for (int i = 0; i < len; ++i) value = value * 2 + (bits[i] == '1');
      for (uint32_t i = 0; i < (1u << (7 - len)); ++i) modes[(value << (7 - len)) + i] = {m, static_cast<uint8_t>(len)};
    };
    mode("1", mV0);
    mode("011", mVR1);
    mode("010", mVL1);
    mode("001", mHorizontal);
    mode("0001", mPass);
    mode("000011", mVR2);
    mode("000010", mVL2);
    mode("0000011", mVR3);
    mode("0000010", mVL3);
    mode("0000001", mExtension);
    mode("0000000", mZero);
    for (int i = 0; i < 256; ++i) {
      uint8_t r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= static_cast<uint8_t>(0x80 >> b);
      reversed[i] = r;
    }
  }
};

const TTables& Tables() {
  static const TTables tables;
  return tables;
}

}  // namespace

TPVLCCITTDecoder::TPVLCCITTDecoder(int32_t Columns, int32_t Rows, int32_t FillOrder, bool EncodedByteAlign,
                                   bool FillBits)
    : Columns(Columns), Rows(Rows), FillOrder(FillOrder), EncodedByteAlign(EncodedByteAlign), FillBits(FillBits) {}

bool TPVLCCITTDecoder::Prepare(std::vector<uint8_t>& output, std::string_view data) {
  output.clear();
  data_ = data;
  BytePos = 0;
  BitPos = 0;
  if (Columns <= 0 || Rows <= 0 || Columns > MaxColumns) return false;
  int64_t size = int64_t(Stride()) * Rows;
  if (size > MaxOutputBytes) return false;
  output.assign(static_cast<size_t>(size), 0);
  // A row has at most Columns changes plus its closing element; two more
  // entries stand at Columns so that b1 and b2 are always found.
  codingLine_.assign(static_cast<size_t>(Columns) + 4, Columns);
  refLine_.assign(static_cast<size_t>(Columns) + 4, Columns);
  endOfBlock_ = false;
  codingCount_ = 0;
  refCount_ = 0;
  return true;
}

uint32_t TPVLCCITTDecoder::PeekBits(int n) const {
  // Gathers the next 32 bits (bytes past the end read as 0) and keeps n of them.
  uint64_t acc = 0;
  const auto& rev = Tables().reversed;
  for (int i = 0; i < 5; ++i) {
    int64_t p = BytePos + i;
    uint8_t b = p < static_cast<int64_t>(data_.size()) ? static_cast<uint8_t>(data_[static_cast<size_t>(p)]) : 0;
    if (FillOrder == 2) b = rev[b];
    acc = (acc << 8) | b;
  }
  acc <<= BitPos;
  return static_cast<uint32_t>((acc >> (40 - n)) & ((uint64_t(1) << n) - 1));
}

void TPVLCCITTDecoder::SkipBits(int n) {
  int64_t bits = int64_t(BitPos) + n;
  BytePos += bits >> 3;
  BitPos = static_cast<int32_t>(bits & 7);
}

void TPVLCCITTDecoder::PushBackBits(int n) {
  int64_t pos = BytePos * 8 + BitPos - n;
  if (pos < 0) pos = 0;
  BytePos = pos >> 3;
  BitPos = static_cast<int32_t>(pos & 7);
}

uint32_t TPVLCCITTDecoder::NextLesserThan8Bits(int n) {
  uint32_t v = PeekBits(n);
  SkipBits(n);
  return v;
}

uint32_t TPVLCCITTDecoder::NextNBits(int n) {
  uint32_t v = PeekBits(n);
  SkipBits(n);
  return v;
}

void TPVLCCITTDecoder::AlignToByte() {
  if (BitPos != 0) {
    BitPos = 0;
    ++BytePos;
  }
}

// Decodes one run of a colour: make-up codes add up until a terminating code.
// An EOL (or twelve zero bits) either ends the row (sawEOL, bits left unread)
// or fails.
int32_t TPVLCCITTDecoder::DecodeRun(bool white, bool eolEndsRow, bool& sawEOL) {
  const auto& table = white ? Tables().white : Tables().black;
  int32_t total = 0;
  for (;;) {
    const TRunEntry& e = table[PeekBits(kRunBits)];
    if (e.kind == rkEOL) {
      if (eolEndsRow) {
        sawEOL = true;
        return total;
      }
      throw ECCITTError(white ? "EOL code word encountered in White run." : "EOL code word encountered in Black run.");
    }
    if (e.kind == rkInvalid) throw ECCITTError("Invalid code encountered.");
    SkipBits(e.length);
    // Sums past the row are cut at the row end anyway; saturate before they overflow.
    total = static_cast<int32_t>(std::min<int64_t>(int64_t(total) + e.run, Columns));
    if (e.kind == rkTerminating) return total;
  }
}

int32_t TPVLCCITTDecoder::DecodeWhiteRun() {
  bool eol = false;
  return DecodeRun(true, false, eol);
}

int32_t TPVLCCITTDecoder::DecodeBlackRun() {
  bool eol = false;
  return DecodeRun(false, false, eol);
}

void TPVLCCITTDecoder::StartRow(uint8_t* row) {
  row_ = row;
  std::swap(codingLine_, refLine_);
  refCount_ = codingCount_;
  codingCount_ = 0;
  lastFound_ = 0;
  // Sentinels at Columns beyond the reference row's own elements.
  for (int32_t i = refCount_; i < refCount_ + 3; ++i) refLine_[static_cast<size_t>(i)] = Columns;
}

void TPVLCCITTDecoder::AddChange(int32_t pos) {
  if (codingCount_ < Columns + 1) codingLine_[static_cast<size_t>(codingCount_++)] = pos;
}

void TPVLCCITTDecoder::FinishRowList(int32_t a) { AddChange(a); }

void TPVLCCITTDecoder::SetBlack(int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, Columns);
  if (from >= to) return;
  int32_t firstByte = from >> 3, lastByte = (to - 1) >> 3;
  uint8_t firstMask = static_cast<uint8_t>(0xFF >> (from & 7));
  uint8_t lastMask = static_cast<uint8_t>(0xFF << (7 - ((to - 1) & 7)));
  if (firstByte == lastByte) {
    row_[firstByte] |= firstMask & lastMask;
    return;
  }
  row_[firstByte] |= firstMask;
  if (lastByte - firstByte > 1) std::memset(row_ + firstByte + 1, 0xFF, static_cast<size_t>(lastByte - firstByte - 1));
  row_[lastByte] |= lastMask;
}

void TPVLCCITTDecoder::GetNextChangingElement(int32_t a0, bool white) {
  // b1 is the first element above a0 whose index parity gives the colour
  // opposite to the current one: even indices start black runs.
  int32_t i = std::max(lastFound_ - 1, 0);
  if (white)
    i &= ~1;
  else
    i |= 1;
  int32_t limit = refCount_ + 2;  // the two sentinels at Columns
  while (i < limit && refLine_[static_cast<size_t>(i)] <= a0) i += 2;
  if (i >= limit) {
    b1_ = Columns;
    b2_ = Columns;
    return;
  }
  b1_ = refLine_[static_cast<size_t>(i)];
  b2_ = refLine_[static_cast<size_t>(i) + 1];
  lastFound_ = i;
}

void TPVLCCITTDecoder::DecodeNextScanline() {
  int32_t a = 0;
  bool white = true;
  while (a < Columns) {
    bool eol = false;
    int32_t run = DecodeRun(white, true, eol);
    if (eol) {
      // The row ends here; the EOL is left for the next row.
      FinishRowList(a);
      return;
    }
    int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t(a) + run, Columns));
    if (!white) SetBlack(a, end);
    AddChange(end);
    a = end;
    white = !white;
  }
  FinishRowList(Columns);
  if (EncodedByteAlign) AlignToByte();
}

void TPVLCCITTDecoder::DecodeTwoDimensionalRow(bool group4) {
  int32_t a0 = -1, a = 0;
  bool white = true;
  while (a < Columns) {
    GetNextChangingElement(a0, white);
    uint32_t bits = PeekBits(7);
    const TModeEntry& e = Tables().modes[bits];
    switch (e.mode) {
      case mPass: {
        SkipBits(e.length);
        int32_t end = std::max(std::min(b2_, Columns), a);
        if (!white) SetBlack(a, end);
        a = end;
        a0 = std::max(a0 + 1, end);
        break;
      }
      case mHorizontal: {
        SkipBits(e.length);
        int32_t run1 = white ? DecodeWhiteRun() : DecodeBlackRun();
        int32_t run2 = white ? DecodeBlackRun() : DecodeWhiteRun();
        int32_t a1 = static_cast<int32_t>(std::min<int64_t>(int64_t(a) + run1, Columns));
        int32_t a2 = static_cast<int32_t>(std::min<int64_t>(int64_t(a1) + run2, Columns));
        if (white)
          SetBlack(a1, a2);
        else
          SetBlack(a, a1);
        AddChange(a1);
        AddChange(a2);
        a = a0 = a2;
        break;
      }
      case mV0:
      case mVR1:
      case mVR2:
      case mVR3:
      case mVL1:
      case mVL2:
      case mVL3: {
        static constexpr int kOffset[] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};
        SkipBits(e.length);
        // A damaged offset may point before the current position or past the
        // row: positions stay inside [a, Columns].
        int32_t a1 = std::clamp(b1_ + kOffset[e.mode], a, Columns);
        AddChange(a1);
        if (!white) SetBlack(a, a1);
        a = a0 = a1;
        white = !white;
        break;
      }
      case mExtension: {
        if (!group4) throw ECCITTError("Invalid code encountered while decoding 2D group 3 compressed data.");
        SkipBits(e.length);
        if (NextLesserThan8Bits(3) != 7)
          throw ECCITTError("Invalid code encountered while decoding 2D group 4 compressed data.");
        // Uncompressed mode: runs of zero bits each end with a one bit.
        bool colourBlack = !white;
        for (;;) {
          int zeros = 0;
          while (NextLesserThan8Bits(1) == 0) {
            ++zeros;
            if (AtEnd()) throw ECCITTError("Unexpected end of data in uncompressed mode.");
          }
          if (zeros >= 6) {
            int32_t whites = zeros - 6;
            if (whites > 0) {
              if (colourBlack) AddChange(a);
              colourBlack = false;
              a = std::min(a + whites, Columns);
            }
            bool nextBlack = NextLesserThan8Bits(1) == 1;
            if (nextBlack != colourBlack) AddChange(a);
            colourBlack = nextBlack;
            break;
          }
          int32_t whites = zeros == 5 ? 5 : zeros;
          if (whites > 0) {
            if (colourBlack) AddChange(a);
            colourBlack = false;
            a = std::min(a + whites, Columns);
          }
          if (zeros < 5) {
            if (!colourBlack) AddChange(a);
            colourBlack = true;
            SetBlack(a, a + 1);
            a = std::min(a + 1, Columns);
          }
          if (a >= Columns) break;
        }
        white = !colourBlack;
        a0 = a;
        break;
      }
      case mZero:
      case mInvalid:
      default:
        if (group4) {
          // End-of-block or unassigned code: the rest of the image stays white.
          FinishRowList(a);
          endOfBlock_ = true;
          return;
        }
        throw ECCITTError("Invalid code encountered while decoding 2D group 3 compressed data.");
    }
  }
  FinishRowList(a);
}

void TPVLCCITTDecoder::SkipRowEOL() {
  // Optional EOL, possibly preceded by zero fill bits. Only twelve zero bits
  // start a fill: the 1792+ white make-up codes also begin with seven zeros.
  while (!AtEnd() && PeekBits(12) == 0) SkipBits(1);
  if (PeekBits(12) == 1) SkipBits(12);
}

void TPVLCCITTDecoder::SeekEOL() {
  int64_t total = int64_t(data_.size()) * 8;
  while (BytePos * 8 + BitPos + 13 <= total) {
    if (PeekBits(12) == 1) return;
    SkipBits(1);
  }
  throw ECCITTError("EOL not found");
}

int TPVLCCITTDecoder::ReadEOL(bool first) {
  if (FillBits) {
    if (BitPos != 0) {
      int left = 8 - BitPos;
      if (left < 4) left += 8;
      if (NextNBits(left) != 0) throw ECCITTError("All fill bits preceding EOL code must be 0.");
    }
    for (;;) {
      if (AtEnd()) throw ECCITTError("Unexpected end of data before EOL.");
      uint32_t byte = NextNBits(8);
      if (first && (byte >> 4) == 1) {
        FillBits = false;
        PushBackBits(4);
        break;
      }
      if (byte == 1) break;
      if (byte != 0) throw ECCITTError("0 bits expected before EOL");
    }
    return static_cast<int>(NextLesserThan8Bits(1));
  }
  if (EndOfLine) {
    SeekEOL();
    if (NextNBits(12) != 1) throw ECCITTError("Scanline must begin with EOL code word.");
    return static_cast<int>(NextLesserThan8Bits(1));
  }
  // EOL optional: consumed when present, otherwise the tag bit follows at once.
  if (AtEnd()) throw ECCITTError("EOL not found");
  SkipRowEOL();
  return static_cast<int>(NextLesserThan8Bits(1));
}

void TPVLCCITTDecoder::Decode1D(std::vector<uint8_t>& output, std::string_view data) {
  if (!Prepare(output, data)) return;
  if (FillOrder != 1 && FillOrder != 2) return;  // "tag must be either 1 or 2."
  int32_t stride = Stride();
  try {
    for (int32_t r = 0; r < Rows; ++r) {
      if (AtEnd()) break;  // the remaining rows stay white
      SkipRowEOL();
      StartRow(output.data() + int64_t(r) * stride);
      DecodeNextScanline();
    }
  } catch (const ECCITTError&) {
    // Damaged data: the rows decoded so far stay.
  }
}

void TPVLCCITTDecoder::Decode2D(std::vector<uint8_t>& output, std::string_view data) {
  if (!Prepare(output, data)) return;
  if (FillOrder != 1 && FillOrder != 2) throw ECCITTError("tag must be either 1 or 2.");
  int32_t stride = Stride();
  for (int32_t r = 0; r < Rows; ++r) {
    if (r > 0 && EncodedByteAlign) AlignToByte();
    int tag = ReadEOL(r == 0);
    if (r == 0 && tag != 1) throw ECCITTError("First scanline must be 1D encoded.");
    StartRow(output.data() + int64_t(r) * stride);
    if (tag == 1)
      DecodeNextScanline();
    else
      DecodeTwoDimensionalRow(false);
  }
}

bool TPVLCCITTDecoder::DecodeT6(std::vector<uint8_t>& output, std::string_view data) {
  if (!Prepare(output, data)) return false;
  if (FillOrder != 1 && FillOrder != 2) return false;  // "tag must be either 1 or 2."
  int32_t stride = Stride();
  // The row above the image is all white.
  codingLine_[0] = Columns;
  codingLine_[1] = Columns;
  codingCount_ = 2;
  endOfBlock_ = false;
  try {
    for (int32_t r = 0; r < Rows && !endOfBlock_; ++r) {
      if (AtEnd()) break;  // zero bits from here on: every later row is white
      StartRow(output.data() + int64_t(r) * stride);
      DecodeTwoDimensionalRow(true);
      if (EncodedByteAlign) AlignToByte();
    }
  } catch (const ECCITTError&) {
    std::fill(output.begin(), output.end(), 0);
    return false;
  }
  return true;
}
