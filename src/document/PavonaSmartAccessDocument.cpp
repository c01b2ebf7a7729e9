// The page-tree and object view of a direct-access file: what merging and
// splitting change (page tree, form, outlines, named destinations) is kept
// as replaced objects in the document's own pool; everything else is read
// from the file when it is written.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <unordered_set>

#include "document/PavonaDocument.h"
#include "document/PavonaSmartAccess.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaPageTree.h"
#include "render/PavonaExtractor.h"
#include "render/PavonaFontCollection.h"
#include "render/PavonaRenderer.h"
#include "render/PavonaTextFunnel.h"

namespace {

constexpr const char* kInheritedKeys[4] = {"MediaBox", "CropBox", "Rotate", "Resources"};

bool isPagesNode(TPDFDictionary* dict) {
  if (!dict) return false;
  const std::string type = dict->GetNameValue("Type");
  if (type == "Pages") return true;
  if (type == "Page") return false;
  return PDFAsArray(dict->GetValue("Kids")) != nullptr || PDFAsIndRef(dict->GetValue("Kids")) != nullptr;
}

}  // namespace

TSmartPDFDocument::TSmartPDFDocument(TSmartPDFReader& reader)
    : reader_(reader), pool_(std::make_unique<TPDFStructure>()) {
  pool_->SetPrecision(kExactNumberDigits);
  pool_->OnLookupObject = [this](TPDFIndRef*, int32_t number, int32_t) { return GetObject(number, nullptr); };
  if (TPDFIndRef* root = reader_.GetTrailerRef("Root")) catalogNumber_ = root->GetRefNumber();
  if (TPDFIndRef* info = reader_.GetTrailerRef("Info")) infoNumber_ = info->GetRefNumber();
  TPDFDictionary* catalog = dictOf(catalogNumber_);
  if (!catalog) return;
  if (TPDFIndRef* pages = PDFAsIndRef(catalog->GetValue("Pages"))) {
    rootNumber_ = pages->GetRefNumber();
  } else if (PDFAsDictionary(catalog->GetValue("Pages"))) {
    // A direct page tree root cannot be a parent: it becomes an object.
    TPDFDictionary* own = editableDict(catalogNumber_);
    rootNumber_ = addNew(copyIn(own->GetValue("Pages"), pool_.get()));
    own->SetValue("Pages", pool_->NewIndRef(rootNumber_, 0));
  }
  TPDFObject* form = catalog->GetValue("AcroForm");
  if (TPDFIndRef* ref = PDFAsIndRef(form)) {
    if (PDFAsDictionary(GetObject(ref->GetRefNumber(), nullptr))) acroFormNumber_ = ref->GetRefNumber();
  } else if (PDFAsDictionary(form)) {
    TPDFDictionary* own = editableDict(catalogNumber_);
    acroFormNumber_ = addNew(copyIn(own->GetValue("AcroForm"), pool_.get()));
    own->SetValue("AcroForm", pool_->NewIndRef(acroFormNumber_, 0));
  }
  separateRepeatedPages();
}

TSmartPDFDocument::~TSmartPDFDocument() = default;

// ---------------------------------------------------------------------------
// Objects

TPDFObject* TSmartPDFDocument::GetObject(int32_t number, TPDFStructure* pool) {
  auto it = std::lower_bound(replaced_.begin(), replaced_.end(), number,
                             [](const auto& entry, int32_t n) { return entry.first < n; });
  if (it != replaced_.end() && it->first == number) {
    if (!pool) return it->second;
    return copyIn(it->second, pool);
  }
  return reader_.GetObject(number, pool);
}

int32_t TSmartPDFDocument::GetMaxObjectNumber() const {
  return std::max(reader_.GetMaxObjectNumber(), maxReplaced_);
}

TPDFObject* TSmartPDFDocument::resolve(TPDFObject* obj) {
  if (TPDFIndRef* ref = PDFAsIndRef(obj)) return GetObject(ref->GetRefNumber(), nullptr);
  return obj;
}

TPDFDictionary* TSmartPDFDocument::dictOf(int32_t number) {
  return number > 0 ? PDFAsDictionary(GetObject(number, nullptr)) : nullptr;
}

// A copy of a value in pool (through its text), references shifted.
TPDFObject* TSmartPDFDocument::copyIn(TPDFObject* obj, TPDFStructure* pool, int32_t shift) {
  TPDFObject* copy = SmartCopyObject(obj, pool);
  if (shift) copy->ShiftObjectNumbers(shift);
  return copy;
}

TPDFObject* TSmartPDFDocument::editable(int32_t number) {
  if (number <= 0) return nullptr;
  auto it = std::lower_bound(replaced_.begin(), replaced_.end(), number,
                             [](const auto& entry, int32_t n) { return entry.first < n; });
  if (it != replaced_.end() && it->first == number) return it->second;
  TPDFObject* obj = reader_.ReadObject(number, pool_.get());
  if (!obj) return nullptr;
  replaced_.insert(it, {number, obj});
  maxReplaced_ = std::max(maxReplaced_, number);
  return obj;
}

