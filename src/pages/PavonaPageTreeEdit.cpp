// Page editing on the page tree: blank pages in, pages out, content
// streams joined, inherited attributes made explicit, resources registered
// and annotations (links, notes, attached files, form widgets) added.
//
// Pages and streams of a document are often shared: one content stream or
// image is used by several pages (directly, through Form XObjects, patterns,
// annotation appearances or the form's default resources). Editing one page
// must never damage another, so every emptying below is decided by what the
// rest of the document still reaches, never by the page alone.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "pages/PavonaPageTree.h"
#include "objects/PavonaExtra.h"
#include "objects/PavonaContentLexer.h"
#include "objects/PavonaFlate.h"
#include "pages/PavonaAnnots.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaImage.h"
#include "render/PavonaType3.h"

namespace {

// What content text leaves open at its end, closed again: "ET" for a text
// object and a "Q" for every "q" not restored (inline image data skipped).
// An extra "Q" of the text itself cannot be undone and is left as it is.
std::string closingOperators(std::string_view text) {
  int64_t depth = 0;
  bool inText = false;
  for (size_t pos = 0; pos < text.size();) {
    const std::string_view token = NextContentToken(text, pos);
    if (token.empty()) break;
    if (token == "q") {
      ++depth;
    } else if (token == "Q") {
      if (depth > 0) --depth;
    } else if (token == "BT") {
      inText = true;
    } else if (token == "ET") {
      inText = false;
    } else if (token == "BI") {
      pos = FindInlineImageEnd(text, pos);
      if (pos == std::string_view::npos) break;
    }
  }
  std::string out = inText ? "ET\n" : "";
  // Every "q" counted took at least two bytes of the text: no larger than it.
  for (int64_t i = 0; i < depth; ++i) out += "Q\n";
  return out;
}

// Pages first .. first + count - 1 of total, cut to the pages there are:
// false when none of them is.
bool clampPageRange(int32_t total, int32_t& first, int32_t count, int64_t& last) {
  if (count < 1) return false;
  last = std::min<int64_t>(int64_t(first) + count - 1, total);
  first = std::max(first, 1);
  return first <= last;
}

// The streams among used that nothing kept reaches lose their data (a
// placeholder, so that a reference to one still finds a stream).
void releaseUnreachedStreams(const std::unordered_set<const TPDFObject*>& used,
                             const std::unordered_set<const TPDFObject*>& kept) {
  for (const TPDFObject* obj : used) {
    TPDFStream* stream = PDFAsStream(const_cast<TPDFObject*>(obj));
    if (!stream || kept.count(stream)) continue;
    try {
      stream->SetData("123", false);
    } catch (const std::exception&) {
    }
  }
}

// Every object reached from the starting objects through references,
// arrays, dictionaries and stream dictionaries. skip(dictionary, key) leaves
// an entry out of the walk. The walk keeps its own stack, so deep or cyclic
// structures of a file cannot exhaust the call stack or loop.
void reachObjects(std::vector<TPDFObject*> stack, std::unordered_set<const TPDFObject*>& seen,
                  const std::function<bool(TPDFDictionary*, std::string_view)>& skip) {
  while (!stack.empty()) {
    TPDFObject* obj = stack.back();
    stack.pop_back();
    if (!obj) continue;
    if (TPDFIndRef* ref = PDFAsIndRef(obj)) {
      TPDFObject* target = nullptr;
      try {
        target = ref->Resolve();
      } catch (const std::exception&) {
        target = nullptr;
      }
      if (target && !PDFIsKind(target, pdfkIndRef)) stack.push_back(target);
      continue;
    }
    if (!seen.insert(obj).second) continue;
    TPDFDictionary* dict = nullptr;
    if (TPDFStream* stream = PDFAsStream(obj)) {
      dict = stream->GetDictionary();
    } else {
      dict = PDFAsDictionary(obj);
    }
    if (dict) {
      if (dict != obj && !seen.insert(dict).second) continue;
      for (const TPDFDictEntry& e : dict->Entries()) {
        if (!e.value || (e.key && skip && skip(dict, e.key->GetValue()))) continue;
        stack.push_back(e.value);
      }
    } else if (TPDFArray* array = PDFAsArray(obj)) {
      for (TPDFObject* item : array->Items()) stack.push_back(item);
    }
  }
}

// The streams of a page's Contents (a stream or an array of them).
std::vector<TPDFStream*> contentStreamsOf(TPDFDictionary* page) {
  std::vector<TPDFStream*> out;
  TPDFObject* value = PDFResolve(page->GetValue("Contents"));
  if (TPDFStream* single = PDFAsStream(value)) {
    out.push_back(single);
  } else if (TPDFArray* array = PDFAsArray(value)) {
    for (TPDFObject* item : array->Items())
      if (TPDFStream* s = PDFAsStream(PDFResolve(item))) out.push_back(s);
  }
  return out;
}

// The 28 x 28 RGB symbol of an attached file: a white sheet with a folded
// corner, grey text lines and a dark outline, on a transparent-looking
// light background.
std::string attachmentIconPixels() {
  constexpr int kSize = 28;
  std::string pixels(size_t(kSize * kSize * 3), '\0');
  auto put = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    if (x < 0 || y < 0 || x >= kSize || y >= kSize) return;
    const size_t at = size_t((y * kSize + x) * 3);
    pixels[at] = char(r);
    pixels[at + 1] = char(g);
    pixels[at + 2] = char(b);
  };
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) put(x, y, 0xF4, 0xF4, 0xF4);
  const int left = 5, right = 22, top = 2, bottom = 25, fold = 6;
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) {
      const bool cut = x > right - fold && y < top + (x - (right - fold));
      if (cut) continue;
      const bool edge = x == left || y == bottom || (x == right && y >= top + fold) ||
                        (y == top && x <= right - fold) || (x > right - fold && y == top + (x - (right - fold)));
      if (edge)
        put(x, y, 0x30, 0x30, 0x30);
      else
        put(x, y, 0xFF, 0xFF, 0xFF);
    }
  for (int line = 0; line < 5; ++line) {
    const int y = top + 9 + line * 3;
    for (int x = left + 3; x <= right - 3; ++x) put(x, y, 0x80, 0x80, 0xA0);
  }
  // A paper clip over the top left corner.
  for (int y = 0; y <= 10; ++y) {
    put(8, y, 0x20, 0x40, 0xA0);
    put(11, y, 0x20, 0x40, 0xA0);
  }
  for (int x = 8; x <= 11; ++x) put(x, 0, 0x20, 0x40, 0xA0);
  return pixels;
}

