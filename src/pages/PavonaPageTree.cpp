#include "pages/PavonaPageTree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "render/PavonaFontCollection.h"

namespace {

enum class TNodeKind { nkPages, nkPage, nkOther };

// Type Pages or Page as written; a node without Type is a Pages node when it
// has Kids and a page otherwise (producers that omit Type are common).
TNodeKind nodeKind(TPDFDictionary* node) {
  TPDFObject* type = node->GetValue("Type", true);
  if (TPDFName* name = PDFAsName(type)) {
    if (name->GetValue() == "Pages") return TNodeKind::nkPages;
    if (name->GetValue() == "Page") return TNodeKind::nkPage;
    return TNodeKind::nkOther;
  }
  if (type) return TNodeKind::nkOther;
  return node->GetValue("Kids") ? TNodeKind::nkPages : TNodeKind::nkPage;
}

// Count of a Pages node when it is a usable number.
std::optional<int64_t> nodeCount(TPDFDictionary* node) {
  TPDFNumeric* count = PDFAsNumeric(node->GetValue("Count", true));
  if (!count || !std::isfinite(count->GetValue())) return std::nullopt;
  return std::max<int64_t>(0, count->AsInteger());
}

double numberOf(TPDFObject* obj) {
  TPDFNumeric* n = PDFAsNumeric(PDFResolve(obj));
  if (!n || !std::isfinite(n->GetValue())) return 0;
  return n->GetValue();
}

bool isInheritable(std::string_view key) {
  return key == "Resources" || key == "MediaBox" || key == "CropBox" || key == "Rotate";
}

}  // namespace

// One lookup guided by the Count values: the number sought, the pages
// passed so far and the Pages nodes entered (each node is entered at most
// once, so that a cycle or a node listed twice cannot make the walk loop or
// grow exponentially); unsound is set when the tree holds something its
// Counts do not account for.
struct TPDFPageTree::TWalk {
  int64_t target = 0;
  int64_t counter = 0;
  bool unsound = false;
  std::unordered_set<const TPDFObject*> entered;
};

TPDFPageTree::TPDFPageTree(TPDFDictionary* root, int64_t pageLimit, TPageIndexCallback pageIndex)
    : OnPageIndex(std::move(pageIndex)),
      painter_(std::make_unique<TPDFPainter>()),
      annots_(std::make_unique<TPDFAnnots>()),
      pageLimit_(std::clamp<int64_t>(pageLimit, 0, std::numeric_limits<int32_t>::max())) {
  root_ = root;
  pool_ = root ? root->GetOwner() : nullptr;
  painter_->Owner = this;
  painter_->SetPrecision(pool_ ? pool_->GetPrecisionDigits() : 4);
  painter_->OnChange = [this](TPDFPainter*) { PainterChanged(); };
  annots_->Owner = this;
  annots_->OnPageIndex = [this](TPDFIndRef* r) { return IndexOfPageRef(r); };
  if (root_) SelectPage(1);
}

TPDFPageTree::~TPDFPageTree() {
  painter_->OnChange = nullptr;
}

// ---------------------------------------------------------------------------
// Page count and lookup

void TPDFPageTree::SetPageLimit(int64_t limit) {
  pageLimit_ = std::clamp<int64_t>(limit, 0, std::numeric_limits<int32_t>::max());
  countKnown_ = false;
}

int32_t TPDFPageTree::GetPageCount() {
  if (!root_) return 0;
  TPDFNumeric* count = PDFAsNumeric(root_->GetValue("Count", true));
  const double source = count && std::isfinite(count->GetValue()) ? count->GetValue() : -1;
  if (!countKnown_ || source != countSource_) {
    countKnown_ = true;
    countSource_ = source;
    const int64_t written = count ? count->AsInteger() : -1;
    walked_ = false;
    slots_.clear();
    if (source >= 1 && written >= 1 && written <= pageLimit_) {
      // Count is believed when the walk that Count guides finds its first
      // and its last page: pages are parsed on first use, not on opening.
      pageCount_ = static_cast<int32_t>(written);
      pageCache_.assign(static_cast<size_t>(pageCount_), nullptr);
      if (!guidedFind(1) || !guidedFind(pageCount_)) walkAll();
    } else {
      walkAll();
    }
  }
  return pageCount_;
}

