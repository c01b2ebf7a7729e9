// Document services behind the facade's page, drawing, font and image
// operations: the catalogue's page mode, writer fonts and images of the
// document, page rotation, transparency states, inherited attributes and
// the search for the image XObjects a document already holds.
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "document/PavonaDocument.h"
#include "objects/PavonaDigest.h"
#include "objects/PavonaExtra.h"
#include "pages/PavonaFont.h"
#include "pages/PavonaImage.h"
#include "pages/PavonaPainter.h"
#include "platform/Classes.h"
#include "platform/Fonts.h"
#include "platform/RuntimeLibrary.h"

namespace {

constexpr const char* kStandardFontNames[14] = {
    "Courier",     "Courier-Bold",   "Courier-BoldOblique",   "Courier-Oblique",
    "Helvetica",   "Helvetica-Bold", "Helvetica-BoldOblique", "Helvetica-Oblique",
    "Times-Roman", "Times-Bold",     "Times-Italic",          "Times-BoldItalic",
    "Symbol",      "ZapfDingbats"};

// Largest number of image entries one search makes.
constexpr size_t kMaxImageEntries = 100000;

}  // namespace

bool TPDFDocument::SetPageMode(int32_t mode) {
  static const char* const kModes[] = {"UseNone", "UseOutlines", "UseThumbs", "FullScreen", "UseOC", "UseAttachments"};
  // An unknown mode would be written as an empty name, which no reader takes.
  if (mode < 0 || mode > 5) return false;
  TPDFDictionary* root = GetRoot();
  root->FreeKey("PageMode");
  root->SetValue("PageMode", pool_->NewName(kModes[mode]));
  return true;
}

TPDFFont* TPDFDocument::AddStandardFont(int32_t index) {
  if (index < 0 || index > 13) return nullptr;
  auto font = std::make_unique<TPDFFont>(pool_.get(), "PavonaF" + NewResourceTag());
  font->CreateStandardFont(kStandardFontNames[index], index + 1);
  if (!font->GetReference()) return nullptr;
  return AddFont(std::move(font));
}

TPDFFont* TPDFDocument::AddTrueTypeFont(std::string_view name, bool embed, bool kerning, bool ignoreRestriction) {
  auto font = std::make_unique<TPDFFont>(pool_.get(), "PavonaF" + NewResourceTag());
  if (!font->EmbedTrueTypeFont(name, embed, kerning, ignoreRestriction) || !font->GetReference()) return nullptr;
  return AddFont(std::move(font));
}

TPDFFont* TPDFDocument::AddType3Font(std::string_view face, std::u16string_view characters, bool unitMatrix) {
  auto font = std::make_unique<TPDFFont>(pool_.get(), "PavonaF" + NewResourceTag());
  if (!font->BuildFont(face, DEFAULT_CHARSET, unitMatrix, characters) || !font->GetReference()) return nullptr;
  return AddFont(std::move(font));
}

bool TPDFDocument::HasFontResources() {
  TPDFPageTree* tree = GetPageTree();
  if (!tree) return false;
  const int32_t count = tree->GetPageCount();
  const int32_t selected = tree->GetSelectedPageNumber();
  bool found = false;
  for (int32_t n = 1; n <= count && !found; ++n) {
    try {
      TPDFDictionary* page = tree->FindPage(n);
      TPDFDictionary* resources = page ? TPDFPageTree::GetInheritedResources(page) : nullptr;
      if (resources && PDFAsDictionary(resources->GetValue("Font", true))) found = true;
    } catch (const std::exception&) {
      // A page that cannot be read does not tell.
    }
  }
  if (selected >= 1) tree->FindPage(selected);
  return found;
}

int32_t TPDFDocument::SetPageRotation(int32_t angle) {
  TPDFPageTree* tree = GetPageTree();
  TPDFDictionary* page = tree ? tree->GetSelectedPage() : nullptr;
  if (!page || angle % 90 != 0) return 0;
  try {
    page->FreeKey("Rotate");
    page->SetValue("Rotate", pool_->NewNumeric(angle));
  } catch (const std::exception&) {
    return 0;  // the page keeps no rotation it was not given: not a success
  }
  return 1;
}

