// JBIG2 byte/bit reader and the entropy decoders: MQ arithmetic with the
// integer procedures, and Huffman with the standard tables.
#include <algorithm>
#include <array>

#include "graphics/PavonaJBIG2.h"

// --- TStreamReader ---------------------------------------------------------

uint8_t TStreamReader::ReadByte() {
  uint8_t b = pos_ >= 0 && pos_ < Size() ? static_cast<uint8_t>(data_[static_cast<size_t>(pos_)]) : 0;
  ++pos_;
  return b;
}

std::string_view TStreamReader::ReadBytes(int64_t count) {
  int64_t start = std::min(pos_, Size());
  int64_t n = std::clamp<int64_t>(Size() - start, 0, std::max<int64_t>(count, 0));
  pos_ += std::max<int64_t>(count, 0);
  return data_.substr(static_cast<size_t>(start), static_cast<size_t>(n));
}

int TStreamReader::ReadBit() {
  uint8_t b = pos_ >= 0 && pos_ < Size() ? static_cast<uint8_t>(data_[static_cast<size_t>(pos_)]) : 0;
  int bit = (b >> bitPos_) & 1;
  if (--bitPos_ < 0) {
    bitPos_ = 7;
    ++pos_;
  }
  return bit;
}

uint32_t TStreamReader::ReadBits(int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 1) | static_cast<uint32_t>(ReadBit());
  return v;
}

uint32_t TStreamReader::ReadUInt32() {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | ReadByte();
  return v;
}

uint16_t TStreamReader::ReadUInt16() {
  uint16_t hi = ReadByte();
  return static_cast<uint16_t>((hi << 8) | ReadByte());
}

void TStreamReader::MovePointer(int64_t n) {
  pos_ = std::max<int64_t>(pos_ + n, 0);
}

void TStreamReader::ConsumeRemainingBits() {
  if (bitPos_ != 7) {
    bitPos_ = 7;
    ++pos_;
  }
}

// --- MQ decoder --------------------------------------------------------------

namespace {

// A decoder fed far past the end of its data is decoding damage or a
// hostile size; legitimate data needs at most a few bytes of look-ahead.
constexpr int64_t kMaxOverrun = 4096;

}  // namespace

TArithmeticDecoder::TArithmeticDecoder(TStreamReader& reader)
    : intStats(IntStatsCount, TArithmeticDecoderStats(512)), reader_(reader) {}

int64_t TArithmeticDecoder::DataSize() const {
  return reader_.Size();
}

bool TArithmeticDecoder::SpendPaddedPixels(int64_t pixels) {
  paddedPixels_ += pixels;
  return paddedPixels_ <= std::max(kPaddedPixelFloor, DataSize() * kPaddedPixelsPerByte);
}

uint8_t TArithmeticDecoder::NextByte() {
  if (reader_.Overrun() > kMaxOverrun) throw EJBIG2Error("arithmetic data exhausted");
  if (reader_.Position() >= reader_.Size()) ++padding_;
  return reader_.ReadByte();
}

void TArithmeticDecoder::ByteIn() {
  // The reader stands on the byte after B (B1).
  int64_t pos = reader_.Position();
  uint8_t b1 = pos < reader_.Size() ? static_cast<uint8_t>(reader_.Data()[static_cast<size_t>(pos)]) : 0;
  if (B_ == 0xFF) {
    if (b1 > 0x8F) {
      // A marker: nothing more is read.
      CT_ = 8;
      ++padding_;
    } else {
      B_ = NextByte();
      C_ += 0xFE00 - (uint32_t(B_) << 9);
      CT_ = 7;
    }
  } else {
    B_ = NextByte();
    C_ += 0xFF00 - (uint32_t(B_) << 8);
    CT_ = 8;
  }
}

void TArithmeticDecoder::Start() {
  B_ = NextByte();
  C_ = uint32_t(B_ ^ 0xFF) << 16;
  ByteIn();
  C_ <<= 7;
  CT_ -= 7;
  A_ = 0x8000;
}

