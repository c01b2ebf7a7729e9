// TIFF reader on arbitrary bytes: IFD chains, entries and strips must stay
// inside the data, and the walk must end.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "graphics/PavonaTIFF.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPDFTIFF tiff;
  tiff.LoadFromString(std::string_view(reinterpret_cast<const char*>(data), size));
  TTIFFPage page;
  for (int32_t n = 1; n <= tiff.PageCount && n <= 4; ++n) tiff.GetPage(n, page);
  return 0;
}
