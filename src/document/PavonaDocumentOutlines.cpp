// The outline (bookmark) tree, read and edited in its dictionaries, named
// destinations and the page index of a destination's page.
//
// Outline links come from the file: First/Next walks remember the items they
// have seen and Parent chains are followed a bounded number of steps, so a
// cyclic or absurdly deep outline cannot hang or exhaust the stack.
#include <algorithm>
#include <array>
#include <limits>
#include <cmath>
#include <unordered_set>

#include "document/PavonaDocument.h"
#include "document/PavonaNameTree.h"

namespace {

// Longest Parent chain followed when counts are updated.
constexpr int32_t kMaxOutlineDepth = 1024;

TPDFDictionary* dictOf(TPDFIndRef* ref) {
  return ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
}

// The value of key when it is an indirect reference.
TPDFIndRef* refEntry(TPDFDictionary* dict, std::string_view key) {
  return dict ? PDFAsIndRef(dict->GetValue(key)) : nullptr;
}

bool sameRef(TPDFObject* a, TPDFIndRef* b) {
  TPDFIndRef* r = PDFAsIndRef(a);
  return r && b && r->GetRefNumber() == b->GetRefNumber() && r->GetRefGeneration() == b->GetRefGeneration();
}

// Adds delta to Count of node and of every ancestor through Parent; the
// direction of a closed (negative) Count is reversed, so that it stays
// negative and tells the same number of descendants.
void adjustCounts(TPDFDictionary* node, int64_t delta) {
  std::unordered_set<const TPDFObject*> seen;
  for (int32_t steps = 0; node && steps < kMaxOutlineDepth && seen.insert(node).second; ++steps) {
    TPDFNumeric* count = PDFAsNumeric(node->GetValue("Count", true));
    const double value = count && std::isfinite(count->GetValue()) ? count->GetValue() : 0;
    const double updated = value < 0 ? value - static_cast<double>(delta) : value + static_cast<double>(delta);
    node->SetValue("Count", node->GetOwner()->NewNumeric(updated));
    node = PDFAsDictionary(node->GetValue("Parent", true));
  }
}

}  // namespace

TPDFIndRef* TPDFDocument::GetOutlineRoot() {
  TPDFDictionary* catalog = GetRoot();
  if (TPDFDictionary* direct = PDFAsDictionary(catalog->GetValue("Outlines")); direct && !direct->IsIndirect()) {
    // Outlines written directly in the catalogue: the root becomes an
    // object of its own (its items' Parent may not name it, as before).
    const std::string type = direct->GetTypeName();
    TPDFDictionary* copy = PDFAsDictionary(pool_->ParseObject(direct->WriteText()));
    if (copy && (type.empty() || type == "Outlines")) {
      TPDFIndRef* ref = AddIndirectRef(copy);
      catalog->SetValue("Outlines", ref);
      return pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration());
    }
  }
  if (TPDFIndRef* ref = PDFAsIndRef(catalog->GetValue("Outlines"))) {
    TPDFDictionary* root = dictOf(ref);
    if (root) {
      const std::string type = root->GetTypeName();
      if (type.empty() || type == "Outlines") return ref;
    }
  }
  TPDFIndRef* ref = AddIndirectRef(pool_->NewDictionary());
  catalog->SetValue("Outlines", ref);
  return pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration());
}

// Visits the items below root in depth-first order (an item, its First
// subtree, then its Next chain); visit returns false to stop. Each item is
// visited once.
void TPDFDocument::walkOutline(const std::function<bool(TPDFIndRef*)>& visit) {
  TPDFDictionary* root = dictOf(GetOutlineRoot());
  std::unordered_set<const TPDFObject*> seen;
  seen.insert(root);
  // Pending Next chains, innermost last.
  std::vector<TPDFIndRef*> stack;
  if (TPDFIndRef* first = refEntry(root, "First")) stack.push_back(first);
  while (!stack.empty()) {
    TPDFIndRef* item = stack.back();
    stack.pop_back();
    TPDFDictionary* dict = dictOf(item);
    if (!dict || !seen.insert(dict).second) continue;
    if (!visit(item)) return;
    if (TPDFIndRef* next = refEntry(dict, "Next")) stack.push_back(next);
    if (TPDFIndRef* child = refEntry(dict, "First")) stack.push_back(child);
  }
}

int32_t TPDFDocument::GetOutlineCount() {
  int32_t count = 0;
  walkOutline([&](TPDFIndRef*) {
    ++count;
    return true;
  });
  return count;
}

TPDFIndRef* TPDFDocument::GetOutlineItem(int32_t n) {
  if (n <= 0) return nullptr;
  TPDFIndRef* found = nullptr;
  int32_t i = 0;
  walkOutline([&](TPDFIndRef* item) {
    if (++i == n) found = item;
    return !found;
  });
  return found;
}

TPDFIndRef* TPDFDocument::GetFirstOutline() {
  return refEntry(dictOf(GetOutlineRoot()), "First");
}

