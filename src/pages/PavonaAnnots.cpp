#include "pages/PavonaAnnots.h"

#include "objects/PavonaStructure.h"

int32_t TPDFAnnots::GetCount() const {
  return annots_ ? annots_->GetCount() : 0;
}
