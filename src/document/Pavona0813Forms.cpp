// The facade's form-field operations on the selected document.
#include <cmath>

#include "document/Pavona0813.h"
#include "document/PavonaDocument.h"
#include "pages/PavonaForm.h"

namespace {

// The form of a document, made (with a default font in /DR) when it has none.
TPDFForm* ensureForm(TPDFDocument* document) {
  TPDFForm* form = document->GetForm();
  if (form) return form;
  document->CreateAcroForm();
  form = document->GetForm();
  if (!form) return nullptr;
  // The default font: the document's first font, else Helvetica.
  if (form->GetFontCount() == 0) {
    if (TPDFFont* first = document->GetFont(0)) {
      form->AddFont(first);
    } else {
      document->AddFormFont(4);
    }
  }
  return form;
}

}  // namespace

TPavona::TFormFieldLookup TPavona::GetFormField(int32_t number) {
  TFormFieldLookup result;
  TPDFForm* form = selected_ ? selected_->GetForm() : nullptr;
  if (!form) return result;
  if (number >= pvlFieldKidBase && number < pvlFieldKidBase + 0x01000000) {
    const int32_t f = (number - pvlFieldKidBase) / 256;
    const int32_t k = (number - pvlFieldKidBase) % 256;
    TPDFField* field = form->GetField(f - 1);
    if (!field || k < 1) return result;
    // Kid k is the widget that the field's k-th option (a state) names.
    const int32_t kidIndex = field->GetOption(k - 1);
    if (kidIndex < 0) return result;
    result.Kid = field->GetKid(kidIndex + 1);
    result.Field = result.Kid.get();
    return result;
  }
  result.Field = form->GetField(number - 1);
  return result;
}

int32_t TPavona::FormFieldCount() {
  TPDFForm* form = selected_ ? selected_->GetForm() : nullptr;
  return form ? form->GetFieldCount() : 0;
}

int32_t TPavona::FindFormField(std::u16string_view fullName) {
  TPDFForm* form = selected_ ? selected_->GetForm() : nullptr;
  return form ? form->FindFieldByName(fullName) + 1 : 0;
}

int32_t TPavona::NewFormField(std::u16string_view title, int32_t kind) {
  error_.Clear();
  if (kind < 1 || kind > 7) return failWith(pvlErrBadArgument);
  try {
    TPDFForm* form = ensureForm(selected_);
    if (!form) return failWith(pvlErrBadArgument);
    TPDFDictionary* dict = selected_->NewIndirectDictionary();
    TPDFStructure& pool = selected_->GetPool();
    TPDFIndRef* ref = pool.NewIndRef(dict->GetObjectNumber(), dict->GetGeneration());
    TPDFField* field = form->NewField(title, static_cast<uint8_t>(kind), ref);
    if (!field) return 0;
    if (kind != pdffkRadioGroup && kind != pdffkParent) {
      TPDFPageTree* tree = selected_->GetPageTree();
      TPDFDictionary* page = tree ? tree->GetSelectedPage() : nullptr;
      TPDFIndRef* pageRef = tree ? tree->GetSelectedPageRef() : nullptr;
      if (page) {
        TPDFArray* annots = PDFAsArray(PDFResolve(page->GetValue("Annots")));
        if (!annots) {
          annots = pool.NewArray();
          page->SetValue("Annots", annots);
        }
        if (annots->IndexOfRef(ref) < 0) annots->Add(pool.NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
        if (tree->GetAnnots()) tree->GetAnnots()->SetPage(annots);
        if (pageRef) field->SetPage(tree->GetSelectedPageNumber(), pageRef);
      }
    }
    field->SetFontSize(10);
    for (int32_t i = 0; i < form->GetFieldCount(); ++i) {
      if (form->GetField(i) == field) return i + 1;
    }
  } catch (const std::exception& e) {
    // The form's own data failed (a damaged AcroForm), not the arguments.
    RecordFailure(error_, e, pvlErrUnreadable);
  }
  return 0;
}

int32_t TPavona::SetFormFieldValue(int32_t index, std::u16string_view value) {
  error_.Clear();
  TPDFForm* form = selected_ ? selected_->GetForm() : nullptr;
  TPDFField* field = form ? form->GetField(index - 1) : nullptr;
  if (!field) return failWith(pvlErrBadArgument);
  try {
    if (field->SetValue(value)) return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
  }
  return failWith(pvlErrBadArgument);
}

int32_t TPavona::SetFormFieldBounds(int32_t number, double left, double top, double width, double height) {
  error_.Clear();
  TFormFieldLookup found = GetFormField(number);
  if (!found || !std::isfinite(left) || !std::isfinite(top) || !(width >= 0) || !(height >= 0) ||
      !std::isfinite(width) || !std::isfinite(height)) {
    return failWith(pvlErrBadArgument);
  }
  try {
    found.Field->SetBounds(ToPageX(left), ToPageY(top), ToPageLength(width), ToPageLength(height));
    return 1;
  } catch (const std::exception& e) {
    return failWith(e, pvlErrUnreadable);
  }
}

int32_t TPavona::SetFormFieldOption(int32_t number, int32_t option) {
  error_.Clear();
  TFormFieldLookup found = GetFormField(number);
  if (!found || option < 0 || option > 3) return failWith(pvlErrBadArgument);
  found.Field->SetAlignment(option);
  return 1;
}

int32_t TPavona::SetFormFieldFont(int32_t number, int32_t fontIndex) {
  error_.Clear();
  TFormFieldLookup found = GetFormField(number);
  if (!found || fontIndex < 1 || fontIndex > FormFontCount()) return failWith(pvlErrBadArgument);
  found.Field->SetFont(fontIndex);
  return 1;
}

int32_t TPavona::FormFontCount() {
  TPDFForm* form = selected_ ? selected_->GetForm() : nullptr;
  return form ? form->GetFontCount() : 0;
}

int32_t TPavona::AddFormFont(int32_t fontHandle) {
  error_.Clear();
  TPDFFont* font = GetFontByHandle(fontHandle);
  if (!font || !selected_->HasFont(font)) return failWith(pvlErrBadArgument);
  if (!selected_->GetForm()) selected_->CreateAcroForm();
  TPDFForm* form = selected_->GetForm();
  return form ? form->AddFont(font) : 0;
}

int32_t TPavona::SetNeedAppearances(int32_t flag) {
  error_.Clear();
  try {
    if (TPDFForm* form = ensureForm(selected_)) form->SetNeedAppearances(flag != 0);
  } catch (const std::exception& e) {
    // The answer stays 1 even when no form could be made; the cause is kept.
    RecordFailure(error_, e, pvlErrUnreadable);
  }
  return 1;
}
