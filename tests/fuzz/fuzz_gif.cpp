// GIF reader on arbitrary bytes: parsing and painting every image.
#include <cstddef>
#include <cstdint>
#include <string>

#include "graphics/PavonaGIF.h"
#include "objects/PavonaFlate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool configured = [] {
    TBitmap::SetMaxPixels(int64_t(1) << 20);
    SetMaxDecodedSize(uint64_t(16) << 20);
    return true;
  }();
  (void)configured;
  TPDFGIFDecoder decoder;
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  decoder.LoadFromStream(stream);
  TBitmap bitmap;
  try {
    decoder.DrawToBitmap(bitmap);
  } catch (const EBitmapError&) {
    // A logical screen larger than a bitmap may be.
  }
  return 0;
}