TPDFDictionary* TSmartPDFDocument::editableDict(int32_t number) {
  return PDFAsDictionary(editable(number));
}

int32_t TSmartPDFDocument::addNew(TPDFObject* obj) {
  const int32_t number = GetMaxObjectNumber() + 1;
  replaced_.emplace_back(number, obj);
  maxReplaced_ = number;
  return number;
}

void TSmartPDFDocument::progress(int32_t percent) {
  if (OnProgress) OnProgress(std::clamp(percent, 0, 100));
}

// ---------------------------------------------------------------------------
// Page tree

// A page object listed more than once in the tree is a page at every
// listing (as viewers show it): each listing after the first gets a copy of
// the page of its own, whose parent is the node that lists it, so that what
// is written has one parent per page. A listed page whose dictionary lost its
// Type or its Parent (damaged files, read by repair) gets both again, so that
// what is written from it is a page in every reader. Every node's Count
// becomes the number of pages below it. Nodes are visited once, as in
// walkPages.
void TSmartPDFDocument::separateRepeatedPages() {
  TPDFDictionary* root = dictOf(rootNumber_);
  if (!root) return;
  struct TRepeat {
    int32_t node;
    int32_t index;
    int32_t page;
  };
  std::vector<TRepeat> repeats, strays;
  std::vector<std::pair<int32_t, int64_t>> counts;  // node, pages below it
  std::unordered_set<int32_t> nodes{rootNumber_}, pages;
  auto walk = [&](auto&& self, int32_t number, TPDFDictionary* node, int depth) -> int64_t {
    int64_t below = 0;
    TPDFArray* kids = depth <= kMaxTreeDepth ? PDFAsArray(resolve(node->GetValue("Kids"))) : nullptr;
    for (int32_t i = 0; kids && i < kids->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
      TPDFDictionary* kid = ref ? dictOf(ref->GetRefNumber()) : nullptr;
      if (!kid) continue;
      const int32_t n = ref->GetRefNumber();
      if (isPagesNode(kid)) {
        if (nodes.insert(n).second) below += self(self, n, kid, depth + 1);
        continue;
      }
      if (!pages.insert(n).second) {
        repeats.push_back({number, i, n});
      } else {
        TPDFIndRef* parent = PDFAsIndRef(kid->GetValue("Parent"));
        if (!kid->GetValue("Type") || !parent || parent->GetRefNumber() != number) strays.push_back({number, i, n});
      }
      ++below;
    }
    counts.emplace_back(number, below);
    return below;
  };
  walk(walk, rootNumber_, root, 0);
  // Before the copies are made, so that they are copies of mended pages.
  // (A dictionary of another kind listed as a kid keeps its Type; the
  // catalogue and the root are never made pages.)
  for (const TRepeat& r : strays) {
    TPDFDictionary* page = r.page == catalogNumber_ || r.page == rootNumber_ ? nullptr : editableDict(r.page);
    if (!page) continue;
    if (!page->GetValue("Type")) page->SetValue("Type", pool_->NewName("Page"));
    page->SetValue("Parent", pool_->NewIndRef(r.node, GetGeneration(r.node)));
  }
  for (const TRepeat& r : repeats) {
    TPDFDictionary* node = editableDict(r.node);
    if (!node) continue;
    TPDFArray* kids = nullptr;
    if (TPDFIndRef* ref = PDFAsIndRef(node->GetValue("Kids")))
      kids = PDFAsArray(editable(ref->GetRefNumber()));
    else
      kids = PDFAsArray(node->GetValue("Kids"));
    TPDFDictionary* page = PDFAsDictionary(GetObject(r.page, pool_.get()));
    if (!kids || !page || r.index >= kids->GetCount()) continue;
    page->SetValue("Parent", pool_->NewIndRef(r.node, GetGeneration(r.node)));
    kids->ReplaceItem(r.index, pool_->NewIndRef(addNew(page), 0));
  }
  for (const auto& [number, below] : counts) {
    TPDFDictionary* node = dictOf(number);
    TPDFNumeric* count = node ? PDFAsNumeric(resolve(node->GetValue("Count"))) : nullptr;
    if (node && (!count || count->GetValue() != double(below)))
      editableDict(number)->SetValue("Count", pool_->NewNumeric(double(below)));
  }
  pagesKnown_ = false;
}