struct TNoteIcon {
  const char* Name;
  int32_t Width;
  int32_t Height;
};
constexpr TNoteIcon kNoteIcons[] = {{"Note", 20, 24},     {"Comment", 22, 24}, {"Help", 22, 24},
                                    {"Insert", 14, 14},   {"Key", 26, 16},     {"NewParagraph", 22, 24},
                                    {"Paragraph", 22, 24}};

}  // namespace

// ---------------------------------------------------------------------------
// Small helpers

TPDFIndRef* TPDFPageTree::registerObject(TPDFObject* obj) {
  if (!pool_ || !pool_->OnGetObjectNumber || !obj) return nullptr;
  int32_t number = 0, generation = 0;
  pool_->OnGetObjectNumber(pool_, obj, number, generation);
  return pool_->NewIndRef(number, generation);
}

void TPDFPageTree::forgetPages() {
  std::fill(pageCache_.begin(), pageCache_.end(), nullptr);
  countKnown_ = false;
  foundRef_ = nullptr;
  foundKids_ = nullptr;
  foundParent_ = nullptr;
}

void TPDFPageTree::AdjustParentCounts(TPDFDictionary* node, int32_t delta) {
  std::vector<const TPDFDictionary*> seen;
  while (node && seen.size() < static_cast<size_t>(kMaxPageTreeDepth) &&
         std::find(seen.begin(), seen.end(), node) == seen.end()) {
    seen.push_back(node);
    if (TPDFNumeric* count = PDFAsNumeric(node->GetValue("Count", true))) {
      const double v = std::isfinite(count->GetValue()) ? count->GetValue() : 0;
      // A count never goes below nothing, whatever the file said.
      if (delta >= 0 || v > 0) count->SetValue(std::max(0.0, std::floor(v) + delta));
    }
    // Parents are indirect objects; a direct value is not a tree link.
    if (!PDFAsIndRef(node->GetValue("Parent"))) break;
    node = PDFAsDictionary(node->GetValue("Parent", true));
  }
  countKnown_ = false;
}

