#include "document/PavonaNameTree.h"

#include <unordered_set>

namespace {

constexpr int kMaxNameTreeDepth = 64;

TPDFObject* lookup(TPDFDictionary* node, std::string_view key, int depth,
                   std::unordered_set<const TPDFObject*>& seen) {
  if (!node || depth > kMaxNameTreeDepth || !seen.insert(node).second) return nullptr;
  TPDFObject* kidsValue = node->GetValue("Kids");
  TPDFObject* namesValue = node->GetValue("Names");
  if ((kidsValue != nullptr) == (namesValue != nullptr)) return nullptr;
  if (TPDFArray* names = PDFAsArray(PDFResolve(namesValue))) {
    TPDFObject* found = nullptr;
    for (int32_t i = 0; i + 1 < names->GetCount(); i += 2) {
      TPDFString* name = PDFAsString(PDFResolve(names->GetItem(i)));
      if (name && name->GetValue() == key) found = names->GetItem(i + 1);
    }
    return found;
  }
  TPDFArray* kids = PDFAsArray(PDFResolve(kidsValue));
  if (!kids) return nullptr;
  for (TPDFObject* kid : kids->Items()) {
    TPDFIndRef* ref = PDFAsIndRef(kid);
    TPDFDictionary* dict = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
    TPDFArray* limits = dict ? PDFAsArray(dict->GetValue("Limits", true)) : nullptr;
    if (!limits || limits->GetCount() != 2) continue;
    TPDFString* low = PDFAsString(PDFResolve(limits->GetItem(0)));
    TPDFString* high = PDFAsString(PDFResolve(limits->GetItem(1)));
    if (!low || !high) continue;
    // Byte-wise comparison (std::string_view compares as unsigned char).
    if (std::string_view(low->GetValue()) <= key && key <= std::string_view(high->GetValue()))
      return lookup(dict, key, depth + 1, seen);
  }
  return nullptr;
}

}  // namespace

TPDFObject* NameTreeLookup(TPDFDictionary* node, std::string_view key) {
  std::unordered_set<const TPDFObject*> seen;
  return lookup(node, key, 0, seen);
}