// Walks the tree in page order with the attributes inherited from the
// nodes above each page. Every node is visited once (a Kids entry that leads
// back to a node already seen is skipped) and the depth is capped.
void TSmartPDFDocument::walkPages(
    const std::function<void(const TPageEntry&, TPDFDictionary*, TPDFObject* const[4])>& visit) {
  TPDFDictionary* root = dictOf(rootNumber_);
  if (!root) return;
  std::unordered_set<int32_t> seen{rootNumber_};
  auto walk = [&](auto&& self, TPDFDictionary* node, std::array<TPDFObject*, 4> inherited, int depth) -> void {
    if (depth > kMaxTreeDepth) return;
    for (int k = 0; k < 4; ++k)
      if (TPDFObject* v = node->GetValue(kInheritedKeys[k])) inherited[size_t(k)] = v;
    TPDFArray* kids = PDFAsArray(resolve(node->GetValue("Kids")));
    if (!kids) return;
    for (int32_t i = 0; i < kids->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
      if (!ref || !seen.insert(ref->GetRefNumber()).second) continue;
      TPDFDictionary* kid = dictOf(ref->GetRefNumber());
      if (!kid) continue;
      if (isPagesNode(kid)) {
        self(self, kid, inherited, depth + 1);
      } else {
        TPageEntry entry{ref->GetRefNumber(), ref->GetRefGeneration()};
        visit(entry, kid, inherited.data());
      }
    }
  };
  walk(walk, root, {nullptr, nullptr, nullptr, nullptr}, 0);
}

const std::vector<TSmartPDFDocument::TPageEntry>& TSmartPDFDocument::pageList() {
  if (!pagesKnown_) {
    pages_.clear();
    walkPages([&](const TPageEntry& e, TPDFDictionary*, TPDFObject* const*) { pages_.push_back(e); });
    pagesKnown_ = true;
  }
  return pages_;
}

int32_t TSmartPDFDocument::GetPageCount() {
  return static_cast<int32_t>(pageList().size());
}

TPDFIndRef* TSmartPDFDocument::FindPage(int32_t n) {
  const auto& pages = pageList();
  if (n < 1 || size_t(n) > pages.size()) return nullptr;
  return pool_->NewIndRef(pages[size_t(n - 1)].number, pages[size_t(n - 1)].generation);
}

void TSmartPDFDocument::pushDown(const std::vector<bool>* only) {
  // What each page receives: a value of the file (copied structurally, so
  // numbers keep every digit) or a default given as text.
  struct TAdd {
    TPDFObject* value = nullptr;
    const char* text = nullptr;
  };
  int32_t index = 0;
  std::vector<std::pair<TPageEntry, std::array<TAdd, 4>>> changes;
  walkPages([&](const TPageEntry& e, TPDFDictionary* page, TPDFObject* const inherited[4]) {
    const int32_t n = index++;
    if (only && (size_t(n) >= only->size() || !(*only)[size_t(n)])) return;
    std::array<TAdd, 4> add;
    bool any = false;
    TPDFArray* media = PDFAsArray(resolve(page->GetValue("MediaBox")));
    if (!media) {
      media = PDFAsArray(resolve(inherited[0]));
      add[0] = media ? TAdd{media, nullptr} : TAdd{nullptr, "[ 0 0 612 792 ]"};
      any = true;
    }
    if (!page->GetValue("CropBox")) {
      TPDFArray* from = PDFAsArray(resolve(inherited[1]));
      add[1] = from ? TAdd{from, nullptr} : media ? TAdd{media, nullptr} : TAdd{nullptr, "[ 0 0 612 792 ]"};
      any = true;
    }
    if (!page->GetValue("Rotate")) {
      TPDFNumeric* from = PDFAsNumeric(resolve(inherited[2]));
      add[2] = from ? TAdd{from, nullptr} : TAdd{nullptr, "0"};
      any = true;
    }
    if (!page->GetValue("Resources")) {
      // A reference stays a reference: the resources are shared, not copied.
      add[3] = inherited[3] ? TAdd{inherited[3], nullptr} : TAdd{nullptr, "<< >>"};
      any = true;
    }
    if (any) changes.push_back({e, add});
  });
  // The values read during the walk stay alive: the reader's pool keeps
  // every object it parsed until the reader goes.
  for (auto& [entry, add] : changes) {
    TPDFDictionary* page = editableDict(entry.number);
    if (!page) continue;
    for (int k = 0; k < 4; ++k) {
      const TAdd& a = add[size_t(k)];
      if (a.value) page->SetValue(kInheritedKeys[k], copyIn(a.value, pool_.get()));
      else if (a.text) page->SetValue(kInheritedKeys[k], pool_->ParseObject(a.text));
    }
  }
}

void TSmartPDFDocument::PushDownPageAttributes() {
  pushDown(nullptr);
}

void TSmartPDFDocument::SetPagesParent(int32_t number, int32_t generation) {
  TPDFDictionary* root = editableDict(rootNumber_);
  if (!root) return;
  root->SetValue("Parent", pool_->NewIndRef(number, generation));
  if (root->GetNameValue("Type") != "Pages") root->SetValue("Type", pool_->NewName("Pages"));
}