void TPDFPageTree::walkAll() {
  collectPages();
  walked_ = true;
  // Read again: adopting pages may have changed it.
  TPDFNumeric* count = PDFAsNumeric(root_->GetValue("Count", true));
  countSource_ = count && std::isfinite(count->GetValue()) ? count->GetValue() : -1;
  countKnown_ = true;
}

TPDFDictionary* TPDFPageTree::guidedFind(int32_t n) {
  foundParent_ = root_;
  TPDFArray* kids = PDFAsArray(root_->GetValue("Kids", true));
  if (!kids) return nullptr;
  // A flat tree (every page a direct kid of the root) is indexed directly.
  if (kids->GetCount() == pageCount_) {
    TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(n - 1));
    TPDFDictionary* page = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
    if (!page || nodeKind(page) != TNodeKind::nkPage) return nullptr;
    foundRef_ = ref;
    foundNumber_ = ref->GetRefNumber();
    foundGeneration_ = ref->GetRefGeneration();
    foundKids_ = kids;
    return page;
  }
  TWalk walk;
  walk.target = n;
  walk.entered.insert(root_);
  TPDFDictionary* page = walkKids(walk, kids, 1);
  return walk.unsound ? nullptr : page;
}

void TPDFPageTree::collectPages() {
  // One walk finds every page, in order: the page count is the number of
  // pages it reached, and page n is the n-th of them, so a count never
  // promises a page that cannot be found (a Count that is wrong, a loop, a
  // missing kid). Each Pages node is entered once; a page listed twice
  // counts twice, as in other readers.
  slots_.clear();
  std::unordered_set<const TPDFObject*> entered;
  entered.insert(root_);
  if (TPDFArray* kids = PDFAsArray(root_->GetValue("Kids", true))) collectKids(kids, root_, 1, entered);
  TPDFNumeric* count = PDFAsNumeric(root_->GetValue("Count", true));
  if (slots_.empty() && count && count->GetValue() >= 1 && OnOrphanPages) adoptOrphanPages();
  pageCount_ = static_cast<int32_t>(slots_.size());
  pageCache_.assign(slots_.size(), nullptr);
  for (size_t i = 0; i < slots_.size(); ++i) pageCache_[i] = slots_[i].page;
}

void TPDFPageTree::collectKids(TPDFArray* kids, TPDFDictionary* parent, int depth,
                               std::unordered_set<const TPDFObject*>& entered) {
  for (int32_t i = 0; i < kids->GetCount(); ++i) {
    if (static_cast<int64_t>(slots_.size()) >= pageLimit_) return;
    TPDFObject* item = kids->GetItem(i);
    TPDFIndRef* ref = PDFAsIndRef(item);
    TPDFDictionary* node = PDFAsDictionary(ref ? ref->Resolve() : item);
    if (!node) continue;
    if (!ref) {
      // A node written directly in Kids: it becomes an object of its own,
      // so that it is a page (or node) like any other, with a reference.
      if (nodeKind(node) == TNodeKind::nkOther) continue;
      TPDFDictionary* copy = pool_ ? PDFAsDictionary(pool_->ParseObject(node->WriteText())) : nullptr;
      TPDFIndRef* adopted = copy ? registerObject(copy) : nullptr;
      if (!adopted) continue;
      kids->ReplaceItem(i, adopted);
      ref = adopted;
      node = copy;
    }
    switch (nodeKind(node)) {
      case TNodeKind::nkPage:
        slots_.push_back({node, ref, kids, parent});
        break;
      case TNodeKind::nkPages: {
        // A node met again (a loop, or a node listed twice) is not entered.
        if (depth >= kMaxPageTreeDepth || !entered.insert(node).second) break;
        if (TPDFArray* sub = PDFAsArray(node->GetValue("Kids", true))) collectKids(sub, node, depth + 1, entered);
        break;
      }
      case TNodeKind::nkOther:
        break;
    }
  }
}

