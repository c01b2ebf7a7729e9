// The document's interactive form: loaded on first use, with the callbacks
// that let it add objects and standard fonts to the document.
#include <algorithm>

#include "document/PavonaDocument.h"

namespace {

const char* const kStandardFontNames[14] = {
    "Courier",     "Courier-Bold",   "Courier-BoldOblique",   "Courier-Oblique",
    "Helvetica",   "Helvetica-Bold", "Helvetica-BoldOblique", "Helvetica-Oblique",
    "Times-Roman", "Times-Bold",     "Times-Italic",          "Times-BoldItalic",
    "Symbol",      "ZapfDingbats"};

}  // namespace

std::vector<TPDFIndRef*> TPDFDocument::pageWidgets() {
  std::vector<TPDFIndRef*> widgets;
  TPDFPageTree* tree = GetPageTree();
  const int32_t count = tree ? tree->GetPageCount() : 0;
  for (int32_t n = 1; n <= count && widgets.size() < size_t(kMaxFormFields); ++n) {
    TPDFDictionary* page = tree->FindPage(n);
    TPDFArray* annots = page ? PDFAsArray(page->GetValue("Annots", true)) : nullptr;
    if (!annots) continue;
    for (TPDFObject* item : annots->Items()) {
      TPDFIndRef* ref = PDFAsIndRef(item);
      TPDFDictionary* annot = ref ? PDFAsDictionary(ref->Resolve()) : nullptr;
      if (annot && annot->GetNameValue("Subtype") == "Widget") widgets.push_back(ref);
    }
  }
  return widgets;
}

bool TPDFDocument::LoadForm() {
  if (formLoaded_) return form_ != nullptr;
  formLoaded_ = true;
  form_.reset();
  TPDFDictionary* root = GetRoot();
  TPDFDictionary* acroForm = root ? PDFAsDictionary(PDFResolve(root->GetValue("AcroForm"))) : nullptr;
  if (!acroForm) return false;
  auto form = std::make_unique<TPDFForm>();
  form->Load(acroForm);
  // A damaged field list still leaves the widgets on the pages: the fields
  // are found again through them.
  if (form->FieldsDamaged()) form->AddFieldsOfWidgets(pageWidgets());
  form->OnAddObject = [this](void*, TPDFObject* obj, int32_t& number, int32_t& generation) {
    RegisterIndirect(pool_.get(), obj, number, generation);
  };
  form->OnStandardFont = [this](int32_t index) { return AddFormFont(index); };
  form_ = std::move(form);
  return true;
}

void TPDFDocument::ReloadForm() {
  formLoaded_ = false;
  LoadForm();
}

void TPDFDocument::CreateAcroForm() {
  TPDFDictionary* root = GetRoot();
  if (root && !PDFAsDictionary(PDFResolve(root->GetValue("AcroForm")))) {
    TPDFDictionary* acroForm = pool_->NewDictionary();
    acroForm->SetValue("Fields", pool_->NewArray());
    root->SetValue("AcroForm", AddIndirectRef(acroForm));
  }
  formLoaded_ = false;
}

TPDFForm* TPDFDocument::GetForm() {
  LoadForm();
  return form_.get();
}

TPDFIndRef* TPDFDocument::AddFormFont(int32_t index) {
  if (index < 0 || index > 13) index = 4;
  auto font = std::make_unique<TPDFFont>(pool_.get(), kFormFontNames[index]);
  font->CreateStandardFont(kStandardFontNames[index], index + 1);
  TPDFFont* added = AddFont(std::move(font));
  if (!added) return nullptr;
  if (TPDFForm* form = GetForm()) form->AddFont(added);
  return added->GetReference();
}