void TSmartPDFDocument::AppendPageTree(int32_t number, int32_t generation, int32_t pageCount) {
  const int32_t own = GetPageCount();
  TPDFDictionary* root = editableDict(rootNumber_);
  if (!root) return;
  TPDFArray* kids = nullptr;
  if (TPDFIndRef* ref = PDFAsIndRef(root->GetValue("Kids"))) kids = PDFAsArray(editable(ref->GetRefNumber()));
  else kids = PDFAsArray(root->GetValue("Kids"));
  if (!kids) {
    kids = pool_->NewArray();
    root->SetValue("Kids", kids);
  }
  kids->Add(pool_->NewIndRef(number, generation));
  root->SetValue("Count", pool_->NewNumeric(own + pageCount));
  pagesKnown_ = false;
}

void TSmartPDFDocument::SelectPages(const std::vector<int32_t>& pages) {
  used_.clear();
  excludedPages_.clear();
  const auto& all = pageList();
  std::vector<bool> selected(all.size(), false);
  std::vector<TPageEntry> chosen;
  for (int32_t p : pages) {
    if (p < 1 || size_t(p) > all.size() || selected[size_t(p - 1)]) continue;
    selected[size_t(p - 1)] = true;
    chosen.push_back(all[size_t(p - 1)]);
  }
  for (size_t i = 0; i < all.size(); ++i)
    if (!selected[i]) excludedPages_.push_back(all[i].number);
  std::sort(excludedPages_.begin(), excludedPages_.end());
  // The selected pages take what they inherited from every node above them
  // before they are hung directly under the root.
  pushDown(&selected);
  progress(11);
  editable(catalogNumber_);
  TPDFDictionary* root = editableDict(rootNumber_);
  if (!root) return;
  TPDFArray* kids = pool_->NewArray();
  for (size_t i = 0; i < chosen.size(); ++i) {
    kids->Add(pool_->NewIndRef(chosen[i].number, chosen[i].generation));
    if (TPDFDictionary* page = editableDict(chosen[i].number))
      page->SetValue("Parent", pool_->NewIndRef(rootNumber_, GetRootGeneration()));
    progress(11 + static_cast<int32_t>((i + 1) * 55 / chosen.size()));
  }
  root->SetValue("Kids", kids);
  root->SetValue("Count", pool_->NewNumeric(static_cast<double>(chosen.size())));
  pagesKnown_ = false;

  // Everything reachable from the catalog, then from the information
  // dictionary, in discovery order; pages left out stop the walk.
  std::unordered_set<int32_t> seen;
  auto scratch = std::make_unique<TPDFStructure>();
  int32_t read = 0;
  auto collect = [&](int32_t start) {
    std::vector<int32_t> stack{start};
    while (!stack.empty()) {
      const int32_t n = stack.back();
      stack.pop_back();
      if (n <= 0 || n > GetMaxObjectNumber() || !seen.insert(n).second) continue;
      if (std::binary_search(excludedPages_.begin(), excludedPages_.end(), n)) continue;
      TPDFObject* obj = GetObject(n, scratch.get());
      if (!obj) continue;
      used_.push_back(n);
      std::vector<int32_t> found;
      auto refs = [&](auto&& self, TPDFObject* o, int depth) -> void {
        if (!o || depth > kMaxObjectDepth) return;
        switch (o->GetKind()) {
          case 'I':
            found.push_back(o->AsIndRef()->GetRefNumber());
            break;
          case 'A':
            for (TPDFObject* item : o->AsArray()->Items()) self(self, item, depth + 1);
            break;
          case 'D':
            for (const TPDFDictEntry& e : o->AsDictionary()->Entries()) self(self, e.value, depth + 1);
            break;
          case 'S':
            self(self, o->AsStream()->GetDictionary(), depth + 1);
            break;
          default:
            break;
        }
      };
      refs(refs, obj, 0);
      // Reversed onto the stack so that the first reference is visited first.
      for (auto it = found.rbegin(); it != found.rend(); ++it) stack.push_back(*it);
      if (++read > 100) {
        scratch = std::make_unique<TPDFStructure>();
        read = 0;
      }
    }
  };
  collect(catalogNumber_);
  progress(88);
  collect(infoNumber_);
  progress(100);
}

int32_t TSmartPDFDocument::GetUsedObjectNumber(int32_t i) const {
  return i >= 1 && size_t(i) <= used_.size() ? used_[size_t(i - 1)] : 0;
}

