// Whole documents through the facade, as the program uses them: open from
// memory with an empty password, count the pages, render the first page at
// a low resolution, extract its text and save the document to memory. The
// input's length picks the output, so that each sees the corpus: a bitmap
// through the GDI stand-in or through cairo, EPS, an enhanced metafile or
// an HTML5 canvas page. Errors are fine; crashes, hangs and huge
// allocations are not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaFlate.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "FuzzLimits.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LimitFuzzSizes(int64_t(1) << 22, uint64_t(1) << 24);
  TPavona pavona;
  try {
    if (!pavona.LoadFromString(std::string(reinterpret_cast<const char*>(data), size), u"")) return 0;
    const int32_t pages = pavona.PageCount();
    if (pages > 0) {
      // {format, anti-aliased}: 0 BMP, 4 EPS, 3 EMF, 9 HTML5 canvas.
      static constexpr int32_t kOutputs[5][2] = {{0, 0}, {0, 1}, {4, 0}, {3, 0}, {9, 0}};
      const auto& output = kOutputs[size % 5];
      pavona.DrawingSettings().AntiAlias = static_cast<uint8_t>(output[1]);
      TMemoryStream picture;
      (void)pavona.RenderPageToStream(12, 1, output[0], picture);
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
