// Enhanced-metafile conversion on arbitrary records: the bytes follow a
// fixed header record, go through the record reader's checks and every
// record handler into a form XObject. A bad file may be refused; it must
// never crash, hang or allocate beyond the pixel limits.
#include <cstddef>
#include <cstdint>
#include <string>

#include "objects/PavonaFlate.h"
#include "objects/PavonaStructure.h"
#include "pages/PavonaImage.h"
#include "platform/Bitmap.h"

namespace {

std::string u32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// An EMF header for a 400 x 200 pixel picture on a 1000 x 1000 pixel, 250 mm device.
std::string header() {
  std::string h = u32(1) + u32(88);
  for (uint32_t v : {0u, 0u, 399u, 199u, 0u, 0u, 9999u, 4999u}) h += u32(v);
  h += u32(0x464D4520) + u32(0x10000) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0) + u32(0);
  for (uint32_t v : {1000u, 1000u, 250u, 250u}) h += u32(v);
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool configured = [] {
    TBitmap::SetMaxPixels(int64_t(1) << 22);
    SetMaxDecodedSize(uint64_t(64) << 20);
    return true;
  }();
  (void)configured;
  static const std::vector<std::string> faces = {"Arial", "DejaVu Sans"};
  const std::string bytes = header() + std::string(reinterpret_cast<const char*>(data), size);
  TPDFStructure pool;
  int32_t next = 0;
  pool.OnGetObjectNumber = [&next](TPDFStructure*, TPDFObject*, int32_t& number, int32_t& generation) {
    number = ++next;
    generation = 0;
  };
  TPDFImage image(&pool, "PavonaIm00000000");
  image.MetafileEmbedFonts = false;
  image.MetafileFaces = &faces;
  TMemoryStream stream(bytes);
  try {
    (void)image.LoadFromStream(stream, 0);
  } catch (const Exception&) {
  }
  return 0;
}