void TSmartPDFDocument::DropExcludedPageRefs(TPDFObject* obj) const {
  if (excludedPages_.empty()) return;
  auto isExcluded = [&](TPDFObject* o) {
    TPDFIndRef* ref = PDFAsIndRef(o);
    return ref && std::binary_search(excludedPages_.begin(), excludedPages_.end(), ref->GetRefNumber());
  };
  auto walk = [&](auto&& self, TPDFObject* o, int depth) -> void {
    if (!o || depth > kMaxObjectDepth) return;
    TPDFStructure* pool = o->GetOwner();
    if (TPDFArray* a = PDFAsArray(o)) {
      for (int32_t i = 0; i < a->GetCount(); ++i) {
        if (isExcluded(a->GetItem(i))) a->ReplaceItem(i, pool->NewNull());
        else self(self, a->GetItem(i), depth + 1);
      }
    } else if (TPDFDictionary* d = PDFAsDictionary(o)) {
      for (int32_t i = 0; i < d->GetCount(); ++i) {
        TPDFDictEntry e = d->GetEntry(i);
        if (isExcluded(e.value)) d->SetValue(e.key->GetValue(), pool->NewNull());
        else self(self, e.value, depth + 1);
      }
    } else if (TPDFStream* s = PDFAsStream(o)) {
      self(self, s->GetDictionary(), depth + 1);
    }
  };
  walk(walk, obj, 0);
}

// ---------------------------------------------------------------------------
// Form

TPDFDictionary* TSmartPDFDocument::acroForm() {
  return acroFormNumber_ > 0 ? editableDict(acroFormNumber_) : nullptr;
}

void TSmartPDFDocument::CreateAcroForm() {
  if (HasAcroForm() || catalogNumber_ <= 0) return;
  TPDFDictionary* catalog = editableDict(catalogNumber_);
  if (!catalog) return;
  TPDFDictionary* form = pool_->NewDictionary();
  form->SetValue("Fields", pool_->NewArray());
  form->SetValue("CO", pool_->NewArray());
  form->SetValue("NeedAppearances", pool_->NewBoolean(false));
  acroFormNumber_ = addNew(form);
  catalog->SetValue("AcroForm", pool_->NewIndRef(acroFormNumber_, 0));
}

TPDFArray* TSmartPDFDocument::formArray(std::string_view key) {
  TPDFDictionary* form = acroForm();
  if (!form) return nullptr;
  TPDFObject* value = form->GetValue(key);
  if (TPDFIndRef* ref = PDFAsIndRef(value))
    if (TPDFArray* a = PDFAsArray(editable(ref->GetRefNumber()))) return a;
  if (TPDFArray* a = PDFAsArray(value)) return a;
  TPDFArray* a = pool_->NewArray();
  form->SetValue(key, a);
  return a;
}

TPDFArray* TSmartPDFDocument::GetFormFields() {
  return formArray("Fields");
}

TPDFArray* TSmartPDFDocument::GetFormCalcOrder() {
  return formArray("CO");
}

bool TSmartPDFDocument::GetNeedAppearances() {
  TPDFDictionary* form = acroFormNumber_ > 0 ? dictOf(acroFormNumber_) : nullptr;
  TPDFBoolean* b = form ? PDFAsBoolean(resolve(form->GetValue("NeedAppearances"))) : nullptr;
  return b && b->GetValue();
}

void TSmartPDFDocument::MergeFormFields(TPDFArray* otherFields, TPDFArray* otherCalcOrder, bool otherNeedAppearances,
                                        int32_t shift) {
  if (!acroForm()) return;
  auto append = [&](TPDFArray* to, TPDFArray* from) {
    if (!to || !from) return;
    for (TPDFObject* item : from->Items())
      if (TPDFIndRef* ref = PDFAsIndRef(item)) to->Add(pool_->NewIndRef(ref->GetRefNumber() + shift, ref->GetRefGeneration()));
  };
  append(GetFormFields(), otherFields);
  if (otherCalcOrder && otherCalcOrder->GetCount() > 0) append(GetFormCalcOrder(), otherCalcOrder);
  if (otherNeedAppearances) acroForm()->SetValue("NeedAppearances", pool_->NewBoolean(true));
}

void TSmartPDFDocument::RenameClashingFields(TSmartPDFDocument& other) {
  if (!HasAcroForm() || !other.HasAcroForm()) return;
  auto names = [](TSmartPDFDocument& doc, std::vector<std::pair<int32_t, std::string>>* list) {
    std::set<std::string> found;
    TPDFArray* fields = doc.GetFormFields();
    for (int32_t i = 0; fields && i < fields->GetCount(); ++i) {
      TPDFIndRef* ref = PDFAsIndRef(fields->GetItem(i));
      TPDFDictionary* field = ref ? doc.dictOf(ref->GetRefNumber()) : nullptr;
      TPDFString* name = field ? PDFAsString(doc.resolve(field->GetValue("T"))) : nullptr;
      if (!name) continue;
      found.insert(name->GetValue());
      if (list) list->emplace_back(ref->GetRefNumber(), name->GetValue());
    }
    return found;
  };
  std::set<std::string> taken = names(*this, nullptr);
  std::vector<std::pair<int32_t, std::string>> theirs;
  const std::set<std::string> otherNames = names(other, &theirs);
  taken.insert(otherNames.begin(), otherNames.end());
  std::set<std::string> own = names(*this, nullptr);
  for (const auto& [number, name] : theirs) {
    if (!own.count(name)) continue;
    // A text string in UTF-16 gets its suffix in UTF-16 too.
    const bool wide = name.size() >= 2 && name[0] == '\xFE' && name[1] == '\xFF';
    std::string renamed;
    for (int k = 1; renamed.empty() || taken.count(renamed); ++k) {
      const std::string suffix = "+" + std::to_string(k);
      renamed = name;
      for (char c : suffix) {
        if (wide) renamed += '\0';
        renamed += c;
      }
    }
    taken.insert(renamed);
    if (TPDFDictionary* field = other.editableDict(number))
      field->SetValue("T", other.pool_->NewString(renamed, psmLiteral));
  }
}