// ---------------------------------------------------------------------------
// Inserting pages

void TPDFPageTree::InsertPages(int32_t position, int32_t count, double width, double height) {
  if (!root_) {
    SelectPage(position);
    return;
  }
  const int32_t total = GetPageCount();
  if (count < 1 || position < 1 || position > total + 1 || !pool_ || !pool_->OnGetObjectNumber) {
    SelectPage(position);
    return;
  }
  TPDFArray* kids = nullptr;
  TPDFDictionary* parent = nullptr;
  int32_t slot = 0;
  if (position == 1 || position == total + 1) {
    kids = GetRootKids();
    parent = root_;
    if (kids) slot = position == 1 ? 0 : kids->GetCount();
  } else if (FindPage(position - 1)) {
    kids = foundKids_;
    parent = foundParent_;
    const auto& items = kids ? kids->Items() : std::vector<TPDFObject*>{};
    auto it = std::find(items.begin(), items.end(), static_cast<TPDFObject*>(foundRef_));
    if (it == items.end())
      kids = nullptr;
    else
      slot = static_cast<int32_t>(it - items.begin()) + 1;
  }
  if (!kids || !parent) {
    SelectPage(position);
    return;
  }
  // The node whose Kids receive the pages is the one whose Count grows.
  AdjustParentCounts(parent, count);
  SetPageLimit(pageLimit_ + count);
  kids->Reserve(kids->GetCount() + count);
  for (int32_t i = 0; i < count; ++i) {
    TPDFDictionary* page = pool_->NewDictionary();
    page->SetValue("Type", pool_->KeyName("Page"));
    if (parent->IsIndirect())
      page->SetValue("Parent", pool_->NewIndRef(parent->GetObjectNumber(), parent->GetGeneration()));
    page->SetValue("MediaBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
    page->SetValue("CropBox", pool_->NewRealArray(std::array<double, 4>{0, 0, width, height}));
    page->SetValue("Rotate", pool_->NewNumeric(0));
    page->SetValue("Resources", pool_->ParseObject("<< /ProcSet [ /PDF /Text /ImageB /ImageC /ImageI ] >>"));
    TPDFIndRef* ref = registerObject(page);
    kids->Insert(slot++, ref);
    if (TPDFIndRef* content = newContentStream(true, nullptr)) page->SetValue("Contents", pool_->NewArrayOf({content}));
  }
  forgetPages();
  SelectPage(position);
}

// ---------------------------------------------------------------------------
// Deleting pages

void TPDFPageTree::DeletePages(int32_t first, int32_t count) {
  int64_t last = 0;
  if (!root_ || !clampPageRange(GetPageCount(), first, count, last)) return;

  struct TSlot {
    TPDFDictionary* page;
    TPDFIndRef* ref;
    TPDFArray* kids;
    TPDFDictionary* parent;
  };
  std::vector<TSlot> slots;
  for (int32_t n = first; n <= last; ++n)
    if (TPDFDictionary* page = FindPage(n)) slots.push_back({page, foundRef_, foundKids_, foundParent_});

  // Unlink first: what stays reachable afterwards is what must keep its data.
  std::vector<TPDFDictionary*> removed;
  for (const TSlot& s : slots) {
    if (!s.ref || !s.kids || !s.parent) continue;
    const auto& items = s.kids->Items();
    auto it = std::find(items.begin(), items.end(), static_cast<TPDFObject*>(s.ref));
    if (it == items.end()) continue;
    s.kids->Delete(static_cast<int32_t>(it - items.begin()));
    AdjustParentCounts(s.parent, -1);
    removed.push_back(s.page);
  }
  forgetPages();
  selectedPage_ = nullptr;
  selectedPageNumber_ = 0;
  contentStreams_.clear();
  currentStreamNumber_ = 0;
  annots_->Reset();

  // Everything the document still reaches keeps its data. A removed page
  // that is still named somewhere (an outline, a link) stays intact apart
  // from its content, which no page shows any more.
  std::unordered_set<const TPDFObject*> removedSet(removed.begin(), removed.end());
  std::unordered_set<const TPDFObject*> kept;
  TPDFObject* start = OnDocumentTrailer ? OnDocumentTrailer() : nullptr;
  reachObjects({start ? start : root_}, kept, [&removedSet](TPDFDictionary* d, std::string_view key) {
    return key == "Contents" && removedSet.count(d) != 0;
  });
  // What the removed pages used: their content, resources and the
  // appearances of their annotations.
  std::unordered_set<const TPDFObject*> used;
  std::vector<TPDFObject*> resources;
  for (TPDFDictionary* page : removed) {
    if (TPDFObject* r = page->GetValue("Resources")) resources.push_back(r);
    if (TPDFArray* annots = PDFAsArray(page->GetValue("Annots", true)))
      for (TPDFObject* a : annots->Items())
        if (TPDFDictionary* annot = PDFAsDictionary(PDFResolve(a)))
          if (TPDFObject* ap = annot->GetValue("AP")) resources.push_back(ap);
  }
  // Links between pages are not part of a page's resources.
  reachObjects(resources, used, [](TPDFDictionary*, std::string_view key) {
    return key == "Parent" || key == "P" || key == "Dest" || key == "D" || key == "A" || key == "Popup";
  });
  releaseUnreachedStreams(used, kept);
  for (TPDFDictionary* page : removed)
    for (TPDFStream* stream : contentStreamsOf(page))
      if (!kept.count(stream)) stream->SetData("", false);

  const int32_t remaining = GetPageCount();
  if (remaining > 0) SelectPage(std::min(first, remaining));
}

void TPDFPageTree::ReleasePageResources(int32_t first, int32_t count) {
  // Releasing is only sound against what the rest of the document reaches
  // once the pages are gone; DeletePages decides that after unlinking. Here
  // the pages stay in the tree, so a stream is released only when nothing
  // but these pages reaches it.
  int64_t last = 0;
  if (!root_ || !clampPageRange(GetPageCount(), first, count, last)) return;
  std::unordered_set<const TPDFObject*> pages;
  std::vector<TPDFObject*> resources;
  for (int32_t n = first; n <= last; ++n)
    if (TPDFDictionary* page = FindPage(n)) {
      pages.insert(page);
      if (TPDFObject* r = page->GetValue("Resources")) resources.push_back(r);
    }
  std::unordered_set<const TPDFObject*> kept;
  TPDFObject* start = OnDocumentTrailer ? OnDocumentTrailer() : nullptr;
  reachObjects({start ? start : root_}, kept, [&pages](TPDFDictionary* d, std::string_view key) {
    return pages.count(d) != 0 && (key == "Resources" || key == "Contents");
  });
  std::unordered_set<const TPDFObject*> used;
  reachObjects(resources, used, [](TPDFDictionary*, std::string_view key) { return key == "Parent"; });
  releaseUnreachedStreams(used, kept);
  forgetPages();
}

// ---------------------------------------------------------------------------
// Joining content streams

bool TPDFPageTree::WrapPageContents() {
  TPDFStream* first = joinContentStreams();
  if (!first) return false;
  auto callback = std::move(painter_->OnChange);
  painter_->OnChange = nullptr;
  painter_->Reset();
  painter_->OnChange = std::move(callback);
  painter_->SetContent(first->GetDecodedData());
  return true;
}

void TPDFPageTree::startFromDefaultState() {
  // Only streams of other producers can leave the state changed: the
  // painter's own operators restore what they set.
  bool foreign = false;
  for (int32_t i = 0; i + 1 < currentStreamNumber_ && i < static_cast<int32_t>(contentStreams_.size()); ++i) {
    TPDFDictionary* d = contentStreams_[static_cast<size_t>(i)]->GetDictionary();
    TPDFName* marker = PDFAsName(d ? d->GetValue(kContentMarkerKey) : nullptr);
    foreign = foreign || !marker || marker->GetValue() != kContentMarkerValue;
  }
  if (!foreign) return;
  if (TPDFStream* first = joinContentStreams()) painter_->SetContent(first->GetDecodedData());
}

TPDFStream* TPDFPageTree::joinContentStreams() {
  contentsWrapped_ = true;
  if (!selectedPage_ || !pool_) return nullptr;
  TPDFArray* contents = PDFAsArray(selectedPage_->GetValue("Contents", true));
  if (!contents) return nullptr;

  // What other pages use: their Contents arrays and streams.
  std::unordered_set<const TPDFObject*> shared;
  const int32_t total = GetPageCount();
  const int32_t selected = selectedPageNumber_;
  for (int32_t n = 1; n <= total; ++n) {
    if (n == selected) continue;
    TPDFDictionary* page = FindPage(n);
    if (!page || page == selectedPage_) continue;
    if (TPDFObject* value = PDFResolve(page->GetValue("Contents"))) shared.insert(value);
    for (TPDFStream* s : contentStreamsOf(page)) shared.insert(s);
  }
  if (selected >= 1) FindPage(selected);
  if (shared.count(contents)) {
    // The array itself is another page's too: this page gets its own.
    TPDFArray* own = pool_->NewArray();
    for (TPDFObject* item : contents->Items())
      if (TPDFIndRef* r = PDFAsIndRef(item)) own->Add(pool_->NewIndRef(r->GetRefNumber(), r->GetRefGeneration()));
    selectedPage_->DeleteKey("Contents");
    selectedPage_->SetValue("Contents", own);
    contents = own;
  }

  std::string text;
  for (TPDFObject* item : contents->Items()) {
    text += ' ';
    if (TPDFStream* s = PDFAsStream(PDFResolve(item))) text += s->GetDecodedData();
  }
  TPDFStream* first = contents->GetCount() > 0 ? PDFAsStream(PDFResolve(contents->GetItem(0))) : nullptr;
  for (int32_t i = 1; i < contents->GetCount(); ++i) {
    TPDFStream* s = PDFAsStream(PDFResolve(contents->GetItem(i)));
    if (s && s != first && !shared.count(s)) s->SetData("", false);
  }
  if (!first || shared.count(first)) {
    TPDFStream* fresh = nullptr;
    TPDFIndRef* ref = newContentStream(true, &fresh);
    if (!ref) return nullptr;
    if (contents->GetCount() > 0)
      contents->ReplaceItem(0, ref);
    else
      contents->Add(ref);
    first = fresh;
  }
  first->SetData("q\n" + text + "\n" + closingOperators(text) + "Q\n", false);
  first->GetDictionary()->SetValue(kContentMarkerKey, pool_->KeyName(kContentMarkerValue));
  while (contents->GetCount() > 1) contents->Delete(contents->GetCount() - 1);
  contentStreams_.assign(1, first);
  currentStreamNumber_ = 1;
  return first;
}

// ---------------------------------------------------------------------------
// Inherited attributes

void TPDFPageTree::CopyInheritedAttributes(bool allBoxes) {
  if (!selectedPage_ || !pool_) return;
  static const char* const kKeys[] = {"Resources", "MediaBox", "CropBox", "Rotate", "BleedBox", "TrimBox", "ArtBox"};
  const size_t keyCount = allBoxes ? 7 : 4;
  for (size_t k = 0; k < keyCount; ++k) {
    const std::string_view key = kKeys[k];
    if (selectedPage_->GetValue(key)) continue;
    TPDFObject* found = nullptr;
    std::vector<const TPDFDictionary*> seen{selectedPage_};
    TPDFDictionary* node = PDFAsDictionary(selectedPage_->GetValue("Parent", true));
    while (node && seen.size() < static_cast<size_t>(kMaxPageTreeDepth) &&
           std::find(seen.begin(), seen.end(), node) == seen.end()) {
      seen.push_back(node);
      if (TPDFObject* v = node->GetValue(key, true); v && !PDFIsKind(v, pdfkNull)) {
        found = v;
        break;
      }
      node = PDFAsDictionary(node->GetValue("Parent", true));
    }
    if (found) {
      // A direct copy: nested references stay references.
      if (TPDFObject* copy = pool_->ParseObject(found->WriteText())) selectedPage_->SetValue(key, copy);
      continue;
    }
    if (key == "MediaBox") {
      selectedPage_->SetValue(key, pool_->NewRealArray(std::array<double, 4>{0, 0, 612, 792}));
    } else if (key == "Rotate") {
      selectedPage_->SetValue(key, pool_->NewNumeric(0));
    } else if (key != "Resources") {
      TPDFArray* media = PDFAsArray(selectedPage_->GetValue("MediaBox", true));
      if (media) {
        if (TPDFObject* copy = pool_->ParseObject(media->WriteText())) selectedPage_->SetValue(key, copy);
      } else {
        selectedPage_->SetValue(key, pool_->NewRealArray(std::array<double, 4>{0, 0, 612, 792}));
      }
    }
  }
  widthCached_ = heightCached_ = false;
}

// ---------------------------------------------------------------------------
// Resources

void TPDFPageTree::addResource(std::string_view category, std::string_view name, TPDFIndRef* ref) {
  if (!ref || name.empty()) return;
  TPDFDictionary* resources = GetPageResources();
  if (!resources) return;
  TPDFStructure* pool = resources->GetOwner();
  TPDFObject* value = resources->GetValue(category);
  TPDFDictionary* entries = PDFAsDictionary(PDFResolve(value));
  if (!entries) {
    if (value) resources->DeleteKey(category);
    entries = pool->NewDictionary();
    resources->SetValue(category, entries);
  }
  TPDFObject* present = entries->GetValue(name);
  if (TPDFIndRef* old = PDFAsIndRef(present)) {
    if (old->GetRefNumber() == ref->GetRefNumber() && old->GetRefGeneration() == ref->GetRefGeneration()) return;
    entries->SetValue(name, pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
    return;
  }
  if (present) return;
  entries->SetValue(name, pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
}

void TPDFPageTree::AddFontResource(TPDFFont* font) {
  if (font) addResource("Font", font->GetResourceName(), font->GetReference());
}

void TPDFPageTree::AddImageResource(TPDFImage* image) {
  // An image made from a metafile keeps the fonts, images and graphics
  // states it draws with in its own form's Resources, so only the image
  // itself enters the page.
  if (image) addResource("XObject", image->GetResourceName(), image->GetObject());
}

void TPDFPageTree::AddExtGStateResource(std::string_view name, TPDFIndRef* ref) {
  addResource("ExtGState", name, ref);
}

void TPDFPageTree::AddPatternResource(std::string_view name, TPDFIndRef* ref) {
  addResource("Pattern", name, ref);
}

// ---------------------------------------------------------------------------
// Annotations

TPDFArray* TPDFPageTree::selectedAnnots() {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber) return nullptr;
  TPDFArray* annots = PDFAsArray(selectedPage_->GetValue("Annots", true));
  if (!annots) {
    selectedPage_->FreeKey("Annots");
    annots = pool_->NewArray();
    selectedPage_->SetValue("Annots", annots);
  }
  annots_->SetPage(annots);
  return annots;
}

TPDFIndRef* TPDFPageTree::appendAnnotation(TPDFDictionary* annot) {
  TPDFArray* annots = selectedAnnots();
  if (!annots) return nullptr;
  TPDFIndRef* ref = registerObject(annot);
  if (!ref) return nullptr;
  annots->Add(ref);
  return pool_->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration());
}

namespace {

TPDFDictionary* newLink(TPDFStructure* pool, bool border, double left, double top, double width, double height) {
  TPDFDictionary* link = pool->NewDictionary();
  link->SetValue("Type", pool->KeyName("Annot"));
  link->SetValue("Subtype", pool->KeyName("Link"));
  link->SetValue("Rect", pool->NewRealArray(std::array<double, 4>{left, top, left + width, top - height}));
  link->SetValue("Border", pool->NewIntegerArray(std::array<int32_t, 3>{0, 0, border ? 1 : 0}));
  return link;
}

}  // namespace

TPDFIndRef* TPDFPageTree::AddLinkToWeb(std::string_view address, bool border, double left, double top, double width,
                                       double height) {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber) return nullptr;
  TPDFDictionary* link = newLink(pool_, border, left, top, width, height);
  TPDFDictionary* action = pool_->NewDictionary();
  action->SetValue("Type", pool_->KeyName("Action"));
  action->SetValue("S", pool_->KeyName("URI"));
  action->SetValue("URI", pool_->NewString(address));
  link->SetValue("A", action);
  return appendAnnotation(link);
}

