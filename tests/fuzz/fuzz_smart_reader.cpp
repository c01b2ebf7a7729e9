// Direct-access reader on whole files: header, cross-reference chain, every
// object (object streams included) through the cache and into a pool of the
// caller, and the trailer rebuild. Crashes, hangs and huge allocations are
// the faults looked for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/PavonaSmartAccess.h"
#include "objects/PavonaFlate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetMaxDecodedSize(uint64_t(1) << 24);
    return true;
  }();
  (void)limited;
  TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  TSmartPDFReader reader(stream);
  if (reader.GetState() != 0) return 0;
  TPDFStructure pool;
  const int32_t last = std::min(reader.GetMaxObjectNumber(), 300);
  for (int32_t n = 1; n <= last; ++n) {
    if (TPDFObject* obj = reader.GetCachedObject(n)) (void)obj->WriteText();
    (void)reader.GetObject(n, &pool);
  }
  (void)reader.GetTrailerDict("Root");
  reader.RebuildTrailer();
  return 0;
}
