// Byte reader with searches over a byte string, memory block, byte array or stream.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TStream;

class TPVLBuffer {
public:
  TPVLBuffer();
  ~TPVLBuffer();
  TPVLBuffer(const TPVLBuffer&) = delete;
  TPVLBuffer& operator=(const TPVLBuffer&) = delete;

  void Reset();
  void SetString(std::string bytes);
  // The block must outlive the buffer's use of it.
  void SetMemory(const void* data, int64_t size);
  void SetBytes(std::vector<uint8_t> bytes);
  // With owns, the buffer frees the stream on Reset / destruction.
  void SetStream(TStream* stream, bool owns);

  int64_t GetLength() const { return length_; }
  int64_t GetPosition() const { return position_; }
  // Sets the position when 0 <= pos <= length; otherwise nothing.
  void SetPosition(int64_t pos);
  // Up to n bytes from the position (fewer at the end); the position moves past them.
  std::string ReadBytes(int64_t n);
  // As ReadBytes; a negative n reads nothing.
  std::string ReadString(int64_t n);
  // Offsets from the position; -1 when not found; the position does not move.
  int64_t FindByte(uint8_t b);
  int64_t FindFirstOf(std::string_view set);
  int64_t FindFirstNotOf(std::string_view set);

private:
  // The bytes of a string, memory or byte-array source (empty for streams).
  std::string_view inMemory() const;
  // Copies up to n bytes at pos into dest; returns the number copied.
  int64_t readAt(int64_t pos, int64_t n, char* dest);
  // Offset from the position of the first byte whose flag is set, or -1.
  int64_t findFrom(const bool* wanted);

  int kind_ = 2;
  int64_t length_ = 0;
  int64_t position_ = 0;
  std::string string_;
  std::vector<uint8_t> bytes_;
  TStream* stream_ = nullptr;
  const uint8_t* memory_ = nullptr;
  bool ownsStream_ = false;
};