TPDFIndRef* TPDFPageTree::AddLinkToPage(int32_t targetPage, bool border, double left, double top, double width,
                                        double height, double destinationTop) {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber) return nullptr;
  TPDFDictionary* target = nullptr;
  const int32_t selected = selectedPageNumber_;
  try {
    target = FindPage(targetPage);
  } catch (const std::exception&) {
    target = nullptr;
  }
  if (selected >= 1) FindPage(selected);
  if (!target || !target->IsIndirect()) return nullptr;
  TPDFDictionary* link = newLink(pool_, border, left, top, width, height);
  TPDFDictionary* action = pool_->NewDictionary();
  action->SetValue("Type", pool_->KeyName("Action"));
  action->SetValue("S", pool_->KeyName("GoTo"));
  action->SetValue("D", pool_->NewArrayOf({pool_->NewIndRef(target->GetObjectNumber(), target->GetGeneration()),
                                           pool_->NewName("XYZ"), pool_->NewNumeric(0),
                                           pool_->NewNumeric(destinationTop), pool_->NewNumeric(0)}));
  link->SetValue("A", action);
  return appendAnnotation(link);
}

TPDFIndRef* TPDFPageTree::AddLinkToFile(std::u16string_view fileName, int32_t targetPage, bool border, bool newWindow,
                                        double left, double top, double width, double height, double destinationTop) {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber) return nullptr;
  TPDFDictionary* link = newLink(pool_, border, left, top, width, height);
  TPDFDictionary* action = pool_->NewDictionary();
  action->SetValue("Type", pool_->KeyName("Action"));
  action->SetValue("S", pool_->KeyName("GoToR"));
  TPDFDictionary* file = pool_->NewDictionary();
  file->SetValue("UF", pool_->NewTextString(fileName));
  file->SetValue("F", pool_->NewString(WideToAnsi(fileName)));
  action->SetValue("F", file);
  action->SetValue("NewWindow", pool_->NewBoolean(newWindow));
  action->SetValue("D",
                   pool_->NewArrayOf({pool_->NewNumeric(std::max(targetPage, 1) - 1), pool_->NewName("XYZ"),
                                      pool_->NewNumeric(0), pool_->NewNumeric(destinationTop), pool_->NewNumeric(0)}));
  link->SetValue("A", action);
  return appendAnnotation(link);
}

