// Image import on arbitrary bytes: format detection and every builder (JPEG
// scan, PNG modes, TIFF pages and strips, GIF, BMP) into a pool. A bad file
// may be refused or raise an engine exception; it must never crash, hang or
// allocate beyond the pixel and decode limits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "platform/Bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool configured = [] {
    TBitmap::SetMaxPixels(int64_t(1) << 22);
    SetMaxDecodedSize(uint64_t(64) << 20);
    return true;
  }();
  (void)configured;
  if (size == 0) return 0;
  // The first byte picks the option (TIFF page or PNG mode); the rest is the file.
  const int32_t option = static_cast<int32_t>(data[0] % 9) - 1;
  const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  TPDFStructure pool;
  int32_t next = 0;
  pool.OnGetObjectNumber = [&next](TPDFStructure*, TPDFObject*, int32_t& number, int32_t& generation) {
    number = ++next;
    generation = 0;
  };
  TPDFImage image(&pool, "PavonaIm00000000");
  image.Compress = (data[0] & 0x80) != 0;
  TMemoryStream stream(bytes);
  try {
    if (image.LoadFromStream(stream, option)) (void)image.GetMaskKind();
  } catch (const Exception&) {
  }
  return 0;
}
