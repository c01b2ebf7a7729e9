// Enhanced-metafile record reader.
#include "platform/EmfReader.h"

#include <cstring>

namespace {

uint32_t le32(std::string_view b, size_t o) {
  return uint32_t(uint8_t(b[o])) | uint32_t(uint8_t(b[o + 1])) << 8 | uint32_t(uint8_t(b[o + 2])) << 16 |
         uint32_t(uint8_t(b[o + 3])) << 24;
}

}  // namespace

uint32_t TEmfRecord::U32(size_t offset) const {
  if (!Has(offset, 4)) throw EEmfError("EMF record too short");
  return le32(Data, offset);
}

uint16_t TEmfRecord::U16(size_t offset) const {
  if (!Has(offset, 2)) throw EEmfError("EMF record too short");
  return uint16_t(uint8_t(Data[offset]) | uint8_t(Data[offset + 1]) << 8);
}

uint8_t TEmfRecord::U8(size_t offset) const {
  if (!Has(offset, 1)) throw EEmfError("EMF record too short");
  return uint8_t(Data[offset]);
}

float TEmfRecord::F32(size_t offset) const {
  const uint32_t bits = U32(offset);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

std::string_view TEmfRecord::Slice(size_t offset, size_t length) const {
  if (!Has(offset, length)) throw EEmfError("EMF record field outside the record");
  return Data.substr(offset, length);
}

std::string_view TEmfRecord::Items(size_t offset, uint64_t count, size_t itemSize) const {
  if (itemSize != 0 && count > (Data.size() / itemSize)) throw EEmfError("EMF record count outside the record");
  return Slice(offset, static_cast<size_t>(count) * itemSize);
}

bool IsPlaceableWmf(std::string_view b) {
  if (b.size() < 22 || le32(b, 0) != 0x9AC6CDD7u) return false;
  uint16_t sum = 0;
  for (size_t i = 0; i < 10; ++i) sum ^= uint16_t(uint8_t(b[i * 2]) | uint8_t(b[i * 2 + 1]) << 8);
  return sum == uint16_t(uint8_t(b[20]) | uint8_t(b[21]) << 8);
}

bool IsEnhancedMetafile(std::string_view b) { return b.size() >= 44 && le32(b, 0) == 1 && le32(b, 40) == 0x464D4520u; }

TEmfFile::TEmfFile(std::string_view bytes) {
  if (!IsEnhancedMetafile(bytes)) throw EEmfError("not an enhanced metafile (no EMF header)");
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (bytes.size() - pos < 8) throw EEmfError("EMF record header cut off at offset " + std::to_string(pos));
    const uint32_t type = le32(bytes, pos), size = le32(bytes, pos + 4);
    if (size < 8 || size % 4 != 0 || size > bytes.size() - pos)
      throw EEmfError("EMF record at offset " + std::to_string(pos) + " has a bad size " + std::to_string(size));
    if (records_.size() >= kMaxRecords) throw EEmfError("EMF file has too many records");
    records_.push_back({type, bytes.substr(pos, size)});
    pos += size;
    if (type == 14) break;  // EOF: anything after it is not part of the picture
  }
  const TEmfRecord& head = records_.front();
  if (head.Size() < 88) throw EEmfError("EMF header record too short");
  for (int i = 0; i < 4; ++i) {
    header_.Bounds[i] = head.I32(8 + 4 * i);
    header_.Frame[i] = head.I32(24 + 4 * i);
  }
  header_.DevicePixels[0] = head.I32(72);
  header_.DevicePixels[1] = head.I32(76);
  header_.DeviceMillimeters[0] = head.I32(80);
  header_.DeviceMillimeters[1] = head.I32(84);
}