void TSmartPDFDocument::MergeFormResources(TSmartPDFDocument& other, int32_t shift) {
  TPDFDictionary* otherForm = other.acroFormNumber_ > 0 ? other.dictOf(other.acroFormNumber_) : nullptr;
  TPDFDictionary* otherDR = otherForm ? PDFAsDictionary(other.resolve(otherForm->GetValue("DR"))) : nullptr;
  TPDFDictionary* form = acroForm();
  if (!otherDR || !form) return;
  TPDFDictionary* dr = nullptr;
  if (TPDFIndRef* ref = PDFAsIndRef(form->GetValue("DR"))) dr = editableDict(ref->GetRefNumber());
  else dr = PDFAsDictionary(form->GetValue("DR"));
  if (!dr) {
    dr = pool_->NewDictionary();
    form->SetValue("DR", dr);
  }
  for (const TPDFDictEntry& group : otherDR->Entries()) {
    TPDFDictionary* from = PDFAsDictionary(other.resolve(group.value));
    if (!from) continue;
    const std::string key = group.key->GetValue();
    TPDFDictionary* to = nullptr;
    if (TPDFIndRef* ref = PDFAsIndRef(dr->GetValue(key))) to = editableDict(ref->GetRefNumber());
    else to = PDFAsDictionary(dr->GetValue(key));
    if (!to) {
      to = pool_->NewDictionary();
      dr->SetValue(key, to);
    }
    for (const TPDFDictEntry& e : from->Entries())
      if (!to->GetValue(e.key->GetValue())) to->SetValue(e.key->GetValue(), copyIn(e.value, pool_.get(), shift));
  }
}

void TSmartPDFDocument::MergeNamedDestinations(TSmartPDFDocument& other, int32_t shift) {
  TPDFDictionary* otherCatalog = other.dictOf(other.catalogNumber_);
  TPDFDictionary* catalog = dictOf(catalogNumber_);
  if (!otherCatalog || !catalog) return;
  // Catalog Dests: a dictionary of names.
  if (TPDFDictionary* from = PDFAsDictionary(other.resolve(otherCatalog->GetValue("Dests")))) {
    TPDFDictionary* own = editableDict(catalogNumber_);
    TPDFDictionary* to = nullptr;
    if (TPDFIndRef* ref = PDFAsIndRef(own->GetValue("Dests"))) to = editableDict(ref->GetRefNumber());
    else to = PDFAsDictionary(own->GetValue("Dests"));
    if (!to) {
      to = pool_->NewDictionary();
      own->SetValue("Dests", pool_->NewIndRef(addNew(to), 0));
    }
    for (const TPDFDictEntry& e : from->Entries())
      if (!to->GetValue(e.key->GetValue())) to->SetValue(e.key->GetValue(), copyIn(e.value, pool_.get(), shift));
  }
  mergeNameTree(other, shift, "Dests", false);
}

void TSmartPDFDocument::MergeEmbeddedFiles(TSmartPDFDocument& other, int32_t shift) {
  mergeNameTree(other, shift, "EmbeddedFiles", true);
}

