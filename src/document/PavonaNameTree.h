// Read-only lookup of a key in a name tree.
#pragma once

#include <string_view>

#include "objects/PavonaStructure.h"

// The value stored for key (as stored: it may be a reference), nullptr when
// absent. A leaf holding the key twice gives the later value. Kids are
// searched by their Limits; depth and cycles are bounded.
TPDFObject* NameTreeLookup(TPDFDictionary* node, std::string_view key);
