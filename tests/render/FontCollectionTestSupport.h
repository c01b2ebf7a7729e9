// Helpers of the font collection, funnel and extractor tests: a pool of
// indirect objects written as PDF syntax, and corpus documents opened the way
// the reader opens them.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaStructure.h"

namespace pvlfont {

// Indirect objects by number, resolved through the pool's lookup.
class TObjectPool {
public:
  TObjectPool() {
    pool.OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) -> TPDFObject* {
      auto it = objects.find(number);
      return it == objects.end() ? nullptr : it->second;
    };
  }
  // Parses text as object number n.
  TPDFObject* Def(int32_t n, const std::string& text) {
    TPDFObject* obj = pool.ParseObject(text);
    obj->SetIndirect(n, 0);
    objects[n] = obj;
    return obj;
  }
  // A stream object n with the dictionary text and the raw bytes (no filter).
  TPDFStream* DefStream(int32_t n, const std::string& dictText, const std::string& bytes) {
    TPDFDictionary* dict = PDFAsDictionary(pool.ParseObject(dictText));
    TPDFStream* s = pool.NewStreamWith(bytes, dict);
    s->SetIndirect(n, 0);
    objects[n] = s;
    return s;
  }
  TPDFObject* Parse(const std::string& text) { return pool.ParseObject(text); }
  TPDFIndRef* Ref(int32_t n) { return pool.NewIndRef(n, 0); }

  TPDFStructure pool;
  std::map<int32_t, TPDFObject*> objects;
};

// A corpus file opened with the empty password; nullptr when it cannot be read.
inline std::unique_ptr<TPDFDocument> OpenDocument(const std::string& path) {
  auto doc = std::make_unique<TPDFDocument>();
  doc->SetFileText(pvltest::ReadFile(path));
  if (!doc->ReadXRef()) return nullptr;
  doc->BuildObjectTable();
  if (doc->GetTrailer() && doc->GetTrailer()->GetValue("Encrypt")) doc->Authenticate(u"");
  return doc;
}

// Numbers of the font dictionaries (/Type /Font, or a font subtype with /BaseFont) of a document.
inline std::vector<int32_t> FontObjectNumbers(TPDFDocument& doc) {
  static const char* kSubtypes[] = {"Type1", "MMType1", "TrueType", "Type3", "Type0", "CIDFontType0", "CIDFontType2"};
  std::vector<int32_t> numbers;
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) {
    TPDFIndObj* r = doc.GetIndObj(i);
    TPDFDictionary* d = PDFAsDictionary(r->GetObject());
    if (!d) continue;
    const std::string type = d->GetNameValue("Type");
    const std::string subtype = d->GetNameValue("Subtype");
    bool fontSubtype = false;
    for (const char* s : kSubtypes) fontSubtype = fontSubtype || subtype == s;
    if (fontSubtype && (type == "Font" || (type.empty() && d->GetValue("BaseFont"))) && !subtype.starts_with("CIDFont"))
      numbers.push_back(r->Number);
  }
  return numbers;
}

}  // namespace pvlfont