// Both documents' pairs of the catalog's name tree key in one sorted leaf
// (values copied structurally, so numbers keep every digit; the other's
// references shifted). A name both trees hold keeps this document's value;
// with keepBoth the other's value stays too, under the name with " (2)",
// " (3)" ... added.
void TSmartPDFDocument::mergeNameTree(TSmartPDFDocument& other, int32_t shift, std::string_view key, bool keepBoth) {
  TPDFDictionary* otherCatalog = other.dictOf(other.catalogNumber_);
  TPDFDictionary* catalog = dictOf(catalogNumber_);
  if (!otherCatalog || !catalog) return;
  std::map<std::string, TPDFObject*> merged;
  auto collect = [&](TSmartPDFDocument& doc, TPDFDictionary* catalogDict, int32_t addShift, bool rename) {
    TPDFDictionary* names = PDFAsDictionary(doc.resolve(catalogDict->GetValue("Names")));
    TPDFDictionary* tree = names ? PDFAsDictionary(doc.resolve(names->GetValue(key))) : nullptr;
    if (!tree) return false;
    std::unordered_set<const TPDFObject*> seen;
    auto walk = [&](auto&& self, TPDFDictionary* node, int depth) -> void {
      if (!node || depth > kMaxTreeDepth || !seen.insert(node).second) return;
      if (TPDFArray* pairs = PDFAsArray(doc.resolve(node->GetValue("Names")))) {
        for (int32_t i = 0; i + 1 < pairs->GetCount(); i += 2) {
          TPDFString* name = PDFAsString(doc.resolve(pairs->GetItem(i)));
          if (!name) continue;
          std::string entry = name->GetValue();
          if (merged.count(entry)) {
            if (!rename) continue;
            for (int k = 2; merged.count(entry); ++k) entry = name->GetValue() + " (" + std::to_string(k) + ")";
          }
          merged[entry] = copyIn(pairs->GetItem(i + 1), pool_.get(), addShift);
        }
      }
      if (TPDFArray* kids = PDFAsArray(doc.resolve(node->GetValue("Kids"))))
        for (TPDFObject* kid : kids->Items()) self(self, PDFAsDictionary(doc.resolve(kid)), depth + 1);
    };
    walk(walk, tree, 0);
    return true;
  };
  collect(*this, catalog, 0, false);
  if (!collect(other, otherCatalog, shift, keepBoth)) return;
  TPDFDictionary* leaf = pool_->NewDictionary();
  TPDFArray* pairs = pool_->NewArray();
  for (const auto& [name, value] : merged) {
    pairs->Add(pool_->NewString(name, psmLiteral));
    pairs->Add(value);
  }
  leaf->SetValue("Names", pairs);
  const int32_t leafNumber = addNew(leaf);
  TPDFDictionary* own = editableDict(catalogNumber_);
  TPDFDictionary* names = nullptr;
  if (TPDFIndRef* ref = PDFAsIndRef(own->GetValue("Names"))) names = editableDict(ref->GetRefNumber());
  else names = PDFAsDictionary(own->GetValue("Names"));
  if (!names) {
    names = pool_->NewDictionary();
    own->SetValue("Names", names);
  }
  names->SetValue(key, pool_->NewIndRef(leafNumber, 0));
}

// ---------------------------------------------------------------------------
// Outlines

TPDFIndRef* TSmartPDFDocument::GetOutlinesRef() {
  TPDFDictionary* catalog = dictOf(catalogNumber_);
  return catalog ? PDFAsIndRef(catalog->GetValue("Outlines")) : nullptr;
}

bool TSmartPDFDocument::HasOutlines() {
  TPDFIndRef* ref = GetOutlinesRef();
  TPDFDictionary* outlines = ref ? dictOf(ref->GetRefNumber()) : nullptr;
  return outlines && PDFAsIndRef(outlines->GetValue("First")) && PDFAsIndRef(outlines->GetValue("Last"));
}

void TSmartPDFDocument::SetOutlinesRef(TPDFIndRef* ref, int32_t shift) {
  TPDFDictionary* catalog = editableDict(catalogNumber_);
  if (!catalog || !ref) return;
  catalog->SetValue("Outlines", pool_->NewIndRef(ref->GetRefNumber() + shift, ref->GetRefGeneration()));
}

// The top-level items in /First, /Next order (each once, capped).
std::vector<int32_t> TSmartPDFDocument::outlineTopLevel(int32_t outlinesNumber) {
  std::vector<int32_t> items;
  TPDFDictionary* outlines = dictOf(outlinesNumber);
  if (!outlines) return items;
  std::unordered_set<int32_t> seen;
  TPDFIndRef* next = PDFAsIndRef(outlines->GetValue("First"));
  while (next && seen.insert(next->GetRefNumber()).second && items.size() < (size_t(1) << 22)) {
    TPDFDictionary* item = dictOf(next->GetRefNumber());
    if (!item) break;
    items.push_back(next->GetRefNumber());
    next = PDFAsIndRef(item->GetValue("Next"));
  }
  return items;
}