TPDFIndRef* TPDFPageTree::AddNoteAnnotation(int32_t icon, std::u16string_view title, bool open, double red,
                                            double green, double blue, std::u16string_view contents, double left,
                                            double top, double popupLeft, double popupTop, double popupWidth,
                                            double popupHeight) {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber) return nullptr;
  const bool dated = icon < 100;
  if (!dated) icon -= 100;
  if (icon < 0 || icon >= static_cast<int32_t>(std::size(kNoteIcons))) icon = 0;
  const TNoteIcon& shape = kNoteIcons[icon];
  TPDFDictionary* note = pool_->NewDictionary();
  note->SetValue("Type", pool_->KeyName("Annot"));
  note->SetValue("Subtype", pool_->KeyName("Text"));
  if (dated) note->SetValue("M", pool_->NewString(PDFDateNow()));
  note->SetValue("Name", pool_->NewName(shape.Name));
  note->SetValue("Rect", pool_->NewRealArray(std::array<double, 4>{left, top - shape.Height, left + shape.Width, top}));
  note->SetValue("C", pool_->NewRealArray(std::array<double, 3>{red, green, blue}));
  note->SetValue("T", pool_->NewTextString(title));
  note->SetValue("Contents", pool_->NewTextString(contents));
  note->SetValue("F", pool_->NewNumeric(pdfafPrint | pdfafNoZoom | pdfafNoRotate));
  TPDFIndRef* noteRef = appendAnnotation(note);
  if (!noteRef) return nullptr;
  TPDFDictionary* popup = pool_->NewDictionary();
  popup->SetValue("Type", pool_->KeyName("Annot"));
  popup->SetValue("Subtype", pool_->KeyName("Popup"));
  popup->SetValue("Parent", pool_->NewIndRef(noteRef->GetRefNumber(), noteRef->GetRefGeneration()));
  popup->SetValue("Rect", pool_->NewRealArray(std::array<double, 4>{popupLeft, popupTop - popupHeight,
                                                                    popupLeft + popupWidth, popupTop}));
  popup->SetValue("F", pool_->NewNumeric(pdfafInvisible | pdfafNoZoom | pdfafNoRotate));
  popup->SetValue("Open", pool_->NewBoolean(open));
  if (TPDFIndRef* popupRef = appendAnnotation(popup)) note->SetValue("Popup", popupRef);
  return noteRef;
}

