// The annotation list of the selected page: the page's Annots array as the
// page tree hands it over.
#pragma once

#include <cstdint>
#include <functional>

#include "render/PavonaAnnotFlags.h"  // TPDFAnnotFlag, the bits of an annotation's "F" entry

class TPDFArray;
class TPDFIndRef;
class TPDFPageTree;

class TPDFAnnots {
public:
  using TPageIndexCallback = std::function<int32_t(TPDFIndRef* page)>;

  TPDFAnnots() = default;
  TPDFAnnots(const TPDFAnnots&) = delete;
  TPDFAnnots& operator=(const TPDFAnnots&) = delete;

  // Keeps the page's Annots array (owned by the pool).
  void SetPage(TPDFArray* annots) { annots_ = annots; }
  // No array.
  void Reset() { annots_ = nullptr; }
  TPDFArray* GetArray() const { return annots_; }
  int32_t GetCount() const;

  TPDFPageTree* Owner = nullptr;
  TPageIndexCallback OnPageIndex;

private:
  TPDFArray* annots_ = nullptr;
};
