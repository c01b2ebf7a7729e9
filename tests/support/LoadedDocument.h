// A document loaded from its bytes, kept with the load's result code, and
// the decoded first content stream of one of its pages: what the reading
// tests check of a file the reader had to repair.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "document/PavonaDocument.h"
#include "objects/PavonaStructure.h"

namespace pvltest {

struct TLoadedDocument {
  int32_t result = -1;  // TPDFDocument::kLoadOk, kLoadWrongPassword or kLoadUnreadable
  std::unique_ptr<TPDFDocument> doc;
};

inline TLoadedDocument LoadDocument(const std::string& bytes, std::u16string_view password = u"") {
  TLoadedDocument l;
  l.doc = std::make_unique<TPDFDocument>();
  l.result = l.doc->LoadFromString(bytes, password);
  return l;
}

// Decoded bytes of the first content stream of page n (from 1), or a
// marker that says what is missing.
inline std::string PageContent(TPDFDocument& doc, int32_t n) {
  TPDFDictionary* page = doc.GetPageTree()->FindPage(n);
  if (!page) return "<no page>";
  TPDFObject* contents = page->GetValue("Contents", true);
  if (TPDFArray* a = PDFAsArray(contents)) contents = a->GetCount() ? PDFResolve(a->GetItem(0)) : nullptr;
  TPDFStream* s = PDFAsStream(contents);
  return s ? s->GetDecodedData() : "<no content>";
}

}  // namespace pvltest