TPDFIndRef* TPDFPageTree::AddFileAttachmentAnnotation(TPDFIndRef* fileSpec, std::string_view contents, bool icon,
                                                      double left, double top, double width, double height) {
  if (!selectedPage_ || !pool_ || !pool_->OnGetObjectNumber || !fileSpec) return nullptr;
  TPDFIndRef* appearance = nullptr;
  if (icon) {
    std::string content = "q 10 0 0 10 0 0 cm BI /W 28 /H 28 /CS /RGB /BPC 8 /F [ /AHx /Fl ] ID ";
    const std::string packed = CompressString(attachmentIconPixels());
    static const char kHex[] = "0123456789ABCDEF";
    for (unsigned char c : packed) {
      content += kHex[c >> 4];
      content += kHex[c & 15];
    }
    content += "> EI Q";
    TPDFStream* form = pool_->NewStream(content, true);
    form->GetDictionary()->SetValue("Subtype", pool_->KeyName("Form"));
    form->GetDictionary()->SetValue("BBox", pool_->NewIntegerArray(std::array<int32_t, 4>{0, 0, 10, 10}));
    appearance = registerObject(form);
  }
  TPDFDictionary* annot = pool_->NewDictionary();
  annot->SetValue("Type", pool_->KeyName("Annot"));
  annot->SetValue("Subtype", pool_->KeyName("FileAttachment"));
  annot->SetValue("Rect", pool_->NewRealArray(std::array<double, 4>{left, top, left + width, top - height}));
  annot->SetValue("FS", pool_->NewIndRef(fileSpec->GetRefNumber(), fileSpec->GetRefGeneration()));
  // The text as given: a PDF text string keeps every character.
  annot->SetValue("Contents", pool_->NewString(contents));
  if (appearance) {
    TPDFDictionary* ap = pool_->NewDictionary();
    ap->SetValue("N", appearance);
    ap->SetValue("D", pool_->NewIndRef(appearance->GetRefNumber(), appearance->GetRefGeneration()));
    annot->SetValue("AP", ap);
    annot->SetValue("AS", pool_->NewName("On"));
  }
  return appendAnnotation(annot);
}

void TPDFPageTree::AddFieldToPage(TPDFIndRef* widget) {
  if (!widget) return;
  TPDFArray* annots = selectedAnnots();
  if (!annots) return;
  const std::string text = widget->WriteText();
  for (TPDFObject* item : annots->Items())
    if (item && item->WriteText() == text) return;
  annots->Add(pool_->NewIndRef(widget->GetRefNumber(), widget->GetRefGeneration()));
}