int TArithmeticDecoder::Exchange(uint8_t& st) {
  int index = st >> 1, mps = st & 1;
  const jbig2mq::TQeRow& row = jbig2mq::kQe[index];
  const uint32_t qe = row.qe;
  int d;
  // A_ was already reduced by qe (DecodeBit).
  if ((C_ >> 16) < A_) {
    // MPS exchange
    if (A_ < qe) {
      d = 1 - mps;
      if (row.switchFlag) mps = 1 - mps;
      index = row.nlps;
    } else {
      d = mps;
      index = row.nmps;
    }
  } else {
    C_ -= A_ << 16;
    // LPS exchange
    if (A_ < qe) {
      A_ = qe;
      d = mps;
      index = row.nmps;
    } else {
      A_ = qe;
      d = 1 - mps;
      if (row.switchFlag) mps = 1 - mps;
      index = row.nlps;
    }
  }
  st = static_cast<uint8_t>((index << 1) | mps);
  do {
    if (CT_ == 0) ByteIn();
    A_ <<= 1;
    C_ <<= 1;
    --CT_;
  } while ((A_ & 0x8000) == 0);
  return d;
}

bool TArithmeticDecoder::DecodeInt(TIntStats which, int32_t& value) {
  TArithmeticDecoderStats& stats = intStats[which];
  uint32_t prev = 1;
  auto bit = [&]() {
    int b = DecodeBit(stats, prev);
    prev = prev < 256 ? (prev << 1) | static_cast<uint32_t>(b) : (((prev << 1) | static_cast<uint32_t>(b)) & 511) | 256;
    return b;
  };
  int s = bit();
  int bits;
  int64_t offset;
  if (!bit()) {
    bits = 2, offset = 0;
  } else if (!bit()) {
    bits = 4, offset = 4;
  } else if (!bit()) {
    bits = 6, offset = 20;
  } else if (!bit()) {
    bits = 8, offset = 84;
  } else if (!bit()) {
    bits = 12, offset = 340;
  } else {
    bits = 32, offset = 4436;
  }
  int64_t v = 0;
  for (int i = 0; i < bits; ++i) v = (v << 1) | bit();
  v += offset;
  if (s && v == 0) return false;
  if (v > INT32_MAX) return false;  // no value of a conforming stream
  value = static_cast<int32_t>(s ? -v : v);
  return true;
}

uint32_t TArithmeticDecoder::DecodeIAID(int codeLength) {
  uint32_t prev = 1;
  for (int i = 0; i < codeLength; ++i) prev = (prev << 1) | static_cast<uint32_t>(DecodeBit(iaidStats, prev));
  return prev - (uint32_t(1) << codeLength);
}

namespace {
void ResetStats(TArithmeticDecoderStats& stats, int size, const TArithmeticDecoderStats* previous) {
  if (previous && previous->ContextSize() == size) {
    stats.CopyFrom(*previous);
  } else if (stats.ContextSize() == size) {
    stats.Reset();
  } else {
    stats = TArithmeticDecoderStats(size);
  }
}
}  // namespace

void TArithmeticDecoder::ResetGenericStats(int templ, const TArithmeticDecoderStats* previous) {
  static constexpr int kBits[4] = {16, 13, 10, 10};
  ResetStats(genericRegionStats, 1 << kBits[templ & 3], previous);
}

void TArithmeticDecoder::ResetRefinementStats(int templ, const TArithmeticDecoderStats* previous) {
  ResetStats(refinementRegionStats, 1 << (templ ? 10 : 13), previous);
}

void TArithmeticDecoder::ResetIntStats(int symbolCodeLength) {
  for (auto& s : intStats) s.Reset();
  int size = 1 << (symbolCodeLength + 1);
  if (iaidStats.ContextSize() == size)
    iaidStats.Reset();
  else
    iaidStats = TArithmeticDecoderStats(size);
}

// --- Huffman ------------------------------------------------------------------

void BuildHuffmanTable(THuffmanTable& table) {
  // T.88 B.3: codes by increasing prefix length, rows of equal length in order.
  int maxLen = 0;
  for (const auto& l : table) maxLen = std::max(maxLen, l.prefixLength);
  if (maxLen > 32) throw EJBIG2Error("Huffman prefix too long");
  std::vector<uint32_t> lenCount(static_cast<size_t>(maxLen) + 2, 0);
  for (const auto& l : table) lenCount[static_cast<size_t>(l.prefixLength)]++;
  lenCount[0] = 0;
  uint64_t firstCode = 0;
  for (int len = 1; len <= maxLen; ++len) {
    firstCode = (firstCode + lenCount[static_cast<size_t>(len) - 1]) << 1;
    uint64_t cur = firstCode;
    for (auto& l : table)
      if (l.prefixLength == len) l.code = static_cast<uint32_t>(cur++);
  }
}

