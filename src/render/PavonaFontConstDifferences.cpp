// /Differences arrays; kept apart from the tables so that they alone need the object layer.
#include "../objects/PavonaStructure.h"
#include "PavonaFontConst.h"

void ApplyDifferences(TPDFGlyphNames& names, const TPDFArray* differences) {
  if (!differences) return;
  int64_t code = 0;
  for (const TPDFObject* item : differences->Items()) {
    if (!item) continue;
    if (item->GetKind() == pdfkNumeric) {
      double v = static_cast<const TPDFNumeric*>(item)->GetValue();
      code = (v >= -1e9 && v <= 1e9) ? static_cast<int64_t>(v) : -1;
    } else if (item->GetKind() == pdfkName) {
      if (code >= 0 && code < 256) names[static_cast<size_t>(code)] = static_cast<const TPDFName*>(item)->GetValue();
      if (code < 1'000'000'000) ++code;
    }
  }
}
