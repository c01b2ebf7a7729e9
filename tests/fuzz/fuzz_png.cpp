// PNG reader on arbitrary bytes, with and without the 16-to-8-bit switches.
// It must never crash, hang or allocate beyond the pixel and decode limits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "graphics/PavonaPNG.h"
#include "objects/PavonaFlate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool configured = [] {
    TBitmap::SetMaxPixels(int64_t(1) << 22);
    SetMaxDecodedSize(uint64_t(64) << 20);
    return true;
  }();
  (void)configured;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  for (int pass = 0; pass < 2; ++pass) {
    TPNGReader reader;
    reader.ReduceColor = pass == 1;
    reader.ReduceAlpha = pass == 1;
    TMemoryStream stream(bytes);
    reader.LoadFromStream(stream);
    if (reader.PaletteCount > 0) (void)reader.GetIndexedColorSpace();
  }
  return 0;
}
