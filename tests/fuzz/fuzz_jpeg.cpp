// JPEG decoding of arbitrary data through the engine's JPEG picture; the
// first byte picks the scale and the 8-bit output.
#include <cstddef>
#include <cstdint>
#include <string>

#include "graphics/PavonaJPEG.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  TPDFJPEGImage img;
  img.Scale = data[0] & 3;
  if (data[0] & 4) img.PixelFormat = TJPEGPixelFormat::jf8Bit;
  TMemoryStream s(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  img.LoadFromStream(s);
  // Pictures the library would accept as hundreds of megapixels are skipped.
  if (int64_t(img.Width()) * img.Height() > 4000000) return 0;
  img.GetBitmap();
  return 0;
}
