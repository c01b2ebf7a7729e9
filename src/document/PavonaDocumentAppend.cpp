// Bringing pages of one loaded document into another: page copy (selected
// pages with everything they reach, renumbered) and document append (every
// object of the other document, shifted past this one's numbers, with its
// page tree hung under this root).
#include <algorithm>
#include <array>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "document/PavonaDocument.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaExtra.h"

namespace {

constexpr const char* kInheritedKeys[4] = {"MediaBox", "CropBox", "Rotate", "Resources"};

// The page's inheritable attributes (MediaBox, CropBox, Rotate, Resources)
// as the page sees them: its own, else the nearest Pages node's above it.
// A page without a media box gets Letter; the crop box defaults to the
// media box and the rotation to 0.
std::array<TPDFObject*, 4> inheritedAttributes(TPDFDictionary* page) {
  std::array<TPDFObject*, 4> found{nullptr, nullptr, nullptr, nullptr};
  std::unordered_set<const TPDFObject*> seen;
  TPDFDictionary* node = page;
  for (int depth = 0; node && depth < kMaxPageTreeDepth && seen.insert(node).second; ++depth) {
    for (size_t k = 0; k < 4; ++k)
      if (!found[k]) found[k] = node->GetValue(kInheritedKeys[k]);
    node = PDFAsDictionary(node->GetValue("Parent", true));
  }
  return found;
}

// The object numbers of the tree's pages by position (index 0 unused) in
// pageObjects; returns them with every Pages node above them.
std::unordered_set<int32_t> sourcePageTreeObjects(TPDFPageTree& from, std::vector<int32_t>& pageObjects) {
  const int32_t count = from.GetPageCount();
  pageObjects.assign(size_t(count) + 1, 0);
  std::unordered_set<int32_t> objects;
  for (int32_t i = 1; i <= count; ++i)
    if (TPDFIndRef* ref = from.GetPageRef(i)) {
      pageObjects[size_t(i)] = ref->GetRefNumber();
      objects.insert(ref->GetRefNumber());
      TPDFDictionary* page = from.FindPage(i);
      std::unordered_set<int32_t> nodes;
      TPDFObject* parent = page ? page->GetValue("Parent") : nullptr;
      for (int depth = 0; TPDFIndRef* p = PDFAsIndRef(parent); ++depth) {
        if (depth > kMaxPageTreeDepth || !nodes.insert(p->GetRefNumber()).second) break;
        objects.insert(p->GetRefNumber());
        TPDFDictionary* node = PDFAsDictionary(p->Resolve());
        parent = node ? node->GetValue("Parent") : nullptr;
      }
    }
  return objects;
}

// A copied page: the source page's entries but its parent, what it inherited
// made its own, and the media box, rotation and resources it must have.
template <class TCopy>
void fillCopiedPage(TPDFStructure& pool, TPDFDictionary* page, TPDFDictionary* sourcePage, TCopy& copyValue) {
  if (sourcePage) {
    for (const TPDFDictEntry& e : sourcePage->Entries()) {
      if (e.key->GetValue() == "Parent") continue;
      page->SetValue(e.key->GetValue(), copyValue(e.value, 0));
    }
    const std::array<TPDFObject*, 4> found = inheritedAttributes(sourcePage);
    for (size_t a = 0; a < 4; ++a)
      if (!page->GetValue(kInheritedKeys[a]) && found[a]) page->SetValue(kInheritedKeys[a], copyValue(found[a], 0));
  }
  if (!PDFAsArray(PDFResolve(page->GetValue("MediaBox")))) page->SetValue("MediaBox", pool.ParseObject("[ 0 0 612 792 ]"));
  if (!page->GetValue("Rotate")) page->SetValue("Rotate", pool.NewNumeric(0));
  if (!page->GetValue("Resources")) page->SetValue("Resources", pool.NewDictionary());
  page->SetValue("Type", pool.KeyName("Page"));
}

bool isBlankPage(TPDFDictionary* page) {
  TPDFObject* contents = page->GetValue("Contents", true);
  if (!contents) return true;
  std::vector<TPDFObject*> parts;
  if (TPDFArray* a = PDFAsArray(contents)) parts = a->Items();
  else parts.push_back(contents);
  for (TPDFObject* part : parts) {
    TPDFStream* s = PDFAsStream(PDFResolve(part));
    if (!s) continue;
    const std::string data = s->GetDecodedData();
    if (data.find_first_not_of(" \t\r\n\f") != std::string::npos) return false;
  }
  return true;
}

// A structural copy of obj into pool: arrays, dictionaries and streams
// rebuilt item by item, references through mapRef, anything nested deeper
// than kMaxObjectDepth as null.
template <class MapRef>
TPDFObject* copyStructure(TPDFStructure& pool, TPDFObject* obj, int depth, MapRef& mapRef) {
  if (!obj || depth > kMaxObjectDepth) return pool.NewNull();
  switch (obj->GetKind()) {
    case 'I':
      return mapRef(obj->AsIndRef()->GetRefNumber());
    case 'A': {
      TPDFArray* out = pool.NewArray();
      for (TPDFObject* item : obj->AsArray()->Items()) out->Add(copyStructure(pool, item, depth + 1, mapRef));
      return out;
    }
    case 'D': {
      TPDFDictionary* out = pool.NewDictionary();
      for (const TPDFDictEntry& e : obj->AsDictionary()->Entries())
        out->SetValue(e.key->GetValue(), copyStructure(pool, e.value, depth + 1, mapRef));
      return out;
    }
    case 'S': {
      TPDFStream* s = obj->AsStream();
      TPDFDictionary* dict =
          s->GetDictionary() ? PDFAsDictionary(copyStructure(pool, s->GetDictionary(), depth + 1, mapRef)) : nullptr;
      return pool.NewStreamWith(s->GetData(), dict);
    }
    case 'n':
      // By value: a copy through text would keep only the pool's decimals.
      return pool.NewNumeric(obj->AsNumeric()->GetValue());
    case 's':
      return pool.NewString(obj->AsString()->GetValue(), obj->AsString()->GetMode());
    case 'B':
      return pool.NewBoolean(obj->AsBoolean()->GetValue());
    case 'N':
      return pool.NewName(obj->AsName()->GetValue());
    default:
      return pool.NewNull();
  }
}

// A page object listed more than once in the tree is a page at every listing
// (as viewers show it): each listing after the first gets a copy of the page
// of its own, whose parent is the node that lists it, so that a saved file
// has one parent per page. Every node's Count becomes the number of pages
// below it. Nodes are visited once and the depth is capped.
void separateRepeatedPages(TPDFDocument& doc, TPDFDictionary* root) {
  TPDFStructure& pool = doc.GetPool();
  std::unordered_set<const TPDFObject*> nodes{root};
  std::unordered_set<int32_t> pages;
  auto isNode = [](TPDFDictionary* d) {
    const std::string type = d->GetNameValue("Type");
    return type == "Pages" || (type != "Page" && d->GetValue("Kids"));
  };
  auto walk = [&](auto&& self, TPDFDictionary* node, int depth) -> int64_t {
    int64_t below = 0;
    TPDFArray* kids = depth <= kMaxPageTreeDepth ? PDFAsArray(node->GetValue("Kids", true)) : nullptr;
    for (int32_t i = 0; kids && i < kids->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
      TPDFDictionary* kid = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
      if (!kid) continue;
      if (isNode(kid)) {
        if (nodes.insert(kid).second) below += self(self, kid, depth + 1);
        continue;
      }
      ++below;
      if (pages.insert(ref->GetRefNumber()).second || node->GetObjectNumber() <= 0) continue;
      TPDFDictionary* copy = PDFAsDictionary(SmartCopyObject(kid, &pool));
      copy->SetValue("Parent", pool.NewIndRef(node->GetObjectNumber(), node->GetGeneration()));
      TPDFIndRef* copyRef = doc.AddIndirectRef(copy);
      kids->ReplaceItem(i, pool.NewIndRef(copyRef->GetRefNumber(), copyRef->GetRefGeneration()));
      pages.insert(copyRef->GetRefNumber());
    }
    TPDFNumeric* count = PDFAsNumeric(node->GetValue("Count", true));
    if (!count || count->GetValue() != double(below)) node->SetValue("Count", pool.NewNumeric(double(below)));
    return below;
  };
  walk(walk, root, 0);
}

// Top-level fields of an appended form whose names the form appended to has
// too get a number added ("name+1"), so that the two fields stay apart and
// each keeps its value. otherFields holds the appended form's references
// before the shift by t.
void renameClashingFields(TPDFDocument& doc, TPDFArray* fields, TPDFArray* otherFields, int32_t t) {
  if (!fields || !otherFields) return;
  auto nameOf = [](TPDFObject* item) -> TPDFString* {
    TPDFDictionary* field = PDFAsDictionary(PDFResolve(item));
    return field ? PDFAsString(field->GetValue("T", true)) : nullptr;
  };
  std::unordered_set<std::string> own, taken;
  for (TPDFObject* item : fields->Items())
    if (TPDFString* name = nameOf(item)) own.insert(name->GetValue());
  std::vector<TPDFDictionary*> theirs;
  for (TPDFObject* item : otherFields->Items()) {
    TPDFIndRef* ref = PDFAsIndRef(item);
    TPDFDictionary* field = ref ? PDFAsDictionary(doc.LookupObject(ref->GetRefNumber() + t)) : nullptr;
    TPDFString* name = field ? PDFAsString(field->GetValue("T", true)) : nullptr;
    if (!name) continue;
    taken.insert(name->GetValue());
    if (own.count(name->GetValue())) theirs.push_back(field);
  }
  taken.insert(own.begin(), own.end());
  for (TPDFDictionary* field : theirs) {
    const std::string name = PDFAsString(field->GetValue("T", true))->GetValue();
    // A text string in UTF-16 gets its suffix in UTF-16 too.
    const bool wide = name.size() >= 2 && name[0] == '\xFE' && name[1] == '\xFF';
    std::string renamed;
    for (int k = 1; renamed.empty() || taken.count(renamed); ++k) {
      renamed = name;
      for (char c : "+" + std::to_string(k)) {
        if (wide) renamed += '\0';
        renamed += c;
      }
    }
    taken.insert(renamed);
    field->SetValue("T", doc.GetPool().NewString(renamed, psmLiteral));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Private helper: the inheritable attributes of every page made explicit

void TPDFDocument::copyInheritedAttributes(TPDFPageTree* tree) {
  const int32_t count = tree->GetPageCount();
  for (int32_t i = 1; i <= count; ++i) {
    TPDFDictionary* page = tree->FindPage(i);
    if (!page) continue;
    const std::array<TPDFObject*, 4> found = inheritedAttributes(page);
    TPDFStructure* pool = page->GetOwner();
    if (!PDFAsArray(PDFResolve(page->GetValue("MediaBox"))))
      page->SetValue("MediaBox", found[0] && PDFAsArray(PDFResolve(found[0]))
                                     ? SmartCopyObject(PDFResolve(found[0]), pool)
                                     : pool->ParseObject("[ 0 0 612 792 ]"));
    if (!page->GetValue("CropBox") && found[1] && PDFAsArray(PDFResolve(found[1])))
      page->SetValue("CropBox", SmartCopyObject(PDFResolve(found[1]), pool));
    if (!page->GetValue("Rotate"))
      page->SetValue("Rotate", found[2] && PDFAsNumeric(PDFResolve(found[2]))
                                   ? pool->NewNumeric(PDFAsNumeric(PDFResolve(found[2]))->GetValue())
                                   : pool->NewNumeric(0));
    if (!page->GetValue("Resources"))
      page->SetValue("Resources", found[3] ? SmartCopyObject(found[3], pool) : pool->NewDictionary());
  }
}

// ---------------------------------------------------------------------------
// Page copy

bool TPDFDocument::CopyPagesFrom(TPDFDocument& source, std::string_view rangeText) {
  TPDFPageTree* from = source.GetPageTree();
  TPDFPageTree* to = pageTree_.get();
  TPDFDictionary* targetRoot = GetPages();
  TPDFIndRef* targetRootRef = PDFAsIndRef(GetRoot()->GetValue("Pages"));
  if (!from || !to || !targetRoot || !targetRootRef) return false;
  const int32_t sourceCount = from->GetPageCount();
  std::vector<int32_t> pages;
  TPageRangeOptions options;
  options.acceptRepeats = true;
  if (sourceCount < 1 || !ParsePageRanges(rangeText, 1, sourceCount, pages, options) || pages.empty()) return false;

  // Neither an unselected page nor the source tree itself is ever copied
  // through a reference.
  std::vector<int32_t> pageObjects;
  std::unordered_set<int32_t> excluded = sourcePageTreeObjects(*from, pageObjects);
  if (TPDFIndRef* sourceRoot = PDFAsIndRef(source.GetRoot()->GetValue("Pages"))) excluded.insert(sourceRoot->GetRefNumber());

  const int32_t before = to->GetPageCount();
  TPDFDictionary* replacedBlank = before == 1 ? to->FindPage(1) : nullptr;
  if (replacedBlank && !isBlankPage(replacedBlank)) replacedBlank = nullptr;

  // Source number -> target number. Selected pages first (a page named twice
  // maps to its first copy), so that links between copied pages follow.
  std::unordered_map<int32_t, int32_t> mapping;
  std::vector<TPDFDictionary*> newPages;
  for (int32_t p : pages) {
    TPDFDictionary* page = NewIndirectDictionary();
    newPages.push_back(page);
    const int32_t sourceNumber = pageObjects[size_t(p)];
    if (sourceNumber > 0) mapping.emplace(sourceNumber, page->GetObjectNumber());
  }
  for (auto& [sourceNumber, targetNumber] : mapping) excluded.erase(sourceNumber);

  // Objects reached are reserved when first met and filled from a work list,
  // so that a long chain of references never deepens the recursion.
  std::deque<std::pair<int32_t, int32_t>> work;
  auto mapRef = [&](int32_t n) -> TPDFObject* {
    if (auto it = mapping.find(n); it != mapping.end()) return pool_->NewIndRef(it->second, 0);
    // A page that is not copied (or the source's page tree) is no
    // destination in the target: the reference becomes null.
    if (excluded.count(n)) return pool_->NewNull();
    TPDFObject* target = source.LookupObject(n);
    if (!target || PDFIsKind(target, '0')) return pool_->NewNull();
    TPDFIndObj* record = AddObject(pool_->NewNull());
    mapping.emplace(n, record->Number);
    work.emplace_back(n, record->Number);
    return pool_->NewIndRef(record->Number, 0);
  };
  auto copyValue = [&](TPDFObject* obj, int depth) { return copyStructure(*pool_, obj, depth, mapRef); };

  auto drain = [&]() {
    while (!work.empty()) {
      const auto [sourceNumber, targetNumber] = work.front();
      work.pop_front();
      TPDFObject* copy = copyValue(source.LookupObject(sourceNumber), 0);
      if (TPDFIndObj* record = FindObject(targetNumber)) {
        copy->SetIndirect(targetNumber, 0);
        record->Object = copy;
      }
    }
  };

  TPDFArray* kids = PDFAsArray(targetRoot->GetValue("Kids", true));
  if (!kids) {
    kids = pool_->NewArray();
    targetRoot->SetValue("Kids", kids);
  }
  for (size_t k = 0; k < pages.size(); ++k) {
    TPDFDictionary* page = newPages[k];
    fillCopiedPage(*pool_, page, from->FindPage(pages[k]), copyValue);
    page->SetValue("Parent", pool_->NewIndRef(targetRootRef->GetRefNumber(), targetRootRef->GetRefGeneration()));
    kids->Add(pool_->NewIndRef(page->GetObjectNumber(), 0));
    drain();
  }

  // The form of the source comes along (its entries replace the target's).
  TPDFDictionary* sourceForm = PDFAsDictionary(source.GetRoot()->GetValue("AcroForm", true));
  if (sourceForm) {
    TPDFDictionary* form = PDFAsDictionary(GetRoot()->GetValue("AcroForm", true));
    if (!form) {
      form = NewIndirectDictionary();
      GetRoot()->SetValue("AcroForm", pool_->NewIndRef(form->GetObjectNumber(), 0));
    }
    for (const TPDFDictEntry& e : sourceForm->Entries()) form->SetValue(e.key->GetValue(), copyValue(e.value, 0));
    drain();
  }

  // The one empty page of a new document gives way to the copies.
  int32_t count = before + static_cast<int32_t>(pages.size());
  if (replacedBlank && kids->GetCount() > 0) {
    if (TPDFIndRef* first = PDFAsIndRef(kids->GetItem(0)); first && PDFAsDictionary(first->Resolve()) == replacedBlank) {
      kids->Delete(0);
      --count;
    }
  }
  targetRoot->SetValue("Count", pool_->NewNumeric(count));
  separateRepeatedPages(*this, targetRoot);
  newPageTree(targetRoot);
  if (pageTree_->GetPageCount() > 0) pageTree_->SelectPage(1);
  return true;
}

// ---------------------------------------------------------------------------
// Document append

int32_t TPDFDocument::AppendDocument(TPDFDocument& other) {
  TPDFDictionary* root = GetPages();
  TPDFIndRef* rootRef = PDFAsIndRef(GetRoot()->GetValue("Pages"));
  TPDFIndRef* otherRootRef = PDFAsIndRef(other.GetRoot()->GetValue("Pages"));
  if (!root || !rootRef || !otherRootRef || !other.GetPageTree()) return 0;

  TPDFDictionary* otherForm = PDFAsDictionary(other.GetRoot()->GetValue("AcroForm", true));
  TPDFDictionary* form = PDFAsDictionary(GetRoot()->GetValue("AcroForm", true));
  const bool hadForm = form != nullptr;
  if (!form && otherForm) {
    form = NewIndirectDictionary();
    form->SetValue("Fields", pool_->NewArray());
    TPDFBoolean* need = PDFAsBoolean(otherForm->GetValue("NeedAppearances", true));
    form->SetValue("NeedAppearances", pool_->NewBoolean(need && need->GetValue()));
    GetRoot()->SetValue("AcroForm", pool_->NewIndRef(form->GetObjectNumber(), 0));
  }

  const int32_t t = highestNumber_;
  // The other pages keep what they inherited from their own tree.
  other.copyInheritedAttributes(other.GetPageTree());
  const int32_t c = other.GetPageTree()->GetPageCount();
  const int32_t otherHighest = other.GetHighestNumber();

  // A structural copy with every reference shifted by t and generation 0.
  auto shifted = [&](int32_t n) -> TPDFObject* { return pool_->NewIndRef(n + t, 0); };
  auto clone = [&](TPDFObject* obj, int depth) { return copyStructure(*pool_, obj, depth, shifted); };

  for (int32_t k = 1; k <= otherHighest; ++k) {
    TPDFObject* obj = nullptr;
    try {
      obj = other.LookupObject(k);
    } catch (const std::exception&) {
      obj = nullptr;
    }
    // Containers of the other file's structure are not objects of ours.
    if (TPDFStream* s = PDFAsStream(obj))
      if (s->GetDictionary() && (s->GetDictionary()->GetNameValue("Type") == "ObjStm" ||
                                 s->GetDictionary()->GetNameValue("Type") == "XRef"))
        obj = nullptr;
    TPDFObject* copy = obj ? clone(obj, 0) : pool_->NewNull();
    TPDFIndObj* record = AddObject(copy);
    if (record->Number != t + k) throw EPDFDocumentError("Object numbers of an appended document are out of step");
  }

  if (hadForm && otherForm) {
    auto append = [&](std::string_view key) {
      TPDFArray* from = PDFAsArray(otherForm->GetValue(key, true));
      if (!from) return;
      TPDFArray* into = PDFAsArray(form->GetValue(key, true));
      if (!into) {
        into = pool_->NewArray();
        form->SetValue(key, into);
      }
      for (TPDFObject* item : from->Items())
        if (TPDFIndRef* ref = PDFAsIndRef(item)) into->Add(pool_->NewIndRef(ref->GetRefNumber() + t, 0));
    };
    renameClashingFields(*this, PDFAsArray(form->GetValue("Fields", true)),
                         PDFAsArray(otherForm->GetValue("Fields", true)), t);
    append("Fields");
    append("CO");
    TPDFDictionary* otherDR = PDFAsDictionary(otherForm->GetValue("DR", true));
    TPDFDictionary* otherFonts = otherDR ? PDFAsDictionary(otherDR->GetValue("Font", true)) : nullptr;
    if (otherFonts) {
      TPDFDictionary* dr = PDFAsDictionary(form->GetValue("DR", true));
      if (!dr) {
        dr = pool_->NewDictionary();
        form->SetValue("DR", dr);
      }
      TPDFDictionary* fonts = PDFAsDictionary(dr->GetValue("Font", true));
      if (!fonts) {
        fonts = pool_->NewDictionary();
        dr->SetValue("Font", fonts);
      }
      // Names this form already uses keep their fonts (its fields refer to them).
      for (const TPDFDictEntry& e : otherFonts->Entries())
        if (!fonts->GetValue(e.key->GetValue())) fonts->SetValue(e.key->GetValue(), clone(e.value, 0));
    }
  } else if (otherForm && form) {
    // The new form takes the other's fields and resources as they are.
    for (const TPDFDictEntry& e : otherForm->Entries())
      if (e.key->GetValue() != "NeedAppearances") form->SetValue(e.key->GetValue(), clone(e.value, 0));
  }

  const int32_t own = pageTree_ ? pageTree_->GetPageCount() : 0;
  const int32_t hung = otherRootRef->GetRefNumber() + t;
  if (TPDFDictionary* hungRoot = PDFAsDictionary(LookupObject(hung))) {
    hungRoot->SetValue("Parent", pool_->NewIndRef(rootRef->GetRefNumber(), rootRef->GetRefGeneration()));
    hungRoot->SetValue("Type", pool_->KeyName("Pages"));
  }
  TPDFArray* kids = PDFAsArray(root->GetValue("Kids", true));
  if (!kids) {
    kids = pool_->NewArray();
    root->SetValue("Kids", kids);
  }
  kids->Add(pool_->NewIndRef(hung, 0));
  root->SetValue("Count", pool_->NewNumeric(own + c));
  separateRepeatedPages(*this, root);
  const int32_t selected = pageTree_ ? pageTree_->GetSelectedPageNumber() : 0;
  newPageTree(root);
  if (pageTree_->GetPageCount() > 0) pageTree_->SelectPage(selected >= 1 ? selected : 1);
  return 1;
}