int32_t TPDFDocument::GetPageRotation() {
  TPDFPageTree* tree = GetPageTree();
  TPDFDictionary* page = tree ? tree->GetSelectedPage() : nullptr;
  if (!page) return 0;
  TPDFNumeric* n = PDFAsNumeric(TPDFPageTree::GetInheritedValue(page, "Rotate"));
  if (!n || !std::isfinite(n->GetValue()) || std::fabs(n->GetValue()) > 1e9) return 0;
  return static_cast<int32_t>(n->AsInteger());
}

int32_t TPDFDocument::GetPageCount() {
  TPDFPageTree* tree = GetPageTree();
  return tree ? tree->GetPageCount() : 0;
}

TPDFIndRef* TPDFDocument::GetPagesRef() {
  return PDFAsIndRef(GetRoot()->GetValue("Pages"));
}

void TPDFDocument::CopyAllInheritedAttributes() {
  TPDFPageTree* tree = GetPageTree();
  if (!tree) return;
  const int32_t selected = tree->GetSelectedPageNumber();
  for (int32_t n = 1; n <= tree->GetPageCount(); ++n) {
    tree->SelectPage(n);
    if (tree->GetSelectedPageNumber() == n) tree->CopyInheritedAttributes(false);
  }
  if (selected >= 1) tree->SelectPage(selected);
}

void TPDFDocument::SetTransparency(int32_t percent) {
  TPDFPageTree* tree = GetPageTree();
  if (!tree || !tree->GetSelectedPage()) return;
  percent = std::clamp(percent, 0, 100);
  const TTransparencyState* state = nullptr;
  for (const TTransparencyState& s : transparencyStates_)
    if (s.Percent == percent) state = &s;
  if (!state) {
    TPDFDictionary* gs = pool_->NewDictionary();
    gs->SetValue("Type", pool_->KeyName("ExtGState"));
    gs->SetValue("SMask", pool_->NewName("None"));
    gs->SetValue("ca", pool_->NewNumeric(percent / 100.0));
    gs->SetValue("CA", pool_->NewNumeric(percent / 100.0));
    TPDFIndRef* ref = AddIndirectRef(gs);
    transparencyStates_.push_back({percent, "PavonaGS" + NewResourceTag(), ref});
    state = &transparencyStates_.back();
  }
  tree->AddExtGStateResource(state->Name, state->Reference);
  if (TPDFPainter* painter = tree->GetPainter()) painter->SetExtGState(state->Name);
}

TPDFImage* TPDFDocument::AddImageFromStream(TStream& stream, int32_t index) {
  auto image = std::make_unique<TPDFImage>(pool_.get(), "PavonaIm" + NewResourceTag());
  image->Compress = true;
  try {
    if (!image->LoadFromStream(stream, index) || !image->GetObject()) {
      failure_ = image->GetFailure().empty() ? "not a usable image" : image->GetFailure();
      return nullptr;
    }
  } catch (const ELibraryUnavailable&) {
    // Not a fault of the file: the caller reports the missing library.
    throw;
  } catch (const std::exception& e) {
    failure_ = e.what();
    return nullptr;
  }
  return AddImage(std::move(image));
}

int32_t TPDFDocument::addImageEntry(TPDFStream* stream, int32_t number, int32_t generation) {
  TPDFDictionary* dict = stream ? stream->GetDictionary() : nullptr;
  if (!dict) return 0;
  const int64_t width = dict->GetInteger("Width", 0), height = dict->GetInteger("Height", 0);
  if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX) return 0;
  auto image = std::make_unique<TPDFImage>(pool_.get(), "PavonaIm" + NewResourceTag());
  image->AttachToObject(number, generation, static_cast<int32_t>(width), static_cast<int32_t>(height));
  AddImage(std::move(image));
  return 1;
}