void TPDFPageTree::adoptOrphanPages() {
  // The tree promises pages but none can be reached (its nodes loop, or
  // lead only to missing objects): the page objects of the document become
  // the root's kids, in the order of their numbers.
  TPDFArray* kids = PDFAsArray(root_->GetValue("Kids", true));
  if (!kids) {
    kids = pool_->NewArray();
    root_->SetValue("Kids", kids);
  }
  TPDFIndRef* rootRef =
      root_->IsIndirect() ? pool_->NewIndRef(root_->GetObjectNumber(), root_->GetGeneration()) : nullptr;
  for (TPDFIndRef* ref : OnOrphanPages()) {
    if (static_cast<int64_t>(slots_.size()) >= pageLimit_) break;
    TPDFDictionary* page = PDFAsDictionary(ref->Resolve());
    if (!page) continue;
    kids->Add(ref);
    if (rootRef) page->SetValue("Parent", pool_->NewIndRef(rootRef->GetRefNumber(), rootRef->GetRefGeneration()));
    slots_.push_back({page, ref, kids, root_});
  }
  if (!slots_.empty()) {
    root_->FreeKey("Count");
    root_->SetValue("Count", pool_->NewNumeric(static_cast<double>(slots_.size())));
  }
}

void TPDFPageTree::storeCache(int32_t n, TPDFDictionary* page) {
  if (n >= 1 && static_cast<size_t>(n) <= pageCache_.size()) pageCache_[static_cast<size_t>(n - 1)] = page;
}

TPDFDictionary* TPDFPageTree::FindPage(int32_t n) {
  if (n < 1 || n > GetPageCount()) return nullptr;
  if (!walked_) {
    if (TPDFDictionary* page = guidedFind(n)) {
      storeCache(n, page);
      return page;
    }
    // A page that Count promises is not there: the tree is walked whole,
    // and from then on the pages are those the walk found. Pages looked
    // up before may have been found by Counts that were wrong: the cache
    // starts anew.
    walkAll();
    if (n > pageCount_) return nullptr;
  }
  const TPageSlot& slot = slots_[static_cast<size_t>(n - 1)];
  foundRef_ = slot.ref;
  foundNumber_ = slot.ref ? slot.ref->GetRefNumber() : 0;
  foundGeneration_ = slot.ref ? slot.ref->GetRefGeneration() : 0;
  foundKids_ = slot.kids;
  foundParent_ = slot.parent;
  storeCache(n, slot.page);
  return slot.page;
}

