// Enhanced-metafile records: our stand-in for the system's metafile
// enumeration. The reader checks the file's frame (header record, every
// record's size) once and hands out the records in file order; handlers
// read their fields through the bounds-checked accessors of TEmfRecord.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"

class EEmfError : public Exception {
public:
  using Exception::Exception;
};

// One record: its type and its bytes (type and size fields included).
struct TEmfRecord {
  uint32_t Type = 0;
  std::string_view Data;

  uint32_t Size() const { return static_cast<uint32_t>(Data.size()); }
  bool Has(size_t offset, size_t length) const { return offset <= Data.size() && length <= Data.size() - offset; }
  // Fields at a byte offset from the record's start; EEmfError past the end.
  uint32_t U32(size_t offset) const;
  int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  uint16_t U16(size_t offset) const;
  int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  uint8_t U8(size_t offset) const;
  float F32(size_t offset) const;
  // count items of itemSize bytes at offset, checked against the record.
  std::string_view Slice(size_t offset, size_t length) const;
  std::string_view Items(size_t offset, uint64_t count, size_t itemSize) const;
};

struct TEmfHeader {
  int32_t Bounds[4] = {0, 0, 0, 0};  // device units: left, top, right, bottom
  int32_t Frame[4] = {0, 0, 0, 0};   // 0.01 mm
  int32_t DevicePixels[2] = {0, 0};
  int32_t DeviceMillimeters[2] = {0, 0};
};

// A placeable WMF header: key 0x9AC6CDD7 and the checksum of the first ten words.
bool IsPlaceableWmf(std::string_view bytes);
// Record type 1 and " EMF" at offset 40.
bool IsEnhancedMetafile(std::string_view bytes);

class TEmfFile {
public:
  // Largest number of records taken from one file.
  static constexpr size_t kMaxRecords = size_t(1) << 22;

  // Checks the header and every record (size at least 8, a multiple of 4,
  // inside the file); EEmfError with the reason otherwise. The bytes must
  // outlive the object.
  explicit TEmfFile(std::string_view bytes);

  const TEmfHeader& Header() const { return header_; }
  const std::vector<TEmfRecord>& Records() const { return records_; }
  // The picture size in 0.01 mm (the frame's width and height).
  int32_t FrameWidth() const { return header_.Frame[2] - header_.Frame[0]; }
  int32_t FrameHeight() const { return header_.Frame[3] - header_.Frame[1]; }

private:
  TEmfHeader header_;
  std::vector<TEmfRecord> records_;
};
