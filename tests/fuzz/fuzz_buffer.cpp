// TPVLBuffer reads and searches against plain string searches on the same
// bytes. The first byte chooses the source kind, the next 16 bytes are a
// script of operations, the rest is the data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "objects/PavonaBuffer.h"
#include "platform/Classes.h"

namespace {

// Hands out at most 7 bytes per read, to exercise partial reads.
class TrickleStream : public TMemoryStream {
public:
  using TMemoryStream::TMemoryStream;
  int64_t Read(void* buffer, int64_t count) override { return TMemoryStream::Read(buffer, count < 7 ? count : 7); }
};

int64_t expectOffset(size_t found, int64_t pos) {
  return found == std::string::npos ? -1 : static_cast<int64_t>(found) - pos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 17) return 0;
  const uint8_t kind = data[0] % 4;
  const uint8_t* script = data + 1;
  const std::string bytes(reinterpret_cast<const char*>(data + 17), size - 17);
  TPVLBuffer b;
  switch (kind) {
    case 0:
      b.SetString(bytes);
      break;
    case 1:
      b.SetMemory(bytes.data(), static_cast<int64_t>(bytes.size()));
      break;
    case 2:
      b.SetBytes(std::vector<uint8_t>(bytes.begin(), bytes.end()));
      break;
    case 3:
      b.SetStream(std::make_unique<TrickleStream>(bytes).release(), true);
      break;
  }
  if (b.GetLength() != static_cast<int64_t>(bytes.size())) std::abort();
  for (int i = 0; i + 1 < 16; i += 2) {
    const uint8_t op = script[i] % 6;
    const uint8_t arg = script[i + 1];
    const int64_t pos = b.GetPosition();
    // A set of bytes taken from the data near the position.
    std::string set = bytes.substr(std::min<size_t>(bytes.size(), arg), arg % 4);
    switch (op) {
      case 0: {
        int64_t target = (static_cast<int64_t>(arg) * 37) - 100;
        b.SetPosition(target);
        int64_t want = (target >= 0 && target <= b.GetLength()) ? target : pos;
        if (b.GetPosition() != want) std::abort();
        break;
      }
      case 1:
      case 2: {
        int64_t n = static_cast<int64_t>(int8_t(arg)) * 3;
        std::string got = op == 1 ? b.ReadBytes(n) : b.ReadString(n);
        std::string want = n > 0 ? bytes.substr(static_cast<size_t>(pos), static_cast<size_t>(n)) : std::string();
        if (got != want || b.GetPosition() != pos + static_cast<int64_t>(got.size())) std::abort();
        break;
      }
      case 3:
        if (b.FindByte(arg) != expectOffset(bytes.find(static_cast<char>(arg), static_cast<size_t>(pos)), pos))
          std::abort();
        break;
      case 4:
        if (b.FindFirstOf(set) != expectOffset(bytes.find_first_of(set, static_cast<size_t>(pos)), pos)) std::abort();
        break;
      case 5:
        if (b.FindFirstNotOf(set) != expectOffset(bytes.find_first_not_of(set, static_cast<size_t>(pos)), pos))
          std::abort();
        break;
    }
    if (op >= 3 && b.GetPosition() != pos) std::abort();
  }
  return 0;
}