int32_t TPDFDocument::FindImagesByPages(int32_t) {
  TPDFPageTree* tree = GetPageTree();
  if (!tree) return 0;
  // Each image once, and each form, pattern or appearance entered once:
  // forms that draw each other must not make the search loop.
  std::unordered_set<const TPDFObject*> visited;
  std::vector<std::pair<TPDFStream*, TPDFIndRef*>> images;
  std::vector<TPDFDictionary*> pending;  // resource dictionaries still to read
  auto enterResources = [&](TPDFObject* value) {
    if (TPDFDictionary* r = PDFAsDictionary(PDFResolve(value)); r && visited.insert(r).second) pending.push_back(r);
  };
  auto enterForm = [&](TPDFStream* form) {
    if (form && visited.insert(form).second && form->GetDictionary())
      enterResources(form->GetDictionary()->GetValue("Resources"));
  };
  auto drain = [&]() {
    while (!pending.empty() && images.size() < kMaxImageEntries) {
      TPDFDictionary* resources = pending.back();
      pending.pop_back();
      if (TPDFDictionary* xobjects = PDFAsDictionary(resources->GetValue("XObject", true))) {
        for (const TPDFDictEntry& e : xobjects->Entries()) {
          TPDFIndRef* ref = PDFAsIndRef(e.value);
          TPDFStream* s = PDFAsStream(PDFResolve(e.value));
          if (!s || !s->GetDictionary()) continue;
          const std::string subtype = s->GetDictionary()->GetNameValue("Subtype");
          if (subtype == "Image") {
            if (ref && visited.insert(s).second) images.emplace_back(s, ref);
          } else if (subtype == "Form") {
            enterForm(s);
          }
        }
      }
      if (TPDFDictionary* patterns = PDFAsDictionary(resources->GetValue("Pattern", true)))
        for (const TPDFDictEntry& e : patterns->Entries()) enterForm(PDFAsStream(PDFResolve(e.value)));
    }
  };
  const int32_t count = tree->GetPageCount();
  const int32_t selected = tree->GetSelectedPageNumber();
  for (int32_t n = 1; n <= count; ++n) {
    try {
      TPDFDictionary* page = tree->FindPage(n);
      if (!page) continue;
      enterResources(TPDFPageTree::GetInheritedValue(page, "Resources"));
      drain();
      if (TPDFArray* annots = PDFAsArray(page->GetValue("Annots", true)))
        for (TPDFObject* a : annots->Items())
          if (TPDFDictionary* annot = PDFAsDictionary(PDFResolve(a)))
            if (TPDFDictionary* ap = PDFAsDictionary(annot->GetValue("AP", true)))
              enterForm(PDFAsStream(ap->GetValue("N", true)));
      drain();
    } catch (const std::exception&) {
    }
  }
  if (selected >= 1) tree->FindPage(selected);
  int32_t made = 0;
  for (const auto& [stream, ref] : images) made += addImageEntry(stream, ref->GetRefNumber(), ref->GetRefGeneration());
  return made;
}

int32_t TPDFDocument::FindImagesByObjects(int32_t) {
  int32_t made = 0;
  for (int32_t i = 0; i < GetObjectCount() && static_cast<size_t>(made) < kMaxImageEntries; ++i) {
    TPDFIndObj* record = GetIndObj(i);
    if (!record) continue;
    TPDFStream* s = nullptr;
    try {
      s = PDFAsStream(record->GetObject());
    } catch (const std::exception&) {
      continue;
    }
    if (!s || !s->GetDictionary()) continue;
    const std::string type = s->GetDictionary()->GetNameValue("Type");
    if ((type.empty() || type == "XObject") && s->GetDictionary()->GetNameValue("Subtype") == "Image")
      made += addImageEntry(s, record->Number, record->Generation);
  }
  return made;
}
