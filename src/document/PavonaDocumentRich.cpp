// Document services of HTML-subset text and metafile images: the preset
// HTML fonts and page resources.
#include "document/PavonaDocument.h"
#include "pages/PavonaFont.h"

void TPDFDocument::AddPageResource(std::string_view group, std::string_view name, TPDFIndRef* ref) {
  TPDFPageTree* tree = GetPageTree();
  if (!tree || !tree->GetSelectedPage() || !ref) return;
  TPDFDictionary* resources = tree->GetPageResources();
  if (!resources) return;
  TPDFStructure* pool = resources->GetOwner();
  TPDFDictionary* entries = PDFAsDictionary(resources->GetValue(group, true));
  if (!entries) {
    entries = pool->NewDictionary();
    resources->SetValue(group, entries);
  }
  entries->SetValue(name, pool->NewIndRef(ref->GetRefNumber(), ref->GetRefGeneration()));
}

void TPDFDocument::PrepareHTMLFonts(TPDFFont* fonts[4]) {
  // Standard-font numbers of Helvetica, -Bold, -Oblique and -BoldOblique.
  static const std::pair<const char*, int32_t> kFaces[4] = {
      {"Helvetica", 5}, {"Helvetica-Bold", 6}, {"Helvetica-Oblique", 8}, {"Helvetica-BoldOblique", 7}};
  for (int i = 0; i < 4; ++i) {
    fonts[i] = nullptr;
    for (int32_t k = 0; k < GetFontCount(); ++k) {
      TPDFFont* f = GetFont(k);
      if (f && f->GetKind() == pdffkStandard && f->GetBaseName() == kFaces[i].first) fonts[i] = f;
    }
    if (!fonts[i]) {
      auto font = std::make_unique<TPDFFont>(&GetPool(), std::string("PavonaH") + char('1' + i));
      font->CreateStandardFont(kFaces[i].first, kFaces[i].second);
      fonts[i] = AddFont(std::move(font));
    }
    AddPageResource("Font", fonts[i]->GetResourceName(), fonts[i]->GetReference());
  }
}
