// Object syntax parser on arbitrary bytes: whatever parses must write back
// (nesting is capped, so writing never fails) and parse again to the same
// value. Crashes, hangs and broken round trips abort.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../objects/PavonaStructureTestSupport.h"
#include "objects/PavonaStructure.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool isWhite(char c) {
  return c == 0 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32;
}

// Numbers beyond the 64-bit integer range have no exact text form that the
// reader takes back; such values are compared only for not crashing.
bool hasHugeNumbers(const TPDFStructure& pool) {
  for (int32_t i = 0; i < pool.GetCount(); ++i) {
    TPDFNumeric* n = PDFAsNumeric(pool.GetObject(i));
    if (n && std::fabs(n->GetValue()) >= 1e15) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  TPDFStructure pool;
  size_t consumed = 0;
  TPDFObject* obj = pool.ParseObjectEx(text, consumed);
  check(obj != nullptr);
  check(consumed <= size);
  if (consumed == 0) {
    check(obj->GetKind() == pdfkNull);
    return 0;
  }
  std::string written = obj->WriteText();  // must not raise: parsed trees are capped and acyclic
  size_t again = 0;
  TPDFObject* back = pool.ParseObjectEx(written, again);
  for (size_t i = again; i < written.size(); ++i) check(isWhite(written[i]));
  if (!hasHugeNumbers(pool)) {
    std::string why;
    check(pvltest::SameObject(obj, back, pool.GetPrecisionDigits(), &why));
    check(back->WriteText() == written);
  }
  // The other entry points on the same bytes.
  (void)pool.UnescapeLiteral(text);
  (void)HexStringToBytes(text);
  obj->ShiftObjectNumbers(1);
  obj->Release();
  return 0;
}
