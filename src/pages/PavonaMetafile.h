// Conversion of Windows metafiles into page content: the tiling patterns that
// stand in for bitmap pattern brushes.
#pragma once

#include <string>

#include "objects/PavonaStructure.h"
#include "platform/Bitmap.h"

// A coloured tiling pattern that paints a bitmap once per cell.
class TPDFPattern {
public:
  // name: the resource name ("PVLP" and an 8-hex-digit tag, chosen by the creator).
  TPDFPattern(TPDFStructure* structure, std::string name) : Structure(structure), Name(std::move(name)) {}

  // Builds the pattern stream and makes it an indirect object of the
  // document; false when the bitmap is empty or the structure cannot number
  // objects (no document behind it).
  bool BuildFromBitmap(const TBitmap& bitmap);

  TPDFStructure* Structure;  // not owned
  std::string Name;
  TPDFIndRef* Reference = nullptr;
};
