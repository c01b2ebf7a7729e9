// The document's object table on whole files: cross-reference data, the
// table, authentication with an empty password, then every object loaded
// (slices, object streams, stream lengths, decryption). Errors are fine;
// crashes, hangs and huge allocations are not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "document/PavonaDocument.h"
#include "objects/PavonaFlate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool limited = [] {
    SetMaxDecodedSize(uint64_t(1) << 24);
    return true;
  }();
  (void)limited;
  TPDFDocument doc;
  try {
    doc.SetFileText(std::string(reinterpret_cast<const char*>(data), size));
    doc.ReadXRef();
    doc.BuildObjectTable();
    if (doc.GetTrailer()->GetValue("Encrypt")) doc.Authenticate(u"");
    for (int32_t i = 0; i < doc.GetObjectCount() && i < 5000; ++i) {
      TPDFObject* obj = doc.GetIndObj(i)->GetObject();
      if (TPDFStream* s = PDFAsStream(obj)) (void)s->GetDecodedData();
      if (obj) (void)obj->WriteText();
    }
  } catch (const Exception&) {
  }
  return 0;
}