TPDFIndRef* TPDFDocument::GetFirstChildOutline(TPDFIndRef* item) {
  return refEntry(dictOf(item), "First");
}

TPDFIndRef* TPDFDocument::GetNextOutline(TPDFIndRef* item) {
  return refEntry(dictOf(item), "Next");
}

TPDFIndRef* TPDFDocument::GetParentOutline(TPDFIndRef* item) {
  return refEntry(dictOf(item), "Parent");
}

std::u16string TPDFDocument::GetOutlineTitle(TPDFIndRef* item) {
  TPDFDictionary* dict = dictOf(item);
  TPDFString* title = dict ? PDFAsString(dict->GetValue("Title", true)) : nullptr;
  return title ? title->GetText() : std::u16string();
}

TPDFObject* TPDFDocument::GetOutlineDest(TPDFIndRef* item) {
  TPDFDictionary* dict = dictOf(item);
  return dict ? dict->GetValue("Dest", true) : nullptr;
}

TPDFDictionary* TPDFDocument::GetOutlineAction(TPDFIndRef* item) {
  TPDFDictionary* dict = dictOf(item);
  return dict ? PDFAsDictionary(dict->GetValue("A", true)) : nullptr;
}

double TPDFDocument::GetOutlineColor(TPDFIndRef* item, int32_t component) {
  TPDFDictionary* dict = dictOf(item);
  TPDFArray* c = dict ? PDFAsArray(dict->GetValue("C", true)) : nullptr;
  if (!c) return 0;
  TPDFObject* value = nullptr;
  if (c->GetCount() == 1) {
    value = c->GetItem(0);
  } else if (c->GetCount() == 3) {
    value = c->GetItem(std::clamp(component, 0, 2));
  }
  TPDFNumeric* n = PDFAsNumeric(PDFResolve(value));
  return n && std::isfinite(n->GetValue()) ? n->GetValue() : 0;
}

void TPDFDocument::SetOutlineColor(TPDFIndRef* item, double red, double green, double blue) {
  TPDFDictionary* dict = dictOf(item);
  if (!dict) return;
  dict->FreeKey("C");
  dict->SetValue("C", pool_->NewRealArray(std::array<double, 3>{red, green, blue}));
}

std::string TPDFDocument::GetOutlineWebLink(TPDFIndRef* item) {
  TPDFDictionary* dict = dictOf(item);
  if (!dict) return {};
  std::unordered_set<const TPDFObject*> seen;
  TPDFDictionary* action = PDFAsDictionary(dict->GetValue("A", true));
  while (action && seen.insert(action).second) {
    const std::string type = action->GetTypeName();
    if ((type.empty() || type == "Action") && action->GetNameValue("S") == "URI") {
      if (TPDFString* uri = PDFAsString(action->GetValue("URI", true))) return uri->GetValue();
    }
    TPDFObject* next = action->GetValue("Next", true);
    // Next may be one action or an array of them; the first one is followed.
    if (TPDFArray* list = PDFAsArray(next)) next = PDFResolve(list->GetItem(0));
    action = PDFAsDictionary(next);
  }
  return {};
}

void TPDFDocument::SetOutlineWebLink(TPDFIndRef* item, std::string_view address) {
  TPDFDictionary* dict = dictOf(item);
  if (!dict) return;
  dict->FreeKey("Dest");
  dict->FreeKey("A");
  TPDFDictionary* action = pool_->NewDictionary();
  action->SetValue("Type", pool_->KeyName("Action"));
  action->SetValue("S", pool_->KeyName("URI"));
  action->SetValue("URI", pool_->NewString(address));
  dict->SetValue("A", action);
}