void TSmartPDFDocument::MergeOutlines(TSmartPDFDocument& other, int32_t shift) {
  TPDFIndRef* ownRef = GetOutlinesRef();
  TPDFIndRef* otherRef = other.GetOutlinesRef();
  if (!ownRef || !otherRef) return;
  const int32_t o1 = ownRef->GetRefNumber(), o1Generation = ownRef->GetRefGeneration();
  const std::vector<int32_t> ownItems = outlineTopLevel(o1);
  const std::vector<int32_t> otherItems = other.outlineTopLevel(otherRef->GetRefNumber());
  if (otherItems.empty()) return;
  TPDFDictionary* otherRoot = other.dictOf(otherRef->GetRefNumber());
  const double otherCount = otherRoot ? otherRoot->GetNumber("Count", 0) : 0;
  // The other items hang under this root (numbers as they will be after the shift).
  for (int32_t n : otherItems)
    if (TPDFDictionary* item = other.editableDict(n))
      item->SetValue("Parent", other.pool_->NewIndRef(o1 - shift, o1Generation));
  TPDFDictionary* root = editableDict(o1);
  if (!root) return;
  if (!ownItems.empty()) {
    const int32_t last = ownItems.back();
    if (TPDFDictionary* first = other.editableDict(otherItems.front()))
      first->SetValue("Prev", other.pool_->NewIndRef(last - shift, GetGeneration(last)));
    if (TPDFDictionary* lastItem = editableDict(last))
      lastItem->SetValue("Next", pool_->NewIndRef(otherItems.front() + shift, other.GetGeneration(otherItems.front())));
  } else {
    root->SetValue("First", pool_->NewIndRef(otherItems.front() + shift, other.GetGeneration(otherItems.front())));
  }
  const double ownCount = root->GetNumber("Count", 0);
  root->SetValue("Count", pool_->NewNumeric(std::abs(ownCount) + std::abs(otherCount)));
  root->SetValue("Last", pool_->NewIndRef(otherItems.back() + shift, other.GetGeneration(otherItems.back())));
}

// ---------------------------------------------------------------------------
// Page text

void TSmartPDFDocument::ExtractPageText(TPDFIndRef* page, int32_t mode, std::u16string& out,
                                        const TSmartPDFTextOptions& options) {
  out.clear();
  if (!page) return;
  // Objects are read fresh into a pool of their own and decrypted once there,
  // so that nothing of the reader's cache is changed.
  TPDFStructure scratch;
  std::map<int32_t, TPDFObject*> loaded;
  TSmartPDFCrypt* crypt =
      info_ && !reader_.ObjectsArePlain() && info_->GetEncryptionState() == 1 && info_->GetCrypt().IsAuthenticated()
          ? &info_->GetCrypt()
          : nullptr;
  int32_t loads = 0;
  std::function<TPDFObject*(int32_t)> load = [&](int32_t number) -> TPDFObject* {
    auto it = loaded.find(number);
    if (it != loaded.end()) return it->second;
    if (++loads > 1000000) return nullptr;
    TPDFObject* obj = GetObject(number, &scratch);
    if (obj && crypt && !reader_.IsInObjectStream(number))
      crypt->DecryptObject(crypt->GetObjectKey(number, reader_.GetGeneration(number)), obj);
    loaded[number] = obj;
    return obj;
  };
  scratch.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t) { return load(number); };
  TPDFDictionary* dict = PDFAsDictionary(load(page->GetRefNumber()));
  if (!dict) return;
  if (mode == 1) mode = 2;
  if (mode >= 3 && mode <= 8) {
    TPDFFontCollection fonts;
    TPDFRenderer renderer(&fonts);
    TPDFTextFunnel funnel;
    funnel.KeepWordsApart = (mode == 4 || mode == 6) ? 1 : 0;
    funnel.AddGlyphWidths = (mode == 5 || mode == 6) ? 1 : 0;
    funnel.GapSetting = options.GapSetting;
    if (auto box = TPDFPageTree::GetPageBox(dict, "MediaBox")) {
      funnel.PageWidth = (*box)[2] - (*box)[0];
      funnel.PageHeight = (*box)[3] - (*box)[1];
    }
    if (options.UseRegion) funnel.SetRegion(options.Left, options.Top, options.Width, options.Height);
    renderer.SetTextFunnel(&funnel);
    renderer.OutputKind = rokText;
    renderer.PageObject = dict;
    renderer.RenderPage();
    if (mode <= 6) {
      out = funnel.GetDetailedText();
    } else if (mode == 7) {
      funnel.LinkRuns();
      out = funnel.GetLayoutText();
    } else {
      out = funnel.GetSimpleText();
    }
    return;
  }
  std::string content;
  TPDFObject* contents = dict->GetValue("Contents");
  std::vector<TPDFObject*> parts;
  if (TPDFArray* a = PDFAsArray(PDFResolve(contents))) {
    for (TPDFObject* item : a->Items()) parts.push_back(item);
  } else if (contents) {
    parts.push_back(contents);
  }
  for (TPDFObject* part : parts)
    if (TPDFStream* s = PDFAsStream(PDFResolve(part))) {
      content += ' ';
      content += s->GetDecodedData();
    }
  if (content.empty()) return;
  TPDFFontCollection fonts;
  TPDFExtractor extractor(TPDFPageTree::GetInheritedResources(dict), &fonts);
  extractor.OnLookupObject = [&](TPDFIndRef*, int32_t number, int32_t) { return load(number); };
  out = extractor.Extract(content, mode);
}
