// Character maps: codes of 1 to 4 bytes mapped to byte values (CIDs, code
// bytes or UTF-16BE text), the parser of CMap programs (ToUnicode and
// encoding CMaps), the three predefined Japanese CMaps kept compressed in the
// program's resources, and the conversions through a predefined CMap named
// by a font.
//
// Ranges are stored as ranges: a CMap line such as <0000> <FFFF> <0020> costs
// one entry, whatever its size. The value of a code inside a range is the
// range's value offset by (code - first code) on its last unit: a one-byte
// value counts as a number (and widens to two bytes past 255), a value of
// even length as UTF-16BE text whose last character moves (so ligatures keep
// their leading characters and surrogate pairs move as one character), and
// any other value as a big-endian number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TStream;
class TPVLBuffer;

// A value moved by offset as described above; a numeric value (a CID) is
// always a big-endian number.
std::string OffsetCMapValue(std::string_view value, uint32_t offset, bool numeric = false);
// UTF-16 text whose last character is moved by offset (a ToUnicode range's
// destination for the code first + offset).
std::u16string OffsetUnicodeText(std::u16string_view text, uint32_t offset);

// All mappings of one code length and one value size.
class TPavonaCMapSection {
public:
  TPavonaCMapSection(uint32_t codeLength, uint32_t valueSize) : CodeLength(codeLength), ValueSize(valueSize) {}

  const uint32_t CodeLength;  // bytes per code, 1..4
  const uint32_t ValueSize;   // bytes per value of the range's first code

  // One code. Among mappings of the same code the first inserted wins.
  void Insert(uint32_t code, std::string_view value) { InsertRange(code, code, value); }
  // Codes first..last (nothing when last < first); value is the first code's,
  // numeric for CIDs, else text (see OffsetCMapValue).
  void InsertRange(uint32_t first, uint32_t last, std::string_view value, bool numeric = false);
  bool Contains(uint32_t code) const;
  // Empty when absent.
  std::string GetValue(uint32_t code) const;
  // A one-byte value is one character of that value; longer ones UTF-16BE
  // units (an odd last byte is the high half of a last unit).
  std::u16string GetUnicode(uint32_t code) const;
  // A one-byte value, or a two-byte big-endian one; 0 for other sizes or when absent.
  uint16_t GetCode16(uint32_t code) const;
  // Number of stored ranges (single codes count as ranges of one).
  int32_t GetCount() const { return static_cast<int32_t>(ranges_.size()); }

private:
  struct Range {
    uint32_t first;
    uint32_t last;
    uint32_t order;  // insertion order, to let the first mapping of a code win
    bool numeric;
    std::string value;
  };
  const Range* find(uint32_t code) const;
  void prepare() const;
  mutable std::vector<Range> ranges_;
  mutable std::vector<uint32_t> maxLast_;  // running maximum of last over the sorted ranges
  mutable bool sorted_ = true;
};

struct TPavonaCodespaceRange {
  uint32_t First;
  uint32_t Last;
  uint32_t CodeLength;
};

class TPavonaCMap {
public:
  std::vector<std::unique_ptr<TPavonaCMapSection>> Sections;  // in creation order
  std::vector<TPavonaCodespaceRange> CodespaceRanges;         // in insertion order
  bool IsIdentity = false;

  void AddMapping(uint32_t codeLength, uint32_t code, std::string_view value) {
    AddRangeMapping(codeLength, code, code, value);
  }
  void AddRangeMapping(uint32_t codeLength, uint32_t first, uint32_t last, std::string_view value,
                       bool numeric = false);
  void AddCodespaceRange(uint32_t first, uint32_t last, uint32_t codeLength);
  // Text of the first section with that code length holding the code; empty when none.
  std::u16string LookupUnicode(uint32_t codeLength, uint32_t code) const;
  // 16-bit value of the first section holding the code (code length 0: any); 0 when none.
  uint16_t LookupCID(uint32_t codeLength, uint32_t code) const;
  bool HasCode(uint32_t codeLength, uint32_t code) const;
  // The code's value, else the value of the space (32); false when neither exists.
  bool EncodeCode(uint32_t codeLength, uint32_t key, std::string& value) const;
  void Clear();
  // Clears, then reads the binary layout: int32 section count; per section
  // int32 code length, int32 value size, int32 count N, N key deltas (uint8,
  // uint16 or int32 by code length), N values; all little-endian. Reading
  // stops at the first section that is too large (code length above 4, value
  // size above 64, more than 0xFFFF entries) or cut short.
  void LoadFromStream(TStream& stream);
  void LoadFromString(std::string_view data);

private:
  TPavonaCMapSection* section(uint32_t codeLength, uint32_t valueSize);
};

// Builds a map from a CMap program. One parse at a time per parser.
class TPavonaCMapParser {
public:
  TPavonaCMapParser() = default;
  // The caller owns the result. A text without "begincmap" gives an empty map.
  std::unique_ptr<TPavonaCMap> Parse(TPVLBuffer& reader);
  std::unique_ptr<TPavonaCMap> Parse(std::string_view text);

private:
  std::string_view nextToken();
  void rangeMapping(std::string_view low, std::string_view high, std::string_view destination, bool numeric);
  std::string_view text_;
  size_t pos_ = 0;
  TPavonaCMap* map_ = nullptr;
};

// A new map read from an inflated resource (empty when inflating yields nothing).
std::unique_ptr<TPavonaCMap> LoadPredefinedCMap(int32_t resourceId);
// Unicode text of a code of a composite font through a predefined CMap; possibly empty.
std::u16string PredefinedCMapToUnicode(std::string_view cmapName, std::string_view registryOrdering, uint32_t code);
// Splits a shown string into codes through a predefined CMap; false for an
// unknown CMap (or one whose resource cannot be loaded).
bool PredefinedCMapEncode(std::string_view cmapName, std::string_view registryOrdering, std::string_view bytes,
                          std::vector<uint16_t>& codes);