namespace {

struct TStdLine {
  int prefixLength, rangeLength;
  int32_t rangeLow;
  THuffmanLine::TKind kind;
};

THuffmanTable MakeTable(std::initializer_list<TStdLine> lines) {
  THuffmanTable t;
  for (const auto& l : lines) {
    THuffmanLine h;
    h.prefixLength = l.prefixLength;
    h.rangeLength = l.rangeLength;
    h.rangeLow = l.rangeLow;
    h.kind = l.kind;
    t.push_back(h);
  }
  BuildHuffmanTable(t);
  return t;
}

constexpr auto N = THuffmanLine::hlNormal;
constexpr auto L = THuffmanLine::hlLower;
constexpr auto U = THuffmanLine::hlUpper;
constexpr auto O = THuffmanLine::hlOOB;

std::array<THuffmanTable, 16> MakeStandardTables() {
  std::array<THuffmanTable, 16> t;
  t[1] = MakeTable({{1, 4, 0, N}, {2, 8, 16, N}, {3, 16, 272, N}, {3, 32, 65808, U}});
  t[2] =
      MakeTable({{1, 0, 0, N}, {2, 0, 1, N}, {3, 0, 2, N}, {4, 3, 3, N}, {5, 6, 11, N}, {6, 32, 75, U}, {6, 0, 0, O}});
  t[3] = MakeTable({{8, 8, -256, N},
                    {1, 0, 0, N},
                    {2, 0, 1, N},
                    {3, 0, 2, N},
                    {4, 3, 3, N},
                    {5, 6, 11, N},
                    {8, 32, -257, L},
                    {7, 32, 75, U},
                    {6, 0, 0, O}});
  t[4] = MakeTable({{1, 0, 1, N}, {2, 0, 2, N}, {3, 0, 3, N}, {4, 3, 4, N}, {5, 6, 12, N}, {5, 32, 76, U}});
  t[5] = MakeTable({{7, 8, -255, N},
                    {1, 0, 1, N},
                    {2, 0, 2, N},
                    {3, 0, 3, N},
                    {4, 3, 4, N},
                    {5, 6, 12, N},
                    {7, 32, -256, L},
                    {6, 32, 76, U}});
  t[6] = MakeTable({{5, 10, -2048, N},
                    {4, 9, -1024, N},
                    {4, 8, -512, N},
                    {4, 7, -256, N},
                    {5, 6, -128, N},
                    {5, 5, -64, N},
                    {4, 5, -32, N},
                    {2, 7, 0, N},
                    {3, 7, 128, N},
                    {3, 8, 256, N},
                    {4, 9, 512, N},
                    {4, 10, 1024, N},
                    {6, 32, -2049, L},
                    {6, 32, 2048, U}});
  t[7] = MakeTable({{4, 9, -1024, N},
                    {3, 8, -512, N},
                    {4, 7, -256, N},
                    {5, 6, -128, N},
                    {5, 5, -64, N},
                    {4, 5, -32, N},
                    {4, 5, 0, N},
                    {5, 5, 32, N},
                    {5, 6, 64, N},
                    {4, 7, 128, N},
                    {3, 8, 256, N},
                    {3, 9, 512, N},
                    {3, 10, 1024, N},
                    {5, 32, -1025, L},
                    {5, 32, 2048, U}});
  t[8] = MakeTable({{8, 3, -15, N},  {9, 1, -7, N},    {8, 1, -5, N},  {9, 0, -3, N},  {7, 0, -2, N},  {4, 0, -1, N},
                    {2, 1, 0, N},    {5, 0, 2, N},     {6, 0, 3, N},   {3, 4, 4, N},   {6, 1, 20, N},  {4, 4, 22, N},
                    {4, 5, 38, N},   {5, 6, 70, N},    {5, 7, 134, N}, {6, 7, 262, N}, {7, 8, 390, N}, {6, 10, 646, N},
                    {9, 32, -16, L}, {9, 32, 1670, U}, {2, 0, 0, O}});
  t[9] = MakeTable({{8, 4, -31, N},   {9, 2, -15, N},  {8, 2, -11, N},   {9, 1, -7, N},  {7, 1, -5, N},  {4, 1, -3, N},
                    {3, 1, -1, N},    {3, 1, 1, N},    {5, 1, 3, N},     {6, 1, 5, N},   {3, 5, 7, N},   {6, 2, 39, N},
                    {4, 5, 43, N},    {4, 6, 75, N},   {5, 7, 139, N},   {5, 8, 267, N}, {6, 8, 523, N}, {7, 9, 779, N},
                    {6, 11, 1291, N}, {9, 32, -32, L}, {9, 32, 3339, U}, {2, 0, 0, O}});
  t[10] =
      MakeTable({{7, 4, -21, N},  {8, 0, -5, N},    {7, 0, -4, N},  {5, 0, -3, N},  {2, 2, -2, N},    {5, 0, 2, N},
                 {6, 0, 3, N},    {7, 0, 4, N},     {8, 0, 5, N},   {2, 6, 6, N},   {5, 5, 70, N},    {6, 5, 102, N},
                 {6, 6, 134, N},  {6, 7, 198, N},   {6, 8, 326, N}, {6, 9, 582, N}, {6, 10, 1094, N}, {7, 11, 2118, N},
                 {8, 32, -22, L}, {8, 32, 4166, U}, {2, 0, 0, O}});
  t[11] = MakeTable({{1, 0, 1, N},
                     {2, 1, 2, N},
                     {4, 0, 4, N},
                     {4, 1, 5, N},
                     {5, 1, 7, N},
                     {5, 2, 9, N},
                     {6, 2, 13, N},
                     {7, 2, 17, N},
                     {7, 3, 21, N},
                     {7, 4, 29, N},
                     {7, 5, 45, N},
                     {7, 6, 77, N},
                     {7, 32, 141, U}});
  t[12] = MakeTable({{1, 0, 1, N},
                     {2, 0, 2, N},
                     {3, 1, 3, N},
                     {5, 0, 5, N},
                     {5, 1, 6, N},
                     {6, 1, 8, N},
                     {7, 0, 10, N},
                     {7, 1, 11, N},
                     {7, 2, 13, N},
                     {7, 3, 17, N},
                     {7, 4, 25, N},
                     {8, 5, 41, N},
                     {8, 32, 73, U}});
  t[13] = MakeTable({{1, 0, 1, N},
                     {3, 0, 2, N},
                     {4, 0, 3, N},
                     {5, 0, 4, N},
                     {4, 1, 5, N},
                     {3, 3, 7, N},
                     {6, 1, 15, N},
                     {6, 2, 17, N},
                     {6, 3, 21, N},
                     {6, 4, 29, N},
                     {6, 5, 45, N},
                     {7, 6, 77, N},
                     {7, 32, 141, U}});
  t[14] = MakeTable({{3, 0, -2, N}, {3, 0, -1, N}, {1, 0, 0, N}, {3, 0, 1, N}, {3, 0, 2, N}});
  t[15] = MakeTable({{7, 4, -24, N},
                     {6, 2, -8, N},
                     {5, 1, -4, N},
                     {4, 0, -2, N},
                     {3, 0, -1, N},
                     {1, 0, 0, N},
                     {3, 0, 1, N},
                     {4, 0, 2, N},
                     {5, 1, 3, N},
                     {6, 2, 5, N},
                     {7, 4, 9, N},
                     {7, 32, -25, L},
                     {7, 32, 25, U}});
  return t;
}

}  // namespace

