// Helpers shared by the document tests: opening files the way the driver
// does, and a summary of a document's content for comparisons.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "document/PavonaDocument.h"
#include "objects/PavonaDigest.h"

namespace pvldoc {

inline std::string PvlPath() {
  return std::string(PVL_BINARY_DIR) + "/tools/pvl";
}

// Loads a file: cross-reference data, table, then the password (empty first).
inline std::unique_ptr<TPDFDocument> LoadFile(const std::string& path, const std::u16string& password = u"") {
  auto doc = std::make_unique<TPDFDocument>();
  doc->SetFileText(pvltest::ReadFile(path));
  if (!doc->ReadXRef()) return nullptr;
  doc->BuildObjectTable();
  if (doc->GetTrailer()->GetValue("Encrypt")) {
    doc->Authenticate(u"");
    if (!password.empty()) doc->Authenticate(password);
  }
  return doc;
}

inline bool Authenticated(const TPDFDocument& doc) {
  return doc.GetEncryption().UserAuthenticated || doc.GetEncryption().OwnerAuthenticated;
}

// Every string (recursively) and every decoded stream of every object, as a
// sorted list of digests: equal for two files with the same content however
// their objects are numbered or stored. Object streams, cross-reference
// streams and the Encrypt dictionary are left out.
inline std::vector<std::string> ContentDigests(TPDFDocument& doc) {
  std::vector<std::string> out;
  const int32_t encryptNumber = doc.GetEncryption().EncryptObjectNumber;
  auto visit = [&](auto&& self, TPDFObject* o, int depth) -> void {
    if (!o || depth > 64) return;
    switch (o->GetKind()) {
      case pdfkString:
        out.push_back("s" + MD5DigestToHex(MD5OfString(o->AsString()->GetValue())));
        break;
      case pdfkArray:
        for (TPDFObject* item : o->AsArray()->Items()) self(self, item, depth + 1);
        break;
      case pdfkDictionary:
        for (const TPDFDictEntry& e : o->AsDictionary()->Entries()) self(self, e.value, depth + 1);
        break;
      case pdfkStream: {
        TPDFStream* s = o->AsStream();
        self(self, s->GetDictionary(), depth + 1);
        out.push_back("S" + MD5DigestToHex(MD5OfString(s->GetDecodedData())));
        break;
      }
      default:
        break;
    }
  };
  for (int32_t i = 0; i < doc.GetObjectCount(); ++i) {
    TPDFIndObj* r = doc.GetIndObj(i);
    if (r->Number == encryptNumber) continue;
    TPDFObject* obj = r->GetObject();
    // Encrypt dictionaries (also one a decrypting tool kept as an unused object).
    if (TPDFDictionary* d = PDFAsDictionary(obj); d && d->GetNameValue("Filter") == "Standard") continue;
    if (TPDFStream* s = PDFAsStream(obj)) {
      std::string type = s->GetDictionary() ? s->GetDictionary()->GetNameValue("Type") : "";
      if (type == "ObjStm" || type == "XRef") continue;
    }
    visit(visit, obj, 0);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace pvldoc
