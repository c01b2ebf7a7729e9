// Cross-reference reader on whole files: the startxref search, the section
// chain and the reconstruction scan. Errors are fine; crashes, hangs and
// huge allocations are not.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "document/PavonaXRef.h"
#include "objects/PavonaFlate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetMaxDecodedSize(uint64_t(1) << 24);
    return true;
  }();
  (void)limited;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TPDFXRefReader reader(text);
  size_t entries = 0, trailers = 0;
  reader.OnEntry = [&](int32_t, int64_t, char, int32_t) { ++entries; };
  reader.OnTrailer = [&](const std::string& t) { trailers += t.size() > 0; };
  reader.OnSection = [](int64_t) {};
  try {
    if (!reader.ReadSection(reader.FindStartXRef())) reader.Reconstruct();
  } catch (const Exception&) {
  }
  return 0;
}