const THuffmanTable& StandardHuffmanTable(int n) {
  static const std::array<THuffmanTable, 16> tables = MakeStandardTables();
  if (n < 1 || n > 15) throw EJBIG2Error("no such standard Huffman table");
  return tables[static_cast<size_t>(n)];
}

bool THuffmanDecoder::DecodeInt(const THuffmanTable& table, int32_t& value) {
  // Data read far past their end are damage: no value, which ends the loops
  // that a stream of zero bits would otherwise keep going.
  if (reader_.Overrun() > 4) return false;
  // Bits are read one at a time until some row's prefix matches.
  uint32_t code = 0;
  int len = 0;
  for (;;) {
    if (len >= 32) return false;
    code = (code << 1) | static_cast<uint32_t>(reader_.ReadBit());
    ++len;
    for (const auto& l : table) {
      if (l.prefixLength != len || l.code != code) continue;
      switch (l.kind) {
        case THuffmanLine::hlOOB:
          return false;
        case THuffmanLine::hlLower: {
          int64_t v = int64_t(l.rangeLow) - reader_.ReadBits(32);
          value = static_cast<int32_t>(std::max<int64_t>(v, INT32_MIN));
          return true;
        }
        case THuffmanLine::hlUpper: {
          int64_t v = int64_t(l.rangeLow) + reader_.ReadBits(32);
          value = static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
          return true;
        }
        default: {
          int64_t v = int64_t(l.rangeLow) + (l.rangeLength > 0 ? reader_.ReadBits(l.rangeLength) : 0);
          value = static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
          return true;
        }
      }
    }
    if (reader_.Overrun() > 16) return false;
  }
}
