#include "objects/PavonaBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "platform/Classes.h"

namespace {

// Source kinds.
constexpr int kString = 0;
constexpr int kMemory = 1;
constexpr int kBytes = 2;
constexpr int kStream = 3;

// Largest window read from a stream source during a search.
constexpr int64_t kMaxWindow = int64_t(1) << 20;

using ByteSet = std::array<bool, 256>;

ByteSet makeSet(std::string_view set) {
  ByteSet s{};
  for (char c : set) s[static_cast<uint8_t>(c)] = true;
  return s;
}

}  // namespace

TPVLBuffer::TPVLBuffer() {
  Reset();
}

TPVLBuffer::~TPVLBuffer() {
  Reset();
}

void TPVLBuffer::Reset() {
  if (ownsStream_) {
    std::unique_ptr<TStream> owned(stream_);
  }
  stream_ = nullptr;
  ownsStream_ = false;
  kind_ = kBytes;
  length_ = 0;
  position_ = 0;
  string_.clear();
  string_.shrink_to_fit();
  bytes_.clear();
  bytes_.shrink_to_fit();
  memory_ = nullptr;
}

void TPVLBuffer::SetString(std::string bytes) {
  Reset();
  kind_ = kString;
  string_ = std::move(bytes);
  length_ = static_cast<int64_t>(string_.size());
}

void TPVLBuffer::SetMemory(const void* data, int64_t size) {
  Reset();
  kind_ = kMemory;
  if (data && size > 0) {
    memory_ = static_cast<const uint8_t*>(data);
    length_ = size;
  }
}

void TPVLBuffer::SetBytes(std::vector<uint8_t> bytes) {
  Reset();
  kind_ = kBytes;
  bytes_ = std::move(bytes);
  length_ = static_cast<int64_t>(bytes_.size());
}

void TPVLBuffer::SetStream(TStream* stream, bool owns) {
  Reset();
  kind_ = kStream;
  stream_ = stream;
  ownsStream_ = owns && stream;
  length_ = stream ? std::max<int64_t>(stream->GetSize(), 0) : 0;
}

void TPVLBuffer::SetPosition(int64_t pos) {
  if (pos >= 0 && pos <= length_) position_ = pos;
}

std::string_view TPVLBuffer::inMemory() const {
  switch (kind_) {
    case kString:
      return string_;
    case kMemory:
      return {reinterpret_cast<const char*>(memory_), static_cast<size_t>(length_)};
    case kBytes:
      return {reinterpret_cast<const char*>(bytes_.data()), bytes_.size()};
    default:
      return {};
  }
}

int64_t TPVLBuffer::readAt(int64_t pos, int64_t n, char* dest) {
  if (kind_ != kStream) {
    std::memcpy(dest, inMemory().data() + pos, static_cast<size_t>(n));
    return n;
  }
  if (!stream_ || stream_->Seek(pos, TSeekOrigin::soBeginning) != pos) return 0;
  int64_t done = 0;
  while (done < n) {
    int64_t got = stream_->Read(dest + done, n - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

std::string TPVLBuffer::ReadBytes(int64_t n) {
  n = std::min(n, length_ - position_);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  int64_t got = readAt(position_, n, out.data());
  out.resize(static_cast<size_t>(got));
  position_ += got;
  return out;
}

std::string TPVLBuffer::ReadString(int64_t n) {
  return ReadBytes(std::max<int64_t>(n, 0));
}

int64_t TPVLBuffer::findFrom(const bool* wanted) {
  if (kind_ != kStream) {
    std::string_view rest = inMemory().substr(static_cast<size_t>(position_));
    for (size_t i = 0; i < rest.size(); ++i)
      if (wanted[static_cast<uint8_t>(rest[i])]) return static_cast<int64_t>(i);
    return -1;
  }
  // Streams are read in windows, the first of 1024 bytes, then doubling.
  std::string window;
  int64_t offset = 0;
  int64_t size = 1024;
  while (position_ + offset < length_) {
    int64_t n = std::min(size, length_ - position_ - offset);
    window.resize(static_cast<size_t>(n));
    int64_t got = readAt(position_ + offset, n, window.data());
    for (int64_t i = 0; i < got; ++i)
      if (wanted[static_cast<uint8_t>(window[static_cast<size_t>(i)])]) return offset + i;
    if (got < n) break;  // the stream ended early
    offset += got;
    size = std::min(size * 2, kMaxWindow);
  }
  return -1;
}

int64_t TPVLBuffer::FindByte(uint8_t b) {
  if (kind_ != kStream) {
    std::string_view rest = inMemory().substr(static_cast<size_t>(position_));
    const void* hit = rest.empty() ? nullptr : std::memchr(rest.data(), b, rest.size());
    return hit ? static_cast<const char*>(hit) - rest.data() : -1;
  }
  ByteSet set{};
  set[b] = true;
  return findFrom(set.data());
}

int64_t TPVLBuffer::FindFirstOf(std::string_view set) {
  ByteSet s = makeSet(set);
  return findFrom(s.data());
}

int64_t TPVLBuffer::FindFirstNotOf(std::string_view set) {
  ByteSet s = makeSet(set);
  for (auto& f : s) f = !f;
  return findFrom(s.data());
}
