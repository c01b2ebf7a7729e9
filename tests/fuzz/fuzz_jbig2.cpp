// JBIG2 decoding of arbitrary data. The first two bytes give the length of
// the /JBIG2Globals part that follows them; the rest is the image stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "graphics/PavonaJBIG2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t globalsLength = std::min<size_t>((size_t(data[0]) << 8) | data[1], size - 2);
  std::string_view all(reinterpret_cast<const char*>(data + 2), size - 2);
  TPVLJBIG2Decoder dec;
  dec.DecodeWithGlobals(all.substr(globalsLength), all.substr(0, globalsLength));
  return 0;
}