TPDFDictionary* TPDFPageTree::walkKids(TWalk& walk, TPDFArray* kids, int depth) {
  // Anything the Counts do not account for (a kid that is missing, written
  // directly or neither page nor node, a node met again, a node without a
  // usable Count or Kids) ends the walk as not found: the whole walk then
  // decides the pages.
  for (int32_t i = 0; i < kids->GetCount(); ++i) {
    TPDFIndRef* ref = PDFAsIndRef(kids->GetItem(i));
    TPDFDictionary* node = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
    if (!node) {
      walk.unsound = true;
      return nullptr;
    }
    foundRef_ = ref;
    foundNumber_ = ref->GetRefNumber();
    foundGeneration_ = ref->GetRefGeneration();
    foundKids_ = kids;
    switch (nodeKind(node)) {
      case TNodeKind::nkPages: {
        TPDFArray* sub = PDFAsArray(node->GetValue("Kids", true));
        std::optional<int64_t> count = nodeCount(node);
        if (depth >= kMaxPageTreeDepth || !walk.entered.insert(node).second || !sub || !count) {
          walk.unsound = true;
          return nullptr;
        }
        if (walk.counter + *count < walk.target) {
          walk.counter += *count;
          break;
        }
        foundParent_ = node;
        return walkKids(walk, sub, depth + 1);
      }
      case TNodeKind::nkPage:
        if (walk.counter + 1 == walk.target) return node;
        ++walk.counter;
        break;
      case TNodeKind::nkOther:
        walk.unsound = true;
        return nullptr;
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Selection

TPDFIndRef* TPDFPageTree::newContentStream(bool marked, TPDFStream** stream) {
  if (!pool_ || !pool_->OnGetObjectNumber) return nullptr;
  TPDFStream* s = pool_->NewStream("", false);
  if (marked) s->GetDictionary()->SetValue(kContentMarkerKey, pool_->KeyName(kContentMarkerValue));
  int32_t number = 0, generation = 0;
  pool_->OnGetObjectNumber(pool_, s, number, generation);
  if (stream) *stream = s;
  return pool_->NewIndRef(number, generation);
}

void TPDFPageTree::SelectPage(int32_t n) {
  widthCached_ = heightCached_ = false;
  const int32_t count = GetPageCount();
  if (n < 1 || n > count) n = selectedPageNumber_;
  if (n < 1 || n > count) return;
  TPDFDictionary* page = pageCache_[static_cast<size_t>(n - 1)];
  if (!page) page = FindPage(n);
  if (!page) return;
  selectedPageNumber_ = n;
  selectedPage_ = page;
  contentStreams_.clear();
  currentStreamNumber_ = 0;

  if (TPDFArray* annots = PDFAsArray(page->GetValue("Annots", true))) {
    annots_->SetPage(annots);
  } else {
    annots_->Reset();
  }

  TPDFArray* contents = nullptr;
  TPDFObject* value = page->GetValue("Contents");
  if (!value) {
    if (TPDFIndRef* ref = newContentStream(true, nullptr)) {
      contents = pool_->NewArrayOf({ref});
      page->SetValue("Contents", contents);
    }
  } else if (TPDFIndRef* ref = PDFAsIndRef(value)) {
    contents = PDFAsArray(ref->Resolve());
    if (!contents) {
      // A single stream: the page keeps it as the only element of an array.
      contents = pool_->NewArrayOf({ref});
      page->DeleteKey("Contents");
      page->SetValue("Contents", contents);
    }
  } else {
    contents = PDFAsArray(value);
  }

  bool writable = contents != nullptr;
  if (contents) {
    TPDFStream* last = PDFAsStream(PDFResolve(contents->GetItem(contents->GetCount() - 1)));
    bool append = !last;
    if (last) {
      TPDFName* marker = PDFAsName(last->GetDictionary() ? last->GetDictionary()->GetValue(kContentMarkerKey) : nullptr);
      append = !marker || marker->GetValue() != kContentMarkerValue ||
               (static_cast<int64_t>(last->GetData().size()) > kMaxAppendStreamSize && !contentsWrapped_);
    }
    if (append) {
      if (TPDFIndRef* ref = newContentStream(true, nullptr)) {
        contents->Add(ref);
      } else {
        // Without a way to add a stream, content of other producers must
        // never become the painter's target.
        writable = false;
      }
    }
    for (int32_t i = 0; i < contents->GetCount(); ++i) {
      if (TPDFStream* stream = PDFAsStream(PDFResolve(contents->GetItem(i)))) {
        contentStreams_.push_back(stream);
        continue;
      }
      TPDFStream* fresh = nullptr;
      if (TPDFIndRef* ref = newContentStream(false, &fresh)) {
        contents->ReplaceItem(i, ref);
        contentStreams_.push_back(fresh);
      }
    }
  }

  if (!writable) return;
  currentStreamNumber_ = static_cast<int32_t>(contentStreams_.size());
  painter_->SetPrecision(pool_ ? pool_->GetPrecisionDigits() : 4);
  auto callback = std::move(painter_->OnChange);
  painter_->OnChange = nullptr;
  painter_->Reset();
  painter_->OnChange = std::move(callback);
  if (!contentStreams_.empty()) painter_->SetContent(contentStreams_.back()->GetDecodedData());
  painter_->OnBeforeWrite = [this] { startFromDefaultState(); };
}

void TPDFPageTree::PainterChanged() {
  if (currentStreamNumber_ < 1 || currentStreamNumber_ > static_cast<int32_t>(contentStreams_.size())) return;
  contentStreams_[static_cast<size_t>(currentStreamNumber_ - 1)]->SetData(painter_->GetContent(), false);
}

TPDFStream* TPDFPageTree::GetContentStream(int32_t index) const {
  if (index < 1 || index > static_cast<int32_t>(contentStreams_.size())) return nullptr;
  return contentStreams_[static_cast<size_t>(index - 1)];
}

std::string TPDFPageTree::GetContentStreamData() const {
  TPDFStream* stream = GetContentStream(currentStreamNumber_);
  return stream ? stream->GetDecodedData() : std::string();
}

// ---------------------------------------------------------------------------
// Sizes

void TPDFPageTree::ReadDefaultPageSize() {
  defaultWidth_ = 612;
  defaultHeight_ = 792;
  if (!root_) return;
  if (TPDFArray* box = PDFAsArray(root_->GetValue("MediaBox"))) {
    defaultWidth_ = std::fabs(numberOf(box->GetItem(2)) - numberOf(box->GetItem(0)));
    defaultHeight_ = std::fabs(numberOf(box->GetItem(3)) - numberOf(box->GetItem(1)));
  }
}

double TPDFPageTree::pageSize(bool width) {
  if (width ? widthCached_ : heightCached_) return width ? widthCache_ : heightCache_;
  if (!selectedPage_) {
    ReadDefaultPageSize();
    return width ? defaultWidth_ : defaultHeight_;
  }
  TPDFArray* box = nullptr;
  TPDFDictionary* node = selectedPage_;
  std::vector<const TPDFDictionary*> seen;
  while (node && seen.size() < static_cast<size_t>(kMaxPageTreeDepth) &&
         std::find(seen.begin(), seen.end(), node) == seen.end()) {
    seen.push_back(node);
    box = PDFAsArray(node->GetValue("MediaBox", true));
    if (box) break;
    node = PDFAsDictionary(node->GetValue("Parent", true));
  }
  double w, h;
  if (box) {
    w = std::fabs(numberOf(box->GetItem(2)) - numberOf(box->GetItem(0)));
    h = std::fabs(numberOf(box->GetItem(3)) - numberOf(box->GetItem(1)));
  } else {
    ReadDefaultPageSize();
    w = defaultWidth_;
    h = defaultHeight_;
    selectedPage_->FreeKey("MediaBox");
    selectedPage_->SetValue("MediaBox", pool_->NewRealArray(std::array<double, 4>{0, 0, w, h}));
  }
  if (width) {
    widthCache_ = w;
    widthCached_ = true;
    return w;
  }
  heightCache_ = h;
  heightCached_ = true;
  return h;
}

double TPDFPageTree::GetPageWidth() {
  return pageSize(true);
}

double TPDFPageTree::GetPageHeight() {
  return pageSize(false);
}

void TPDFPageTree::SetPageWidth(double width) {
  if (!selectedPage_) return;
  const double height = GetPageHeight();
  widthCache_ = width;
  widthCached_ = true;
  selectedPage_->FreeKey("MediaBox");
  selectedPage_->FreeKey("CropBox");
  selectedPage_->SetValue("MediaBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
  selectedPage_->SetValue("CropBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
}

void TPDFPageTree::SetPageHeight(double height) {
  if (!selectedPage_) return;
  const double width = GetPageWidth();
  heightCache_ = height;
  heightCached_ = true;
  selectedPage_->FreeKey("MediaBox");
  selectedPage_->FreeKey("CropBox");
  selectedPage_->SetValue("MediaBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
  selectedPage_->SetValue("CropBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
}

// ---------------------------------------------------------------------------
// Resources, references and attributes

TPDFDictionary* TPDFPageTree::GetPageResources() {
  if (!selectedPage_) return nullptr;
  TPDFObject* value = selectedPage_->GetValue("Resources");
  if (!value) {
    FindPage(selectedPageNumber_);  // refreshes the found parent
    if (foundParent_ && foundParent_ != selectedPage_) value = foundParent_->GetValue("Resources");
  }
  if (!value) {
    value = pool_->NewDictionary();
    selectedPage_->SetValue("Resources", value);
  }
  TPDFDictionary* resources = PDFAsDictionary(PDFResolve(value));
  if (!resources) {
    selectedPage_->DeleteKey("Resources");
    resources = pool_->NewDictionary();
    selectedPage_->SetValue("Resources", resources);
  }
  return resources;
}

TPDFIndRef* TPDFPageTree::GetSelectedPageRef() {
  if (!selectedPage_ || !selectedPage_->IsIndirect()) return nullptr;
  return pool_->NewIndRef(selectedPage_->GetObjectNumber(), selectedPage_->GetGeneration());
}

TPDFIndRef* TPDFPageTree::GetPageRef(int32_t n) {
  const int32_t selected = selectedPageNumber_;
  TPDFIndRef* result = FindPage(n) ? foundRef_ : nullptr;
  if (selected >= 1) FindPage(selected);
  return result;
}

int32_t TPDFPageTree::IndexOfPageRef(TPDFIndRef* r) {
  if (!r) return 0;
  TPDFArray* kids = GetRootKids();
  if (!kids) return 0;
  if (kids->GetCount() == GetPageCount()) {
    for (int32_t i = 0; i < kids->GetCount(); ++i) {
      TPDFIndRef* item = PDFAsIndRef(kids->GetItem(i));
      if (item && item->GetRefNumber() == r->GetRefNumber() && item->GetRefGeneration() == r->GetRefGeneration())
        return i + 1;
    }
  }
  return OnPageIndex ? OnPageIndex(r) : 0;
}

TPDFArray* TPDFPageTree::GetRootKids() {
  return root_ ? PDFAsArray(root_->GetValue("Kids", true)) : nullptr;
}

void TPDFPageTree::SetRootCount(int32_t count) {
  if (!root_) return;
  if (TPDFNumeric* n = PDFAsNumeric(root_->GetValue("Count", true))) n->SetValue(count);
  countKnown_ = false;
}

void TPDFPageTree::SetThumb(TPDFDictionary* thumb) {
  if (!selectedPage_) return;
  selectedPage_->FreeKey("Thumb");
  selectedPage_->SetValue("Thumb", thumb);
}

TPDFObject* TPDFPageTree::GetInheritedValue(TPDFDictionary* page, std::string_view key) {
  const bool inheritable = isInheritable(key);
  std::vector<const TPDFDictionary*> seen;
  for (TPDFDictionary* node = page; node && seen.size() < static_cast<size_t>(kMaxPageTreeDepth);
       node = PDFAsDictionary(node->GetValue("Parent", true))) {
    if (std::find(seen.begin(), seen.end(), node) != seen.end()) break;
    seen.push_back(node);
    if (TPDFObject* value = node->GetValue(key, true)) {
      if (!PDFIsKind(value, pdfkNull)) return value;
    }
    if (!inheritable) break;
  }
  return nullptr;
}

std::optional<std::array<double, 4>> TPDFPageTree::GetPageBox(TPDFDictionary* page, std::string_view key) {
  TPDFArray* box = PDFAsArray(GetInheritedValue(page, key));
  if (!box || box->GetCount() < 4) return std::nullopt;
  std::array<double, 4> r{};
  for (int32_t i = 0; i < 4; ++i) {
    TPDFNumeric* n = PDFAsNumeric(PDFResolve(box->GetItem(i)));
    if (!n || !std::isfinite(n->GetValue())) return std::nullopt;
    r[static_cast<size_t>(i)] = n->GetValue();
  }
  if (r[0] > r[2]) std::swap(r[0], r[2]);
  if (r[1] > r[3]) std::swap(r[1], r[3]);
  return r;
}

int32_t TPDFPageTree::GetPageRotate(TPDFDictionary* page) {
  TPDFNumeric* n = PDFAsNumeric(GetInheritedValue(page, "Rotate"));
  if (!n || !std::isfinite(n->GetValue()) || std::fabs(n->GetValue()) > 1e9) return 0;
  const int64_t degrees = n->AsInteger();
  if (degrees % 90 != 0) return 0;
  return static_cast<int32_t>(((degrees % 360) + 360) % 360);
}

TPDFDictionary* TPDFPageTree::GetInheritedResources(TPDFDictionary* page) {
  return PDFAsDictionary(GetInheritedValue(page, "Resources"));
}
