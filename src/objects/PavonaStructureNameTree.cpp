// Name trees: lookups over every leaf of the tree, sorted insertion.
#include <unordered_set>

#include "objects/PavonaStructure.h"

namespace {

// Key of pair k of a leaf (item 2k) when it is a string; nullptr otherwise.
const std::string* pairKey(const TPDFArray* leaf, int32_t k) {
  TPDFString* key = PDFAsString(leaf->GetItem(2 * k));
  return key ? &key->GetValue() : nullptr;
}

// Whole pairs only: a dangling key at the end of an odd-length array is ignored.
int32_t pairCount(const TPDFArray* leaf) {
  return leaf->GetCount() / 2;
}

// The two strings of a node's /Limits; false when it has none.
bool nodeLimits(const TPDFDictionary* node, TPDFString*& low, TPDFString*& high) {
  TPDFArray* limits = node ? node->GetArray("Limits") : nullptr;
  if (!limits || limits->GetCount() < 2) return false;
  low = PDFAsString(PDFResolve(limits->GetItem(0)));
  high = PDFAsString(PDFResolve(limits->GetItem(1)));
  return low && high;
}

}  // namespace

TPDFNameTree::TPDFNameTree(TPDFStructure* pool, TPDFDictionary* root) : pool_(pool), root_(root) {
  if (!root_) return;
  if (root_->GetCount() == 0 && pool_) root_->SetValue("Names", pool_->NewArray());
  if (TPDFObject* names = root_->GetValue("Names")) {
    singleNode_ = true;
    if (TPDFArray* leaf = PDFAsArray(PDFResolve(names))) leaves_.push_back({leaf, {}});
    return;
  }
  std::vector<TPDFDictionary*> path;
  std::unordered_set<const TPDFObject*> visited{root_};
  collectLeaves(root_, path, visited, 0);
}

void TPDFNameTree::collectLeaves(TPDFDictionary* node, std::vector<TPDFDictionary*>& path,
                                 std::unordered_set<const TPDFObject*>& visited, int depth) {
  TPDFArray* kids = node->GetArray("Kids");
  if (!kids || depth >= kMaxObjectDepth) return;
  for (TPDFObject* item : kids->Items()) {
    TPDFDictionary* kid = PDFAsDictionary(PDFResolve(item));
    if (!kid) continue;
    // Each node is read once: a cycle or a node listed twice adds nothing.
    if (!visited.insert(kid).second) continue;
    path.push_back(kid);
    if (TPDFArray* names = kid->GetArray("Names")) {
      leaves_.push_back({names, path});
    } else {
      collectLeaves(kid, path, visited, depth + 1);
    }
    path.pop_back();
  }
}

bool TPDFNameTree::findPair(std::string_view name, bool refOnly, size_t& leaf, int32_t& index) const {
  bool found = false;
  for (size_t l = 0; l < leaves_.size(); ++l) {
    const TPDFArray* names = leaves_[l].names;
    for (int32_t k = 0; k < pairCount(names); ++k) {
      const std::string* key = pairKey(names, k);
      if (!key || *key != name) continue;
      if (refOnly && !PDFIsKind(names->GetItem(2 * k + 1), pdfkIndRef)) continue;
      leaf = l;
      index = 2 * k;
      found = true;
    }
  }
  return found;
}

size_t TPDFNameTree::chooseLeaf(std::string_view name) const {
  size_t nearest = leaves_.size();
  size_t firstWithKeys = leaves_.size();
  for (size_t l = 0; l < leaves_.size(); ++l) {
    std::string low, high;
    TPDFString* lowLimit = nullptr;
    TPDFString* highLimit = nullptr;
    if (!leaves_[l].path.empty() && nodeLimits(leaves_[l].path.back(), lowLimit, highLimit)) {
      low = lowLimit->GetValue();
      high = highLimit->GetValue();
    } else {
      const TPDFArray* names = leaves_[l].names;
      bool any = false;
      for (int32_t k = 0; k < pairCount(names); ++k) {
        const std::string* key = pairKey(names, k);
        if (!key) continue;
        if (!any || *key < low) low = *key;
        if (!any || *key > high) high = *key;
        any = true;
      }
      if (!any) continue;
    }
    if (firstWithKeys == leaves_.size()) firstWithKeys = l;
    if (std::string_view(low) <= name && name <= std::string_view(high)) return l;
    // The name lies past this leaf's keys: the end of the last such leaf
    // keeps the whole tree in order.
    if (std::string_view(low) <= name) nearest = l;
  }
  if (nearest < leaves_.size()) return nearest;
  return firstWithKeys < leaves_.size() ? firstWithKeys : 0;
}

void TPDFNameTree::widenLimits(const TLeaf& leaf, std::string_view name) {
  for (TPDFDictionary* node : leaf.path) {
    TPDFString* low = nullptr;
    TPDFString* high = nullptr;
    if (!nodeLimits(node, low, high)) continue;
    TPDFArray* limits = node->GetArray("Limits");
    if (name < std::string_view(low->GetValue())) limits->ReplaceItem(0, pool_->NewString(name));
    if (name > std::string_view(high->GetValue())) limits->ReplaceItem(1, pool_->NewString(name));
  }
}

void TPDFNameTree::Add(std::string_view name, TPDFIndRef* ref) {
  if (leaves_.empty() || !pool_) return;
  size_t leaf = 0;
  int32_t index = 0;
  if (findPair(name, false, leaf, index)) {
    // One pair per name: the existing key gets the new value.
    leaves_[leaf].names->ReplaceItem(index + 1, ref);
    return;
  }
  leaf = chooseLeaf(name);
  TPDFArray* names = leaves_[leaf].names;
  int32_t insertAt = 0;
  for (int32_t k = 0; k < pairCount(names); ++k) {
    const std::string* key = pairKey(names, k);
    if (key && std::string_view(*key) < name) insertAt = 2 * (k + 1);
  }
  names->Insert(insertAt, pool_->NewString(name, psmLiteral));
  names->Insert(insertAt + 1, ref);
  widenLimits(leaves_[leaf], name);
}

TPDFIndRef* TPDFNameTree::GetValue(std::string_view name) const {
  size_t leaf = 0;
  int32_t index = 0;
  if (!findPair(name, true, leaf, index)) return nullptr;
  return PDFAsIndRef(leaves_[leaf].names->GetItem(index + 1));
}

bool TPDFNameTree::Delete(std::string_view name) {
  size_t leaf = 0;
  int32_t index = 0;
  if (!findPair(name, true, leaf, index)) return false;
  TPDFArray* names = leaves_[leaf].names;
  names->Delete(index);  // the key
  names->Delete(index);  // the value, now at the same place
  return true;
}

bool TPDFNameTree::Contains(std::string_view name) const {
  size_t leaf = 0;
  int32_t index = 0;
  return findPair(name, false, leaf, index);
}

int32_t TPDFNameTree::GetCount() const {
  int32_t count = 0;
  for (const TLeaf& leaf : leaves_)
    for (int32_t k = 0; k < pairCount(leaf.names); ++k)
      if (pairKey(leaf.names, k)) ++count;
  return count;
}

std::string TPDFNameTree::GetName(int32_t n) const {
  if (n < 1) return {};
  int32_t seen = 0;
  for (const TLeaf& leaf : leaves_) {
    for (int32_t k = 0; k < pairCount(leaf.names); ++k) {
      const std::string* key = pairKey(leaf.names, k);
      if (key && ++seen == n) return *key;
    }
  }
  return {};
}
