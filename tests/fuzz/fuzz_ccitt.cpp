// CCITT fax decoding of arbitrary data. The first four bytes choose the
// coding, the row width, the row count and the flags; the rest is the data.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "graphics/PavonaCCITT.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int mode = data[0] % 3;
  int32_t columns = 1 + data[1] * 16 + (data[0] >> 4);
  int32_t rows = 1 + data[2] * 4;
  bool align = data[3] & 1, fillBits = data[3] & 2, endOfLine = data[3] & 4;
  int32_t fillOrder = data[3] & 8 ? 2 : 1;
  std::string_view bytes(reinterpret_cast<const char*>(data + 4), size - 4);
  TPVLCCITTDecoder dec(columns, rows, fillOrder, align, fillBits);
  dec.SetEndOfLine(endOfLine);
  std::vector<uint8_t> out;
  try {
    if (mode == 0) dec.Decode1D(out, bytes);
    if (mode == 1) dec.Decode2D(out, bytes);
    if (mode == 2) dec.DecodeT6(out, bytes);
  } catch (const ECCITTError&) {
  }
  return 0;
}