TPDFIndRef* TPDFDocument::addOutline(TPDFIndRef* parent, std::u16string_view title, bool withDest, double top,
                                     int32_t page) {
  if (!parent) parent = GetOutlineRoot();
  TPDFDictionary* parentDict = dictOf(parent);
  if (!parentDict) return nullptr;
  TPDFDictionary* item = pool_->NewDictionary();
  item->SetValue("Title", pool_->NewTextString(title));
  item->SetValue("Parent", pool_->NewIndRef(parent->GetRefNumber(), parent->GetRefGeneration()));
  if (withDest) {
    TPDFObject* target = nullptr;
    TPDFIndRef* pageRef = page >= 1 && page <= pageTree_->GetPageCount() ? pageTree_->GetPageRef(page) : nullptr;
    if (pageRef) {
      target = pool_->NewIndRef(pageRef->GetRefNumber(), pageRef->GetRefGeneration());
    } else {
      target = pool_->NewNumeric(static_cast<double>(page) - 1);
    }
    item->SetValue("Dest", pool_->NewArrayOf({target, pool_->KeyName("XYZ"), pool_->NewNumeric(0),
                                              pool_->NewNumeric(top), pool_->NewNumeric(0)}));
  }
  TPDFIndRef* ref = AddIndirectRef(item);
  if (TPDFIndRef* last = refEntry(parentDict, "Last")) {
    item->SetValue("Prev", pool_->NewIndRef(last->GetRefNumber(), last->GetRefGeneration()));
    if (TPDFDictionary* lastDict = dictOf(last))
      lastDict->SetValue("Next", pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  } else {
    parentDict->SetValue("First", pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  }
  parentDict->SetValue("Last", pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
  adjustCounts(parentDict, 1);
  return ref;
}

TPDFIndRef* TPDFDocument::NewOutline(TPDFIndRef* parent, std::u16string_view title, double top, int32_t page) {
  return addOutline(parent, title, true, top, page);
}

TPDFIndRef* TPDFDocument::NewChildOutline(TPDFIndRef* parent, std::u16string_view title) {
  return addOutline(parent, title, false, 0, 0);
}

bool TPDFDocument::RemoveOutline(TPDFIndRef* item) {
  TPDFDictionary* dict = dictOf(item);
  if (!dict) return false;
  TPDFIndRef* next = refEntry(dict, "Next");
  TPDFIndRef* prev = refEntry(dict, "Prev");
  TPDFDictionary* parent = PDFAsDictionary(dict->GetValue("Parent", true));
  for (const char* key : {"Next", "Prev", "Parent", "First", "Last"}) dict->DeleteKey(key);
  if (TPDFDictionary* nextDict = dictOf(next)) {
    if (prev) {
      nextDict->SetValue("Prev", prev);
    } else {
      nextDict->FreeKey("Prev");
    }
  }
  if (TPDFDictionary* prevDict = dictOf(prev)) {
    if (next) {
      prevDict->SetValue("Next", next);
    } else {
      prevDict->FreeKey("Next");
    }
  }
  if (parent) {
    if (sameRef(parent->GetValue("Last"), item)) {
      if (prev) {
        parent->SetValue("Last", pool_->NewIndRef(prev->GetRefNumber(), prev->GetRefGeneration()));
      } else {
        parent->FreeKey("Last");
      }
    }
    if (sameRef(parent->GetValue("First"), item)) {
      if (next) {
        parent->SetValue("First", pool_->NewIndRef(next->GetRefNumber(), next->GetRefGeneration()));
      } else {
        parent->FreeKey("First");
      }
    }
    // An open item takes its visible descendants with it; a closed one
    // (negative Count) only itself.
    TPDFNumeric* own = PDFAsNumeric(dict->GetValue("Count", true));
    int64_t d = 1;
    if (own && std::isfinite(own->GetValue()) && own->GetValue() > 0 && own->GetValue() < 1e9)
      d = own->AsInteger() + 1;
    adjustCounts(parent, -d);
  }
  return true;
}

TPDFDictionary* TPDFDocument::GetNamesTree(std::string_view name) {
  TPDFDictionary* catalog = PDFAsDictionary(trailer_->GetValue("Root", true));
  TPDFDictionary* names = catalog ? PDFAsDictionary(catalog->GetValue("Names", true)) : nullptr;
  return names ? PDFAsDictionary(names->GetValue(name, true)) : nullptr;
}

TPDFObject* TPDFDocument::FindNamedDestination(std::string_view name) {
  TPDFDictionary* catalog = PDFAsDictionary(trailer_->GetValue("Root", true));
  if (!catalog) return nullptr;
  if (TPDFDictionary* dests = PDFAsDictionary(catalog->GetValue("Dests", true))) {
    if (TPDFObject* value = dests->GetValue(name, true)) return value;
  }
  if (TPDFDictionary* tree = GetNamesTree("Dests")) return PDFResolve(NameTreeLookup(tree, name));
  return nullptr;
}

int32_t TPDFDocument::CountPagesBefore(TPDFIndRef* page) {
  TPDFDictionary* node = dictOf(page);
  if (!node) return 0;
  int64_t before = 0;
  std::string nodeText = page->WriteText();
  std::unordered_set<const TPDFObject*> seen;
  seen.insert(node);
  for (int32_t steps = 0; steps < kMaxOutlineDepth; ++steps) {
    TPDFIndRef* parentRef = PDFAsIndRef(node->GetValue("Parent"));
    TPDFDictionary* parent = PDFAsDictionary(node->GetValue("Parent", true));
    if (!parent || !seen.insert(parent).second) break;
    TPDFArray* kids = PDFAsArray(parent->GetValue("Kids", true));
    if (kids) {
      for (TPDFObject* kid : kids->Items()) {
        if (kid->WriteText() == nodeText) break;
        TPDFDictionary* kidDict = PDFAsDictionary(PDFResolve(kid));
        if (!kidDict) continue;
        const std::string type = kidDict->GetTypeName();
        if (type == "Pages") {
          before += std::max<int64_t>(0, kidDict->GetInteger("Count", 0));
        } else if (type == "Page") {
          ++before;
        }
      }
    }
    if (!parentRef) break;
    nodeText = parentRef->WriteText();
    node = parent;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(before, 0, std::numeric_limits<int32_t>::max()));
}
