// The parts of a whole document that hang off the catalog, through the
// facade: information and XMP, every outline item (titles, actions, target
// pages), embedded files of the name tree, form fields, the image search of
// the pages and of the object table with each image read out once, a page
// taken out into a document of its own, and the direct-access merge of the
// file with itself. Trees and chains here come from the file: cycles,
// depth and sizes are what is looked for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/Pavona0813.h"
#include "objects/PavonaFlate.h"
#include "pages/PavonaForm.h"
#include "platform/Bitmap.h"
#include "platform/Classes.h"
#include "FuzzLimits.h"

namespace {

void walkOutlines(TPavona& pavona) {
  std::u16string text;
  const int32_t count = pavona.OutlineCount();
  for (int32_t n = 1; n <= count && n <= 200; ++n) {
    const int32_t item = pavona.GetOutlineHandle(n);
    pavona.GetOutlineTitle(item, text);
    pavona.GetOutlineAction(item, text);
    (void)pavona.GetOutlinePage(item);
    (void)pavona.GetOutlineColor(item, 1);
    (void)pavona.GetParentOutline(item);
    (void)pavona.GetDestinationPage(item);
  }
  // The sibling chain as the tree view walks it, with a bound of its own.
  int32_t item = pavona.GetFirstOutline();
  for (int32_t steps = 0; item && steps < 200; ++steps) {
    if (const int32_t child = pavona.GetFirstChildOutline(item)) (void)pavona.GetNextOutline(child);
    item = pavona.GetNextOutline(item);
  }
}

void readParts(TPavona& pavona) {
  std::u16string text;
  for (int32_t i = 0; i <= 8; ++i) pavona.GetInformation(i, text);
  (void)pavona.IsEncrypted();
  walkOutlines(pavona);
  const int32_t files = pavona.EmbeddedFileCount();
  for (int32_t n = 1; n <= files && n <= 50; ++n) {
    for (int32_t kind : {1, 2, 3, 4, 5, 7}) pavona.GetEmbeddedFileString(n, kind, text);
    (void)pavona.GetEmbeddedFileInt(n, 5);
    std::string content;
    pavona.GetEmbeddedFileContent(n, content);
  }
  const int32_t fields = pavona.FormFieldCount();
  for (int32_t n = 1; n <= fields && n <= 100; ++n) (void)pavona.GetFormField(n);
  (void)pavona.FindFormField(u"a.b");
  for (int32_t method : {1, 2}) {
    pavona.SetImageSearchMethod(method);
    const int32_t found = pavona.FindImages();
    for (int32_t n = 1; n <= found && n <= 20; ++n) {
      if (pavona.SelectImage(pavona.GetImageHandle(n))) {
        (void)pavona.ImageWidth();
        (void)pavona.ImageType();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LimitFuzzSizes(int64_t(1) << 22, uint64_t(1) << 24);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  TPavona pavona;
  try {
    if (pavona.LoadFromString(bytes, u"")) {
      readParts(pavona);
      if (pavona.PageCount() > 0 && pavona.ExtractPages(1, 1)) {
        std::string saved;
        pavona.SaveToString(saved);
      }
    }
    TMemoryStream first(bytes), second(bytes), merged;
    (void)pavona.MergeStreams(first, second, merged);
  } catch (const std::exception&) {
  }
  return 0;
}
