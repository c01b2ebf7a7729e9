// JPEG 2000 decoding of arbitrary data (JP2 files and J2K codestreams).
#include <cstddef>
#include <cstdint>
#include <string>

#include "graphics/PavonaJpeg2000Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream s(std::string(reinterpret_cast<const char*>(data), size));
  TJpeg2000Bitmap bm;
  try {
    bm.LoadFromStream(s);
  } catch (const EJpeg2000Error&) {
  }
  return 0;
}
