// Whole documents through the facade, as the program uses them: open from
// memory with an empty password, count the pages, render the first page at
// a low resolution (the GDI stand-in or cairo, chosen by the input's length
// so both see the corpus), extract its text and save the document to
// memory. Errors are fine; crashes, hangs and huge allocations are not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaFlate.h"
#include "platform/Classes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetMaxDecodedSize(uint64_t(1) << 24);
    return true;
  }();
  (void)limited;
  TPavona pavona;
  try {
    if (!pavona.LoadFromString(std::string(reinterpret_cast<const char*>(data), size), u"")) return 0;
    const int32_t pages = pavona.PageCount();
    if (pages > 0) {
      pavona.DrawingSettings().AntiAlias = size % 2;
      TMemoryStream picture;
      (void)pavona.RenderPageToStream(12, 1, 0, picture);
      if (pavona.SelectPage(1)) {
        std::u16string text;
        pavona.GetPageText(0, text);
        pavona.GetPageText(3, text);
      }
    }
    std::string saved;
    pavona.SaveToString(saved);
  } catch (const std::exception&) {
  }
  return 0;
}
